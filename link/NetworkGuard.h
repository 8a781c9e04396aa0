// Where this process may send UDP datagrams and open TCP connections. Until the program's
// start-up allows every address, only 127.0.0.0/8 is reachable, so that tests, benchmarks
// and tools built on these libraries cannot reach a real network by mistake.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class NetworkGuard {
public:
    // Lifts (true) or restores (false) the loopback-only rule.
    static void AllowAnyAddress(bool on);
    static bool AnyAddressAllowed();
    // Whether traffic to the IPv4 address (host byte order) may go out. A refusal is
    // reported on stderr and to the refusal hook; `what` says what was refused.
    static bool Permits(uint32_t ipv4, const std::string& what);
    // Called with the text of every refusal; tests turn it into a failure.
    static void SetRefusalHook(std::function<void(const std::string&)> hook);
};
