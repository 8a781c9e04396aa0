// Program upgrade files: a four-character board tag, then records that each start with
// 0xEE and carry a length byte, length + 1 data bytes and a checksum split over two bytes.
// The check and the transfer read a file the same way, whole into memory, and the scan
// can be fed any bytes (fuzzing, tests).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/BoardKind.h"

struct PollState;
class IStatusDisplay;

// The status panel text of a board kind: "Main", "Display", "Fingerprint", "Portable TC";
// empty for None.
const char* BoardKindText(BoardKind kind);

// The largest length byte whose record still fits one request frame: station, command,
// 0x00, the len + 1 data bytes, four digits and two terminators in 256 bytes.
constexpr int kMaxRecordLength = 246;

// Where scanned bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The next byte 0..255, or -1 at the end (a read error ends the bytes too).
    virtual int Get() = 0;
};

class SpanSource : public ByteSource {
public:
    explicit SpanSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    int Get() override { return pos_ < bytes_.size() ? bytes_[pos_++] : -1; }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using ProgramFileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a program file for binary reading. Only a regular file opens: a directory or a
// device reads as no program, and a pipe could block for ever.
ProgramFileHandle OpenProgramFile(const std::string& path);

// The board kind of the first four bytes ("Main", "Disp", "Fing", "Port", case as
// written); None for any other tag or a source that ends before four bytes.
BoardKind ReadBoardTag(ByteSource& in);

enum class RecordStep { Record, End, Bad };

// Reads on to the next record. Bytes other than 0xEE before it are passed over; 0xFF or
// the end of the bytes gives End. A record is Bad when (len + its data bytes) modulo 256
// differs from (part A + part B) modulo 256, when the bytes end inside it, or when its
// length byte is above kMaxRecordLength. On Record, data holds its len + 1 data bytes.
RecordStep NextRecord(ByteSource& in, std::vector<uint8_t>& data);

struct ProgramScan {
    BoardKind board = BoardKind::None;
    uint32_t records = 0;
    // A known tag, at least one record and no bad record before the end.
    bool ok = false;
};

// Scans a program file: the tag, then records up to the end or the first bad one.
// onRecord is told the count after each valid record.
ProgramScan ScanProgram(ByteSource& in, const std::function<void(BoardKind)>& onBoard = {},
                        const std::function<void(uint32_t)>& onRecord = {});
ProgramScan ScanProgram(std::span<const uint8_t> bytes);

enum class ProgramCheck { Accepted, Refused, CantOpen };

// The line the check shows the operator for an outcome other than Accepted.
const char* ProgramCheckFailureLine(ProgramCheck outcome);

// A larger file is refused: far above any board's program memory, and it bounds what a
// transfer holds in memory.
constexpr size_t kMaxProgramFileBytes = 16 * 1024 * 1024;

// A program file read whole and scanned. The transfer sends these bytes, so what reaches
// the clock is what was checked even if the file changes meanwhile.
struct LoadedProgram {
    // CantOpen when the file cannot be opened or read to its end; Refused when it is too
    // large or its scan is not ok.
    ProgramCheck outcome = ProgramCheck::CantOpen;
    ProgramScan scan;
    std::vector<uint8_t> bytes;
};

LoadedProgram LoadProgram(const std::string& path, const std::function<void(BoardKind)>& onBoard = {},
                          const std::function<void(uint32_t)>& onRecord = {});

// The check of the program file named by ps.InputFileName, shown on the status display:
// progress and outcome lines, the board kind on panel 4 and in ps.ProgramBoard. A file
// that cannot be opened or is refused leaves ps.InputFileName empty and ps.ProgramBoard
// None. The window's own controls are the caller's to reset.
ProgramCheck CheckProgramFile(PollState& ps, IStatusDisplay& status);
