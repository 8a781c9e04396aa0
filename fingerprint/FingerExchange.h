// The requests both fingerprint commands send (command byte 0xE6 and a sub-code), the
// payload of a reply, the short Timer4 pause and the request that ends the exchange.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

struct CommandContext;
class Exchange;

namespace finger {

enum SubCode : uint8_t {
    scQuerySlot = 0x01,
    scSelectTemplate = 0x02,
    scReadBlock = 0x06,
    scLastBlock = 0x07,
    scEndExchange = 0x09,
    scEraseAll = 0x0B,
    scEmployee = 0x0E,
    scBlock = 0x11,
    scFinalBlock = 0x12,
    scStore = 0x13,
};

// Builds 0xE6 and the payload for the current station in the exchange's request buffer;
// returns the length SendRequest takes.
int BuildFingerRequest(const CommandContext& ctx, std::span<const uint8_t> payload);
int BuildFingerRequest(const CommandContext& ctx, std::initializer_list<uint8_t> payload);

// Payload of the reply just checked: the bytes between the reply code and the check
// digits (empty when the reply has none).
std::span<const uint8_t> ReplyPayload(const Exchange& exchange);

// Enables the 50 ms one-shot Timer4 and lets events run until it has fired.
void ShortPause(CommandContext& ctx);

// Sends the end of the fingerprint exchange: up to three attempts, each after a Timer4
// pause when pauseFirst is set. Its outcome is not reported: the command's result stands.
void EndFingerExchange(CommandContext& ctx, bool pauseFirst);

}  // namespace finger
