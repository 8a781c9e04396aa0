// The program run as a scheduler runs it, where it fails: `quorvex CMDFILE RESULTS` with no
// display (whole runs against one clock, the failing connects among them, are the folders of
// test_scenarios); and started without a display for a window.
#include "support/Fakes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class Unattended : public ::testing::Test, protected RunFolder {};

TEST_F(Unattended, missingCommandFileAndUnwritableResultsFailTheRun_anEmptyCommandFileSucceeds)
{
    RunResult r = RunCommands("absent.cmd");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(File("results.txt"), "00                      09\r\n\r");
    EXPECT_EQ(r.out, "Can't Open Command File!!\nFinished\n");
    // With no settings file the run stores the defaults, and nothing of its own.
    EXPECT_NE(File("config/Korvane/KX2.conf").find("Port=2\n"), std::string::npos);

    Write("run.cmd", "init_clock 01 IP" + TestAddress() + "\n");
    r = RunCommands("run.cmd", dir + "/no/such/folder/results.txt");
    EXPECT_EQ(r.exitCode, 1) << "a result that could not be written is no success";

    Write("empty.cmd", "");
    r = RunCommands("empty.cmd");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Finished\n");
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

TEST(Interactive, withoutDisplayAnyArgumentCountButTwoSaysSoAndExits2)
{
    const std::string dir = MakeTempDir();
    const std::string quorvex = std::string(QV_BIN_DIR) + "/quorvex";
    const std::vector<std::string> noDisplay = {"XDG_CONFIG_HOME=" + dir, "DISPLAY=", "WAYLAND_DISPLAY=",
                                                "QT_QPA_PLATFORM="};
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{quorvex}, {quorvex, "one"}, {quorvex, "a", "b", "c"}}) {
        const RunResult r = RunProgram(argv, noDisplay, dir, 30);
        EXPECT_EQ(r.exitCode, 2) << argv.size();
        EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }

    // One --help or --version argument answers without a display or a window.
    for (const char* arg : {"--help", "--version"}) {
        const RunResult a = RunProgram({quorvex, arg}, noDisplay, dir, 30);
        EXPECT_EQ(a.exitCode, 0) << arg << a.err;
        EXPECT_NE(a.out.find(std::string(arg) == "--help" ? "quorvex CMDFILE RESULTS" : "quorvex 9.04"),
                  std::string::npos)
            << a.out;
    }
}

}  // namespace
