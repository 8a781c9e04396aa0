// Child processes for end-to-end tests: the clock simulator in the background and the
// program run to completion with its output captured.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

struct RunResult {
    int exitCode = -1;  // -1 when killed or not started
    std::string out;
    std::string err;
};

// Runs a program to completion with extra environment entries ("NAME=value"; "NAME=" with
// nothing after it removes NAME), killing it after timeoutSeconds.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& workDir, int timeoutSeconds = 60);

// A loopback address 127.0.0.x of this test process's own, leased so that no test running
// at the same time gets it; the same n gives the same address for the life of the process.
std::string TestAddress(int n = 0);

// A clock simulator on its own loopback address (and pseudo-terminal when asked), ready
// when constructed.
class SimulatedClock {
public:
    SimulatedClock(const std::string& dir, const std::vector<std::string>& options);
    ~SimulatedClock();
    SimulatedClock(const SimulatedClock&) = delete;
    SimulatedClock& operator=(const SimulatedClock&) = delete;
    bool Ready() const { return ready_; }
    // The pseudo-terminal's slave path when the simulator plays one.
    std::string PtyPath() const { return pty_; }
    std::string Journal() const;

private:
    std::string dir_;
    std::string pty_;
    bool ready_ = false;
    pid_t pid_ = -1;
};

// What the end-to-end tests of an unattended run share.
// A settings profile in dir/config (BaudRate 9600, Port 1), with an optional serial map and
// further [General] lines.
void WriteProfile(const std::string& dir, const std::string& serialPorts = "",
                  const std::string& general = "");
// `quorvex CMDFILE RESULTS` run in dir with that profile and no display.
RunResult RunUnattended(const std::string& dir, const std::string& cmdFile,
                        const std::string& results = "results.txt", int timeoutSeconds = 90);
// One results-file line as it is on disk.
std::string ResultLine(const std::string& station, const std::string& keyword, const std::string& code);
// The journal's "rx ..." lines: the requests the simulator received, in order.
std::vector<std::string> ReceivedFrames(const std::string& journal);
// How often `part` occurs in `text`.
size_t Count(const std::string& text, const std::string& part);
// One line to a simulator's control socket (its --control path); its reply line.
std::string Control(const std::string& socketPath, const std::string& line);

// A fresh folder to run the program in, its files written and read by name.
struct RunFolder {
    std::string dir;
    RunFolder();
    void Write(const std::string& name, const std::string& content) const;
    std::string File(const std::string& name) const;
    RunResult RunCommands(const std::string& cmdFile = "run.cmd", const std::string& results = "results.txt",
                          int timeoutSeconds = 90) const;
};
