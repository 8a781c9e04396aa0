#include "Interpreter.h"

#include "CommandTable.h"
#include "core/PollState.h"

void Interpreter::RunCommand(char commandCode)
{
    const CommandEntry* entry = FindCommand(commandCode);
    if (entry == nullptr || running_)
        return;
    running_ = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{running_};

    // The command works with the run's context and its own row's texts.
    CommandContext run = ctx_;
    run.texts = &entry->texts;
    ctx_.ps.PollStatus = entry->run(run);
}
