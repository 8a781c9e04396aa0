#include "StatusReport.h"

namespace {

struct Choice {
    int byte;
    uint8_t mask;
    const char* set;
    const char* clear;
};

// Lines 1..10: one option bit each.
const Choice kSwitches[] = {
    {1, 0x01, "Job Costing        Enabled", "Job Costing        Disabled"},
    {0, 0x01, "Job Accept         Manual", "Job Accept         Auto"},
    {0, 0x02, "Job Limit Match    Equal", "Job Limit Match    Less or Equal"},
    {0, 0x08, "Job Table Match    Enabled", "Job Table Match    Disabled"},
    {3, 0x01, "Job Table Check    Enabled", "Job Table Check    Disabled"},
    {0, 0x04, "Emp Limit Match    Equal", "Emp Limit Match    Less or Equal"},
    {2, 0x04, "Bell Tables        Enabled", "Bell Tables        Disabled"},
    {2, 0x08, "Bell2 Tables       Enabled", "Bell2 Tables       Disabled"},
    {3, 0x08, "Pin Number         Enabled", "Pin Number         Disabled"},
    {2, 0x01, "Password           Enabled", "Password           Disabled"},
};

// Lines 12..18: two characters each, as the clock sends them.
struct Pair {
    int first;
    const char* label;
};
const Pair kPairs[] = {
    {10, "Employee Limit     "}, {12, "Job Limit          "}, {14, "Job Levels         "},
    {16, "Job Level 1 Limit  "}, {18, "Job Level 2 Limit  "}, {20, "Job Level 3 Limit  "},
    {22, "Job Level 4 Limit  "},
};

// Error lines, in the order they are reported, each only when one of its bits is set.
const Choice kErrors[] = {
    {30, 0x06, "Error              Ram_Fatal", nullptr},
    {30, 0x08, "Error              Ram_Not_Valid", nullptr},
    {33, 0x08, "Error              Ram_Recoverable", nullptr},
    {33, 0x01, "Error              Ram_Initialised", nullptr},
    {31, 0x08, "Error              EEPROM_Data", nullptr},
    {31, 0x07, "Error              I2C Comms", nullptr},
    {30, 0x01, "Error              System Comms", nullptr},
    {33, 0x02, "Error              Data RAM Full", nullptr},
    {33, 0x04, "Error              Card Reader", nullptr},
};

char Nibble(uint8_t v)
{
    return static_cast<char>(v + 0x30);
}

std::string Version(uint8_t high, uint8_t low)
{
    return {Nibble(high >> 4), Nibble(high & 0x0F), '.', Nibble(low >> 4), Nibble(low & 0x0F)};
}

}  // namespace

std::string FormatStatusReport(std::string_view stationDigits, std::span<const uint8_t> data)
{
    const std::size_t held = data.size() < kStatusDataBytes ? data.size() : kStatusDataBytes;
    // Bytes arrive in order: byte i came when every byte up to it came.
    auto came = [&](int i) { return static_cast<std::size_t>(i) < held; };

    std::string out;
    auto line = [&](const std::string& text) {
        out.append(stationDigits);
        out.push_back(' ');
        out += text;
        out += "\n\r";
    };
    auto chars = [&](int first, int count, bool skipZero) {
        std::string s;
        for (int i = first; i < first + count; ++i)
            if (!(skipZero && data[i] == 0))
                s.push_back(static_cast<char>(data[i]));
        return s;
    };

    for (const Choice& c : kSwitches)
        if (came(c.byte))
            line((data[c.byte] & c.mask) ? c.set : c.clear);
    if (came(9))
        line(std::string("Access Code        ") + " " + chars(4, 6, true));
    for (const Pair& p : kPairs)
        if (came(p.first + 1))
            line(std::string(p.label) + " " + chars(p.first, 2, false));
    if (came(25))
        line(std::string("CPU Version        ") + " " + Version(data[24], data[25]));
    if (came(27))
        line(std::string("Display Version    ") + " " + Version(data[26], data[27]));

    if (came(28)) {
        const int kind = data[28] & 0x0F;
        line(std::string("Input Module       ") + (kind == 1   ? "Card Reader"
                                                   : kind == 5 ? "Fingerprint"
                                                               : "Not Fitted"));
    }
    if (came(29)) {
        static const char* const kComms[] = {"RS232", "RS485", "TCP/IP"};
        const int kind = data[29] & 0x0F;
        line(std::string("Comms Module       ") + (kind >= 2 && kind <= 4 ? kComms[kind - 2] : "Not Fitted"));
    }
    for (const Choice& e : kErrors)
        if (came(e.byte) && (data[e.byte] & e.mask))
            line(e.set);
    return out;
}
