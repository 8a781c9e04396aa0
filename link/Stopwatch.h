// Milliseconds since it was made, read from a time source that gives the second and the
// milliseconds left in it: the changes of the second seen, corrected by the position within
// the first and the current second. A clock set back or forward still moves it on by
// changes of the second only, so it must be read at least once a minute.
#pragma once

#include "core/Platform.h"

#include <cstdint>

class Stopwatch {
public:
    explicit Stopwatch(const ITimeSource& time) : time_(time) { Read(startToNext_, last_); }
    int64_t ElapsedMs()
    {
        int toNext = 0;
        int second = 0;
        Read(toNext, second);
        ticks_ += (second - last_ + 60) % 60;
        last_ = second;
        return startToNext_ - toNext + ticks_ * 1000;
    }

private:
    // The two readings from the same second: a boundary passed between them shows as a
    // jump up of the milliseconds left, and the pair is read again.
    void Read(int& toNext, int& second) const
    {
        do {
            toNext = time_.MsToNextSecond();
            second = time_.CurrentSecond();
        } while (time_.MsToNextSecond() > toNext);
    }

    const ITimeSource& time_;
    int startToNext_ = 0;
    int last_ = 0;
    int64_t ticks_ = 0;
};
