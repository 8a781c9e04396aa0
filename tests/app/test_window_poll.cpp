// The operator's way: pick a command and a station, choose "Network", press "Poll Clock",
// and see the simulated clock answer in the memo, on real time and a real connection; and
// a missing serial port, on simulated time.
#include "support/Process.h"
#include "test_window_support.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

namespace {

class WindowPollTest : public WindowTest {};

TEST_F(WindowPollTest, pollClockOverTheNetworkShowsTheClockAnswer)
{
    const std::string dir = MakeTempDir();
    SimulatedClock clock(dir, {"--listen", TestAddress(), "--station", "4"});
    ASSERT_TRUE(clock.Ready());
    Store("Port", 0);
    Store("BaudRate", 9600);
    Store("IPAddress", QString::fromStdString(TestAddress()));
    Start({}, Time::Real);
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

TEST_F(WindowPollTest, pollClockOnAMissingSerialPortSaysSo)
{
    const std::string dir = MakeTempDir();
    {
        QSettings s("Korvane", "KX2");
        s.setValue("SerialPorts/COM1", QString::fromStdString(dir + "/no-such-tty"));
    }
    Store("Port", 1);
    Start();
    Find<QRadioButton>("CommandRadioButton")->click();
    Find<QComboBox>("CommandComboBox")->setCurrentIndex(4);  // reset_errors
    Find<QPushButton>("PollButton")->click();
    EXPECT_EQ(Status().Lines().back(), "Port Initialisation Error, Modem Connected!!");
}

}  // namespace
