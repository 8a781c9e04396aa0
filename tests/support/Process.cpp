#include "Process.h"

#include "Fakes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

double Now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ApplyEnv(const std::vector<std::string>& env)
{
    for (const auto& e : env) {
        const auto eq = e.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string name = e.substr(0, eq);
        const std::string value = e.substr(eq + 1);
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
}

[[noreturn]] void Exec(const std::vector<std::string>& argv)
{
    // A test killed by its time-out must not leave a simulated clock holding its address.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Waits until a file exists and is not empty, up to timeoutMs.
bool WaitForFile(const std::string& path, int timeoutMs = 5000)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        std::ifstream in(path);
        if (in && in.peek() != std::ifstream::traits_type::eof())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Last octets used by hand, never leased: the find-clocks broadcast pair .51/.52 (and .53,
// a third fake answer), the window tests' stored .20, the benchmarks' .11, .12, .83-.85,
// .102, .192 and soak lanes .170-.179, the screenshot's .61. Benchmarks and demos may run
// beside the tests on a shared machine, and a simulator already listening on one of these
// would answer a test's connection in its place. (.1-.9 and .250-.255 lie outside the
// leased range: clocksim's default is .1, the window tests store .2-.9 and .254.)
bool UsedByHand(int x)
{
    static const std::set<int> used = {11, 12, 20, 51, 52, 53, 61, 83, 84, 85, 102, 192};
    return used.count(x) > 0 || (x >= 170 && x <= 179);
}

// Leases 127.0.0.x by binding the abstract Unix socket named after it: the bind fails while
// another process (or this one) holds it, and the kernel lets it go when the process ends,
// so no file is left behind and a crashed test holds nothing. The descriptor stays open.
bool Lease(int x)
{
    const std::string name = "quorvex-test-address-127.0.0." + std::to_string(x);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());  // sun_path[0] = 0: abstract
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0)
        return true;
    if (fd >= 0)
        close(fd);
    return false;
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& workDir, int timeoutSeconds)
{
    RunResult result;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return result;
    const double start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        // The program under test reaches 127.0.0.0/8 only.
        setenv("QV_LOOPBACK_ONLY", "1", 1);
        ApplyEnv(env);
        Exec(argv);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const double left = timeoutSeconds - (Now() - start);
        if (left <= 0 && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (poll(fds, 2, 200) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

SimulatedClock::SimulatedClock(const std::string& dir, const std::vector<std::string>& options) : dir_(dir)
{
    std::vector<std::string> argv = {std::string(QV_BIN_DIR) + "/clocksim", "--ready-file",
                                     dir + "/clock.ready", "--journal", dir + "/clock.journal"};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ == 0) {
        const int log = ::open((dir + "/clock.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        dup2(::open("/dev/null", O_RDONLY), 0);
        Exec(argv);
    }
    ready_ = WaitForFile(dir + "/clock.ready");
    std::ifstream in(dir + "/clock.ready");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("pty: ", 0) == 0)
            pty_ = line.substr(5);
}

SimulatedClock::~SimulatedClock()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

std::string SimulatedClock::Journal() const
{
    return ReadFileBytes(dir_ + "/clock.journal");
}

std::string TestAddress(int n)
{
    // ctest runs every test case in a process of its own, so a lease per process and n keeps
    // the tests running side by side apart; 10..249 leaves room for over 200 at once.
    static std::mutex mutex;
    static std::map<int, int> leased;
    const std::lock_guard<std::mutex> lock(mutex);
    auto it = leased.find(n);
    if (it == leased.end()) {
        int x = 10;
        while (x <= 249 && (UsedByHand(x) || !Lease(x))) ++x;
        if (x > 249)
            throw std::runtime_error("no free test address in 127.0.0.10-249");
        it = leased.emplace(n, x).first;
    }
    return "127.0.0." + std::to_string(it->second);
}

void WriteProfile(const std::string& dir, const std::string& serialPorts, const std::string& general)
{
    std::filesystem::create_directories(dir + "/config/Korvane");
    std::ofstream(dir + "/config/Korvane/KX2.conf") << "[General]\nBaudRate=9600\nPort=1\nIPAddress=0.0.0.0\n"
                                                    << general << "\n[SerialPorts]\n"
                                                    << serialPorts;
}

RunResult RunUnattended(const std::string& dir, const std::string& cmdFile, const std::string& results,
                        int timeoutSeconds)
{
    // TMPDIR: the private runtime folder that runs without XDG_RUNTIME_DIR share is made
    // in the run folder and goes with it.
    return RunProgram({std::string(QV_BIN_DIR) + "/quorvex", cmdFile, results},
                      {"XDG_CONFIG_HOME=" + dir + "/config", "TMPDIR=" + dir,
                       "XDG_RUNTIME_DIR=", "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="},
                      dir, timeoutSeconds);
}

std::string ResultLine(const std::string& station, const std::string& keyword, const std::string& code)
{
    return station + " " + keyword + std::string(keyword.size() < 21 ? 21 - keyword.size() : 1, ' ') + code +
           "\r\n\r";
}

std::vector<std::string> ReceivedFrames(const std::string& journal)
{
    std::istringstream in(journal);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("rx ", 0) == 0)
            out.push_back(line);
    return out;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::string Control(const std::string& socketPath, const std::string& line)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    std::string reply;
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        write(fd, (line + "\n").data(), line.size() + 1) == static_cast<ssize_t>(line.size() + 1)) {
        char c = 0;
        while (read(fd, &c, 1) == 1 && c != '\n') reply += c;
    }
    if (fd >= 0)
        close(fd);
    return reply;
}

RunFolder::RunFolder() : dir(MakeTempDir()) {}

void RunFolder::Write(const std::string& name, const std::string& content) const
{
    std::ofstream(dir + "/" + name, std::ios::binary) << content;
}

std::string RunFolder::File(const std::string& name) const
{
    return ReadFileBytes(dir + "/" + name);
}

RunResult RunFolder::RunCommands(const std::string& cmdFile, const std::string& results,
                                 int timeoutSeconds) const
{
    return RunUnattended(dir, cmdFile, results, timeoutSeconds);
}
