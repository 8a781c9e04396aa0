// The readable status report made from a status reply's data bytes D0..D33: option
// switches, access code, limits, firmware versions, fitted modules and error lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

constexpr int kStatusDataBytes = 34;

// The report as handed to the text stream: every line is the station digits, a blank,
// the text and LF CR. `data` is what the reply holds from D0 on. From a reply shorter than
// 34 bytes only the lines whose bytes all arrived are written, in their usual order: the
// report never shows values the clock did not send.
std::string FormatStatusReport(std::string_view stationDigits, std::span<const uint8_t> data);
