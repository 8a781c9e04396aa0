// Feeds arbitrary bytes to the readers of the message, daylight, modem and logo files, as
// the text stream hands them over (CR dropped, 0x1A ends the file). Every packet and payload
// must fit its frame, and a message file must be read to its end even when each message's
// packets are sent again from the file's start.
#include "commands/MessageCommands.h"
#include "fuzz/FuzzSupport.h"
#include "link/Framing.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The characters of `text` from `at` on.
msgfile::CharSource Source(const std::string& text, size_t& at)
{
    return [&text, &at] { return at < text.size() ? static_cast<uint8_t>(text[at++]) : -1; };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text = TextView(std::string(reinterpret_cast<const char*>(data), size));

    // Each message is restarted once, as after a packet the clock did not accept.
    size_t at = 0;
    msgfile::MessageReader reader(Source(text, at), [&] {
        at = 0;
        return true;
    });
    std::vector<uint8_t> packet;
    bool restarted = false;
    size_t packets = 0;
    for (;;) {
        const auto step = reader.Next(packet);
        if (step != msgfile::MessageReader::Step::Packet)
            break;
        Check(packet.size() >= 2 && packet.size() <= 1 + msgfile::kPacketChars);
        Check(packet[0] == msgfile::kSequenceFirst || packet[0] == msgfile::kSequenceMore);
        Check(2 + packet.size() <= static_cast<size_t>(frame::kMaxBody));
        Check(++packets <= 2 * size + 2);
        if (packet.back() == '}') {
            if (!restarted) {
                Check(reader.RestartMessage());
                restarted = true;
                continue;
            }
            restarted = false;
        }
    }
    Check(reader.Line() >= 1);
    // Reading never runs ahead of what the packets took.
    Check(reader.CharsRead() == at);

    size_t daylightAt = 0, modemAt = 0, logoAt = 0;
    const msgfile::Payload daylight = msgfile::ReadDaylight(Source(text, daylightAt));
    Check(daylight.bytes.size() <= msgfile::kMaxPayload);
    const msgfile::Payload modem = msgfile::ReadModem(Source(text, modemAt));
    Check(!modem.Ok() ||
          (modem.bytes.size() >= msgfile::kModemMinimum && modem.bytes.size() < msgfile::kModemLimit));
    const msgfile::Payload logo = msgfile::ReadLogo(Source(text, logoAt));
    Check(logo.bytes.size() <= msgfile::kLogoChars);
    for (uint8_t b : logo.bytes) Check(b >= 0x20 && b <= 0x7A);
    return 0;
}
