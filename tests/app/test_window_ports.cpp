// The port menu follows the serial ports that exist: items of missing ports are disabled
// at start-up and within a second of a device going away.
#include "test_window_support.h"

#include <unistd.h>
#include <fstream>

namespace {

using WindowPortsTest = WindowTest;

TEST_F(WindowPortsTest, mappedPorts_enableTheirItems_andAVanishedDeviceIsDisabledWithinASecond)
{
    const std::string device = configDir + "/ttyFAKE3";
    std::ofstream(device) << "";
    const std::string missing = configDir + "/ttyGONE4";
    Store("SerialPorts/COM3", QString::fromStdString(device));
    Store("SerialPorts/COM4", QString::fromStdString(missing));
    Start();

    EXPECT_TRUE(Item("Comm3")->isEnabled());
    EXPECT_FALSE(Item("Comm4")->isEnabled());
    EXPECT_FALSE(Item("Comm1")->isEnabled());
    EXPECT_TRUE(Ui().PortItemEnabled(3));
    EXPECT_FALSE(Ui().PortItemEnabled(4));
    EXPECT_EQ(Item("Comm3")->statusTip().toStdString(), device);

    ASSERT_EQ(unlink(device.c_str()), 0);
    const int64_t removed = fake.time.NowMs();
    while (Item("Comm3")->isEnabled() && fake.time.NowMs() - removed < 3000) fake.pump.PumpUntilEventOrTick();
    EXPECT_FALSE(Item("Comm3")->isEnabled());
    EXPECT_LE(fake.time.NowMs() - removed, 1000);
}

}  // namespace
