// The two downloads the program drives packet by packet: get_times, which appends the
// clock's punch records to the data file, and get_message_list, which replaces the data
// file with the clock's message list. One loop serves both; each has its own request
// sequence and what it does with a packet.
#pragma once

#include "CommandContext.h"
#include "core/ClockError.h"

#include <cstdint>
#include <string>

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

    // Each download returns its result.
    ClockError GetTimes();
    ClockError GetMessageList();

private:
    struct Fetch;
    // Asks, retries and takes packets until the download ends; returns its result.
    ClockError Download(const Fetch& fetch);
    ClockError TakeRecords(TextFile& file);
    ClockError TakeMessageList(TextFile& file);
    // Counts a failed attempt: the retry count, then the memo line, then the retry panel.
    void Retrying(const std::string& line, bool addLine);

    CommandContext ctx_;
    DownloadOptions options_;
};
