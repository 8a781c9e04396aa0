// Commands that send one fixed option byte or the access code in a single frame:
// set_jobing OFF/ON, key_board ON/OFF, clear_all_messages and set_code.
#pragma once

#include "CommandContext.h"
#include "core/ClockError.h"

class SwitchCommands {
public:
    explicit SwitchCommands(const CommandContext& ctx) : ctx_(ctx) {}

    // Each command returns its result.
    ClockError SetJobing(bool on);
    ClockError KeyBoard(bool on);
    ClockError ClearAllMessages();
    // Sends the six bytes of AccessCode (a shorter code padded with 0x00), then gives the
    // clock three seconds to store it before reporting.
    ClockError SetCode();

private:
    CommandContext ctx_;
};
