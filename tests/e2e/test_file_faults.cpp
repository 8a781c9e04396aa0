// Hostile surroundings, end to end: a disk that is full or fills while the program writes its
// data, backup, log and results files; a command file of random bytes; discovery answers
// that are empty, 64 KiB long or never stop. Each case checks the result codes, that nothing
// the clock handed over is lost, and that the program ends in bounded time.
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The program with every file it writes held to `bytes`, as on a disk with that much room:
// the write that crosses the limit is cut short and fails. Set here, it is inherited by the
// program (and ignoring SIGXFSZ makes the write fail instead of killing the program).
RunResult RunWithFileLimit(const std::string& dir, const std::string& cmdFile, long bytes)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lower = old;
    lower.rlim_cur = static_cast<rlim_t>(bytes);
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &lower);
    RunResult r = RunUnattended(dir, cmdFile, "results.txt", 60);
    setrlimit(RLIMIT_FSIZE, &old);
    return r;
}

// The badge numbers of the record lines of a data file, checking that every line is whole.
std::vector<int> Badges(const std::string& data)
{
    std::vector<int> out;
    for (size_t at = 0; at < data.size();) {
        const size_t end = data.find("\r\n\r", at);
        EXPECT_NE(end, std::string::npos) << "a cut record line at byte " << at;
        if (end == std::string::npos)
            break;
        const std::string line = data.substr(at, end - at);
        EXPECT_EQ(line.size(), 20u) << line;
        EXPECT_EQ(line.substr(0, 3), "01,") << line;
        out.push_back(std::atoi(line.substr(3, 6).c_str()));
        at = end + 3;
    }
    return out;
}

// The template backup file cut into employee/template pairs, each from its "#:" line to the
// next; the template line ends in a line end (its text may hold CR and LF of its own).
std::vector<std::string> Pairs(const std::string& backup)
{
    std::vector<std::string> out;
    for (size_t at = 0; at < backup.size();) {
        size_t next = backup.find("\n#:", at);
        next = next == std::string::npos ? backup.size() : next + 1;
        const std::string pair = backup.substr(at, next - at);
        const bool whole = pair.rfind("#:", 0) == 0 && pair.size() > 2 &&
                           pair.compare(pair.size() - 2, 2, "\r\n") == 0 && Count(pair, "\r\n") >= 2;
        out.push_back(whole ? pair : "cut: " + pair);
        at = next;
    }
    return out;
}

// The last "get_times taken N" of the journal: records the clock counts as handed over.
int Taken(const std::string& journal)
{
    const size_t at = journal.rfind("get_times taken ");
    return at == std::string::npos ? 0 : std::atoi(journal.c_str() + at + 16);
}

// Results lines of station 01, "keyword code" each.
std::string Results(std::initializer_list<const char*> lines)
{
    std::string out;
    for (const std::string l : lines)
        out += ResultLine("01", l.substr(0, l.find(' ')), l.substr(l.find(' ') + 1));
    return out;
}

// A clock on the test's own address with `options`, the profile and run.cmd: init_clock, then `commands`.
class FullDisk : public ::testing::Test, protected RunFolder {
protected:
    std::string simDir = MakeTempDir();
    std::optional<SimulatedClock> clock;
    void Start(std::vector<std::string> options, const std::string& commands, const std::string& general = "")
    {
        WriteProfile(dir, "", general);
        options.insert(options.begin(), {"--listen", TestAddress()});
        clock.emplace(simDir, options);
        ASSERT_TRUE(clock->Ready());
        Write("run.cmd", "init_clock 01 IP" + TestAddress() + "\n" + commands);
    }
    void ExpectFailedRun(const RunResult& r, const std::string& results, const std::string& shown = "")
    {
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_EQ(File("results.txt"), results);
        EXPECT_TRUE(shown.empty() || r.out.find(shown + " - Disk Write Error\n") != std::string::npos)
            << r.out;
    }
};

// 60 records, 9 to a packet of 207 bytes on disk: a file held to 1000 bytes takes four
// packets whole and the fifth not at all. The clock keeps what was not taken, so the next
// get_times of the run collects it into another file: every record once, in order.
TEST_F(FullDisk, recordsOfAPacketThatDoesNotFitAreLeftWithTheClock)
{
    Start({"--record-count", "60", "--packet-bytes", "80"}, "get_times times.txt\nget_times rest.txt\n");
    ExpectFailedRun(RunWithFileLimit(dir, "run.cmd", 1000),
                    Results({"init_clock 00", "get_times 08", "get_times 00"}), "get_times        ");
    std::vector<int> all = Badges(File("times.txt"));
    EXPECT_EQ(all.size(), 36u);
    for (int b : Badges(File("rest.txt"))) all.push_back(b);
    ASSERT_EQ(all.size(), 60u);
    for (int i = 0; i < 60; ++i) EXPECT_EQ(all[static_cast<size_t>(i)], 100001 + i);
    EXPECT_EQ(Taken(clock->Journal()), 60);
}

// The second report crosses the limit: it is taken back whole, so the next report appended
// to the file does not begin inside a cut line.
TEST_F(FullDisk, aStatusReportThatDoesNotFitLeavesNoPartOfItself)
{
    Start({}, "get_status status.txt\nget_status status.txt\n");
    ExpectFailedRun(RunWithFileLimit(dir, "run.cmd", 1000),
                    Results({"init_clock 00", "get_status 00", "get_status 08"}), "get_status       ");
    const std::string report = File("status.txt");
    EXPECT_EQ(Count(report, "01 Job Costing"), 1u) << report;
    EXPECT_EQ(report.substr(report.size() - 31), "01 Comms Module       TCP/IP\r\n\r") << report;
    EXPECT_EQ(Count(report, "\r\n\r"), 22u);
}

// The backup file fills in the middle of its last template: the cut pair is taken back, and
// a backup run again with room to spare ends with exactly what a complete backup gives.
TEST_F(FullDisk, aTemplateBackupThatFillsTheDiskResumesToTheWholeBackup)
{
    Start({"--fingers", "4 21 0", "--finger-dump", simDir + "/dump.txt"}, "finger_backup backup.txt\n",
          "FingerLogFile=" + dir + "/finger.log\n");
    const std::string dump = ReadFileBytes(simDir + "/dump.txt");
    const std::vector<std::string> whole = Pairs(dump);
    ASSERT_GT(whole.size(), 6u);
    const long room = static_cast<long>(dump.size() - whole.back().size() / 2);
    ExpectFailedRun(RunWithFileLimit(dir, "run.cmd", room),
                    Results({"init_clock 00", "finger_backup 08"}), "Finger_backup      ");
    EXPECT_EQ(Pairs(File("backup.txt")), std::vector<std::string>(whole.begin(), whole.end() - 1));

    std::remove((dir + "/results.txt").c_str());
    const RunResult r = RunCommands("run.cmd", "results.txt", 60);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(File("backup.txt"), dump);
}

// A log that takes nothing: the start line's failure is only shown, the run goes on; the
// first employee's summary ends it, with that employee's templates kept in the backup.
TEST_F(FullDisk, aFingerprintLogOnAFullDeviceEndsTheBackupAfterTheFirstEmployee)
{
    Start({"--fingers", "4 21 0", "--finger-dump", simDir + "/dump.txt"}, "finger_backup backup.txt\n",
          "FingerLogFile=/dev/full\n");
    const RunResult r = RunCommands("run.cmd", "results.txt", 60);
    ExpectFailedRun(r, Results({"init_clock 00", "finger_backup 08"}));
    for (const char* box : {" Log File Access Error 1", " Log File Access Error 4",
                            " Log File Access Error 5"})
        EXPECT_NE(r.err.find(box), std::string::npos) << box << "\n" << r.err;
    const std::vector<std::string> whole = Pairs(ReadFileBytes(simDir + "/dump.txt"));
    const std::vector<std::string> kept = Pairs(File("backup.txt"));
    ASSERT_FALSE(kept.empty());
    const std::string firstTag = whole.front().substr(0, whole.front().find("\r\n"));
    size_t firstEmployee = 0;
    while (firstEmployee < whole.size() && whole[firstEmployee].rfind(firstTag + "\r\n", 0) == 0)
        ++firstEmployee;
    EXPECT_EQ(kept,
              std::vector<std::string>(whole.begin(), whole.begin() + static_cast<long>(firstEmployee)));
}

// Results that cannot be written: the commands still run, the failure is said on stderr
// and in the exit status. A results file that fills keeps whole lines only.
TEST_F(FullDisk, resultsOnAFullDeviceOrAFillingDiskFailTheRunAndKeepWholeLines)
{
    Start({}, "set_time\nget_status status.txt\n");
    RunResult r = RunCommands("run.cmd", "/dev/full", 60);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("quorvex: can't write the results file /dev/full: No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Count(File("status.txt"), "01 Job Costing"), 1u);

    // Room for the earlier line, one more and a part of a third.
    const std::string earlier = Results({"init_clock 00"});
    Write("results.txt", earlier);
    Write("again.cmd", "init_clock 01 IP" + TestAddress() + "\nset_time\nreset_errors\n");
    r = RunWithFileLimit(dir, "again.cmd", static_cast<long>(earlier.size()) * 2 + 10);
    EXPECT_NE(r.err.find("quorvex: can't write the results file results.txt: File too large"),
              std::string::npos)
        << r.err;
    ExpectFailedRun(r, earlier + earlier);
    EXPECT_EQ(Count(clock->Journal(), "rx C1 AE"), 1u) << clock->Journal();
}

// Everything in a folder, relative names, folders with a trailing '/'.
std::set<std::string> Listing(const std::string& dir)
{
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        out.insert(fs::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
    return out;
}

// Random bytes after a line that connects: with seed 12 no keyword and file name come
// together, so nothing is sent and only the results file is written, one line of code 12
// for each token too long to be a keyword. A 0x1A byte ends a text file, so the first row,
// 1 MB, is read only up to its first one (byte 179); the second, 128 KiB without any, is
// read whole (each token it echoes is a memo line and a repaint, so it is kept smaller).
class RandomCommandFile : public ::testing::TestWithParam<bool> {};

TEST_P(RandomCommandFile, isReadToItsEndSendingAndWritingNothingBut12s)
{
    const bool withEndMark = GetParam();
    const std::string dir = MakeTempDir(), simDir = MakeTempDir();
    const std::string address = TestAddress();
    SimulatedClock clock(simDir, {"--listen", address});
    ASSERT_TRUE(clock.Ready());
    WriteProfile(dir);

    std::mt19937 random(12);
    std::string bytes(withEndMark ? 1 << 20 : 1 << 17, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
        if (!withEndMark && c == 0x1A)
            c = 'x';
    }
    std::ofstream(dir + "/run.cmd", std::ios::binary) << "init_clock 01 IP" << address << "\n" << bytes;
    // The tokens as the file's syntax cuts them: CR dropped, 0x1A the end, blank or LF between.
    size_t overLong = 0, length = 0;
    for (char c : bytes) {
        if (c == '\r')
            continue;
        if (c == 0x1A)
            break;
        if (c == ' ' || c == '\n') {
            overLong += length > 20;
            length = 0;
        } else {
            ++length;
        }
    }
    overLong += length > 20;
    const std::set<std::string> before = Listing(dir);

    const RunResult r = RunUnattended(dir, "run.cmd", "results.txt", 60);
    EXPECT_EQ(r.exitCode, overLong > 0 ? 1 : 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - 9), "Finished\n");
    std::set<std::string> after = Listing(dir);
    EXPECT_EQ(after.erase("results.txt"), 1u);
    // The runtime folder runs share is made in TMPDIR, which is the run folder here.
    std::erase_if(after, [](const std::string& name) { return name.starts_with("quorvex-runtime-"); });
    // The settings file may be written again; nothing else may appear.
    EXPECT_EQ(after, before);

    const std::string results = ReadFileBytes(dir + "/results.txt");
    const std::string first = Results({"init_clock 00"});
    ASSERT_EQ(results.substr(0, first.size()), first);
    ASSERT_EQ(results.size(), first.size() + overLong * 29);
    for (size_t at = first.size(); at < results.size(); at += 29)
        EXPECT_EQ(results.substr(at + 24, 5), "12\r\n\r") << at;
    EXPECT_TRUE(ReceivedFrames(clock.Journal()).empty()) << clock.Journal();
}

INSTANTIATE_TEST_SUITE_P(Bytes, RandomCommandFile, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "withEndMarks" : "withoutEndMarks"; });

// A network adaptor of the test's own, on the test's thread (the search lets events run):
// takes the discovery request on listenOn:30718 and answers it from `from` with `size`
// bytes, once, or when endless a few datagrams on every turn of the event loop.
class Answerer {
public:
    Answerer(const std::string& listenOn, const std::string& from, size_t size, bool endless)
        : answer_(static_cast<qsizetype>(size), '\x5A')
    {
        ready_ = rx_.bind(QHostAddress(QString::fromStdString(listenOn)), 30718) &&
                 tx_.bind(QHostAddress(QString::fromStdString(from)), 0);
        flood_.callOnTimeout([this] {
            for (int i = 0; i < 8; ++i) Send();
        });
        QObject::connect(&rx_, &QUdpSocket::readyRead, [this, endless] {
            const QNetworkDatagram request = rx_.receiveDatagram();
            if (request.data().size() != 4 || !program_.isNull())
                return;
            program_ = request.senderAddress();
            port_ = static_cast<quint16>(request.senderPort());
            Send();
            if (endless)
                flood_.start(0);
        });
    }
    bool Ready() const { return ready_; }
    int Sent() const { return sent_; }

private:
    void Send() { sent_ += tx_.writeDatagram(answer_, program_, port_) == answer_.size(); }

    QByteArray answer_;
    QUdpSocket rx_, tx_;
    QTimer flood_;
    QHostAddress program_;
    quint16 port_ = 0;
    bool ready_ = false;
    int sent_ = 0;
};

struct DiscoveryCase {
    const char* name;
    size_t size;   // bytes of each answer
    bool endless;  // answer without end, or once
    Lines after;   // memo lines after the "Found:" lines
};

void PrintTo(const DiscoveryCase& c, std::ostream* os)
{
    *os << c.name;
}

class DiscoveryAnswers : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(DiscoveryAnswers, areCountedAndTheSearchEnds)
{
    const DiscoveryCase& c = GetParam();
    LiveSession live;
    UseFreshConfigDir();

    // The gateway and broadcast address of a /24 of the test's own (127.1.x for its address
    // 127.0.0.x, as tests running side by side share 127.0.0.255); answers come from its address.
    const std::string from = TestAddress(), net = "127.1." + from.substr(from.rfind('.') + 1);
    Answerer answerer(net + ".255", from, c.size, c.endless);
    ASSERT_TRUE(answerer.Ready());

    FakeFindUi ui;  // no serial port: the serial phase ends at once
    live.ps.GatewayAddress = net + ".1";
    QElapsedTimer took;
    took.start();
    live.FindClocks(ui);

    Lines expected{"Searching for TCP/IP Clocks...", " "};
    expected.insert(expected.end(), c.endless ? 256 : 1, "Found: IP Address = " + from);
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    expected.push_back("Finished Search.");
    const Lines memo = live.status.Lines();
    ASSERT_GE(memo.size(), expected.size());
    EXPECT_EQ(Lines(memo.begin(), memo.begin() + static_cast<long>(expected.size())), expected);
    // The last wait, the one that ends empty, is 5 s.
    EXPECT_GE(took.elapsed(), c.endless ? 0 : 5000);
    EXPECT_GE(answerer.Sent(), c.endless ? 256 : 1);
}

// An answer counts as a clock whatever it holds; the last wait ends empty after 5 s. A
// sender that never stops is cut off at the most answers a network can hold.
INSTANTIATE_TEST_SUITE_P(
    Datagrams, DiscoveryAnswers,
    ::testing::Values(DiscoveryCase{"empty", 0, false, {"1 Clock(s) Found."}},
                      DiscoveryCase{"of64KiB", 65507, false, {"1 Clock(s) Found."}},
                      DiscoveryCase{"withoutEnd", 4, true,
                                    {"ERROR Searching for TCP/IP Clocks!", "256 Clock(s) Found."}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
