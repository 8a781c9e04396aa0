// What every clock command works with: the poll state, the exchange engine, the status
// display, the local time, the operator's dialogs, the short pause timer, the memo texts
// of the command being run and where long work reports how far it has come.
#pragma once

#include "core/Progress.h"

struct PollState;
class Exchange;
class IStatusDisplay;
class ITimeSource;
class IOperator;
class ITimer;
class INetConnection;

// Memo texts of one command, from its row of the command table. A null text means the
// command shows no such line.
struct CommandTexts {
    const char* memoName;
    const char* sendingLine;
    const char* busyLine;
    const char* resultPrefix;
    // Prefix of an input-file error report when it differs from resultPrefix.
    const char* inputErrorPrefix = nullptr;
};

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
    // The texts of the command being run: the interpreter hands each command its own row's.
    const CommandTexts* texts = nullptr;
    // Told how far a long command has come; never read back.
    IProgress& progress = NoProgress();
};
