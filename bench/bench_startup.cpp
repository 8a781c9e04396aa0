// bench_startup: how long the interactive program takes to show its window, and how much
// memory it holds once it has.
//
// Runs quorvex with no arguments under the offscreen platform with an empty temporary
// settings directory (so it starts from its defaults), several times, and measures from
// just before exec to the window being shown.
//
// "Shown" is taken from the program's own start-up hook when it has one: with
// QUORVEX_EXIT_AFTER_SHOW set, it prints "shown <ms>" to stderr right after its window is
// first shown and exits 0. Without the hook, the program is taken to be shown when it has
// gone idle in its event loop: its CPU time stops growing for kSettleMs while it sleeps.
// That is an upper bound (it includes the first paint and the settle window's last poll)
// and is reported as such.
//
// Memory is the peak resident set from wait4 (ru_maxrss), which for a process that exits
// or is stopped right after start-up is its resident memory after start-up, plus the
// VmRSS last read from /proc while it ran.
#include "BenchCommon.h"

#include <sys/resource.h>

namespace {
constexpr const char* kName = "bench_startup";
constexpr int kRuns = 5;
constexpr double kTargetShownMs = 500.0;
constexpr double kTargetRssMb = 60.0;
constexpr double kSettleMs = 300.0;
constexpr double kGiveUpMs = 20000.0;

struct ProcSample {
    bool alive = false;
    char state = '?';
    long cpuTicks = 0;  // utime + stime in clock ticks
    long rssKb = 0;
};

ProcSample Sample(pid_t pid)
{
    ProcSample s;
    const std::string stat = bench::ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return s;
    std::istringstream in(stat.substr(close + 2));
    std::string field;
    std::vector<std::string> f;
    while (in >> field)
        f.push_back(field);
    // After "(comm)": state is field 3 of stat, utime 14 and stime 15.
    if (f.size() < 13)
        return s;
    s.alive = f[0] != "Z" && f[0] != "X";
    s.state = f[0][0];
    s.cpuTicks = std::atol(f[11].c_str()) + std::atol(f[12].c_str());
    std::istringstream status(bench::ReadWholeFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            s.rssKb = std::atol(line.c_str() + 6);
    return s;
}

struct RunResult {
    bool ok = false;
    bool viaHook = false;
    bool noDisplayRefusal = false;
    double shownMs = 0;      // measured here, from just before exec
    double selfShownMs = -1; // as the program printed it
    double peakRssMb = 0;
    double lastRssMb = 0;
    int exitStatus = -1;
    std::string stderrText;
};

RunResult RunOnce(const std::string& program, const bench::TempDir& dir, int index, bool dummyDisplay)
{
    RunResult r;
    const std::string config = dir.File("config" + std::to_string(index));
    mkdir(config.c_str(), 0700);
    const std::string errPath = dir.File("stderr" + std::to_string(index));
    std::vector<std::string> env{"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + config,
                                 "QUORVEX_EXIT_AFTER_SHOW=1", "WAYLAND_DISPLAY="};
    // The offscreen platform never opens the display named here; the name only gets the
    // program past its "no display" refusal for an interactive start.
    env.push_back(dummyDisplay ? "DISPLAY=:qvbench-no-such-display" : "DISPLAY=");
    env.push_back("QT_QPA_OFFSCREEN_NO_GLX=1");

    const double start = bench::NowMs();
    const pid_t pid = bench::Spawn({program}, env, dir.Path(), dir.File("stdout" + std::to_string(index)), errPath);
    if (pid < 0)
        return r;

    long lastCpu = -1;
    double lastChange = start;
    bool settled = false;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        const double now = bench::NowMs();
        const std::string err = bench::ReadWholeFile(errPath);
        const size_t at = err.find("shown ");
        if (at != std::string::npos && err.find('\n', at) != std::string::npos) {
            // The hook's line is out: the window is shown. The program exits by itself.
            r.viaHook = true;
            r.shownMs = now - start;
            r.selfShownMs = std::atof(err.c_str() + at + 6);
            if (done != pid)
                wait4(pid, &status, 0, &usage);
            r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (done == pid) {
            r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        const ProcSample s = Sample(pid);
        if (s.rssKb > 0)
            r.lastRssMb = static_cast<double>(s.rssKb) / 1024.0;
        if (s.cpuTicks != lastCpu) {
            lastCpu = s.cpuTicks;
            lastChange = now;
        } else if (s.cpuTicks > 0 && s.state == 'S' && now - lastChange >= kSettleMs) {
            settled = true;
            r.shownMs = lastChange - start;
            kill(pid, SIGTERM);
            wait4(pid, &status, 0, &usage);
            r.exitStatus = 0;
            break;
        }
        if (now - start > kGiveUpMs) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.stderrText = bench::ReadWholeFile(errPath);
    r.noDisplayRefusal = r.stderrText.find("no display") != std::string::npos;
    r.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    if (r.viaHook && r.lastRssMb == 0)
        r.lastRssMb = r.peakRssMb;
    r.ok = (r.viaHook && r.exitStatus == 0) || settled;
    return r;
}

}  // namespace

int main()
{
    const std::string program = bench::ProgramPath("quorvex");
    if (access(program.c_str(), X_OK) != 0)
        bench::Fail(kName, "quorvex not found at " + program + " (build the quorvex target)");
    bench::TempDir dir("startup");

    // The first start says whether the program refuses an interactive offscreen start;
    // if it does, every run names a display the offscreen platform never opens.
    bool dummyDisplay = false;
    RunResult probe = RunOnce(program, dir, 0, false);
    if (!probe.ok && probe.noDisplayRefusal) {
        dummyDisplay = true;
        bench::Note(kName, "quorvex refuses an interactive start without a display; runs set a DISPLAY name the "
                    "offscreen platform never opens");
    }

    std::vector<double> shown, selfShown, peak, last;
    int hookRuns = 0;
    for (int i = 1; i <= kRuns; ++i) {
        const RunResult r = RunOnce(program, dir, i, dummyDisplay);
        if (!r.ok)
            bench::Fail(kName, "run " + std::to_string(i) + " did not start (exit " + std::to_string(r.exitStatus) +
                                   "): " + r.stderrText);
        shown.push_back(r.shownMs);
        peak.push_back(r.peakRssMb);
        last.push_back(r.lastRssMb);
        if (r.viaHook) {
            ++hookRuns;
            selfShown.push_back(r.selfShownMs);
        }
    }

    if (hookRuns == kRuns) {
        bench::Note(kName, "shown = the program's \"shown\" line (QUORVEX_EXIT_AFTER_SHOW), timed from exec");
        bench::Info(kName, "shown_as_printed_median", bench::Median(selfShown), "ms");
    } else {
        bench::Note(kName, "the program has no QUORVEX_EXIT_AFTER_SHOW hook: shown = gone idle in the event loop "
                           "(CPU time still for 300 ms), an upper bound");
    }
    bench::Info(kName, "shown_max", bench::Max(shown), "ms");
    bench::Info(kName, "rss_last_seen_median", bench::Median(last), "MB");
    bench::Report(kName, "time_to_shown_median", bench::Median(shown), "ms", kTargetShownMs);
    bench::Report(kName, "resident_after_start", bench::Median(peak), "MB", kTargetRssMb);
    return 0;
}
