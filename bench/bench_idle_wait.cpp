// bench_idle_wait: what a reply wait costs while nothing arrives.
//
// First the exchange engine alone: the real engine in this process, connected to a clock
// simulator that never answers, sends one get_status frame and waits 11 ticks (at least
// 10 s of wall time) for a reply that does not come.
//
// Then the whole program: `quorvex CMDFILE RESULTS` asks a silent clock for its status
// twice, over TCP and over the simulator's pseudo-terminal mapped as a serial port, with
// the offscreen platform and, when DISPLAY names an X server, with its window shown there.
// Each get_status tries three times and waits three ticks for each reply, so the run
// waits 12 to 18 s; the CPU time of the program's threads is read from /proc over 10 s of
// that, starting half a second after the first status request reached the clock.
//
// The measurement is CPU milliseconds spent per second of waiting: a wait that blocks in the
// event loop costs close to nothing, one that spins costs a whole core.
#include "BenchCommon.h"
#include "InProcessLink.h"

#include <QCoreApplication>

#include <dirent.h>

namespace {
constexpr const char* kName = "bench_idle_wait";
constexpr const char* kAddress = "127.0.0.5";
constexpr const char* kProgramTcpAddress = "127.0.0.11";
constexpr const char* kProgramPtyAddress = "127.0.0.12";
constexpr int kWaitTicks = 11;
// CPU milliseconds per second of waiting (0.005 CPU seconds per second).
constexpr double kTarget = 5.0;
constexpr double kSettleMs = 500.0;
constexpr double kWindowMs = 10000.0;

// CPU time of every live thread of a process in ns, from the scheduler's own account
// (/proc/PID/task/TID/schedstat); when that is missing, user + system time from
// /proc/PID/stat, which counts in 10 ms steps. -1 when the process is gone.
double ProcessCpuNs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    double sum = 0;
    bool any = false;
    if (DIR* d = opendir(tasks.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream in(tasks + "/" + e->d_name + "/schedstat");
            double ns = 0;
            if (in >> ns) {
                sum += ns;
                any = true;
            }
        }
        closedir(d);
    }
    if (any)
        return sum;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    // Fields 3..13 come before utime (14) and stime (15).
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks * 1e9 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The in-process wait; returns CPU milliseconds per second.
double EngineAlone()
{
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
    const long wakeups = (after.ru_nvcsw - before.ru_nvcsw) + (after.ru_nivcsw - before.ru_nivcsw);

    bench::Info(kName, "wait_wall", wallMs / 1000.0, "s");
    // 11 ticks end at the 11th second change: never later than 11 s after the wait began.
    if (wallMs > kWaitTicks * 1000.0 + 50.0)
        bench::Note(kName, "the wait outlasted " + std::to_string(kWaitTicks) +
                               " ticks: at least one second boundary was missed");
    bench::Info(kName, "wait_cpu", cpuMs, "ms");
    bench::Info(kName, "context_switches", static_cast<double>(wakeups), "");
    return wallMs > 0 ? 1000.0 * cpuMs / wallMs : 0.0;
}

// One unattended run against a silent clock; returns CPU milliseconds per second of waiting,
// or -1 when the run could not be measured.
double WholeProgram(bool overPty, bool shown)
{
    const char* address = overPty ? kProgramPtyAddress : kProgramTcpAddress;
    bench::TempDir dir("idlerun");
    const std::string journal = dir.File("journal");
    std::vector<std::string> simArgs{"--silent", "--journal", journal};
    if (overPty)
        simArgs.push_back("--pty");
    bench::ClockSim sim(kName, address, simArgs, dir);

    std::string link = std::string("IP") + address;
    std::string ports = "COM1=/nonexistent/tty\n";
    if (overPty) {
        const std::string ready = bench::ReadWholeFile(dir.File(std::string("clocksim-") + address + ".ready"));
        const size_t at = ready.find("pty: ");
        if (at == std::string::npos)
            bench::Fail(kName, "the simulator named no pseudo-terminal");
        ports = "COM1=" + ready.substr(at + 5, ready.find('\n', at) - at - 5) + "\n";
        link = "COM1 9600";
    }
    mkdir(dir.File("config").c_str(), 0700);
    mkdir(dir.File("config/Korvane").c_str(), 0700);
    bench::WriteWholeFile(dir.File("config/Korvane/KX2.conf"),
                          "[General]\nBaudRate=9600\nPort=1\nIPAddress=0.0.0.0\n\n[SerialPorts]\n" + ports);
    bench::WriteWholeFile(dir.File("run.cmd"), "init_clock 01 " + link + "\nget_status s.txt\nget_status s.txt\n");

    std::vector<std::string> env{"XDG_CONFIG_HOME=" + dir.File("config"), "TMPDIR=" + dir.Path(),
                                 "XDG_RUNTIME_DIR=", "WAYLAND_DISPLAY=", "QV_LOOPBACK_ONLY=1"};
    if (shown) {
        env.push_back("QT_QPA_PLATFORM=");
    } else {
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("DISPLAY=");
    }
    const pid_t pid = bench::Spawn({bench::ProgramPath("quorvex"), dir.File("run.cmd"), dir.File("results.txt")},
                                   env, dir.Path(), dir.File("out.txt"), dir.File("err.txt"));
    if (pid < 0)
        bench::Fail(kName, "cannot start quorvex");

    auto reap = [pid](bool kill) {
        if (kill)
            ::kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    };
    const double deadline = bench::NowMs() + 15000.0;
    while (bench::ReadWholeFile(journal).find("rx C1 AD") == std::string::npos) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            bench::Note(kName, "quorvex ended before asking for the status: " +
                                   bench::ReadWholeFile(dir.File("out.txt")) +
                                   bench::ReadWholeFile(dir.File("err.txt")));
            return -1;
        }
        if (bench::NowMs() > deadline) {
            reap(true);
            bench::Note(kName, "quorvex sent no status request within 15 s");
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kSettleMs)));
    const double cpu0 = ProcessCpuNs(pid);
    const double wall0 = bench::NowMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kWindowMs)));
    const double cpu1 = ProcessCpuNs(pid);
    const double wallMs = bench::NowMs() - wall0;
    reap(false);
    const std::string out = bench::ReadWholeFile(dir.File("out.txt"));
    if (cpu0 < 0 || cpu1 < 0 || out.find("No Data Received from Clock") == std::string::npos) {
        bench::Note(kName, "the run did not wait as expected: " + out + bench::ReadWholeFile(dir.File("err.txt")));
        return -1;
    }
    return 1000.0 * (cpu1 - cpu0) / 1e6 / wallMs;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bench::Report(kName, "engine_cpu_per_s", EngineAlone(), "ms/s", kTarget);

    const char* display = std::getenv("DISPLAY");
    const bool canShow = display && *display;
    for (const bool overPty : {false, true}) {
        for (const bool shown : {false, true}) {
            if (shown && !canShow)
                continue;
            const double perSecond = WholeProgram(overPty, shown);
            const std::string metric =
                std::string("program_") + (overPty ? "pty" : "tcp") + (shown ? "_shown" : "_offscreen");
            if (perSecond >= 0)
                bench::Report(kName, metric.c_str(), perSecond, "ms/s", kTarget);
        }
    }
    if (!canShow)
        bench::Note(kName, "DISPLAY is not set: the runs with the window shown were left out");
    return 0;
}
