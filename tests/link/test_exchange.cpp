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
        const int len = BuildRequest(ps, 0xC1, frame::cmdGetStatus);
        return rig.exchange.SendFrame(ps.RequestBuffer.data(), len);
    }
};

TEST_F(ExchangeTest, serialSendWritesPreambleAloneThenFrameWithOneTerminator)
{
    ASSERT_EQ(SendStatusRequest(), ceOK);
    ASSERT_EQ(rig.serial.writes.size(), 2u);
    EXPECT_EQ(rig.serial.writes[0], Bytes({0x55, 0x55}));
    EXPECT_EQ(rig.serial.writes[1], Bytes({0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF}));
    EXPECT_EQ(rig.timer1.fired, 1) << "the frame follows one pause of the 2 ms timer";
}

TEST_F(ExchangeTest, networkSendWritesBothTerminatorsAndNoPreamble)
{
    rig.selection.network = true;
    ASSERT_EQ(SendStatusRequest(), ceOK);
    ASSERT_EQ(rig.net.writes.size(), 1u);
    EXPECT_EQ(rig.net.writes[0], Bytes({0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF, 0xFF}));
}

TEST_F(ExchangeTest, sendFailuresReportPortTransmitterError)
{
    rig.serial.cts = false;
    EXPECT_EQ(SendStatusRequest(), cePortTransmitter);
    EXPECT_TRUE(rig.serial.writes.empty()) << "nothing is written without CTS";
    rig.serial.cts = true;
    rig.serial.failWrites = true;
    EXPECT_EQ(SendStatusRequest(), cePortTransmitter);
    EXPECT_EQ(ps.PollStatus, cePortTransmitter);
    rig.selection.network = true;
    rig.net.fail = true;
    EXPECT_EQ(SendStatusRequest(), cePortTransmitter);
}

TEST_F(ExchangeTest, serialReplyInChunksCompletesOnlyOnChunkEndingInTerminator)
{
    SendStatusRequest();
    auto reply = ReplyFrame(0xC1, 0xE6, {0xFF, 0x10});  // a payload 0xFF inside a chunk
    rig.exchange.ZylSerialPort1Receive(std::span(reply.data(), 2));
    EXPECT_FALSE(ps.ReplyComplete);
    rig.exchange.ZylSerialPort1Receive(std::span(reply.data() + 2, reply.size() - 2));
    EXPECT_TRUE(ps.ReplyComplete);
    EXPECT_EQ(ps.ReplyLength, static_cast<int>(reply.size()));
}

TEST_F(ExchangeTest, tcpReplyLengthIsOneLessSoDigitsSitWhereTheyDoOnSerial)
{
    rig.selection.network = true;
    rig.ReplyAfter(300, ReplyFrame(0xC1, 0xA1, {}, 2));
    SendStatusRequest();
    EXPECT_EQ(rig.exchange.AwaitReply(), ceOK);
    EXPECT_EQ(ps.ReplyLength, 7);
}

TEST_F(ExchangeTest, tcpTerminatorSplitAcrossReadsGivesCrcError)
{
    rig.selection.network = true;
    SendStatusRequest();
    auto reply = ReplyFrame(0xC1, 0xA1, {}, 2);
    rig.pump.After(100, [&] { rig.exchange.ClientSocket1Read(std::span(reply.data(), reply.size() - 1)); });
    rig.pump.After(150,
                   [&] { rig.exchange.ClientSocket1Read(std::span(reply.data() + reply.size() - 1, 1)); });
    EXPECT_EQ(rig.exchange.AwaitReply(), ceCrc);
}

TEST_F(ExchangeTest, receiveCountWrapsWithoutLeavingTheBuffer)
{
    SendStatusRequest();
    std::vector<uint8_t> junk(300, 0x41);
    junk.back() = 0xFF;
    rig.exchange.ZylSerialPort1Receive(junk);
    EXPECT_EQ(ps.ReceiveCount, static_cast<uint8_t>(300));
    EXPECT_EQ(ps.ReplyLength, 300 % 256);
    EXPECT_EQ(ps.ReceiveBuffer[43], 0xFF);
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

TEST_F(ExchangeTest, silenceGivesNoDataAfterFourTicksOrTenWithModem)
{
    SendStatusRequest();
    int64_t start = rig.time.NowMs();
    EXPECT_EQ(rig.exchange.AwaitReply(), ceNoData);
    int64_t waited = rig.time.NowMs() - start;
    EXPECT_GT(waited, 3000);
    EXPECT_LE(waited, 4000);

    ps.ModemInUse = true;
    start = rig.time.NowMs();
    EXPECT_EQ(rig.exchange.AwaitReply(), ceNoData);
    waited = rig.time.NowMs() - start;
    EXPECT_GT(waited, 9000);
    EXPECT_LE(waited, 10000);

    // A check with its own wait keeps it, modem or not.
    start = rig.time.NowMs();
    EXPECT_EQ(rig.exchange.AwaitReply({.ticks = 3}), ceNoData);
    waited = rig.time.NowMs() - start;
    EXPECT_GT(waited, 2000);
    EXPECT_LE(waited, 3000);
}

TEST_F(ExchangeTest, bytesWithoutTerminatorGiveTerminatorErrorOnlyOnceALengthWasRecorded)
{
    SendStatusRequest();
    rig.pump.After(500, [&] { rig.exchange.ZylSerialPort1Receive(Bytes({0xC1, 0xA1})); });
    EXPECT_EQ(rig.exchange.AwaitReply(), ceNoData) << "bytes without a terminator record no length";
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

TEST_F(ExchangeTest, replyCompletedBeforeAwaitReplyIsNeverAccepted)
{
    SendStatusRequest();
    rig.exchange.ZylSerialPort1Receive(ReplyFrame(0xC1, 0xA1));
    EXPECT_TRUE(ps.ReplyComplete);
    EXPECT_NE(rig.exchange.AwaitReply(), ceOK);
}

TEST_F(ExchangeTest, waitTicksEndsEarlyOnReplyAndWaitSecondsDoesNot)
{
    ps.ReplyComplete = true;
    const int64_t start = rig.time.NowMs();
    EXPECT_EQ(rig.exchange.WaitTicks(4), WaitResult::ReplyComplete);
    EXPECT_LT(rig.time.NowMs() - start, 1000);

    const int64_t before = rig.time.NowMs();
    rig.exchange.WaitSeconds(5);
    const int64_t waited = rig.time.NowMs() - before;
    EXPECT_GT(waited, 4000);
    EXPECT_LE(waited, 5000);
}

TEST_F(ExchangeTest, acknowledgeSendsA1FrameAndWaitsTwoTicks)
{
    rig.selection.network = true;
    const int64_t start = rig.time.NowMs();
    EXPECT_EQ(rig.exchange.Acknowledge(0xC1), WaitResult::TimedOut);
    EXPECT_EQ(rig.net.writes.back(), Bytes({0xC1, 0xA1, '8', '0', ':', '>', 0xFF, 0xFF}));
    EXPECT_GT(rig.time.NowMs() - start, 1000);
    EXPECT_LE(rig.time.NowMs() - start, 2000);
}

TEST_F(ExchangeTest, oversizeLengthIsRefusedWithoutReadingPastTheBuffer)
{
    EXPECT_EQ(rig.exchange.SendFrame(ps.RequestBuffer.data(), 256), cePortTransmitter);
    EXPECT_EQ(rig.exchange.SendFrame(ps.RequestBuffer.data(), 0), cePortTransmitter);
}

}  // namespace
