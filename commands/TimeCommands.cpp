#include "TimeCommands.h"

#include "SingleExchange.h"
#include "StatusReport.h"
#include "core/TextFile.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "core/ClockError.h"
#include "link/Exchange.h"
#include "link/Framing.h"

#include <ctime>
#include <span>
#include <vector>

namespace {
// Station, command, four digits and one terminator around the status data.
constexpr int kReplyFraming = 7;
}  // namespace

uint8_t TimeCommands::ToBcd(int value)
{
    return static_cast<uint8_t>((((value / 10) % 10) << 4) | (value % 10));
}

ClockError TimeCommands::SetTime()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    const auto station = static_cast<uint8_t>(ps.StationByte);

    // The time frame waits out a busy clock before counting the retry; the date frame
    // counts first.
    RetryPolicy policy = RetryPolicy::For(texts);
    policy.onReply = [](ClockError reply) {
        return reply == ceBusy ? ReplyAction::WaitThenCount : WaitOutBusy(reply);
    };
    std::tm now{};
    ClockError result = ExchangeWithRetries(ctx_, policy, [&](ClockError) {
        // Read again on every attempt: a retried frame carries the time of the retry.
        now = ctx_.time.Now();
        const uint8_t time[3] = {ToBcd(now.tm_hour), ToBcd(now.tm_min), ToBcd(now.tm_sec)};
        return BuildRequest(ctx_.exchange.Request(), station, frame::cmdSetTime, time);
    });

    if (result == ceOK) {
        // The date comes from the same reading as the time just accepted, so a time set
        // just before midnight is not paired with the next day's date.
        const uint8_t date[4] = {ToBcd(now.tm_wday + 1), ToBcd(now.tm_mday), ToBcd(now.tm_mon + 1),
                                 ToBcd(now.tm_year % 100)};
        policy.onReply = WaitOutBusy;
        result = ExchangeWithRetries(ctx_, policy, [&](ClockError) {
            return BuildRequest(ctx_.exchange.Request(), station, frame::cmdSetDate, date);
        });
    }
    return ReportResult(ctx_, texts, result);
}

ClockError TimeCommands::RequestStatus(int replyWait, int attempts)
{
    PollState& ps = ctx_.ps;
    // The sending line is shown once, a busy notice is added as a line of its own, and a
    // busy reply is busy whichever station sent it.
    RetryPolicy policy = RetryPolicy::For(*ctx_.texts);
    policy.attempts = attempts;
    policy.check = {.dataReply = frame::cmdGetStatus, .stationFirst = false, .ticks = replyWait};
    ctx_.status.ReplaceLastStatusLine(policy.sendingLine);
    policy.sendingLine = nullptr;
    policy.busyNotice = policy.busyLine;
    policy.busyLine = nullptr;
    return ExchangeWithRetries(ctx_, policy, [&](ClockError) {
        return BuildRequest(ctx_.exchange.Request(), static_cast<uint8_t>(ps.StationByte),
                            frame::cmdGetStatus);
    });
}

ClockError TimeCommands::GetStatus()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    ClockError result = RequestStatus(3, 3);

    if (result == ceOK) {
        const std::span<const uint8_t> reply = ctx_.exchange.Reply();
        const int held = static_cast<int>(reply.size()) - kReplyFraming;
        if (held <= 0) {
            result = ceWrongCommand;
        } else {
            // Taken before the acknowledge, whose own reply would land in the same buffer.
            const std::vector<uint8_t> data(reply.begin() + 2, reply.begin() + 2 + held);
            ctx_.exchange.Acknowledge(static_cast<uint8_t>(ps.StationByte));
            TextFile file;
            if (!file.Open(ps.InputFileName, "a")) {
                result = ceCantOpenFile;
            } else {
                // A report that did not reach the disk must not be reported as read, and is
                // taken back whole: the next report appended would begin inside a cut line.
                if (!file.AppendWhole(FormatStatusReport(ps.StationDigitsText(), data), false))
                    result = ceDiskWrite;
                if (!file.Close())
                    result = ceDiskWrite;
            }
        }
    }

    return ReportResult(ctx_, texts, result);
}

ClockError TimeCommands::ResetErrors()
{
    return RunSingleExchange(ctx_, frame::cmdResetErrors, {}, *ctx_.texts, true);
}

ClockError TimeCommands::SystemReset()
{
    PollState& ps = ctx_.ps;
    static const uint8_t payload[2] = {0x00, 0x00};
    ps.RetryCount = 0;
    const int length = BuildRequest(ctx_.exchange.Request(), static_cast<uint8_t>(ps.StationByte),
                                    frame::cmdSystemReset, payload);
    return ReportResult(ctx_, *ctx_.texts, ctx_.exchange.SendRequest(length));
}
