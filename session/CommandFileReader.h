// Reads a command file one character at a time as a text stream (carriage returns are
// dropped, a 0x1A byte ends the file) and splits it into tokens ended by a blank, a line
// feed or the end of the file. The character that ended a token stays the last one read.
#pragma once

#include <cstdio>
#include <string>

class CommandFileReader {
public:
    static constexpr int kEnd = -1;

    struct Token {
        std::string text;      // at most the stored limit of characters
        bool overLong = false; // the token had more characters than the limit
        bool operator==(const char* s) const { return !overLong && text == s; }
    };

    CommandFileReader() = default;
    ~CommandFileReader() { Close(); }
    CommandFileReader(const CommandFileReader&) = delete;
    CommandFileReader& operator=(const CommandFileReader&) = delete;

    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    // Next character, or kEnd at the end of the file.
    int ReadChar();
    // Reads up to the next separator, keeping at most maxLen characters: the rest of an
    // over-long token is consumed but not stored, so memory stays bounded.
    Token ReadToken(size_t maxLen);
    int LastChar() const { return last_; }
    bool AtEnd() const { return last_ == kEnd; }

    static bool IsSeparator(int c) { return c == ' ' || c == '\n' || c == '\r' || c == kEnd; }

private:
    std::FILE* file_ = nullptr;
    int last_ = 0;
    bool ended_ = false;
};
