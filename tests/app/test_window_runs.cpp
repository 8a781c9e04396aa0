// Runs started from the window. "Poll Clock" and "Software Upgrade" (choose it, pick the
// program file, press "Program" and confirm) against the simulated clock over the network,
// on real time and a real connection; "Find Clocks" on simulated time. A search turns off
// the controls it must not be restarted from, keeps the window serving events during the
// network wait, and afterwards puts back everything but the mode, which is left unchosen. A
// refused program file sets the window back; one changed after its check, or made for
// another board, is refused by the transfer itself (test_program_transfer). The progress
// bar of long work shows, follows and hides.
#include "support/Process.h"
#include "test_window_support.h"
#include "tests/firmware/ProgramFiles.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>

namespace {

// Remembers which filter each open dialog was shown with.
struct FileOperator : ScriptedOperator {
    std::vector<FileKind> filters;
    bool OpenFile(FileKind filterIndex, std::string& fileName) override
    {
        filters.push_back(filterIndex);
        return ScriptedOperator::OpenFile(filterIndex, fileName);
    }
};

class WindowRunsTest : public WindowTest {
protected:
    // The network as the remembered link, at the test's own address; on real time.
    void StartOnTheNetwork()
    {
        Store("Port", 0);
        Store("BaudRate", 9600);
        Store("IPAddress", QString::fromStdString(TestAddress()));
        Start({}, Time::Real);
    }
    void Choose(int entry)
    {
        auto* box = Find<QComboBox>("CommandComboBox");
        box->setCurrentIndex(entry);
        emit box->activated(entry);
    }
    FileOperator files;
};

TEST_F(WindowRunsTest, pollClockOverTheNetworkShowsTheClockAnswer)
{
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir, {"--listen", TestAddress(), "--station", "4"});
    ASSERT_TRUE(clock.Ready());
    StartOnTheNetwork();
    Find<QRadioButton>("CommandRadioButton")->click();
    Find<QComboBox>("CommandComboBox")->setCurrentIndex(2);  // get_status
    Find<QComboBox>("StationComboBox")->setCurrentIndex(3);  // station 4
    Ui().SetEdit2Text(dir + "/status.txt");
    Find<QPushButton>("PollButton")->click();

    const auto lines = Status().Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Connected: " + TestAddress());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "get_status        - OK"), lines.end());
    EXPECT_EQ(lines.back(), "Finished");
    EXPECT_EQ(Status().ReadPanel(Panel::Retry), "Retry 0");
    EXPECT_EQ(ReadFileBytes(dir + "/status.txt").substr(0, 33), "04 Job Costing        Disabled\r\n\r");
    EXPECT_TRUE(Find<QPushButton>("PollButton")->isEnabled());
    EXPECT_EQ(Status().ReadPanel(Panel::Network), "") << "the connection is closed after the run";
}

TEST_F(WindowRunsTest, findClocks_runsBothPhases_withTheControlsOff_andRestoresTheWindow)
{
    // No serial port exists; the network is searched next to the loopback gateway.
    Store("SerialPorts/COM1", QString::fromStdString(configDir + "/no-such-tty"));
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
TEST_F(WindowRunsTest, progressBar_appearsFollowsAndHides)
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

TEST_F(WindowRunsTest, programmingAClockOverTheNetwork)
{
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir,
                         {"--listen", TestAddress(), "--program", "main", "--program-image", dir + "/image"});
    ASSERT_TRUE(clock.Ready());
    StartOnTheNetwork();
    window->Dialogs().SetOverride(&files);
    const std::vector<std::vector<uint8_t>> records = {{0x10}, {0xFF, 0xFF, 0x01}, {7, 8, 9, 10}};
    files.inputs = {WriteProgramFile(dir + "/main.pgm", ProgramImage("Main", records))};
    files.answers = {true};

    Choose(7);
    EXPECT_EQ(files.filters, std::vector<FileKind>{FileKind::Program});
    EXPECT_EQ(Find<QPushButton>("PollButton")->text(), "Program");
    EXPECT_EQ(Find<QLabel>("InputFileLabel")->text(), "Program File");
    EXPECT_EQ(Status().Lines(), (std::vector<std::string>{"  Checking Program File... 3",
                                                          "Program File OK. - Main CPU Program."}));
    EXPECT_EQ(Status().ReadPanel(Panel::Board), "Main");

    Find<QPushButton>("PollButton")->click();
    EXPECT_EQ(Status().Lines(),
              (std::vector<std::string>{
                  " Initiating Program mode contact... OK.", " Erasing All Program Memory... OK.",
                  " Progamming... 3  :  100% Complete.  ", "Programming Completed Successfully! ",
                  " Terminating Program Mode... ", "Programming Mode Terminated.", "Finished"}));
    EXPECT_EQ(ReadFileBytes(dir + "/image"), std::string("\x10\xFF\xFF\x01\x07\x08\x09\x0A", 8));
    EXPECT_NE(clock.Journal().find("program_terminate"), std::string::npos) << clock.Journal();
    EXPECT_TRUE(Find<QPushButton>("PollButton")->isEnabled());
    EXPECT_TRUE(Find<QComboBox>("StationComboBox")->isEnabled());
}

TEST_F(WindowRunsTest, aRefusedProgramFileSetsTheWindowBackToSetTime)
{
    const std::string dir = MakeTempDir();
    Store("InputFile", "punches.dat");
    Start();
    window->Dialogs().SetOverride(&files);

    // A data file is remembered; a program file is checked and, refused, forgotten.
    files.inputs = {dir + "/status.txt",
                    WriteProgramFile(dir + "/bad.pgm", Bytes({'M', 'a', 'i', 'n', 0xEE, 0, 1, 2, 2}))};
    Choose(2);
    EXPECT_EQ(Stored("InputFile").toString().toStdString(), dir + "/status.txt");
    Choose(7);
    EXPECT_EQ(files.filters, (std::vector<FileKind>{FileKind::Input, FileKind::Program}));
    EXPECT_EQ(Status().Lines(),
              (std::vector<std::string>{" Checking Program File... ", "ERROR in Program File! "}));
    EXPECT_EQ(Status().ReadPanel(Panel::Board), "");
    EXPECT_EQ(Find<QComboBox>("CommandComboBox")->currentIndex(), 0);
    EXPECT_FALSE(Find<QRadioButton>("CommandRadioButton")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>("CommandFileRadioButton")->isChecked());
    EXPECT_EQ(Find<QPushButton>("PollButton")->text(), "Poll Clock");
    EXPECT_EQ(Find<QLineEdit>("Edit2")->text(), "punches.dat");
    EXPECT_EQ(Stored("InputFile").toString().toStdString(), dir + "/status.txt");
}

}  // namespace
