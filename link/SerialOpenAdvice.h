// Turns the errno of a failed serial-port open into one line a user can act on: who holds
// a busy port, which group grants access, which settings entry maps a missing device.
#pragma once

#include <string>
#include <vector>

struct SerialAdviceRoots {
    // Where UUCP-style lock files (LCK..ttyS0) are kept.
    std::vector<std::string> lockDirs{"/var/lock", "/run/lock"};
    std::string proc = "/proc";
};

class SerialOpenAdvice {
public:
    // portName is "COMn"; path is the device behind it (empty when none is known).
    static std::string Describe(const std::string& portName, const std::string& path, int err,
                                const SerialAdviceRoots& roots = {});
    // "process 1234 (minicom)" for the holder named by a lock file or by an flock on the
    // device; empty when nothing shows who holds it.
    static std::string FindHolder(const std::string& path, const SerialAdviceRoots& roots = {});
};
