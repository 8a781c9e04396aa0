#include "FingerLog.h"

#include "core/TextFile.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/ClockError.h"

#include <cstdio>

namespace finger {

std::string LogStamp(const std::tm& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d ", t.tm_mday % 100, (t.tm_mon + 1) % 100,
                  t.tm_year % 100, t.tm_hour % 100, t.tm_min % 100, t.tm_sec % 100);
    return text;
}

bool OpenBackupFile(TextFile& file, const std::string& name, const char* mode)
{
    return file.OpenRegular(name, mode);
}

PutResult Put(TextFile& file, std::string_view text)
{
    return file.Write(text) && file.Flush() ? PutResult::Written : PutResult::Failed;
}

void AccessErrorBox(IOperator& op, const std::string& text)
{
    op.Information(text, "Quorvex");
}

void ChooseFingerLogFile(PollState& ps, IOperator& op,
                         const std::function<void(const std::string&)>& remember)
{
    std::string name = ps.FingerLogFile;
    if (!op.OpenFile(FileKind::Log, name))
        return;
    ps.FingerLogFile = name;
    remember(name);
}

void EraseFingerLogFile(PollState& ps, IOperator& op)
{
    static const char* kQuestion =
        "                    Are you sure?\n This function will erase all Log file entries!!\n"
        "                       Continue?";
    if (!op.YesNo(kQuestion, "File Erase Warning!!")) {
        op.Information("Log File contents Not Erased!!", "Message");
        return;
    }
    TextFile log;
    if (!log.Open(ps.FingerLogFile, "w") || !log.Close()) {
        // A log that could not be emptied is not reported as erased.
        op.Information(ClockErrorText(ceCantOpenLogFile), "Message");
        return;
    }
    op.Information("Log File contents Erased OK.", "Message");
}

}  // namespace finger
