// Helpers shared by the benchmarks: finding the programs next to the benchmark, running
// the clock simulator on a loopback address, temporary directories, timing, statistics and
// the one-line report format that run_all.sh collects.
//
// Every benchmark reports; none asserts. A missed target is printed as "MISSED" and the
// program still exits 0. Exit status 2 means the measurement itself could not be made.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

inline double NowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Wall-clock (realtime) seconds: ticks are changes of this clock's second.
inline double RealNowSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

inline double CpuMs(const rusage& r)
{
    auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0; };
    return ms(r.ru_utime) + ms(r.ru_stime);
}

inline double SelfCpuMs()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return CpuMs(r);
}

// p in 0..100, nearest-rank on a sorted copy.
inline double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

inline double Median(const std::vector<double>& v) { return Percentile(v, 50.0); }
inline double Max(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()); }

// One line per measured metric, in a fixed layout run_all.sh picks up:
//   RESULT <bench> <metric> <value> <unit> target <= <limit> <unit> met|MISSED
inline void Report(const char* benchName, const char* metric, double value, const char* unit, double limit)
{
    std::printf("RESULT %-16s %-26s %10.3f %-4s target <= %8.3f %-4s %s\n", benchName, metric, value, unit, limit,
                unit, value <= limit ? "met" : "MISSED");
    std::fflush(stdout);
}

// A supporting number without a target.
inline void Info(const char* benchName, const char* metric, double value, const char* unit)
{
    std::printf("INFO   %-16s %-26s %10.3f %s\n", benchName, metric, value, unit);
    std::fflush(stdout);
}

inline void Note(const char* benchName, const std::string& text)
{
    std::printf("NOTE   %-16s %s\n", benchName, text.c_str());
    std::fflush(stdout);
}

[[noreturn]] inline void Fail(const char* benchName, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", benchName, text.c_str());
    std::exit(2);
}

inline std::string DirOfSelf()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The programs are built into the same bin/ directory as the benchmarks; QV_BIN_DIR
// overrides that.
inline std::string ProgramPath(const char* name)
{
    const char* dir = std::getenv("QV_BIN_DIR");
    return std::string(dir && *dir ? dir : DirOfSelf().c_str()) + "/" + name;
}

inline bool FileExists(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0;
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteWholeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A private directory under $TMPDIR, removed (with what is in it) on destruction.
class TempDir {
public:
    explicit TempDir(const char* tag)
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvbench-" + tag + "-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr)
            Fail(tag, std::string("mkdtemp: ") + std::strerror(errno));
        path_ = buf.data();
    }
    ~TempDir()
    {
        if (!path_.empty() && !std::getenv("QV_BENCH_KEEP_TMP")) {
            const std::string cmd = "rm -rf '" + path_ + "'";
            [[maybe_unused]] const int rc = std::system(cmd.c_str());
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Starts a program with argv and extra environment entries ("NAME=value" sets,
// "NAME=" with an empty value removes). stdout/stderr go to the given files when not
// empty. Returns the child's pid.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   const std::string& workDir = {}, const std::string& stdoutPath = {},
                   const std::string& stderrPath = {})
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid > 0)
        return pid;
    for (const std::string& e : env) {
        const size_t eq = e.find('=');
        const std::string name = e.substr(0, eq);
        if (eq == std::string::npos || eq + 1 == e.size())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), e.c_str() + eq + 1, 1);
    }
    if (!workDir.empty() && chdir(workDir.c_str()) != 0)
        _exit(127);
    auto redirect = [](const std::string& path, int fd) {
        if (path.empty())
            return;
        const int f = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (f >= 0)
            dup2(f, fd);
    };
    redirect(stdoutPath, 1);
    redirect(stderrPath, 2);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// A clocksim process on ADDRESS:14001, stopped with SIGTERM on destruction.
class ClockSim {
public:
    ClockSim(const char* benchName, const std::string& address, const std::vector<std::string>& extraArgs,
             const TempDir& dir)
        : bench_(benchName)
    {
        const std::string program = ProgramPath("clocksim");
        if (access(program.c_str(), X_OK) != 0)
            Fail(bench_, "clocksim not found at " + program + " (build the clocksim target)");
        const std::string ready = dir.File("clocksim-" + address + ".ready");
        std::vector<std::string> argv{program, "--listen", address, "--ready-file", ready};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        log_ = dir.File("clocksim-" + address + ".log");
        pid_ = Spawn(argv, {}, {}, log_, log_);
        if (pid_ < 0)
            Fail(bench_, "cannot start clocksim");
        const double deadline = NowMs() + 10000.0;
        while (!FileExists(ready)) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                Fail(bench_, "clocksim exited before it was ready: " + ReadWholeFile(log_));
            }
            if (NowMs() > deadline)
                Fail(bench_, "clocksim was not ready within 10 s");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~ClockSim()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    ClockSim(const ClockSim&) = delete;
    ClockSim& operator=(const ClockSim&) = delete;

private:
    const char* bench_;
    std::string log_;
    pid_t pid_ = -1;
};

}  // namespace bench
