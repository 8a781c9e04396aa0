#include "Interpreter.h"

#include "CommandTable.h"
#include "SingleExchange.h"
#include "core/PollState.h"
#include "link/ClockError.h"

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

    if (entry->run != nullptr) {
        entry->run(ctx_);
    } else {
        ctx_.ps.RetryCount = 0;
        ReportResult(ctx_, entry->texts, ceWrongCommand);
    }
}
