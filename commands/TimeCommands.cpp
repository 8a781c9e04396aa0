#include "TimeCommands.h"

#include "CommandTable.h"
#include "ResultFile.h"
#include "SingleExchange.h"
#include "StatusReport.h"
#include "TextFile.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/ClockError.h"
#include "link/Exchange.h"
#include "link/Framing.h"

#include <ctime>
#include <vector>

namespace {
// Station, command, four digits and one terminator around the status data.
constexpr int kReplyFraming = 7;
}  // namespace

uint8_t TimeCommands::ToBcd(int value)
{
    return static_cast<uint8_t>((((value / 10) % 10) << 4) | (value % 10));
}

void TimeCommands::SetTime()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = TextsOf('A');
    const auto station = static_cast<uint8_t>(ps.StationByte);

    ps.PollStatus = ceBusy;
    ps.RetryCount = 0;
    std::tm now{};
    bool sendFailed = false;
    while (ps.PollStatus != ceOK && ps.RetryCount < kMaxAttempts) {
        ctx_.status.ReplaceLastStatusLine(texts.sendingLine);
        // Read again on every attempt: a retried frame carries the time of the retry.
        now = ctx_.time.Now();
        const uint8_t time[3] = {ToBcd(now.tm_hour), ToBcd(now.tm_min), ToBcd(now.tm_sec)};
        const int length = BuildRequest(ps, station, frame::cmdSetTime, time);
        if (ctx_.exchange.SendFrame(ps.RequestBuffer.data(), length) != ceOK) {
            sendFailed = true;
            break;
        }
        ps.PollStatus = ctx_.exchange.AwaitReply();
        if (ps.PollStatus == ceBusy) {
            ctx_.status.ReplaceLastStatusLine(texts.busyLine);
            ctx_.exchange.WaitSeconds(kBusyWaitSeconds);
        }
        if (ps.PollStatus != ceOK)
            CountRetry(ctx_);
    }

    if (!sendFailed && ps.PollStatus == ceOK) {
        // The date comes from the same reading as the time just accepted, so a time set
        // just before midnight is not paired with the next day's date.
        const uint8_t date[4] = {ToBcd(now.tm_wday + 1), ToBcd(now.tm_mday), ToBcd(now.tm_mon + 1),
                                 ToBcd(now.tm_year % 100)};
        const int length = BuildRequest(ps, station, frame::cmdSetDate, date);
        ps.RetryCount = 0;
        ps.PollStatus = ceBusy;
        while (ps.PollStatus != ceOK && ps.RetryCount < kMaxAttempts) {
            ctx_.status.ReplaceLastStatusLine(texts.sendingLine);
            if (ctx_.exchange.SendFrame(ps.RequestBuffer.data(), length) != ceOK)
                break;
            ps.PollStatus = ctx_.exchange.AwaitReply();
            if (ps.PollStatus != ceOK)
                CountRetry(ctx_);
            if (ps.PollStatus == ceBusy) {
                ctx_.status.ReplaceLastStatusLine(texts.busyLine);
                ctx_.exchange.WaitSeconds(kBusyWaitSeconds);
            }
        }
    }

    const int result = ps.PollStatus;
    ctx_.status.ReplaceLastStatusLine(std::string(texts.resultPrefix) + ClockErrorText(result));
    WriteResultLine(ps, result, 0);
}

void TimeCommands::RequestStatus(int replyWait, int attempts)
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = TextsOf('Y');
    const int length = BuildRequest(ps, static_cast<uint8_t>(ps.StationByte), frame::cmdGetStatus);

    ps.PollStatus = ceBusy;
    ps.RetryCount = 0;
    ctx_.status.ReplaceLastStatusLine(texts.sendingLine);
    while (ps.PollStatus != ceOK && ps.RetryCount < attempts &&
           ctx_.exchange.SendFrame(ps.RequestBuffer.data(), length) == ceOK) {
        ps.ReplyLength = 0;
        int result;
        if (ctx_.exchange.WaitTicks(replyWait) == WaitResult::TimedOut) {
            result = ps.ReplyLength != 0 ? ceTerminator : ceNoData;
        } else {
            // D is where the digits begin. A reply too short to hold station, command and
            // digits, or one whose length was lost before the wait began, is never read.
            const int d = ps.ReplyLength - 5;
            result = ceOK;
            if (d < 2) {
                result = ceCrc;
            } else {
                Crc16Digits(ps, ps.ReceiveBuffer.data(), d);
                for (int i = 0; i < 4 && result == ceOK; ++i)
                    if (ps.CrcDigits[i] != static_cast<char>(ps.ReceiveBuffer[d + i]))
                        result = ceCrc;
            }
            if (result == ceOK) {
                switch (ps.ReceiveBuffer[1]) {
                    case frame::rpBusy:
                        result = ceBusy;
                        break;
                    case frame::cmdGetStatus:
                        result = static_cast<int32_t>(ps.ReceiveBuffer[0]) == ps.StationByte ? ceOK
                                                                                             : ceWrongStation;
                        break;
                    default:
                        result = ceWrongCommand;
                        break;
                }
            }
        }
        ps.PollStatus = result;
        if (result != ceOK)
            CountRetry(ctx_);
        if (result == ceBusy) {
            ctx_.status.AddStatusLine(texts.busyLine);
            ctx_.exchange.WaitSeconds(kBusyWaitSeconds);
        }
    }
}

void TimeCommands::GetStatus()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = TextsOf('Y');
    RequestStatus(3, 3);
    int result = ps.PollStatus;

    if (result == ceOK) {
        const int held = ps.ReplyLength - kReplyFraming;
        if (held <= 0) {
            result = ceWrongCommand;
        } else {
            // Taken before the acknowledge, whose own reply would land in the same buffer.
            const std::vector<uint8_t> data(ps.ReceiveBuffer.begin() + 2,
                                            ps.ReceiveBuffer.begin() + 2 + held);
            ctx_.exchange.Acknowledge(static_cast<uint8_t>(ps.StationByte));
            TextFile file;
            if (!file.Open(ps.InputFileName, "a")) {
                result = ceCantOpenFile;
            } else {
                file.Write(FormatStatusReport(ps.StationDigitsText(), data));
                // A report that did not reach the disk must not be reported as read.
                if (!file.Close())
                    result = ceDiskWrite;
            }
        }
    }

    ps.PollStatus = result;
    ctx_.status.ReplaceLastStatusLine(std::string(texts.resultPrefix) + ClockErrorText(result));
    WriteResultLine(ps, result, 0);
}

void TimeCommands::ResetErrors()
{
    RunSingleExchange(ctx_, frame::cmdResetErrors, {}, TextsOf('X'), true);
}

void TimeCommands::SystemReset()
{
    PollState& ps = ctx_.ps;
    static const uint8_t payload[2] = {0x00, 0x00};
    ps.RetryCount = 0;
    const int length = BuildRequest(ps, static_cast<uint8_t>(ps.StationByte), frame::cmdSystemReset, payload);
    const int result = ctx_.exchange.SendFrame(ps.RequestBuffer.data(), length);
    ReportResult(ctx_, TextsOf('Z'), result);
}
