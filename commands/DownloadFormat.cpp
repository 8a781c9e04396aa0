#include "DownloadFormat.h"

#include <vector>

namespace {

constexpr uint8_t kEndOfRecord = 0xF0;
constexpr uint8_t kJobGroup = 0xFE;
constexpr int kJobLevels = 4;

void AppendDigits(std::string& out, uint8_t b)
{
    out.push_back(static_cast<char>((b >> 4) + 0x30));
    out.push_back(static_cast<char>((b & 0x0F) + 0x30));
}

// A lone sub-group is written whole, level digits included. Several are written in level
// order 1..4, each level's first sub-group without its level digits; the level is the
// first digit after one leading "0".
void AppendJobGroup(std::string& out, const std::vector<std::string>& subGroups)
{
    if (subGroups.size() == 1) {
        out += subGroups.front();
        return;
    }
    for (int level = 1; level <= kJobLevels; ++level) {
        for (const std::string& g : subGroups) {
            const size_t at = !g.empty() && g[0] == '0' ? 1 : 0;
            if (at < g.size() && g[at] == static_cast<char>('0' + level)) {
                out.append(g, at + 1);
                break;
            }
        }
    }
}

}  // namespace

std::string FormatRecords(std::string_view stationDigits, std::span<const uint8_t> records)
{
    std::string out;
    bool lineOpen = false;
    int byteNumber = 0;
    bool inGroup = false;
    std::vector<std::string> subGroups;

    auto endRecord = [&] {
        if (inGroup)
            AppendJobGroup(out, subGroups);
        out += "\n\r";
        lineOpen = false;
        inGroup = false;
    };

    for (const uint8_t b : records) {
        // The next record's line starts only when a byte of it arrives.
        if (!lineOpen) {
            out += stationDigits;
            out += ',';
            lineOpen = true;
            byteNumber = 0;
        }
        if (b == kEndOfRecord) {
            endRecord();
        } else if (inGroup) {
            if (b == kJobGroup)
                subGroups.emplace_back();
            else
                AppendDigits(subGroups.back(), b);
        } else {
            // A job-code group counts as one byte of the record.
            ++byteNumber;
            if (byteNumber == 4 || byteNumber == 6 || byteNumber == 7)
                out += ',';
            if (b == kJobGroup) {
                out += ',';
                inGroup = true;
                subGroups.assign(1, std::string());
            } else {
                AppendDigits(out, b);
            }
        }
    }
    if (lineOpen)
        endRecord();
    return out;
}

std::string FormatMessageText(std::span<const uint8_t> text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (const uint8_t b : text) {
        out.push_back(static_cast<char>(b));
        if (b == '\n')
            out.push_back('\r');
    }
    return out;
}
