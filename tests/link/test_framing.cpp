#include "core/PollState.h"
#include "core/ClockError.h"
#include "link/Framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Crc16Digits, matchesPublishedCheckValueRendersNibblesAndTakesNothingForNoLength)
{
    const std::string nine = "123456789";
    const struct {
        std::vector<uint8_t> bytes;
        int length;
        uint16_t crc;
        const char* digits;
    } rows[] = {
        {{nine.begin(), nine.end()}, 9, 0x31C3, "31<3"},
        {{0xC1, 0xAD}, 2, 0x4122, "4122"},
        {{0xC1, 0xA1}, 2, 0x80AE, "80:>"},
        {{0x12}, 0, 0, "0000"},
        {{0x12}, -7, 0, "0000"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(frame::Crc16(row.bytes.data(), row.length > 0 ? row.length : 0), row.crc) << row.digits;
        const auto digits = Crc16Digits(row.bytes.data(), row.length);
        EXPECT_EQ(std::string(digits.data(), 4), row.digits);
    }
}

TEST(BuildRequest, bodyThenItsDigitsThenTwoTerminatorsAndOversizeIsRefused)
{
    // The status request without a payload is checked byte for byte by the exchange tests.
    FrameBuffer buf{};
    const uint8_t payload[] = {0x00, 0x00};
    EXPECT_EQ(BuildRequest(buf, 0xC3, frame::cmdSystemReset, payload), 9);
    const auto digits = Crc16Digits(buf.data(), 4);
    EXPECT_EQ(std::string(buf.begin() + 4, buf.begin() + 8), std::string(digits.data(), 4));
    EXPECT_EQ(buf[8], 0xFF);
    EXPECT_EQ(buf[9], 0xFF);

    std::vector<uint8_t> big(248, 0x41);  // body 250: largest that fits
    EXPECT_EQ(BuildRequest(buf, 0xC1, 0xAF, big), 255);
    big.push_back(0x41);
    EXPECT_EQ(BuildRequest(buf, 0xC1, 0xAF, big), -1);
}

TEST(ClockErrorText, holdsAllThirtyThreeTextsExactly)
{
    // OK, Port Transmitter Error and the other link faults' texts are in the end-to-end memos.
    EXPECT_STREQ(ClockErrorText(ClockError{7}), "Data Packet terminator Error");
    EXPECT_STREQ(ClockErrorText(ClockError{21}), "Modem string File Error");
    EXPECT_STREQ(ClockErrorText(ClockError{22}), "Input File Error Line: ");
    EXPECT_STREQ(ClockErrorText(ClockError{23}), " Program Error");
    EXPECT_STREQ(ClockErrorText(ClockError{25}), " ");
    EXPECT_STREQ(ClockErrorText(ClockError{31}), "");
    EXPECT_STREQ(ClockErrorText(ClockError{32}), "Can't Open Log File");
    EXPECT_STREQ(ClockErrorText(ClockError{33}), "");
    EXPECT_STREQ(ClockErrorText(ClockError{-1}), "");
}

TEST(PollStateRecord, stationDigitsAndAccessCode)
{
    PollState ps;
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
