// The commands without input data: set_time, get_status (with the status request that
// clock discovery also uses), reset_errors and system_reset.
#pragma once

#include "CommandContext.h"
#include "core/ClockError.h"

#include <cstdint>

class TimeCommands {
public:
    explicit TimeCommands(const CommandContext& ctx) : ctx_(ctx) {}

    // Each command returns its result.
    // Writes the computer's local time, then its date, into the clock.
    ClockError SetTime();
    // Reads the status block and appends its report to the data file (InputFileName).
    ClockError GetStatus();
    // Sends the status request until a status reply from the polled station arrives or
    // `attempts` attempts have failed, waiting up to `replyWait` ticks for each reply.
    // Returns the ClockError; the reply stays in the exchange's receive buffer.
    ClockError RequestStatus(int replyWait, int attempts);
    // Clears the clock's error state; a clock that stays silent has accepted it.
    ClockError ResetErrors();
    // Restarts the clock: one frame, no reply awaited.
    ClockError SystemReset();

    // Packed BCD of 0..99: tens in the high nibble.
    static uint8_t ToBcd(int value);

private:
    CommandContext ctx_;
};
