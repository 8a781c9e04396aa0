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
#include <cstring>
#include <string>

namespace {

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUXYZ";

struct Files {
    std::string dir = WorkDir();
    std::string bells = dir + "/bells.txt";
    std::string jobs = dir + "/jobs.txt";
    std::string pins = dir + "/pins.txt";
    std::string clear = dir + "/clear.txt";
    std::string message = dir + "/message.txt";
    std::string daylight = dir + "/daylight.txt";
    std::string modem = dir + "/modem.txt";
    std::string logo = dir + "/logo.txt";
    std::string restore = dir + "/restore.txt";
    std::string program = dir + "/main.pgm";
    // Written by the command under test and removed after each input.
    std::string output = dir + "/out.txt";
    std::string fingerLog = dir + "/finger.log";

    Files()
    {
        WriteFile(bells, "00304512\r\n01304512\r\n02304512\r\n");
        std::string rows;
        for (int i = 0; i < 30; ++i) rows += "12345678901234\n";
        WriteFile(jobs, rows);
        WriteFile(pins, "12,34\n123456,654321\n7\n");
        WriteFile(clear, "1\n22\n9\n");
        WriteFile(message, "{aaaaaaaaaaaaaaaaaaaaaaaaa\nbbbb}\n  {x}\n");
        WriteFile(daylight, "0329\r\n1025\r\n");
        WriteFile(modem, "ATZ\r\nATS0=1\r\n");
        WriteFile(logo, "ACME TIMECLOCKS\r\n");
        WriteFile(restore, ReadFileBytes(std::string(QV_SOURCE_DIR) + "/fuzz/corpus/backup_file/valid.txt"));
        const auto image = ProgramImage("Main", {{0x10}, {1, 2, 3}, {0xFF, 0xEE, 0x00}});
        WriteFile(program, std::string(image.begin(), image.end()));
    }

    // The data file a command reads, or the file it writes.
    std::string For(char letter) const
    {
        const std::pair<const char*, const std::string*> read[] = {
            {"CE", &bells}, {"F", &jobs},     {"R", &pins},  {"P", &clear},    {"K", &message},
            {"L", &daylight}, {"M", &modem}, {"N", &logo}, {"T", &restore}, {"U", &program}};
        for (const auto& [letters, file] : read)
            if (std::strchr(letters, letter) != nullptr)
                return *file;
        return output;
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
