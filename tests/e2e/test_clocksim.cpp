// Runs the clocksim binary and talks to it like the poll program does: over TCP on a
// loopback address, over its pseudo-terminal, and through its modem front end.
#include "link/Framing.h"
#include "tests/support/Fakes.h"
#include "tests/support/LiveNetwork.h"
#include "tests/support/Process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using Bytes_t = std::vector<uint8_t>;

// A request as the program builds it: body, four digits, then `terminators` 0xFF.
Bytes_t Request(std::initializer_list<uint8_t> body, int terminators)
{
    Bytes_t out(body);
    const auto d = frame::RenderDigits(frame::Crc16(out.data(), static_cast<int>(out.size())));
    out.insert(out.end(), d.begin(), d.end());
    out.insert(out.end(), static_cast<size_t>(terminators), 0xFF);
    return out;
}

// True when `reply` is station, code, payload, valid digits and exactly `terminators` 0xFF.
bool WellFormed(const Bytes_t& reply, int terminators)
{
    const size_t t = static_cast<size_t>(terminators);
    if (reply.size() < 6 + t)
        return false;
    for (size_t i = 0; i < t; ++i)
        if (reply[reply.size() - 1 - i] != 0xFF)
            return false;
    const size_t body = reply.size() - t - 4;
    const auto d = frame::RenderDigits(frame::Crc16(reply.data(), static_cast<int>(body)));
    return std::equal(d.begin(), d.end(), reply.begin() + static_cast<std::ptrdiff_t>(body),
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// The simulator in a folder of its own, with its control socket there.
struct SimDir {
    QCoreApplication& app = CoreApp();
    std::string dir = MakeTempDir();
    std::vector<std::string> WithControl(std::vector<std::string> args) const
    {
        args.insert(args.end(), {"--control", dir + "/control"});
        return args;
    }
};

struct Sim : SimDir, SimulatedClock {
    explicit Sim(const std::vector<std::string>& args) : SimulatedClock(dir, WithControl(args)) {}
    std::string Control(const std::string& line) const { return ::Control(dir + "/control", line); }
};

class Tcp {
public:
    explicit Tcp(const char* address, quint16 port = 14001)
    {
        s_.connectToHost(QString::fromLatin1(address), port);
        connected_ = s_.waitForConnected(2000);
    }
    bool Connected() const { return connected_; }
    void Send(const Bytes_t& b)
    {
        s_.write(reinterpret_cast<const char*>(b.data()), static_cast<qint64>(b.size()));
        s_.waitForBytesWritten(1000);
    }
    Bytes_t Ask(const Bytes_t& request)
    {
        Send(request);
        return Reply();
    }
    // Collects bytes until a complete reply (two 0xFF, good digits) or `ms` have passed.
    Bytes_t Reply(int ms = 1500)
    {
        Bytes_t got;
        QElapsedTimer t;
        t.start();
        while (!t.hasExpired(ms) && !WellFormed(got, 2)) {
            if (s_.bytesAvailable() == 0 && !s_.waitForReadyRead(50))
                continue;
            const QByteArray b = s_.readAll();
            got.insert(got.end(), b.begin(), b.end());
        }
        return got;
    }
    // Whatever arrives within `ms`.
    Bytes_t Collect(int ms)
    {
        Bytes_t got;
        QElapsedTimer t;
        t.start();
        while (!t.hasExpired(ms)) {
            if (s_.waitForReadyRead(20)) {
                const QByteArray b = s_.readAll();
                got.insert(got.end(), b.begin(), b.end());
            }
        }
        return got;
    }
    QTcpSocket& socket() { return s_; }

private:
    QTcpSocket s_;
    bool connected_ = false;
};

// The slave side of the simulator's pty, opened raw like a serial port.
class Port {
public:
    explicit Port(const std::string& path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Port()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool Open() const { return fd_ >= 0; }
    // The program's sender: preamble as a write of its own, then the bytes.
    void Send(const Bytes_t& b)
    {
        const uint8_t pre[] = {0x55, 0x55};
        ASSERT_EQ(write(fd_, pre, 2), 2);
        usleep(2000);
        ASSERT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    void SendText(const std::string& s) { Send(Bytes_t(s.begin(), s.end())); }
    // Collects until `done` holds or `ms` have passed.
    template <class Done>
    Bytes_t ReadUntil(Done done, int ms = 1500)
    {
        Bytes_t got;
        QElapsedTimer t;
        t.start();
        while (!t.hasExpired(ms) && !done(got)) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            uint8_t buf[512];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    Bytes_t Reply()
    {
        return ReadUntil([](const Bytes_t& g) { return WellFormed(g, 1); });
    }
    Bytes_t Ask(const Bytes_t& request)
    {
        Send(request);
        return Reply();
    }
    // A modem command and its result line.
    std::string Ask(const std::string& text)
    {
        SendText(text);
        return Line();
    }
    std::string Line()
    {
        const Bytes_t b = ReadUntil([](const Bytes_t& g) { return !g.empty() && g.back() == '\r'; });
        return std::string(b.begin(), b.end());
    }
    Bytes_t Collect(int ms)
    {
        return ReadUntil([](const Bytes_t&) { return false; }, ms);
    }

private:
    int fd_ = -1;
};

const Bytes_t kStatusTcp = {0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF, 0xFF};

TEST(ClockSimTcp, answersTheWorkedStatusRequestWithAFullStatusBlock)
{
    Sim sim({"--listen", "127.0.0.2"});
    ASSERT_TRUE(sim.Ready());
    Tcp tcp("127.0.0.2");
    ASSERT_TRUE(tcp.Connected());
    tcp.Send(kStatusTcp);
    const Bytes_t r = tcp.Reply();
    ASSERT_EQ(r.size(), 2u + 34u + 4u + 2u);
    EXPECT_TRUE(WellFormed(r, 2));
    EXPECT_EQ(r[0], 0xC1);
    EXPECT_EQ(r[1], 0xAD);
    const uint8_t* d = r.data() + 2;
    EXPECT_EQ(std::string(d + 4, d + 10), "507316");
    EXPECT_EQ(d[24], 0x09);
    EXPECT_EQ(d[25], 0x04);
    EXPECT_EQ(d[28] & 0x0F, 1);  // card reader
    EXPECT_EQ(d[29] & 0x0F, 4);  // TCP/IP
    EXPECT_EQ(d[30] | d[31] | d[33], 0);
    EXPECT_NE(sim.Journal().find("rx C1 AD 34 31 32 32 FF\n"), std::string::npos);
}

TEST(ClockSimTcp, setsTimeRejectsBadDataAndStaysQuietWhereNoReplyIsDue)
{
    Sim sim({"--listen", "127.0.2.3", "--status-hex",
             "0000000035303733313639393530303432303230313031300904021001040600000F"});
    ASSERT_TRUE(sim.Ready());
    Tcp tcp("127.0.2.3");
    ASSERT_TRUE(tcp.Connected());

    EXPECT_EQ(tcp.Ask(Request({0xC1, 0xA5, 0x23, 0x59, 0x59}, 2)), Request({0xC1, 0xA1}, 2));
    EXPECT_EQ(tcp.Ask(Request({0xC1, 0xA6, 0x07, 0x31, 0x12, 0x11}, 2)), Request({0xC1, 0xA1}, 2));
    EXPECT_EQ(sim.Control("time"), "ok 23:59:59 07 31/12/11");

    // A damaged digit, an unknown command and a short set_time payload: "received bad data".
    Bytes_t damaged = kStatusTcp;
    damaged[5] ^= 1;
    EXPECT_EQ(tcp.Ask(damaged), Request({0xC1, 0xA0}, 2));
    EXPECT_EQ(tcp.Ask(Request({0xC1, 0x99}, 2)), Request({0xC1, 0xA0}, 2));
    EXPECT_EQ(tcp.Ask(Request({0xC1, 0xA5, 0x23}, 2)), Request({0xC1, 0xA0}, 2));

    // Another station's request, an acknowledge and a system reset get no answer.
    tcp.Send(Request({0xC2, 0xAD}, 2));
    tcp.Send(Request({0xC1, 0xA1}, 2));
    tcp.Send(Request({0xC1, 0xEB, 0x00, 0x00}, 2));
    EXPECT_TRUE(tcp.Collect(300).empty());

    // The configured status block comes back, and reset_errors clears its error bytes.
    tcp.Send(kStatusTcp);
    Bytes_t r = tcp.Reply();
    ASSERT_EQ(r.size(), 42u);
    EXPECT_EQ(r[2 + 30], 0x06);
    EXPECT_EQ(r[2 + 33], 0x0F);
    EXPECT_EQ(tcp.Ask(Request({0xC1, 0xAE}, 2)), Request({0xC1, 0xA1}, 2));
    tcp.Send(kStatusTcp);
    r = tcp.Reply();
    ASSERT_EQ(r.size(), 42u);
    EXPECT_EQ(r[2 + 30] | r[2 + 31] | r[2 + 33], 0);

    const std::string j = sim.Journal();
    EXPECT_NE(j.find("set_time 23:59:59\n"), std::string::npos);
    EXPECT_NE(j.find("set_date 07 31/12/11\n"), std::string::npos);
    EXPECT_NE(j.find("rx C2 AD "), std::string::npos);
    EXPECT_NE(j.find("system_reset\n"), std::string::npos);
}

TEST(ClockSimTcp, busyWrongStationAndSilentFollowTheSwitches)
{
    Sim sim({"--listen", "127.0.2.4", "--busy", "2"});
    ASSERT_TRUE(sim.Ready());
    Tcp tcp("127.0.2.4");
    ASSERT_TRUE(tcp.Connected());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(tcp.Ask(kStatusTcp), Request({0xC1, 0xB0}, 2)) << i;
    }
    EXPECT_EQ(tcp.Ask(kStatusTcp).size(), 42u);

    ASSERT_EQ(sim.Control("wrong-station on"), "ok");
    EXPECT_EQ(tcp.Ask(Request({0xC1, 0xAE}, 2)), Request({0xC2, 0xA1}, 2));

    ASSERT_EQ(sim.Control("silent"), "ok");
    tcp.Send(kStatusTcp);
    EXPECT_TRUE(tcp.Collect(300).empty());
    EXPECT_NE(sim.Journal().find("rx C1 AD"), std::string::npos);

    ASSERT_EQ(sim.Control("clear"), "ok");
    ASSERT_EQ(sim.Control("bad-crc"), "ok");
    tcp.Send(Request({0xC1, 0xAE}, 2));
    const Bytes_t bad = tcp.Collect(300);
    ASSERT_EQ(bad.size(), 8u);
    EXPECT_FALSE(WellFormed(bad, 2));
    EXPECT_EQ(sim.Control("frobnicate").rfind("error", 0), 0u);
}

TEST(ClockSimTcp, chunkedRepliesArriveInPiecesAndDamagedRepliesLookDamaged)
{
    Sim sim({"--listen", "127.0.2.5", "--chunk", "5", "--chunk-gap", "60"});
    ASSERT_TRUE(sim.Ready());
    Tcp tcp("127.0.2.5");
    ASSERT_TRUE(tcp.Connected());
    tcp.Send(kStatusTcp);
    ASSERT_TRUE(tcp.socket().waitForReadyRead(1000));
    EXPECT_EQ(tcp.socket().bytesAvailable(), 5);
    const Bytes_t r = tcp.Reply(3000);
    EXPECT_EQ(r.size(), 42u);
    EXPECT_TRUE(WellFormed(r, 2));

    ASSERT_EQ(sim.Control("chunk 0"), "ok");
    ASSERT_EQ(sim.Control("short"), "ok");
    tcp.Send(kStatusTcp);
    const Bytes_t s = tcp.Collect(300);
    EXPECT_LT(s.size(), 5u);
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back(), 0xFF);

    ASSERT_EQ(sim.Control("short off"), "ok");
    ASSERT_EQ(sim.Control("garbage"), "ok");
    tcp.Send(kStatusTcp);
    const Bytes_t g = tcp.Collect(400);
    ASSERT_EQ(g.size(), 300u);
    EXPECT_EQ(g.back(), 0xFF);

    ASSERT_EQ(sim.Control("garbage off"), "ok");
    ASSERT_EQ(sim.Control("drop"), "ok");
    tcp.Send(kStatusTcp);
    const Bytes_t half = tcp.Collect(300);
    EXPECT_EQ(half.size(), 21u);
    EXPECT_EQ(tcp.socket().state(), QAbstractSocket::UnconnectedState);

    // The next connection is served as usual.
    ASSERT_EQ(sim.Control("drop off"), "ok");
    Tcp again("127.0.2.5");
    ASSERT_TRUE(again.Connected());
    EXPECT_EQ(again.Ask(kStatusTcp).size(), 42u);
}

TEST(ClockSimTcp, framesSurviveNoiseSplitsAndBackToBackRequests)
{
    Sim sim({"--listen", "127.0.2.6", "--station", "all"});
    ASSERT_TRUE(sim.Ready());
    Tcp tcp("127.0.2.6");
    ASSERT_TRUE(tcp.Connected());

    Bytes_t noisy = {0x00, 0x12, 'x'};
    noisy.insert(noisy.end(), kStatusTcp.begin(), kStatusTcp.begin() + 3);
    tcp.Send(noisy);
    tcp.Collect(50);
    EXPECT_EQ(tcp.Ask(Bytes_t(kStatusTcp.begin() + 3, kStatusTcp.end())).size(), 42u);

    Bytes_t two = Request({0xC5, 0xAE}, 2);
    const Bytes_t second = Request({0xC7, 0xAE}, 2);
    two.insert(two.end(), second.begin(), second.end());
    tcp.Send(two);
    Bytes_t expected = Request({0xC5, 0xA1}, 2);
    const Bytes_t expected2 = Request({0xC7, 0xA1}, 2);
    expected.insert(expected.end(), expected2.begin(), expected2.end());
    EXPECT_EQ(tcp.Collect(300), expected);

    // An overlong run without a terminator is thrown away; the clock still listens.
    tcp.Send(Bytes_t(400, 0xC1));
    EXPECT_EQ(tcp.Ask(kStatusTcp).size(), 42u);
}

TEST(ClockSimPty, repliesWithOneTerminatorAndIgnoresModemText)
{
    Sim sim({"--pty"});
    ASSERT_TRUE(sim.Ready());
    const std::string path = sim.PtyPath();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    Port port(path);
    ASSERT_TRUE(port.Open());

    port.SendText("ATZ\r");
    EXPECT_TRUE(port.Collect(200).empty());

    port.Send({0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF});
    const Bytes_t r = port.Reply();
    ASSERT_EQ(r.size(), 2u + 34u + 4u + 1u);
    EXPECT_TRUE(WellFormed(r, 1));
    EXPECT_EQ(r[1], 0xAD);

    // A payload byte 0xFF does not end the frame early: the digits decide.
    EXPECT_EQ(port.Ask(Request({0xC1, 0xA5, 0x12, 0xFF, 0x00}, 1)), Request({0xC1, 0xA1}, 1));
    EXPECT_NE(sim.Journal().find("set_time 12:FF:00\n"), std::string::npos);
}

TEST(ClockSimPty, modemAnswersCommandsDialsAndHangsUpOnTheResetFrame)
{
    Sim sim({"--modem", "--modem-connect-code", "10"});
    ASSERT_TRUE(sim.Ready());
    Port port(sim.PtyPath());
    ASSERT_TRUE(port.Open());

    EXPECT_EQ(port.Ask("ATZ\r"), "0\r");
    EXPECT_EQ(port.Ask("AT&D2E0V0\r"), "0\r");
    EXPECT_EQ(port.Ask("ATDT5551234\r"), "10\r");

    EXPECT_EQ(port.Ask(Request({0xC1, 0xAD}, 1)).size(), 41u);

    port.Send(Request({0xC1, 0xB2}, 1));
    port.Send({0x0A});
    EXPECT_TRUE(port.Collect(200).empty());
    EXPECT_NE(sim.Journal().find("connect\nrx C1 AD 34 31 32 32 FF\n"), std::string::npos);
    EXPECT_NE(sim.Journal().find("hangup\n"), std::string::npos);

    // Back in command state: a busy line this time.
    ASSERT_EQ(sim.Control("modem-result busy"), "ok");
    EXPECT_EQ(port.Ask("ATZ\r"), "0\r");
    EXPECT_EQ(port.Ask("ATD123\r"), "7\r");
    ASSERT_EQ(sim.Control("modem-result silent"), "ok");
    port.SendText("ATD123\r");
    EXPECT_TRUE(port.Collect(200).empty());
}

TEST(ClockSimPty, closingThePortHangsUpTheModemAndDropsUnsentReplies)
{
    Sim sim({"--modem", "--delay", "300"});
    ASSERT_TRUE(sim.Ready());
    {
        Port port(sim.PtyPath());
        ASSERT_TRUE(port.Open());
        EXPECT_EQ(port.Ask("ATDT1\r"), "1\r");
        port.Send(Request({0xC1, 0xAD}, 1));
        usleep(50000);
    }  // closed before the delayed reply is due
    usleep(400000);
    Port again(sim.PtyPath());
    ASSERT_TRUE(again.Open());
    EXPECT_TRUE(again.Collect(200).empty());
    EXPECT_NE(sim.Journal().find("connect\nrx C1 AD 34 31 32 32 FF\nhangup\n"), std::string::npos);
    EXPECT_EQ(again.Ask("ATZ\r"), "0\r");
}

// The serial component opens ports exclusively. On a pty that flag outlives the close, so
// the simulator must lift it or the program's second run could not open the port. Root
// ignores the flag, so as root the check runs in a child that gives up its privileges.
TEST(ClockSimPty, portOpensAgainAfterAnExclusiveSession)
{
    Sim sim({"--pty"});
    ASSERT_TRUE(sim.Ready());
    const std::string path = sim.PtyPath();
    ASSERT_FALSE(path.empty());
    auto session = [&path]() -> int {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0 || ioctl(fd, TIOCEXCL) != 0)
            return 10;
        const int second = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (second >= 0)
            return 11;  // the flag did not hold while the port was open
        close(fd);
        usleep(100000);
        const int again = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (again < 0)
            return 12;
        close(again);
        return 0;
    };
    if (getuid() != 0) {
        EXPECT_EQ(session(), 0);
        return;
    }
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? session() : 13);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ClockSimOptions, refusesNonLoopbackAddressesAndDocumentsEveryOption)
{
    CoreApp();
    QProcess refuse;
    refuse.start(QV_BIN_DIR "/clocksim", {"--listen", "0.0.0.0"});
    ASSERT_TRUE(refuse.waitForFinished(5000));
    EXPECT_NE(refuse.exitCode(), 0);
    EXPECT_NE(refuse.readAllStandardError().indexOf("127.0.0.0/8"), -1);

    QProcess help;
    help.start(QV_BIN_DIR "/clocksim", {"--help"});
    ASSERT_TRUE(help.waitForFinished(5000));
    const QString text = QString::fromUtf8(help.readAllStandardOutput());
    for (const char* option : {"--listen",
                               "--port",
                               "--pty",
                               "--link",
                               "--station",
                               "--status-hex",
                               "--busy",
                               "--silent",
                               "--wrong-station",
                               "--bad-crc",
                               "--chunk",
                               "--chunk-gap",
                               "--drop",
                               "--short",
                               "--garbage",
                               "--delay",
                               "--verbose",
                               "--journal",
                               "--ready-file",
                               "--control",
                               "--modem",
                               "--modem-result",
                               "--modem-connect-code",
                               "--allow-any-address"})
        EXPECT_TRUE(text.contains(QString::fromLatin1(option))) << option;
}

}  // namespace
