// Feeds arbitrary bytes as a template backup file to the two readers of it: the entry
// reader of finger_restore, which must end, keep every field inside its bound and never
// pass a text it refuses, and whose list keeps one entry per employee's template with its
// last copy that may be sent; and the index of finger_backup, whose answers, fed in two
// pieces as a run appends, must equal what a scan of the whole file from its start finds.
#include "fingerprint/BackupFile.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Held = std::set<std::pair<std::string, int>>;

// The scan as the backup describes it: from the start, each "#" and the rest of its line is
// an employee line; the line right after it, when it reads "T" n ":" and a text (n written
// as the backup writes it, 1..255), holds template n unless the text is a failed line or
// ends before it shows what it is (at a line end or a "#"). The tags to ask for are every
// employee line a clock could send, also one the file ends in, and one more.
struct Scan {
    Held held;
    std::set<std::string> tags{"#:1"};
};

Scan ScanFile(const std::string& view)
{
    static const std::string kFailed = "**Template Error";
    Scan scan;
    for (std::size_t i = view.find('#'); i != std::string::npos; i = view.find('#', i)) {
        const std::size_t end = view.find('\n', i);
        const std::string tag = view.substr(i, end == std::string::npos ? std::string::npos : end - i);
        if (tag.size() <= finger::kMaxEmployeeLine && scan.tags.size() < 64)
            scan.tags.insert(tag);
        if (end == std::string::npos)
            break;
        i = end + 1;
        if (tag.size() > finger::kMaxEmployeeLine || i >= view.size() || view[i] != 'T')
            continue;
        std::size_t at = i + 1;
        while (at < view.size() && view[at] >= '0' && view[at] <= '9') ++at;
        const std::string digits = view.substr(i + 1, at - i - 1);
        if (at >= view.size() || view[at] != ':' || digits.empty() || digits.size() > 3 || digits[0] == '0' ||
            std::stoi(digits) > 255)
            continue;
        const std::size_t textEnd = view.find_first_of("\n#", at + 1);
        const std::string text =
            view.substr(at + 1, textEnd == std::string::npos ? std::string::npos : textEnd - at - 1);
        std::size_t same = 0;
        while (same < text.size() && same < kFailed.size() && text[same] == kFailed[same]) ++same;
        if (same < kFailed.size() && same < text.size())
            scan.held.emplace(tag, std::stoi(digits));
    }
    return scan;
}

void CheckIndex(const finger::BackupIndex& index, const std::set<std::string>& tags, const std::string& view)
{
    const Held held = ScanFile(view).held;
    for (const std::string& tag : tags)
        for (int n = 0; n <= 256; ++n) Check(index.Holds(tag, n) == (held.count({tag, n}) > 0));
    Check(index.AnyEmployeeLine() == (view.find('#') != std::string::npos));
}

// A reader of the file's characters as a text stream.
finger::BackupEntryReader ReaderOf(const std::string& view, std::size_t& at)
{
    return finger::BackupEntryReader(
        [&view, &at]() -> int { return at < view.size() ? static_cast<unsigned char>(view[at++]) : -1; });
}

std::string KeyOf(const finger::BackupEntry& e)
{
    return e.employee + '\n' + e.templateNumber;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string view = TextView(bytes);

    std::size_t at = 0;
    finger::BackupEntryReader reader = ReaderOf(view, at);
    std::vector<finger::BackupEntry> all;
    finger::BackupEntry entry;
    while (reader.Read(entry) == finger::EntryRead::Entry) {
        Check(all.size() <= view.size());
        Check(entry.employee.size() <= finger::BackupEntryReader::kMaxField);
        Check(entry.templateNumber.size() <= finger::BackupEntryReader::kMaxField);
        Check(entry.text.size() <= finger::BackupEntryReader::kMaxText);
        Check(entry.employee.find_first_of("\r\n") == std::string::npos);
        if (entry.Sendable())
            Check(entry.text.size() == static_cast<std::size_t>(finger::kTemplateTextLength));
        all.push_back(entry);
    }

    // The restore's list: every entry of the file once, an employee's template at its first
    // place with its last copy that may be sent, or else its last copy.
    std::size_t listAt = 0;
    finger::BackupEntryReader listReader = ReaderOf(view, listAt);
    const finger::RestoreList list = finger::ReadRestoreList(listReader);
    std::set<std::string> keys;
    std::size_t copies = 0;
    int sendable = 0;
    for (const finger::BackupEntry& chosen : list.entries) {
        sendable += chosen.Sendable() ? 1 : 0;
        if (chosen.overlong) {
            ++copies;
            continue;
        }
        Check(keys.insert(KeyOf(chosen)).second);
        const finger::BackupEntry* expected = nullptr;
        for (const finger::BackupEntry& e : all) {
            if (e.overlong || KeyOf(e) != KeyOf(chosen))
                continue;
            ++copies;
            if (expected == nullptr || e.Sendable() || !expected->Sendable())
                expected = &e;
        }
        Check(expected != nullptr && expected->text == chosen.text);
    }
    Check(copies == all.size() || list.tooMany);
    Check(sendable == list.sendable);

    const std::set<std::string> tags = ScanFile(view).tags;

    // The file as found at the start of a run, then the rest as if the run appended it.
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    finger::BackupIndex index;
    index.Feed(bytes.substr(0, split));
    CheckIndex(index, tags, TextView(bytes.substr(0, split)));
    index.Feed(bytes.substr(split));
    CheckIndex(index, tags, view);
    return 0;
}
