// "Find Clocks" on simulated time: the network phase against a scripted UDP client, the
// serial phase against serial ports that play clocks at given stations and speeds.
#include "core/PollState.h"
#include "link/NetworkGuard.h"
#include "session/ClockFinder.h"
#include "support/FakeFindUi.h"
#include "support/Fakes.h"
#include "support/RecordingProgress.h"

#include <QHostAddress>

#include <gtest/gtest.h>

#include <set>

namespace {

using Lines = std::vector<std::string>;

// Answers arrive at given times after the request is sent; a receive waits for the next
// one at most its time-out, on simulated time.
struct FakeUdp : IUdpClient {
    explicit FakeUdp(FakeTime& t) : time(t) {}
    FakeTime& time;
    std::vector<std::pair<int64_t, std::string>> answers;  // ms after the send, sender
    bool failSend = false;
    std::vector<std::string> calls;  // "activate", "send ...", "deactivate"
    std::function<void()> onReceive;
    std::deque<std::pair<int64_t, std::string>> due;

    void Activate() override { calls.push_back("activate"); }
    void Deactivate() override { calls.push_back("deactivate"); }
    void SendTo(const std::string& host, uint16_t port, const std::vector<uint8_t>& data) override
    {
        ASSERT_TRUE(
            NetworkGuard::Permits(QHostAddress(QString::fromStdString(host)).toIPv4Address(), "a datagram"));
        calls.push_back("send " + host + ":" + std::to_string(port) + " " + std::to_string(data.size()) +
                        " bytes");
        if (failSend)
            throw std::runtime_error("UDP send: no route");
        for (const auto& [after, sender] : answers) due.emplace_back(time.NowMs() + after, sender);
    }
    bool Receive(std::vector<uint8_t>& data, std::string& sender, int timeoutMs) override
    {
        if (onReceive)
            onReceive();
        if (!due.empty() && due.front().first <= time.NowMs() + timeoutMs) {
            time.SetMs(std::max(time.NowMs(), due.front().first));
            sender = due.front().second;
            data = {0x00, 0x00, 0x00, 0xF7};
            due.pop_front();
            return true;
        }
        time.Advance(timeoutMs);
        return false;
    }
};

// Serial ports 1..20 behind one component: which exist is the UI's business; here some lack
// CTS, some cannot be opened, and clocks answer status requests at their port, speed and
// station. Every request is recorded as "port/speed/station".
class SerialBank : public FakeSerial {
public:
    struct Clock {
        int port, speed, station;
    };
    std::vector<Clock> clocks;
    std::set<int> noCts, unopenable;
    std::vector<std::string> requests;
    std::function<void(int port, int station)> onRequest;
    int port = 0, speed = 0;

    explicit SerialBank(FakeRig& rig)
    {
        onWrite = [this, &rig](const std::vector<uint8_t>& w) {
            if (w.size() < 7 || w[1] != 0xAD)
                return;
            const int station = w[0] - 192;
            requests.push_back(std::to_string(port) + "/" + std::to_string(speed) + "/" +
                               std::to_string(station));
            if (onRequest)
                onRequest(port, station);
            for (const Clock& c : clocks)
                if (c.port == port && c.speed == speed && c.station == station)
                    rig.pump.After(30, [&rig, w] {
                        rig.exchange.ZylSerialPort1Receive(
                            ReplyFrame(w[0], 0xAD, std::vector<uint8_t>(34, 0)));
                    });
        };
    }
    void SelectPort(int p, int s) override
    {
        FakeSerial::SelectPort(p, s);
        port = p;
        speed = s;
    }
    void Open() override
    {
        failOpen = unopenable.count(port) > 0;
        FakeSerial::Open();
    }
    bool GetCTS() override { return noCts.count(port) == 0; }
    int Count(const std::string& prefix) const
    {
        return static_cast<int>(std::count_if(requests.begin(), requests.end(),
                                              [&](const std::string& r) { return r.rfind(prefix, 0) == 0; }));
    }
};

class ClockFinderTest : public ::testing::Test {
protected:
    PollState ps;
    FakeRig rig{ps};
    FakeFindUi ui;
    FakeUdp udp{rig.time};
    SerialBank serial{rig};
    ClockFinder finder{CommandContext{ps, rig.exchange, rig.status, rig.time, rig.op, rig.timer4}, ui, serial,
                       udp, rig.timer3};

    void SetUp() override
    {
        rig.exchange.AttachSerial(&serial);
        ps.GatewayAddress = "127.255.255.1";
    }
    Lines Memo() const { return rig.status.Lines(); }
    // The memo from the serial phase's heading on.
    Lines SerialMemo() const
    {
        Lines all = Memo();
        auto at = std::find(all.begin(), all.end(), "Searching for USB/Serial Clocks...");
        return at == all.end() ? Lines{} : Lines(at, all.end());
    }
    static Lines NothingOnThePorts(const Lines& found, const std::string& outcome)
    {
        Lines out{"Searching for USB/Serial Clocks...", " "};
        out.insert(out.end(), found.begin(), found.end());
        out.push_back(found.empty() ? "No Clocks Found!!"
                                    : std::to_string(found.size()) + " Clock(s) Found.");
        out.push_back(outcome);
        return out;
    }
};

TEST_F(ClockFinderTest, networkPhase_countsEveryAnswerUntilAWaitEndsEmpty)
{
    struct Row {
        const char* name;
        std::string gateway;
        std::deque<std::string> typed;  // answers to the gateway box
        std::vector<std::pair<int64_t, std::string>> answers;
        bool failSend;
        Lines found;  // memo lines between the heading and the count line
        std::string count;
        std::string sentTo;  // empty: nothing sent
    };
    // Answers from one sender every gapMs; the lines of the first n, then the error line.
    const auto every = [](int64_t gapMs, int n) {
        std::vector<std::pair<int64_t, std::string>> out;
        for (int i = 1; i <= n; ++i) out.emplace_back(i * gapMs, "127.0.0.9");
        return out;
    };
    const auto cutOff = [](int n) {
        Lines out(static_cast<size_t>(n), "Found: IP Address = 127.0.0.9");
        out.push_back("ERROR Searching for TCP/IP Clocks!");
        return out;
    };
    const std::string bc = "127.255.255.255";
    const Lines one{"Found: IP Address = 127.0.0.51"};
    // clang-format off
    const Row rows[] = {
        {"answers without end, cut off at the most a network holds", "127.255.255.1", {}, every(10, 1000), false,
         cutOff(ClockFinder::kMostAnswers), "256 Clock(s) Found.", bc},
        {"an answer just inside every wait, cut off after 30 s", "127.255.255.1", {}, every(4900, 20), false,
         cutOff(6), "6 Clock(s) Found.", bc},
        {"one clock", "127.255.255.1", {}, {{10, "127.0.0.51"}}, false, one, "1 Clock(s) Found.", bc},
        {"two clocks, a third too late", "127.255.255.1", {}, {{10, "127.0.0.51"}, {4900, "127.0.0.52"}, {9950, "127.0.0.53"}},
         false, {one[0], "Found: IP Address = 127.0.0.52"}, "2 Clock(s) Found.", bc},
        {"no clock",                   "127.0.0.1",     {},                {},                  false, {},  "No Clocks Found!!", "127.0.0.255"},
        {"no gateway, box cancelled",  "",              {},                {{10, "127.0.0.51"}}, false, {},  "No Clocks Found!!", ""},
        {"no gateway, typed in",       "",              {"127.255.255.1"}, {{10, "127.0.0.51"}}, false, one, "1 Clock(s) Found.", bc},
        {"gateway of three characters", "",             {"1.2"},           {{10, "127.0.0.51"}}, false, {},  "No Clocks Found!!", ""},
        {"socket error",               "127.255.255.1", {},                {{10, "127.0.0.51"}}, true,
         {"ERROR Searching for TCP/IP Clocks!"}, "No Clocks Found!!", bc},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        rig.status.ClearStatus();
        rig.op.shown.clear();
        udp.calls.clear();
        udp.due.clear();
        udp.answers = row.answers;
        udp.failSend = row.failSend;
        rig.op.inputs = row.typed;
        ps.GatewayAddress = row.gateway;
        rig.timer3.SetEnabled(true);

        finder.Run(ui);

        Lines expected{"Searching for TCP/IP Clocks...", " "};
        expected.insert(expected.end(), row.found.begin(), row.found.end());
        expected.push_back(row.count);
        expected.push_back("Finished Search.");
        expected.push_back("");
        const Lines memo = Memo();
        EXPECT_EQ(Lines(memo.begin(), memo.begin() + std::min(memo.size(), expected.size())), expected);
        EXPECT_EQ(row.gateway.empty(), !rig.op.shown.empty() && rig.op.shown[0] == "Enter IP Address:");
        if (row.sentTo.empty()) {
            EXPECT_TRUE(udp.calls.empty());
        } else {
            EXPECT_EQ(udp.calls.at(1), "send " + row.sentTo + ":30718 4 bytes");
            EXPECT_EQ(udp.calls.back(), "deactivate");
            EXPECT_EQ(ps.LocalAddress, row.sentTo);
        }
        EXPECT_FALSE(rig.timer3.Enabled());
    }
}

TEST_F(ClockFinderTest, withNoClockAnywhere_bothPhasesEndEmpty_andTheWindowIsAsBefore)
{
    for (bool networkChecked : {false, true}) {
        SCOPED_TRACE(networkChecked ? "Network checked" : "a Comm port checked");
        rig.status.ClearStatus();
        rig.selection.network = networkChecked;
        ui = FakeFindUi{};
        ui.ports = {2};
        ui.station = 7;
        serial.noCts = {2};
        std::vector<std::string> during;
        udp.onReceive = [&] { during.push_back("network " + ui.State()); };
        serial.onRequest = nullptr;
        int64_t start = rig.time.NowMs();

        finder.Run(ui);

        EXPECT_EQ(Memo(), (Lines{"Searching for TCP/IP Clocks...", " ", "No Clocks Found!!",
                                 "Finished Search.", "", "Searching for USB/Serial Clocks...", " ",
                                 "No Clocks Found!!", "Finished Search."}));
        EXPECT_EQ(rig.time.NowMs() - start, ClockFinder::kReceiveWaitMs);
        // Controls off, port refresh stopped and the find buttons off while the network
        // is searched; everything back after, both modes left unchecked.
        EXPECT_EQ(during, Lines{"network 0000"});
        EXPECT_EQ(ui.State(), "1100");
        EXPECT_FALSE(ui.modes);
        EXPECT_EQ(rig.selection.network, networkChecked);
        if (networkChecked) {
            EXPECT_EQ(rig.status.ReadPanel(Panel::Port), "Network");
            EXPECT_EQ(rig.status.ReadPanel(Panel::Baud), "");
            EXPECT_EQ(ui.linkShown, 0);
        } else {
            EXPECT_EQ(rig.status.ReadPanel(Panel::Station), "Station 7");
            EXPECT_EQ(ui.linkShown, 1);
        }
        EXPECT_TRUE(serial.requests.empty());
    }
}

TEST_F(ClockFinderTest, aClockOnPort3AtStation12And2400_isFoundAfterEveryStationAtTheFasterSpeeds)
{
    ui.ports = {2, 3, 15};
    rig.selection.network = true;
    serial.clocks = {{3, 2400, 12}, {15, 9600, 1}};
    std::vector<int64_t> portStarts;
    std::string state;
    serial.onRequest = [&](int port, int station) {
        if (station == 1 && (portStarts.size() < 2) && serial.Count(std::to_string(port) + "/") == 1)
            portStarts.push_back(rig.time.NowMs());
        if (state.empty())
            state = ui.State() + (rig.selection.network ? " network" : " serial");
    };
    rig.op.answers = {true, false};  // go on scanning, on the same port

    finder.Run(ui);

    EXPECT_EQ(state, "0011 serial") << "abort and skip work while the ports are searched";
    // A port without a clock: every station at every speed, twice, one tick each.
    EXPECT_EQ(serial.Count("2/"), 31 * 4 * 2);
    ASSERT_EQ(portStarts.size(), 2u);
    EXPECT_NEAR(portStarts[1] - portStarts[0], 248'000, 1'000);
    EXPECT_EQ(serial.Count("3/9600/"), 62);
    EXPECT_EQ(serial.Count("3/4800/"), 62);
    EXPECT_EQ(serial.Count("3/2400/12"), 1) << "found at the first try";
    EXPECT_EQ(serial.Count("15/"), 0) << "ports past 10 are not searched";
    EXPECT_EQ(SerialMemo(), NothingOnThePorts({"Found: Station 12  Com 3  Baud 2400"}, "Finished Search."));
    EXPECT_EQ(rig.op.shown, (Lines{"Continue Scanning?", "Change to Next Comm Port?"}));
    // The last values tried stay; the panels show the link that was checked.
    EXPECT_EQ(ps.Port, 3);
    EXPECT_EQ(ps.BaudRate, 1200);
    EXPECT_EQ(ps.StationNumber(), 31);
    EXPECT_TRUE(rig.selection.network);
    EXPECT_EQ(rig.status.ReadPanel(Panel::Port), "Network");
    EXPECT_EQ(rig.status.ReadPanel(Panel::Baud), "");
    EXPECT_FALSE(serial.open);
}

TEST_F(ClockFinderTest, theOperatorsAnswers_endTheSearch_moveToTheNextPort_orGoOnOnThePort)
{
    struct Row {
        const char* name;
        std::deque<bool> answers;
        Lines found;
        int requests;  // status requests sent in all
    };
    const std::string first = "Found: Station 1  Com 1  Baud 9600";
    const Row rows[] = {
        {"No: enough", {false}, {first}, 1},
        {"Yes, Yes: next port", {true, true, false}, {first, "Found: Station 1  Com 2  Baud 9600"}, 2},
        {"Yes, No: same port", {true, false, false}, {first, "Found: Station 2  Com 1  Baud 9600"}, 2},
    };
    ui.ports = {1, 2};
    serial.clocks = {{1, 9600, 1}, {1, 9600, 2}, {2, 9600, 1}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        serial.requests.clear();
        rig.op.answers = row.answers;
        finder.Run(ui);
        EXPECT_EQ(SerialMemo(), NothingOnThePorts(row.found, "Finished Search."));
        EXPECT_EQ(static_cast<int>(serial.requests.size()), row.requests);
        EXPECT_FALSE(serial.open);
    }
}

TEST_F(ClockFinderTest, skipAbortNoCtsAndAPortThatCannotBeOpened)
{
    ui.ports = {1, 2, 3, 4};
    serial.clocks = {{4, 9600, 3}};

    // Skip Port while station 5 of port 3 is asked: port 4 is next.
    serial.unopenable = {1};
    serial.noCts = {2};
    serial.onRequest = [&](int port, int station) {
        if (port == 3 && station == 5)
            ps.SkipPortRequested = true;
    };
    rig.op.answers = {false};
    finder.Run(ui);
    EXPECT_EQ(serial.Count("1/") + serial.Count("2/"), 0);
    EXPECT_EQ(serial.requests.at(0), "3/9600/1");
    EXPECT_EQ(serial.Count("3/"), 10) << "stations 1 to 5, two tries each";
    EXPECT_EQ(serial.requests.at(10), "4/9600/1");
    EXPECT_EQ(SerialMemo(), NothingOnThePorts({"Found: Station 3  Com 4  Baud 9600"}, "Finished Search."));
    const Lines opened(serial.calls.begin(), serial.calls.begin() + 6);
    EXPECT_EQ(opened, (Lines{"select 1 9600", "open", "select 2 9600", "open", "close", "select 3 9600"}));

    // Abort Find while station 2 is asked: the search ends before station 3.
    serial.requests.clear();
    serial.onRequest = [&](int, int station) {
        if (station == 2)
            ps.AbortRequested = true;
    };
    finder.Run(ui);
    EXPECT_EQ(serial.requests, (Lines{"3/9600/1", "3/9600/1", "3/9600/2", "3/9600/2"}));
    EXPECT_EQ(SerialMemo(), NothingOnThePorts({}, "Search Aborted!!"));
    EXPECT_FALSE(serial.open);
}

// The network phase is busy; the serial phase counts the stations of the ports the operator
// can choose, takes out those of a port without CTS, and shows where it probes and the time
// left at two seconds a silent station.
TEST_F(ClockFinderTest, progress_networkBusy_thenStationsOfEveryPortWithTheTimeLeft)
{
    RecordingProgress progress{rig.time};
    ClockFinder reporting{CommandContext{ps, rig.exchange, rig.status, rig.time, rig.op, rig.timer4, nullptr,
                                         nullptr, progress},
                          ui, serial, udp, rig.timer3};
    ui.ports = {1, 2};
    serial.noCts = {1};
    udp.answers = {{10, "127.0.0.51"}};
    reporting.Run(ui);
    const auto& log = progress.log;
    ASSERT_EQ(log.size(), 5u + 124 + 2);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5),
              (Lines{"begin Clocks answering on the local network 0", "1 answers", "end",
                     "begin Stations probed on the serial ports 248", "total 124"}));
    EXPECT_EQ(log[5], "Comm 2, 9600 baud, station 1 - 0 of 124 stations");
    EXPECT_EQ(log[5 + 31 + 11], "Comm 2, 4800 baud, station 12 - 42 of 124 stations, 2:43 left");
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (Lines{"Comm 2, 1200 baud, station 31 - 123 of 124 stations, 0:01 left", "total 124", "end"}));
    EXPECT_FALSE(progress.View().running);
}

}  // namespace
