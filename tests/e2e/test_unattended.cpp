// The program run as a scheduler runs it: `quorvex CMDFILE RESULTS` with no display,
// against the clock simulator over TCP on its own loopback address, over a
// pseudo-terminal mapped as a serial port, and through the simulated dial-up modem.
#include "support/Fakes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kReport =
    "01 Job Costing        Disabled\r\n\r"
    "01 Job Accept         Auto\r\n\r"
    "01 Job Limit Match    Less or Equal\r\n\r"
    "01 Job Table Match    Disabled\r\n\r"
    "01 Job Table Check    Disabled\r\n\r"
    "01 Emp Limit Match    Less or Equal\r\n\r"
    "01 Bell Tables        Enabled\r\n\r"
    "01 Bell2 Tables       Disabled\r\n\r"
    "01 Pin Number         Disabled\r\n\r"
    "01 Password           Disabled\r\n\r"
    "01 Access Code         507316\r\n\r"
    "01 Employee Limit      99\r\n\r"
    "01 Job Limit           50\r\n\r"
    "01 Job Levels          04\r\n\r"
    "01 Job Level 1 Limit   20\r\n\r"
    "01 Job Level 2 Limit   20\r\n\r"
    "01 Job Level 3 Limit   10\r\n\r"
    "01 Job Level 4 Limit   10\r\n\r"
    "01 CPU Version         09.04\r\n\r"
    "01 Display Version     02.10\r\n\r"
    "01 Input Module       Card Reader\r\n\r"
    "01 Comms Module       TCP/IP\r\n\r";

const auto Line = ResultLine;

class Unattended : public ::testing::Test, protected RunFolder {};

TEST_F(Unattended, networkRunWritesResultsAndStatusReportByteForByte)
{
    WriteProfile(dir, "COM1=/nonexistent/tty\n");
    SimulatedClock clock(dir, {"--listen", "127.0.0.21"});
    ASSERT_TRUE(clock.Ready());
    Write("run.cmd", "init_clock 01 IP127.0.0.21\nset_time\nget_status status.txt\nreset_errors\n");
    const RunResult r = RunCommands("run.cmd");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(File("results.txt"), Line("01", "init_clock", "00") + Line("01", "set_time", "00") +
                                       Line("01", "get_status", "00") + Line("01", "reset_errors", "00"));
    EXPECT_EQ(File("status.txt"), kReport);
    EXPECT_NE(r.out.find("Connected: 127.0.0.21\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("get_status        - OK\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("set_time          - OK\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 9), "Finished\n");
    EXPECT_EQ(r.err, "") << "a run as from cron, with no runtime folder, writes nothing to stderr";
    // The clock got the time frame and the date frame; the acknowledge followed the status.
    const std::string journal = clock.Journal();
    EXPECT_NE(journal.find("rx C1 A5"), std::string::npos) << journal;
    EXPECT_NE(journal.find("rx C1 A6"), std::string::npos) << journal;
    EXPECT_NE(journal.find("rx C1 A1 38 30 3A 3E FF"), std::string::npos) << journal;

    // A second run appends a second report and a second set of result lines.
    Write("again.cmd", "init_clock 01 IP127.0.0.21\nget_status status.txt\n");
    EXPECT_EQ(RunCommands("again.cmd").exitCode, 0);
    EXPECT_EQ(File("status.txt"), kReport + kReport);
}

TEST_F(Unattended, failuresSetTheExitStatusAndTheirCodes)
{
    WriteProfile(dir, "COM9=/nonexistent/tty9\n");
    // Nothing listens on this address: the connect times out after about two seconds.
    SimulatedClock clock(dir, {"--listen", "127.0.0.22", "--wrong-station"});
    ASSERT_TRUE(clock.Ready());
    Write("run.cmd",
          "set_time\ninit_clock 01 IP127.0.0.23\nset_time\n"
          "init_clock 01 IP127.0.0.22\nget_status status.txt\ninit_clock 01 COM9 9600\n");
    const RunResult r = RunCommands("run.cmd");
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(File("results.txt"), Line("01", "init_clock", "10") + Line("01", "init_clock", "00") +
                                       Line("01", "get_status", "03") + Line("01", "init_clock", "10"));
    EXPECT_EQ(File("status.txt"), "<missing>");
    EXPECT_NE(r.out.find("Error connecting to:127.0.0.23\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Error connecting to Comm Port:9\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("/nonexistent/tty9"), std::string::npos)
        << "a missing mapped device says why: " << r.err;
}

TEST_F(Unattended, missingCommandFileAndUnwritableResultsFailTheRun)
{
    WriteProfile(dir);
    RunResult r = RunCommands("absent.cmd");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(File("results.txt"), "00                      09\r\n\r");
    EXPECT_EQ(r.out, "Can't Open Command File!!\nFinished\n");

    Write("run.cmd", "init_clock 01 IP127.0.0.24\n");
    r = RunCommands("run.cmd", dir + "/no/such/folder/results.txt");
    EXPECT_EQ(r.exitCode, 1) << "a result that could not be written is no success";
}

// Runs without a runtime folder (as from cron) share one private folder of the user, so a
// run killed before it could clean up leaves nothing new behind. A folder in its place that
// others may enter is neither used nor changed; the run takes one of its own and removes it.
TEST_F(Unattended, runsWithoutARuntimeFolderShareOnePrivateFolder)
{
    WriteProfile(dir);
    const std::string shared = dir + "/quorvex-runtime-" + std::to_string(geteuid());
    const auto runtimeFolders = [this] {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename().string().rfind("quorvex-runtime-", 0) == 0)
                found.push_back(entry.path().string());
        return found;
    };
    const auto mode = [&shared] {
        struct stat info {};
        return lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? info.st_mode & 0777 : 0u;
    };
    for (const mode_t expected : {0700u, 0700u, 0755u}) {
        if (expected == 0755u) {
            ASSERT_EQ(chmod(shared.c_str(), 0755), 0);
        }
        const RunResult r = RunCommands("absent.cmd");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "") << "Qt was given a private runtime folder";
        EXPECT_EQ(runtimeFolders(), std::vector<std::string>{shared});
        EXPECT_EQ(mode(), expected);
    }
}

TEST_F(Unattended, serialRunOverAPseudoTerminalMappedAsAPort)
{
    SimulatedClock clock(dir, {"--listen", "127.0.0.25", "--pty", "--station", "3"});
    ASSERT_TRUE(clock.Ready());
    ASSERT_FALSE(clock.PtyPath().empty());
    WriteProfile(dir, "COM4=" + clock.PtyPath() + "\n");
    Write("run.cmd", "init_clock 03 COM4 9600\nget_status status.txt\nsystem_reset\n");
    const RunResult r = RunCommands("run.cmd");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(File("results.txt"), Line("03", "init_clock", "00") + Line("03", "get_status", "00") +
                                       Line("03", "system_reset", "00"));
    std::string report = kReport;
    for (size_t at = 0; (at = report.find("01 ", at)) != std::string::npos; at += 3)
        report.replace(at, 2, "03");
    EXPECT_EQ(File("status.txt"), report);
    EXPECT_NE(r.out.find("Station 3, Port 4, Baud 9600\n"), std::string::npos) << r.out;
    // Serial frames: preamble, then the frame with one terminator.
    EXPECT_NE(clock.Journal().find("rx C3 EB 00 00"), std::string::npos) << clock.Journal();
}

TEST_F(Unattended, modemDialsConnectsRunsAndHangsUp)
{
    SimulatedClock clock(dir, {"--listen", "127.0.0.26", "--modem", "--modem-connect-code", "10"});
    ASSERT_TRUE(clock.Ready());
    WriteProfile(dir, "COM2=" + clock.PtyPath() + "\n");
    Write("modem.txt", "ATZ\nATE0V0\nATD5551234\n");
    Write("run.cmd", "init_clock 01 COM2 9600 modem.txt\nreset_errors\n");
    const RunResult r = RunCommands("run.cmd");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(File("results.txt"), Line("01", "init_clock", "00") + Line("01", "reset_errors", "00"));
    EXPECT_NE(r.out.find("Modem Dialing - Please Wait...\n Modem Connected \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" Resetting Modem Please Wait.. \nModem Reset\n"), std::string::npos) << r.out;
    EXPECT_NE(clock.Journal().find("hangup"), std::string::npos) << clock.Journal();
}

TEST(Interactive, noDisplaySaysSoAndFails)
{
    const std::string dir = MakeTempDir();
    const RunResult r =
        RunProgram({std::string(QV_BIN_DIR) + "/quorvex"},
                   {"XDG_CONFIG_HOME=" + dir, "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}, dir, 30);
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("display"), std::string::npos) << r.err;

    // One --help or --version argument answers without a display or a window.
    for (const char* arg : {"--help", "--version"}) {
        const RunResult a = RunProgram({std::string(QV_BIN_DIR) + "/quorvex", arg},
                                       {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="}, dir, 30);
        EXPECT_EQ(a.exitCode, 0) << arg << a.err;
        EXPECT_NE(a.out.find(std::string(arg) == "--help" ? "quorvex CMDFILE RESULTS" : "quorvex 9.04"),
                  std::string::npos)
            << a.out;
    }
}

}  // namespace
