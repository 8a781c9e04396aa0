// The readable status report made from a status reply's data bytes D0..D33: option
// switches, access code, limits, firmware versions, fitted modules and error lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

constexpr int kStatusDataBytes = 34;

// The report as handed to the text stream: every line is the station digits, a blank,
// the text and LF CR. `data` is what the reply holds from D0 on. A shorter reply than 34
// bytes is read as if its missing bytes were 0, except that a missing value character is
// left out rather than written as a 0 byte: the report never shows bytes the clock did
// not send.
std::string FormatStatusReport(std::string_view stationDigits, std::span<const uint8_t> data);
