#include "NetworkInfo.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netdb.h>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// /proc/net/route prints addresses as eight hex digits of the value in host byte order
// as it lies in memory, i.e. network-order bytes read as a native integer.
bool ParseHexAddress(const std::string& hex, in_addr& out)
{
    if (hex.size() != 8)
        return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(hex.c_str(), &end, 16);
    if (end != hex.c_str() + hex.size())
        return false;
    out.s_addr = static_cast<in_addr_t>(v);
    return true;
}

std::string Dotted(const in_addr& a)
{
    char buf[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &a, buf, sizeof buf))
        return {};
    return buf;
}

std::string HostFirstAddress()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &res) != 0 || !res)
        return {};
    std::string out;
    if (res->ai_addr && res->ai_family == AF_INET)
        out = Dotted(reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr);
    freeaddrinfo(res);
    return out;
}

}  // namespace

SystemNetworkInfo::SystemNetworkInfo(std::string routeTablePath) : routeTablePath_(std::move(routeTablePath)) {}

std::map<std::string, std::string> SystemNetworkInfo::ParseDefaultGateways(const std::string& routeTable)
{
    std::map<std::string, std::string> out;
    std::istringstream in(routeTable);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header) {
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string iface, dest, gw, flagsHex, refcnt, use, metric, mask;
        if (!(fields >> iface >> dest >> gw >> flagsHex >> refcnt >> use >> metric >> mask))
            continue;
        in_addr d{}, g{}, m{};
        if (!ParseHexAddress(dest, d) || !ParseHexAddress(gw, g) || !ParseHexAddress(mask, m))
            continue;
        char* end = nullptr;
        unsigned long flags = std::strtoul(flagsHex.c_str(), &end, 16);
        if (end == flagsHex.c_str())
            continue;
        bool isDefault = d.s_addr == 0 && m.s_addr == 0;
        if (!isDefault || g.s_addr == 0 || !(flags & RTF_UP) || !(flags & RTF_GATEWAY))
            continue;
        out[iface] = Dotted(g);
    }
    return out;
}

void SystemNetworkInfo::Examine()
{
    if (examined_)
        return;
    examined_ = true;

    std::string table;
    {
        std::ifstream f(routeTablePath_);
        std::ostringstream ss;
        ss << f.rdbuf();
        table = ss.str();
    }
    auto gateways = ParseDefaultGateways(table);

    // Every adaptor is examined; each one with a default gateway overrides the previous,
    // and an adaptor with several IPv4 addresses contributes its first.
    ifaddrs* list = nullptr;
    if (!gateways.empty() && getifaddrs(&list) == 0) {
        std::set<std::string> seen;
        for (ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
            if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_name)
                continue;
            auto it = gateways.find(ifa->ifa_name);
            if (it == gateways.end() || !seen.insert(ifa->ifa_name).second)
                continue;
            local_ = Dotted(reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr);
            gateway_ = it->second;
        }
        freeifaddrs(list);
    }
    if (gateway_.empty())
        gateway_ = HostFirstAddress();
}

std::string SystemNetworkInfo::LocalAddress()
{
    Examine();
    return local_;
}

std::string SystemNetworkInfo::GatewayAddress()
{
    Examine();
    return gateway_;
}
