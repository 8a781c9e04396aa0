// The retry and busy policy shared by the clock commands: send a frame, wait for the
// reply, retry a bounded number of times, wait out a busy clock, and report the outcome.
// One loop serves every command; a RetryPolicy says where its memo lines go and in which
// order a failed attempt is counted and waited out.
#pragma once

#include "core/ClockError.h"
#include "link/Exchange.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

struct CommandContext;
struct CommandTexts;

constexpr int kMaxAttempts = 3;
constexpr int kBusyWaitSeconds = 5;

struct RetryPolicy {
    // Memo texts; a null text shows no line.
    const char* sendingLine = nullptr;
    const char* busyLine = nullptr;
    int attempts = kMaxAttempts;
    ReplyCheck check{};
    // Changes of the second waited after a busy reply (0: retried at once).
    int busyWaitSeconds = kBusyWaitSeconds;
    // The sending line is shown once before the first attempt instead of before each.
    bool sendingLineOnce = false;
    // The busy line is added as a new memo line instead of replacing the last one.
    bool addBusyLine = false;
    // A failed attempt is counted after the busy wait instead of before it.
    bool countAfterBusyWait = false;
    // A clock that stays silent (result 1) has accepted the frame.
    bool silenceIsSuccess = false;
    // Asked after each accepted frame: true when another frame is due (a table sent in
    // packets); the loop goes on and the failures counted so far still count. False ends
    // the loop with whatever result the hook left in PollStatus.
    std::function<bool()> anotherFrame;

    // The sending and busy lines of a command, everything else as most commands have it.
    static RetryPolicy For(const CommandTexts& texts);
};

// Builds the frame of one attempt in RequestBuffer and returns the length SendFrame takes,
// or nothing to end the loop with the result the builder left in PollStatus (a malformed
// input line). `previous` is the result of the attempt before (ceBusy before the first).
using FrameBuilder = std::function<std::optional<int>(ClockError previous)>;

// Counts one failed attempt in RetryCount and shows "Retry N" in panel 0.
void CountRetry(CommandContext& ctx);

// Sends frames until one is accepted (and no other is due) or `attempts` attempts have
// failed. A send failure ends at once with 10. Leaves the result in PollStatus and
// returns it.
ClockError ExchangeWithRetries(CommandContext& ctx, const RetryPolicy& policy, const FrameBuilder& frame);

// Writes the results line and replaces the memo line with the result prefix and text.
void ReportResult(CommandContext& ctx, const CommandTexts& texts, ClockError result);
// The same for an error in line `line` of the input file (result 22).
void ReportInputError(CommandContext& ctx, const CommandTexts& texts, int line);

// Builds station, command and payload, exchanges it with retries and reports.
ClockError RunSingleExchange(CommandContext& ctx, uint8_t command, std::span<const uint8_t> payload,
                             const CommandTexts& texts, bool silenceIsSuccess = false);
