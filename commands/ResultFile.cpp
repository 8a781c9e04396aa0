#include "ResultFile.h"

#include "core/TextFile.h"
#include "core/PollState.h"

#include <cerrno>
#include <cstring>
#include <iostream>

namespace {
constexpr std::size_t kKeywordField = 21;
}

std::string FormatResultLine(const PollState& ps, ClockError code, int number)
{
    std::string line = ps.StationDigitsText();
    line.push_back(' ');
    line += ps.CommandKeyword;
    if (ps.CommandKeyword.size() < kKeywordField)
        line.append(kKeywordField - ps.CommandKeyword.size(), ' ');
    else
        line.push_back(' ');
    // Codes are ClockError values 0..32, always written as two digits.
    const int value = ClockErrorNumber(code);
    const int c = value < 0 ? -value : value;
    line.push_back(static_cast<char>('0' + (c / 10) % 10));
    line.push_back(static_cast<char>('0' + c % 10));
    if (number != 0) {
        line.push_back(' ');
        line += std::to_string(number % 1000);
    }
    // LF then CR: the text stream turns it into 0D 0A 0D on disk.
    line += "\n\r";
    return line;
}

void WriteResultLine(PollState& ps, ClockError code, int number)
{
    if (code != ceOK)
        ps.ResultFailed = true;
    if (ps.LogFileName.empty())
        return;
    // errno is taken at the first failure, before anything else can overwrite it.
    TextFile file;
    errno = 0;
    bool written = file.Open(ps.LogFileName, "a");
    int error = written ? 0 : errno;
    if (written) {
        // A cut line would run into the next line appended: none of it is left.
        written = file.AppendWhole(FormatResultLine(ps, code, number), false);
        if (!written)
            error = errno;
        if (!file.Close() && written) {
            written = false;
            error = errno;
        }
    }
    if (!written) {
        ps.ResultFailed = true;
        std::cerr << "quorvex: can't write the results file " << ps.LogFileName << ": "
                  << (error != 0 ? std::strerror(error) : "write failed") << std::endl;
    }
}
