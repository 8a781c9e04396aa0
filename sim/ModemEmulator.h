// The command state of the modem in front of a clock: reads command lines ending in CR and
// answers "AT" lines with numeric result codes; a dial is answered with the configured
// outcome. Pure code, so the transport only moves its bytes.
#pragma once

#include "Faults.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

class ModemEmulator {
public:
    static constexpr size_t kMaxLine = 256;

    struct Response {
        std::string command;  // the line as received, without CR
        std::string reply;    // bytes to send back (may be empty: a silent modem)
        bool connected = false;
    };

    explicit ModemEmulator(const ModemSettings& settings) : settings_(settings) {}

    std::optional<Response> Push(uint8_t byte);
    void Reset() { line_.clear(); }

    // True when the line dials: a D that is not part of an &D, \D or %D setting.
    static bool IsDial(const std::string& line);

private:
    const ModemSettings& settings_;
    std::string line_;
    bool overlong_ = false;
};

}  // namespace sim
