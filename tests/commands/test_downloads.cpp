#include "CommandRig.h"
#include "commands/DownloadFormat.h"
#include "interpreter/Interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

TEST(RecordFormat, recordLinesByteForByte)
{
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string line;
    } rows[] = {
        {"seven bytes", Bytes({0x12, 0x34, 0x56, 0x07, 0x30, 0x01, 0x02, 0xF0}), "05,123456,0730,01,02\n\r"},
        {"bytes after the 7th run on", Bytes({0x12, 0x34, 0x56, 0x07, 0x30, 0x01, 0x02, 0x99, 0x88, 0xF0}),
         "05,123456,0730,01,029988\n\r"},
        {"two records, the last ending the packet",
         Bytes({0x12, 0x34, 0x56, 0x07, 0x30, 0x01, 0x02, 0xF0, 0x65, 0x43, 0x21, 0x17, 0x45, 0x31, 0x12,
                0xF0}),
         "05,123456,0730,01,02\n\r05,654321,1745,31,12\n\r"},
        {"nibbles past 9", Bytes({0xAB, 0xCD, 0xEF, 0xF0}), "05,:;<=>?\n\r"},
        {"one job-code sub-group, level digits kept",
         Bytes({0x12, 0x34, 0x56, 0x07, 0x30, 0x01, 0x02, 0xFE, 0x01, 0x12, 0x34, 0xF0}),
         "05,123456,0730,01,02,011234\n\r"},
        {"sub-groups for levels 2 and 1 written level 1 first",
         Bytes({0x12, 0x34, 0x56, 0x07, 0x30, 0x01, 0x02, 0xFE, 0x02, 0x56, 0xFE, 0x01, 0x12, 0xF0}),
         "05,123456,0730,01,02,1256\n\r"},
        {"levels 3, 1, 1 again and 2: the first of each level, no level 4",
         Bytes({0x11, 0xFE, 0x03, 0x33, 0xFE, 0x01, 0x11, 0xFE, 0x01, 0x99, 0xFE, 0x02, 0x22, 0x45, 0xF0}),
         "05,11,11224533\n\r"},
        {"a group as the 6th byte counts as a byte",
         Bytes({0x12, 0x34, 0x56, 0x07, 0x30, 0xFE, 0x01, 0x12, 0xF0}), "05,123456,0730,,0112\n\r"},
        {"a packet that stops inside a record ends its line", Bytes({0x12, 0x34, 0xF0, 0x56, 0x78}),
         "05,1234\n\r05,5678\n\r"},
        {"an empty record", Bytes({0xF0}), "05,\n\r"},
        {"nothing", {}, ""},
    };
    for (const auto& row : rows) EXPECT_EQ(FormatRecords("05", row.bytes), row.line) << row.what;
}

TEST(RecordFormat, messageTextKeepsBytesAndEndsLinesWithLfCr)
{
    EXPECT_EQ(FormatMessageText(Bytes({'H', 'i', 0x0A, 0x0D, 'x', 0x1A, 0x0A})), "Hi\n\r\rx\x1A\n\r");
}

// Records of `count` seven-byte records, numbered from `first`, ending in 0xF0 each.
std::vector<uint8_t> RecordBytes(int first, int count)
{
    std::vector<uint8_t> out;
    for (int i = first; i < first + count; ++i)
        out.insert(out.end(), {0x10, 0x00, static_cast<uint8_t>(i), 0x07, 0x30, 0x01, 0x02, 0xF0});
    return out;
}

std::string RecordLines(int first, int count)
{
    std::string out;
    for (int i = first; i < first + count; ++i) {
        const char d[] = {static_cast<char>('0' + (i >> 4)), static_cast<char>('0' + (i & 15)), 0};
        out += std::string("07,1000") + d + ",0730,01,02\r\n\r";
    }
    return out;
}

// The downloads over the network link.
struct DownloadsTest : CommandTest {
    DownloadsTest() : CommandTest("times.txt") { r.rig.selection.network = true; }
    std::vector<uint8_t> Times(int first, int count) const
    {
        return r.Packet(0xA2, Concat({{0x01}, RecordBytes(first, count)}));
    }
    std::vector<uint8_t> End(uint8_t d0 = 0x01) const { return r.Packet(0xA2, {d0}); }
    // The command byte of each frame sent, with the sequence byte of a frame that has one.
    std::string Requests() const
    {
        std::string out;
        char hex[8];
        for (const auto& f : r.frames) {
            std::snprintf(hex, sizeof hex, f.size() > 8 ? "%02X%02X " : "%02X ", f[1], f[2]);
            out += hex;
        }
        return out;
    }
};

// (Records appended to an earlier file and the end acknowledged are checked end to end by the
// download_tcp scenario.)

// The clock does not say how many records it holds: packets and records so far, and the
// rate once it is measured; the message list counts its packets and lines.
TEST_F(DownloadsTest, progressCountsPacketsAndRecordsWithTheRate)
{
    r.replyDelayMs = 2000;
    r.Reply(Times(1, 4));
    r.Reply(Times(5, 4));
    r.Reply(End());
    interp.RunCommand('B');
    EXPECT_EQ(r.progress.log, (std::vector<std::string>{"begin Records received from the clock 0",
                                                        "1 packets - 4 records, 2.0 records/s",
                                                        "2 packets - 8 records, 2.0 records/s", "end"}));
    r.progress.log.clear();
    r.Reply(r.Packet(0xB4, {0x01, 'O', 'n', 'e', 0x0A}));
    r.Reply(r.Packet(0xB4, {0x00, 'T', 'w', 'o', 0x0A}));
    interp.RunCommand('Q');
    EXPECT_EQ(r.progress.log, (std::vector<std::string>{"begin Message list packets received from the clock 0",
                                                        "1 lines - 1 packets, 0.5 packets/s",
                                                        "2 lines - 2 packets, 0.5 packets/s", "end"}));
}

TEST_F(DownloadsTest, theEndPacketAloneWritesNothingAndItsZeroByteIsAChecksumError)
{
    r.Reply(End());
    interp.RunCommand('B');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(Requests(), "A2 A1 ");
    EXPECT_EQ(ReadFileBytes(data), "");

    r.frames.clear();
    r.Reply(End(0x00));
    interp.RunCommand('B');
    EXPECT_EQ(r.ps.PollStatus, ceChecksum);
    EXPECT_EQ(Requests(), "A2 A1 ");
    EXPECT_EQ(r.rig.status.Lines().back(), "get_times         - Checksum Error");
}

// One failed reply after the first stored packet: what is asked next, how long the
// program waits before asking, which memo lines it adds, and that each packet is stored
// exactly once, whether the clock took the acknowledgement (and hands out the next packet)
// or never saw it (and hands out the stored packet again).
TEST_F(DownloadsTest, eachFailureAsksAgainTheWayTheClockExpects)
{
    const auto badCrc = [this] {
        auto p = Times(3, 1);
        p[p.size() - 3] ^= 0x01;
        return p;
    };
    const struct {
        const char* what;
        std::optional<std::vector<uint8_t>> failed;
        std::string requests;
        int64_t pauseMs;  // from the failed reply's request to the next request, at least
        std::vector<std::string> added;
    } rows[] = {
        {"silence",
         std::nullopt,
         "A2 AB A2 AB A1 ",
         7000,
         {"add:get_times         - No Data Received from Clock", "add:get_times - Retrying"}},
        {"bad digits",
         badCrc(),
         "A2 AB A0 AB A1 ",
         0,
         {"add:get_times         - CRC Data Error", "add:get_times - Retrying"}},
        {"wrong station",
         ReplyFrame(0xC8, 0xA2, {0x01, 0xF0}, 2),
         "A2 AB A2 AB A1 ",
         6000,
         {"add:get_times - Retrying"}},
        {"busy", r.Busy(), "A2 AB A2 AB A1 ", 4000, {"add:get_times - Retrying"}},
        {"wrong reply code", r.Rejected(), "A2 AB A2 AB A1 ", 6000, {"add:get_times - Retrying"}},
    };
    for (const auto& row : rows)
        for (const bool ackLost : {false, true}) {
            SCOPED_TRACE(std::string(row.what) + (ackLost ? ", acknowledgement lost" : ""));
            Fresh();
            std::remove(data.c_str());
            r.Reply(Times(1, 2));
            r.replies.push_back(row.failed);  // none: silence
            if (ackLost)
                r.Reply(Times(1, 2));
            r.Reply(Times(3, 1));
            r.Reply(End());
            interp.RunCommand('B');
            EXPECT_EQ(r.ps.PollStatus, ceOK);
            EXPECT_EQ(Requests(),
                      ackLost ? row.requests.substr(0, 9) + "AB " + row.requests.substr(9) : row.requests);
            EXPECT_EQ(ReadFileBytes(data), RecordLines(1, 3));
            ASSERT_GE(r.sentAt.size(), 3u);
            EXPECT_GE(r.sentAt[2] - r.sentAt[1], row.pauseMs);
            EXPECT_LT(r.sentAt[2] - r.sentAt[1], row.pauseMs + 2000);
            auto expected = row.added;
            expected.push_back("add:get_times         - OK");
            EXPECT_EQ(r.Log("add:"), expected);
            EXPECT_EQ(r.rig.status.ReadPanel(Panel::Retry), "Retry 1");
        }
}

// Equal packets with no failure between them are records the clock holds twice: both are
// stored. Only right after a failed acknowledgement is an equal packet the stored one again,
// and one copy is dropped, after which equal packets count again.
TEST_F(DownloadsTest, equalPacketsAreDroppedOnlyAfterAFailedAcknowledgement)
{
    r.Reply(Times(1, 2), 2);
    r.Silence();
    r.Reply(Times(1, 2), 2);
    r.Reply(End());
    interp.RunCommand('B');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(Requests(), "A2 AB AB A2 AB AB A1 ");
    EXPECT_EQ(ReadFileBytes(data), RecordLines(1, 2) + RecordLines(1, 2) + RecordLines(1, 2));
}

TEST_F(DownloadsTest, theFourthFailureInARowEndsButAStoredPacketStartsTheCountAgain)
{
    r.Silence(3);
    r.Reply(Times(1, 1));
    r.Reply(r.Busy(), 3);
    r.Reply(Times(2, 1));
    r.Reply(End());
    interp.RunCommand('B');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(ReadFileBytes(data), RecordLines(1, 2));

    Fresh();
    r.ps.CommandKeyword = "get_times";
    r.Silence(4);
    interp.RunCommand('B');
    EXPECT_EQ(r.ps.PollStatus, ceNoData);
    EXPECT_EQ(Requests(), "A2 A2 A2 A2 ");
    EXPECT_EQ(r.ps.RetryCount, 3);
    EXPECT_EQ(r.rig.status.Lines().back(), "get_times         - No Data Received from Clock");
    EXPECT_EQ(ReadFileBytes(results), ResultLine("get_times", "01"));
}

// (A file on a full disk, or one that fills, is an end-to-end case of the file-fault tests.)
TEST_F(DownloadsTest, aFileThatCannotBeOpenedAsksForNothing)
{
    r.ps.InputFileName = dir + "/no/such/folder/times.txt";
    interp.RunCommand('B');
    EXPECT_EQ(r.ps.PollStatus, ceCantOpenFile);
    EXPECT_TRUE(r.frames.empty());
}

// A clock that acted on a continuation whose reply was spoiled has moved on: asking 0x02
// again would get the packet after the lost one. Every failure starts the list again, and
// the file holds the list once.
TEST_F(DownloadsTest, messageListStartsAgainAfterAnyFailedContinuationAndHoldsTheListOnce)
{
    const auto first = r.Packet(0xB4, {0x01, 'O', 'n', 'e', 0x0A});
    const auto second = r.Packet(0xB4, {0x00, 'T', 'w', 'o'});
    auto bad = second;
    bad[bad.size() - 3] ^= 0x01;
    const struct {
        const char* what;
        std::optional<std::vector<uint8_t>> failed;
    } rows[] = {
        {"silence", std::nullopt},
        {"bad digits", bad},
        {"busy", r.Busy()},
        {"wrong station", ReplyFrame(0xC8, 0xB4, {0x00, 'T', 'w', 'o'}, 2)},
        {"wrong reply code", r.Packet(0xA2, {0x00})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        r.frames.clear();
        r.Reply(first);
        r.replies.push_back(row.failed);  // none: silence
        r.Reply(first);
        r.Reply(second);
        interp.RunCommand('Q');
        EXPECT_EQ(r.ps.PollStatus, ceOK);
        EXPECT_EQ(Requests(), "B401 B402 B401 B402 ");
        EXPECT_EQ(ReadFileBytes(data), "One\r\n\rTwo");
    }

    // A list emptied in the meantime leaves an empty file, not the first start's packet.
    r.frames.clear();
    r.Reply(first);
    r.Silence();
    r.Reply(r.Packet(0xB4, {0x00}));
    interp.RunCommand('Q');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(ReadFileBytes(data), "");

    // Packets fetched again after a restart are no progress: a clock that fails the same
    // continuation every time ends the command at the fourth failure in a row.
    Fresh();
    for (int i = 0; i < 4; ++i) {
        r.Reply(first);
        r.Silence();
    }
    r.Reply(first, 2);
    interp.RunCommand('Q');
    EXPECT_EQ(r.ps.PollStatus, ceNoData);
    EXPECT_EQ(Requests(), "B401 B402 B401 B402 B401 B402 B401 B402 ");
    EXPECT_EQ(r.rig.status.ReadPanel(Panel::Retry), "Retry 3");
}

TEST_F(DownloadsTest, messageListWaitsOnlyForABusyClock)
{
    r.Reply(r.Busy());
    r.Reply(ReplyFrame(0xC8, 0xB4, {0x00}, 2));
    r.Reply(r.Packet(0xA2, {0x00}));
    r.Silence(1);
    interp.RunCommand('Q');
    EXPECT_EQ(r.ps.PollStatus, ceNoData);
    EXPECT_EQ(Requests(), "B401 B401 B401 B401 ");
    ASSERT_EQ(r.sentAt.size(), 4u);
    EXPECT_GE(r.sentAt[1] - r.sentAt[0], 4000);
    EXPECT_LT(r.sentAt[2] - r.sentAt[1], 1000);
    EXPECT_LT(r.sentAt[3] - r.sentAt[2], 1000);
    const auto log = r.MemoLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "replace:get_message_list - Station Error Please Wait..."),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "replace:get_message_list - Command Error Please Wait..."),
              log.end());
    EXPECT_EQ(log.back(), "replace:get_message_list  - No Data Received from Clock");
}

}  // namespace
