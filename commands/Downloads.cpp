#include "Downloads.h"

#include "DownloadFormat.h"
#include "ResultFile.h"
#include "core/TextFile.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/Exchange.h"
#include "link/Framing.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

// Four failed attempts in a row end a download: the fourth finds the count at 3.
constexpr int kRetryLimit = 3;
constexpr int kTimesReplyTicks = 8;
constexpr int kListReplyTicks = 4;
constexpr int kTimesErrorWait = 7;
constexpr int kBusyWait = 5;
// Station, reply code, four digits and the terminator around the data bytes D0...
constexpr int kReplyFraming = 7;

constexpr uint8_t kListFromStart = 0x01;
constexpr uint8_t kListGoOn = 0x02;

bool TimedOut(ClockError e)
{
    return e == ceNoData || e == ceTerminator;
}

}  // namespace

void Downloads::Retrying(const std::string& line, bool addLine)
{
    ++ctx_.ps.RetryCount;
    if (addLine)
        ctx_.status.AddStatusLine(line);
    else
        ctx_.status.ReplaceLastStatusLine(line);
    ctx_.status.SetPanel(Panel::Retry, "Retry " + std::to_string(ctx_.ps.RetryCount));
}

// What tells the two downloads apart: their texts (the memo name begins their own lines)
// and waits, and what each asks next and does with a good packet.
struct Downloads::Fetch {
    const CommandTexts& texts;
    ReplyCheck check;
    // get_times adds its retry notice as a line of its own, after a result line for a
    // reply that was lost or garbled; get_message_list replaces the last line with it.
    bool noteFailures;
    // Seconds waited after a wrong station or command (0: asked again at once).
    int errorWait;
    // Builds the next request in the exchange's request buffer and returns its length.
    std::function<int()> request;
    // A failed attempt that is not the last: what to ask next.
    std::function<void(ClockError)> failed;
    // A good packet: nothing to go on, or the download's result.
    std::function<std::optional<ClockError>()> taken;
};

// One loop for both downloads.
// Not ExchangeWithRetries: memo lines follow the send and the reply; a packet taken starts the count again.
ClockError Downloads::Download(const Fetch& fetch)
{
    PollState& ps = ctx_.ps;
    Exchange& exchange = ctx_.exchange;
    const std::string name = fetch.texts.memoName;
    ClockError result = ceOK;
    bool showError = false;
    for (;;) {
        if (result != ceOK) {
            if (showError)
                ctx_.status.AddStatusLine(std::string(fetch.texts.resultPrefix) + ClockErrorText(result));
            Retrying(name + " - Retrying", fetch.noteFailures);
        }
        const int length = fetch.request();
        if (exchange.SendRequest(length) != ceOK)
            return cePortTransmitter;
        ctx_.status.ReplaceLastStatusLine(fetch.texts.sendingLine);
        result = exchange.AwaitReply(fetch.check);
        if (!TimedOut(result))
            ctx_.status.ReplaceLastStatusLine(name + " - Receiving Data");

        if (result == ceOK) {
            if (const std::optional<ClockError> done = fetch.taken())
                return *done;
            continue;
        }
        if (ps.RetryCount >= kRetryLimit)
            return result;
        fetch.failed(result);
        showError = fetch.noteFailures && (TimedOut(result) || result == ceCrc);
        if (result == ceWrongStation) {
            ctx_.status.ReplaceLastStatusLine(name + " - Station Error Please Wait...");
            if (fetch.errorWait > 0)
                exchange.WaitSeconds(fetch.errorWait);
        } else if (result == ceBusy) {
            ctx_.status.ReplaceLastStatusLine(fetch.texts.busyLine);
            exchange.WaitSeconds(kBusyWait);
        } else if (result == ceWrongCommand) {
            ctx_.status.ReplaceLastStatusLine(name + " - Command Error Please Wait...");
            if (fetch.errorWait > 0)
                exchange.WaitSeconds(fetch.errorWait);
        }
    }
}

ClockError Downloads::GetTimes()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    ps.RetryCount = 0;
    ClockError result = ceCantOpenFile;
    TextFile file;
    if (file.Open(ps.InputFileName, "a")) {
        const ProgressScope progress(ctx_.progress, "Records received from the clock", "records", 0);
        result = TakeRecords(file);
        if (!file.Close() && result == ceOK)
            result = ceDiskWrite;
    }
    ctx_.status.AddStatusLine(std::string(texts.resultPrefix) + ClockErrorText(result));
    WriteResultLine(ps, result, 0);
    return result;
}

// The request says what the clock hands out: 0xA2 the packet it has not yet seen taken
// (first request, and after a time-out, a wrong station, a busy clock or a wrong reply),
// 0xA0 the same packet again (after bad digits), 0xAB the next one, which tells the clock
// the packet before is stored. So 0xAB goes out only once that packet is on the disk.
//
// When the request after a stored packet gets no good reply, the clock may or may not
// have seen the 0xAB: if it did, the next good packet is the one after; if the 0xAB was
// lost on its way, the clock hands out the stored packet again. The frames carry no
// sequence number, so a packet byte for byte the same as the one stored last is taken for
// that packet again, acknowledged and not written a second time. Without a failure in
// between, two equal packets are two packets and both are stored.
ClockError Downloads::TakeRecords(TextFile& file)
{
    PollState& ps = ctx_.ps;
    const auto station = static_cast<uint8_t>(ps.StationByte);
    uint8_t request = frame::cmdGetTimes;
    // The data part (D0 on) of the packet stored last, and whether its acknowledgement
    // has failed since.
    std::vector<uint8_t> lastStored;
    bool ackInDoubt = false;
    // Packets and records written so far, for the progress report.
    int64_t packets = 0;
    int64_t records = 0;
    const Fetch fetch{
        .texts = *ctx_.texts,
        .check = {.dataReply = frame::cmdGetTimes, .stationFirst = true, .ticks = kTimesReplyTicks},
        .noteFailures = true,
        .errorWait = kTimesErrorWait,
        .request = [&] { return BuildRequest(ctx_.exchange.Request(), station, request); },
        .failed =
            [&](ClockError result) {
                ackInDoubt = ackInDoubt || !lastStored.empty();
                request = result == ceCrc ? frame::cmdResend : frame::cmdGetTimes;
            },
        .taken = [&]() -> std::optional<ClockError> {
            const std::span<const uint8_t> reply = ctx_.exchange.Reply();
            const int dataBytes = static_cast<int>(reply.size()) - kReplyFraming;
            if (dataBytes <= 1) {
                // The end packet; D0 = 0 says the clock's own check of its records failed.
                const ClockError result = dataBytes == 1 && reply[2] == 0 ? ceChecksum : ceOK;
                ctx_.exchange.Acknowledge(station);
                return result;
            }

            const std::span<const uint8_t> packet = reply.subspan(2, static_cast<size_t>(dataBytes));
            if (ackInDoubt && std::ranges::equal(packet, lastStored)) {
                // The stored packet again: acknowledge it once more. The retry count goes
                // on, so a clock that never takes the acknowledgement still ends the command.
                ackInDoubt = false;
                request = frame::cmdNextBlock;
                return std::nullopt;
            }

            // D0 is not written. A packet that does not reach the disk is taken back whole
            // and never asked past: the clock keeps it and hands it out again at the next poll.
            const std::string lines = FormatRecords(ps.StationDigitsText(), packet.subspan(1));
            if (!file.AppendWhole(lines, options_.syncEachPacket))
                return ceDiskWrite;
            // Each record is one line of the file.
            records += std::ranges::count(lines, '\n');
            ctx_.progress.Step(records, std::to_string(++packets) + " packets");
            lastStored.assign(packet.begin(), packet.end());
            ackInDoubt = false;
            ps.RetryCount = 0;
            request = frame::cmdNextBlock;
            return std::nullopt;
        },
    };
    return Download(fetch);
}

ClockError Downloads::GetMessageList()
{
    PollState& ps = ctx_.ps;
    const CommandTexts& texts = *ctx_.texts;
    ps.RetryCount = 0;
    ClockError result = ceCantOpenFile;
    TextFile file;
    if (file.Open(ps.InputFileName, "w")) {
        const ProgressScope progress(ctx_.progress, "Message list packets received from the clock", "packets",
                                     0);
        result = TakeMessageList(file);
        if (!file.Close() && result == ceOK)
            result = ceDiskWrite;
    }
    ctx_.status.ReplaceLastStatusLine(std::string(texts.resultPrefix) + ClockErrorText(result));
    WriteResultLine(ps, result, 0);
    return result;
}

// Payload 0x01 asks for the list from its start (first request, and after any failed
// attempt), 0x02 for the packet after the one handed out last. A clock that acted on a
// continuation whose reply was lost has moved past the packet this program never got, so
// asking 0x02 again would skip it: after a failure the list starts again. The file holds
// this run's list only, so a list that starts again is written again from the file's
// start, never twice.
ClockError Downloads::TakeMessageList(TextFile& file)
{
    PollState& ps = ctx_.ps;
    const auto station = static_cast<uint8_t>(ps.StationByte);
    uint8_t payload = kListFromStart;
    // Packets stored since the list last started, and the most any start has reached. The
    // retry count starts again only when a packet goes past that, so packets fetched again
    // after a restart are no progress, and a clock that keeps failing at the same packet
    // still ends the command after its fourth failure in a row there.
    int packets = 0;
    int furthest = 0;
    int64_t lines = 0;  // of the list written since it last started, for the progress report
    const Fetch fetch{
        .texts = *ctx_.texts,
        .check = {.dataReply = frame::cmdGetMessageList, .stationFirst = true, .ticks = kListReplyTicks},
        .noteFailures = false,
        .errorWait = 0,
        .request =
            [&] {
                const uint8_t body[1] = {payload};
                return BuildRequest(ctx_.exchange.Request(), station, frame::cmdGetMessageList, body);
            },
        .failed = [&](ClockError) { payload = kListFromStart; },
        .taken = [&]() -> std::optional<ClockError> {
            // A list that starts again replaces what an earlier start wrote, even when it
            // turns out empty.
            if (payload == kListFromStart) {
                file.Truncate(0);
                packets = 0;
                lines = 0;
            }
            const std::span<const uint8_t> reply = ctx_.exchange.Reply();
            const int dataBytes = static_cast<int>(reply.size()) - kReplyFraming;
            if (dataBytes <= 1)
                return ceOK;
            const std::string text = FormatMessageText(reply.subspan(3, static_cast<size_t>(dataBytes - 1)));
            file.Write(text);
            if (!file.Flush())
                return ceDiskWrite;
            if (++packets > furthest) {
                furthest = packets;
                ps.RetryCount = 0;
            }
            lines += std::ranges::count(text, '\n');
            ctx_.progress.Step(packets, std::to_string(lines) + " lines");
            if (reply[2] != 1)
                return ceOK;
            payload = kListGoOn;
            return std::nullopt;
        },
    };
    return Download(fetch);
}
