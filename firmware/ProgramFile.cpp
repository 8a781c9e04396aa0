#include "ProgramFile.h"

#include "core/PollState.h"
#include "core/StatusDisplay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstring>

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

BoardKind BoardKindFromText(const std::string& text)
{
    for (const Tag& t : kTags)
        if (text == t.text)
            return t.kind;
    return BoardKind::None;
}

ProgramFileHandle OpenProgramFile(const std::string& path)
{
    // Opened without blocking so that a pipe cannot hold the window; refused below anyway.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr)
        ::close(fd);
    return ProgramFileHandle(f);
}

BoardKind ReadBoardTag(ByteSource& in)
{
    char tag[4];
    for (char& c : tag) {
        const int b = in.Get();
        if (b < 0)
            return BoardKind::None;
        c = static_cast<char>(b);
    }
    for (const Tag& t : kTags)
        if (std::memcmp(tag, t.tag, 4) == 0)
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

ProgramCheck CheckProgramFile(PollState& ps, IStatusDisplay& status)
{
    status.AddStatusLine(" Checking Program File... ");
    const ProgramFileHandle file = OpenProgramFile(ps.InputFileName);
    if (!file) {
        status.AddStatusLine("ERROR - couldn't open Program File! ");
        status.SetPanel(5, "");
        ps.InputFileName.clear();
        return ProgramCheck::CantOpen;
    }

    ps.ProgramRecordCount = 0;
    FileSource in(file.get());
    const ProgramScan scan = ScanProgram(
        in,
        [&](BoardKind board) {
            ps.ProgramBoard = BoardKindText(board);
            status.SetPanel(4, ps.ProgramBoard);
        },
        [&](uint32_t count) {
            ps.ProgramRecordCount = count;
            status.ReplaceLastStatusLine("  Checking Program File... " + std::to_string(count));
        });

    if (!scan.ok) {
        status.AddStatusLine("ERROR in Program File! ");
        status.SetPanel(4, "");
        ps.ProgramBoard.clear();
        ps.InputFileName.clear();
        return ProgramCheck::Refused;
    }
    status.AddStatusLine(std::string("Program File OK. - ") + BoardKindText(scan.board) + " CPU Program.");
    return ProgramCheck::Accepted;
}
