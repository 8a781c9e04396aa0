// finger_backup and finger_restore over the program's real TCP link (socket, network link,
// exchange, Qt event pump and timers) against clocksim on its own loopback address.
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"

#include <gtest/gtest.h>

namespace {

TEST(FingerprintOverTcp, backupRestoreAndBackupAgainGiveTheClocksOwnBytes)
{
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir,
                         {"--listen", TestAddress(), "--fingers", "4 21 0", "--finger-dump", dir + "/dump.txt"});
    ASSERT_TRUE(clock.Ready());
    LiveNetwork link(TestAddress());
    link.ps.FingerLogFile = dir + "/finger.log";
    ASSERT_EQ(link.network.Connect(), ceOK);

    // Everything into an empty file; the clock's own account of its templates is the measure.
    const std::string first = dir + "/first.txt";
    EXPECT_EQ(link.Run('S', "finger_backup", first), 0);
    const std::string dump = ReadFileBytes(dir + "/dump.txt");
    EXPECT_EQ(ReadFileBytes(first), dump);
    EXPECT_GT(Count(clock.Journal(), "rx C1 E6 02"), 4u);

    // The file back into the clock, then out again into a new file: the same bytes.
    link.op.answers = {true};
    EXPECT_EQ(link.Run('T', "finger_restore", first), 0);
    EXPECT_EQ(Count(clock.Journal(), "finger erase"), 1u);
    EXPECT_EQ(Count(clock.Journal(), "finger store "), Count(dump, "#:"));
    const std::string again = dir + "/again.txt";
    EXPECT_EQ(link.Run('S', "finger_backup", again), 0);
    EXPECT_EQ(ReadFileBytes(again), dump);

    const std::string log = ReadFileBytes(dir + "/finger.log");
    EXPECT_EQ(Count(log, "***Start Backup Log Session - "), 2u);
    EXPECT_NE(log.find("Total Number of Templates Restored = " + std::to_string(Count(dump, "#:")) + "\r\n"),
              std::string::npos);
    link.network.Deactivate();
}

}  // namespace
