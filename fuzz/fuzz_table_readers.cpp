// Feeds arbitrary bytes to the table uploads as their data file: the row readers of
// set_belltable, set_belltable2, set_jobnumbers, set_pinnumbers and clear_message, each
// through the whole command against a simulated clock that rejects some packets, so the
// table restarts and reads the file again. No frame may outgrow the request buffer, a file
// with a malformed line may send nothing, and nothing may crash or hang.
#include "commands/CommandContext.h"
#include "interpreter/Interpreter.h"
#include "commands/TableUploads.h"
#include "core/PollState.h"
#include "fuzz/FuzzSupport.h"
#include "support/Fakes.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The reader alone over the raw bytes (carriage returns and 0x1A included).
void ReadAll(TableRows kind, const uint8_t* data, size_t size)
{
    tables::TableReader reader(kind);
    size_t at = 0;
    const tables::TableReader::ReadChar read = [&] { return at < size ? static_cast<int>(data[at++]) : -1; };
    do {
        std::vector<uint8_t> rows;
        const bool good = reader.NextPacket(read, rows);
        // Station, command and sequence byte go before the rows.
        Check(rows.size() + 3 <= 250);
        if (!good) {
            Check(reader.Line() >= 1);
            return;
        }
    } while (!reader.AtEnd());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (TableRows kind :
         {TableRows::BellTable, TableRows::JobNumbers, TableRows::PinNumbers, TableRows::Messages})
        ReadAll(kind, data, size);

    const std::string file = WorkDir() + "/table.txt";
    WriteFile(file, std::string(reinterpret_cast<const char*>(data), size));
    for (const char letter : {'C', 'E', 'F', 'R', 'P'}) {
        FuzzRig rig(1);
        PollState& ps = rig.ps;
        ps.InputFileName = file;
        ps.JobTableDigit = size % 2 == 0 ? '1' : '2';
        int frames = 0;
        rig.serial.onWrite = [&](const std::vector<uint8_t>& w) {
            if (w.size() < 3)
                return;
            Check(w.size() <= 256);
            // Some packets are rejected, depending on the input's size.
            rig.AnswerSoon((frames++ * 7 + size) % 5 == 0 ? 0xA0 : 0xA1);
        };
        Interpreter(CommandContext{ps, rig.exchange, rig.status, rig.time, rig.op, rig.timer4})
            .RunCommand(letter);
        Check(ps.PollStatus == ceOK || ps.PollStatus == ceClockReceivedDataError ||
              ps.PollStatus == ceInputFileLine);
        // The whole file is checked first: a malformed line sends nothing at all.
        Check(ps.PollStatus != ceInputFileLine || frames == 0);
    }
    std::remove(file.c_str());
    return 0;
}
