#include "ProgramFiles.h"
#include "commands/CommandRig.h"
#include "core/PollState.h"
#include "firmware/ProgramFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <random>

namespace {

std::vector<uint8_t> Tag(const char* t)
{
    return {t, t + 4};
}

const std::vector<uint8_t> kOne = ProgramRecord({0x10});
const std::vector<uint8_t> kLong = ProgramRecord(std::vector<uint8_t>(247, 0x5A));     // len 246
const std::vector<uint8_t> kTooLong = ProgramRecord(std::vector<uint8_t>(248, 0x5A));  // len 247

struct ScanRow {
    const char* name;
    std::vector<uint8_t> bytes;
    BoardKind board;
    uint32_t records;
    bool ok;
};

TEST(ProgramFileScan, byteExamples)
{
    const std::vector<uint8_t> partsOff = Bytes({0xEE, 0x00, 0x10, 0x08, 0x09});
    const ScanRow rows[] = {
        {"tag only", Tag("Main"), BoardKind::Main, 0, false},
        {"one record, checksum split 08 08", Concat({Tag("Disp"), Bytes({0xEE, 0x00, 0x10, 0x08, 0x08})}),
         BoardKind::Display, 1, true},
        {"parts 08 09", Concat({Tag("Disp"), partsOff}), BoardKind::Display, 0, false},
        {"CR LF between records skipped", Concat({Tag("Fing"), kOne, Bytes({0x0D, 0x0A}), kOne}),
         BoardKind::Fingerprint, 2, true},
        {"0xFF ends the scan", Concat({Tag("Port"), kOne, Bytes({0xFF}), partsOff}), BoardKind::PortableTC, 1,
         true},
        {"bad record stops the scan", Concat({Tag("Main"), kOne, partsOff, kOne}), BoardKind::Main, 1, false},
        {"lower-case tag", Concat({Tag("main"), kOne}), BoardKind::None, 0, false},
        {"length 246 fits a frame", Concat({Tag("Main"), kLong}), BoardKind::Main, 1, true},
        {"length 247 would overrun the request buffer", Concat({Tag("Main"), kOne, kTooLong}),
         BoardKind::Main, 1, false},
        {"truncated inside a record", Concat({Tag("Main"), kOne, Bytes({0xEE, 0x05, 1, 2})}), BoardKind::Main,
         1, false},
        {"truncated before the checksum", Concat({Tag("Main"), Bytes({0xEE, 0x00, 0x10, 0x10})}),
         BoardKind::Main, 0, false},
        {"empty", {}, BoardKind::None, 0, false},
        {"short tag", Bytes({'M', 'a'}), BoardKind::None, 0, false},
        {"all 0xFF", std::vector<uint8_t>(64, 0xFF), BoardKind::None, 0, false},
    };
    for (const ScanRow& row : rows) {
        const ProgramScan scan = ScanProgram(row.bytes);
        EXPECT_EQ(scan.board, row.board) << row.name;
        EXPECT_EQ(scan.records, row.records) << row.name;
        EXPECT_EQ(scan.ok, row.ok) << row.name;
    }
}

struct ProgramFileCheck : ::testing::Test {
    PollState ps;
    RecordingStatus status;
    std::string dir = MakeTempDir();

    ProgramCheck Check(const std::string& path)
    {
        ps.InputFileName = path;
        return CheckProgramFile(ps, status);
    }
};

TEST_F(ProgramFileCheck, acceptedFileShowsCountBoardAndLeavesThemForTheTransfer)
{
    const auto path = WriteProgramFile(dir + "/ok.pgm", ProgramImage("Disp", {{1}, {2, 3}, {4}}));
    EXPECT_EQ(Check(path), ProgramCheck::Accepted);
    EXPECT_EQ(status.log,
              (std::vector<std::string>{
                  "add: Checking Program File... ", "panel4:Display", "replace:  Checking Program File... 1",
                  "replace:  Checking Program File... 2", "replace:  Checking Program File... 3",
                  "add:Program File OK. - Display CPU Program."}));
    EXPECT_EQ(ps.ProgramBoard, BoardKind::Display);
    EXPECT_EQ(ps.InputFileName, path);
}

TEST_F(ProgramFileCheck, badInputIsRefusedWithItsMessage)
{
    std::vector<uint8_t> junk(10 * 1024 * 1024);
    std::mt19937 gen(7);
    for (auto& b : junk) b = static_cast<uint8_t>(gen());
    const std::string refused = "ERROR in Program File! ";
    const std::string cantOpen = "ERROR - couldn't open Program File! ";
    mkdir((dir + "/folder.pgm").c_str(), 0700);
    const auto unreadable = WriteProgramFile(dir + "/unreadable.pgm", ProgramImage("Main", {{1}}));
    chmod(unreadable.c_str(), 0);
    const struct {
        std::string path;
        std::string line;
    } rows[] = {
        {WriteProgramFile(dir + "/empty.pgm", {}), refused},
        {WriteProgramFile(dir + "/cut.pgm", Concat({Tag("Main"), kOne, Bytes({0xEE, 9, 1})})), refused},
        {WriteProgramFile(dir + "/ff.pgm", std::vector<uint8_t>(4096, 0xFF)), refused},
        {WriteProgramFile(dir + "/junk.pgm", junk), refused},
        {WriteProgramFile(dir + "/junk-tagged.pgm", Concat({Tag("Main"), junk})), refused},
        {dir + "/folder.pgm", cantOpen},
        {dir + "/missing.pgm", cantOpen},
        {geteuid() == 0 ? "/dev/null" : unreadable, cantOpen},  // root reads any file: a device then
    };
    for (const auto& row : rows) {
        ps.ProgramBoard = BoardKind::Main;
        status.ClearStatus();
        const ProgramCheck outcome = Check(row.path);
        EXPECT_NE(outcome, ProgramCheck::Accepted) << row.path;
        EXPECT_EQ(status.Lines().back(), row.line) << row.path;
        EXPECT_EQ(ps.InputFileName, "") << row.path;
        if (outcome == ProgramCheck::Refused) {
            EXPECT_EQ(status.ReadPanel(Panel::Board), "") << row.path;
            EXPECT_EQ(ps.ProgramBoard, BoardKind::None) << row.path;
        }
    }
}

}  // namespace
