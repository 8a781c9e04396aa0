#include "core/PollState.h"
#include "core/ClockError.h"
#include "session/RunDriver.h"
#include "session/RunUi.h"
#include "support/FakeFindUi.h"
#include "support/Fakes.h"
#include "support/Process.h"
#include "support/RecordingProgress.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include <sys/stat.h>

namespace {

struct FakeConnector : INetConnection {
    PollState& ps;
    ClockError result = ceOK;
    std::vector<std::string> connects;
    explicit FakeConnector(PollState& p) : ps(p) {}
    ClockError Connect() override
    {
        connects.push_back(ps.IPAddress);
        return result;
    }
    void Deactivate() override {}
};

struct FakeModem : IModemControl {
    ClockError connectResult = ceOK;
    std::vector<std::string> calls;
    PollState& ps;
    explicit FakeModem(PollState& p) : ps(p) {}
    ClockError ModemConnect() override
    {
        calls.push_back("connect " + ps.InputFileName);
        if (connectResult == ceOK)
            ps.ModemInUse = true;
        return connectResult;
    }
    void ModemReset() override
    {
        calls.push_back("reset");
        ps.ModemInUse = false;
    }
    void CloseModemFile() override { calls.push_back("closefile"); }
};

class RunDriverTest : public ::testing::Test {
protected:
    PollState ps;
    FakeRig rig{ps};
    FakeRunUi ui;
    FakeSerial serial;
    FakeConnector net{ps};
    FakeModem modem{ps};
    std::vector<std::string> ran;  // "letter station file"
    RecordingProgress progress{rig.time};
    RunDriver driver{
        ps,
        rig.status,
        ui,
        rig.selection,
        rig.pump,
        rig.exchange,
        serial,
        net,
        modem,
        [this](char c) {
            ran.push_back(std::string(1, c) + " " + ps.StationDigitsText() + " " + ps.InputFileName);
            ps.PollStatus = ceOK;
        },
        progress};
    std::string dir = MakeTempDir();
    std::string results = dir + "/results.txt";

    RunDriverTest() { ui.ports = {1, 2, 3}; }
    // Runs the command file at `cmd` unattended, its results to `log`, from an empty memo.
    void RunUnattended(const std::string& cmd, const std::string& log)
    {
        rig.status.ClearStatus();
        ps.ResultFailed = false;
        ps.Unattended = true;
        ps.InputFileName = cmd;
        ps.LogFileName = log;
        driver.Run();
    }
    void RunFile(const std::string& content)
    {
        WriteFile(dir + "/run.cmd", content);
        RunUnattended(dir + "/run.cmd", results);
    }
    std::string Results() { return ReadFileBytes(results); }
};

// The results line of an init_clock line.
std::string Init(const std::string& station, const std::string& code)
{
    return ResultLine(station, "init_clock", code);
}

TEST_F(RunDriverTest, commandFileRunsEachGroupOnItsOwnStationAndLink)
{
    RunFile(
        "init_clock 03 COM2 9600\nget_times punches.dat\n\nset_time\n"
        "init_clock 04 IP127.0.0.9\nget_status status.txt");
    // A blank line is no command.
    EXPECT_EQ(progress.log,
              (std::vector<std::string>{"begin Commands of the command file done 5", "1 of 5 commands",
                                        "2 of 5 commands", "2 of 5 commands", "3 of 5 commands",
                                        "4 of 5 commands", "5 of 5 commands, 0:00 left", "end"}));
    EXPECT_EQ(ran, (std::vector<std::string>{"B 03 punches.dat", "A 03 punches.dat", "Y 04 status.txt"}));
    EXPECT_EQ(serial.calls.front(), "select 2 9600");
    EXPECT_EQ(net.connects, std::vector<std::string>{"127.0.0.9"});
    EXPECT_EQ(Results(), Init("03", "00") + Init("04", "00"));
    const auto lines = rig.status.Lines();
    EXPECT_EQ(lines.back(), "Finished");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Station 3, Port 2, Baud 9600"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "get_times"), lines.end());
    EXPECT_EQ(rig.status.ReadPanel(Panel::Station), "Station 4");
    EXPECT_FALSE(ps.ResultFailed);
    EXPECT_TRUE(ui.refresh);
}

TEST_F(RunDriverTest, linesBeforeTheFirstInitClockAreSkippedSilently_CrLfLinesAndALastLineWithoutNewlineRun)
{
    RunFile("set_time\r\nreset_errors\r\ninit_clock 01 COM1 9600\r\nreset_errors\r\nsystem_reset");
    EXPECT_EQ(ran, (std::vector<std::string>{"X 01 " + ps.InputFileName, "Z 01 " + ps.InputFileName}));
    const auto lines = rig.status.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "set_time"), 0);
}

TEST_F(RunDriverTest, badInitClockLinesFailWithCommandFileErrorAndSkipTheirGroup)
{
    RunFile(
        "init_clock 5 COM1 9600\nset_time\n"
        "init_clock 01 COM21 9600\nset_time\n"
        "init_clock 01 COM2 19200\nset_time\n"
        "init_clock 01 COM3X 9600\nset_time\n");
    EXPECT_TRUE(ran.empty());
    // "5 " taken as the station digits gives a station byte below range.
    EXPECT_EQ(Results(), Init("5 ", "12") + Init("01", "12") + Init("01", "12") + Init("01", "12"));
    EXPECT_TRUE(ps.ResultFailed);
    const auto lines = rig.status.Lines();
    // "5 " swallows the separator, so the link token is "OM1" and no port was ever set.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Error connecting to Comm Port:0"), lines.end());
}

TEST_F(RunDriverTest, missingPortIsALinkFailureAndConnectTimeoutToo)
{
    net.result = cePortTransmitter;
    RunFile("init_clock 02 COM7 9600\nset_time\ninit_clock 02 IP127.0.0.9\nset_time\n"
            "init_clock 02 IP\nset_time\n");
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(Results(), Init("02", "10") + Init("02", "10") + Init("02", "10"));
    EXPECT_EQ(net.connects.size(), 1u) << "an empty address is not tried";
    const auto lines = rig.status.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Error connecting to Comm Port:7"), lines.end());
}

TEST_F(RunDriverTest, malformedTokensFailWithCommandFileErrorAndOpenDialOrRunNothing)
{
    const std::string nul(1, '\0');
    struct Row {
        std::string content;
        std::string results = Init("01", "12");
    };
    const Row rows[] = {
        {"init_clock 01 COM1 9600 " + std::string(5000, 'm') + "\nset_time\n"},
        {"init_clock 01 COM1 9600 mo" + nul + "dem.txt\nset_time\n"},
        {"init_clock 01 COM1 9600\nget_status st" + nul + "x.txt\n",
         Init("01", "00") + ResultLine("01", "get_status", "12")},
        // What the socket would refuse (any address but a dotted one, a name above all) is
        // refused here, not left to the connect time-out or a name lookup.
        {"init_clock 01 IP127.0.0.999\nset_time\n"},
        {"init_clock 01 IPlocalhost\nset_time\n"},
        // Station digits that are missing or a line end never reach the results line.
        {"init_clock", Init("00", "12")},
        {"init_clock 5\nCOM1 9600\nset_time\n", Init("00", "12")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.content.substr(0, 40)));
        std::filesystem::remove(results);
        ran.clear();
        modem.calls.clear();
        RunFile(row.content);
        EXPECT_EQ(Results(), row.results);
        EXPECT_TRUE(ran.empty());
        EXPECT_TRUE(net.connects.empty());
        for (const auto& call : modem.calls) EXPECT_EQ(call.rfind("connect", 0), std::string::npos) << call;
    }
}

TEST_F(RunDriverTest, parameterErrorsAreReportedAndRunNothing)
{
    RunFile(
        "init_clock 01 COM1 9600\nset_jobing MAYBE\nkey_board ON\nset_code 1234567\nset_code 4242\n"
        "set_jobnumbers jobs.dat 3\nset_jobnumbers jobs.dat 2\n");
    const std::string cmd = dir + "/run.cmd";
    EXPECT_EQ(ran, (std::vector<std::string>{"I 01 " + cmd, "D 01 " + cmd, "F 01 jobs.dat"}));
    EXPECT_EQ(ps.AccessCodeText(), "4242");
    EXPECT_EQ(ps.JobTableDigit, '2');
    EXPECT_EQ(Results(), Init("01", "00") + ResultLine("01", "set_jobing", "12") +
                             ResultLine("01", "set_code", "12") + ResultLine("01", "set_jobnumbers", "12"));
}

TEST_F(RunDriverTest, commandFileMissingAFolderAFifoOrUnreadableReportsCode09)
{
    // A FIFO with no writer would hold the run in its open for ever.
    ASSERT_EQ(mkfifo((dir + "/fifo.cmd").c_str(), 0600), 0);
    const std::pair<std::string, std::string> rows[] = {
        {dir + "/absent.cmd", "Can't Open Command File!!"},
        {dir, "Can't Open Command File!!"},
        {dir + "/fifo.cmd", "Can't Open Command File!!"},
        // Opens, but every read fails: an error, not an empty file.
        {"/proc/self/mem", "Can't Read Command File!!"},
    };
    for (const auto& [path, line] : rows) {
        SCOPED_TRACE(path);
        std::filesystem::remove(results);
        RunUnattended(path, results);
        EXPECT_EQ(Results(), "00                      09\r\n\r");
        EXPECT_EQ(rig.status.Lines(), (std::vector<std::string>{line, "Finished"}));
        EXPECT_TRUE(ps.ResultFailed);
    }
}

TEST_F(RunDriverTest, resultsFileThatIsTheCommandFileByAnyPathRefusesTheRun)
{
    const std::string cmd = dir + "/run.cmd";
    const std::string content = "init_clock 01 COM1 9600\nset_time\n";
    WriteFile(cmd, content);
    std::filesystem::create_symlink(cmd, dir + "/link.txt");
    std::filesystem::create_hard_link(cmd, dir + "/hard.txt");
    for (const std::string& log : {cmd, dir + "/./run.cmd", dir + "/link.txt", dir + "/hard.txt"}) {
        SCOPED_TRACE(log);
        testing::internal::CaptureStderr();
        RunUnattended(cmd, log);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("is the command file"), std::string::npos) << err;
        EXPECT_TRUE(ps.ResultFailed);
        EXPECT_EQ(rig.status.Lines(), std::vector<std::string>{"Finished"});
    }
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_EQ(ReadFileBytes(cmd), content);
}

TEST_F(RunDriverTest, overLongAndJunkTokensNeverRunAndStayBounded)
{
    std::string junk = "init_clock 01 COM1 9600\n";
    junk += std::string(100000, 'x') + "\n";
    junk += std::string("\x01\x02\xff\xfe get_status\n", 16);
    junk += "get_status " + std::string(5000, 'f') + "\n";
    RunFile(junk);
    // Tokens run across lines: the second get_status is the first one's file name, and
    // the 5000-character token after it is refused as a command.
    EXPECT_EQ(ran, std::vector<std::string>{"Y 01 get_status"});
    EXPECT_EQ(Results(), Init("01", "00") + ResultLine("01", std::string(20, 'x'), "12") +
                             ResultLine("01", std::string(20, 'f'), "12"));
    for (const auto& l : rig.status.Lines()) EXPECT_LE(l.size(), 30u);
}

TEST_F(RunDriverTest, modemStringFileDialsAndModemIsHungUpAtNextInitAndAtEnd)
{
    RunFile("init_clock 01 COM1 9600 modem.txt\nset_time\ninit_clock 02 COM1 9600\nset_time\n");
    EXPECT_EQ(modem.calls,
              (std::vector<std::string>{"connect modem.txt", "closefile", "reset", "closefile"}));
    EXPECT_EQ(ran.size(), 2u);

    modem.calls.clear();
    modem.connectResult = ceModemBusy;
    ps.InputLineNumber = 2;
    RunFile("init_clock 01 COM1 9600 modem.txt\nset_time\n");
    EXPECT_EQ(ran.size(), 2u) << "commands after a failed dial are skipped";
    const auto lines = rig.status.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Modem Not Connected"), lines.end());
    EXPECT_NE(Results().find(Init("01", "19 2")), std::string::npos);
}

TEST_F(RunDriverTest, singleCommandUsesPanelBaud_refusesAModemOnADirectLine_andReportsFailedConnects)
{
    ui.commandMode = true;
    ui.commandIndex = 2;
    ui.station = 5;
    ui.checkedPort = 3;
    ui.edit2 = "status.txt";
    ui.baud = 2400;
    driver.Run();
    EXPECT_EQ(ran, std::vector<std::string>{"Y 05 status.txt"});
    EXPECT_EQ(serial.calls[0], "select 3 2400");
    EXPECT_EQ(serial.calls[2], "raw ATZ\r");
    EXPECT_EQ(rig.status.Lines().back(), "Finished");

    ran.clear();
    serial.onWrite = [this](const std::vector<uint8_t>&) {
        rig.pump.After(100, [this] { rig.exchange.ZylSerialPort1Receive(Bytes({'0', '\r'})); });
    };
    driver.Run();
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(rig.status.Lines().back(), "Port Initialisation Error, Modem Connected!!");
    EXPECT_EQ(serial.calls.back(), "close") << "a refused run leaves no port open";

    serial.failOpen = true;
    driver.Run();
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(ps.PollStatus, cePortTransmitter);

    serial.calls.clear();
    rig.selection.network = true;
    net.result = cePortTransmitter;
    driver.Run();
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(rig.status.Lines().back(), "Network Port Initialisation Error!!");
    EXPECT_TRUE(serial.calls.empty());
}

TEST_F(RunDriverTest, singleCommandWithNoPortCheckedOpensNothingAndSaysWhy)
{
    ui.commandMode = true;
    ui.checkedPort = 0;
    ps.LogFileName = results;
    for (int stored : {21, -3}) {
        ps.Port = stored;
        rig.status.ClearStatus();
        ui.refresh = false;
        driver.Run();
        EXPECT_EQ(rig.status.Lines(), std::vector<std::string>{"No Comm Port Selected!!"});
        EXPECT_TRUE(ui.refresh);
    }
    EXPECT_TRUE(serial.calls.empty());
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(Results(), "<missing>");
}

}  // namespace
