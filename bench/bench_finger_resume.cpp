// bench_finger_resume: a resumed finger_backup over a complete template backup file, for a
// clock with 500 and with 2,000 employees of 3 templates each.
//
// Nothing is left to fetch, so each slot costs one query and the count of what the file
// holds for it. The file grows with the clock (about 5 MB for 2,000 employees); a count that
// read the file again for every slot would make the run grow with the square of the clock
// (a ratio near 16 for four times the employees). The count reads the file once per run,
// so the run should grow in step with the clock: a ratio near 4.
#include "BenchCommon.h"
#include "InProcessLink.h"
#include "commands/CommandContext.h"
#include "interpreter/Interpreter.h"
#include "core/ClockError.h"

#include <QCoreApplication>

namespace {
constexpr const char* kName = "bench_finger_resume";
constexpr const char* kAddress = "127.0.0.192";
constexpr double kTargetRatio = 5.0;

struct NoDialogs : IOperator {
    bool OkCancel(const std::string&, const std::string&) override { return false; }
    bool YesNo(const std::string&, const std::string&) override { return false; }
    void Information(const std::string&, const std::string&) override {}
    bool InputBox(const std::string&, const std::string&, std::string&) override { return false; }
    bool OpenFile(FileKind, std::string&) override { return false; }
};

struct Run {
    double seconds = 0;
    double cpuMs = 0;
    double readOnceMs = 0;
    size_t fileBytes = 0;
};

Run ResumeOver(int employees)
{
    bench::TempDir dir("finger");
    const std::string file = dir.File("backup.txt");
    bench::ClockSim sim(kName, kAddress,
                        {"--fingers", std::to_string(employees) + " 1 3", "--finger-dump", file}, dir);
    const std::string complete = bench::ReadWholeFile(file);

    Run run;
    run.fileBytes = complete.size();
    // One plain read of the whole file, for scale.
    const double r0 = bench::NowMs();
    if (bench::ReadWholeFile(file).size() != complete.size())
        bench::Fail(kName, "the backup file changed while it was read");
    run.readOnceMs = bench::NowMs() - r0;

    bench::InProcessLink link;
    QtWindowTimer timer4{50};
    NoDialogs op;
    Interpreter interpreter{
        CommandContext{link.ps, link.exchange, link.status, link.time, op, timer4, &link.network}};
    if (link.Connect(kAddress) != 0)
        bench::Fail(kName, std::string("cannot connect to the clock simulator on ") + kAddress);
    link.ps.InputFileName = file;
    link.ps.FingerLogFile = dir.File("finger.log");
    link.ps.CommandKeyword = "finger_backup";

    const double cpu0 = bench::SelfCpuMs();
    const double t0 = bench::NowMs();
    interpreter.RunCommand('S');
    run.seconds = (bench::NowMs() - t0) / 1000.0;
    run.cpuMs = bench::SelfCpuMs() - cpu0;
    link.network.Deactivate();

    if (link.ps.PollStatus != ceOK)
        bench::Fail(kName, "the backup ended with result " + std::to_string(ClockErrorNumber(link.ps.PollStatus)));
    if (bench::ReadWholeFile(file) != complete)
        bench::Fail(kName, "the resumed backup fetched templates the file already held");
    const std::string total = "Total Number of Templates Stored = " + std::to_string(3 * employees) + "\r\n";
    if (bench::ReadWholeFile(dir.File("finger.log")).find(total) == std::string::npos)
        bench::Fail(kName, "the log does not count every template the file holds");
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Run small = ResumeOver(500);
    const Run large = ResumeOver(2000);

    bench::Info(kName, "file_500", static_cast<double>(small.fileBytes) / 1e6, "MB");
    bench::Info(kName, "file_2000", static_cast<double>(large.fileBytes) / 1e6, "MB");
    bench::Info(kName, "resume_500", small.seconds, "s");
    bench::Info(kName, "resume_2000", large.seconds, "s");
    bench::Info(kName, "cpu_500", small.cpuMs, "ms");
    bench::Info(kName, "cpu_2000", large.cpuMs, "ms");
    // What reading the file again for every slot would have cost, from one read of it.
    bench::Info(kName, "rescan_every_slot_2000", 2000.0 * large.readOnceMs / 1000.0, "s");
    bench::Report(kName, "time_ratio_2000_over_500", large.seconds / small.seconds, "x", kTargetRatio);
    return 0;
}
