// The firmware upgrade: puts one board of the clock into programming mode, makes sure the
// clock runs that board's program, erases it, sends every record of the checked program
// file as one frame and takes the clock out of programming mode again.
#pragma once

#include "ProgramFile.h"
#include "core/ClockError.h"

#include <cstdint>
#include <vector>

struct CommandContext;

// Command bytes of one board kind's programming mode.
struct ProgramCommands {
    uint8_t contact;
    uint8_t program;  // erase and program frames
    uint8_t terminate;
};
// A board kind that is none of the four gets contact 0x00, which no clock answers with.
ProgramCommands ProgramCommandsFor(BoardKind kind);

class ProgramTransfer {
public:
    // Tries a record this often before the transfer gives up.
    static constexpr int kRecordAttempts = 5;
    static constexpr int kTerminateAttempts = 3;

    explicit ProgramTransfer(CommandContext& ctx);

    // The Software Upgrade command: asks the operator first and reports on the memo.
    // Returns the result of the step that ended it: 30 when the operator cancels, the
    // file's fault, the failed contact, erase or record, or the terminate's result.
    // Writes no results line.
    ClockError SoftwareUpgrade();

    // Each step returns ceOK or what failed.
    ClockError ContactProgramMode();
    ClockError EraseProgramMemory();
    ClockError TerminateProgramMode();

private:
    // Sends the records of the file in order; fileError tells a bad record, or no record
    // at all, from a clock that failed one. Returns the result of the last record tried.
    ClockError SendRecords(ByteSource& in, bool& fileError);
    ClockError SendRecord(const std::vector<uint8_t>& data);
    // Waits `ticks` for the reply to the frame just sent and checks its digits; ceOK means
    // the reply is whole and its station and code are in the receive buffer.
    ClockError AwaitDigits(int ticks);
    uint8_t Station() const;

    CommandContext& ctx_;
    BoardKind board_;
    // Valid records of the file being sent, which the percentage divides by.
    uint32_t records_ = 0;
    ProgramCommands commands_;
};
