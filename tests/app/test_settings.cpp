// Start-up and what it reads: remembered settings (defaults on a first start, stored values
// into the poll state, menus and panels, junk values replaced without losing the port map);
// the serial ports that exist (items of missing ports are disabled at start-up and within a
// second of a device going away); the local adaptor and its default gateway from the
// routing table.
#include "test_window_support.h"

#include "link/CommPortMap.h"
#include "tests/support/Process.h"

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {

using Values = std::vector<std::pair<const char*, QVariant>>;

const Values kDefaults = {{"CommandFile", ""}, {"InputFile", ""},         {"BaudRate", 9600},
                          {"Port", 2},         {"IPAddress", "0.0.0.0"}, {"FingerLogFile", ""}};

// One start: what an earlier session stored, then what the window shows of the link (the
// checked baud and port items; the port, baud and connection panels), what the poll state
// and the two file fields hold, and whether the stored values were found bad and the
// defaults written back.
struct StartCase {
    const char* name;
    Values stored;
    const char* checked;
    const char* panels;
    const char* state;
    bool defaults;
};

// clang-format off
const StartCase kStarts[] = {
    // Nothing is read: the poll state keeps its start-up values.
    {"first start", {}, "N96001 Comm1", "Comm 2|Baud 9600|", "port=0 baud=0", true},
    {"good values", {{"CommandFile", "/d/a.cmd"}, {"InputFile", "/d/b.dat"}, {"BaudRate", 4800}, {"Port", 7},
                     {"IPAddress", "127.0.0.9"}, {"FingerLogFile", "/d/f.log"}},
     "N48001 Comm7", "Comm 7|Baud 4800|",
     "port=7 baud=4800 ip=127.0.0.9 input=/d/b.dat log=/d/f.log edit1=/d/a.cmd edit2=/d/b.dat", false},
    // A rate the menu lacks checks 1200, but the poll state keeps the stored number.
    {"unknown baud rate", {{"BaudRate", 19200}, {"Port", 3}}, "N12001 Comm3", "Comm 3|Baud 1200|",
     "port=3 baud=19200", false},
    {"port outside the menu", {{"BaudRate", 2400}, {"Port", 21}}, "N24001", "Comm 2|Baud 2400|",
     "port=21 baud=2400", false},
    // Port 0 is the network; with an address the baud and connection panels are empty.
    {"network with an address", {{"BaudRate", 9600}, {"Port", 0}, {"IPAddress", "127.0.0.5"}},
     "N96001 Network", "Network||", "port=0 baud=9600 ip=127.0.0.5", false},
    {"network without an address", {{"BaudRate", 1200}, {"Port", 0}, {"IPAddress", ""}},
     "N12001 Network", "Network|Baud 1200|", "port=0 baud=1200", false},
    // Values read before the failing one stay in effect for this session, the port map for good.
    {"junk baud rate", {{"CommandFile", "keep.cmd"}, {"InputFile", "keep.dat"}, {"BaudRate", "fast"},
                        {"Port", 5}, {"SerialPorts/COM3", "/dev/ttyS7"}},
     "N96001 Comm1", "Comm 2|Baud 9600|", "port=0 baud=0 input=keep.dat edit1=keep.cmd edit2=keep.dat", true},
    {"junk port", {{"BaudRate", 4800}, {"Port", "COM2"}, {"IPAddress", "127.0.0.4"}},
     "N96001 Comm1", "Comm 2|Baud 9600|", "port=0 baud=4800", true},
    {"no baud rate", {{"CommandFile", "a.cmd"}, {"Port", 4}},
     "N96001 Comm1", "Comm 2|Baud 9600|", "port=0 baud=0 edit1=a.cmd", true},
};
// clang-format on

class SettingsStartTest : public WindowTest {
protected:
    std::string Panels()
    {
        return Status().ReadPanel(Panel::Port) + "|" + Status().ReadPanel(Panel::Baud) + "|" +
               Status().ReadPanel(Panel::Network);
    }
    // The poll state's port and rate, then its other remembered values and the file fields
    // that are not empty.
    std::string State()
    {
        const PollState& ps = ThePollState();
        std::string out = "port=" + std::to_string(ps.Port) + " baud=" + std::to_string(ps.BaudRate);
        for (const auto& [name, value] :
             std::vector<std::pair<const char*, std::string>>{{"ip", ps.IPAddress},
                                                             {"input", ps.InputFile},
                                                             {"log", ps.FingerLogFile},
                                                             {"edit1", Ui().Edit1Text()},
                                                             {"edit2", Ui().Edit2Text()}})
            if (!value.empty())
                out += " " + std::string(name) + "=" + value;
        return out;
    }
};

TEST_F(SettingsStartTest, storedValuesReachMenusPanelsAndPollState_andBadOnesAreReplacedByDefaults)
{
    for (const StartCase& c : kStarts) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        for (const auto& [name, value] : c.stored) Store(name, value);
        Start();
        EXPECT_EQ(Checked(), c.checked);
        EXPECT_EQ(Panels(), c.panels);
        EXPECT_EQ(State(), c.state);
        // Good values are not rewritten, the port map never; bad ones give way to all the defaults.
        for (const auto& [name, value] : c.stored) {
            if (!c.defaults || QString(name).startsWith("SerialPorts/")) {
                EXPECT_EQ(Stored(name).toString(), value.toString()) << name;
            }
        }
        for (const auto& [name, value] : c.defaults ? kDefaults : Values{})
            EXPECT_EQ(Stored(name).toString(), value.toString()) << name;
        if (c.defaults) {
            EXPECT_NE(ReadFileBytes(confPath).find("BaudRate=9600"), std::string::npos) << "the user's file";
        }
        EXPECT_EQ(ThePollState().LocalAddress, "127.0.0.1");
        EXPECT_EQ(ThePollState().GatewayAddress, "127.0.0.254");
    }
}

// The serial port map's groups are in the same file: a newly numbered device is written
// back to AutoSerialPorts, next to a number kept for a device that is gone, and a port map
// in SerialPorts takes over.
TEST_F(SettingsStartTest, portMapGroups_areReadFromAndWrittenBackToTheSettingsFile)
{
    const std::string sys = configDir + "/sys", dev = configDir + "/dev";
    std::filesystem::create_directories(sys + "/ttyUSB0");
    std::filesystem::create_directories(dev);
    std::ofstream(dev + "/ttyUSB0") << "";
    Store("AutoSerialPorts/COM1", QString::fromStdString(dev + "/ttyGONE"));
    EXPECT_EQ(CommPortMap(sys, dev).Ports(), (CommPortMap::Entries{{2, dev + "/ttyUSB0"}}));
    EXPECT_EQ(Stored("AutoSerialPorts/COM1").toString().toStdString(), dev + "/ttyGONE");
    EXPECT_EQ(Stored("AutoSerialPorts/COM2").toString().toStdString(), dev + "/ttyUSB0");
    EXPECT_EQ(CommPortMap(sys, dev).DevicePath("COM1"), dev + "/ttyGONE");

    Store("SerialPorts/COM7", QString::fromStdString(dev + "/ttyUSB0"));
    EXPECT_EQ(CommPortMap(sys, dev).Ports(), (CommPortMap::Entries{{7, dev + "/ttyUSB0"}}));
}

TEST_F(SettingsStartTest, junkInTheConfigFile_neverCrashes_andEndsWithAUsableSelection)
{
    const std::vector<std::string> junk = {
        "BaudRate=\nPort=\n",
        "BaudRate=1,2\nPort=3,4\n",
        "BaudRate=99999999999999999999\nPort=-2147483648\n",
        "BaudRate=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x3QRect)\nPort=@ByteArray()\n",
        "BaudRate=\"9600\nPort=\\\\\\\n",
        "CommandFile=\"unterminated\nBaudRate=9600\nPort=-3\nIPAddress=a,b,c\n",
        std::string("BaudRate=96\0"
                    "00\nPort=\xff\xfe\n",
                    23),
    };
    for (const std::string& text : junk) {
        SCOPED_TRACE(text);
        TearDown();
        SetUp();
        std::filesystem::create_directories(configDir + "/Korvane");
        WriteFile(confPath, text);
        Start();
        // One port item at most.
        EXPECT_LE(Count(Checked(), "Comm") + Count(Checked(), "Network"), 1u) << Checked();
        EXPECT_NE(Status().ReadPanel(Panel::Baud).find("Baud"), std::string::npos);
    }
}

TEST_F(SettingsStartTest, mappedPorts_enableTheirItems_andAVanishedDeviceIsDisabledWithinASecond)
{
    const std::string device = configDir + "/ttyFAKE3";
    std::ofstream(device) << "";
    const std::string missing = configDir + "/ttyGONE4";
    Store("SerialPorts/COM3", QString::fromStdString(device));
    Store("SerialPorts/COM4", QString::fromStdString(missing));
    Start();

    EXPECT_TRUE(Item("Comm3")->isEnabled());
    EXPECT_FALSE(Item("Comm4")->isEnabled());
    EXPECT_FALSE(Item("Comm1")->isEnabled());
    EXPECT_TRUE(Ui().PortItemEnabled(3));
    EXPECT_FALSE(Ui().PortItemEnabled(4));
    EXPECT_EQ(Item("Comm3")->statusTip().toStdString(), device);

    ASSERT_EQ(unlink(device.c_str()), 0);
    const int64_t removed = fake.time.NowMs();
    while (Item("Comm3")->isEnabled() && fake.time.NowMs() - removed < 3000) fake.pump.PumpUntilEventOrTick();
    EXPECT_FALSE(Item("Comm3")->isEnabled());
    EXPECT_LE(fake.time.NowMs() - removed, 1000);
}

const char* const kHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(RouteTable, onlyDefaultRoutesWithAGatewayCount_aLaterLineWins_andAnAdaptorThatExistsGivesTheAddresses)
{
    std::string table = std::string(kHeader) +
                        // default via 127.0.1.1 (bytes in memory order: 01 01 00 7F)
                        "eth0\t00000000\t0101007F\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                        // the local subnet: no gateway
                        "eth0\t0001007F\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
                        // a host route through a gateway is not a default route
                        "wlan0\t0A00007F\t0100007F\t0007\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n"
                        // a default route that is down
                        "wlan1\t00000000\t0110007F\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                        // malformed lines are passed over
                        "tun0\t00000000\tZZZZZZZZ\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                        "short line\n"
                        "\n"
                        "usb0\t00000000\t0102007F\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                        "usb0\t00000000\t0202007F\t0003\t0\t0\t700\t00000000\t0\t0\t0\n";
    auto gateways = SystemNetworkInfo::ParseDefaultGateways(table);
    EXPECT_EQ(gateways, (std::map<std::string, std::string>{{"eth0", "127.0.1.1"}, {"usb0", "127.0.2.2"}}));
    EXPECT_TRUE(SystemNetworkInfo::ParseDefaultGateways("").empty());
    EXPECT_TRUE(SystemNetworkInfo::ParseDefaultGateways(kHeader).empty());

    // From a file: an adaptor that does not exist is passed over. A table naming only the
    // loopback adaptor besides keeps the lookup on this machine.
    const std::string path = MakeTempDir() + "/route";
    WriteFile(path, std::string(kHeader) + "nosuch9\t00000000\t0100A87F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n" +
                        "lo\t00000000\t0100007F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n");
    SystemNetworkInfo info(path);
    EXPECT_EQ(info.LocalAddress(), "127.0.0.1");
    EXPECT_EQ(info.GatewayAddress(), "127.0.0.1");
}

}  // namespace
