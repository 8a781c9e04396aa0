// The template backup file: what finger_backup finds held in it before fetching a slot,
// the reader finger_restore takes its entries with, and the checks of a template text.
// Pure code over characters; the commands hand it what they read and write.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

// What a scan of the backup file, as a text stream, finds held for each employee line. An
// employee line is the text from a "#" to the end of its line; the line right after it,
// when it reads "T" n ":" and a template text, holds template n of that employee unless it
// is a failed line ("**Template Error ee**"). A template is held wherever its pair stands,
// so a good copy appended after a failed line makes it held. The file is read once; every
// text appended afterwards is fed in as it is written, so each question costs nothing like
// a rescan yet gets the answer a rescan would.
class BackupIndex {
public:
    // Template numbers a clock can give: N is one byte.
    static constexpr int kMaxTemplateNumber = 255;

    // Takes bytes as they are on disk (or as written through the text stream): CR bytes
    // are dropped and a 0x1A byte ends what a reader sees, as when the file is read.
    void Feed(std::string_view bytes);
    // True when a scan meets at least one "#".
    bool AnyEmployeeLine() const { return anyLine_; }
    // True when the file holds a good copy of template n of the employee line `tag`.
    bool Holds(const std::string& tag, int n) const;

private:
    enum class State { Outside, Employee, LineStart, Number, Text };
    void Take(char c);

    std::unordered_map<std::string, std::bitset<kMaxTemplateNumber + 1>> held_;
    State state_ = State::Outside;
    bool anyLine_ = false;
    bool overlong_ = false;
    bool ended_ = false;  // a 0x1A was met: nothing after it is ever read
    std::string line_;    // the employee line being read, then the one its pair belongs to
    int number_ = 0;      // template number being read
    int digits_ = 0;
    std::size_t matched_ = 0;  // characters of the text that match a failed line so far
};

// One entry of the backup file as finger_restore reads it.
struct BackupEntry {
    std::string employee;        // the employee field up to its first line end
    std::string templateNumber;  // as written in the file, for the log
    std::string text;            // the template text
    // The employee field, the template number or the text was longer than it may be;
    // the entry was read to its end but must not be sent.
    bool overlong = false;

    // True when the text is a whole, valid template and no field was cut.
    bool Sendable() const;
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

// Every entry of a backup file, read before finger_restore sends anything.
struct RestoreList {
    // One entry per employee and template number, in the order each first appears, holding
    // the last copy that may be sent, or the last copy when none may: a template whose
    // failed line the backup fetched again later is restored from the good copy.
    std::vector<BackupEntry> entries;
    int sendable = 0;     // entries that may be sent
    bool cutOff = false;  // the file ends inside an entry, before its template text
    // More entries than a clock can hold (65536 slots of at most 10 templates): not a
    // backup file, and not read further.
    bool tooMany = false;
    static constexpr std::size_t kMaxEntries = 65536 * 10;
};
RestoreList ReadRestoreList(BackupEntryReader& reader);

}  // namespace finger
