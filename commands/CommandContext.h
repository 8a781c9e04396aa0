// What every clock command works with: the poll state, the exchange engine, the status
// display, the local time, the operator's dialogs and the short pause timer.
#pragma once

struct PollState;
class Exchange;
class IStatusDisplay;
class ITimeSource;
class IOperator;
class ITimer;
class INetConnection;

struct CommandContext {
    PollState& ps;
    Exchange& exchange;
    IStatusDisplay& status;
    const ITimeSource& time;
    IOperator& op;
    // 50 ms one-shot pause of the fingerprint commands.
    ITimer& timer4;
    // The TCP link, for a command that connects again after a lost connection; null
    // where there is none.
    INetConnection* net = nullptr;
};
