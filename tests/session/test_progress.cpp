// The progress tracker on simulated time: the values and text it shows, the time left from
// the rate so far and how it holds still against noise, nested work, and the terminal line.
#include "core/Progress.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

namespace {

struct ProgressTest : ::testing::Test {
    FakeTime time;
    ProgressTracker tracker{time};
    std::vector<ProgressView> shown;
    void SetUp() override
    {
        tracker.OnChange = [this](const ProgressView& v) { shown.push_back(v); };
    }
    // Steps of work every gapsMs[i] milliseconds (the list repeats); the time left shown after each.
    std::vector<int64_t> Run(int64_t steps, const std::vector<int64_t>& gapsMs)
    {
        std::vector<int64_t> left;
        for (int64_t i = 1; i <= steps; ++i) {
            time.Advance(gapsMs[static_cast<size_t>(i - 1) % gapsMs.size()]);
            tracker.Step(i, "");
            left.push_back(tracker.View().secondsLeft);
        }
        return left;
    }
};

TEST_F(ProgressTest, steadyWork_showsExactlyTheTimeLeft_andThePercentBeforeAnyRate)
{
    tracker.Begin("Stations probed", "stations", 100);
    EXPECT_EQ(tracker.View().brief, "0%");
    EXPECT_EQ(tracker.View().maximum, 100);
    const auto left = Run(40, {2000});
    // None before the first ten seconds: a few samples can be far off.
    for (size_t i = 0; i < left.size(); ++i)
        EXPECT_EQ(left[i], i < 4 ? -1 : (100 - static_cast<int64_t>(i) - 1) * 2) << i;
    tracker.Step(40, "Comm 3, 9600 baud, station 9");
    EXPECT_EQ(tracker.View().text, "Comm 3, 9600 baud, station 9 - 40 of 100 stations, 2:00 left");
    EXPECT_EQ(tracker.View().brief, "2:00 left");
    EXPECT_EQ(tracker.View().measure, "Stations probed");
    EXPECT_EQ(MinutesAndSeconds(3725), "62:05");
    tracker.End();
    EXPECT_FALSE(shown.back().running);
}

TEST_F(ProgressTest, noisyWork_neverSetsTheTimeLeftUp_butARealSlowdownDoes)
{
    tracker.Begin("Records sent", "records", 400);
    // Steps of 1.5 s and 2.5 s by turns, as waits that end on whole seconds: 2 s a record on average.
    const auto noisy = Run(100, {1500, 2500});
    for (size_t i = 6; i < noisy.size(); ++i) {
        EXPECT_LE(noisy[i], noisy[i - 1]) << "step " << i;
        const double truth = (400.0 - static_cast<double>(i) - 1) * 2;
        EXPECT_NEAR(static_cast<double>(noisy[i]), truth, truth * 0.1) << "step " << i;
    }
    // Now 6 s a record: within a minute of work the estimate has gone up to the new pace.
    std::vector<int64_t> slow;
    for (int64_t i = 101; i <= 120; ++i) {
        time.Advance(6000);
        tracker.Step(i, "");
        slow.push_back(tracker.View().secondsLeft);
    }
    EXPECT_GT(slow.back(), noisy.back());
    EXPECT_NEAR(static_cast<double>(slow.back()), 280.0 * 6, 280.0 * 6 * 0.15);
}

TEST_F(ProgressTest, busyWorkShowsCountAndRate_nestedWorkShowsUntilItEnds)
{
    tracker.Begin("Commands done", "commands", 3);
    time.Advance(12000);
    tracker.Step(1, "");
    tracker.Begin("Records received", "records", 0);
    time.Advance(2000);
    tracker.Step(16, "2 packets");
    EXPECT_EQ(tracker.View().maximum, 0);
    EXPECT_EQ(tracker.View().value, 16);
    EXPECT_EQ(tracker.View().brief, "16 records");
    EXPECT_EQ(tracker.View().text, "2 packets - 16 records, 8.0 records/s");
    // A list fetched again from its start counts, and is measured, from there.
    tracker.Step(0, "");
    EXPECT_EQ(tracker.View().text, "0 records");
    tracker.End();
    EXPECT_EQ(tracker.View().measure, "Commands done");
    EXPECT_EQ(tracker.View().text, "1 of 3 commands, 0:22 left");
    tracker.End();
    EXPECT_FALSE(tracker.View().running);
}

TEST(TerminalProgressLine, rewritesOneLineOnATerminal_andWritesNothingToAPipe)
{
    ProgressView view;
    view.running = true;
    view.text = "12 of 40 records, 0:56 left";
    const int pty = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(pty, 0);
    ASSERT_EQ(grantpt(pty), 0);
    ASSERT_EQ(unlockpt(pty), 0);
    const int terminal = open(ptsname(pty), O_RDWR | O_NOCTTY);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    for (const int fd : {terminal, pipeEnds[1]}) {
        TerminalProgressLine line(fd);
        line.Show(view);
        view.text = "13 of 40 records";
        line.Show(view);
        line.Show(ProgressView{});
        view.text = "12 of 40 records, 0:56 left";
    }
    close(pipeEnds[1]);
    char bytes[256] = {};
    EXPECT_EQ(read(pipeEnds[0], bytes, sizeof bytes), 0) << "nothing to a pipe";
    const std::string clear(16, ' ');
    std::string expected = "\r12 of 40 records, 0:56 left\r13 of 40 records           \r" + clear + "\r";
    std::string got;
    fcntl(pty, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(pty, bytes, sizeof bytes)) > 0;) got.append(bytes, static_cast<size_t>(n));
    EXPECT_EQ(got, expected);
    for (const int fd : {terminal, pty, pipeEnds[0]}) close(fd);
}

}  // namespace
