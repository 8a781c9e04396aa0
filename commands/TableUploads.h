// The table uploads: set_belltable, set_belltable2, set_jobnumbers, set_pinnumbers and
// clear_message read a table from the data file and send it to the clock in packets. The
// whole file is read and checked before the first frame goes out.
#pragma once

#include "CommandContext.h"
#include "core/ClockError.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How the lines of a table file become the rows of its packets.
enum class TableRows {
    BellTable,   // exactly 8 digits: 4 bytes, one per digit pair
    JobNumbers,  // up to 7 digit pairs: a byte per pair, then 0xF0
    PinNumbers,  // number[,pin]: the number right-aligned in 6 with '0', ",", the pin in 6
                 // bytes padded with 0x00, then 0x0D
    Messages,    // 1 to 10 characters as they are, then 0x0A; empty lines are skipped
};

namespace tables {

// Longest line of a format, its line feed not counted.
std::size_t MaxLineLength(TableRows kind);

// Packs two digit characters into one byte (the characters 1 and 7 give 0x17); nothing
// when either is no decimal digit.
std::optional<uint8_t> PackDigitPair(char high, char low);

// The row a line ending in a line feed becomes (the line given without it): nothing when
// the line is malformed, no bytes for a line that is skipped.
std::optional<std::vector<uint8_t>> EncodeRow(TableRows kind, std::string_view line);

// The bytes of a last line that has no line feed. Such a line is sent but is not a row:
// digit pairs and characters go without their 0xF0 or 0x0A; a PIN line is a whole row.
std::optional<std::vector<uint8_t>> EncodeLastLine(TableRows kind, std::string_view line);

// Cuts a table file into the rows of its packets, one packet at a time. A packet ends
// when it holds its number of rows (a job-number packet also once its frame has passed 90
// bytes) and one more character has been read, or at the end of the file.
class TableReader {
public:
    // A character of the file (carriage returns are skipped), or -1 at its end.
    using ReadChar = std::function<int()>;

    explicit TableReader(TableRows kind) : kind_(kind) {}

    // Starts again at the first line; the caller puts the file back to its start.
    void Restart();
    // Appends the rows of the next packet to `rows`. False on a malformed line, or on a
    // line longer than its format allows (found before the rest of it is read); Line()
    // then names it.
    bool NextPacket(const ReadChar& read, std::vector<uint8_t>& rows);
    // Reads the whole file packet by packet, keeping no row: false on the first malformed
    // line, which Line() then names. Restart before reading the file again.
    bool CheckAll(const ReadChar& read);

    bool AtEnd() const { return atEnd_; }
    // Line feeds read since the start; after an error, the number of the malformed line.
    int Line() const { return line_; }
    // Complete rows of the packet last read.
    int RowsInPacket() const { return rowsInPacket_; }

private:
    bool PacketFull() const;

    TableRows kind_;
    int line_ = 0;
    int rowsInPacket_ = 0;
    std::size_t packetBytes_ = 0;
    bool atEnd_ = false;
    int pending_ = -1;
    std::string text_;
};

}  // namespace tables

class TableUploads {
public:
    explicit TableUploads(const CommandContext& ctx) : ctx_(ctx) {}

    // Each upload returns its result.
    // Bell table 1 (0xA8) and bell table 2 (0xA9); closed with 3, or 2 when the last
    // packet held no complete row.
    ClockError SetBellTable();
    ClockError SetBellTable2();
    // The job-number table of level JobTableDigit; closed with 4 for level 2, 5 for 1.
    ClockError SetJobNumbers();
    // Clears the clock's PIN numbers, then sends the new ones; closed with 3 whenever the
    // clearing was accepted, so the clock keeps what it was sent.
    ClockError SetPinNumbers();
    // Messages to delete; every packet carries sequence byte 2 and nothing closes them.
    ClockError ClearMessage();

    struct Table;

private:
    ClockError Upload(const Table& table);

    CommandContext ctx_;
};
