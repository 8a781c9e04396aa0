// "Find Clocks" pressed in the window, on simulated time: the controls a search must not be
// restarted from are off while it runs, the window keeps serving events during the network
// wait, and afterwards everything is back except the mode, which is left unchosen.
#include "test_window_support.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>

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
        // The bar is busy in place of the network panel while the network is searched.
        const auto* bar = Find<QProgressBar>("ProgressBar");
        if (bar->isHidden() || bar->maximum() != 0 || !Find<QLabel>("Panel5")->isHidden() ||
            bar->accessibleDescription() != "Clocks answering on the local network")
            during.push_back("no busy bar");
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
    EXPECT_TRUE(Find<QProgressBar>("ProgressBar")->isHidden());
    EXPECT_FALSE(Find<QLabel>("Panel5")->isHidden());

    // A mode is chosen again as before.
    Find<QRadioButton>("CommandFileRadioButton")->click();
    EXPECT_TRUE(Ui().CommandFileModeChecked());
}

// The bar follows what the work reports, tells assistive technology its value, what it
// measures and the text it shows, and goes when the work ends; the status bar keeps its size.
TEST_F(WindowFindTest, progressBar_appearsFollowsAndHides)
{
    Start().show();
    auto* bar = Find<QProgressBar>("ProgressBar");
    const QSize statusBar = window->statusBar()->size();
    IProgress& progress = window->Progress();
    progress.Begin("Program records sent to the clock", "records", 40);
    for (int sent = 1; sent <= 6; ++sent) {
        fake.time.Advance(2000);
        progress.Step(sent, "");
    }
    QApplication::processEvents();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_FALSE(Find<QLabel>("Panel5")->isVisible());
    EXPECT_EQ(window->statusBar()->size(), statusBar);
    EXPECT_EQ(bar->value(), 6);
    EXPECT_EQ(bar->maximum(), 40);
    EXPECT_EQ(bar->text(), "1:08 left");
    EXPECT_EQ(bar->toolTip(), "6 of 40 records, 1:08 left");
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::ProgressBar);
    EXPECT_EQ(a->text(QAccessible::Name), "1:08 left");
    EXPECT_EQ(a->text(QAccessible::Description), "Program records sent to the clock");
    ASSERT_NE(a->valueInterface(), nullptr);
    EXPECT_EQ(a->valueInterface()->currentValue().toInt(), 6);
    progress.End();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(Find<QLabel>("Panel5")->isVisible());
}

}  // namespace
