// Finding the local adaptor and its default gateway from the routing table, and handing
// them to the poll state at start-up.
#include "test_window_support.h"

#include <fstream>

namespace {

const char* const kHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(RouteTable, onlyDefaultRoutesWithAGatewayCount_andALaterLineForTheSameAdaptorWins)
{
    std::string table = std::string(kHeader) +
                        // default via 127.0.1.1 (bytes in memory order: 01 01 00 7F)
                        "eth0\t00000000\t0101007F\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                        // the local subnet: no gateway
                        "eth0\t0001007F\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
                        // a host route through a gateway is not a default route
                        "wlan0\t0A00000A\t0100000A\t0007\t0\t0\t0\tFFFFFFFF\t0\t0\t0\n"
                        // a default route that is down
                        "wlan1\t00000000\t0100100A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
                        // malformed lines are passed over
                        "tun0\t00000000\tZZZZZZZZ\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                        "short line\n"
                        "\n"
                        "usb0\t00000000\t0102007F\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                        "usb0\t00000000\t0202007F\t0003\t0\t0\t700\t00000000\t0\t0\t0\n";
    auto gateways = SystemNetworkInfo::ParseDefaultGateways(table);
    EXPECT_EQ(gateways, (std::map<std::string, std::string>{{"eth0", "127.0.1.1"}, {"usb0", "127.0.2.2"}}));
    EXPECT_TRUE(SystemNetworkInfo::ParseDefaultGateways("").empty());
    EXPECT_TRUE(SystemNetworkInfo::ParseDefaultGateways(kHeader).empty());
}

TEST(RouteTable, anAdaptorWithADefaultGateway_givesItsAddressAndTheGateway)
{
    // A routing table naming only the loopback adaptor keeps the lookup on this machine.
    std::string dir = MakeTempDir();
    std::string path = dir + "/route";
    std::ofstream(path) << kHeader << "nosuch9\t00000000\t0100A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                        << "lo\t00000000\t0100007F\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    SystemNetworkInfo info(path);
    EXPECT_EQ(info.LocalAddress(), "127.0.0.1");
    EXPECT_EQ(info.GatewayAddress(), "127.0.0.1");
}

struct FixedNetwork : INetworkInfo {
    std::string LocalAddress() override { return "127.0.0.20"; }
    std::string GatewayAddress() override { return "127.0.0.254"; }
};

TEST(WindowStart, takesTheLocalAndGatewayAddressesFromTheNetworkInformation)
{
    TestApp();
    ThePollState().Reset();
    ThePollState().GatewayAddress = "stale";
    UseFreshConfigDir();
    FixedNetwork net;
    FakeWindowTiming timing;
    {
        TQuorvex window(net, timing.Seams(), {});
        EXPECT_EQ(ThePollState().LocalAddress, "127.0.0.20");
        EXPECT_EQ(ThePollState().GatewayAddress, "127.0.0.254");
    }
    ThePollState().Reset();
}

}  // namespace
