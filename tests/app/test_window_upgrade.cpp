// The operator's way to a firmware upgrade: choose "Software Upgrade", pick the program file,
// press "Program" and confirm, against the simulated clock over the network; and the window
// set back when the chosen file is refused.
#include "support/Process.h"
#include "test_window_support.h"
#include "tests/firmware/ProgramFiles.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

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

class WindowUpgradeTest : public WindowTest {
protected:
    void Choose(int entry)
    {
        auto* box = Find<QComboBox>("CommandComboBox");
        box->setCurrentIndex(entry);
        emit box->activated(entry);
    }
    FileOperator files;
};

TEST_F(WindowUpgradeTest, programmingAClockOverTheNetwork)
{
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir,
                         {"--listen", TestAddress(), "--program", "main", "--program-image", dir + "/image"});
    ASSERT_TRUE(clock.Ready());
    Store("Port", 0);
    Store("BaudRate", 9600);
    Store("IPAddress", QString::fromStdString(TestAddress()));
    Start({}, Time::Real);
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

    // The field changed after the check, to a file cut to its tag: refused, the clock untouched.
    files.inputs = {dir + "/main.pgm", WriteProgramFile(dir + "/cut.pgm", Bytes({'M', 'a', 'i', 'n'}))};
    files.answers = {true};
    Choose(7);
    QPointF at(5, 5);
    QMouseEvent dblClick(QEvent::MouseButtonDblClick, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Find<QLineEdit>("Edit2"), &dblClick);
    Find<QPushButton>("PollButton")->click();
    EXPECT_EQ(Status().Lines(), (std::vector<std::string>{"ERROR in Program File! ", "Finished"}));
    EXPECT_EQ(ReadFileBytes(dir + "/image").size(), 8u);

    // A display program for a clock that runs the main program: refused before any erase.
    files.inputs = {WriteProgramFile(dir + "/display.pgm", ProgramImage("Disp", records))};
    files.answers = {true};
    Choose(7);
    Find<QPushButton>("PollButton")->click();
    EXPECT_EQ(Status().Lines(),
              (std::vector<std::string>{" Initiating Program mode contact... ", " Error - Wrong Program.",
                                        " Error - Wrong Program (Main).",
                                        " Program mode contact not made with KX3.", "Finished"}));
    EXPECT_EQ(ReadFileBytes(dir + "/image").size(), 8u);
}

TEST_F(WindowUpgradeTest, aRefusedProgramFileSetsTheWindowBackToSetTime)
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
