// Feeds arbitrary bytes to the modem dial-up as its modem string file and as the modem's
// answers: the first byte says how many of the following bytes are the file, the rest are
// the replies to each line sent. Every line must fit the request buffer, the wait for an
// answer must end, and the result must be one of the known codes.
#include "core/PollState.h"
#include "fuzz/FuzzSupport.h"
#include "core/ClockError.h"
#include "session/ModemLink.h"
#include "support/Fakes.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // 0xFF makes every byte after it the file, for files longer than 254 bytes.
    const size_t fileBytes = std::min<size_t>(size - 1, data[0] == 0xFF ? size - 1 : data[0]);
    static const std::string file = WorkDir() + "/modem.txt";
    WriteFile(file, std::string(reinterpret_cast<const char*>(data + 1), fileBytes));

    FuzzRig rig(1);
    PollState& ps = rig.ps;
    ps.InputFileName = file;
    ScriptedReplies replies(rig, data + 1 + fileBytes, size - 1 - fileBytes);
    ModemLink modem(ps, rig.exchange, rig.status, nullptr);
    const int result = ClockErrorNumber(modem.ModemConnect());
    Check(result >= 0 && result < kClockErrorCount);
    for (const auto& w : rig.serial.writes) Check(w.size() <= rig.exchange.Request().size());
    modem.CloseModemFile();
    return 0;
}
