// Feeds arbitrary bytes as a template backup file to the two readers of it: the entry
// reader of finger_restore, which must end, keep every field inside its bound and never
// pass a text it refuses; and the count step of finger_backup, whose counts, fed in two
// pieces as a run appends, must equal what a scan of the whole file from its start finds.
#include "fingerprint/BackupFile.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

// The file as a text stream reads it: CR bytes dropped, a 0x1A byte ends it.
std::string TextView(const std::string& bytes)
{
    std::string out;
    for (char c : bytes) {
        if (c == 0x1A)
            break;
        if (c != '\r')
            out.push_back(c);
    }
    return out;
}

// The count as the backup describes it: from the start, each "#" and the rest of its line
// is an employee line; count those equal to the tag until a different one follows them.
int ScanCount(const std::string& view, const std::string& tag)
{
    int s = 0;
    for (std::size_t i = 0; i < view.size(); ++i) {
        if (view[i] != '#')
            continue;
        const std::size_t end = view.find('\n', i);
        const std::string line = view.substr(i, end == std::string::npos ? std::string::npos : end - i);
        if (line == tag)
            ++s;
        else if (s > 0)
            return s;
        if (end == std::string::npos)
            break;
        i = end;
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string view = TextView(bytes);

    std::size_t at = 0;
    finger::BackupEntryReader reader(
        [&view, &at]() -> int { return at < view.size() ? static_cast<unsigned char>(view[at++]) : -1; });
    finger::BackupEntry entry;
    for (std::size_t entries = 0; reader.Read(entry) == finger::EntryRead::Entry; ++entries) {
        Check(entries <= view.size());
        Check(entry.employee.size() <= finger::BackupEntryReader::kMaxField);
        Check(entry.templateNumber.size() <= finger::BackupEntryReader::kMaxField);
        Check(entry.text.size() <= finger::BackupEntryReader::kMaxText);
        Check(entry.employee.find_first_of("\r\n") == std::string::npos);
        if (finger::TemplateTextValid(entry.text))
            Check(entry.text.size() == static_cast<std::size_t>(finger::kTemplateTextLength));
    }

    // The tags asked for: every employee line of the file that a clock could send, and one more.
    std::set<std::string> tags{"#:1"};
    for (std::size_t i = view.find('#'); i != std::string::npos && tags.size() < 64;
         i = view.find('#', i + 1)) {
        const std::size_t end = view.find('\n', i);
        const std::string line = view.substr(i, end == std::string::npos ? std::string::npos : end - i);
        if (line.size() <= finger::kMaxEmployeeLine)
            tags.insert(line);
        if (end == std::string::npos)
            break;
        i = end;
    }

    // The file as found at the start of a run, then the rest as if the run appended it.
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    finger::BackupIndex index;
    index.Feed(bytes.substr(0, split));
    const std::string first = TextView(bytes.substr(0, split));
    for (const std::string& tag : tags) Check(index.Count(tag) == ScanCount(first, tag));
    Check(index.AnyEmployeeLine() == (first.find('#') != std::string::npos));
    index.Feed(bytes.substr(split));
    for (const std::string& tag : tags) Check(index.Count(tag) == ScanCount(view, tag));
    Check(index.AnyEmployeeLine() == (view.find('#') != std::string::npos));
    return 0;
}
