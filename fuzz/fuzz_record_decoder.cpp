// Feeds arbitrary bytes to the punch-record and message-list decoders, alone and as the
// data of a packet that get_times and get_message_list receive from a simulated clock.
// Every record line must start with the station and end LF CR and hold only digit
// characters and commas; nothing may crash, hang or read outside the receive buffer.
#include "commands/CommandContext.h"
#include "commands/DownloadFormat.h"
#include "commands/Downloads.h"
#include "core/PollState.h"
#include "fuzz/FuzzSupport.h"
#include "interpreter/CommandTable.h"
#include "support/Fakes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

namespace {

void CheckRecordLines(const std::string& text, size_t endMarks)
{
    size_t lines = 0;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\n\r", at);
        Check(end != std::string::npos);
        Check(text.compare(at, 3, "05,") == 0);
        for (size_t i = at + 3; i < end; ++i) Check(text[i] == ',' || (text[i] >= 0x30 && text[i] <= 0x3F));
        at = end + 2;
        ++lines;
    }
    // One line per record end, and one more for a record the packet stopped inside.
    Check(lines == endMarks || lines == endMarks + 1);
}

// The clock answers the first request with the fuzz bytes as its packet data and then
// reports the end of the data.
void RunDownload(char letter, uint8_t code, const uint8_t* data, size_t size)
{
    FuzzRig rig(5, true, 100000);
    PollState& ps = rig.ps;
    ps.InputFileName = WorkDir() + "/data.txt";
    std::vector<uint8_t> payload(data, data + std::min<size_t>(size, 240));
    int requests = 0;
    rig.net.onWrite = [&](const std::vector<uint8_t>&) {
        const auto reply = ReplyFrame(0xC5, code, ++requests == 1 ? payload : std::vector<uint8_t>{0x00}, 2);
        rig.pump.After(20, [&rig, reply] { rig.exchange.ClientSocket1Read(reply); });
    };
    CommandContext ctx{ps, rig.exchange, rig.status, rig.time, rig.op, rig.timer4, nullptr,
                       &FindCommand(letter)->texts};
    Downloads downloads(ctx, {.syncEachPacket = false});
    if (letter == 'B')
        downloads.GetTimes();
    else
        downloads.GetMessageList();
    std::remove(ps.InputFileName.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    size_t endMarks = 0;
    for (uint8_t b : bytes) endMarks += b == 0xF0;
    CheckRecordLines(FormatRecords("05", bytes), endMarks);

    const std::string text = FormatMessageText(bytes);
    size_t lineFeeds = 0;
    for (uint8_t b : bytes) lineFeeds += b == 0x0A;
    Check(text.size() == size + lineFeeds);

    RunDownload('B', 0xA2, data, size);
    RunDownload('Q', 0xB4, data, size);
    return 0;
}
