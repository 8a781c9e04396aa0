// A bell table uploaded by the unattended program to the clock simulator over TCP, with
// one packet spoiled so the table is sent again: the frames the simulator received and the
// table it kept, byte for byte.
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

}  // namespace
