// bench_idle_wait: what a reply wait costs while nothing arrives.
//
// Connects the real exchange engine to a clock simulator that never answers, sends one
// get_status frame and waits 11 ticks (at least 10 s of wall time) for a reply that does
// not come. The process CPU time (user + system, all threads) spent during the wait is
// the measurement: a wait that blocks in the event loop costs close to nothing, one that
// spins costs a whole core.
#include "BenchCommon.h"
#include "InProcessLink.h"

#include <QCoreApplication>

namespace {
constexpr const char* kName = "bench_idle_wait";
constexpr const char* kAddress = "127.0.0.5";
constexpr int kWaitTicks = 11;
constexpr double kTargetPercent = 1.0;
}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::TempDir dir("idle");
    bench::ClockSim sim(kName, kAddress, {"--silent"}, dir);

    bench::InProcessLink link;
    if (link.Connect(kAddress) != 0)
        bench::Fail(kName, std::string("cannot connect to the clock simulator on ") + kAddress);
    const int length = link.BuildGetStatus();
    if (link.Send(length) != 0)
        bench::Fail(kName, "sending get_status failed");

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const double wallStart = bench::NowMs();
    const WaitResult outcome = link.exchange.WaitTicks(kWaitTicks);
    const double wallMs = bench::NowMs() - wallStart;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);

    if (outcome != WaitResult::TimedOut)
        bench::Note(kName, "unexpected: a reply arrived from the silent simulator");
    const double cpuMs = bench::CpuMs(after) - bench::CpuMs(before);
    const double percent = wallMs > 0 ? 100.0 * cpuMs / wallMs : 0.0;
    const long wakeups = (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);

    bench::Info(kName, "wait_wall", wallMs / 1000.0, "s");
    // 11 ticks end at the 11th second change: never later than 11 s after the wait began.
    if (wallMs > kWaitTicks * 1000.0 + 50.0)
        bench::Note(kName, "the wait outlasted " + std::to_string(kWaitTicks) +
                               " ticks: at least one second boundary was missed");
    bench::Info(kName, "wait_cpu", cpuMs, "ms");
    bench::Info(kName, "context_switches", static_cast<double>(wakeups), "");
    bench::Report(kName, "cpu_during_wait", percent, "%", kTargetPercent);
    return 0;
}
