#include "ProgramFile.h"

#include "core/PollState.h"
#include "core/RegularFile.h"
#include "core/StatusDisplay.h"

#include <cstring>
#include <string>

namespace {

struct Tag {
    const char* tag;
    BoardKind kind;
    const char* text;
};

const Tag kTags[] = {
    {"Main", BoardKind::Main, "Main"},
    {"Disp", BoardKind::Display, "Display"},
    {"Fing", BoardKind::Fingerprint, "Fingerprint"},
    {"Port", BoardKind::PortableTC, "Portable TC"},
};

constexpr int kRecordStart = 0xEE;
constexpr int kSequenceEnd = 0xFF;

}  // namespace

const char* BoardKindText(BoardKind kind)
{
    for (const Tag& t : kTags)
        if (t.kind == kind)
            return t.text;
    return "";
}

ProgramFileHandle OpenProgramFile(const std::string& path)
{
    return ProgramFileHandle(OpenRegularFile(path, "rb"));
}

BoardKind ReadBoardTag(ByteSource& in)
{
    // A string rather than a char[4]: GCC's -O3 overflow check misreads the fixed array
    // once the byte source is inlined.
    std::string tag;
    while (tag.size() < 4) {
        const int b = in.Get();
        if (b < 0)
            return BoardKind::None;
        tag.push_back(static_cast<char>(b));
    }
    for (const Tag& t : kTags)
        if (std::memcmp(tag.data(), t.tag, 4) == 0)
            return t.kind;
    return BoardKind::None;
}

RecordStep NextRecord(ByteSource& in, std::vector<uint8_t>& data)
{
    for (;;) {
        const int b = in.Get();
        if (b < 0 || b == kSequenceEnd)
            return RecordStep::End;
        if (b != kRecordStart)
            continue;

        const int len = in.Get();
        if (len < 0)
            return RecordStep::Bad;
        uint8_t sum = static_cast<uint8_t>(len);
        data.clear();
        for (int i = 0; i <= len; ++i) {
            const int d = in.Get();
            if (d < 0)
                return RecordStep::Bad;
            data.push_back(static_cast<uint8_t>(d));
            sum = static_cast<uint8_t>(sum + d);
        }
        const int a = in.Get();
        const int c = in.Get();
        if (a < 0 || c < 0 || sum != static_cast<uint8_t>(a + c))
            return RecordStep::Bad;
        // A longer record would run past the 256-byte request buffer when it is sent.
        return len > kMaxRecordLength ? RecordStep::Bad : RecordStep::Record;
    }
}

ProgramScan ScanProgram(ByteSource& in, const std::function<void(BoardKind)>& onBoard,
                        const std::function<void(uint32_t)>& onRecord)
{
    ProgramScan scan;
    scan.board = ReadBoardTag(in);
    if (scan.board == BoardKind::None)
        return scan;
    if (onBoard)
        onBoard(scan.board);
    std::vector<uint8_t> data;
    RecordStep step;
    while ((step = NextRecord(in, data)) == RecordStep::Record) {
        ++scan.records;
        if (onRecord)
            onRecord(scan.records);
    }
    scan.ok = step == RecordStep::End && scan.records > 0;
    return scan;
}

ProgramScan ScanProgram(std::span<const uint8_t> bytes)
{
    SpanSource in(bytes);
    return ScanProgram(in);
}

const char* ProgramCheckFailureLine(ProgramCheck outcome)
{
    switch (outcome) {
        case ProgramCheck::CantOpen:
            return "ERROR - couldn't open Program File! ";
        case ProgramCheck::Refused:
            return "ERROR in Program File! ";
        case ProgramCheck::Accepted:
            break;
    }
    return "";
}

LoadedProgram LoadProgram(const std::string& path, const std::function<void(BoardKind)>& onBoard,
                          const std::function<void(uint32_t)>& onRecord)
{
    LoadedProgram program;
    const ProgramFileHandle file = OpenProgramFile(path);
    if (!file)
        return program;
    // Reading on past the bound tells a file that is too large from one that just fits.
    uint8_t chunk[8192];
    size_t n;
    while (program.bytes.size() <= kMaxProgramFileBytes &&
           (n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        program.bytes.insert(program.bytes.end(), chunk, chunk + n);
    // A read error is not the end of the file: what was read may be a whole-looking program.
    if (std::ferror(file.get()))
        return program;
    program.outcome = ProgramCheck::Refused;
    if (program.bytes.size() > kMaxProgramFileBytes)
        return program;
    SpanSource in(program.bytes);
    program.scan = ScanProgram(in, onBoard, onRecord);
    program.outcome = program.scan.ok ? ProgramCheck::Accepted : ProgramCheck::Refused;
    return program;
}

ProgramCheck CheckProgramFile(PollState& ps, IStatusDisplay& status)
{
    status.AddStatusLine(" Checking Program File... ");
    const LoadedProgram program = LoadProgram(
        ps.InputFileName,
        [&](BoardKind board) {
            ps.ProgramBoard = board;
            status.SetPanel(Panel::Board, BoardKindText(board));
        },
        [&](uint32_t count) {
            status.ReplaceLastStatusLine("  Checking Program File... " + std::to_string(count));
        });

    if (program.outcome == ProgramCheck::Accepted) {
        status.AddStatusLine(std::string("Program File OK. - ") + BoardKindText(program.scan.board) +
                             " CPU Program.");
        return ProgramCheck::Accepted;
    }
    status.AddStatusLine(ProgramCheckFailureLine(program.outcome));
    status.SetPanel(program.outcome == ProgramCheck::CantOpen ? Panel::Network : Panel::Board, "");
    // No file stays selected, and no board: a transfer needs a file that passes a check.
    ps.ProgramBoard = BoardKind::None;
    ps.InputFileName.clear();
    return program.outcome;
}
