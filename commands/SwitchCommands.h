// Commands that send one fixed option byte or the access code in a single frame:
// set_jobing OFF/ON, key_board ON/OFF, clear_all_messages and set_code.
#pragma once

#include "CommandContext.h"

class SwitchCommands {
public:
    explicit SwitchCommands(const CommandContext& ctx) : ctx_(ctx) {}

    void SetJobing(bool on);
    void KeyBoard(bool on);
    void ClearAllMessages();
    // Sends the six bytes of AccessCode (a shorter code padded with 0x00), then gives the
    // clock three seconds to store it before reporting.
    void SetCode();

private:
    CommandContext ctx_;
};
