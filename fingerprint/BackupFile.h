// The template backup file: what finger_backup counts in it before fetching a slot, the
// reader finger_restore takes its entries with, and the checks of a template text.
// Pure code over characters; the commands hand it what they read and write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace finger {

// Template text of one template: 768 hex digits (384 bytes) and 4 checksum digits.
constexpr int kTemplateTextLength = 772;
// Longest employee line a clock can make ("#:" and a number from one 256-byte reply);
// a longer line in the file can never equal an employee line of the clock.
constexpr std::size_t kMaxEmployeeLine = 256;

// Value of a digit character as the clocks count it: '0'..'9' give 0..9, every other
// character ch - 0x37 (so 'A'..'F' give 10..15).
inline int DigitValue(unsigned char ch)
{
    return ch <= '9' ? ch - 0x30 : ch - 0x37;
}

// A template number or count as the file and the log write it: 1..9 as one digit, 10 as
// "10" (and any other value in decimal).
std::string NumberText(int n);

// What a scan of the backup file from its start, as a text stream, finds for the employee
// line of a slot: the employee lines are the text from each "#" to the end of its line.
// The count of a tag is the number of lines equal to it in the first group of such lines
// that stand together, from the first one that equals it; any other "#" line ends the
// group. The file is read once; every text appended afterwards is fed in as it is written,
// so each count costs nothing like a rescan yet gives the same number a rescan would.
class BackupIndex {
public:
    // Takes bytes as they are on disk (or as written through the text stream): CR bytes
    // are dropped and a 0x1A byte ends what a reader sees, as when the file is read.
    void Feed(std::string_view bytes);
    // True when a scan meets at least one "#".
    bool AnyEmployeeLine() const { return lines_ > 0 || inLine_; }
    // Employee lines in the first group that holds `tag` (0 when none equals it). A tag
    // longer than kMaxEmployeeLine counts 0.
    int Count(const std::string& tag) const;

private:
    struct Group {
        long first = 0;  // index of the first line equal to the tag
        int length = 0;  // lines equal to it from there on, uninterrupted
    };
    void Take(char c);
    void EndLine();

    std::unordered_map<std::string, Group> groups_;
    long lines_ = 0;  // employee lines ended so far
    bool inLine_ = false;
    bool overlong_ = false;
    bool ended_ = false;  // a 0x1A was met: nothing after it is ever read
    std::string line_;
};

// One entry of the backup file as finger_restore reads it.
struct BackupEntry {
    std::string employee;        // the employee field up to its first line end
    std::string templateNumber;  // as written in the file, for the log
    std::string text;            // the template text
    // The employee field, the template number or the text was longer than it may be;
    // the entry was read to its end but must not be sent.
    bool overlong = false;
};

enum class EntryRead {
    Entry,   // an entry was read
    None,    // no further entry
    CutOff,  // the file ends inside an entry, before its template text
};

// Reads entries from characters of the file as a text stream (CR already dropped).
// An entry begins at a "#"; the characters up to the next ":" are skipped, those up to the
// next "T" are the employee field, those up to the next ":" the template number, and the
// template text is everything after it up to the next "#" or the end, leaving out each
// ":", each LF and, from a further "T", the characters up to its ":".
class BackupEntryReader {
public:
    static constexpr std::size_t kMaxField = 100;
    static constexpr std::size_t kMaxText = 1024;

    // next() returns the next character or -1 at the end of the file.
    explicit BackupEntryReader(std::function<int()> next) : next_(std::move(next)) {}
    EntryRead Read(BackupEntry& entry);

private:
    std::function<int()> next_;
    bool started_ = false;  // the first "#" was looked for
    bool atEntry_ = false;  // a "#" has been read and its entry not yet
};

// True when a template text may be sent: 772 characters, 768 upper-case hex digits whose
// byte sum (low 16 bits) equals the last four hex digits.
bool TemplateTextValid(std::string_view text);

}  // namespace finger
