// "Find Clocks" through the real session, on real time: the serial phase finds a simulated
// clock on its pseudo-terminal, passing over a port another program holds. (The network
// phase on real sockets is the discovery rows of test_file_faults.)
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>


namespace {

using Lines = std::vector<std::string>;

class FindClocksEndToEnd : public ::testing::Test, protected LiveSession {
protected:
    void SetUp() override { UseFreshConfigDir(); }
    void MapPort(int n, const std::string& path)
    {
        QSettings("Korvane", "KX2")
            .setValue(QString("SerialPorts/COM%1").arg(n), QString::fromStdString(path));
        ui.ports.insert(n);
    }

    FakeFindUi ui;
};

TEST_F(FindClocksEndToEnd, theClockIsFoundOnItsPtyAtItsStation_afterAPortAnotherProgramHolds)
{
    // A pseudo-terminal of the test's own: a serial port that exists, locked as another program would.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const std::string held = ptsname(master);
    const int slave = open(held.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(flock(slave, LOCK_EX | LOCK_NB), 0);
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir, {"--pty", "--station", "2", "--baud", "9600"});
    ASSERT_TRUE(clock.Ready());
    MapPort(1, held);
    MapPort(2, clock.PtyPath());
    op.answers = {false};  // enough after the first clock

    testing::internal::CaptureStderr();
    FindClocks(ui);
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_NE(err.find("COM1: " + held + " is in use"), std::string::npos) << err;
    const Lines memo = status.Lines();
    EXPECT_EQ(Lines(memo.end() - 3, memo.end()),
              (Lines{"Found: Station 2  Com 2  Baud 9600", "1 Clock(s) Found.", "Finished Search."}));
    const std::string journal = clock.Journal();
    EXPECT_EQ(Count(journal, "rx C1 AD"), 2u) << journal;
    EXPECT_EQ(Count(journal, "rx C2 AD"), 1u) << journal;
    close(slave);
    close(master);
}

}  // namespace
