// finger_restore: reads and checks a whole template backup file, then erases every template
// of a clock and loads the file's templates into it, one entry at a time; each template's
// outcome goes to the fingerprint log and, for failures, the results file.
#pragma once

#include "BackupFile.h"
#include "core/TextFile.h"
#include "core/ClockError.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct CommandContext;

namespace finger {

class TemplateRestore {
public:
    static constexpr int kAttempts = 5;
    static constexpr int kBlockCharacters = 72;

    explicit TemplateRestore(CommandContext& ctx) : ctx_(ctx) {}
    // Runs the command and returns its result.
    ClockError Run();

private:
    bool Start();
    bool Erase();
    void Entries();
    void RefuseEntry(int ordinal, const std::string& logLine);
    // Sends one template, up to kAttempts times; false when the run must end.
    bool Upload(const BackupEntry& entry, int ordinal, const std::string& logLine);

    // Where an attempt to send a template stopped.
    enum class Step { Employee, Blocks, Store };
    struct Sent {
        ClockError reply;  // the first reply that was not ceOK, or the store command's reply
        Step step;         // the step that reply answered
    };
    // Sends one request and waits for its reply; nothing when the frame could not be sent
    // (the run ends).
    std::optional<ClockError> Request(std::span<const uint8_t> payload);
    // One attempt: the employee, the template text in blocks, then the store command,
    // each after the reply to the one before. Nothing when a frame could not be sent.
    std::optional<Sent> SendTemplate(const BackupEntry& entry);
    // What the clock made of a template it took: true or false when the entry is settled
    // (go on with the next entry, or end the run); nothing when it is to be sent again.
    std::optional<bool> TakeStoreReply(const BackupEntry& entry, int ordinal, const std::string& logLine);
    // The status line, results line and log line of an entry whose last attempt failed.
    void ReportFailedUpload(const BackupEntry& entry, int ordinal, const std::string& logLine, ClockError r,
                            Step step);
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
