// Downloads run as a scheduler runs them, against the clock simulator: punch records and
// the message list over TCP with replies lost and spoiled on the way, and punch records
// over a pseudo-terminal mapped as a serial port. The data files and the requests the
// clock received are compared byte for byte.
#include "support/Fakes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::string kGolden = std::string(QV_SOURCE_DIR) + "/tests/e2e/golden/";

// The golden record lines for a station, each ending as the data file holds it.
std::string RecordLines(const std::string& station)
{
    std::istringstream in(ReadFileBytes(kGolden + "records.txt"));
    std::string out, line;
    while (std::getline(in, line)) out += station + line.substr(2) + "\r\n\r";
    return out;
}

// The journal line of a request: station, command, payload, digits, one 0xFF.
std::string Rx(uint8_t station, uint8_t command, const std::vector<uint8_t>& payload = {})
{
    return "rx " + HexBytes(ReplyFrame(station, command, payload));
}

const auto RxLines = ReceivedFrames;
const auto Line = ResultLine;

class Downloads : public ::testing::Test, protected RunFolder {};

// Request 3 (the second 0xAB) is answered into the void: the clock has moved on, so the
// program's 0xA2 gets the next packet, which is stored once. Request 5 comes back with bad
// digits: 0xA0 gets the same packet again. Request 7 (0xAB) is lost on its way: the clock
// never took the last packet and hands it out again, and it is not stored twice. The reply
// to request 12 (the message list's continuation) is lost after the clock moved on: the
// list starts again and the file holds it whole.
TEST_F(Downloads, recordsAndMessageListOverTcpWithLostAndSpoiledRequestsAndReplies)
{
    WriteProfile(dir);
    SimulatedClock clock(
        dir, {"--listen", "127.0.0.81", "--records", kGolden + "records.hex", "--packet-bytes", "40",
              "--message-list", kGolden + "messages.txt", "--fail-packet", "3:silence", "--fail-packet",
              "5:bad-crc", "--fail-packet", "7:lost", "--fail-packet", "12:silence"});
    ASSERT_TRUE(clock.Ready());
    Write("times.txt", "kept\r\n\r");
    Write("messages.out", "an older and much longer message list that must go entirely");
    Write("run.cmd",
          "init_clock 01 IP127.0.0.81\nget_times times.txt\nget_message_list messages.out\n"
          "get_times times.txt\n");
    const RunResult r = RunCommands("run.cmd");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(File("results.txt"), Line("01", "init_clock", "00") + Line("01", "get_times", "00") +
                                       Line("01", "get_message_list", "00") + Line("01", "get_times", "00"));
    EXPECT_EQ(File("times.txt"), "kept\r\n\r" + RecordLines("01"));
    std::string list = ReadFileBytes(kGolden + "messages.txt");
    for (size_t at = 0; (at = list.find('\n', at)) != std::string::npos; at += 3)
        list.replace(at, 1, "\r\n\r");
    EXPECT_EQ(File("messages.out"), list);

    const uint8_t s = 0xC1;
    const std::vector<std::string> expected = {
        Rx(s, 0xA2),         Rx(s, 0xAB),         Rx(s, 0xAB),         Rx(s, 0xA2),
        Rx(s, 0xAB),         Rx(s, 0xA0),         Rx(s, 0xAB),         Rx(s, 0xA2),
        Rx(s, 0xAB),         Rx(s, 0xA1),         Rx(s, 0xB4, {0x01}), Rx(s, 0xB4, {0x02}),
        Rx(s, 0xB4, {0x01}), Rx(s, 0xB4, {0x02}), Rx(s, 0xA2),         Rx(s, 0xA1)};
    EXPECT_EQ(RxLines(clock.Journal()), expected) << clock.Journal();
    // Each failure leaves its own line; the notice after it is overwritten by the next step.
    EXPECT_NE(r.out.find("get_times         - No Data Received from Clock\nget_times - Receiving Data\n"
                         "get_times         - CRC Data Error\nget_times - Waiting for Reply...\n"
                         "get_times         - No Data Received from Clock\nget_times - Receiving Data\n"
                         "get_times         - OK\n"),
              std::string::npos)
        << r.out;
}

TEST_F(Downloads, recordsOverAPseudoTerminalMappedAsAPort)
{
    SimulatedClock clock(dir, {"--listen", "127.0.0.82", "--pty", "--station", "3", "--records",
                               kGolden + "records.hex", "--packet-bytes", "40"});
    ASSERT_TRUE(clock.Ready());
    ASSERT_FALSE(clock.PtyPath().empty());
    WriteProfile(dir, "COM4=" + clock.PtyPath() + "\n");
    Write("run.cmd", "init_clock 03 COM4 9600\nget_times times.txt\n");
    const RunResult r = RunCommands("run.cmd");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(File("results.txt"), Line("03", "init_clock", "00") + Line("03", "get_times", "00"));
    EXPECT_EQ(File("times.txt"), RecordLines("03"));
    const uint8_t s = 0xC3;
    const std::vector<std::string> expected = {Rx(s, 0xA2), Rx(s, 0xAB), Rx(s, 0xAB),
                                               Rx(s, 0xAB), Rx(s, 0xAB), Rx(s, 0xA1)};
    EXPECT_EQ(RxLines(clock.Journal()), expected) << clock.Journal();
}

}  // namespace
