// bench_get_times: the punch-record download, packet by packet, with the program's own
// command, exchange engine and links against the clock simulator.
//
// Over TCP, 10,000 records: one packet takes the 2 ms pause before each request, the
// simulator's turnaround, writing the packet's lines and, before the next request, making
// them durable (fsync). The protocol has one packet in flight, so the pause is the floor.
// The same download runs once without the fsync to show what the disk costs.
//
// Over the simulator's pseudo-terminal at 9600 baud the figure is set against the time the
// same bytes need on a real 9600-baud line. Before the download, get_status exchanges
// (request, then the reply's terminator in) are timed over the same pseudo-terminal.
#include "BenchCommon.h"
#include "InProcessLink.h"
#include "commands/CommandContext.h"
#include "commands/Downloads.h"
#include "core/ClockError.h"
#include "interpreter/CommandTable.h"
#include "link/Framing.h"
#include "link/CommPortMap.h"
#include "link/ZylSerialPort.h"

#include <QCoreApplication>

#include <sys/vfs.h>

namespace {

constexpr const char* kName = "bench_get_times";
constexpr const char* kTcpAddress = "127.0.0.83";
constexpr const char* kTcpAddressNoSync = "127.0.0.84";
constexpr const char* kPtyAddress = "127.0.0.85";
constexpr int kRecords = 10000;
constexpr int kPtyRecords = 1000;
constexpr int kStatusRounds = 50;
constexpr int kPort = 4;
constexpr double kPauseMs = 2.0;
constexpr double kTargetPacketMs = 1.5 * kPauseMs;
constexpr double kBitsPerByte = 10.0;  // start bit, 8 data bits, stop bit
constexpr double kBaud = 9600.0;
// Preamble and the two-byte request with its digits and terminator, on the serial line.
constexpr int kSerialRequestBytes = 2 + 7;

// Notes the moment each reply has arrived, and its length, from the memo line the
// command shows on every reply.
class TimedStatus : public MemoryStatusDisplay {
public:
    explicit TimedStatus(const Exchange& exchange) : exchange_(exchange) {}
    void ReplaceLastStatusLine(const std::string& text) override
    {
        if (text == "get_times - Receiving Data") {
            receivedAt.push_back(bench::NowMs());
            replyBytes.push_back(static_cast<int>(exchange_.Reply().size()));
        }
        MemoryStatusDisplay::ReplaceLastStatusLine(text);
    }
    std::vector<double> receivedAt;
    std::vector<int> replyBytes;

private:
    const Exchange& exchange_;
};

class NoOperator : public IOperator {
public:
    bool OkCancel(const std::string&, const std::string&) override { return false; }
    bool YesNo(const std::string&, const std::string&) override { return false; }
    void Information(const std::string&, const std::string&) override {}
    bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenFile(FileKind, std::string&) override { return false; }
};

struct Download {
    int result = -1;
    std::vector<double> packetMs;  // one per reply after the first
    std::vector<int> replyBytes;
    size_t lines = 0;
};

Download RunGetTimes(PollState& ps, Exchange& exchange, const ITimeSource& time, const std::string& dataFile,
                     bool sync)
{
    TimedStatus status(exchange);
    NoOperator op;
    QtWindowTimer timer4{50};
    ps.InputFileName = dataFile;
    status.AddStatusLine("get_times");
    CommandContext ctx{ps, exchange, status, time, op, timer4, nullptr, &FindKeyword("get_times")->texts};
    const ClockError result = Downloads(ctx, {.syncEachPacket = sync}).GetTimes();

    Download d;
    d.result = ClockErrorNumber(result);
    for (size_t i = 1; i < status.receivedAt.size(); ++i)
        d.packetMs.push_back(status.receivedAt[i] - status.receivedAt[i - 1]);
    d.replyBytes = status.replyBytes;
    const std::string text = bench::ReadWholeFile(dataFile);
    for (size_t at = 0; (at = text.find("\r\n\r", at)) != std::string::npos; at += 3) ++d.lines;
    return d;
}

Download OverTcp(const char* address, const bench::TempDir& dir, const std::string& dataFile, bool sync)
{
    bench::ClockSim sim(kName, address, {"--record-count", std::to_string(kRecords)}, dir);
    bench::InProcessLink link;
    if (link.Connect(address) != 0)
        bench::Fail(kName, std::string("cannot connect to the clock simulator on ") + address);
    return RunGetTimes(link.ps, link.exchange, link.time, dataFile, sync);
}

// Wall time of each get_status exchange: the request with its 2 ms pause, then the wait
// until the reply's terminator is in. Rounds without a whole reply count as -1.
std::vector<double> StatusExchanges(PollState& ps, Exchange& exchange)
{
    const int length =
        BuildRequest(exchange.Request(), static_cast<uint8_t>(ps.StationByte), frame::cmdGetStatus);
    std::vector<double> ms;
    for (int i = 0; i < kStatusRounds; ++i) {
        const double start = bench::NowMs();
        exchange.SendRequest(length);
        const ClockError result = exchange.AwaitReply();
        // The status reply carries its own code, which AwaitReply calls a wrong command.
        const bool whole = result != ceNoData && result != ceTerminator && result != ceCrc;
        ms.push_back(whole ? bench::NowMs() - start : -1.0);
    }
    return ms;
}

Download OverPty(const bench::TempDir& dir, const std::string& dataFile, std::vector<double>& statusMs)
{
    bench::ClockSim sim(kName, kPtyAddress, {"--pty", "--record-count", std::to_string(kPtyRecords)}, dir);
    const std::string ready =
        bench::ReadWholeFile(dir.File(std::string("clocksim-") + kPtyAddress + ".ready"));
    const size_t at = ready.find("pty: ");
    if (at == std::string::npos)
        bench::Fail(kName, "the simulator names no pseudo-terminal");
    const std::string pty = ready.substr(at + 5, ready.find('\n', at) - at - 5);

    PollState ps;
    ps.SetStation(1);
    SystemTimeSource time;
    QtEventPump pump{time};
    QtWindowTimer timer1{2};
    bench::NetworkSelection selection;
    selection.SetNetworkSelected(false);
    Exchange exchange{ps, pump, time, timer1, selection};
    const CommPortMap::SettingsReader configured = [pty] { return CommPortMap::Entries{{kPort, pty}}; };
    TZylSerialPort serial(
        std::make_shared<CommPortMap>(configured, std::string("/nonexistent"), std::string("/nonexistent")));
    serial.OnReceive = [&exchange](TZylSerialPort&, std::span<const uint8_t> bytes) {
        exchange.ZylSerialPort1Receive(bytes);
    };
    serial.SelectPort(kPort, 9600);
    try {
        serial.Open();
    } catch (const std::exception& e) {
        bench::Fail(kName, std::string("cannot open the pseudo-terminal: ") + e.what());
    }
    exchange.AttachSerial(&serial);
    statusMs = StatusExchanges(ps, exchange);
    Download d = RunGetTimes(ps, exchange, time, dataFile, true);
    serial.Close();
    return d;
}

double MeanMs(const std::vector<double>& v)
{
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
}

void Check(const Download& d, int records, const char* what)
{
    if (d.result != 0 || d.lines != static_cast<size_t>(records))
        bench::Note(kName, std::string(what) + ": result " + std::to_string(d.result) + ", " +
                               std::to_string(d.lines) + " of " + std::to_string(records) +
                               " records in the file");
}

// Where the data files go: a real disk, so that fsync does what it does in use. The build
// folder is taken unless QV_BENCH_DATA_DIR names another.
std::string DataDir()
{
    const char* dir = std::getenv("QV_BENCH_DATA_DIR");
    return dir && *dir ? dir : bench::DirOfSelf();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::TempDir dir("gettimes");
    const std::string dataDir = DataDir();
    const std::string synced = dataDir + "/bench_get_times.synced.txt";
    const std::string unsynced = dataDir + "/bench_get_times.unsynced.txt";
    const std::string viaPty = dataDir + "/bench_get_times.pty.txt";
    for (const std::string& f : {synced, unsynced, viaPty}) std::remove(f.c_str());
    struct statfs fs {};
    statfs(dataDir.c_str(), &fs);
    bench::Note(
        kName, "data files in " + dataDir + " (filesystem magic 0x" + [&] {
            char buf[20];
            std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(fs.f_type));
            return std::string(buf);
        }() + "; tmpfs 0x1021994 makes fsync free)");

    const Download withSync = OverTcp(kTcpAddress, dir, synced, true);
    const Download noSync = OverTcp(kTcpAddressNoSync, dir, unsynced, false);
    Check(withSync, kRecords, "TCP with fsync");
    Check(noSync, kRecords, "TCP without fsync");
    bench::Info(kName, "tcp_packets", static_cast<double>(withSync.packetMs.size()), "");
    bench::Info(kName, "tcp_packet_p90_fsync", bench::Percentile(withSync.packetMs, 90), "ms");
    bench::Info(kName, "tcp_packet_mean_fsync", MeanMs(withSync.packetMs), "ms");
    bench::Info(kName, "tcp_packet_median_no_fsync", bench::Median(noSync.packetMs), "ms");
    bench::Info(kName, "tcp_packet_p90_no_fsync", bench::Percentile(noSync.packetMs, 90), "ms");
    bench::Info(kName, "tcp_packet_mean_no_fsync", MeanMs(noSync.packetMs), "ms");
    bench::Report(kName, "tcp_packet_median_fsync", bench::Median(withSync.packetMs), "ms", kTargetPacketMs);

    std::vector<double> statusMs;
    const Download pty = OverPty(dir, viaPty, statusMs);
    Check(pty, kPtyRecords, "pseudo-terminal");
    const auto unanswered = std::count(statusMs.begin(), statusMs.end(), -1.0);
    if (unanswered > 0)
        bench::Note(kName, std::to_string(unanswered) + " get_status exchanges got no whole reply");
    std::erase(statusMs, -1.0);
    bench::Info(kName, "pty_get_status_median", bench::Median(statusMs), "ms");
    bench::Info(kName, "pty_get_status_p90", bench::Percentile(statusMs, 90), "ms");
    std::vector<double> lineMs;
    for (size_t i = 1; i < pty.replyBytes.size(); ++i)
        lineMs.push_back((pty.replyBytes[i] + kSerialRequestBytes) * kBitsPerByte / kBaud * 1000.0);
    const double ptyMedian = bench::Median(pty.packetMs);
    const double lineMedian = bench::Median(lineMs);
    bench::Info(kName, "pty_packets", static_cast<double>(pty.packetMs.size()), "");
    bench::Info(kName, "pty_packet_median", ptyMedian, "ms");
    bench::Info(kName, "pty_packet_p90", bench::Percentile(pty.packetMs, 90), "ms");
    bench::Info(kName, "real_9600_line_per_packet", lineMedian, "ms");
    bench::Info(kName, "pty_over_real_line", lineMedian > 0 ? ptyMedian / lineMedian : 0.0, "x");
    for (const std::string& f : {synced, unsynced, viaPty}) std::remove(f.c_str());
    return 0;
}
