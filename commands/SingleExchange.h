// The retry and busy policy shared by the clock commands: send one frame, wait for the
// reply, retry up to three times, wait out a busy clock, and report the outcome.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct CommandContext;
struct CommandTexts;

constexpr int kMaxAttempts = 3;
constexpr int kBusyWaitSeconds = 5;

// Counts one failed attempt in RetryCount and shows "Retry N" in panel 0.
void CountRetry(CommandContext& ctx);

// Sends the frame already in RequestBuffer (`length` as SendFrame takes it) until the
// reply is good or three attempts have failed, showing the sending and busy lines. A send
// failure ends at once with 10. With noReplyIsSuccess, a clock that stays silent counts
// as having accepted the frame. Leaves the result in PollStatus and returns it.
int ExchangeWithRetries(CommandContext& ctx, int length, const CommandTexts& texts, bool noReplyIsSuccess = false);

// Writes the results line and replaces the memo line with the result prefix and text.
void ReportResult(CommandContext& ctx, const CommandTexts& texts, int result);
// The same for an error in line `line` of the input file (result 22).
void ReportInputError(CommandContext& ctx, const CommandTexts& texts, int line);

// Builds station, command and payload once, exchanges it with retries and reports.
int RunSingleExchange(CommandContext& ctx, uint8_t command, std::span<const uint8_t> payload,
                      const CommandTexts& texts, bool noReplyIsSuccess = false);
