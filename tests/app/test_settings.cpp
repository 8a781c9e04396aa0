// Start-up with remembered settings: defaults on a first start, stored values into the
// poll state, menus and panels, and junk values replaced without losing the port map.
#include "test_window_support.h"

#include "link/CommPortMap.h"

#include <QComboBox>
#include <QLineEdit>

#include <filesystem>
#include <fstream>

namespace {

class SettingsStartTest : public WindowTest {
protected:
    int CheckedPortItems()
    {
        int n = Item("Network")->isChecked() ? 1 : 0;
        for (int i = 1; i <= 20; ++i) n += Item(("Comm" + std::to_string(i)).c_str())->isChecked() ? 1 : 0;
        return n;
    }
    void ExpectDefaultsStored()
    {
        EXPECT_EQ(Stored("CommandFile").toString(), "");
        EXPECT_EQ(Stored("InputFile").toString(), "");
        EXPECT_EQ(Stored("BaudRate").toInt(), 9600);
        EXPECT_EQ(Stored("Port").toInt(), 2);
        EXPECT_EQ(Stored("IPAddress").toString(), "0.0.0.0");
        EXPECT_EQ(Stored("FingerLogFile").toString(), "");
    }
    void ExpectInitialSelections()
    {
        EXPECT_TRUE(Item("N96001")->isChecked());
        EXPECT_TRUE(Item("Comm1")->isChecked());
        EXPECT_EQ(Status().ReadPanel(Panel::Port), "Comm 2");
        EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud 9600");
    }
};

TEST_F(SettingsStartTest, firstStart_writesDefaultsToTheUserConfigFile_andKeepsTheInitialSelections)
{
    Start();
    ExpectDefaultsStored();
    ExpectInitialSelections();
    std::string conf = ReadFileBytes(confPath);
    EXPECT_NE(conf.find("BaudRate=9600"), std::string::npos) << conf;
    EXPECT_NE(conf.find("Port=2"), std::string::npos) << conf;
    EXPECT_NE(conf.find("IPAddress=0.0.0.0"), std::string::npos) << conf;
    // Nothing was read, so the poll state keeps its start-up values.
    EXPECT_EQ(ThePollState().Port, 0);
    EXPECT_EQ(ThePollState().IPAddress, "");
    EXPECT_EQ(ThePollState().LocalAddress, "127.0.0.1");
    EXPECT_EQ(ThePollState().GatewayAddress, "127.0.0.1");
}

TEST_F(SettingsStartTest, storedValues_reachEditsPollStateMenusAndPanels)
{
    Store("CommandFile", "/data/nightly.cmd");
    Store("InputFile", "/data/bells.dat");
    Store("BaudRate", 4800);
    Store("Port", 7);
    Store("IPAddress", "127.0.0.9");
    Store("FingerLogFile", "/data/finger.log");
    Start();
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "/data/nightly.cmd");
    EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), "/data/bells.dat");
    const PollState& ps = ThePollState();
    EXPECT_EQ(ps.InputFile, "/data/bells.dat");
    EXPECT_EQ(ps.BaudRate, 4800);
    EXPECT_EQ(ps.Port, 7);
    EXPECT_EQ(ps.IPAddress, "127.0.0.9");
    EXPECT_EQ(ps.FingerLogFile, "/data/finger.log");
    EXPECT_TRUE(Item("N48001")->isChecked());
    EXPECT_TRUE(Item("Comm7")->isChecked());
    EXPECT_EQ(CheckedPortItems(), 1);
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Comm 7");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud 4800");
    EXPECT_EQ(Ui().CheckedCommPort(), 7);
    // Nothing is rewritten when the values were good.
    EXPECT_EQ(Stored("CommandFile").toString(), "/data/nightly.cmd");
}

TEST_F(SettingsStartTest, unknownBaudRate_checks1200_butPollStateKeepsTheStoredNumber)
{
    Store("BaudRate", 19200);
    Store("Port", 3);
    Start();
    EXPECT_TRUE(Item("N12001")->isChecked());
    EXPECT_FALSE(Item("N96001")->isChecked());
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud 1200");
    EXPECT_EQ(ThePollState().BaudRate, 19200);
    EXPECT_EQ(Stored("BaudRate").toInt(), 19200);
}

TEST_F(SettingsStartTest, portOutsideTheMenu_checksNoPortItem_andLeavesPanel2AsAtStart)
{
    Store("BaudRate", 2400);
    Store("Port", 21);
    Start();
    EXPECT_EQ(CheckedPortItems(), 0);
    EXPECT_EQ(Ui().CheckedCommPort(), 0);
    EXPECT_FALSE(Links().NetworkSelected());
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Comm 2");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud 2400");
    EXPECT_EQ(ThePollState().Port, 21);
}

TEST_F(SettingsStartTest, portZero_selectsNetwork_andAnAddressEmptiesTheBaudAndConnectionPanels)
{
    Store("BaudRate", 9600);
    Store("Port", 0);
    Store("IPAddress", "127.0.0.5");
    Start();
    EXPECT_TRUE(Links().NetworkSelected());
    EXPECT_EQ(CheckedPortItems(), 1);
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Network");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "");
    EXPECT_EQ(Status().ReadPanel(Panel::Network), "");
}

TEST_F(SettingsStartTest, portZeroWithoutAddress_keepsTheBaudPanel)
{
    Store("BaudRate", 1200);
    Store("Port", 0);
    Store("IPAddress", "");
    Start();
    EXPECT_TRUE(Links().NetworkSelected());
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Network");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "Baud 1200");
}

TEST_F(SettingsStartTest, junkBaudRate_rewritesDefaults_keepsWhatWasReadBefore_andTheSerialPortMap)
{
    Store("CommandFile", "keep.cmd");
    Store("InputFile", "keep.dat");
    Store("BaudRate", "fast");
    Store("Port", 5);
    Store("SerialPorts/COM3", "/dev/ttyS7");
    Start();
    ExpectDefaultsStored();
    ExpectInitialSelections();
    // Values read before the failing one stay in effect for this session.
    EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "keep.cmd");
    EXPECT_EQ(ThePollState().InputFile, "keep.dat");
    EXPECT_EQ(ThePollState().Port, 0);
    EXPECT_EQ(Stored("SerialPorts/COM3").toString(), "/dev/ttyS7");
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

TEST_F(SettingsStartTest, junkPort_keepsTheBaudRateReadBefore_butNotItsMenuItem)
{
    Store("BaudRate", 4800);
    Store("Port", "COM2");
    Store("IPAddress", "127.0.0.4");
    Start();
    ExpectDefaultsStored();
    ExpectInitialSelections();
    EXPECT_EQ(ThePollState().BaudRate, 4800);
    EXPECT_EQ(ThePollState().IPAddress, "");
}

TEST_F(SettingsStartTest, missingBaudRateAmongOtherValues_isAReadFailure)
{
    Store("CommandFile", "a.cmd");
    Store("Port", 4);
    Start();
    ExpectDefaultsStored();
    ExpectInitialSelections();
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
        window.reset();
        ThePollState().Reset();
        SetUp();
        std::string dir = configDir + "/Korvane";
        ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
        FILE* f = fopen(confPath.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        Start();
        EXPECT_LE(CheckedPortItems(), 1);
        EXPECT_NE(Status().ReadPanel(Panel::Baud).find("Baud"), std::string::npos);
    }
}

}  // namespace
