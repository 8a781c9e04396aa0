// Faults of the link and hostile clocks, end to end against the clock simulator: the TCP
// peer closing in the middle of a firmware transfer, the pseudo-terminal's other side going
// away mid-command, and clocks that answer with junk, 64 KiB, endless 0xFF, the wrong station
// or one byte every 900 ms. Each case checks the result code and memo line, that the run ends
// in bounded time without a crash, and that whatever the clock handed out is in the data file.
#include "firmware/ProgramFile.h"
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"
#include "tests/firmware/ProgramFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

namespace {

const std::string kGolden = std::string(QV_SOURCE_DIR) + "/tests/e2e/golden/";

// The first `count` golden record lines as station 01's data file holds them.
std::string RecordLines(int count)
{
    std::istringstream in(ReadFileBytes(kGolden + "records.txt"));
    std::string out, line;
    for (int n = 0; n != count && std::getline(in, line); ++n) out += line + "\r\n\r";
    return out;
}

// Records the clock counts as taken (acknowledged by the program), from `records-left`.
int Taken(const std::string& control)
{
    const std::string reply = Control(control, "records-left");
    const auto at = reply.find("taken=");
    return at == std::string::npos ? -1 : std::stoi(reply.substr(at + 6));
}

// Waits until the file holds the text, up to timeoutMs.
bool WaitForText(const std::string& path, const std::string& text, int timeoutMs = 10000)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (ReadFileBytes(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A run that failed as a run may fail: exit status 1 (a run that hangs is killed at its
// timeout and has none), no sanitizer report.
void ExpectFailedCleanly(const RunResult& r)
{
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;
}

class LinkFaults : public ::testing::Test, protected RunFolder {
protected:
    RunResult Run(int limitSeconds = 60) const { return RunCommands("run.cmd", "results.txt", limitSeconds); }
};

// Software Upgrade over the program's TCP side, for the firmware transfer no command file can
// start: the program file is checked first, as choosing it does.
std::vector<std::string> Upgrade(LiveNetwork& link, const std::string& programFile)
{
    link.ps.InputFileName = programFile;
    if (CheckProgramFile(link.ps, link.status) != ProgramCheck::Accepted)
        return {"refused"};
    if (link.network.Connect() != ceOK)
        return {"not connected"};
    link.op.answers = {true};
    link.interpreter.RunCommand('U');
    link.network.Deactivate();
    return link.status.Lines();
}

// The connection closes after the clock stored the second record: the transfer reports a
// communication error, and a second upgrade (the clock still in programming mode) contacts,
// erases and writes the whole program.
TEST(LinkFaultsInProcess, connectionClosedInAFirmwareTransferFailsAndASecondUpgradeRecovers)
{
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir, {"--listen", TestAddress(), "--program", "main", "--program-image",
                               dir + "/image", "--fail-packet", "4:drop"});
    ASSERT_TRUE(clock.Ready());
    const std::vector<std::vector<uint8_t>> records = {{0x10, 0x11}, {0x20}, {0x30, 0x31, 0x32}, {0x40}};
    const std::string program = WriteProgramFile(dir + "/main.pgm", ProgramImage("Main", records));
    const std::string whole("\x10\x11\x20\x30\x31\x32\x40", 7);

    LiveNetwork link(TestAddress());
    const auto first = Upgrade(link, program);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.back(), "Communication ERROR! ");
    EXPECT_EQ(std::count(first.begin(), first.end(), "Programming Completed Successfully! "), 0);
    EXPECT_EQ(ReadFileBytes(dir + "/image"), whole.substr(0, 3));
    EXPECT_EQ(clock.Journal().find("program_terminate"), std::string::npos);

    link.status.ClearStatus();
    const auto second = Upgrade(link, program);
    EXPECT_EQ(second, (std::vector<std::string>{
                          " Initiating Program mode contact... OK.", " Erasing All Program Memory... OK.",
                          " Progamming... 4  :  100% Complete.  ", "Programming Completed Successfully! ",
                          " Terminating Program Mode... ", "Programming Mode Terminated."}));
    EXPECT_EQ(ReadFileBytes(dir + "/image"), whole);
}

// The simulator on the pseudo-terminal goes away in the middle of a status reply: the
// command fails, the port's watcher ends, and the port opens again on a new simulator
// linked at the same path within the same run. get_times opens its data file before it
// sends, so with a FIFO as that file the program waits there until the second clock is up.
TEST_F(LinkFaults, aPseudoTerminalThatGoesAwayFailsTheCommandAndItsPathOpensAgain)
{
    const std::string tty = dir + "/tty";
    WriteProfile(dir, "COM4=" + tty + "\n");
    const std::string firstDir = MakeTempDir();
    SimulatedClock first(firstDir, {"--link", tty, "--fail-packet", "1:vanish"});
    ASSERT_TRUE(first.Ready());
    const std::string gate = dir + "/gate";
    ASSERT_EQ(mkfifo(gate.c_str(), 0600), 0);
    Write("run.cmd",
          "init_clock 01 COM4 9600\nget_status status.txt\nget_times gate\n"
          "init_clock 01 COM4 9600\nget_status status.txt\n");

    RunResult r;
    std::thread run([&] {
        r = Run(40);
        // Frees the open below should the program never have reached the gate.
        const int w = open(gate.c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            close(w);
    });
    EXPECT_TRUE(WaitForText(firstDir + "/clock.journal", "fault vanish on request 1"));
    SimulatedClock second(MakeTempDir(), {"--link", tty});
    EXPECT_TRUE(second.Ready());
    const int in = open(gate.c_str(), O_RDONLY);
    char drain[64];
    while (in >= 0 && read(in, drain, sizeof drain) > 0) {
    }
    if (in >= 0)
        close(in);
    run.join();

    ExpectFailedCleanly(r);
    EXPECT_EQ(File("results.txt"),
              ResultLine("01", "init_clock", "00") + ResultLine("01", "get_status", "10") +
                  ResultLine("01", "get_times", "10") + ResultLine("01", "init_clock", "00") +
                  ResultLine("01", "get_status", "00"));
    EXPECT_NE(r.out.find("get_status        - Port Transmitter Error\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("get_status        - OK\n"), std::string::npos) << r.out;
    EXPECT_EQ(Count(File("status.txt"), "\r\n\r"), 22u);
    EXPECT_EQ(ReceivedFrames(second.Journal()).size(), 2u) << second.Journal();
}

// Hostile replies as rows. get_status meets a clock that misbehaves on every reply;
// get_times gets its first packet and then one hostile reply (or, where the fault leaves
// the connection no way back, every reply). A trickled reply is longer than all the waits
// together, so no stale end of it completes a later attempt. A clock is reached over TCP
// or over a pseudo-terminal; the run is killed after its seconds and twenty more.
struct Hostile {
    const char* name;
    bool tcp;
    bool records;  // get_times, else get_status
    std::vector<std::string> fault;
    const char* code;
    const char* text;
    double limitSeconds;  // what the run should take at most; it is killed twenty seconds later
    bool someTaken;  // records the clock handed out and saw acknowledged
};

std::ostream& operator<<(std::ostream& out, const Hostile& row)
{
    return out << row.name;
}

const char* const kNoData = "No Data Received from Clock";
const char* const kCrc = "CRC Data Error";
const std::vector<std::string> kTrickle = {"--chunk", "1", "--chunk-gap", "900"};

// Packets of a few records each, so that the first is taken before the fault.
std::vector<std::string> Small(std::vector<std::string> fault)
{
    fault.insert(fault.begin(), {"--packet-bytes", "40"});
    return fault;
}

// clang-format off
const Hostile kRows[] = {
    {"statusJunk",             true, false, {"--fail-packet", "1:garbage:9"},             "02", kCrc,    5,  false},
    {"status64KiB",            true, false, {"--fail-packet", "1:huge:9"},                "02", kCrc,    5,  false},
    {"statusEndless0xFF",      true, false, {"--fail-packet", "1:flood"},                 "02", kCrc,    5,  false},
    {"statusTrickleOnPty",     false, false, kTrickle,                                    "01", kNoData, 15, false},
    {"statusEndless0xFFOnPty", false, false, {"--fail-packet", "1:flood"},                "02", kCrc,    5,  false},
    {"timesJunk",              true, true,  Small({"--fail-packet", "2:garbage"}),        "00", "OK",    15, true},
    {"times64KiB",             true, true,  Small({"--fail-packet", "2:huge"}),           "00", "OK",    15, true},
    {"timesEndless0xFF",       true, true,  Small({"--fail-packet", "2:flood"}),          "02", kCrc,    8,  true},
    {"timesWrongStation",      true, true,  Small({"--fail-packet", "2:wrong-station"}),  "00", "OK",    15, true},
    {"timesTrickle",           true, true,  kTrickle,                                     "01", kNoData, 40, false},
};
// clang-format on

class HostileClock : public LinkFaults, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileClock, endsWithItsCodeInBoundedTimeAndMemoryAndKeepsWhatWasTaken)
{
    const Hostile& row = GetParam();
    std::vector<std::string> options = {"--records", kGolden + "records.hex", "--control", dir + "/ctl"};
    options.insert(options.end(), row.fault.begin(), row.fault.end());
    options.insert(options.end(), {row.tcp ? "--listen" : "--link", row.tcp ? TestAddress() : dir + "/tty"});
    WriteProfile(dir, row.tcp ? "" : "COM4=" + dir + "/tty\n");
    const std::string link = row.tcp ? "IP" + TestAddress() : "COM4 9600";
    SimulatedClock clock(dir, options);
    ASSERT_TRUE(clock.Ready());
    const std::string keyword = row.records ? "get_times" : "get_status";
    Write("run.cmd", "init_clock 01 " + link + "\n" + keyword + " data.txt\n");
    Write("data.txt", "");

    const RunResult r = Run(static_cast<int>(row.limitSeconds) + 20);
    if (std::string(row.code) == "00") {
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    } else {
        ExpectFailedCleanly(r);
    }
    EXPECT_EQ(File("results.txt"),
              ResultLine("01", "init_clock", "00") + ResultLine("01", keyword, row.code));
    const std::string memo = keyword + std::string(18 - keyword.size(), ' ') + "- " + row.text + "\n";
    EXPECT_NE(r.out.find(memo), std::string::npos) << r.out;
    // Exactly the records the clock counts as taken are in the file, each once; a failed
    // status writes no report.
    const int taken = Taken(dir + "/ctl");
    EXPECT_EQ(taken > 0, row.someTaken) << taken;
    EXPECT_EQ(File("data.txt"), RecordLines(taken));
    // The program is the only child reaped so far.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "peak resident KiB";
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileClock, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
