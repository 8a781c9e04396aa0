#include "core/PollState.h"
#include "core/ClockError.h"
#include "link/Framing.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace {

class ExchangeTest : public ::testing::Test {
protected:
    PollState ps;
    FakeRig rig{ps};
    void SetUp() override { ps.SetStation(1); }
    ClockError SendStatusRequest()
    {
        return rig.exchange.SendRequest(BuildRequest(rig.exchange.Request(), 0xC1, frame::cmdGetStatus));
    }
};

TEST_F(ExchangeTest, eachLinkGetsItsOwnFormAndFailuresReportPortTransmitterError_acksWaitTwoTicks)
{
    ASSERT_EQ(SendStatusRequest(), ceOK);
    ASSERT_EQ(rig.serial.writes.size(), 2u);
    EXPECT_EQ(rig.serial.writes[0], Bytes({0x55, 0x55})) << "the preamble goes alone";
    EXPECT_EQ(rig.serial.writes[1], Bytes({0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF}));
    EXPECT_EQ(rig.timer1.fired, 1) << "the frame follows one pause of the 2 ms timer";

    rig.serial.cts = false;
    EXPECT_EQ(SendStatusRequest(), cePortTransmitter);
    EXPECT_EQ(rig.serial.writes.size(), 2u) << "nothing is written without CTS";
    rig.serial.cts = true;
    rig.serial.failWrites = true;
    EXPECT_EQ(SendStatusRequest(), cePortTransmitter);
    // Never read past the request buffer, whose TCP form is one byte longer.
    EXPECT_EQ(rig.exchange.SendRequest(256), cePortTransmitter);
    EXPECT_EQ(rig.exchange.SendRequest(0), cePortTransmitter);

    rig.selection.network = true;
    ASSERT_EQ(SendStatusRequest(), ceOK);
    ASSERT_EQ(rig.net.writes.size(), 1u);
    EXPECT_EQ(rig.net.writes[0], Bytes({0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF, 0xFF}));
    // An acknowledgement expects no reply: it waits out two ticks.
    const int64_t start = rig.time.NowMs();
    EXPECT_EQ(rig.exchange.Acknowledge(0xC1), WaitResult::TimedOut);
    EXPECT_EQ(rig.net.writes.back(), Bytes({0xC1, 0xA1, '8', '0', ':', '>', 0xFF, 0xFF}));
    EXPECT_GT(rig.time.NowMs() - start, 1000);
    EXPECT_LE(rig.time.NowMs() - start, 2000);
    rig.net.fail = true;
    EXPECT_EQ(SendStatusRequest(), cePortTransmitter);
}

// How received chunks become a reply: a chunk ending in 0xFF completes it, its length is
// recorded (one less on TCP, so the digits sit where they do on serial), and a count past
// 255 wraps inside the buffer.
TEST_F(ExchangeTest, chunksCompleteAReplyOnlyWhenOneEndsInTheTerminator)
{
    const auto withPayloadFF = ReplyFrame(0xC1, 0xE6, {0xFF, 0x10});
    const std::size_t n = withPayloadFF.size();
    const auto tcpAck = ReplyFrame(0xC1, 0xA1, {}, 2);
    std::vector<uint8_t> junk(300, 0x41);
    junk.back() = 0xFF;
    const auto part = [](const std::vector<uint8_t>& bytes, std::size_t from, std::size_t to) {
        return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const auto head = part(withPayloadFF, 0, 2), tail = part(withPayloadFF, 2, n);
    const struct {
        const char* name;
        bool network;
        std::vector<std::vector<uint8_t>> chunks;
        ClockError expected;
        std::size_t replyLength;
        std::size_t received;
    } rows[] = {
        {"serial, a payload 0xFF inside a chunk", false, {head, tail}, ceOK, n, n},
        {"tcp, two terminators", true, {tcpAck}, ceOK, 7, 8},
        {"serial, 300 bytes wrap", false, {junk}, ceCrc, 300 % 256, 300 % 256},
        {"serial, no terminator records no length", false, {Bytes({0xC1, 0xA1})}, ceNoData, 0, 2},
        // The first read ends the reply; the second terminator comes too late for it.
        {"tcp, terminator split across reads", true, {part(tcpAck, 0, 7), part(tcpAck, 7, 8)}, ceCrc, 6, 7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        rig.selection.network = row.network;
        SendStatusRequest();
        int64_t delay = 100;
        for (const auto& chunk : row.chunks) rig.Deliver(delay += 50, chunk);
        EXPECT_EQ(rig.exchange.AwaitReply(), row.expected);
        EXPECT_EQ(rig.exchange.Reply().size(), row.replyLength);
        EXPECT_EQ(rig.exchange.Received().size(), row.received);
        if (!row.network && row.replyLength > 0) {
            EXPECT_EQ(rig.exchange.Reply().back(), 0xFF) << "a serial reply ends in its terminator";
        }
    }
}

struct ReplyCase {
    const char* name;
    std::vector<uint8_t> reply;
    ClockError expected;
    ReplyCheck check{};
};

TEST_F(ExchangeTest, replyChecksRunInOrderCrcStationCode)
{
    auto badCrc = ReplyFrame(0xC2, 0xA1);
    badCrc[2] ^= 1;
    const ReplyCheck kStatus{.dataReply = 0xAD, .stationFirst = false, .ticks = 3};
    const ReplyCheck kRecords{.dataReply = 0xA2, .stationFirst = true, .ticks = 8};
    const std::vector<ReplyCase> cases = {
        {"ack", ReplyFrame(0xC1, 0xA1), ceOK},
        {"accepted", ReplyFrame(0xC1, 0xE6), ceOK},
        {"rejected", ReplyFrame(0xC1, 0xA0), ceClockReceivedDataError},
        {"busy", ReplyFrame(0xC1, 0xB0), ceBusy},
        {"other code", ReplyFrame(0xC1, 0xAD, {1, 2}), ceWrongCommand},
        {"wrong station, good crc", ReplyFrame(0xC2, 0xA1), ceWrongStation},
        {"wrong station, bad crc", badCrc, ceCrc},
        {"shorter than five bytes", Bytes({0xC1, 0xFF}), ceCrc},
        {"digits only", Bytes({0x30, 0x30, 0x30, 0x30, 0xFF}), ceCrc},
        {"terminator alone", Bytes({0xFF}), ceCrc},
        // A data reply: busy before station, the station only on the reply awaited.
        {"status", ReplyFrame(0xC1, 0xAD, {1}), ceOK, kStatus},
        {"status from another station", ReplyFrame(0xC2, 0xAD, {1}), ceWrongStation, kStatus},
        {"busy from another station", ReplyFrame(0xC2, 0xB0), ceBusy, kStatus},
        {"acknowledgement instead of status", ReplyFrame(0xC1, 0xE6), ceWrongCommand, kStatus},
        {"rejected instead of status", ReplyFrame(0xC1, 0xA0), ceWrongCommand, kStatus},
        {"status with bad crc", badCrc, ceCrc, kStatus},
        {"records from another station", ReplyFrame(0xC2, 0xB0), ceWrongStation, kRecords},
    };
    for (const auto& c : cases) {
        rig.ReplyAfter(200, c.reply);
        SendStatusRequest();
        EXPECT_EQ(rig.exchange.AwaitReply(c.check), c.expected) << c.name;
    }
}

TEST_F(ExchangeTest, silenceGivesNoDataAfterFourTicksOrTenWithModemOrTheChecksOwn)
{
    const struct {
        bool modem;
        ReplyCheck check;
        int64_t moreThanMs, atMostMs;
    } rows[] = {{false, {}, 3000, 4000}, {true, {}, 9000, 10000}, {true, {.ticks = 3}, 2000, 3000}};
    for (const auto& row : rows) {
        ps.ModemInUse = row.modem;
        SendStatusRequest();
        const int64_t start = rig.time.NowMs();
        EXPECT_EQ(rig.exchange.AwaitReply(row.check), ceNoData);
        EXPECT_GT(rig.time.NowMs() - start, row.moreThanMs);
        EXPECT_LE(rig.time.NowMs() - start, row.atMostMs);
    }
}

TEST_F(ExchangeTest, replyCompletingOnTheLastTickCountsAsTimeout)
{
    SendStatusRequest();
    rig.time.SetMs((rig.time.NowMs() / 1000) * 1000 + 100);
    const int64_t lastTick = (rig.time.NowMs() / 1000 + 4) * 1000;
    // Delivered in the same pass that counts the fourth tick.
    rig.pump.After(lastTick - rig.time.NowMs() - 1, [&] {
        rig.time.Advance(1);
        rig.exchange.ZylSerialPort1Receive(ReplyFrame(0xC1, 0xA1));
    });
    EXPECT_EQ(rig.exchange.AwaitReply(), ceTerminator);
}

TEST_F(ExchangeTest, aReplyCompletedBeforeTheWaitEndsWaitTicksAtOnceButIsNeverAccepted)
{
    SendStatusRequest();
    rig.exchange.ZylSerialPort1Receive(ReplyFrame(0xC1, 0xA1));
    EXPECT_TRUE(rig.exchange.ReplyComplete());
    const int64_t start = rig.time.NowMs();
    EXPECT_EQ(rig.exchange.WaitTicks(4), WaitResult::ReplyComplete);
    EXPECT_LT(rig.time.NowMs() - start, 1000);
    EXPECT_NE(rig.exchange.AwaitReply(), ceOK);

    const int64_t before = rig.time.NowMs();
    rig.exchange.WaitSeconds(5);
    const int64_t waited = rig.time.NowMs() - before;
    EXPECT_GT(waited, 4000) << "WaitSeconds does not end on a reply";
    EXPECT_LE(waited, 5000);
}

}  // namespace
