#include "CommandRig.h"
#include "commands/TableUploads.h"
#include "interpreter/Interpreter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Rows = std::vector<uint8_t>;
using tables::TableReader;

// Every packet the reader cuts from `text`, or the line of its input error.
struct Cut {
    std::vector<Rows> packets;
    std::vector<int> rowCounts;
    int errorLine = 0;
    std::size_t charsRead = 0;
};

Cut CutTable(TableRows kind, const std::string& text)
{
    Cut cut;
    TableReader reader(kind);
    const TableReader::ReadChar read = [&] {
        return cut.charsRead < text.size() ? static_cast<uint8_t>(text[cut.charsRead++]) : -1;
    };
    do {
        Rows rows;
        if (!reader.NextPacket(read, rows)) {
            cut.errorLine = reader.Line();
            break;
        }
        cut.packets.push_back(rows);
        cut.rowCounts.push_back(reader.RowsInPacket());
    } while (!reader.AtEnd());
    return cut;
}

// A PIN row: the characters, zeros to 13 bytes, then CR.
Rows Pin(const std::string& text)
{
    Rows out(text.begin(), text.end());
    out.resize(13, 0);
    out.push_back(0x0D);
    return out;
}

TEST(TableRows, linesBecomeTheRowsOfTheirFormat)
{
    const std::optional<Rows> bad;
    const struct {
        TableRows kind;
        bool lastLine;  // a last line without its line feed
        std::string line;
        std::optional<Rows> row;
    } rows[] = {
        {TableRows::BellTable, false, "12345678", Bytes({0x12, 0x34, 0x56, 0x78})},
        {TableRows::BellTable, true, "1234", Bytes({0x12, 0x34})},
        {TableRows::BellTable, true, "123", bad},
        {TableRows::JobNumbers, false, "", Bytes({0xF0})},
        {TableRows::JobNumbers, false, "17", Bytes({0x17, 0xF0})},
        {TableRows::JobNumbers, false, "12345678901234",
         Bytes({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xF0})},
        {TableRows::JobNumbers, true, "0099", Bytes({0x00, 0x99})},
        {TableRows::PinNumbers, false, "12,34", Pin("000012,34")},
        {TableRows::PinNumbers, false, "123456,abcdef", Pin("123456,abcdef")},
        {TableRows::PinNumbers, false, "7", Pin("000007,")},
        {TableRows::PinNumbers, true, "7,", Pin("000007,")},
        {TableRows::Messages, false, "", Rows{}},
        {TableRows::Messages, false, "Msg 07", Bytes({'M', 's', 'g', ' ', '0', '7', 0x0A})},
        {TableRows::Messages, true, "42", Bytes({'4', '2'})},
    };
    for (const auto& row : rows) {
        const auto got =
            row.lastLine ? tables::EncodeLastLine(row.kind, row.line) : tables::EncodeRow(row.kind, row.line);
        EXPECT_EQ(got, row.row) << static_cast<int>(row.kind) << " '" << row.line << "'";
    }
    // Lines that are no row of their format.
    const std::pair<TableRows, std::vector<std::string>> malformed[] = {
        {TableRows::BellTable, {"1234567", "123456", "1234567A", ""}},
        {TableRows::JobNumbers, {"1234567890123456", "123", "1 "}},
        {TableRows::PinNumbers, {"", ",12", "1234567", "1,1234567", "123456,123456x"}},
        {TableRows::Messages, {"01234567890"}},
    };
    for (const auto& [kind, lines] : malformed)
        for (const auto& line : lines) EXPECT_EQ(tables::EncodeRow(kind, line), bad) << "'" << line << "'";
}

// Packets hold their rows and the read-ahead character starts the next; a malformed line is
// named, and a long line stops the reading at once. (Bad lines in the first and in a later
// packet are rows of the command-level table.)
TEST(TableReaderTest, packetsAndInputErrorsAsRows)
{
    const Rows bell = Bytes({0x12, 0x34, 0x56, 0x78});
    const Rows pin = Pin("000001,2");
    const std::string huge(100000, '1');
    const struct {
        TableRows kind;
        std::string text;
        std::vector<Rows> packets;
        std::vector<int> rowCounts;
        int errorLine = 0;
    } rows[] = {
        {TableRows::BellTable, Repeat("12345678\n", 20), {Repeat(bell, 20)}, {20}},
        {TableRows::BellTable, Repeat("12345678\r\n", 21), {Repeat(bell, 20), bell}, {20, 1}},
        {TableRows::BellTable, "12345678\n12345678", {Repeat(bell, 2)}, {1}},
        {TableRows::BellTable, Repeat("12345678\n", 20) + "1234", {Repeat(bell, 20), Bytes({0x12, 0x34})},
         {20, 0}},
        {TableRows::JobNumbers, Repeat("\n", 21), {Rows(20, 0xF0), {0xF0}}, {20, 1}},
        {TableRows::PinNumbers, Repeat("1,2\n", 8), {Repeat(pin, 7), pin}, {7, 1}},
        {TableRows::PinNumbers, "1,2", {pin}, {0}},
        {TableRows::Messages, "\n\n1\n\n22\n", {Bytes({'1', 0x0A, '2', '2', 0x0A})}, {2}},
        {TableRows::Messages, Repeat("9\n", 10) + "\n", {Repeat(Bytes({'9', 0x0A}), 10), {}}, {10, 0}},
        {TableRows::BellTable, "12345678\n123", {}, {}, 2},  // a last line too short
        {TableRows::BellTable, huge, {}, {}, 1},
        {TableRows::JobNumbers, "\n\n" + huge + "\n", {}, {}, 3},
        {TableRows::PinNumbers, "1,2\n" + huge, {}, {}, 2},
        {TableRows::Messages, "\n\n\n" + huge, {}, {}, 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        const Cut cut = CutTable(row.kind, row.text);
        EXPECT_EQ(cut.errorLine, row.errorLine);
        EXPECT_EQ(cut.packets, row.packets);
        EXPECT_EQ(cut.rowCounts, row.rowCounts);
        EXPECT_LT(cut.charsRead, 300u);
    }
}

struct TableUploadsTest : CommandTest {
    TableUploadsTest() : CommandTest("table.txt") {}
};

// (Twenty rows to a packet, the closing code, the results line and a restart that sends the
// same packets again are checked end to end by the bell-table scenario.)
TEST_F(TableUploadsTest, busyPacketRestartsTheWholeTableAfterTheBusyWait)
{
    WriteData(Repeat("12345678\n", 41));
    r.Reply(r.Accepted(), 2);
    r.Reply(r.Busy());
    r.Reply(r.Accepted(), 4);
    const int64_t start = r.rig.time.NowMs();
    interp.RunCommand('C');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    ASSERT_EQ(r.frames.size(), 7u);
    const std::vector<uint8_t> sequences = {0, 1, 1, 0, 1, 1, 3};
    for (std::size_t i = 0; i < sequences.size(); ++i) EXPECT_EQ(r.frames[i][2], sequences[i]) << i;
    EXPECT_GE(r.rig.time.NowMs() - start, 4000);
    const std::string send = "replace: set_belltable - Sending Table";
    EXPECT_EQ(r.rig.status.log,
              (std::vector<std::string>{send, send, send, "panel0:Retry 1",
                                        "replace: set_belltable - Clock Busy Please Wait...", send, send,
                                        send, "replace:set_belltable\t - OK"}));
}

TEST_F(TableUploadsTest, theFourthFailureInAllEndsTheUpload)
{
    // Each time the first packet is accepted and the second rejected: the failures add up.
    r.ps.CommandKeyword = "set_belltable2";
    WriteData(Repeat("12345678\n", 25));
    for (int i = 0; i < 4; ++i) {
        r.Reply(r.Accepted());
        r.Reply(r.Rejected());
    }
    interp.RunCommand('E');
    EXPECT_EQ(r.ps.PollStatus, ceClockReceivedDataError);
    ASSERT_EQ(r.frames.size(), 8u);
    EXPECT_EQ(r.frames[6][2], 0);
    EXPECT_EQ(r.frames[7][2], 1);
    EXPECT_EQ(r.rig.status.ReadPanel(Panel::Retry), "Retry 4");
    EXPECT_EQ(r.rig.status.Lines().back(), "set_belltables2   - Clock Received Data Error");
    EXPECT_EQ(ReadFileBytes(results), ResultLine("set_belltable2", "04"));
}

// Every member checks its whole file first: a bad line, in a later packet or after the PIN
// numbers would have been cleared, sends nothing at all and is named in memo and results.
TEST_F(TableUploadsTest, inputErrorsAnywhereInTheFileNameTheirLineAndSendNothing)
{
    const struct {
        char letter;
        std::string keyword, text, line, result;
    } rows[] = {
        {'C', "set_belltable", Repeat("12345678\n", 6) + "123456\n",
         "set_belltable\t\t- Input File Error Line: 7", "22 7"},
        {'C', "set_belltable", Repeat("12345678\n", 24) + std::string(300, '1'),
         "set_belltable\t\t- Input File Error Line: 25", "22 25"},
        {'E', "set_belltable2", "1\n", "set_belltables2   - Input File Error Line: 1", "22 1"},
        {'F', "set_jobnumbers", "\n123\n", "set_jobnumbers    - Input File Error Line: 2", "22 2"},
        {'R', "set_pinnumbers", std::string(5000, '9'), "set_pinnumbers    - Input File Error Line: 1",
         "22 1"},
        {'R', "set_pinnumbers", Repeat("1,2\n", 9) + "1,2345678",
         "set_pinnumbers    - Input File Error Line: 10", "22 10"},
        {'P', "clear_message", "\n12345678901\n", "clear_message     - Input File Error Line: 2", "22 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        Fresh();
        r.Reply(r.Accepted(), 3);
        r.ps.CommandKeyword = row.keyword;
        WriteData(row.text);
        interp.RunCommand(row.letter);
        EXPECT_EQ(r.ps.PollStatus, ceInputFileLine);
        EXPECT_EQ(r.rig.status.Lines().back(), row.line);
        EXPECT_TRUE(r.frames.empty());
        EXPECT_EQ(ReadFileBytes(results), ResultLine(row.keyword, row.result));
    }
}

// The frames of each table for the clock's answers (a accepted, r rejected), none waited
// for longer than its reply takes. Job numbers close with their level, and their packets
// stop past ninety bytes. PIN numbers are cleared first and the cleared table is always
// closed, also after a file without a final line feed, an empty file and an upload the
// clock gave up on: the clock keeps the PIN numbers it took, never an unclosed table.
// clear_message sends sequence two every time and no closing frame.
TEST_F(TableUploadsTest, eachTableSendsItsPacketsAndItsClosingFrame)
{
    const Rows job = Bytes({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0xF0});
    const std::string jobs = Repeat("12345678901234\n", 12);
    const Rows clear = Request(0xC7, 0xB5, {0x02});
    const Rows pins = Request(0xC7, 0xB5, Concat({{0x00}, Pin("000012,34")}));
    const Rows close = Request(0xC7, 0xB5, {0x03});
    const Rows nine = Request(0xC7, 0xB0, Concat({{0x02}, Repeat(Bytes({'9', 0x0A}), 10)}));
    const auto jobFrames = [&](uint8_t level) {
        return std::vector<Rows>{Request(0xC7, 0xA7, Concat({{0x00}, Repeat(job, 11)})),
                                 Request(0xC7, 0xA7, Concat({{0x01}, job})), Request(0xC7, 0xA7, {level})};
    };
    const struct {
        char letter, level;
        std::string text, answers;
        std::vector<Rows> frames;
        ClockError result;
    } rows[] = {
        // clang-format off
        {'E', '1', "", "aa", {Request(0xC7, 0xA9, {0x00}), Request(0xC7, 0xA9, {0x02})}, ceOK},
        {'F', '1', jobs, "aaa", jobFrames(0x05), ceOK},
        {'F', '2', jobs, "aaa", jobFrames(0x04), ceOK},
        {'R', '1', "12,34\n", "aaa", {clear, pins, close}, ceOK},
        {'R', '1', "12,34", "aaa", {clear, pins, close}, ceOK},
        {'R', '1', "", "aaa", {clear, Request(0xC7, 0xB5, {0x00}), close}, ceOK},
        {'R', '1', "12,34\n", "arrrra", {clear, pins, pins, pins, pins, close}, ceClockReceivedDataError},
        {'P', '1', Repeat("9\n", 10) + "\n8\n", "raa", {nine, nine, Request(0xC7, 0xB0, {0x02, '8', 0x0A})},
         ceOK},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(1, row.letter) + " " + row.text.substr(0, 20) + " " + row.answers);
        Fresh();
        WriteData(row.text);
        for (const char a : row.answers) r.Reply(a == 'a' ? r.Accepted() : r.Rejected());
        r.ps.JobTableDigit = row.level;
        const int64_t start = r.rig.time.NowMs();
        interp.RunCommand(row.letter);
        EXPECT_EQ(r.frames, row.frames);
        EXPECT_EQ(r.ps.PollStatus, row.result);
        EXPECT_LT(r.rig.time.NowMs() - start, 200 * static_cast<int64_t>(row.frames.size()));
    }
}

// A clearing frame that fails three times ends the command with its result; a busy clock is
// asked again at once and shows no line.
TEST_F(TableUploadsTest, aPinClearingFrameBusyThreeTimesEndsTheUploadAtOnce)
{
    WriteData("12,34\n");
    r.Reply(r.Busy(), 3);
    const int64_t start = r.rig.time.NowMs();
    interp.RunCommand('R');
    EXPECT_EQ(r.ps.PollStatus, ceBusy);
    EXPECT_EQ(r.frames, std::vector<Rows>(3, Request(0xC7, 0xB5, {0x02})));
    EXPECT_LT(r.rig.time.NowMs() - start, 1000);
    EXPECT_EQ(r.MemoLog(), (std::vector<std::string>{"replace:set_pinnumbers    - Clock Busy"}));
}

TEST_F(TableUploadsTest, closingFrameRetriedAtOnceAndItsFailureIsTheResult)
{
    WriteData("12345678\n");
    r.Reply(r.Accepted());
    r.Reply(r.Busy());
    r.Reply(r.Rejected(), 2);
    interp.RunCommand('C');
    EXPECT_EQ(r.ps.PollStatus, ceClockReceivedDataError);
    EXPECT_EQ(r.frames.size(), 4u);
    EXPECT_EQ(r.MemoLog(), (std::vector<std::string>{"replace: set_belltable - Sending Table",
                                                     "replace:set_belltable\t - Clock Received Data Error"}));
}

}  // namespace
