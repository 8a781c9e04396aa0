// "Find Clocks" pressed in the window, on simulated time: the controls a search must not be
// restarted from are off while it runs, the window keeps serving events during the network
// wait, and afterwards everything is back except the mode, which is left unchosen.
#include "test_window_support.h"

#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

namespace {

using WindowFindTest = WindowTest;

TEST_F(WindowFindTest, findClocks_runsBothPhases_withTheControlsOff_andRestoresTheWindow)
{
    {
        // No serial port exists; the network is searched next to the loopback gateway.
        QSettings s("Korvane", "KX2");
        s.setValue("SerialPorts/COM1", QString::fromStdString(configDir + "/no-such-tty"));
    }
    Store("Port", 0);
    Store("BaudRate", 2400);
    Start();
    const char* controls[] = {"FindButton",     "PollButton",         "AbortButton",
                              "SkipPortButton", "CommandRadioButton", "CommandComboBox"};
    std::vector<std::string> during;
    fake.pump.Post([&] {
        for (const char* name : controls)
            if (Find<QWidget>(name)->isEnabled())
                during.push_back(name);
        if (Find<QMenu>("File1")->menuAction()->isEnabled())
            during.push_back("File");
        if (Links().PortRefreshEnabled())
            during.push_back("Timer2");
        if (Ui().CommandModeChecked() || Ui().CommandFileModeChecked())
            during.push_back("a mode");
    });

    Find<QPushButton>("FindButton")->click();

    EXPECT_EQ(during, std::vector<std::string>{}) << "the network wait lets events run, with everything off";
    EXPECT_EQ(Status().Lines(),
              (std::vector<std::string>{"Searching for TCP/IP Clocks...", " ", "No Clocks Found!!",
                                        "Finished Search.", "", "Searching for USB/Serial Clocks...", " ",
                                        "No Clocks Found!!", "Finished Search."}));
    EXPECT_EQ(ThePollState().LocalAddress, "127.0.0.255");
    for (const char* name : {"FindButton", "PollButton", "CommandRadioButton", "CommandComboBox"})
        EXPECT_TRUE(Find<QWidget>(name)->isEnabled()) << name;
    EXPECT_FALSE(Find<QWidget>("AbortButton")->isEnabled());
    EXPECT_FALSE(Find<QWidget>("SkipPortButton")->isEnabled());
    EXPECT_TRUE(Find<QMenu>("Options1")->menuAction()->isEnabled());
    EXPECT_FALSE(Ui().CommandModeChecked());
    EXPECT_FALSE(Ui().CommandFileModeChecked());
    EXPECT_TRUE(Links().NetworkSelected());
    EXPECT_EQ(Status().ReadPanel(Panel::Port), "Network");
    EXPECT_EQ(Status().ReadPanel(Panel::Baud), "");
    EXPECT_TRUE(Links().PortRefreshEnabled());

    // A mode is chosen again as before.
    Find<QRadioButton>("CommandFileRadioButton")->click();
    EXPECT_TRUE(Ui().CommandFileModeChecked());
}

}  // namespace
