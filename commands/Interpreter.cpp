#include "Interpreter.h"

#include "CommandTable.h"

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

    entry->run(ctx_);
}
