#include "TemplateRestore.h"

#include "FingerExchange.h"
#include "FingerLog.h"
#include "commands/CommandContext.h"
#include "commands/ResultFile.h"
#include "commands/SingleExchange.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/Exchange.h"

#include <optional>
#include <vector>

namespace finger {

namespace {

enum StoreReply : uint8_t {
    srStored = 0x90,
    srMemoryFull = 0xA8,
    srEmployeeLimit = 0xA1,
};

}  // namespace

ClockError TemplateRestore::Run()
{
    if (Start() && Erase())
        Entries();
    Finish();
    return result_;
}

bool TemplateRestore::Send(int length)
{
    if (ctx_.exchange.SendRequest(length) == ceOK)
        return true;
    result_ = cePortTransmitter;
    return false;
}

void TemplateRestore::Log(const std::string& line, const char* box)
{
    if (Put(log_, line) != PutResult::Written && box != nullptr)
        AccessErrorBox(ctx_.op, box);
}

bool TemplateRestore::Start()
{
    PollState& ps = ctx_.ps;
    TextFile backup;
    if (!OpenBackupFile(backup, ps.InputFileName, "r")) {
        result_ = ceCantOpenFile;
        return false;
    }
    // The erase cannot be undone: the whole file is read and checked first, and a file that
    // cannot restore anything, or that ends inside an entry, is refused untouched.
    BackupEntryReader reader([&backup] { return backup.ReadChar(); });
    list_ = ReadRestoreList(reader);
    if (backup.ReadError())
        result_ = ceCantOpenFile;
    else if (list_.cutOff || list_.tooMany || list_.entries.empty())
        result_ = ceCommandFile;
    else if (list_.sendable == 0)
        result_ = ceChecksum;
    if (result_ != ceOK)
        return false;
    if (!ctx_.op.OkCancel("Are you sure? This function will erase and reprogram all Templates?", "Warning")) {
        result_ = ceUserTerminated;
        return false;
    }
    if (!log_.Open(ps.FingerLogFile, "a+")) {
        result_ = ceCantOpenLogFile;
        return false;
    }
    stored_ = 1;
    ctx_.status.AddStatusLine("Log File Opened - " + ps.FingerLogFile);
    ctx_.status.AddStatusLine("");
    Log("\n***Start Restore Log Session - " + LogStamp(ctx_.time.Now()) + "\n", " Log File Access Error 6");
    return true;
}

bool TemplateRestore::Erase()
{
    talked_ = true;
    ctx_.status.ReplaceLastStatusLine("finger_restore         - Deleteing All Templates");
    RetryPolicy policy;
    policy.attempts = kAttempts;
    policy.onReply = ResendAtOnce;
    const ClockError r = ExchangeWithRetries(
        ctx_, policy, [this](ClockError) { return BuildFingerRequest(ctx_, {scEraseAll}); });
    if (r != ceOK) {
        result_ = r == cePortTransmitter ? cePortTransmitter : ceDeleteTemplates;
        return false;
    }
    Log("All Templates Erased.\n", " Log File Access Error 7");
    stored_ = 1;
    return true;
}

void TemplateRestore::Entries()
{
    const auto entries = static_cast<int64_t>(list_.entries.size());
    const ProgressScope progress(ctx_.progress, "Template entries sent to the clock", "entries", entries);
    int ordinal = 0;
    for (const BackupEntry& entry : list_.entries) {
        ctx_.progress.Step(ordinal, "employee " + entry.employee);
        ++ordinal;
        const std::string logLine =
            "Restoring Employee " + entry.employee + " Template " + entry.templateNumber;
        ctx_.status.AddStatusLine("finger_restore          - Uploading " + entry.employee + " - " +
                                  std::to_string(ordinal));
        // A text that is not a whole, valid template is refused before any of it is sent.
        if (!entry.Sendable())
            RefuseEntry(ordinal, logLine);
        else if (!Upload(entry, ordinal, logLine))
            return;
    }
    ctx_.progress.Step(ordinal, "");
}

void TemplateRestore::RefuseEntry(int ordinal, const std::string& logLine)
{
    result_ = ceChecksum;
    ctx_.status.ReplaceLastStatusLine("finger_restore          - Template number " + std::to_string(ordinal) +
                                      " error - " + std::to_string(ClockErrorNumber(ceChecksum)));
    ctx_.status.AddStatusLine("");
    WriteResultLine(ctx_.ps, ceChecksum, ordinal);
    Log(logLine + "  - Template Checksum Error.\n", " Log File Access Error 9");
}

// Not ExchangeWithRetries: an attempt is the employee, blocks and store chain; a store reply can end the run.
bool TemplateRestore::Upload(const BackupEntry& entry, int ordinal, const std::string& logLine)
{
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const std::optional<Sent> sent = SendTemplate(entry);
        if (!sent)
            return false;
        ClockError r = sent->reply;
        if (r == ceOK) {
            if (const std::optional<bool> goOn = TakeStoreReply(entry, ordinal, logLine))
                return *goOn;
            r = ceFingerModule;
        }
        result_ = r;
        if (attempt < kAttempts)
            ctx_.status.SetPanel(Panel::Retry, "Retry " + std::to_string(attempt));
        else
            ReportFailedUpload(entry, ordinal, logLine, r, sent->step);
    }
    return true;
}

std::optional<ClockError> TemplateRestore::Request(std::span<const uint8_t> payload)
{
    if (!Send(BuildFingerRequest(ctx_, payload)))
        return std::nullopt;
    return ctx_.exchange.AwaitReply();
}

std::optional<TemplateRestore::Sent> TemplateRestore::SendTemplate(const BackupEntry& entry)
{
    std::vector<uint8_t> employee{scEmployee};
    employee.insert(employee.end(), entry.employee.begin(), entry.employee.end());
    const std::optional<ClockError> named = Request(employee);
    if (!named)
        return std::nullopt;
    if (*named != ceOK)
        return Sent{*named, Step::Employee};

    // The text goes in blocks that end at a line end or after kBlockCharacters; the last
    // block is marked as such.
    const std::string& text = entry.text;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), pos + kBlockCharacters);
        const std::size_t take = std::min(end, text.size()) - pos;
        std::vector<uint8_t> block{pos + take == text.size() ? scFinalBlock : scBlock};
        block.insert(block.end(), text.begin() + static_cast<std::ptrdiff_t>(pos),
                     text.begin() + static_cast<std::ptrdiff_t>(pos + take));
        const std::optional<ClockError> taken = Request(block);
        if (!taken)
            return std::nullopt;
        if (*taken != ceOK)
            return Sent{*taken, Step::Blocks};
        pos += take;
    }

    const uint8_t store[] = {scStore};
    const std::optional<ClockError> stored = Request(store);
    if (!stored)
        return std::nullopt;
    return Sent{*stored, Step::Store};
}

std::optional<bool> TemplateRestore::TakeStoreReply(const BackupEntry& entry, int ordinal,
                                                    const std::string& logLine)
{
    const auto p = ReplyPayload(ctx_.exchange);
    const int reply = p.empty() ? -1 : p[0];
    if (reply == srStored) {
        result_ = ceOK;
        ++stored_;
        if (Put(log_, logLine + " OK.\n") == PutResult::Written)
            return true;
        result_ = ceDiskWrite;
        return false;
    }
    if (reply == srMemoryFull) {
        result_ = ceFingerMemoryFull;
        Log("Finger Memory Full\n", nullptr);
        return false;
    }
    if (reply == srEmployeeLimit) {
        ctx_.status.AddStatusLine("finger_restore Error     - Finger Limit Reached " + entry.employee);
        WriteResultLine(ctx_.ps, ceFingerLimit, ordinal);
        result_ = ceOK;
        Log(logLine + "  - Finger Limit Reached.\n", nullptr);
        return true;
    }
    return std::nullopt;
}

void TemplateRestore::ReportFailedUpload(const BackupEntry& entry, int ordinal, const std::string& logLine,
                                         ClockError r, Step step)
{
    const std::string k = std::to_string(ordinal);
    if (r == ceFingerModule) {
        ctx_.status.ReplaceLastStatusLine("finger_restore Error     - Finger Module Error " + entry.employee +
                                          " - " + k);
        WriteResultLine(ctx_.ps, ceFingerModule, ordinal);
        Log(logLine + "  - Finger Module Error.\n", nullptr);
        return;
    }
    switch (step) {
        case Step::Employee:
            ctx_.status.ReplaceLastStatusLine("finger_restore_Employee - Error");
            break;
        case Step::Blocks:
            ctx_.status.ReplaceLastStatusLine("finger_restore_Verify   - Error");
            break;
        case Step::Store:
            ctx_.status.ReplaceLastStatusLine("Finger Restore Communication Error - Template Number: " + k);
            break;
    }
    WriteResultLine(ctx_.ps, r, ordinal);
}

void TemplateRestore::Finish()
{
    ctx_.status.AddStatusLine(std::string("finger_restore    - ") + ClockErrorText(result_));
    WriteResultLine(ctx_.ps, result_, 0);
    if (log_.IsOpen()) {
        Log("Total Number of Templates Restored = " + std::to_string(stored_ - 1) + "\n",
            " Log File Access Error 10");
        Log("***End Restore Log Session - " + LogStamp(ctx_.time.Now()) + "\n", " Log File Access Error 11");
    }
    log_.Close();
    // Nothing was sent when the run ended before the erase: nothing to end either.
    if (talked_)
        EndFingerExchange(ctx_, false);
}

}  // namespace finger
