// The two downloads the program drives packet by packet: get_times, which appends the
// clock's punch records to the data file, and get_message_list, which replaces the data
// file with the clock's message list. Each has its own request sequence and retry policy.
#pragma once

#include "CommandContext.h"
#include "core/ClockError.h"

#include <cstdint>

class TextFile;

struct DownloadOptions {
    // Each packet of records reaches the disk (fsync) before the clock is asked for the
    // next one or acknowledged. Only a benchmark turns this off, to weigh its cost.
    bool syncEachPacket = true;
};

class Downloads {
public:
    explicit Downloads(const CommandContext& ctx, DownloadOptions options = {}) : ctx_(ctx), options_(options)
    {
    }

    void GetTimes();
    void GetMessageList();

private:
    ClockError TakeRecords(TextFile& file);
    ClockError TakeMessageList(TextFile& file);
    // Counts a failed attempt: the retry count, then the memo line, then the retry panel.
    void Retrying(const char* line, bool addLine);

    CommandContext ctx_;
    DownloadOptions options_;
};
