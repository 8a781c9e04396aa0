// Tables uploaded by the unattended program to the clock simulator over TCP: the frames the
// simulator received and the table it kept, byte for byte.
#include "support/Fakes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(TableUploadE2e, bellTableOverTcpIsSentAgainAfterASpoiledPacketAndKept)
{
    const std::string dir = MakeTempDir();
    WriteProfile(dir);
    std::string table;
    std::vector<uint8_t> rows;
    for (int i = 0; i < 21; ++i) {
        table += "0" + std::to_string(i % 10) + "3045" + std::to_string(10 + i) + "\r\n";
        const int last = 10 + i;
        rows.insert(rows.end(), {static_cast<uint8_t>(i % 10), 0x30, 0x45,
                                 static_cast<uint8_t>((last / 10) << 4 | last % 10)});
    }
    std::ofstream(dir + "/bells.txt", std::ios::binary) << table;
    std::ofstream(dir + "/run.cmd") << "init_clock 01 IP127.0.0.74\nset_belltable bells.txt\n";

    // The reply to the second packet fails its CRC check.
    SimulatedClock clock(dir, {"--listen", "127.0.0.74", "--fail-packet", "2:bad-crc"});
    ASSERT_TRUE(clock.Ready());
    const RunResult r = RunUnattended(dir, "run.cmd", "results.txt", 60);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(ReadFileBytes(dir + "/results.txt"),
              ResultLine("01", "init_clock", "00") + ResultLine("01", "set_belltable", "00"));
    EXPECT_NE(r.out.find("set_belltable\t - OK\n"), std::string::npos) << r.out;

    std::vector<uint8_t> first = {0x00}, second = {0x01};
    first.insert(first.end(), rows.begin(), rows.begin() + 80);
    second.insert(second.end(), rows.begin() + 80, rows.end());
    const std::vector<std::vector<uint8_t>> sent = {first, second, first, second, {0x03}};
    std::vector<std::string> expected;
    for (const auto& payload : sent) expected.push_back("rx " + HexBytes(ReplyFrame(0xC1, 0xA8, payload)));
    EXPECT_EQ(ReceivedFrames(clock.Journal()), expected) << clock.Journal();
    EXPECT_NE(clock.Journal().find("\ntable set_belltable 03 " + HexBytes(rows) + "\n"), std::string::npos)
        << clock.Journal();
}

// A PIN file whose only line has no line feed is closed and kept; a later PIN file with a
// malformed second line is refused before anything is sent, so the clock keeps the first.
TEST(TableUploadE2e, pinNumbersAreKeptWithoutAFinalLineFeedAndABadFileLeavesThemAlone)
{
    const std::string dir = MakeTempDir();
    WriteProfile(dir);
    std::ofstream(dir + "/pins.txt", std::ios::binary) << "12,34";
    std::ofstream(dir + "/bad.txt", std::ios::binary) << "56,78\r\n\r\n9,1\r\n";
    std::ofstream(dir + "/run.cmd") << "init_clock 01 IP127.0.0.75\nset_pinnumbers pins.txt\n"
                                       "set_pinnumbers bad.txt\n";

    SimulatedClock clock(dir, {"--listen", "127.0.0.75"});
    ASSERT_TRUE(clock.Ready());
    const RunResult r = RunUnattended(dir, "run.cmd", "results.txt", 60);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(ReadFileBytes(dir + "/results.txt"), ResultLine("01", "init_clock", "00") +
                                                       ResultLine("01", "set_pinnumbers", "00") +
                                                       ResultLine("01", "set_pinnumbers", "22 2"));

    const std::vector<uint8_t> packet = {0x00, '0', '0', '0', '0', '1', '2', ',', '3', '4', 0, 0, 0, 0, 0x0D};
    const std::vector<uint8_t> rows(packet.begin() + 1, packet.end());
    std::vector<std::string> expected;
    for (const auto& payload : std::vector<std::vector<uint8_t>>{{0x02}, packet, {0x03}})
        expected.push_back("rx " + HexBytes(ReplyFrame(0xC1, 0xB5, payload)));
    EXPECT_EQ(ReceivedFrames(clock.Journal()), expected) << clock.Journal();
    EXPECT_NE(clock.Journal().find("\ntable set_pinnumbers 03 " + HexBytes(rows) + "\n"), std::string::npos)
        << clock.Journal();
}

}  // namespace
