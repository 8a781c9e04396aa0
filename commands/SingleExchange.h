// The retry and busy policy shared by the clock commands: send a frame, wait for the
// reply, retry a bounded number of times, wait out a busy clock, and report the outcome.
// One loop serves every command; a RetryPolicy says where its memo lines go and maps each
// reply to what the loop does with it.
#pragma once

#include "core/ClockError.h"
#include "link/Exchange.h"

#include <cstdint>
#include <functional>
#include <span>
#include <variant>

struct CommandContext;
struct CommandTexts;

constexpr int kMaxAttempts = 3;
constexpr int kBusyWaitSeconds = 5;

// What the retry loop does with one reply. A failed attempt is counted ("Retry N").
enum class ReplyAction {
    Accept,          // the frame is taken (the result is OK)
    Resend,          // counted, then sent again at once
    WaitThenResend,  // counted, the busy line shown and kBusyWaitSeconds waited, sent again
    WaitThenCount,   // the busy line shown and the busy time waited, then counted and sent again
};

// OK is taken, a busy clock is waited out, anything else is sent again.
ReplyAction WaitOutBusy(ClockError reply);
// OK is taken, anything else, busy too, is sent again at once.
ReplyAction ResendAtOnce(ClockError reply);

struct RetryPolicy {
    // Memo texts; a null text shows no line. The sending line replaces the last memo line
    // before each attempt, the busy line replaces it on a busy reply and the busy notice
    // is added as a line of its own.
    const char* sendingLine = nullptr;
    const char* busyLine = nullptr;
    const char* busyNotice = nullptr;
    int attempts = kMaxAttempts;
    ReplyCheck check{};
    std::function<ReplyAction(ClockError)> onReply = WaitOutBusy;
    // Asked after each accepted frame: true when another frame is due (a table sent in
    // packets); the loop goes on and the failures counted so far still count. False ends
    // the loop with OK.
    std::function<bool()> anotherFrame;

    // The sending and busy lines of a command, everything else as most commands have it.
    static RetryPolicy For(const CommandTexts& texts);
};

// One attempt's frame: the length SendRequest takes of the frame built in the exchange's
// request buffer, or, when there is no frame to send, the result the loop ends with (OK
// at the end of the data, a file or input-line error).
using BuiltFrame = std::variant<int, ClockError>;
// Builds the frame of one attempt; `previous` is the result of the attempt before (ceBusy
// before the first).
using FrameBuilder = std::function<BuiltFrame(ClockError previous)>;

// Counts one failed attempt in RetryCount and shows "Retry N" in panel 0.
void CountRetry(CommandContext& ctx);

// Sends frames until one is accepted (and no other is due) or `attempts` attempts have
// failed, doing with each reply what policy.onReply says. A send failure ends at once
// with 10. Returns the result.
ClockError ExchangeWithRetries(CommandContext& ctx, const RetryPolicy& policy, const FrameBuilder& frame);

// Writes the results line and replaces the memo line with the result prefix and text;
// returns the result, for the command to return.
ClockError ReportResult(CommandContext& ctx, const CommandTexts& texts, ClockError result);
// The same for an error in line `line` of the input file; returns ceInputFileLine.
ClockError ReportInputError(CommandContext& ctx, const CommandTexts& texts, int line);

// Builds station, command and payload, exchanges it with retries and reports; with
// silenceIsSuccess a clock that stays silent (result 1) has accepted the frame.
ClockError RunSingleExchange(CommandContext& ctx, uint8_t command, std::span<const uint8_t> payload,
                             const CommandTexts& texts, bool silenceIsSuccess = false);
