#include "BackupFile.h"

namespace finger {

std::string NumberText(int n)
{
    return std::to_string(n);
}

void BackupIndex::Feed(std::string_view bytes)
{
    for (char c : bytes) {
        if (ended_)
            return;
        if (c == '\r')
            continue;
        if (c == 0x1A) {
            ended_ = true;
            return;
        }
        Take(c);
    }
}

void BackupIndex::Take(char c)
{
    // What a failed template line holds after its "T<n>:".
    static constexpr std::string_view kFailed = "**Template Error";
    switch (state_) {
        case State::Outside:
            break;
        case State::Employee:
            if (c != '\n') {
                if (line_.size() < kMaxEmployeeLine)
                    line_.push_back(c);
                else
                    overlong_ = true;
                return;
            }
            // An overlong line equals no tag: its pair holds nothing.
            state_ = overlong_ ? State::Outside : State::LineStart;
            return;
        case State::LineStart:
            if (c != 'T')
                break;
            state_ = State::Number;
            number_ = 0;
            digits_ = 0;
            return;
        case State::Number:
            // The number as the backup writes it: decimal, no leading zero, 1..255.
            if (c >= '0' && c <= '9' && !(digits_ == 0 && c == '0') && digits_ < 3) {
                number_ = number_ * 10 + (c - '0');
                ++digits_;
                return;
            }
            if (c == ':' && digits_ > 0 && number_ <= kMaxTemplateNumber) {
                state_ = State::Text;
                matched_ = 0;
                return;
            }
            break;
        case State::Text:
            if (matched_ < kFailed.size() && c == kFailed[matched_]) {
                if (++matched_ == kFailed.size())
                    state_ = State::Outside;  // a failed line holds nothing
                return;
            }
            // A line that ends before its text shows what it is (an empty or cut one) holds
            // nothing either.
            if (c == '\n' || c == '#')
                break;
            held_[line_].set(static_cast<std::size_t>(number_));
            state_ = State::Outside;
            return;
    }
    // Any character outside an employee line: a "#" begins one, wherever it stands.
    state_ = State::Outside;
    if (c == '#') {
        state_ = State::Employee;
        anyLine_ = true;
        overlong_ = false;
        line_.assign(1, '#');
    }
}

bool BackupIndex::Holds(const std::string& tag, int n) const
{
    if (n < 1 || n > kMaxTemplateNumber || tag.size() > kMaxEmployeeLine)
        return false;
    const auto it = held_.find(tag);
    return it != held_.end() && it->second.test(static_cast<std::size_t>(n));
}

EntryRead BackupEntryReader::Read(BackupEntry& entry)
{
    entry = BackupEntry{};
    int c = 0;
    if (!started_) {
        started_ = true;
        do c = next_();
        while (c >= 0 && c != '#');
        atEntry_ = c == '#';
    }
    if (!atEntry_)
        return EntryRead::None;
    atEntry_ = false;

    auto keep = [&entry](std::string& field, std::size_t limit, int ch) {
        if (field.size() < limit)
            field.push_back(static_cast<char>(ch));
        else
            entry.overlong = true;
    };
    do c = next_();
    while (c >= 0 && c != ':');
    if (c < 0)
        return EntryRead::CutOff;
    while ((c = next_()) >= 0 && c != 'T') keep(entry.employee, kMaxField, c);
    if (c < 0)
        return EntryRead::CutOff;
    while ((c = next_()) >= 0 && c != ':') keep(entry.templateNumber, kMaxField, c);
    if (c < 0)
        return EntryRead::CutOff;

    bool skipping = false;
    while ((c = next_()) >= 0) {
        if (c == '#') {
            atEntry_ = true;
            break;
        }
        if (skipping) {
            skipping = c != ':';
            continue;
        }
        if (c == 'T')
            skipping = true;
        else if (c != ':' && c != '\n')
            keep(entry.text, kMaxText, c);
    }
    // Only the number goes to the clock: the field up to its first line end.
    entry.employee = entry.employee.substr(0, entry.employee.find_first_of("\r\n"));
    return EntryRead::Entry;
}

bool TemplateTextValid(std::string_view text)
{
    if (text.size() != static_cast<std::size_t>(kTemplateTextLength))
        return false;
    auto hex = [](char ch) { return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F'); };
    uint32_t sum = 0;
    uint32_t check = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!hex(text[i]))
            return false;
        const auto v = static_cast<uint32_t>(DigitValue(static_cast<unsigned char>(text[i])));
        if (i >= text.size() - 4)
            check = check * 16 + v;
        else
            sum += i % 2 == 0 ? v * 16 : v;
    }
    return (sum & 0xFFFF) == (check & 0xFFFF);
}

bool BackupEntry::Sendable() const
{
    return !overlong && TemplateTextValid(text);
}

RestoreList ReadRestoreList(BackupEntryReader& reader)
{
    RestoreList list;
    // Where each employee's template number stands in the list.
    std::unordered_map<std::string, std::size_t> place;
    BackupEntry entry;
    EntryRead got = EntryRead::None;
    while ((got = reader.Read(entry)) == EntryRead::Entry) {
        const bool sendable = entry.Sendable();
        // A cut field could make two different entries look alike: it is never merged.
        if (!entry.overlong) {
            const auto [it, added] =
                place.try_emplace(entry.employee + '\n' + entry.templateNumber, list.entries.size());
            if (!added) {
                BackupEntry& kept = list.entries[it->second];
                if (sendable || !kept.Sendable()) {
                    list.sendable += (sendable ? 1 : 0) - (kept.Sendable() ? 1 : 0);
                    kept = std::move(entry);
                }
                continue;
            }
        }
        if (list.entries.size() == RestoreList::kMaxEntries) {
            list.tooMany = true;
            return list;
        }
        list.sendable += sendable ? 1 : 0;
        list.entries.push_back(std::move(entry));
    }
    list.cutOff = got == EntryRead::CutOff;
    return list;
}

}  // namespace finger
