#include "CommandRig.h"
#include "commands/StatusReport.h"
#include "commands/TimeCommands.h"
#include "interpreter/CommandTable.h"
#include "interpreter/Interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace {

const std::string kEnd = "\r\n\r";

// A status block with every kind of field filled in.
std::vector<uint8_t> StatusBlock()
{
    return Bytes({0x05, 0x01, 0x0D, 0x08,                       // D0..D3 option bits
                  '1',  '2',  0x00, '4',  0x00, '6',            // D4..D9 access code
                  '9',  '9',  '5',  '0',  '0',  '4',            // D10..D15
                  '1',  '0',  '2',  '0',  '3',  '0', '4', '0',  // D16..D23
                  0x09, 0x04, 0x01, 0x12,                       // D24..D27 versions
                  0x35, 0x04,                                   // D28, D29 modules
                  0x09, 0x02, 0x00, 0x05});                     // D30..D33 errors
}

// A golden report (plain LF lines), or its first `lines` lines, each ending as `end`.
std::string Golden(const std::string& name, const std::string& end = kEnd, std::size_t lines = 0)
{
    std::istringstream in(ReadFileBytes(std::string(QV_SOURCE_DIR) + "/tests/commands/golden/" + name));
    std::string out, line;
    for (std::size_t n = 0; (lines == 0 || n < lines) && std::getline(in, line); ++n) out += line + end;
    return out;
}

const std::string kReport = Golden("status_full.txt");

struct TimeCommandsTest : CommandTest {
    TimeCommandsTest() : CommandTest("status.txt") {}
    std::vector<uint8_t> StatusReply(const std::vector<uint8_t>& block) const
    {
        return r.Packet(0xAD, block);
    }
};

using Replies = std::vector<std::optional<std::vector<uint8_t>>>;

// The time frame carries the BCD time, the date frame the date of the same reading even when
// it goes after midnight; a retry after the busy wait carries the time and date of the retry.
TEST_F(TimeCommandsTest, setTimeSendsTheTimeThenTheDateOfTheSameReading)
{
    const auto ok = r.Accepted();
    const struct {
        int second;
        Replies replies;
        std::vector<std::vector<uint8_t>> frames;
    } rows[] = {
        // 31 December 2011 was a Saturday.
        // clang-format off
        {59, {ok, ok},
         {Request(0xC7, 0xA5, {0x23, 0x59, 0x59}), Request(0xC7, 0xA6, {0x07, 0x31, 0x12, 0x11})}},
        // Five changes of the second later: Sunday 1 January 2012.
        {58, {r.Busy(), ok, ok},
         {Request(0xC7, 0xA5, {0x23, 0x59, 0x58}), Request(0xC7, 0xA5, {0x00, 0x00, 0x03}),
          Request(0xC7, 0xA6, {0x01, 0x01, 0x01, 0x12})}},
        // clang-format on
    };
    for (const auto& row : rows) {
        Fresh();
        r.rig.time.Set(2011, 12, 31, 23, 59, row.second, 100);
        r.replies.assign(row.replies.begin(), row.replies.end());
        interp.RunCommand('A');
        EXPECT_EQ(r.ps.PollStatus, ceOK);
        EXPECT_EQ(r.frames, row.frames) << row.second;
    }
}

// Every retry and reply-fault shape: the memo and panel operations in order (where the
// sending line goes, whether the busy line replaces or adds, whether a retry is counted
// before or after the busy wait), the end status, the frames sent, the time waited,
// and that a failed command stores nothing.
TEST_F(TimeCommandsTest, eachRetryShapeKeepsItsMemoPanelsStatusAndFrames)
{
    const auto busy = r.Busy();
    const auto ok = r.Accepted();
    const auto status = StatusReply(StatusBlock());
    const auto rejected = r.Rejected();
    auto badCrc = StatusReply(StatusBlock());
    badCrc[5] ^= 0x40;
    const std::string timeSend = "replace:set_time - Waiting for reply...";
    const std::string timeBusy = "replace:set_time - Clock Busy Please Wait...";
    auto badAck = ok;
    badAck[2] ^= 0x01;
    const std::string boardSend = "replace: key_board ON - Sending Command";
    const std::string boardBusy = "replace: key_board ON - Clock Busy Please Wait...";
    const std::string offSend = "replace: key_board OFF - Sending Command";
    const std::string statusSend = "replace: get_status - Waiting for reply...";
    const std::string statusBusy = "add:Clock Busy - Please Wait...";
    const std::vector<std::string> statusRetries = {statusSend, "panel0:Retry 1", "panel0:Retry 2",
                                                    "panel0:Retry 3"};
    const auto statusFails = [&](const std::string& last) {
        auto log = statusRetries;
        log.push_back("replace:get_status        - " + last);
        return log;
    };
    const struct {
        char letter;
        ClockError status;
        std::size_t frames;
        int seconds;  // waited, give or take a second of fake time
        Replies replies;
        std::vector<std::string> log;
    } rows[] = {
        // clang-format off
        // set_time: a busy time frame is waited out, then counted; a busy date frame the
        // other way round. A time frame that fails sends no date.
        {'A', ceOK, 3, 5, {busy, ok, ok},
         {timeSend, timeBusy, "panel0:Retry 1", timeSend, timeSend, "replace:set_time          - OK"}},
        {'A', ceOK, 3, 5, {ok, busy, ok},
         {timeSend, timeSend, "panel0:Retry 1", timeBusy, timeSend, "replace:set_time          - OK"}},
        {'A', ceNoData, 3, 12, {},
         {timeSend, "panel0:Retry 1", timeSend, "panel0:Retry 2", timeSend, "panel0:Retry 3",
          "replace:set_time          - No Data Received from Clock"}},
        // get_status: one sending line, the busy line added, busy from any station.
        {'Y', ceOK, 3, 5, {busy, status, ok},
         {statusSend, "panel0:Retry 1", statusBusy, "replace:get_status        - OK"}},
        {'Y', ceOK, 3, 5, {ReplyFrame(0xC8, 0xB0), status, ok},
         {statusSend, "panel0:Retry 1", statusBusy, "replace:get_status        - OK"}},
        {'Y', ceCrc, 3, 0, {badCrc, badCrc, badCrc}, statusFails("CRC Data Error")},
        {'Y', ceWrongStation, 3, 0, Replies(3, ReplyFrame(0xC8, 0xAD, StatusBlock())),
         statusFails("Wrong Station Replied")},
        {'Y', ceWrongCommand, 3, 0, Replies(3, ReplyFrame(r.Station(), 0xE6, StatusBlock())),
         statusFails("Wrong Command Received")},
        // A reply too short for its digits.
        {'Y', ceCrc, 3, 0, Replies(3, Bytes({0xC7, 0xAD, 0xFF})), statusFails("CRC Data Error")},
        // A status reply without data is the wrong command, and is not acknowledged.
        {'Y', ceWrongCommand, 1, 0, {StatusReply({})},
         {statusSend, "replace:get_status        - Wrong Command Received"}},
        // reset_errors: no sending line; a silent clock has accepted. system_reset awaits no reply.
        {'X', ceOK, 1, 3, {std::nullopt}, {"replace:reset_errors      - OK"}},
        {'Z', ceOK, 1, 0, {}, {"replace:system_reset      - OK"}},
        {'X', ceClockReceivedDataError, 3, 5, {busy, rejected, rejected},
         {"panel0:Retry 1", "replace: reset_errors - Clock Busy Please Wait...", "panel0:Retry 2",
          "panel0:Retry 3", "replace:reset_errors      - Clock Received Data Error"}},
        // key_board: three busy replies are three waits, the last included; other failures
        // are retried at once and the last one is reported.
        {'I', ceBusy, 3, 15, {busy, busy, busy},
         {boardSend, "panel0:Retry 1", boardBusy, boardSend, "panel0:Retry 2", boardBusy, boardSend,
          "panel0:Retry 3", boardBusy, "replace:key_board ON      - Clock Busy"}},
        {'J', ceWrongStation, 3, 4, {std::nullopt, badAck, ReplyFrame(0xC8, 0xE6)},
         {offSend, "panel0:Retry 1", offSend, "panel0:Retry 2", offSend, "panel0:Retry 3",
          "replace:key_board OFF     - Wrong Station Replied"}},
        {'J', ceOK, 2, 0, {badAck, ok},
         {offSend, "panel0:Retry 1", offSend, "replace:key_board OFF     - OK"}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, row.letter) + " row of " + std::to_string(row.replies.size()) +
                     " replies, " + std::to_string(ClockErrorNumber(row.status)));
        Fresh();
        r.replies.assign(row.replies.begin(), row.replies.end());
        std::remove(data.c_str());
        const int64_t start = r.rig.time.NowMs();
        interp.RunCommand(row.letter);
        EXPECT_EQ(r.rig.status.log, row.log);
        EXPECT_EQ(r.ps.PollStatus, row.status);
        EXPECT_EQ(r.frames.size(), row.frames);
        EXPECT_NEAR((r.rig.time.NowMs() - start) / 1000.0, row.seconds, 1.0);
        if (row.status != ceOK) {
            EXPECT_EQ(ReadFileBytes(data), "<missing>");
        }
    }
}

// A report the disk cannot take is not reported as read, although the clock has already
// been told it was. (A report appended and acknowledged, over either link, is checked end
// to end by the network-run and serial scenarios, and one on a full disk by the file-fault
// tests.)
TEST_F(TimeCommandsTest, aReportThatCannotBeStoredIsAFailureAfterTheAcknowledge)
{
    r.ps.CommandKeyword = "get_status";
    r.ps.InputFileName = dir + "/missing/status.txt";
    r.Reply(StatusReply(StatusBlock()), 2);
    interp.RunCommand('Y');
    EXPECT_EQ(r.ps.PollStatus, ceCantOpenFile);
    EXPECT_TRUE(r.ps.ResultFailed);
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[1], Request(0xC7, 0xA1));
    EXPECT_EQ(r.rig.status.Lines().back(), "get_status        - Can't Open File");
    EXPECT_EQ(ReadFileBytes(results), ResultLine("get_status", "09"));
}

TEST(StatusReportFormat, moduleKindsUseTheLowNibbleOnly)
{
    auto block = StatusBlock();
    const struct {
        uint8_t input, comms;
        const char* inputText;
        const char* commsText;
    } rows[] = {
        {0xF1, 0x12, "Input Module       Card Reader", "Comms Module       RS232"},
        {0x05, 0x03, "Input Module       Fingerprint", "Comms Module       RS485"},
        {0x15, 0x14, "Input Module       Fingerprint", "Comms Module       TCP/IP"},
        {0x02, 0x05, "Input Module       Not Fitted", "Comms Module       Not Fitted"},
    };
    for (const auto& row : rows) {
        block[28] = row.input;
        block[29] = row.comms;
        const std::string lines = std::string("01 ") + row.inputText + "\n\r01 " + row.commsText + "\n\r";
        EXPECT_NE(FormatStatusReport("01", block).find(lines), std::string::npos) << lines;
    }
}

// A short reply gives only the lines whose bytes all arrived. A fatal RAM error is the one
// error line, and an empty access code leaves a blank.
TEST(StatusReportFormat, blocksGiveTheirGoldenReports)
{
    const auto block = StatusBlock();
    auto fatal = block;
    std::fill(fatal.begin() + 4, fatal.begin() + 10, 0);
    fatal[30] = 0x06;
    fatal[31] = fatal[33] = 0x00;
    const struct {
        const std::vector<uint8_t>& block;
        std::size_t held;
        const char* golden;
        std::size_t lines;  // the first lines of the golden report; 0 = all of it
    } rows[] = {
        {block, 34, "status_full.txt", 0},  {block, 33, "status_33.txt", 0},
        {block, 2, "status_2.txt", 0},      {block, 9, "status_full.txt", 10},
        {block, 10, "status_full.txt", 11}, {block, 13, "status_full.txt", 12},
        {block, 25, "status_full.txt", 18}, {block, 0, "", 0},
        {fatal, 34, "status_fatal.txt", 0},
    };
    for (const auto& row : rows) {
        const std::string expected = *row.golden ? Golden(row.golden, "\n\r", row.lines) : "";
        const std::vector<uint8_t> held(row.block.begin(), row.block.begin() + row.held);
        EXPECT_EQ(FormatStatusReport("07", held), expected) << row.golden << " " << row.held << " bytes";
    }
}

TEST_F(TimeCommandsTest, shortStatusReplyIsReportedWithoutReadingStaleBytes)
{
    // Leave status bytes of an earlier full reply in the receive buffer.
    r.Reply(StatusReply(StatusBlock()), 2);
    interp.RunCommand('Y');
    const auto block = StatusBlock();
    r.Reply(StatusReply({block[0], block[1]}), 2);
    interp.RunCommand('Y');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(ReadFileBytes(data), kReport + Golden("status_2.txt"));
}

TEST_F(TimeCommandsTest, requestStatusHonoursItsWaitAndAttempts)
{
    r.ctx.texts = &FindKeyword("get_status")->texts;
    TimeCommands commands(r.ctx);
    const int64_t start = r.rig.time.NowMs();
    EXPECT_EQ(commands.RequestStatus(2, 1), ceNoData);
    EXPECT_EQ(r.frames.size(), 1u);
    EXPECT_LT(r.rig.time.NowMs() - start, 2100);

    // A reply whose terminator never comes: a length was never recorded either, so 1.
    r.Reply(Bytes({0xC7, 0xAD, 0x30}));
    EXPECT_EQ(commands.RequestStatus(3, 2), ceNoData);
    EXPECT_EQ(r.frames.size(), 3u);
}

}  // namespace
