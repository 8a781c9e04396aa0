#include "TemplateBackup.h"

#include "FingerExchange.h"
#include "FingerLog.h"
#include "commands/CommandContext.h"
#include "commands/ResultFile.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/Exchange.h"
#include "link/Framing.h"
#include "link/Transport.h"

#include <algorithm>
#include <cstdio>

namespace finger {

namespace {

constexpr int kRetriesBeforeGivingUp = 7;
constexpr int kRetryWaitSeconds = 2;
constexpr int kRecoveryWaitSeconds = 7;
constexpr uint8_t kBadTemplate = 0x08;
const std::string kDownloading = "Finger_backup       - Downloading ";

std::string TwoDigits(int code)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", code % 100);
    return text;
}

}  // namespace

ClockError TemplateBackup::Run()
{
    PollState& ps = ctx_.ps;
    // The clock does not say how many templates it holds: the count so far is all there is.
    const ProgressScope progress(ctx_.progress, "Fingerprint templates fetched from the clock", "templates",
                                 0);
    Step step = Start();
    for (;;) {
        switch (step) {
            case Step::NewSlot:
                if (slot_ >= kSlots) {
                    step = Step::End;
                    break;
                }
                ps.RetryCount = 0;
                ctx_.status.SetPanel(Panel::Retry, "Retry 0");
                step = Step::Query;
                break;
            case Step::Query:
                step = QuerySlot();
                break;
            case Step::NextTemplate:
                step = FetchTemplate();
                break;
            case Step::Retry:
                step = RetryPath();
                break;
            case Step::End:
                if (RecoverLink()) {
                    step = Step::Retry;
                    break;
                }
                Finish();
                return result_;
        }
    }
}

TemplateBackup::Step TemplateBackup::Start()
{
    PollState& ps = ctx_.ps;
    const std::string backupName = ps.InputFileName;
    if (!OpenBackupFile(backup_, backupName, "a+") || !LoadIndex(backupName)) {
        result_ = ceCantOpenFile;
        return Step::End;
    }
    if (!log_.Open(ps.FingerLogFile, "a+")) {
        result_ = ceCantOpenLogFile;
        return Step::End;
    }
    ctx_.status.AddStatusLine("Log File Opened - " + ps.FingerLogFile);
    ctx_.status.AddStatusLine("");
    if (Put(log_, "\n***Start Backup Log Session - " + LogStamp(ctx_.time.Now()) + "\n") !=
        PutResult::Written)
        Box(" Log File Access Error 1");
    return Step::NewSlot;
}

bool TemplateBackup::LoadIndex(const std::string& name)
{
    // The file is read once; what this run appends is fed in as it is written.
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr)
        return false;
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) index_.Feed(std::string_view(chunk, n));
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool TemplateBackup::Send(int length)
{
    if (ctx_.exchange.SendRequest(length) == ceOK)
        return true;
    result_ = cePortTransmitter;
    return false;
}

void TemplateBackup::Box(const char* text)
{
    AccessErrorBox(ctx_.op, text);
}

TemplateBackup::Step TemplateBackup::QuerySlot()
{
    result_ = ceOK;
    templates_ = 0;
    number_ = 0;
    // Each nibble of the 16-bit slot number travels in its own byte, left in place.
    const auto hi = static_cast<uint8_t>((slot_ >> 8) & 0xFF);
    const auto lo = static_cast<uint8_t>(slot_ & 0xFF);
    if (!Send(BuildFingerRequest(
            ctx_, {scQuerySlot, static_cast<uint8_t>(hi & 0xF0), static_cast<uint8_t>(hi & 0x0F),
                   static_cast<uint8_t>(lo & 0xF0), static_cast<uint8_t>(lo & 0x0F)})))
        return Step::End;
    result_ = ctx_.exchange.AwaitReply();
    if (result_ != ceOK)
        return Step::Retry;

    const auto p = ReplyPayload(ctx_.exchange);
    if (p.size() < 5 || (p[0] << 8) + (p[1] << 8) + p[2] + p[3] != (slot_ & 0xFFFF)) {
        result_ = ceFingerEmpty;
        return Step::Retry;
    }
    templates_ = p[4];
    if (templates_ == 0)
        return Step::End;
    std::string number;
    for (std::size_t k = 5; k < p.size() && p[k] != '\r'; ++k) {
        // A line end or end-of-file mark would break the file's employee/template pairs.
        if (p[k] < 0x20) {
            result_ = ceFingerEmpty;
            return Step::Retry;
        }
        number.push_back(static_cast<char>(p[k]));
    }
    tag_ = "#:" + number;
    logLine_ = "Adding Employee " + number + " ";
    errors_ = 0;
    ctx_.status.ReplaceLastStatusLine(kDownloading + tag_ + " - " + std::to_string(slot_));
    ctx_.progress.Step(fetched_, "employee " + number);

    shown_[tag_] = std::max(shown_[tag_], templates_);

    if (!existing_ && index_.AnyEmployeeLine()) {
        existing_ = true;
        if (!Log("Backup File Already Exists!\nChecking Entries...\n"))
            return Step::End;
    }
    // The next template fetched is the first the file holds no good copy of.
    return Step::NextTemplate;
}

TemplateBackup::Step TemplateBackup::FetchTemplate()
{
    PollState& ps = ctx_.ps;
    result_ = ceOK;
    existing_ = true;
    do ++number_;
    while (number_ <= templates_ && Held(number_));
    if (number_ > templates_) {
        ++slot_;
        return Step::NewSlot;
    }
    if (!Send(BuildFingerRequest(ctx_, {scSelectTemplate, static_cast<uint8_t>(number_)})))
        return Step::End;
    result_ = ctx_.exchange.AwaitReply();
    const auto p = ReplyPayload(ctx_.exchange);
    if (result_ == ceOK && !p.empty() && p[0] == kBadTemplate) {
        result_ = ceFingerTemplate;
        return Step::Retry;
    }
    if (result_ == ceClockReceivedDataError && ++ps.RetryCount > 3) {
        // A clock that keeps refusing the select ends the run; the template it refused
        // was not fetched, so the run is no success.
        result_ = ceFingerBlank;
        return Step::End;
    }
    if (result_ != ceOK)
        return Step::Retry;
    ctx_.status.ReplaceLastStatusLine(kDownloading + tag_ + " - " + std::to_string(number_));

    std::string line = "T" + NumberText(number_) + ":";
    const Step next = ReadTemplate(line);
    if (next != Step::NextTemplate)
        return next;
    ps.RetryCount = 0;
    ctx_.status.SetPanel(Panel::Retry, "Retry 0");
    ctx_.progress.Step(++fetched_, "employee " + tag_.substr(2));
    return Store(line);
}

TemplateBackup::Step TemplateBackup::ReadTemplate(std::string& line)
{
    // Compared on their low 16 bits; unsigned, so any bytes a clock sends wrap harmlessly.
    uint32_t sum = 0;
    uint32_t check = 0;
    for (int blocks = 0;; ++blocks) {
        if (blocks == kMaxBlocks || line.size() > kMaxTemplateLine) {
            result_ = ceChecksum;
            return Step::Retry;
        }
        if (!Send(BuildFingerRequest(ctx_, {scReadBlock})))
            return Step::End;
        result_ = ctx_.exchange.AwaitReply();
        if (result_ != ceOK)
            return Step::Retry;
        const std::span<const uint8_t> reply = ctx_.exchange.Reply();
        if (reply[1] != frame::rpAccepted) {
            result_ = ceWrongCommand;
            return Step::Retry;
        }
        const auto p = ReplyPayload(ctx_.exchange);
        if (p.empty())
            continue;
        const uint8_t sub = p[0];
        // Offsets counted from the reply's first byte: the text begins at 3, and the last
        // block ends with four checksum digits and CR LF, so its digits begin at D-6.
        const int d = static_cast<int>(p.size()) + 2;
        for (int k = 3; k < d; ++k) {
            const uint8_t ch = reply[static_cast<std::size_t>(k)];
            line.push_back(static_cast<char>(ch));
            if (ch == '\r' || ch == '\n')
                continue;
            const auto v = static_cast<uint32_t>(DigitValue(ch));
            if (sub == scLastBlock && k >= d - 6)
                check = check * 16 + v;
            else
                sum += k % 2 == 1 ? v * 16 : v;
        }
        if (sub == scLastBlock)
            break;
    }
    if ((sum & 0xFFFF) != (check & 0xFFFF)) {
        result_ = ceChecksum;
        return Step::Retry;
    }
    return Step::NextTemplate;
}

TemplateBackup::Step TemplateBackup::Store(const std::string& templateLine)
{
    const std::string pair = tag_ + "\n" + templateLine + "\n";
    // A cut pair would be counted as stored by the next run, which would then never fetch
    // that template again: none of it is left in the file.
    if (!backup_.AppendWhole(pair, false)) {
        result_ = ceDiskWrite;
        return Step::End;
    }
    index_.Feed(pair);
    // The summary follows the last template the slot still had to fetch.
    for (int n = number_ + 1; n <= templates_; ++n)
        if (!Held(n))
            return Step::NextTemplate;
    logLine_ += ",Templates = " + NumberText(templates_) + ", Errors = " + NumberText(errors_);
    if (!Log(logLine_ + "\n"))
        return Step::End;
    ++slot_;
    return Step::NewSlot;
}

// Not ExchangeWithRetries: a failed step resumes at the slot's query after a wait, not at its own frame.
TemplateBackup::Step TemplateBackup::RetryPath()
{
    PollState& ps = ctx_.ps;
    if (ps.RetryCount < kRetriesBeforeGivingUp) {
        ++ps.RetryCount;
        ctx_.status.SetPanel(Panel::Retry, "Retry " + std::to_string(ps.RetryCount));
        ctx_.exchange.WaitSeconds(kRetryWaitSeconds);
        // The query counts the file again, so the slot resumes at its first missing template.
        return Step::Query;
    }
    // A slot whose query keeps failing has no employee to write a failed line for.
    if (result_ == ceNoData || number_ == 0)
        return Step::End;
    ++errors_;
    givenUp_.emplace(tag_, number_);
    if (failedLine_ == ceOK)
        failedLine_ = result_;
    return Store("T" + NumberText(number_) + ":**Template Error " + TwoDigits(ClockErrorNumber(result_)) + "**");
}

bool TemplateBackup::Held(int n) const
{
    return index_.Holds(tag_, n) || givenUp_.count({tag_, n}) > 0;
}

int TemplateBackup::TemplatesStored() const
{
    int total = 0;
    for (const auto& [tag, templates] : shown_)
        for (int n = 1; n <= templates; ++n) total += index_.Holds(tag, n) ? 1 : 0;
    return total;
}

bool TemplateBackup::Log(const std::string& text)
{
    if (Put(log_, text) == PutResult::Written)
        return true;
    result_ = ceDiskWrite;
    return false;
}

bool TemplateBackup::RecoverLink()
{
    PollState& ps = ctx_.ps;
    if (result_ != cePortTransmitter || ps.RetryCount >= 6 || ctx_.net == nullptr ||
        !ctx_.exchange.Selection().NetworkSelected() || !log_.IsOpen())
        return false;
    ctx_.exchange.WaitSeconds(kRecoveryWaitSeconds);
    if (ctx_.net->Connect() != ceOK) {
        result_ = cePortTransmitter;
        return false;
    }
    // From slot 0 again: every template already stored is skipped by the count.
    slot_ = 0;
    return true;
}

void TemplateBackup::Finish()
{
    const int stored = TemplatesStored();
    if (log_.IsOpen()) {
        if (Put(log_, "Total Number of Templates Stored = " + std::to_string(stored) + "\n") !=
            PutResult::Written)
            Box(" Log File Access Error 4");
        if (Put(log_, "***End Backup Log Session - " + LogStamp(ctx_.time.Now()) + "\n") !=
            PutResult::Written)
            Box(" Log File Access Error 5");
    }
    // A template stored as a failed line is not backed up: the run says so.
    if (result_ == ceOK)
        result_ = failedLine_;
    // Templates that never reached the disk are no success.
    if (!backup_.Close() && (result_ == ceOK || result_ == ceFingerBlank || result_ == failedLine_))
        result_ = ceDiskWrite;
    log_.Close();
    if (stored == 0)
        ctx_.status.AddStatusLine("Finger_backup       - No Templates Backed Up");
    else
        ctx_.status.AddStatusLine(std::string("Finger_backup       - ") + ClockErrorText(result_));
    WriteResultLine(ctx_.ps, result_, 0);
    EndFingerExchange(ctx_, true);
}

}  // namespace finger
