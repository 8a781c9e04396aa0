// Runs the clocksim binary and talks to it like the poll program does: over TCP on a
// loopback address, over its pseudo-terminal, and through its modem front end.
#include "tests/support/Fakes.h"
#include "tests/support/Process.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using Bytes_t = std::vector<uint8_t>;

// A request as the program builds it: body, four digits, then `terminators` 0xFF.
Bytes_t Request(std::initializer_list<uint8_t> body, int terminators = 2)
{
    const Bytes_t b(body);
    return ReplyFrame(b[0], b[1], Bytes_t(b.begin() + 2, b.end()), terminators);
}

// True when `reply` is station, code, payload, valid digits and exactly `terminators` 0xFF.
bool WellFormed(const Bytes_t& reply, int terminators)
{
    const long t = terminators;
    if (std::ssize(reply) < 6 + t)
        return false;
    const Bytes_t payload(reply.begin() + 2, reply.end() - 4 - t);
    return reply == ReplyFrame(reply[0], reply[1], payload, terminators);
}

// One end of a link to the simulator: a TCP connection to an address on port 14001, or
// (a path) the slave side of its pty opened raw like a serial port, where the program sends
// the 0x55 0x55 preamble as a write of its own before each frame and replies end in one 0xFF.
class Line {
public:
    explicit Line(const std::string& target) : serial_(target.starts_with("/"))
    {
        if (serial_) {
            fd_ = open(target.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
            return;
        }
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(14001);
        inet_pton(AF_INET, target.c_str(), &a.sin_addr);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Line()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool Open() const { return fd_ >= 0; }
    void Send(const Bytes_t& b)
    {
        if (serial_) {
            const uint8_t pre[] = {0x55, 0x55};
            ASSERT_EQ(write(fd_, pre, 2), 2);
            usleep(2000);
        }
        ASSERT_EQ(write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Adds to `got` what arrives until `done` holds, `ms` have passed or the peer closes.
    template <class Done>
    Bytes_t ReadUntil(Done done, int ms = 1500, Bytes_t got = {})
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!closed_ && std::chrono::steady_clock::now() < end && !done(got)) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            uint8_t buf[512];
            const ssize_t n = read(fd_, buf, sizeof buf);
            closed_ = n == 0;
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    // A complete reply: good digits and its 0xFF.
    Bytes_t Reply(int ms = 1500, Bytes_t got = {})
    {
        const int t = serial_ ? 1 : 2;
        return ReadUntil([t](const Bytes_t& g) { return WellFormed(g, t); }, ms, std::move(got));
    }
    Bytes_t Ask(const Bytes_t& request)
    {
        Send(request);
        return Reply();
    }
    // A modem command and its result line.
    std::string Ask(const std::string& text)
    {
        Send(Bytes_t(text.begin(), text.end()));
        const Bytes_t b = ReadUntil([](const Bytes_t& g) { return !g.empty() && g.back() == '\r'; });
        return std::string(b.begin(), b.end());
    }
    // Whatever arrives within `ms`.
    Bytes_t Collect(int ms)
    {
        return ReadUntil([](const Bytes_t&) { return false; }, ms);
    }
    // The pseudo-terminal's line speed, set as on a serial port.
    void SetSpeed(speed_t speed)
    {
        termios tio{};
        tcgetattr(fd_, &tio);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tcsetattr(fd_, TCSANOW, &tio);
    }

private:
    bool serial_;
    int fd_ = -1;
    bool closed_ = false;
};

// The simulator in a folder of its own, with its control socket there.
struct Sim : RunFolder, SimulatedClock {
    explicit Sim(std::vector<std::string> args) : SimulatedClock(dir, Controlled(std::move(args), dir)) {}
    std::string Control(const std::string& line) const { return ::Control(dir + "/control", line); }
    static std::vector<std::string> Controlled(std::vector<std::string> args, const std::string& dir)
    {
        args.insert(args.end(), {"--control", dir + "/control"});
        return args;
    }
};

// The simulator listening on the test's own address, and a connection to it.
struct TcpSim : Sim {
    explicit TcpSim(std::vector<std::string> args = {})
        : Sim(Listening(std::move(args))), tcp(TestAddress()) {}
    bool Ready() const { return SimulatedClock::Ready() && tcp.Open(); }
    static std::vector<std::string> Listening(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--listen", TestAddress()});
        return args;
    }
    Line tcp;
};

const Bytes_t kStatusTcp = {0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF, 0xFF};
const Bytes_t kAck = Request({0xC1, 0xA1}), kBadData = Request({0xC1, 0xA0});

TEST(ClockSimTcp, setsTimeRejectsBadDataAndStaysQuietWhereNoReplyIsDue)
{
    TcpSim sim;
    ASSERT_TRUE(sim.Ready());
    Line& tcp = sim.tcp;
    EXPECT_EQ(tcp.Ask(Request({0xC1, 0xA5, 0x23, 0x59, 0x59})), kAck);
    EXPECT_EQ(tcp.Ask(Request({0xC1, 0xA6, 0x07, 0x31, 0x12, 0x11})), kAck);
    EXPECT_EQ(sim.Control("time"), "ok 23:59:59 07 31/12/11");

    // A damaged digit, an unknown command and a short set_time payload: "received bad data".
    Bytes_t damaged = kStatusTcp;
    damaged[5] ^= 1;
    for (const Bytes_t& bad : {damaged, Request({0xC1, 0x99}), Request({0xC1, 0xA5, 0x23})})
        EXPECT_EQ(tcp.Ask(bad), kBadData);

    // Another station's request, an acknowledge and a system reset get no answer.
    for (const Bytes_t& quiet : {Request({0xC2, 0xAD}), kAck, Request({0xC1, 0xEB, 0x00, 0x00})})
        tcp.Send(quiet);
    EXPECT_TRUE(tcp.Collect(300).empty());
    EXPECT_EQ(sim.Control("frobnicate").rfind("error", 0), 0u);

    const std::string j = sim.Journal();
    for (const char* line : {"set_time 23:59:59\n", "set_date 07 31/12/11\n", "rx C2 AD ", "system_reset\n"})
        EXPECT_NE(j.find(line), std::string::npos) << line;
}

// Replies come in pieces of five bytes, as a slow clock's would.
TEST(ClockSimTcp, framesSurviveNoiseSplitsAndBackToBackRequests_andRepliesArriveInPieces)
{
    TcpSim sim({"--station", "all", "--chunk", "5", "--chunk-gap", "60"});
    ASSERT_TRUE(sim.Ready());
    Line& tcp = sim.tcp;
    tcp.Send(kStatusTcp);
    const Bytes_t first = tcp.ReadUntil([](const Bytes_t& g) { return !g.empty(); }, 1000);
    EXPECT_EQ(first.size(), 5u);
    EXPECT_EQ(tcp.Reply(3000, first).size(), 42u);

    Bytes_t noisy = {0x00, 0x12, 'x'};
    noisy.insert(noisy.end(), kStatusTcp.begin(), kStatusTcp.begin() + 3);
    tcp.Send(noisy);
    tcp.Collect(50);
    EXPECT_EQ(tcp.Ask(Bytes_t(kStatusTcp.begin() + 3, kStatusTcp.end())).size(), 42u);

    Bytes_t two = Request({0xC5, 0xAE}), expected = Request({0xC5, 0xA1});
    const Bytes_t second = Request({0xC7, 0xAE}), expected2 = Request({0xC7, 0xA1});
    two.insert(two.end(), second.begin(), second.end());
    expected.insert(expected.end(), expected2.begin(), expected2.end());
    tcp.Send(two);
    EXPECT_EQ(tcp.Collect(600), expected);

    // An overlong run without a terminator is thrown away; the clock still listens.
    tcp.Send(Bytes_t(400, 0xC1));
    EXPECT_EQ(tcp.Ask(kStatusTcp).size(), 42u);
}

TEST(ClockSimPty, repliesWithOneTerminatorAndIgnoresModemText)
{
    Sim sim({"--pty"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(sim.PtyPath().rfind("/dev/pts/", 0), 0u) << sim.PtyPath();
    Line port(sim.PtyPath());
    ASSERT_TRUE(port.Open());

    port.Send({'A', 'T', 'Z', '\r'});
    EXPECT_TRUE(port.Collect(200).empty());

    // The status reply with its one terminator is the serial_pty scenario's. A payload byte
    // 0xFF does not end the frame early: the digits decide.
    EXPECT_EQ(port.Ask(Request({0xC1, 0xA5, 0x12, 0xFF, 0x00}, 1)), Request({0xC1, 0xA1}, 1));
    EXPECT_NE(sim.Journal().find("set_time 12:FF:00\n"), std::string::npos);
}

// Bytes the simulator's journal says it heard as noise.
size_t NoiseBytes(const std::string& journal)
{
    size_t bytes = 0;
    for (size_t at = journal.find(" baud: "); at != std::string::npos; at = journal.find(" baud: ", at + 1))
        bytes += std::stoul(journal.substr(at + 7));
    return bytes;
}

// A clock at one speed hears a request sent at another as noise, all of it, preamble too.
TEST(ClockSimPty, aRequestAtAnotherSpeedIsNoise_atItsOwnSpeedItIsAnswered)
{
    Sim sim({"--pty", "--baud", "4800"});
    ASSERT_TRUE(sim.Ready());
    Line port(sim.PtyPath());
    ASSERT_TRUE(port.Open());
    const Bytes_t status = Request({0xC1, 0xAD}, 1);
    port.SetSpeed(B9600);
    port.Send(status);
    for (int i = 0; i < 50 && NoiseBytes(sim.Journal()) < 2 + status.size(); ++i) usleep(100000);
    EXPECT_EQ(NoiseBytes(sim.Journal()), 2 + status.size()) << sim.Journal();
    EXPECT_NE(sim.Journal().find("noise at 9600 baud"), std::string::npos) << sim.Journal();
    EXPECT_EQ(sim.Journal().find("rx C1 AD"), std::string::npos) << sim.Journal();

    port.SetSpeed(B4800);
    EXPECT_TRUE(WellFormed(port.Ask(status), 1)) << sim.Journal();
}

// A dial that connects, frames over it and the hang-up on the reset frame are the modem_dial
// scenario; here the modem back in command state after that hang-up.
TEST(ClockSimPty, modemHangsUpOnTheResetFrame_thenAnswersCommands)
{
    Sim sim({"--modem"});
    ASSERT_TRUE(sim.Ready());
    Line port(sim.PtyPath());
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(port.Ask("ATDT5551234\r"), "1\r");
    port.Send(Request({0xC1, 0xB2}, 1));
    port.Send({0x0A});
    EXPECT_TRUE(port.Collect(200).empty());
    EXPECT_NE(sim.Journal().find("hangup\n"), std::string::npos) << sim.Journal();
    EXPECT_EQ(port.Ask("ATZ\r"), "0\r");
}

TEST(ClockSimPty, closingThePortHangsUpTheModemAndDropsUnsentReplies)
{
    Sim sim({"--modem", "--delay", "300"});
    ASSERT_TRUE(sim.Ready());
    {
        Line port(sim.PtyPath());
        ASSERT_TRUE(port.Open());
        EXPECT_EQ(port.Ask("ATDT1\r"), "1\r");
        port.Send(Request({0xC1, 0xAD}, 1));
        usleep(50000);
    }  // closed before the delayed reply is due
    usleep(400000);
    Line again(sim.PtyPath());
    ASSERT_TRUE(again.Open());
    EXPECT_TRUE(again.Collect(200).empty());
    EXPECT_NE(sim.Journal().find("connect\nrx C1 AD 34 31 32 32 FF\nhangup\n"), std::string::npos);
    EXPECT_EQ(again.Ask("ATZ\r"), "0\r");
}

// The serial component opens ports exclusively. On a pty that flag outlives the close, so
// the simulator must lift it or the program's second run could not open the port. Root
// ignores the flag, so the check runs in a child that, as root, gives up its privileges.
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
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(getuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0) ? session() : 13);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ClockSimOptions, refusesNonLoopbackAddresses)
{
    const std::string dir = MakeTempDir();
    const RunResult refuse = RunProgram({QV_BIN_DIR "/clocksim", "--listen", "0.0.0.0"}, {}, dir, 5);
    EXPECT_GT(refuse.exitCode, 0);
    EXPECT_NE(refuse.err.find("127.0.0.0/8"), std::string::npos) << refuse.err;
}

}  // namespace
