// finger_backup and finger_restore over the program's real TCP link (socket, network link,
// exchange, Qt event pump and timers) against clocksim on its own loopback address.
#include "commands/CommandContext.h"
#include "commands/Interpreter.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "link/ClientSocket.h"
#include "link/Exchange.h"
#include "link/NetworkLink.h"
#include "support/Fakes.h"
#include "support/Process.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

constexpr const char* kAddress = "127.0.0.191";

struct Selection : ILinkSelection {
    bool NetworkSelected() const override { return true; }
    void SetNetworkSelected(bool) override {}
};

// The program's network side, wired as the poll session wires it.
struct Link {
    PollState ps;
    SystemTimeSource time;
    QtEventPump pump{time};
    QtWindowTimer timer1{2};
    QtWindowTimer timer3{100};
    QtWindowTimer timer4{50};
    Selection selection;
    RecordingStatus status;
    ScriptedOperator op;
    TClientSocket socket;
    Exchange exchange{ps, pump, time, timer1, selection};
    NetworkLink network{ps, status, pump, timer3, selection, socket, exchange};
    Interpreter interpreter{CommandContext{ps, exchange, status, time, op, timer4, &network}};

    Link()
    {
        exchange.AttachNet(&socket);
        ps.SetStation(1);
        ps.IPAddress = kAddress;
    }
    int Run(char letter, const std::string& keyword, const std::string& file)
    {
        ps.CommandKeyword = keyword;
        ps.InputFileName = file;
        interpreter.RunCommand(letter);
        return ps.PollStatus;
    }
};

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(FingerprintOverTcp, backupResumeRestoreAndBackupAgain)
{
    static int argc = 1;
    static char name[] = "test_fingerprint_tcp";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir,
                         {"--listen", kAddress, "--fingers", "4 21 0", "--finger-dump", dir + "/dump.txt"});
    ASSERT_TRUE(clock.Ready());
    Link link;
    link.ps.FingerLogFile = dir + "/finger.log";
    ASSERT_EQ(link.network.Connect(), 0);

    // Everything into an empty file; the clock's own account of its templates is the measure.
    const std::string first = dir + "/first.txt";
    EXPECT_EQ(link.Run('S', "finger_backup", first), 0);
    const std::string dump = ReadFileBytes(dir + "/dump.txt");
    EXPECT_EQ(ReadFileBytes(first), dump);
    EXPECT_GT(Count(clock.Journal(), "rx C1 E6 02"), 4);

    // Again over the complete file: each slot is asked for, no template is.
    const std::size_t before = clock.Journal().size();
    EXPECT_EQ(link.Run('S', "finger_backup", first), 0);
    const std::string second = clock.Journal().substr(before);
    EXPECT_EQ(Count(second, "rx C1 E6 02"), 0);
    EXPECT_EQ(Count(second, "rx C1 E6 01"), 5);
    EXPECT_EQ(ReadFileBytes(first), dump);

    // The file back into the clock, then out again into a new file: the same bytes.
    link.op.answers.push_back(true);
    EXPECT_EQ(link.Run('T', "finger_restore", first), 0);
    EXPECT_EQ(Count(clock.Journal(), "finger erase"), 1);
    EXPECT_EQ(Count(clock.Journal(), "finger store "), Count(dump, "#:"));
    const std::string again = dir + "/again.txt";
    EXPECT_EQ(link.Run('S', "finger_backup", again), 0);
    EXPECT_EQ(ReadFileBytes(again), dump);

    const std::string log = ReadFileBytes(dir + "/finger.log");
    EXPECT_EQ(Count(log, "***Start Backup Log Session - "), 3);
    EXPECT_NE(log.find("Total Number of Templates Restored = " + std::to_string(Count(dump, "#:")) + "\r\n"),
              std::string::npos);
    link.network.Deactivate();
}

}  // namespace
