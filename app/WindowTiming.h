// The time source, event pump and four timers the window hands to everything it drives.
// The program passes the Qt ones; window tests pass a simulated clock so that waits and
// time-outs cost no real time.
#pragma once

#include "core/Platform.h"

struct WindowTiming {
    const ITimeSource& time;
    IEventPump& pump;
    ITimer& timer1;  // 2 ms one-shot: the pause before each frame is written
    ITimer& timer2;  // 1 s: serial port refresh, stopped during runs and searches
    ITimer& timer3;  // 100 ms: TCP connect time-out
    ITimer& timer4;  // 50 ms one-shot: short pauses of the commands
};

// The real clock, Qt's event loop and Qt timers.
class QtWindowTiming {
public:
    WindowTiming Seams() { return {time_, pump_, timer1_, timer2_, timer3_, timer4_}; }

private:
    SystemTimeSource time_;
    QtEventPump pump_{time_};
    QtWindowTimer timer1_{2};
    QtWindowTimer timer2_{1000};
    QtWindowTimer timer3_{100};
    QtWindowTimer timer4_{50};
};
