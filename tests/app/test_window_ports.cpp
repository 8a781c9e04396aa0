// The port menu follows the serial ports that exist: items of missing ports are disabled
// at start-up and within a second of a device going away.
#include "test_window_support.h"

#include <QElapsedTimer>
#include <fstream>
#include <unistd.h>

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
    EXPECT_TRUE(window->PortItemEnabled(3));
    EXPECT_FALSE(window->PortItemEnabled(4));
    EXPECT_EQ(ThePollState().ExistingPorts, std::set<int>{3});
    EXPECT_EQ(Item("Comm3")->statusTip().toStdString(), device);

    ASSERT_EQ(unlink(device.c_str()), 0);
    QElapsedTimer clock;
    clock.start();
    while (Item("Comm3")->isEnabled() && clock.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    EXPECT_FALSE(Item("Comm3")->isEnabled());
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(ThePollState().ExistingPorts.empty());
}

}  // namespace
