// Reads a command file one character at a time as a text stream (carriage returns are
// dropped, a 0x1A byte ends the file) and splits it into tokens ended by a blank, a line
// feed or the end of the file. The character that ended a token stays the last one read.
#pragma once

#include "core/TextFile.h"

#include <cstdint>
#include <string>

class CommandFileReader {
public:
    static constexpr int kEnd = -1;

    struct Token {
        std::string text;       // at most the stored limit of characters
        bool overLong = false;  // the token had more characters than the limit
        bool operator==(const char* s) const { return !overLong && text == s; }
    };

    // False when the file cannot be opened or is not a regular file (a folder, a FIFO,
    // a device): the open never waits for the writer of a pipe.
    bool Open(const std::string& path);
    void Close() { file_.Close(); }
    bool IsOpen() const { return file_.IsOpen(); }

    // Next character, or kEnd at the end of the file or after a read error.
    int ReadChar();
    // Reads up to the next separator, keeping at most maxLen characters: the rest of an
    // over-long token is consumed but not stored, so memory stays bounded.
    Token ReadToken(size_t maxLen);
    int LastChar() const { return last_; }
    bool AtEnd() const { return last_ == kEnd; }
    // The reading stopped because the file could not be read further, not at its end.
    bool ReadFailed() const { return file_.ReadError(); }

    static bool IsSeparator(int c) { return c == ' ' || c == '\n' || c == '\r' || c == kEnd; }

    // Lines read to their end (or to the end of the file) that held more than blanks: the
    // command lines run so far. CountCommandLines gives the whole file's.
    int64_t CommandLinesRead() const { return commandLines_; }
    static int64_t CountCommandLines(const std::string& path);

private:
    TextFile file_;
    int last_ = 0;
    bool lineHasText_ = false;
    int64_t commandLines_ = 0;
};
