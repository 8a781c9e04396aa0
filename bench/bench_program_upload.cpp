// bench_program_upload: the time to send a 64 KB program image to the clock simulator over
// TCP loopback with the real firmware upgrade (contact, erase, one frame per record, each
// waiting for its acknowledgement, terminate).
//
// Every record frame is held for the 2 ms pre-send pause before it is written, so the
// record phase can take no less than records x 2 ms; the ratio says how much the event
// pump, the socket path and the simulator add on top of that floor.
#include "BenchCommon.h"
#include "InProcessLink.h"
#include "commands/CommandContext.h"
#include "firmware/ProgramTransfer.h"

#include <QCoreApplication>

namespace {
constexpr const char* kName = "bench_program_upload";
constexpr const char* kAddress = "127.0.0.102";
constexpr size_t kImageBytes = 64 * 1024;
constexpr double kPauseMs = 2.0;
constexpr double kTargetRatio = 1.5;

// Confirms the upgrade's warning box.
struct Confirming : IOperator {
    bool OkCancel(const std::string&, const std::string&) override { return true; }
    bool YesNo(const std::string&, const std::string&) override { return true; }
    void Information(const std::string&, const std::string&) override {}
    bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenFile(FileKind, std::string&) override { return false; }
};

// Notes when the record phase starts (" Programming... 0% ") and ends.
struct TimedStatus : MemoryStatusDisplay {
    double recordsStart = 0, recordsEnd = 0;
    void AddStatusLine(const std::string& t) override
    {
        if (t == " Programming... 0% ")
            recordsStart = bench::NowMs();
        else if (recordsStart > 0 && recordsEnd == 0)
            recordsEnd = bench::NowMs();
        MemoryStatusDisplay::AddStatusLine(t);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::TempDir dir("program");
    bench::ClockSim sim(kName, kAddress, {"--program", "main", "--program-image", dir.File("image")}, dir);

    // The image in records of the largest length that fits one frame (247 data bytes).
    std::vector<uint8_t> image(kImageBytes);
    uint32_t x = 0x9E3779B9u;
    for (uint8_t& b : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    std::string file = "Main";
    uint32_t records = 0;
    for (size_t at = 0; at < image.size(); at += kMaxRecordLength + 1, ++records) {
        const size_t n = std::min<size_t>(kMaxRecordLength + 1, image.size() - at);
        uint8_t sum = static_cast<uint8_t>(n - 1);
        file += static_cast<char>(0xEE);
        file += static_cast<char>(n - 1);
        for (size_t i = 0; i < n; ++i) {
            file += static_cast<char>(image[at + i]);
            sum = static_cast<uint8_t>(sum + image[at + i]);
        }
        file += static_cast<char>(sum);
        file += '\0';
    }
    bench::WriteWholeFile(dir.File("image.pgm"), file);

    bench::InProcessLink link;
    if (link.Connect(kAddress) != 0)
        bench::Fail(kName, std::string("cannot connect to the clock simulator on ") + kAddress);
    TimedStatus status;
    Confirming op;
    QtWindowTimer timer4{50};
    CommandContext ctx{link.ps, link.exchange, status, link.time, op, timer4};
    link.ps.InputFileName = dir.File("image.pgm");
    link.ps.ProgramBoard = BoardKind::Main;

    const double start = bench::NowMs();
    ProgramTransfer(ctx).SoftwareUpgrade();
    const double totalMs = bench::NowMs() - start;
    const double recordMs = status.recordsEnd - status.recordsStart;

    const auto lines = status.Lines();
    const bool completed = !lines.empty() && lines.back() == "Programming Mode Terminated.";
    const std::string received = bench::ReadWholeFile(dir.File("image"));
    const bool same =
        received.size() == image.size() &&
        std::equal(image.begin(), image.end(), reinterpret_cast<const uint8_t*>(received.data()));
    if (!completed || !same)
        bench::Fail(kName, "the upgrade did not complete: " +
                               (lines.empty() ? std::string("no lines") : lines.back()) +
                               (same ? "" : " (image differs)"));

    bench::Info(kName, "records", records, "frames");
    bench::Info(kName, "upgrade_total", totalMs, "ms");
    bench::Info(kName, "record_phase", recordMs, "ms");
    bench::Info(kName, "per_record", recordMs / records, "ms");
    bench::Info(kName, "pause_floor", records * kPauseMs, "ms");
    bench::Report(kName, "record_phase_over_pauses", recordMs / (records * kPauseMs), "x", kTargetRatio);
    bench::Note(kName, "upgrade_total adds contact, erase and terminate, one round trip each");
    return 0;
}
