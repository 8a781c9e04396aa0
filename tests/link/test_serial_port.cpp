#include "link/CommPortMap.h"
#include "link/SerialOpenAdvice.h"
#include "link/ZylSerialPort.h"
#include "tests/support/Fakes.h"
#include "tests/support/LiveNetwork.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Runs events until done() holds or the deadline passes; returns done().
bool PumpUntil(const std::function<bool()>& done, int ms = 2000)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < end) {
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return done();
}

// A pseudo-terminal pair: the test plays the clock on the master, the component opens
// the slave.
struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            slave = ptsname(master);
    }
    ~Pty() { CloseMaster(); }
    void CloseMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void Write(const std::vector<uint8_t>& bytes) const
    {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::vector<uint8_t> Read(size_t count, int ms = 1000) const
    {
        std::vector<uint8_t> got;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (got.size() < count && Clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                uint8_t buf[256];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    got.insert(got.end(), buf, buf + n);
            }
        }
        return got;
    }
};

// The clock side streaming the letters a..z over and over into the master end until
// stopped; it waits for room in the line rather than spinning. Letters only: bytes that
// arrive while the port is closed meet the line's cooked settings, which act on control
// characters.
class PeerWriter {
public:
    explicit PeerWriter(int master)
        : thread_([this, master] {
              uint8_t next = 'a';
              while (!stop_) {
                  pollfd p{master, POLLIN | POLLOUT, 0};
                  if (::poll(&p, 1, 20) <= 0)
                      continue;
                  // While the port is closed the line echoes; unread echoes would stall it.
                  if ((p.revents & POLLIN) != 0) {
                      uint8_t echo[256];
                      [[maybe_unused]] const ssize_t ignored = ::read(master, echo, sizeof echo);
                  }
                  if ((p.revents & POLLOUT) != 0 && ::write(master, &next, 1) == 1)
                      next = next == 'z' ? 'a' : next + 1;
              }
          })
    {
    }
    ~PeerWriter() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Bytes of one open session of the port: each must follow the one before it.
bool Consecutive(const std::vector<uint8_t>& bytes)
{
    for (size_t i = 1; i < bytes.size(); ++i)
        if (bytes[i] != (bytes[i - 1] == 'z' ? 'a' : bytes[i - 1] + 1))
            return false;
    return true;
}

std::shared_ptr<const CommPortMap> MapCom2To(const std::string& path)
{
    const auto entries = [path] { return CommPortMap::Entries{{2, path}}; };
    return std::make_shared<const CommPortMap>(entries, "/nonexistent-sys", "/nonexistent-dev");
}

std::string ErrorText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ESerialPortError& e) {
        return e.what();
    }
    return "<no error>";
}

// Whether the device can be taken for exclusive use, as the port takes it.
bool LockFree(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

void Touch(const std::string& path, const std::string& content = "")
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << content;
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoreApp();
        ASSERT_FALSE(pty.slave.empty());
    }
    Pty pty;
    TZylSerialPort port{MapCom2To(pty.slave)};
};

TEST_F(SerialPort, aClosedPortRefusesWritesAndOpeningNoPortOrTheOpenPortDoesNothing)
{
    const uint8_t byte = 0x55;
    EXPECT_EQ(ErrorText([&] { port.SendData(&byte, 1); }), "COM2 is not open.");
    EXPECT_FALSE(port.GetCTS());
    EXPECT_NO_THROW(port.Close());

    int disconnects = 0;
    port.OnDisconnect = [&](TZylSerialPort&, int) { ++disconnects; };
    port.SelectPort(0, 9600);
    EXPECT_NO_THROW(port.Open());
    EXPECT_FALSE(port.IsConnected());
    port.SelectPort(2, 9600);
    port.Open();
    port.Open();
    EXPECT_TRUE(port.IsConnected());
    EXPECT_EQ(disconnects, 0);
}

TEST_F(SerialPort, writesReachTheLineByteExact_andAPseudoTerminalReadsClearToSendAndDataSetReady)
{
    TLineStatusSet reported;
    port.OnLineStatusChange = [&](TZylSerialPort&, TLineStatusSet lines) { reported = lines; };
    port.Open();
    // Bytes a cooked line would translate or act on: NL, CR, XON, XOFF, ^C, 0xFF.
    const std::vector<uint8_t> frame = {0x55, 0x55, 0xC3, 0x0A, 0x0D, 0x11, 0x13, 0x03, 0x00, 0xFF};
    EXPECT_EQ(port.SendData(frame.data(), static_cast<int>(frame.size())), 10);
    EXPECT_EQ(pty.Read(frame.size()), frame);
    EXPECT_EQ(ErrorText([&] { port.SendData(frame.data(), 0); }), "COM2 is not open.");
    EXPECT_TRUE(port.GetCTS());
    ASSERT_TRUE(PumpUntil([&] { return reported.any(); }));
    EXPECT_EQ(reported.to_ulong(), 0x3u);
}

TEST_F(SerialPort, receivedBytesArriveOnTheMainThreadInOrderWithoutWaitingForAPoll)
{
    std::vector<uint8_t> received;
    int events = 0;
    bool onMainThread = true;
    port.OnReceive = [&](TZylSerialPort&, std::span<const uint8_t> buffer) {
        ++events;
        onMainThread = onMainThread && QThread::currentThread() == CoreApp().thread();
        received.insert(received.end(), buffer.begin(), buffer.end());
    };
    // Anything that looked for bytes only every Delay ms would deliver nothing here.
    port.SetDelay(3600 * 1000);
    port.Open();
    const std::vector<uint8_t> first = {0xC3, 0xA1, 0x0D, 0x0A, 0x03, 0x11};
    const std::vector<uint8_t> second = {0x34, 0x31, 0x32, 0x32, 0xFF};
    pty.Write(first);
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= first.size(); }));
    pty.Write(second);
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= first.size() + second.size(); }));
    std::vector<uint8_t> all = first;
    all.insert(all.end(), second.begin(), second.end());
    EXPECT_EQ(received, all);
    EXPECT_GE(events, 2);
    EXPECT_TRUE(onMainThread);
}

TEST_F(SerialPort, closeSendsWhatWasWrittenReleasesTheLockAndRestoresTheLineSettings_asDestroyingDoes)
{
    const auto lineSettings = [&] {
        termios t{};
        const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_EQ(::tcgetattr(fd, &t), 0);
        ::close(fd);
        return std::tuple(t.c_lflag, t.c_iflag, t.c_oflag);
    };
    const auto before = lineSettings();
    std::vector<int> disconnects;
    port.OnDisconnect = [&](TZylSerialPort&, int p) { disconnects.push_back(p); };
    port.Open();
    // A last frame that expects no reply (a reset) still reaches the line.
    const std::vector<uint8_t> frame = {0xC3, 0xEB, 0x00, 0x00, 0xFF};
    port.SendData(frame.data(), static_cast<int>(frame.size()));
    port.Close();
    EXPECT_FALSE(port.IsConnected());
    EXPECT_EQ(disconnects, std::vector<int>{2});
    EXPECT_EQ(pty.Read(frame.size()), frame);

    EXPECT_TRUE(LockFree(pty.slave));
    EXPECT_EQ(lineSettings(), before);

    // A port destroyed while open lets the device go too.
    {
        TZylSerialPort other(MapCom2To(pty.slave));
        other.Open();
        ASSERT_TRUE(other.IsConnected());
        pty.Write({1, 2});
        PumpUntil([] { return false; }, 30);
    }
    EXPECT_TRUE(LockFree(pty.slave));
}

TEST_F(SerialPort, openAndCloseRaceAPeerThatKeepsWriting)
{
    PeerWriter peer(pty.master);
    std::vector<uint8_t> session;
    bool inOrder = true;
    size_t largest = 0;
    int disconnects = 0;
    port.OnReceive = [&](TZylSerialPort&, std::span<const uint8_t> bytes) {
        largest = std::max(largest, bytes.size());
        session.insert(session.end(), bytes.begin(), bytes.end());
    };
    port.OnDisconnect = [&](TZylSerialPort&, int) { ++disconnects; };
    for (int round = 0; round < 30; ++round) {
        session.clear();
        port.Open();
        ASSERT_TRUE(port.IsConnected());
        // Closed while bytes arrive: some rounds right after the first event, some later.
        ASSERT_TRUE(PumpUntil([&] { return session.size() >= static_cast<size_t>(1 + round % 3 * 400); }));
        port.Close();
        const size_t atClose = session.size();
        PumpUntil([] { return false; }, 5);
        EXPECT_EQ(session.size(), atClose) << "a receive event came after Close";
        inOrder = inOrder && Consecutive(session);
        EXPECT_EQ(disconnects, round + 1);
    }
    EXPECT_TRUE(inOrder) << "bytes of one session lost or reordered";
    EXPECT_LE(largest, static_cast<size_t>(TZylSerialPort::kMaxDelivery));
}

TEST_F(SerialPort, exitingWithThePortOpenEndsCleanly)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // As a program that never closes its port: exit runs while bytes keep arriving.
            static TZylSerialPort open(MapCom2To(pty.slave));
            std::vector<uint8_t> received;
            open.OnReceive = [&](TZylSerialPort&, std::span<const uint8_t> bytes) {
                received.insert(received.end(), bytes.begin(), bytes.end());
            };
            open.Open();
            static PeerWriter peer(pty.master);
            PumpUntil([&] { return received.size() > 100; });
            std::exit(received.size() > 100 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(SerialPort, aDeviceThatDisappearsIsReportedAndItsReplacementOpens)
{
    // The port's path is a link, as udev makes for an adaptor; unplugging removes the device.
    const std::string dir = MakeTempDir();
    const std::string link = dir + "/ttyQV";
    ASSERT_EQ(::symlink(pty.slave.c_str(), link.c_str()), 0);
    TZylSerialPort adaptor(MapCom2To(link));
    std::vector<uint8_t> received;
    int disconnects = 0;
    adaptor.OnReceive = [&](TZylSerialPort&, std::span<const uint8_t> bytes) {
        received.insert(received.end(), bytes.begin(), bytes.end());
    };
    adaptor.OnDisconnect = [&](TZylSerialPort&, int) { ++disconnects; };
    adaptor.Open();
    {
        PeerWriter peer(pty.master);
        ASSERT_TRUE(PumpUntil([&] { return received.size() > 50; }));
    }
    pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !adaptor.IsConnected(); }, 1000));
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(Consecutive(received));
    const uint8_t byte = 0;
    EXPECT_EQ(ErrorText([&] { adaptor.SendData(&byte, 1); }), "COM2 is not open.");
    adaptor.Close();
    EXPECT_EQ(disconnects, 1);

    Pty replacement;
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(replacement.slave.c_str(), link.c_str()), 0);
    received.clear();
    adaptor.Open();
    ASSERT_TRUE(adaptor.IsConnected());
    replacement.Write({0xC3, 0xA1, 0xFF});
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 3; }));
    EXPECT_EQ(received, (std::vector<uint8_t>{0xC3, 0xA1, 0xFF}));
    adaptor.Close();
    EXPECT_EQ(disconnects, 2);
}

TEST_F(SerialPort, closingFromInsideTheReceiveEventStopsFurtherEvents)
{
    int receives = 0;
    port.OnReceive = [&](TZylSerialPort& sender, std::span<const uint8_t>) {
        ++receives;
        sender.Close();
    };
    port.Open();
    pty.Write({1, 2, 3});
    ASSERT_TRUE(PumpUntil([&] { return !port.IsConnected(); }, 1000));
    pty.Write({4, 5, 6});
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(receives, 1);
    port.Open();
    EXPECT_TRUE(port.IsConnected());
}

TEST_F(SerialPort, aStalledLineFailsTheWriteWhenTheTimeOutRunsOut)
{
    port.Open();
    // Nobody reads the master end, so the pty's queue fills up; the byte that finds no room
    // fails after its time-out (100 ms plus 1 s) instead of hanging.
    const uint8_t byte = 0x41;
    std::string error = "<no error>";
    for (int i = 0; i < (1 << 20) && error == "<no error>"; ++i)
        error = ErrorText([&] { port.SendData(&byte, 1); });
    EXPECT_EQ(error, "COM2 is not open.");
}

TEST_F(SerialPort, aPortHeldElsewhereNamesItsHolder)
{
    port.Open();
    TZylSerialPort second(MapCom2To(pty.slave));
    testing::internal::CaptureStderr();
    const std::string error = ErrorText([&] { second.Open(); });
    const std::string advice = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, "Cannot connect to COM2.");
    EXPECT_FALSE(second.IsConnected());
    EXPECT_NE(advice.find("in use, held by process " + std::to_string(getpid())), std::string::npos)
        << advice;
    // The first owner is not disturbed.
    const uint8_t byte = 0x42;
    port.SendData(&byte, 1);
    EXPECT_EQ(pty.Read(1), std::vector<uint8_t>{0x42});
}

TEST(SerialOpenFailure, missingDeviceSaysSoAndNamesTheSettingsGroup)
{
    CoreApp();
    TZylSerialPort port(MapCom2To("/nonexistent/ttyQV"));
    testing::internal::CaptureStderr();
    const std::string error = ErrorText([&] { port.Open(); });
    const std::string advice = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, "Cannot connect to COM2.");
    EXPECT_FALSE(port.IsConnected());
    EXPECT_NE(advice.find("COM2: no such device /nonexistent/ttyQV"), std::string::npos) << advice;
    EXPECT_NE(advice.find("SerialPorts"), std::string::npos) << advice;

    port.SelectPort(7, 9600);  // not mapped at all
    testing::internal::CaptureStderr();
    EXPECT_EQ(ErrorText([&] { port.Open(); }), "Cannot connect to COM7.");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("COM7: no serial device is known"),
              std::string::npos);

    // The same advice for a caller that refuses the port without opening it.
    EXPECT_EQ(port.UnavailableReason(2), advice.substr(0, advice.find('\n')));
    EXPECT_NE(port.UnavailableReason(7).find("COM7: no serial device is known"), std::string::npos);
}

TEST(SerialOpenFailure, adviceNamesTheGroupToJoinAndTheLockFileHolder)
{
    const std::string dir = MakeTempDir();
    const std::string device = dir + "/ttyQV0";
    Touch(device);
    const group* dialout = getgrnam("dialout");
    if (dialout && ::chown(device.c_str(), 0, dialout->gr_gid) == 0 && getegid() != dialout->gr_gid) {
        const std::string advice = SerialOpenAdvice::Describe("COM3", device, EACCES);
        EXPECT_NE(advice.find("is not in the group dialout that owns the device"), std::string::npos)
            << advice;
        EXPECT_NE(advice.find("usermod -aG dialout"), std::string::npos) << advice;
    }

    SerialAdviceRoots roots;
    roots.lockDirs = {dir + "/none", dir + "/lock"};
    Touch(dir + "/lock/LCK..ttyQV0", "      " + std::to_string(getpid()) + "\n");
    std::string comm;
    std::getline(std::ifstream("/proc/self/comm"), comm);
    EXPECT_EQ(SerialOpenAdvice::FindHolder(device, roots),
              "process " + std::to_string(getpid()) + " (" + comm + ")");
    EXPECT_NE(SerialOpenAdvice::Describe("COM3", device, EBUSY, roots).find("held by process"),
              std::string::npos);
}

TEST(CommPortMapTest, configuredPortsAreExactlyThoseWhosePathExists)
{
    const std::string dir = MakeTempDir();
    Touch(dir + "/a");
    Touch(dir + "/b");
    const CommPortMap::Entries configured = {{1, dir + "/a"}, {3, dir + "/missing"}, {5, dir + "/b"}};
    // A ttyS port in the fake tree must not show up while the settings list ports.
    Touch(dir + "/sys/ttyS0/type", "4\n");
    Touch(dir + "/dev/ttyS0");
    auto map =
        std::make_shared<const CommPortMap>([configured] { return configured; }, dir + "/sys", dir + "/dev");
    EXPECT_EQ(map->Ports(), (CommPortMap::Entries{{1, dir + "/a"}, {5, dir + "/b"}}));
    EXPECT_EQ(map->DevicePath("COM3"), dir + "/missing");
    EXPECT_EQ(map->DevicePath("COM4"), "");
    EXPECT_EQ(map->DevicePath("com1"), "");

    EXPECT_EQ(TZylSerialPort(map).GetExistingCommPorts(), (std::set<int>{1, 5}));

    // Of a settings group only the COM1..COM50 keys count.
    EXPECT_EQ(CommPortMap::PortsOf({{"COM2", "/dev/ttyUSB0"}, {"COM51", "/dev/ttyUSB1"}, {"Speed", "9600"}}),
              (CommPortMap::Entries{{2, "/dev/ttyUSB0"}}));
}

TEST(CommPortMapTest, automaticNumbersStayWithTheirDevices)
{
    const std::string dir = MakeTempDir();
    const std::string sys = dir + "/sys", dev = dir + "/dev", byId = dev + "/serial/by-id";
    fs::create_directories(byId);
    const auto plug = [&](const std::string& kernelName, const std::string& id) {
        Touch(sys + "/" + kernelName + "/dev");
        Touch(dev + "/" + kernelName);
        if (!id.empty())
            fs::create_symlink("../../" + kernelName, byId + "/" + id);
    };
    const auto unplug = [&](const std::string& kernelName, const std::string& id) {
        fs::remove_all(sys + "/" + kernelName);
        fs::remove(dev + "/" + kernelName);
        fs::remove(byId + "/" + id);
    };
    Touch(sys + "/ttyS0/type", "4\n");
    Touch(dev + "/ttyS0");
    plug("ttyUSB0", "usb-A");
    plug("ttyUSB1", "usb-B");

    // COM2 is remembered for an adaptor that is not plugged in.
    CommPortMap::Entries stored = {{2, byId + "/usb-old"}};
    CommPortMap::Entries configured;
    int writes = 0;
    const CommPortMap map([&] { return configured; }, [&] { return stored; },
                          [&](int n, const std::string& path) {
                              ++writes;
                              stored[n] = path;
                          },
                          sys, dev);

    EXPECT_EQ(map.Ports(),
              (CommPortMap::Entries{{1, dev + "/ttyS0"}, {3, byId + "/usb-A"}, {4, byId + "/usb-B"}}));
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(map.Ports().size(), 3u);
    EXPECT_EQ(writes, 3) << "known devices are not written again";

    // A unplugged: B keeps its number, A's stays reserved and still names its device.
    unplug("ttyUSB0", "usb-A");
    EXPECT_EQ(map.Ports(), (CommPortMap::Entries{{1, dev + "/ttyS0"}, {4, byId + "/usb-B"}}));
    EXPECT_EQ(map.DevicePath(3), byId + "/usb-A");
    // A new adaptor (given A's kernel name) takes the lowest free number.
    plug("ttyUSB0", "usb-C");
    EXPECT_EQ(map.Ports().at(5), byId + "/usb-C");
    // A comes back under another kernel name and gets its number back.
    plug("ttyUSB2", "usb-A");
    EXPECT_EQ(map.Ports().at(3), byId + "/usb-A");
    EXPECT_EQ(writes, 4);

    // Seen before udev made its by-id link, a device keeps its number under the link.
    plug("ttyACM0", "");
    EXPECT_EQ(map.Ports().at(6), dev + "/ttyACM0");
    fs::create_symlink("../../ttyACM0", byId + "/usb-D");
    EXPECT_EQ(map.Ports().at(6), byId + "/usb-D");
    EXPECT_EQ(stored.at(6), byId + "/usb-D");

    // An explicit map takes over and leaves the remembered numbers alone.
    configured = {{9, dev + "/ttyS0"}};
    const int before = writes;
    EXPECT_EQ(map.Ports(), configured);
    EXPECT_EQ(map.DevicePath(3), "");
    EXPECT_EQ(writes, before);
}

TEST(CommPortMapTest, enumerationNumbersUartsThenStableUsbNamesThenTheRest)
{
    const std::string dir = MakeTempDir();
    const std::string sys = dir + "/sys", dev = dir + "/dev";
    // ttyS1 is registered with no UART behind it; ttyS3 has no device node.
    for (const char* uart : {"ttyS0", "ttyS2", "ttyS10", "ttyS3"}) Touch(sys + "/" + uart + "/type", "4\n");
    Touch(sys + "/ttyS1/type", "0\n");
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0"}) Touch(sys + "/" + name + "/dev");
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1", "ttyACM0"})
        Touch(dev + "/" + name);
    fs::create_directories(dev + "/serial/by-id");
    fs::create_symlink("../../ttyUSB1", dev + "/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0");

    const CommPortMap map([] { return CommPortMap::Entries{}; }, sys, dev);
    const CommPortMap::Entries expected = {
        {1, dev + "/ttyS0"},   {2, dev + "/ttyS2"},
        {3, dev + "/ttyS10"},  {4, dev + "/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0"},
        {5, dev + "/ttyUSB0"}, {6, dev + "/ttyACM0"},
    };
    EXPECT_EQ(map.Ports(), expected);
    EXPECT_EQ(map.DevicePath("COM4"), dev + "/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0");
    EXPECT_EQ(map.DevicePath(7), "");
}

}  // namespace
