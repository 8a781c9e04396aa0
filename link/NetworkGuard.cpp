#include "NetworkGuard.h"

#include <atomic>
#include <iostream>

namespace {

std::atomic<bool>& AnyAllowed()
{
    static std::atomic<bool> allowed{false};
    return allowed;
}

std::function<void(const std::string&)>& Hook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

std::string Dotted(uint32_t a)
{
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

}  // namespace

void NetworkGuard::AllowAnyAddress(bool on)
{
    AnyAllowed() = on;
}

bool NetworkGuard::AnyAddressAllowed()
{
    return AnyAllowed();
}

bool NetworkGuard::Permits(uint32_t ipv4, const std::string& what)
{
    if (AnyAllowed() || (ipv4 >> 24) == 127)
        return true;
    const std::string text =
        "refused " + what + " to " + Dotted(ipv4) + ": only 127.0.0.0/8 may be reached from this process";
    std::cerr << text << std::endl;
    if (Hook())
        Hook()(text);
    return false;
}

void NetworkGuard::SetRefusalHook(std::function<void(const std::string&)> hook)
{
    Hook() = std::move(hook);
}
