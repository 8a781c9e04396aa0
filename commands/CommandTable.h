// The command table: for each command letter its memo name, its progress and result texts
// and the function that runs it. Data, not code, so a new command is one more row.
#pragma once

struct CommandContext;

// Memo texts of one command. A null text means the command shows no such line.
struct CommandTexts {
    const char* memoName;
    const char* sendingLine;
    const char* busyLine;
    const char* resultPrefix;
    // Prefix of an input-file error report when it differs from resultPrefix.
    const char* inputErrorPrefix = nullptr;
};

using CommandFunction = void (*)(CommandContext&);

struct CommandEntry {
    char letter;
    CommandTexts texts;
    // Null while the command is not available in this build: it then reports 6.
    CommandFunction run;
};

// The row of a letter, or null for a letter that selects nothing (outside A..Z, V, W).
const CommandEntry* FindCommand(char letter);
// Texts of a letter that has a row; empty texts otherwise.
const CommandTexts& TextsOf(char letter);
