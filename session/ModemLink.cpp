#include "ModemLink.h"

#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "core/TickWait.h"
#include "core/ClockError.h"
#include "link/Exchange.h"
#include "link/Framing.h"

#include <exception>
#include <span>
#include <utility>

namespace {

const char kNotInitialised[] = "Error - Modem not Initialised";
const char kConnected[] = " Modem Connected ";

// Silence that ends a modem reply, in ticks: before the first byte and after the last one.
constexpr int kFirstByteTicks = 80;
constexpr int kQuietTicks = 2;
// Longest a reply may take in all: a line that never falls quiet must not hold the run.
constexpr int kReplyLimitTicks = 80;

// What a numeric modem result means for the connect; kGoOnOrFail is 0 (OK, or the file
// ended with every line answered OK) and 9, kConnect is a CONNECT of some speed.
constexpr int kConnect = -1;
constexpr int kGoOnOrFail = -2;
constexpr int kResultMap[10] = {
    kGoOnOrFail,                          // 0 OK
    kConnect,                             // 1 CONNECT
    ClockErrorNumber(ceModemRing),        // 2 RING
    ClockErrorNumber(ceModemNoCarrier),   // 3 NO CARRIER
    ClockErrorNumber(ceModemError),       // 4 ERROR
    kConnect,                             // 5 CONNECT 1200
    ClockErrorNumber(ceModemNoDialTone),  // 6 NO DIALTONE
    ClockErrorNumber(ceModemBusy),        // 7 BUSY
    ClockErrorNumber(ceModemNoAnswer),    // 8 NO ANSWER
    kGoOnOrFail,                          // 9
};

// Taken as the result when no code can be found at the end of a long reply.
constexpr int kResultError = 4;

bool IsBlank(uint8_t c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal number at the start of bytes[0..n): leading blanks skipped, digits up to the
// first non-digit; 0 when there are none. Never looks past n.
int ReadNumber(const uint8_t* bytes, int n)
{
    int i = 0;
    while (i < n && IsBlank(bytes[i])) ++i;
    int value = 0;
    for (; i < n && bytes[i] >= '0' && bytes[i] <= '9'; ++i) value = value * 10 + (bytes[i] - '0');
    return value;
}

}  // namespace

ModemLink::ModemLink(PollState& ps, Exchange& exchange, IStatusDisplay& status,
                     std::function<void(bool)> setDtr)
    : ps_(ps), exchange_(exchange), status_(status), setDtr_(std::move(setDtr))
{
}

void ModemLink::CloseModemFile()
{
    file_.Close();
}

int ModemLink::ReadLine(bool& endedAtEof, int& charsRead)
{
    int length = 0;
    for (;;) {
        const int c = file_.ReadChar();
        // A file that stops being readable is broken, not ended.
        if (c < 0 && file_.ReadError())
            return -1;
        if (c < 0) {
            endedAtEof = true;
            return length;
        }
        if (c == '\n') {
            endedAtEof = false;
            return length;
        }
        // The CR that follows the line must still fit, and the whole frame must be one
        // SendFrame; a longer line is a fault of the file, not something to cut silently.
        if (length == kMaxLineLength)
            return -1;
        exchange_.Request()[length++] = static_cast<uint8_t>(c);
        ++charsRead;
    }
}

void ModemLink::AwaitModemReply()
{
    bool received = false;
    int lastReceiptTick = 0;
    std::size_t seenCount = exchange_.Received().size();
    WaitForTicks(exchange_.Pump(), exchange_.Time(), kReplyLimitTicks, [&](int ticks) {
        // The count is re-read after every pump: the receive event runs inside it.
        if (exchange_.Received().size() != seenCount) {
            seenCount = exchange_.Received().size();
            received = true;
            lastReceiptTick = ticks;
        }
        return ticks - lastReceiptTick >= (received ? kQuietTicks : kFirstByteTicks);
    });
}

int ModemLink::ParseResult()
{
    const std::span<const uint8_t> received = exchange_.Received();
    const int last = static_cast<int>(received.size()) - 1;
    const uint8_t* rx = received.data();
    if (last < 4)
        return ReadNumber(rx, last + 1);

    // The code is the last one to three digits, between a CR and the final byte; any echo
    // of the command and CR LF framing in front of it are passed over.
    const int start = last - 2;
    if (rx[start] == '\r')
        return kResultError;
    for (int steps = 1; steps <= 3; ++steps) {
        const int i = start - steps;
        if (i < 0)
            break;
        if (rx[i] == '\r')
            // Only the copied digits count, not older bytes that follow them in the buffer.
            return ReadNumber(rx + i + 1, steps + 1);
    }
    return kResultError;
}

ClockError ModemLink::MapResult(int result)
{
    const int outcome = result >= 10 ? kConnect : (result >= 0 ? kResultMap[result] : kGoOnOrFail);
    if (outcome == kConnect) {
        status_.AddStatusLine(kConnected);
        exchange_.WaitSeconds(2);
        ps_.ModemInUse = true;
        return ceOK;
    }
    if (outcome == kGoOnOrFail) {
        status_.AddStatusLine(kNotInitialised);
        return ceModemError;
    }
    return static_cast<ClockError>(outcome);
}

ClockError ModemLink::ModemConnect()
{
    ps_.InputLineNumber = 0;
    if (!file_.Open(ps_.InputFileName, "r")) {
        status_.AddStatusLine(kNotInitialised);
        return ceModemStringFile;
    }

    int result = 0;
    int charsRead = 0;
    do {
        ++ps_.InputLineNumber;
        bool endedAtEof = false;
        const int length = ReadLine(endedAtEof, charsRead);
        if (length < 0) {
            status_.AddStatusLine(kNotInitialised);
            return ceModemStringFile;
        }
        // An empty file (or empty first line) means a direct line: nothing to dial.
        if (charsRead == 0)
            return ceOK;
        ps_.ModemInUse = true;
        // A last line without LF is not sent; the line before it decides.
        if (endedAtEof)
            break;

        exchange_.Request()[length] = '\r';
        if (exchange_.SendRequest(length + 1) != ceOK)
            return cePortTransmitter;

        // Only what the modem answers after the line has gone out counts.
        exchange_.ClearReceive();
        AwaitModemReply();
        if (exchange_.Received().size() <= 1)
            return ceModemNoReply;
        result = ParseResult();
    } while (result == 0);

    return MapResult(result);
}

void ModemLink::SetDtr(bool on)
{
    if (!setDtr_)
        return;
    try {
        setDtr_(on);
    } catch (const std::exception&) {
        // A port that cannot drive DTR is hung up by the clock's own reset, or not at all;
        // either way the reset goes on.
    }
}

void ModemLink::ModemReset()
{
    // The sends' results are not looked at: the reset goes on whatever they were.
    exchange_.SendRequest(BuildRequest(exchange_.Request(), static_cast<uint8_t>(ps_.StationByte & 0xFF),
                                       frame::cmdModemReset));
    status_.AddStatusLine(" Resetting Modem Please Wait.. ");
    exchange_.WaitSeconds(2);

    exchange_.Request()[0] = 0x0A;
    exchange_.SendRequest(1);

    SetDtr(false);
    exchange_.WaitSeconds(1);
    SetDtr(true);
    exchange_.WaitSeconds(1);

    ps_.ModemInUse = false;
    status_.AddStatusLine("Modem Reset");
}
