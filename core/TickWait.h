// The one wait counted in ticks: a tick is one change of the local wall-clock second, so a
// wait of n ticks lasts between n - 1 and n seconds. Events run meanwhile (receive events,
// timers, the operator's buttons).
#pragma once

#include "core/Platform.h"

#include <functional>

enum class TickWaitEnd { Done, TimedOut };

// Pumps events until done(ticks) holds or `limit` ticks have passed, counting from the
// second `fromSecond`. Each pass blocks until an event or a tick; the ticks are counted
// first, so a pass that brings both the limit and done() ends TimedOut. done is told the
// ticks counted so far and is asked after every pass, never before the first.
inline TickWaitEnd WaitForTicks(IEventPump& pump, const ITimeSource& time, int limit,
                                const std::function<bool(int ticks)>& done, int fromSecond)
{
    int last = fromSecond;
    int ticks = 0;
    for (;;) {
        pump.PumpUntilEventOrTick();
        const int s = time.CurrentSecond();
        if (s != last) {
            last = s;
            if (++ticks >= limit)
                return TickWaitEnd::TimedOut;
        }
        if (done(ticks))
            return TickWaitEnd::Done;
    }
}

inline TickWaitEnd WaitForTicks(IEventPump& pump, const ITimeSource& time, int limit,
                                const std::function<bool(int ticks)>& done)
{
    return WaitForTicks(pump, time, limit, done, time.CurrentSecond());
}
