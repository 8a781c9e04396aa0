// Feeds arbitrary bytes as the clock's replies to one command, chosen by the first byte,
// over the serial or the network receive path (second byte), through each command's reply
// check on fake time. Whatever the clock sends, the command must end, with a known result
// code, without reading or writing outside a buffer.
#include "commands/CommandContext.h"
#include "interpreter/Interpreter.h"
#include "core/PollState.h"
#include "firmware/ProgramFiles.h"
#include "fuzz/FuzzSupport.h"
#include "core/ClockError.h"
#include "support/Fakes.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUXYZ";

// The data files the commands read, each with content it accepts, and the files the others
// write, removed after each input.
struct Files {
    std::string dir = WorkDir();
    std::string output = dir + "/out.txt";
    std::string fingerLog = dir + "/finger.log";
    std::string readers;  // the letters of the commands that read a data file

    Files()
    {
        std::string jobs;
        for (int i = 0; i < 30; ++i) jobs += "12345678901234\n";
        const auto image = ProgramImage("Main", {{0x10}, {1, 2, 3}, {0xFF, 0xEE, 0x00}});
        const std::pair<std::string, std::string> content[] = {
            {"CE", "00304512\r\n01304512\r\n02304512\r\n"},
            {"F", jobs},
            {"R", "12,34\n123456,654321\n7\n"},
            {"P", "1\n22\n9\n"},
            {"K", "{aaaaaaaaaaaaaaaaaaaaaaaaa\nbbbb}\n  {x}\n"},
            {"L", "0329\r\n1025\r\n"},
            {"M", "ATZ\r\nATS0=1\r\n"},
            {"N", "ACME TIMECLOCKS\r\n"},
            {"T", ReadFileBytes(std::string(QV_SOURCE_DIR) + "/fuzz/corpus/backup_file/valid.txt")},
            {"U", std::string(image.begin(), image.end())},
        };
        for (const auto& [letters, bytes] : content) {
            readers += letters;
            for (const char letter : letters) WriteFile(For(letter), bytes);
        }
    }

    // The data file a command reads, or the file it writes.
    std::string For(char letter) const
    {
        return readers.find(letter) == std::string::npos ? output : dir + "/in-" + letter + ".txt";
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Files files;
    if (size < 2)
        return 0;
    const char letter = kLetters[data[0] % (sizeof kLetters - 1)];

    FuzzRig rig(1 + (data[1] >> 1) % 31, (data[1] & 1) != 0);
    PollState& ps = rig.ps;
    ps.InputFileName = files.For(letter);
    ps.LogFileName = files.dir + "/results.txt";
    ps.FingerLogFile = files.fingerLog;
    ps.ProgramBoard = BoardKind::Main;
    ps.JobTableDigit = '1';
    // The operator confirms whatever a command asks.
    rig.op.answers = {true, true, true, true};
    ScriptedReplies replies(rig, data + 2, size - 2);

    Interpreter(CommandContext{ps, rig.exchange, rig.status, rig.time, rig.op, rig.timer4})
        .RunCommand(letter);
    // Every outcome is one of the known result codes.
    Check(ClockErrorNumber(ps.PollStatus) >= 0 && ClockErrorNumber(ps.PollStatus) < kClockErrorCount);

    std::remove(files.output.c_str());
    std::remove(files.fingerLog.c_str());
    return 0;
}
