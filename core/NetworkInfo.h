// The local network adaptor's address and its default gateway, found at start-up so that
// clock discovery can build the broadcast address. Tests inject fixed values.
#pragma once

#include <map>
#include <string>

class INetworkInfo {
public:
    virtual ~INetworkInfo() = default;
    // IPv4 address of the adaptor that has the default gateway; empty when none.
    virtual std::string LocalAddress() = 0;
    // The default gateway, or the host's own first address when no gateway is known;
    // empty when neither can be found.
    virtual std::string GatewayAddress() = 0;
};

// Reads the adaptor list (getifaddrs) and the kernel routing table (/proc/net/route).
class SystemNetworkInfo : public INetworkInfo {
public:
    explicit SystemNetworkInfo(std::string routeTablePath = "/proc/net/route");
    std::string LocalAddress() override;
    std::string GatewayAddress() override;

    // Default gateways by interface name, in dotted form, from the text of a routing
    // table in the /proc/net/route layout. Later lines for the same interface win.
    static std::map<std::string, std::string> ParseDefaultGateways(const std::string& routeTable);

private:
    void Examine();

    std::string routeTablePath_;
    bool examined_ = false;
    std::string local_;
    std::string gateway_;
};
