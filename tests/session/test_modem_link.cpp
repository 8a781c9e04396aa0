#include "core/ClockError.h"
#include "core/PollState.h"
#include "session/ModemLink.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace {

const std::vector<uint8_t> kPreamble{0x55, 0x55};

// One chunk of a modem reply, delivered delayMs after the line was written.
struct Chunk {
    int64_t delayMs;
    std::string bytes;
};

// A modem on a fake serial port: every line written (not the preamble) is answered with
// the next scripted reply; a line with no script left gets no answer.
struct ModemBench {
    PollState ps;
    FakeRig rig{ps};
    std::vector<std::pair<bool, int64_t>> dtr;  // level, simulated time of the call
    std::vector<int64_t> frameTimes;
    ModemLink modem{ps, rig.exchange, rig.status,
                    [this](bool on) { dtr.emplace_back(on, rig.time.NowMs()); }};
    std::deque<std::vector<Chunk>> script;
    std::string dir = MakeTempDir();

    ModemBench()
    {
        rig.OnFrame([this](const std::vector<uint8_t>&) {
            frameTimes.push_back(rig.time.NowMs());
            if (script.empty())
                return;
            for (const Chunk& c : script.front()) rig.Deliver(c.delayMs, {c.bytes.begin(), c.bytes.end()});
            script.pop_front();
        });
    }

    void File(const std::string& content)
    {
        ps.InputFileName = dir + "/modem.txt";
        WriteFile(ps.InputFileName, content);
    }

    // The lines written to the modem, without the preambles.
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> out;
        for (const auto& w : rig.serial.writes)
            if (w != kPreamble)
                out.emplace_back(w.begin(), w.end());
        return out;
    }
};

// A modem file and the modem's answers: the result, the lines sent (each after its
// preamble), the number of the last line read, whether the modem counts as in use and the
// status lines.
TEST(ModemConnect, filesAndAnswersAsRows)
{
    const std::string longLine(ModemLink::kMaxLineLength, 'A');
    const std::vector<std::string> none, notInitialised{"Error - Modem not Initialised"},
        connected{" Modem Connected "};
    struct Row {
        std::string file;
        std::vector<std::vector<Chunk>> answers;
        ClockError expected;
        std::vector<std::string> sent;
        int lineNumber;
        std::vector<std::string> status;
        bool cts = true;
        bool inUse = true;
    };
    const auto dial = [](const std::string& reply, ClockError expected, std::vector<std::string> status) {
        return Row{"ATD123\n", {{{300, reply}}}, expected, {"ATD123\r"}, 1, std::move(status)};
    };
    const Row rows[] = {
        {"ATZ\nATE0V0\r\nATD123\n", {{{300, "0\r"}}, {{300, "0\r"}}, {{300, "1\r"}}}, ceOK,
         {"ATZ\r", "ATE0V0\r", "ATD123\r"}, 3, connected},
        {"ATZ\nATD5551234\n", {{{300, "0\r"}}, {{300, "7\r"}}}, ceModemBusy, {"ATZ\r", "ATD5551234\r"}, 2, none},
        // Two silent seconds end the reply: "ATD123\r" alone holds no code.
        {"ATD123\n", {{{300, "ATD123\r"}, {3300, "\r\n7\r"}}}, ceModemError, {"ATD123\r"}, 1, none},
        // A last line without a line feed is not sent and the line before decides; so is one after a Ctrl-Z.
        {"AT\rZ\nATD123", {{{300, "0\r"}}}, ceModemError, {"ATZ\r"}, 2, notInitialised},
        {"ATZ\nATD123\x1A" "ATH\n", {{{300, "4\r"}}}, ceModemError, {"ATZ\r"}, 1, none},
        // Every line answered OK without a connect.
        {"ATZ\nATE0\n", {{{300, "0\r"}}, {{300, "0\r"}}}, ceModemError, {"ATZ\r", "ATE0\r"}, 0, notInitialised},
        // A line too long for one frame is refused unsent; the longest that fits goes.
        {longLine + "A\n", {}, ceModemStringFile, {}, 1, notInitialised, true, false},
        {std::string(300, 'A') + "\n", {}, ceModemStringFile, {}, 1, notInitialised, true, false},
        {longLine + "\n", {{{300, "1\r"}}}, ceOK, {longLine + "\r"}, 1, connected},
        // A line that cannot be sent is a port error.
        {"ATZ\n", {}, cePortTransmitter, {}, 0, none, false},
        // An empty file or empty first line connects at once without a modem.
        {"", {}, ceOK, {}, 0, none, true, false},
        {"\r\n", {}, ceOK, {}, 0, none, true, false},
        {"\nATZ\n", {}, ceOK, {}, 0, none, true, false},
        {"\x1A" "ATZ\n", {}, ceOK, {}, 0, none, true, false},
        // The result code is read from the end of the reply to the dial.
        dial("1\r", ceOK, connected),
        dial("5\r", ceOK, connected),
        dial("10\r", ceOK, connected),
        dial("2\r", ceModemRing, none),
        dial("3\r", ceModemNoCarrier, none),
        dial("4\r", ceModemError, none),
        dial("6\r", ceModemNoDialTone, none),
        dial("7\r", ceModemBusy, none),
        dial("8\r", ceModemNoAnswer, none),
        dial("9\r", ceModemError, notInitialised),
        // Echo of the command and CR LF framing in front of the code.
        dial("ATD123\r\r\n7\r", ceModemBusy, none),
        dial("ATD123\r\r\n10\r", ceOK, connected),
        dial("\r\n100\r", ceOK, connected),
        // A CR right before the code's single digit: no code can be taken.
        dial("ATD123\r7\r", ceModemError, none),
        // No CR within three bytes before the code.
        dial("ATD1237\r", ceModemError, none),
        // Bytes after the code's digits in the buffer are not part of the code.
        dial("\r\n0\r\r\n7\r", ceModemBusy, none),
        // Five bytes with no CR: the search stops at the start of the buffer.
        dial(" 10x\r", ceModemError, none),
        dial("7", ceModemNoReply, none),
    };
    for (const Row& row : rows) {
        const std::string reply = row.answers.empty() ? "" : row.answers.back().back().bytes;
        SCOPED_TRACE(testing::PrintToString(row.file) + " answered " + testing::PrintToString(reply));
        ModemBench b;
        // The byte just before the receive buffer; a search that ran past its start would find a CR.
        b.rig.exchange.Request()[255] = '\r';
        b.File(row.file);
        b.script.assign(row.answers.begin(), row.answers.end());
        b.rig.serial.cts = row.cts;
        const int64_t start = b.rig.time.NowMs();
        EXPECT_EQ(b.modem.ModemConnect(), row.expected);
        EXPECT_EQ(b.Lines(), row.sent);
        for (size_t i = 0; i < b.rig.serial.writes.size(); i += 2) EXPECT_EQ(b.rig.serial.writes[i], kPreamble);
        EXPECT_TRUE(row.lineNumber == 0 || b.ps.InputLineNumber == row.lineNumber) << b.ps.InputLineNumber;
        EXPECT_EQ(b.ps.ModemInUse, row.inUse);
        EXPECT_EQ(b.rig.status.Lines(), row.status);
        EXPECT_TRUE(row.inUse || b.rig.time.NowMs() == start);
        if (row.expected == ceOK && row.inUse) {
            EXPECT_TRUE(b.modem.ModemFileOpen());
            b.modem.CloseModemFile();
            EXPECT_FALSE(b.modem.ModemFileOpen());
        }
    }
}

// A modem reply ends two ticks after its last byte, each byte starting the count again, or
// after eighty ticks in all.
TEST(ModemConnect, aReplyEndsOnSilenceOrAfterEightySeconds)
{
    std::vector<Chunk> chatter;
    for (int i = 0; i < 400; ++i) chatter.push_back({300 + 500 * i, "x"});
    // Each chunk comes a tick after the one before it; counted from the first byte, two
    // ticks would pass before the last chunk arrives.
    const std::vector<Chunk> tickApart{{300, "ATD123\r"}, {1700, "\r\n"}, {2700, "7\r"}};
    const struct {
        const char* name;
        std::string file;
        std::vector<Chunk> answer;
        ClockError expected;
        int64_t leastMs, mostMs;
    } rows[] = {
        {"no reply", "ATZ\nATD1\n", {}, ceModemNoReply, 79'000, 80'100},
        {"a line that never falls quiet", "ATD123\n", chatter, ceModemError, 0, 81'000},
        {"bytes a tick apart", "ATD123\n", tickApart, ceModemBusy, 3'000, 4'500},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ModemBench b;
        b.File(row.file);
        if (!row.answer.empty())
            b.script.push_back(row.answer);
        const int64_t start = b.rig.time.NowMs();
        EXPECT_EQ(b.modem.ModemConnect(), row.expected);
        EXPECT_GE(b.rig.time.NowMs() - start, row.leastMs);
        EXPECT_LE(b.rig.time.NowMs() - start, row.mostMs);
        EXPECT_EQ(b.Lines().size(), 1u) << "the first line's reply decides";
        EXPECT_EQ(b.ps.InputLineNumber, 1);
    }
}

TEST(ModemConnect, missingFolderFifoOrUnreadableFileIsAModemStringFileError)
{
    ModemBench b;
    // A folder opens for reading on this system, a FIFO with no writer would hold the open
    // for ever, and /proc/self/mem opens but fails every read.
    ASSERT_EQ(mkfifo((b.dir + "/fifo.txt").c_str(), 0600), 0);
    for (const std::string& name :
         {b.dir + "/none.txt", b.dir, b.dir + "/fifo.txt", std::string("/proc/self/mem")}) {
        SCOPED_TRACE(name);
        b.rig.status.ClearStatus();
        b.ps.InputFileName = name;
        EXPECT_EQ(b.modem.ModemConnect(), ceModemStringFile);
        EXPECT_FALSE(b.ps.ModemInUse);
        EXPECT_TRUE(b.rig.serial.writes.empty());
        EXPECT_EQ(b.rig.status.Lines(), std::vector<std::string>{"Error - Modem not Initialised"});
        b.modem.CloseModemFile();
    }
}

TEST(ModemReset, sendsResetFrameAndLineFeedThenTogglesDtrAndIgnoresSendFailures)
{
    ModemBench b;
    b.ps.SetStation(1);
    b.ps.ModemInUse = true;
    b.modem.ModemReset();

    const std::vector<std::vector<uint8_t>> expected{kPreamble, ReplyFrame(0xC1, 0xB2), kPreamble, {0x0A}};
    EXPECT_EQ(b.rig.serial.writes, expected);

    ASSERT_EQ(b.dtr.size(), 2u);
    EXPECT_FALSE(b.dtr[0].first);
    EXPECT_TRUE(b.dtr[1].first);
    // The line feed goes after the two-second wait, DTR is raised after a tick, and the
    // reset returns only after one more.
    ASSERT_EQ(b.frameTimes.size(), 2u);
    EXPECT_GE(b.frameTimes[1] - b.frameTimes[0], 1'000);
    EXPECT_GE(b.dtr[0].second, b.frameTimes[1]);
    EXPECT_GE(b.dtr[1].second - b.dtr[0].second, 500);
    EXPECT_GE(b.rig.time.NowMs() - b.dtr[1].second, 500);

    EXPECT_FALSE(b.ps.ModemInUse);
    EXPECT_EQ(b.rig.status.log,
              (std::vector<std::string>{"add: Resetting Modem Please Wait.. ", "add:Modem Reset"}));

    // Nothing can be sent: the modem is still hung up and the run's result is left alone.
    b.ps.ModemInUse = true;
    b.ps.PollStatus = ceModemBusy;
    b.rig.serial.cts = false;
    b.modem.ModemReset();
    EXPECT_EQ(b.rig.serial.writes.size(), 4u);
    EXPECT_EQ(b.ps.PollStatus, ceModemBusy);
    EXPECT_EQ(b.dtr.size(), 4u);
    EXPECT_FALSE(b.ps.ModemInUse);
    EXPECT_EQ(b.rig.status.Lines().back(), "Modem Reset");
}

}  // namespace
