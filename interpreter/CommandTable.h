// The command table, the one list of the program's commands: for each command letter its
// command-file keyword and parameter, its place in the window's command list, its memo
// texts and the function that runs it. Data, not code, so a new command is one more row.
#pragma once

#include "commands/CommandContext.h"
#include "core/ClockError.h"

#include <string_view>
#include <vector>

// A command's runner, which returns the command's result. A row holds it by reference, so
// a row without one does not build.
using CommandFunction = ClockError(CommandContext&);

// What follows a keyword on its command-file line.
enum class Parameter {
    None,
    FileName,    // the data file, into InputFileName
    OnOff,       // "ON" or "OFF"; each value has its own row
    JobNumbers,  // a file name, then the job table selector '1' or '2' and one more character
    AccessCode,  // at most six characters, into AccessCode
};

struct CommandEntry {
    char letter;
    // Command-file keyword; null for a command that only the window's list offers.
    const char* keyword;
    Parameter parameter;
    // For Parameter::OnOff rows: the value that selects this row.
    const char* value;
    // Entry in the window's command list; -1 when the list does not offer it.
    int listIndex;
    CommandTexts texts;
    CommandFunction& run;
};

// The letter of Software Upgrade, the one command the window's list offers with a program
// file rather than a data file.
inline constexpr char kSoftwareUpgrade = 'U';

// The row of a letter, or null for a letter that selects nothing (outside A..Z, V, W).
const CommandEntry* FindCommand(char letter);
// The first row of a command-file keyword (for ON/OFF keywords, either value's row), or
// null for a word that is no keyword. init_clock is the run driver's own and has no row.
const CommandEntry* FindKeyword(std::string_view keyword);
// The row of an ON/OFF keyword for the value read after it; null for any other value.
const CommandEntry* FindKeywordValue(std::string_view keyword, std::string_view value);
// The window's command list, in order.
std::vector<const CommandEntry*> CommandList();
// The row of a list entry; an index past the end selects the last entry.
const CommandEntry* ListEntry(int index);
