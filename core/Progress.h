// How far long work has come. The operations report to IProgress (a one-way report, never
// read back); ProgressTracker turns the reports into what the window's bar and the terminal
// line show, with the time left estimated on the injected time source.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ITimeSource;

class IProgress {
public:
    virtual ~IProgress() = default;
    // A piece of long work starts: what it counts (said to assistive technology), the plural
    // noun of one counted thing, and how many it will count; 0 when nobody knows (busy).
    // Work begun inside other work is shown until it ends, then the outer work again.
    virtual void Begin(const std::string& measure, const std::string& unit, int64_t total) = 0;
    // done of the total so far; detail says where the work is ("Comm 3, 9600 baud, station 12").
    virtual void Step(int64_t done, const std::string& detail) = 0;
    // The total changes as the work learns more (a port passed over takes its stations out).
    virtual void SetTotal(int64_t total) = 0;
    virtual void End() = 0;
};

// For callers that have nothing to report to.
IProgress& NoProgress();

// Begins work on construction and ends it however the scope is left.
class ProgressScope {
public:
    ProgressScope(IProgress& progress, const std::string& measure, const std::string& unit, int64_t total)
        : progress_(progress)
    {
        progress_.Begin(measure, unit, total);
    }
    ~ProgressScope() { progress_.End(); }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

private:
    IProgress& progress_;
};

// What is shown of the innermost work under way.
struct ProgressView {
    bool running = false;
    int64_t value = 0;
    int64_t maximum = 0;  // 0: busy, the total is not known
    std::string measure;
    // Short enough for the bar: the time left, or the count when the total is unknown.
    std::string brief;
    // The whole line: detail, count, and the time left or the rate.
    std::string text;
    int64_t secondsLeft = -1;  // -1: not estimated yet, or no total
    bool operator==(const ProgressView&) const = default;
};

// "m:ss" of a number of seconds (minutes go past 59).
std::string MinutesAndSeconds(int64_t seconds);

class ProgressTracker : public IProgress {
public:
    // Rates are smoothed over about this long, so one slow or quick step moves them little.
    static constexpr double kSmoothingSeconds = 20.0;

    explicit ProgressTracker(const ITimeSource& time) : time_(time) {}

    void Begin(const std::string& measure, const std::string& unit, int64_t total) override;
    void Step(int64_t done, const std::string& detail) override;
    void SetTotal(int64_t total) override;
    void End() override;

    const ProgressView& View() const { return view_; }
    // Called with the view whenever it changes.
    std::function<void(const ProgressView&)> OnChange;

private:
    struct Work {
        std::string measure, unit, detail;
        int64_t total = 0, done = 0;
        int64_t stepMs = 0;                  // when the last step came
        int64_t lastMs = 0, lastDone = 0;    // where the rate was last measured
        int64_t startMs = 0, startDone = 0;  // where measuring began
        double rate = 0;                     // units a second, smoothed; 0 until measured
        double variance = 0;                 // of the measured rates around the smoothed one
        double weight = 0;                   // of the last sample in the smoothing
        int64_t shownLeftMs = -1, shownAtMs = 0;
    };
    int64_t NowMs() const;
    void Measure(Work& w, int64_t now);
    void Estimate(Work& w, int64_t now);
    void Show();

    const ITimeSource& time_;
    std::vector<Work> stack_;
    ProgressView view_;
};

// The view as one line on a terminal, rewritten in place with a carriage return and wiped
// when the work ends. Writes nothing at all when fd is not a terminal (a file or a pipe).
class TerminalProgressLine {
public:
    explicit TerminalProgressLine(int fd);
    void Show(const ProgressView& view);

private:
    void Write(const std::string& bytes);
    int fd_;
    bool terminal_;
    size_t shownLength_ = 0;
};
