#include "Progress.h"

#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class NullProgress : public IProgress {
public:
    void Begin(const std::string&, const std::string&, int64_t) override {}
    void Step(int64_t, const std::string&) override {}
    void SetTotal(int64_t) override {}
    void End() override {}
};

// A rate is measured over at least this long: the waits go by whole seconds, so a shorter
// stretch says more about where the second boundary fell than about the work.
constexpr int64_t kShortestSampleMs = 1000;
// No time left is shown before the work has gone on this long: the first few samples can
// be far off, and an estimate once shown only counts down within the noise.
constexpr int64_t kFirstEstimateMs = 10000;
// The shown time left may rise by up to this much, or by the rate's noise if that is more,
// without being set up again: below it, it counts down as time passes.
constexpr int64_t kLeastMarginMs = 1000;
constexpr size_t kTerminalColumns = 80;

}  // namespace

IProgress& NoProgress()
{
    static NullProgress none;
    return none;
}

std::string MinutesAndSeconds(int64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

int64_t ProgressTracker::NowMs() const
{
    // The second and the milliseconds left in it from the same second: a boundary passed
    // between the readings shows as a jump up of the milliseconds left.
    int toNext = 0;
    std::tm now{};
    do {
        toNext = time_.MsToNextSecond();
        now = time_.Now();
    } while (time_.MsToNextSecond() > toNext);
    // The broken-down time is local; its offset from UTC makes it one continuous count,
    // also across a change to or from summer time.
    const int64_t seconds = static_cast<int64_t>(timegm(&now)) - now.tm_gmtoff;
    return seconds * 1000 + (1000 - toNext);
}

void ProgressTracker::Begin(const std::string& measure, const std::string& unit, int64_t total)
{
    const int64_t now = NowMs();
    Work w;
    w.measure = measure;
    w.unit = unit;
    w.total = std::max<int64_t>(total, 0);
    w.stepMs = w.lastMs = w.startMs = now;
    stack_.push_back(w);
    Show();
}

void ProgressTracker::Step(int64_t done, const std::string& detail)
{
    if (stack_.empty())
        return;
    Work& w = stack_.back();
    const int64_t now = NowMs();
    w.done = done;
    w.detail = detail;
    w.stepMs = now;
    Measure(w, now);
    Estimate(w, now);
    Show();
}

void ProgressTracker::SetTotal(int64_t total)
{
    if (stack_.empty())
        return;
    Work& w = stack_.back();
    w.total = std::max<int64_t>(total, 0);
    Estimate(w, NowMs());
    Show();
}

void ProgressTracker::End()
{
    if (stack_.empty())
        return;
    stack_.pop_back();
    if (!stack_.empty())
        Estimate(stack_.back(), NowMs());
    Show();
}

// The rate: over the first stretch of the work the plain average since it began (a few
// samples say little on their own), then exponentially smoothed, each sample weighted by
// how long it took. The smoothed spread of the samples around it is the noise the
// estimate allows for.
void ProgressTracker::Measure(Work& w, int64_t now)
{
    const int64_t dt = now - w.lastMs;
    const int64_t dd = w.done - w.lastDone;
    if (dd < 0 || dt < 0) {
        // The work started again (a list fetched anew) or the clock went back: measure
        // afresh from here.
        w.lastDone = w.startDone = w.done;
        w.lastMs = w.startMs = now;
        w.rate = w.variance = 0;
        return;
    }
    if (dt < kShortestSampleMs)
        return;
    const double sample = static_cast<double>(dd) * 1000.0 / static_cast<double>(dt);
    w.weight = 1.0 - std::exp(-static_cast<double>(dt) / 1000.0 / kSmoothingSeconds);
    const double diff = w.rate > 0 ? sample - w.rate : 0.0;
    w.variance = (1.0 - w.weight) * (w.variance + w.weight * diff * diff);
    const int64_t sinceStart = now - w.startMs;
    if (static_cast<double>(sinceStart) <= kSmoothingSeconds * 1000.0)
        w.rate = static_cast<double>(w.done - w.startDone) * 1000.0 / static_cast<double>(sinceStart);
    else
        w.rate += w.weight * diff;
    w.lastMs = now;
    w.lastDone = w.done;
}

// The time left from the smoothed rate. Once shown, it counts down with the time that
// passes, and is set up again only when the new estimate lies further above that than the
// rate's noise accounts for; a lower estimate is shown at once.
void ProgressTracker::Estimate(Work& w, int64_t now)
{
    if (w.total <= 0 || w.rate <= 0 || now - w.startMs < kFirstEstimateMs) {
        w.shownLeftMs = w.total > 0 && w.done >= w.total ? 0 : -1;
        w.shownAtMs = now;
        return;
    }
    // From the last step on: time since then is already spent on what is left.
    const double left = static_cast<double>(std::max<int64_t>(w.total - w.done, 0));
    const int64_t estimate =
        std::max<int64_t>(static_cast<int64_t>(left / w.rate * 1000.0) - (now - w.stepMs), 0);
    if (w.shownLeftMs >= 0) {
        const int64_t countdown = w.shownLeftMs - (now - w.shownAtMs);
        // The spread of the smoothed rate is that of the samples, narrowed by the smoothing.
        const double spread = std::sqrt(w.variance * w.weight / (2.0 - w.weight));
        const auto noise = static_cast<int64_t>(static_cast<double>(estimate) * spread / w.rate);
        if (estimate > countdown && estimate - countdown <= std::max(kLeastMarginMs, noise)) {
            w.shownLeftMs = std::max<int64_t>(countdown, 0);
            w.shownAtMs = now;
            return;
        }
    }
    w.shownLeftMs = estimate;
    w.shownAtMs = now;
}

void ProgressTracker::Show()
{
    ProgressView v;
    if (!stack_.empty()) {
        const Work& w = stack_.back();
        v.running = true;
        v.measure = w.measure;
        v.maximum = w.total;
        v.value = w.total > 0 ? std::min(w.done, w.total) : w.done;
        v.secondsLeft = w.shownLeftMs < 0 ? -1 : (w.shownLeftMs + 500) / 1000;
        const std::string count = (w.total > 0 ? std::to_string(v.value) + " of " + std::to_string(w.total)
                                               : std::to_string(w.done)) +
                                  " " + w.unit;
        std::string tail;
        if (w.total > 0) {
            const std::string left = v.secondsLeft >= 0 ? MinutesAndSeconds(v.secondsLeft) + " left" : "";
            v.brief = left.empty() ? std::to_string(v.value * 100 / w.total) + "%" : left;
            tail = left.empty() ? "" : ", " + left;
        } else {
            v.brief = count;
            if (w.rate > 0) {
                char rate[64];
                std::snprintf(rate, sizeof rate, ", %.1f %s/s", w.rate, w.unit.c_str());
                tail = rate;
            }
        }
        v.text = (w.detail.empty() ? "" : w.detail + " - ") + count + tail;
    }
    if (v == view_ && v.running)
        return;
    view_ = v;
    if (OnChange)
        OnChange(view_);
}

TerminalProgressLine::TerminalProgressLine(int fd) : fd_(fd), terminal_(isatty(fd) == 1) {}

void TerminalProgressLine::Show(const ProgressView& view)
{
    if (!terminal_)
        return;
    if (!view.running) {
        if (shownLength_ > 0)
            Write("\r" + std::string(shownLength_, ' ') + "\r");
        shownLength_ = 0;
        return;
    }
    // One line: cut to the terminal's width, so that the carriage return reaches its start.
    winsize size{};
    const size_t columns =
        ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : kTerminalColumns;
    std::string line = view.text.substr(0, columns - 1);
    const size_t length = line.size();
    if (length < shownLength_)
        line.append(shownLength_ - length, ' ');
    Write("\r" + line);
    shownLength_ = length;
}

void TerminalProgressLine::Write(const std::string& bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        at += static_cast<size_t>(n);
    }
}
