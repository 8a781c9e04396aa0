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
    if (!inLine_) {
        if (c == '#') {
            inLine_ = true;
            overlong_ = false;
            line_.assign(1, '#');
        }
        return;
    }
    if (c == '\n') {
        EndLine();
        return;
    }
    if (line_.size() < kMaxEmployeeLine)
        line_.push_back(c);
    else
        overlong_ = true;
}

void BackupIndex::EndLine()
{
    // An overlong line equals no tag; it only takes its place between the others.
    if (!overlong_) {
        const auto [it, added] = groups_.try_emplace(line_, Group{lines_, 1});
        if (!added && it->second.first + it->second.length == lines_)
            ++it->second.length;
    }
    ++lines_;
    inLine_ = false;
    line_.clear();
}

int BackupIndex::Count(const std::string& tag) const
{
    if (tag.size() > kMaxEmployeeLine)
        return 0;
    const auto it = groups_.find(tag);
    Group g = it == groups_.end() ? Group{lines_, 0} : it->second;
    // A last line without its line end is read to the end of the file, like any other.
    if (inLine_ && !overlong_ && line_ == tag && g.first + g.length == lines_)
        ++g.length;
    return g.length;
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

}  // namespace finger
