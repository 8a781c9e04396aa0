// finger_restore: reads and checks a whole template backup file, then erases every template
// of a clock and loads the file's templates into it, one entry at a time; each template's
// outcome goes to the fingerprint log and, for failures, the results file.
#pragma once

#include "BackupFile.h"
#include "commands/TextFile.h"
#include "link/ClockError.h"

#include <string>

struct CommandContext;

namespace finger {

class TemplateRestore {
public:
    static constexpr int kAttempts = 5;
    static constexpr int kBlockCharacters = 72;

    explicit TemplateRestore(CommandContext& ctx) : ctx_(ctx) {}
    // Runs the command; the outcome is left in PollStatus.
    void Run();

private:
    bool Start();
    bool Erase();
    void Entries();
    void RefuseEntry(int ordinal, const std::string& logLine);
    // Sends one template; false when the run must end.
    bool Upload(const BackupEntry& entry, int ordinal, const std::string& logLine);
    void Finish();

    bool Send(int length);
    void Log(const std::string& line, const char* box);

    CommandContext& ctx_;
    TextFile log_;
    RestoreList list_;
    ClockError result_ = ceOK;
    int stored_ = 1;  // templates stored, plus one
    bool talked_ = false;
};

}  // namespace finger
