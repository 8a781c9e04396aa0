// The text the two downloads write: the record lines of a punch-record packet and the
// text of a message-list packet, as handed to a text-stream file (lines end LF CR, which
// the file holds as CR LF CR). Pure functions of the packet bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Record lines of the bytes after D0 of a records packet. Each record becomes the station
// digits, ",", its bytes as digit pairs (nibble + 0x30) with a "," before the 4th, 6th and
// 7th byte, then LF CR; 0xF0 ends a record, 0xFE opens its job-code group. A packet that
// stops inside a record still ends that record's line, so the next packet never runs on
// into it.
std::string FormatRecords(std::string_view stationDigits, std::span<const uint8_t> records);

// Message-list text (the bytes after D0): written as it is, each LF as LF CR.
std::string FormatMessageText(std::span<const uint8_t> text);
