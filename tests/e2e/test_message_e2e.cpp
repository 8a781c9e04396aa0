// Messages and settings sent by the unattended program to the clock simulator over TCP,
// with the reply to one message packet spoiled so that message is sent again: the frames
// the simulator received, byte for byte, and what it kept.
#include "support/Fakes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

std::vector<uint8_t> Text(const std::string& s)
{
    return {s.begin(), s.end()};
}

TEST(MessageE2e, messagesAndSettingsOverTcpAreKeptAndASpoiledPacketResendsItsMessage)
{
    const std::string dir = MakeTempDir();
    WriteProfile(dir);
    std::string longMessage = "{";
    for (char c : std::string("abcde")) longMessage += std::string(25, c) + (c == 'e' ? "}" : "\r\n");
    std::ofstream(dir + "/messages.txt", std::ios::binary) << "{Hello}\r\n\r\n"
                                                           << longMessage << "\r\n  {Bye}\r\n";
    std::ofstream(dir + "/daylight.txt", std::ios::binary) << "0329\r\n1025\r\n";
    std::ofstream(dir + "/modem.txt", std::ios::binary) << "ATZ\r\nATS0=1\r\n";
    std::ofstream(dir + "/logo.txt", std::ios::binary) << "ACME TIMECLOCKS LTD\r\n";
    std::ofstream(dir + "/run.cmd") << "init_clock 01 IP127.0.0.76\nset_message messages.txt\n"
                                       "set_daylight daylight.txt\nset_modem modem.txt\nset_logo logo.txt\n"
                                       "set_code 4321\nkey_board OFF\n";

    // The clock stores the second packet of the long message but its reply says busy.
    SimulatedClock clock(dir,
                         {"--listen", "127.0.0.76", "--fail-packet", "3:busy", "--control", dir + "/ctl"});
    ASSERT_TRUE(clock.Ready());
    const RunResult r = RunUnattended(dir, "run.cmd");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::string results;
    for (const char* keyword :
         {"init_clock", "set_message", "set_daylight", "set_modem", "set_logo", "set_code", "key_board"})
        results += ResultLine("01", keyword, "00");
    EXPECT_EQ(ReadFileBytes(dir + "/results.txt"), results);
    EXPECT_NE(r.out.find("set_message       - OK\n"), std::string::npos) << r.out;

    std::string lf = longMessage;
    for (std::size_t at; (at = lf.find('\r')) != std::string::npos;) lf.erase(at, 1);
    const auto first = Text("\x01" + lf.substr(0, 99));
    const auto second = Text("\x02" + lf.substr(99));
    const std::vector<std::pair<uint8_t, std::vector<uint8_t>>> sent = {
        {0xAF, Text("\x01{Hello}")},
        {0xAF, first},
        {0xAF, second},
        {0xAF, first},
        {0xAF, second},
        {0xAF, Text("\x01{Bye}")},
        {0xB1, {0x03, 0x29, 0x10, 0x25}},
        {0xAA, Text("ATZ\rATS0=1\r")},
        {0xB3, Text("ACME TIMECLOCK")},
        {0xAC, {'4', '3', '2', '1', 0, 0}},
        {0xA3, {0x01}},
    };
    std::vector<std::string> expected;
    for (const auto& [command, payload] : sent)
        expected.push_back("rx " + HexBytes(ReplyFrame(0xC1, command, payload)));
    EXPECT_EQ(ReceivedFrames(clock.Journal()), expected) << clock.Journal();

    // The long message is kept once, though it arrived twice.
    EXPECT_EQ(Control(dir + "/ctl", "messages"), "ok " + HexBytes(Text("{Hello}"), "") + " " +
                                                     HexBytes(Text(lf), "") + " " +
                                                     HexBytes(Text("{Bye}"), ""));
    EXPECT_EQ(
        Control(dir + "/ctl", "settings"),
        "ok code=4321 jobing=-- keyboard=off daylight=03291025 modem=" + HexBytes(Text("ATZ\rATS0=1\r"), "") +
            " logo=" + HexBytes(Text("ACME TIMECLOCK"), "") + " messages=3");
}

}  // namespace
