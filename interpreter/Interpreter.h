// Runs one clock command, selected by its letter in the command table, against the station
// and link the run driver has set up, and stores the result the command returns in
// PollStatus: the only place a command's result becomes the run's.
#pragma once

#include "commands/CommandContext.h"

class Interpreter {
public:
    explicit Interpreter(const CommandContext& ctx) : ctx_(ctx) {}

    // Letters outside A..Z, and V and W, select nothing: no output, PollStatus unchanged.
    // A call made while a command is running (events are served during its waits) is
    // ignored.
    void RunCommand(char commandCode);
    bool Running() const { return running_; }

    CommandContext& Context() { return ctx_; }

private:
    CommandContext ctx_;
    bool running_ = false;
};
