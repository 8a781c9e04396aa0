// Frame layout and check digits. Pure code: no Qt, no I/O.
//
// Request: station, command, payload, four CRC digits over those bytes, 0xFF, 0xFF.
// The CRC is CRC-16/XMODEM rendered as four characters, each nibble + 0x30 (so 10..15
// become ':' ';' '<' '=' '>' '?').
#pragma once

#include <array>
#include <cstdint>
#include <span>

// A frame buffer: the request being built, or the bytes received since the last send.
using FrameBuffer = std::array<uint8_t, 256>;

namespace frame {

// Command bytes sent in requests.
enum Command : uint8_t {
    cmdResend = 0xA0,
    cmdAcknowledge = 0xA1,
    cmdGetTimes = 0xA2,
    cmdKeyBoard = 0xA3,
    cmdSetTime = 0xA5,
    cmdSetDate = 0xA6,
    cmdJob = 0xA7,
    cmdSetBellTable = 0xA8,
    cmdSetBellTable2 = 0xA9,
    cmdSetModem = 0xAA,
    cmdNextBlock = 0xAB,
    cmdSetCode = 0xAC,
    cmdGetStatus = 0xAD,
    cmdResetErrors = 0xAE,
    cmdSetMessage = 0xAF,
    cmdClearMessage = 0xB0,
    cmdSetDaylight = 0xB1,
    cmdModemReset = 0xB2,
    cmdSetLogo = 0xB3,
    cmdGetMessageList = 0xB4,
    cmdSetPinNumbers = 0xB5,
    cmdFinger = 0xE6,
    cmdSystemReset = 0xEB,
};

// Reply codes.
enum Reply : uint8_t {
    rpRejected = 0xA0,
    rpAcknowledge = 0xA1,
    rpBusy = 0xB0,
    rpAccepted = 0xE6,
};

// Largest body (station + command + payload) that still fits the 256-byte buffer with
// its four digits and two terminators.
constexpr int kMaxBody = 250;

uint16_t Crc16(const uint8_t* data, int length);
std::array<char, 4> RenderDigits(uint16_t crc);

}  // namespace frame

// The four digit characters of the CRC over `length` bytes (none when length <= 0).
std::array<char, 4> Crc16Digits(const uint8_t* data, int length);

// Assembles station, command and payload in `request` with digits and two 0xFF.
// Returns the length to pass to SendFrame (body length + 5), or -1 when the payload
// does not fit the buffer.
int BuildRequest(FrameBuffer& request, uint8_t station, uint8_t command,
                 std::span<const uint8_t> payload = {});
