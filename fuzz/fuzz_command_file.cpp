// Feeds arbitrary bytes to the command-file run as its command file: the tokenizer, the
// keyword parameters, init_clock lines and the commands they start, against a simulated
// clock that acknowledges every frame. Nothing may crash, hang or write outside a buffer.
#include "commands/CommandContext.h"
#include "interpreter/Interpreter.h"
#include "core/PollState.h"
#include "fuzz/FuzzSupport.h"
#include "session/RunDriver.h"
#include "support/FakeFindUi.h"
#include "support/Fakes.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

struct Net : INetConnection {
    ClockError Connect() override { return ceOK; }
    void Deactivate() override {}
};

struct Modem : IModemControl {
    ClockError ModemConnect() override { return ceOK; }
    void ModemReset() override {}
    void CloseModemFile() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string dir = WorkDir();
    const std::string cmd = dir + "/fuzz.cmd";
    WriteFile(cmd, std::string(reinterpret_cast<const char*>(data), size));
    // Data files named in the input land in the work folder, never elsewhere.
    if (chdir(dir.c_str()) != 0)
        return 0;

    FuzzRig rig(1);
    PollState& ps = rig.ps;
    // Every frame is acknowledged after 20 ms.
    rig.serial.onWrite = [&rig](const std::vector<uint8_t>& w) {
        if (w.size() >= 3)
            rig.AnswerSoon(0xA1);
    };
    FakeRunUi ui;  // every port but COM7 exists
    for (int n = 1; n <= 50; ++n)
        if (n != 7)
            ui.ports.insert(n);
    FakeSerial serial;
    Net net;
    Modem modem;
    Interpreter interpreter(CommandContext{ps, rig.exchange, rig.status, rig.time, rig.op, rig.timer4});
    RunDriver driver(ps, rig.status, ui, rig.selection, rig.pump, rig.exchange, serial, net, modem,
                     [&interpreter](char c) { interpreter.RunCommand(c); });
    ps.Unattended = true;
    ps.InputFileName = cmd;
    ps.LogFileName = dir + "/results.txt";
    driver.Run();
    std::remove(ps.LogFileName.c_str());
    return 0;
}
