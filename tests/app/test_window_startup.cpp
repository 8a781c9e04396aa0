// The program as started from a shell: no display refuses an interactive start, and an
// unattended run works without one, prints its status lines and reports failure by code.
#include "tests/support/Fakes.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <fstream>
#include <gtest/gtest.h>

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ProgramRun Quorvex(const QStringList& args, const std::string& configDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(configDir));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QV_BIN_DIR "/quorvex", args);
    ProgramRun r;
    if (!p.waitForStarted(10000) || !p.waitForFinished(60000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::ifstream(QV_BIN_DIR "/quorvex"))
            GTEST_SKIP() << "build the quorvex target first";
        dir = MakeTempDir();
    }
    std::string dir;
};

TEST_F(StartupTest, interactiveStartWithoutDisplay_saysSoAndExits2)
{
    for (const QStringList& args : {QStringList{}, QStringList{"one"}, QStringList{"a", "b", "c"}}) {
        ProgramRun r = Quorvex(args, dir);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(StartupTest, unattendedRunWithoutDisplay_runsPrintsItsLinesAndExits)
{
    // A command file that cannot be opened fails the run, which the exit code reports.
    ProgramRun r = Quorvex({QString::fromStdString(dir + "/missing.cmd"), QString::fromStdString(dir + "/results.log")},
                    dir);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.out.find("Can't Open Command File!!\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Finished\n"), std::string::npos) << r.out;
    // The run remembered nothing but the defaults.
    EXPECT_NE(ReadFileBytes(dir + "/Korvane/KX2.conf").find("Port=2"), std::string::npos);
}

TEST_F(StartupTest, unattendedRunOfAnEmptyCommandFile_succeeds)
{
    std::ofstream(dir + "/empty.cmd") << "";
    ProgramRun r = Quorvex({QString::fromStdString(dir + "/empty.cmd"), QString::fromStdString(dir + "/results.log")},
                    dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Finished\n"), std::string::npos) << r.out;
}

}  // namespace
