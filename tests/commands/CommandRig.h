// A command context wired to the fakes, with a scripted clock that answers each written
// frame from a queue of replies (an empty queue, or a silent entry, leaves it unanswered).
#pragma once

#include "../support/Fakes.h"
#include "../support/RecordingProgress.h"
#include "commands/CommandContext.h"
#include "interpreter/Interpreter.h"
#include "core/PollState.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct CommandRig {
    PollState ps;
    FakeRig rig{ps};
    RecordingProgress progress{rig.time};
    CommandContext ctx{ps, rig.exchange, rig.status, rig.time, rig.op, rig.timer4,
                       /*net=*/nullptr, /*texts=*/nullptr, progress};
    // Frames written to the link, without the serial preamble.
    std::vector<std::vector<uint8_t>> frames;
    std::vector<int64_t> sentAt;  // the fake time each frame was written
    std::deque<std::optional<std::vector<uint8_t>>> replies;
    int64_t replyDelayMs = 100;
    // When set, answers each frame instead of the queue.
    std::function<void(const std::vector<uint8_t>&)> answer;

    explicit CommandRig(int station = 7)
    {
        ps.SetStation(station);
        rig.OnFrame([this](const std::vector<uint8_t>& w) { OnFrame(w); });
    }

    uint8_t Station() const { return static_cast<uint8_t>(ps.StationByte); }
    void Reply(const std::vector<uint8_t>& bytes, int times = 1)
    {
        for (int i = 0; i < times; ++i) replies.emplace_back(bytes);
    }
    void Silence(int times = 1)
    {
        for (int i = 0; i < times; ++i) replies.emplace_back(std::nullopt);
    }
    // A reply from this station; its TCP form ends with two terminators.
    std::vector<uint8_t> Packet(uint8_t code, const std::vector<uint8_t>& payload = {}) const
    {
        return ReplyFrame(Station(), code, payload, Terminators());
    }
    std::vector<uint8_t> Accepted() const { return Packet(0xE6); }
    std::vector<uint8_t> Busy() const { return Packet(0xB0); }
    std::vector<uint8_t> Rejected() const { return Packet(0xA0); }
    int Terminators() const { return rig.selection.network ? 2 : 1; }
    // Delivers bytes over the selected link replyDelayMs from now.
    void ReplyLater(const std::vector<uint8_t>& bytes) { rig.Deliver(replyDelayMs, bytes); }
    // Lines of the status display log that are memo operations (not panel updates).
    std::vector<std::string> MemoLog() const { return Log("panel", false); }
    // Lines of the status display log that start with `prefix` (or, with false, do not).
    std::vector<std::string> Log(const std::string& prefix, bool with = true) const
    {
        std::vector<std::string> out;
        for (const auto& l : rig.status.log)
            if ((l.rfind(prefix, 0) == 0) == with)
                out.push_back(l);
        return out;
    }

private:
    void OnFrame(const std::vector<uint8_t>& w)
    {
        frames.push_back(w);
        sentAt.push_back(rig.time.NowMs());
        if (answer)
            answer(w);
        if (answer || replies.empty())
            return;
        auto next = replies.front();
        replies.pop_front();
        if (!next)
            return;
        ReplyLater(*next);
    }
};

// One command run on the rig: the results file and the command's input file (when it has
// one) in a fresh folder, and the status display holding the keyword line, as the run
// driver leaves it before the command starts.
struct CommandTest : ::testing::Test {
    CommandRig r;
    Interpreter interp{r.ctx};
    std::string dir = MakeTempDir();
    std::string results = dir + "/results.txt";
    std::string data;

    explicit CommandTest(const std::string& input = "") : data(input.empty() ? "" : dir + "/" + input)
    {
        r.ps.LogFileName = results;
        if (!input.empty())
            r.ps.InputFileName = data;
        r.rig.status.AddStatusLine("keyword");
        r.rig.status.log.clear();
    }
    // Replaces the command's input file with `text`, byte for byte.
    void WriteData(const std::string& text) const { std::ofstream(data, std::ios::binary) << text; }
    // Starts the next row afresh: no frames, replies or memo operations, no results file.
    void Fresh()
    {
        r.frames.clear();
        r.sentAt.clear();
        r.replies.clear();
        r.rig.status.log.clear();
        std::remove(results.c_str());
    }
};

// A line of the results file for station 7: the keyword padded to 21 characters, the code.
inline std::string ResultLine(const std::string& keyword, const std::string& code)
{
    return "07 " + keyword + std::string(keyword.size() < 21 ? 21 - keyword.size() : 1, ' ') + code + "\r\n\r";
}

// `text` `times` over, for strings and byte vectors alike.
template <typename T>
T Repeat(const T& text, int times)
{
    T out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), text.begin(), text.end());
    return out;
}
inline std::string Repeat(const char* text, int times)
{
    return Repeat(std::string(text), times);
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The request frame as the serial line carries it: station, command, payload, digits, 0xFF.
inline std::vector<uint8_t> Request(uint8_t station, uint8_t command,
                                    const std::vector<uint8_t>& payload = {})
{
    return ReplyFrame(station, command, payload, 1);
}
