// The results file of a command-file run: one line per command with station, keyword,
// result code and an optional number (a line number or template number).
#pragma once

#include "core/ClockError.h"

#include <string>

struct PollState;

// The line as it is handed to the text stream (ends with LF CR), without the file.
std::string FormatResultLine(const PollState& ps, ClockError code, int number);

// Appends one line to the file named by LogFileName. Writes nothing when no results file
// is named. Marks the run as failed (ResultFailed) when code is not ceOK, or when a results
// file is named but the line could not be written: a scheduler reading the exit status
// must never take a lost failure for success. A line that could not be written is also
// reported on stderr with the file name and the system's reason.
void WriteResultLine(PollState& ps, ClockError code, int number);
