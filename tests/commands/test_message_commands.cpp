#include "CommandRig.h"
#include "commands/MessageCommands.h"
#include "interpreter/Interpreter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using msgfile::MessageReader;
using Step = MessageReader::Step;

msgfile::CharSource Source(const std::string& text)
{
    return [text, at = std::size_t{0}]() mutable {
        return at < text.size() ? static_cast<uint8_t>(text[at++]) : -1;
    };
}

// A message file read to its end: every packet as "<sequence>:<characters>", how reading
// ended, the line it ended on and how many characters it took.
struct Read {
    std::vector<std::string> packets;
    Step last{};
    int line = 0;
    std::size_t chars = 0;
};

Read ReadMessages(const std::string& text)
{
    MessageReader reader(Source(text));
    Read out;
    std::vector<uint8_t> packet;
    while ((out.last = reader.Next(packet)) == Step::Packet)
        out.packets.push_back(std::to_string(packet[0]) + ":" +
                              std::string(packet.begin() + 1, packet.end()));
    out.line = reader.Line();
    out.chars = reader.CharsRead();
    return out;
}

std::string Chars(int n, char c = 'x')
{
    return std::string(static_cast<std::size_t>(n), c);
}

// Five lines of 25 characters with LF line ends: 131 characters with the braces.
const std::string kLongMessage = "{" + Chars(25, 'a') + "\n" + Chars(25, 'b') + "\n" + Chars(25, 'c') + "\n" +
                                 Chars(25, 'd') + "\n" + Chars(25, 'e') + "}";

// The file is never held whole: however large, it is read only up to the character that can
// no longer belong to a message.
TEST(MessageReader, messageRulesAsRows)
{
    const std::string huge(1000000, 'x');
    const struct {
        std::string text;
        std::vector<std::string> packets;
        Step last;
        int line;
    } rows[] = {
        {"", {}, Step::End, 1},
        {" \n\t\n", {}, Step::End, 3},
        // Bytes below "0" before and between messages are skipped; line feeds still count.
        {"\n {Hi}\n\n  \t{Yo\nthere}  \n", {"1:{Hi}", "1:{Yo\nthere}"}, Step::End, 6},
        {kLongMessage, {"1:" + kLongMessage.substr(0, 99), "2:" + kLongMessage.substr(99)}, Step::End, 5},
        // 30 characters a line, counted from "{" or the line feed, "}" included.
        {"{" + Chars(28) + "}", {"1:{" + Chars(28) + "}"}, Step::End, 1},
        {"{" + Chars(29) + "}", {}, Step::InputError, 1},
        {"{\n" + Chars(29) + "}", {"1:{\n" + Chars(29) + "}"}, Step::End, 2},
        {"{a}\n{\n" + Chars(30) + "}", {"1:{a}"}, Step::InputError, 3},
        {"{" + Chars(119) + "}", {}, Step::InputError, 1},
        // At most 7 lines; "{" only on a message's first line.
        {"{1\n2\n3\n4\n5\n6\n7}", {"1:{1\n2\n3\n4\n5\n6\n7}"}, Step::End, 7},
        {"{1\n2\n3\n4\n5\n6\n7\n8}", {}, Step::InputError, 8},
        {"{a}\n\nab{c}", {"1:{a}", "1:ab{c}"}, Step::End, 3},
        {"{a}\n\nab\n{c}", {"1:{a}"}, Step::InputError, 4},
        // A last message without its "}": the full packets before it only.
        {"{a}\n{bc\n", {"1:{a}"}, Step::InputError, 3},
        {"{" + Chars(25) + "\n" + Chars(25) + "\n" + Chars(25) + "\n" + Chars(25) + "\n" + Chars(25),
         {"1:{" + Chars(25) + "\n" + Chars(25) + "\n" + Chars(25) + "\n" + Chars(20)},
         Step::InputError,
         5},
        // Other bytes, high ones included, are sent as they are.
        {"{\xE9\x7F}", {"1:{\xE9\x7F}"}, Step::End, 1},
        // A message that breaks a rule stops the reading at once.
        {"{" + huge, {}, Step::InputError, 1},
        {"{a}\n{" + std::string(1000000, '\n'), {"1:{a}"}, Step::InputError, 9},
        {"{a}\n\n" + huge + "{", {"1:{a}"}, Step::InputError, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        const Read read = ReadMessages(row.text);
        EXPECT_EQ(read.packets, row.packets);
        EXPECT_EQ(read.last, row.last);
        EXPECT_EQ(read.line, row.line);
        EXPECT_LT(read.chars, 300u);
    }
}

TEST(OneFrameReaders, payloadsAsRows)
{
    const auto hex = [](const msgfile::Payload& p) {
        std::string out;
        for (uint8_t b : p.bytes) out += "0123456789ABCDEF"[b >> 4], out += "0123456789ABCDEF"[b & 15];
        return p.Ok() ? out : out + " error " + std::to_string(p.errorLine);
    };
    const std::string digits496 = Chars(496, '1');
    const struct {
        char reader;
        std::string text;
        std::string expected;
    } rows[] = {
        {'L', "1\n7\n3", "17"},
        {'L', "9:", "9A"},
        {'L', digits496 + "\n\n", std::string(496, '1')},
        {'L', digits496 + "\n\n22", std::string(496, '1') + " error 3"},
        {'M', Chars(80, 'A'), Repeat("41", 80)},
        {'M', "AT\nX", "41540D58"},
        {'M', "A", "41 error -1"},
        {'M', "", " error -1"},
        {'N', "Az\nmore", "417A"},
        {'N', "A{", "41 error -1"},
        {'N', "A\x1F", "41 error -1"},
        {'N', Chars(14, 'z') + "{", Repeat("7A", 14)},
    };
    for (const auto& row : rows) {
        const auto read = row.reader == 'L'   ? msgfile::ReadDaylight
                          : row.reader == 'M' ? msgfile::ReadModem
                                              : msgfile::ReadLogo;
        EXPECT_EQ(hex(read(Source(row.text))), row.expected) << row.reader << " " << row.text;
    }
}

struct MessageCommandsTest : CommandTest {
    MessageCommandsTest() : CommandTest("data.txt") {}
    std::vector<uint8_t> Frame(uint8_t command, const std::string& payload) const
    {
        return Request(r.Station(), command, std::vector<uint8_t>(payload.begin(), payload.end()));
    }
    std::vector<uint8_t> Message(int sequence, const std::string& chars) const
    {
        return Frame(0xAF, std::string(1, static_cast<char>(sequence)) + chars);
    }
    std::string Last() const { return r.rig.status.Lines().back(); }
};

// (Messages in packets, each reply awaited, and the results line are checked end to end by the
// messages scenario.)
TEST_F(MessageCommandsTest, aFailedPacketSendsItsWholeMessageAgainAtMostThreeFailuresInAll)
{
    WriteData("{A}\n" + kLongMessage + "\n{B}");
    // The second packet of the long message finds the clock busy: after the busy wait the
    // long message starts again from its first packet.
    r.Reply(r.Accepted(), 2);
    r.Reply(r.Busy());
    r.Reply(r.Accepted(), 3);
    const int64_t start = r.rig.time.NowMs();
    interp.RunCommand('K');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    const auto first = Message(1, kLongMessage.substr(0, 99));
    const auto second = Message(2, kLongMessage.substr(99));
    EXPECT_EQ(r.frames, (std::vector<std::vector<uint8_t>>{Message(1, "{A}"), first, second, first, second,
                                                           Message(1, "{B}")}));
    EXPECT_GE(r.rig.time.NowMs() - start, 4000);
    EXPECT_EQ(r.rig.status.ReadPanel(Panel::Retry), "Retry 1");
    EXPECT_EQ(r.MemoLog(), (std::vector<std::string>{"replace: set_message - Sending Messages",
                                                     "replace: set_message - Clock Busy Please Wait...",
                                                     "replace:set_message       - OK"}));

    // Three failures end the command with the last one's result.
    Fresh();
    r.Reply(r.Accepted());
    r.Reply(r.Rejected());
    r.Silence();
    r.Reply(r.Rejected());
    interp.RunCommand('K');
    EXPECT_EQ(r.ps.PollStatus, ceClockReceivedDataError);
    EXPECT_EQ(r.frames, (std::vector<std::vector<uint8_t>>{Message(1, "{A}"), first, first, first}));
    EXPECT_EQ(Last(), "set_message       - Clock Received Data Error");
}

// Files each command reads before sending: the frames sent, the last memo line (the
// keyword padded to 18, then its outcome), the status and the results line.
TEST_F(MessageCommandsTest, inputFilesCheckedWholeBeforeAnythingIsSent)
{
    const struct {
        char letter;
        std::string keyword, text;
        std::size_t frames;
        std::string memo, result;
    } rows[] = {
        {'K', "set_message", "", 0, "OK", "00"},
        // Every message is checked before the first packet goes: an unfinished or broken
        // message anywhere in the file sends nothing and names its line.
        {'K', "set_message", "{A}\n" + kLongMessage.substr(0, 120) + "\n", 0, "Input File Error Line: 7",
         "22 7"},
        {'K', "set_message", "{A}\n{B\n\n\n\n\n\n\n}\n{C}", 0, "Input File Error Line: 9", "22 9"},
        // Too long for one frame.
        {'L', "set_daylight", Chars(480, '1') + "\n" + Chars(20, '2') + "\n", 0, "Input File Error Line: 2",
         "22 2"},
        // The largest daylight file that fits: its frame fills the frame buffer exactly.
        {'L', "set_daylight", Chars(496, '1'), 1, "OK", "00"},
        {'M', "set_modem", Chars(81), 0, "Input File Error Line: ", "22"},
        {'M', "set_modem", "A\n", 1, "OK", "00"},
        {'M', "set_modem", "\n", 0, "Input File Error Line: ", "22"},
        {'N', "set_logo", "Logo{", 0, "Input File Error Line: 0", "22"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keyword + " " + row.text.substr(0, 40));
        WriteData(row.text);
        r.ps.CommandKeyword = row.keyword;
        Fresh();
        r.Reply(r.Accepted(), 5);
        interp.RunCommand(row.letter);
        const std::string memo = row.keyword + std::string(18 - row.keyword.size(), ' ') + "- " + row.memo;
        EXPECT_EQ(ClockErrorNumber(r.ps.PollStatus), std::stoi(row.result));
        ASSERT_EQ(r.frames.size(), row.frames);
        EXPECT_TRUE(row.letter != 'L' || row.frames == 0 || r.frames[0].size() == 255u);
        EXPECT_EQ(Last(), memo);
        // set_modem shows its sending line only once the file has been read.
        if (row.letter == 'M' && row.frames == 0) {
            EXPECT_EQ(r.MemoLog(), std::vector<std::string>{"replace:" + memo});
        }
        EXPECT_EQ(ReadFileBytes(results), ResultLine(row.keyword, row.result));
    }
    EXPECT_EQ(r.MemoLog(),
              (std::vector<std::string>{"replace: set_logo - Sending Logo",
                                        "replace:set_logo          - Input File Error Line: 0"}));
}

TEST_F(MessageCommandsTest, setModemReadsTheFileAgainForEachAttempt)
{
    WriteData("ATZ\r\nATS0=1\r\n");
    r.Reply(r.Rejected());
    r.Reply(r.Accepted());
    // The file changes while the first reply is awaited; the retry sends what it holds then.
    r.rig.pump.After(50, [this] { WriteData("AT&F\n"); });
    interp.RunCommand('M');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(r.frames,
              (std::vector<std::vector<uint8_t>>{Frame(0xAA, "ATZ\rATS0=1\r"), Frame(0xAA, "AT&F\r")}));
    EXPECT_EQ(Last(), "set_modem         - OK");
}

}  // namespace
