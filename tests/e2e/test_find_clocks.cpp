// "Find Clocks" through the real session, on real time: the network phase broadcasts on the
// loopback network to two simulated clocks; the serial phase finds a simulated clock on its
// pseudo-terminal, passing over a port another program holds. And the simulated clock's line
// speed: a request sent at another speed is noise to it.
#include "link/Framing.h"
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"

#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
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

TEST(SimulatedClockLine, aRequestAtAnotherSpeedIsNoise_atItsOwnSpeedItIsAnswered)
{
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir, {"--pty", "--station", "1", "--baud", "4800"});
    ASSERT_TRUE(clock.Ready());
    const int fd = open(clock.PtyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> request{0x55, 0x55, 0xC1, 0xAD};
    const auto digits = frame::RenderDigits(frame::Crc16(request.data() + 2, 2));
    request.insert(request.end(), digits.begin(), digits.end());
    request.push_back(0xFF);
    const auto sendAt = [&](speed_t speed) {
        termios tio{};
        tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(fd, TCSANOW, &tio);
        return write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    };

    ASSERT_TRUE(sendAt(B9600));
    for (int i = 0; i < 500 && clock.Journal().find("noise at 9600 baud") == std::string::npos; ++i)
        poll(nullptr, 0, 10);
    EXPECT_NE(clock.Journal().find("noise at 9600 baud"), std::string::npos);
    EXPECT_EQ(Count(clock.Journal(), "rx C1 AD"), 0u);

    ASSERT_TRUE(sendAt(B4800));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    uint8_t reply[2] = {};
    EXPECT_EQ(read(fd, reply, 2), 2);
    EXPECT_EQ(reply[0], 0xC1);
    EXPECT_EQ(reply[1], 0xAD);
    close(fd);
}

}  // namespace
