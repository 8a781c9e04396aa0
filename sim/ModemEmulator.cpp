#include "ModemEmulator.h"

#include <cctype>

namespace sim {

namespace {

struct OutcomeRow {
    DialOutcome outcome;
    const char* name;
    int code;  // -1: the configured connect code; -2: no answer at all
};

const OutcomeRow kOutcomes[] = {
    {DialOutcome::Connect, "connect", -1},  {DialOutcome::Busy, "busy", 7},
    {DialOutcome::NoCarrier, "nocarrier", 3}, {DialOutcome::NoAnswer, "noanswer", 8},
    {DialOutcome::NoDialTone, "nodialtone", 6}, {DialOutcome::Error, "error", 4},
    {DialOutcome::Silent, "silent", -2},    {DialOutcome::Ring, "ring", 2},
};

}  // namespace

bool ParseDialOutcome(const std::string& text, DialOutcome& out)
{
    for (const auto& row : kOutcomes)
        if (text == row.name) {
            out = row.outcome;
            return true;
        }
    return false;
}

const char* DialOutcomeName(DialOutcome outcome)
{
    for (const auto& row : kOutcomes)
        if (row.outcome == outcome)
            return row.name;
    return "?";
}

bool ModemEmulator::IsDial(const std::string& line)
{
    for (size_t i = 2; i < line.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(line[i])) != 'D')
            continue;
        const char before = line[i - 1];
        if (before != '&' && before != '\\' && before != '%')
            return true;
    }
    return false;
}

std::optional<ModemEmulator::Response> ModemEmulator::Push(uint8_t byte)
{
    if (byte == 0x55 && line_.empty())
        return std::nullopt;  // the sender's frame preamble
    if (byte != '\r') {
        if (byte < 0x20 || byte >= 0x7F)
            return std::nullopt;  // line feeds and binary noise
        if (line_.size() >= kMaxLine)
            overlong_ = true;
        else
            line_ += static_cast<char>(byte);
        return std::nullopt;
    }
    std::string line;
    line.swap(line_);
    if (overlong_) {
        overlong_ = false;
        return Response{line, "4\r", false};
    }
    if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A' ||
        std::toupper(static_cast<unsigned char>(line[1])) != 'T')
        return std::nullopt;
    if (!IsDial(line))
        return Response{line, "0\r", false};
    for (const auto& row : kOutcomes) {
        if (row.outcome != settings_.outcome)
            continue;
        if (row.code == -2)
            return Response{line, "", false};
        const int code = row.code == -1 ? settings_.connectCode : row.code;
        return Response{line, std::to_string(code) + "\r", row.code == -1};
    }
    return Response{line, "4\r", false};
}

}  // namespace sim
