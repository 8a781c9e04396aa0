#include "core/PollState.h"
#include "core/ClockError.h"
#include "link/Framing.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Digits(const PollState& ps)
{
    return std::string(ps.CrcDigits.data(), 4);
}

TEST(Crc16Digits, matchesPublishedCheckValueAndRendersNibblesAsDigitCharacters)
{
    PollState ps;
    const std::string nine = "123456789";
    EXPECT_EQ(Crc16Digits(ps, reinterpret_cast<const uint8_t*>(nine.data()), 9), 0x31C3);
    EXPECT_EQ(Digits(ps), "31<3");

    const uint8_t status[] = {0xC1, 0xAD};
    EXPECT_EQ(Crc16Digits(ps, status, 2), 0x4122);
    EXPECT_EQ(Digits(ps), "4122");

    const uint8_t ack[] = {0xC1, 0xA1};
    EXPECT_EQ(Crc16Digits(ps, ack, 2), 0x80AE);
    EXPECT_EQ(Digits(ps), "80:>");
}

TEST(Crc16Digits, zeroOrNegativeLengthProcessesNothing)
{
    PollState ps;
    const uint8_t b[] = {0x12};
    EXPECT_EQ(Crc16Digits(ps, b, 0), 0);
    EXPECT_EQ(Digits(ps), "0000");
    Crc16Digits(ps, b, 1);
    EXPECT_EQ(Crc16Digits(ps, b, -7), 0);
    EXPECT_EQ(Digits(ps), "0000");
}

TEST(BuildRequest, twoByteRequestIsEightBytesWithTwoTerminators)
{
    PollState ps;
    const int len = BuildRequest(ps, 0xC1, frame::cmdGetStatus);
    EXPECT_EQ(len, 7);
    const uint8_t expected[] = {0xC1, 0xAD, 0x34, 0x31, 0x32, 0x32, 0xFF, 0xFF};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(ps.RequestBuffer[i], expected[i]) << i;
}

TEST(BuildRequest, payloadIsCoveredByTheCrcAndOversizeIsRefused)
{
    PollState ps;
    const uint8_t payload[] = {0x00, 0x00};
    const int len = BuildRequest(ps, 0xC3, frame::cmdSystemReset, payload);
    EXPECT_EQ(len, 9);
    const auto digits = frame::RenderDigits(frame::Crc16(ps.RequestBuffer.data(), 4));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ps.RequestBuffer[4 + i], static_cast<uint8_t>(digits[i]));
    EXPECT_EQ(ps.RequestBuffer[8], 0xFF);
    EXPECT_EQ(ps.RequestBuffer[9], 0xFF);

    std::vector<uint8_t> big(248, 0x41);  // body 250: largest that fits
    EXPECT_EQ(BuildRequest(ps, 0xC1, 0xAF, big), 255);
    big.push_back(0x41);
    EXPECT_EQ(BuildRequest(ps, 0xC1, 0xAF, big), -1);
}

TEST(ClockErrorText, holdsAllThirtyThreeTextsExactly)
{
    EXPECT_STREQ(ClockErrorText(ClockError{0}), "OK");
    EXPECT_STREQ(ClockErrorText(ClockError{7}), "Data Packet terminator Error");
    EXPECT_STREQ(ClockErrorText(ClockError{10}), "Port Transmitter Error");
    EXPECT_STREQ(ClockErrorText(ClockError{21}), "Modem string File Error");
    EXPECT_STREQ(ClockErrorText(ClockError{22}), "Input File Error Line: ");
    EXPECT_STREQ(ClockErrorText(ClockError{23}), " Program Error");
    EXPECT_STREQ(ClockErrorText(ClockError{25}), " ");
    EXPECT_STREQ(ClockErrorText(ClockError{31}), "");
    EXPECT_STREQ(ClockErrorText(ClockError{32}), "Can't Open Log File");
    EXPECT_STREQ(ClockErrorText(ClockError{33}), "");
    EXPECT_STREQ(ClockErrorText(ClockError{-1}), "");
}

TEST(PollStateRecord, stationDigitsAndDefaults)
{
    PollState ps;
    EXPECT_EQ(ps.StationDigitsText(), "00");
    EXPECT_EQ(ps.AccessCodeText(), "507316");
    ps.SetStation(30);
    EXPECT_EQ(ps.StationByte, 222);
    EXPECT_EQ(ps.StationDigitsText(), "30");
    ps.SetStation(5);
    EXPECT_EQ(ps.StationByte, 197);
    EXPECT_EQ(ps.StationDigitsText(), "05");
    EXPECT_FALSE(ps.SetAccessCode("1234567"));
    EXPECT_EQ(ps.AccessCodeText(), "507316");
    EXPECT_TRUE(ps.SetAccessCode("42"));
    EXPECT_EQ(ps.AccessCodeText(), "42");
}

}  // namespace
