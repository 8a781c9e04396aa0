#include "ProgramFiles.h"
#include "commands/CommandRig.h"
#include "interpreter/Interpreter.h"
#include "firmware/ProgramFile.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::vector<uint8_t>> kRecords = {{0x10}, {1, 2, 3}, {0xFF, 0xEE, 0x00}};

// A checked program file for the main board and an operator who confirms.
struct ProgramTransferTest : CommandTest {
    ProgramTransferTest()
    {
        r.ps.InputFileName = WriteProgramFile(dir + "/main.pgm", ProgramImage("Main", kRecords));
        r.ps.ProgramBoard = BoardKind::Main;
        r.rig.op.answers = {true};
    }
    // The clock's answers to contact and erase.
    void ContactAndErase()
    {
        r.Reply(r.Packet(0xEB));
        r.Reply(r.Packet(0xA1));
    }
    std::vector<uint8_t> RecordFrame(const std::vector<uint8_t>& data) const
    {
        return Request(r.Station(), 0xED, Concat({{0x00}, data}));
    }
};

TEST_F(ProgramTransferTest, threeRecordMainUpgrade)
{
    ContactAndErase();
    r.Reply(r.Packet(0xA1), 3);
    r.Reply(r.Packet(0xEF));
    interp.RunCommand('U');

    EXPECT_EQ(r.rig.op.shown, std::vector<std::string>{
                                  "Are you sure? This function will erase and reprogram all KX3 memory?"});
    EXPECT_EQ(r.frames, (std::vector<std::vector<uint8_t>>{
                            Request(r.Station(), 0xEB, {0x5A, 0xA5}), Request(r.Station(), 0xED, {0x01}),
                            RecordFrame(kRecords[0]), RecordFrame(kRecords[1]), RecordFrame(kRecords[2]),
                            Request(r.Station(), 0xEF)}));
    EXPECT_EQ(RecordFrame(kRecords[0]).size(), 9u) << "length byte 0: a 4-byte body";
    EXPECT_EQ(
        r.MemoLog(),
        (std::vector<std::string>{
            "clear", "clear", "add: Initiating Program mode contact... ", "clear",
            "add: Initiating Program mode contact... OK.", "add: Erasing Program Memory... ",
            "replace: Erasing All Program Memory... OK.", "add: Programming... 0% ",
            "replace: Progamming... 1  :  33% Complete.  ", "replace: Progamming... 2  :  66% Complete.  ",
            "replace: Progamming... 3  :  100% Complete.  ", "add:Programming Completed Successfully! ",
            "add: Terminating Program Mode... ", "add:Programming Mode Terminated."}));
    EXPECT_EQ(r.Log("panel0:"), (std::vector<std::string>(3, "panel0:Retry 0")));
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    // Records sent of those the check counted.
    EXPECT_EQ(r.progress.log,
              (std::vector<std::string>{"begin Program records sent to the clock 3", "1 of 3 records",
                                        "2 of 3 records", "3 of 3 records, 0:00 left", "end"}));
}

TEST_F(ProgramTransferTest, displayFileToAClockRunningTheMainProgramIsRefusedBeforeErasing)
{
    r.ps.InputFileName = WriteProgramFile(dir + "/display.pgm", ProgramImage("Disp", kRecords));
    r.ps.ProgramBoard = BoardKind::Display;
    r.Reply(r.Packet(0xEB));
    interp.RunCommand('U');
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0], Request(r.Station(), 0xEC, {0x5A, 0xA5}));
    EXPECT_EQ(r.rig.status.Lines(),
              (std::vector<std::string>{" Initiating Program mode contact... ", " Error - Wrong Program.",
                                        " Error - Wrong Program (Main).",
                                        " Program mode contact not made with KX3."}));
    EXPECT_EQ(r.ps.PollStatus, ceWrongCommand) << "a contact that failed is not a success";
}

TEST_F(ProgramTransferTest, recordRefusedFiveTimesEndsWithoutTerminating)
{
    ContactAndErase();
    r.Reply(ReplyFrame(r.Station() + 1, 0xA1));  // another station: retried
    r.Reply(r.Packet(0xA0), 4);
    interp.RunCommand('U');
    EXPECT_EQ(r.frames.size(), 2u + 5u) << "five attempts at the first record, no terminate";
    EXPECT_EQ(r.Log("panel0:"),
              (std::vector<std::string>{"panel0:Retry 0", "panel0:Retry 1", "panel0:Retry 2",
                                        "panel0:Retry 3", "panel0:Retry 4"}));
    const auto lines = r.rig.status.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{" Programming... 0% ", "Program Error! ", "Communication ERROR! "}));
    EXPECT_EQ(r.ps.PollStatus, ceProgram);
}

TEST_F(ProgramTransferTest, silentRecordAndTerminateFailingThreeTimes)
{
    ContactAndErase();
    r.Reply(r.Packet(0xA1), 3);
    r.Silence(3);
    interp.RunCommand('U');
    EXPECT_EQ(r.frames.size(), 2u + 3u + 3u);
    EXPECT_EQ(r.rig.status.Lines().back(), "Error - Unable to terminate Program Mode! ");
    EXPECT_EQ(*(r.rig.status.Lines().end() - 3), "Programming Completed Successfully! ");

    // A record the clock never answers: five 4-tick waits, then a communication error.
    r.frames.clear();
    r.rig.op.answers = {true};
    ContactAndErase();
    interp.RunCommand('U');
    EXPECT_EQ(r.frames.size(), 2u + 5u);
    EXPECT_EQ(r.rig.status.Lines().back(), "Communication ERROR! ");
    EXPECT_EQ(r.ps.PollStatus, ceNoData);
}

TEST_F(ProgramTransferTest, nothingIsSentWithoutConfirmationOrFile)
{
    r.rig.op.answers = {false};
    interp.RunCommand('U');
    EXPECT_TRUE(r.frames.empty());
    EXPECT_TRUE(r.MemoLog().empty());
    EXPECT_EQ(r.ps.PollStatus, ceUserTerminated);

    r.rig.op.answers = {true};
    r.ps.InputFileName.clear();
    interp.RunCommand('U');
    EXPECT_TRUE(r.frames.empty());
    EXPECT_EQ(r.rig.status.Lines(), std::vector<std::string>{" Please select program file. "});
    EXPECT_EQ(r.ps.PollStatus, ceCantOpenFile);
}

// The file field, or the file itself, can change between the check and "Program": the file
// is checked again before the contact frame, and refused with the check's own line.
TEST_F(ProgramTransferTest, fileChangedAfterTheCheckIsRefusedBeforeAnyFrame)
{
    const std::string path = r.ps.InputFileName;
    auto spoiled = ProgramImage("Main", kRecords);
    spoiled.back() ^= 1;  // the last record's checksum
    auto ended = ProgramImage("Main", kRecords);
    ended.insert(ended.begin() + 4, 0xFF);  // an end mark before the first record
    const std::string refused = "ERROR in Program File! ";
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string line;
    } rows[] = {
        {"another board's program", ProgramImage("Disp", kRecords), refused},
        {"cut to its tag: no record to send", Bytes({'M', 'a', 'i', 'n'}), refused},
        {"no record before the end mark", ended, refused},
        {"not a program file", Bytes({'0', '1', '2', '3', 0xEE, 0, 1, 1, 0}), refused},
        {"a record spoiled", spoiled, refused},
        {"gone", {}, "ERROR - couldn't open Program File! "},
    };
    for (const auto& row : rows) {
        WriteProgramFile(path, ProgramImage("Main", kRecords));
        r.ps.InputFileName = path;
        ASSERT_EQ(CheckProgramFile(r.ps, r.rig.status), ProgramCheck::Accepted);
        if (row.bytes.empty())
            std::remove(path.c_str());
        else
            WriteProgramFile(path, row.bytes);
        r.rig.op.answers = {true};
        r.replies.clear();
        ContactAndErase();  // a clock that would take whatever it is sent
        r.Reply(r.Packet(0xEF));
        interp.RunCommand('U');
        EXPECT_TRUE(r.frames.empty()) << row.name;
        EXPECT_EQ(r.rig.status.Lines(), std::vector<std::string>{row.line}) << row.name;
        EXPECT_NE(r.ps.PollStatus, ceOK) << row.name;
    }
}

}  // namespace
