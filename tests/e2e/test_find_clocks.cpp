// "Find Clocks" through the real session, on real time: the network phase broadcasts on the
// loopback network to two simulated clocks; the serial phase finds a simulated clock on its
// pseudo-terminal, passing over a port another program holds.
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"

#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

namespace {

using Lines = std::vector<std::string>;

// A pseudo-terminal of the test's own: its slave is a serial port that exists.
struct OwnPty {
    int master = -1, slave = -1;
    std::string path;
    OwnPty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 &&
            ptsname_r(master, name, sizeof name) == 0)
            path = name;
        slave = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~OwnPty()
    {
        for (int fd : {slave, master})
            if (fd >= 0)
                close(fd);
    }
};

class FindClocksEndToEnd : public ::testing::Test, protected LiveSession {
protected:
    void SetUp() override { UseFreshConfigDir(); }
    void MapPort(int n, const std::string& path)
    {
        QSettings s("Korvane", "KX2");
        s.setValue(QString("SerialPorts/COM%1").arg(n), QString::fromStdString(path));
        s.sync();
        ui.ports.insert(n);
    }
    void Find() { FindClocks(ui); }

    FakeFindUi ui;
};

TEST_F(FindClocksEndToEnd, theBroadcastOnLoopbackFindsBothSimulatedClocks)
{
    const std::string dirA = MakeTempDir(), dirB = MakeTempDir();
    SimulatedClock a(dirA, {"--listen", "127.0.0.51", "--discovery"});
    SimulatedClock b(dirB, {"--listen", "127.0.0.52", "--discovery"});
    ASSERT_TRUE(a.Ready() && b.Ready());
    // A loopback gateway: its broadcast address, 127.255.255.255, stays on this host.
    ps.GatewayAddress = "127.255.255.1";
    QElapsedTimer took;
    took.start();

    Find();

    Lines memo = status.Lines();
    ASSERT_GE(memo.size(), 6u);
    std::sort(memo.begin() + 2, memo.begin() + 4);
    EXPECT_EQ(Lines(memo.begin(), memo.begin() + 6),
              (Lines{"Searching for TCP/IP Clocks...", " ", "Found: IP Address = 127.0.0.51",
                     "Found: IP Address = 127.0.0.52", "2 Clock(s) Found.", "Finished Search."}));
    EXPECT_EQ(Count(a.Journal(), "discovery from 127.0.0.1:"), 1u);
    EXPECT_EQ(Count(b.Journal(), "discovery from 127.0.0.1:"), 1u);
    // The last wait, the one that ends empty, is 5 s.
    EXPECT_GE(took.elapsed(), 5000);
}

TEST_F(FindClocksEndToEnd, theClockIsFoundOnItsPtyAtItsStation_afterAPortAnotherProgramHolds)
{
    OwnPty held;
    ASSERT_GE(held.slave, 0);
    ASSERT_EQ(flock(held.slave, LOCK_EX | LOCK_NB), 0);
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir, {"--pty", "--station", "2", "--baud", "9600"});
    ASSERT_TRUE(clock.Ready());
    MapPort(1, held.path);
    MapPort(2, clock.PtyPath());
    op.answers = {false};  // enough after the first clock

    testing::internal::CaptureStderr();
    Find();
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_NE(err.find("COM1: " + held.path + " is in use"), std::string::npos) << err;
    const Lines memo = status.Lines();
    EXPECT_EQ(Lines(memo.end() - 3, memo.end()),
              (Lines{"Found: Station 2  Com 2  Baud 9600", "1 Clock(s) Found.", "Finished Search."}));
    const std::string journal = clock.Journal();
    EXPECT_EQ(Count(journal, "rx C1 AD"), 2u) << journal;
    EXPECT_EQ(Count(journal, "rx C2 AD"), 1u) << journal;
}

}  // namespace
