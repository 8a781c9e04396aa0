// The uploads that carry one small data file to the clock: display messages (set_message,
// sent in packets), daylight dates, modem parameters and the logo (each in one frame).
// The readers turn file text into frame payloads and touch no file or link; the
// MessageCommands glue opens the file, sends through the shared retry loop and reports.
#pragma once

#include "CommandContext.h"
#include "core/ClockError.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace msgfile {

// Next character of a file read as a text stream (CR dropped), or -1 at its end.
using CharSource = std::function<int()>;

// Message file rules.
constexpr int kLineChars = 30;    // characters a message line may hold, braces included
constexpr int kMessageLines = 7;  // lines a message may span
constexpr int kPacketChars = 99;  // message characters in one full packet
constexpr uint8_t kSequenceFirst = 1;
constexpr uint8_t kSequenceMore = 2;

// Cuts a message file into set_message packets: a sequence byte (1 opens a message, 2
// continues it) followed by up to 99 message characters; a packet ends at a "}" or when
// full. Bytes below "0" before a message are skipped (line feeds among them still count).
// The file is read as the packets are cut, never held whole: a message that breaks a rule
// stops the reading at the character that breaks it.
class MessageReader {
public:
    enum class Step { Packet, End, InputError };

    // `rewind` puts the source back to its first character; without it no message can be
    // restarted.
    explicit MessageReader(CharSource next, std::function<bool()> rewind = nullptr)
        : next_(std::move(next)), rewind_(std::move(rewind))
    {
    }
    // Reads the next packet into `packet`. End: no message is left. InputError: a rule was
    // broken, or the file ended inside a message; Line() tells where.
    Step Next(std::vector<uint8_t>& packet);
    // Goes back to the first byte of the message of the last packet, with its line number,
    // so that a packet the clock did not accept is sent again with its whole message.
    // False when the source could not be read again up to there.
    bool RestartMessage();
    int Line() const { return line_; }
    // Characters taken from the source since its start.
    std::size_t CharsRead() const { return charsRead_; }

private:
    int Read();

    CharSource next_;
    std::function<bool()> rewind_;
    std::size_t charsRead_ = 0;
    int line_ = 1;
    bool betweenMessages_ = true;
    std::size_t messageStart_ = 0;
    int messageLine_ = 1;
    int lineChars_ = 0;
    int lineFeeds_ = 0;
};

// A payload read from a file; `errorLine` is 0 when the file is usable, else the line
// (set_daylight) or -1 (set_modem, set_logo: no line is counted) of the input error.
struct Payload {
    std::vector<uint8_t> bytes;
    int errorLine = 0;
    bool Ok() const { return errorLine == 0; }
};

// Largest payload of any frame: the body must fit the 256-byte frame buffer.
constexpr std::size_t kMaxPayload = 248;
constexpr std::size_t kModemLimit = 81;  // this many modem bytes is too many
constexpr std::size_t kModemMinimum = 2;
constexpr std::size_t kLogoChars = 14;

// Digit pairs, CR and LF skipped; more pairs than one frame holds is an input error in the
// line of the first pair too many. A last odd character is no pair and is dropped.
Payload ReadDaylight(const CharSource& next);
// The characters as they are with each LF as 0x0D; 2 to 80 of them, else an input error.
Payload ReadModem(const CharSource& next);
// Up to 14 characters of the first line; any outside 0x20..0x7A is an input error.
Payload ReadLogo(const CharSource& next);

// ((first - 0x30) << 4) + (second - 0x30) in one byte: packed BCD for decimal digits.
uint8_t PackPair(int first, int second);

}  // namespace msgfile

class MessageCommands {
public:
    explicit MessageCommands(const CommandContext& ctx) : ctx_(ctx) {}

    // Each command returns its result.
    ClockError SetMessage();
    ClockError SetDaylight();
    ClockError SetModem();
    ClockError SetLogo();

private:
    CommandContext ctx_;
};
