// What every clock command works with: the poll state, the exchange engine, the status
// display, the local time, the operator's dialogs and the short pause timer.
#pragma once

struct PollState;
class Exchange;
class IStatusDisplay;
class ITimeSource;
class IOperator;
class ITimer;

struct CommandContext {
    PollState& ps;
    Exchange& exchange;
    IStatusDisplay& status;
    const ITimeSource& time;
    IOperator& op;
    // 50 ms one-shot pause of the fingerprint commands.
    ITimer& timer4;
};
