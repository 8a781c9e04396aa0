#include "Exchange.h"

#include "core/ClockError.h"
#include "Framing.h"
#include "core/Platform.h"
#include "core/PollState.h"

#include <exception>

Exchange::Exchange(PollState& ps, IEventPump& pump, const ITimeSource& time, ITimer& timer1,
                   ILinkSelection& selection)
    : ps_(ps), pump_(pump), time_(time), timer1_(timer1), selection_(selection)
{
    timer1_.OnTimer = [this] { Timer1Timer(); };
}

void Exchange::Timer1Timer()
{
    ps_.SendDelayElapsed = true;
    timer1_.SetEnabled(false);
}

void Exchange::ClearReceive()
{
    ps_.ReplyComplete = false;
    ps_.ReceiveCount = 0;
}

void Exchange::PumpUntil(const std::function<bool()>& done)
{
    while (!done()) pump_.PumpUntilEventOrTick();
}

ClockError Exchange::SendFrame(const uint8_t* frame, int length)
{
    ps_.LastSecond = time_.CurrentSecond();
    ps_.PollStatus = ceOK;
    if (length <= 0 || length > 255) {
        // Never read past the request buffer (TCP sends one byte more than length).
        ps_.PollStatus = cePortTransmitter;
        return cePortTransmitter;
    }

    if (selection_.NetworkSelected()) {
        ClearReceive();
        ps_.SendDelayElapsed = false;
        timer1_.SetEnabled(true);
        PumpUntil([this] { return ps_.SendDelayElapsed; });
        const int64_t sent = net_ ? net_->SendBuf(frame, length + 1) : -1;
        const ClockError result = sent == -1 ? cePortTransmitter : ceOK;
        ps_.PollStatus = result;
        return result;
    }

    if (serial_ == nullptr || !serial_->GetCTS() || serial_->Sending()) {
        ps_.PollStatus = cePortTransmitter;
        return cePortTransmitter;
    }
    try {
        static const uint8_t kPreamble[2] = {0x55, 0x55};
        serial_->SendData(kPreamble, 2);
        ClearReceive();
        ps_.SendDelayElapsed = false;
        timer1_.SetEnabled(true);
        PumpUntil([this] { return ps_.SendDelayElapsed; });
        serial_->SendData(frame, length);
    } catch (const std::exception&) {
        ps_.PollStatus = cePortTransmitter;
        return cePortTransmitter;
    }
    int ticks = 0;
    while (serial_->Sending()) {
        pump_.PumpUntilEventOrTick();
        const int s = time_.CurrentSecond();
        if (s != ps_.LastSecond) {
            ps_.LastSecond = s;
            if (++ticks == 3) {
                ps_.PollStatus = cePortTransmitter;
                return cePortTransmitter;
            }
        }
    }
    return static_cast<ClockError>(ps_.PollStatus);
}

WaitResult Exchange::WaitTicks(int count)
{
    int last = time_.CurrentSecond();
    int counter = 0;
    for (;;) {
        pump_.PumpUntilEventOrTick();
        const int s = time_.CurrentSecond();
        if (s != last) {
            if (++counter >= count)
                return WaitResult::TimedOut;
            last = s;
        }
        if (ps_.ReplyComplete)
            return WaitResult::ReplyComplete;
    }
}

void Exchange::WaitSeconds(int count)
{
    ps_.LastSecond = time_.CurrentSecond();
    int counter = 0;
    while (counter < count) {
        pump_.PumpUntilEventOrTick();
        const int s = time_.CurrentSecond();
        if (s != ps_.LastSecond) {
            ++counter;
            ps_.LastSecond = s;
        }
    }
}

ClockError Exchange::AwaitReply(const ReplyCheck& check)
{
    ps_.ReplyLength = 0;
    const int t = check.ticks > 0 ? check.ticks : (ps_.ModemInUse ? 10 : 4);
    if (WaitTicks(t) == WaitResult::TimedOut)
        return ps_.ReplyLength == 0 ? ceNoData : ceTerminator;

    // A reply needs at least station, code, four digits and a terminator. One that is
    // shorter, or that completed before this wait began (its length was cleared above),
    // cannot be checked and is never accepted.
    const int d = ps_.ReplyLength - 5;
    if (d < 2)
        return ceCrc;
    const auto& rx = ps_.ReceiveBuffer;
    Crc16Digits(ps_, rx.data(), d);
    for (int i = 0; i < 4; ++i)
        if (ps_.CrcDigits[i] != static_cast<char>(rx[d + i]))
            return ceCrc;
    const bool stationOk = static_cast<int32_t>(rx[0]) == ps_.StationByte;
    if (check.stationFirst && !stationOk)
        return ceWrongStation;
    const uint8_t code = rx[1];
    if (code == frame::rpBusy)
        return ceBusy;
    if (check.dataReply != 0) {
        if (code != check.dataReply)
            return ceWrongCommand;
        return stationOk ? ceOK : ceWrongStation;
    }
    switch (code) {
        case frame::rpRejected:
            return ceClockReceivedDataError;
        case frame::rpAccepted:
        case frame::rpAcknowledge:
            return ceOK;
        default:
            return ceWrongCommand;
    }
}

WaitResult Exchange::Acknowledge(uint8_t station)
{
    const int len = BuildRequest(ps_, station, frame::cmdAcknowledge);
    SendFrame(ps_.RequestBuffer.data(), len);
    return WaitTicks(2);
}

void Exchange::Append(std::span<const uint8_t> bytes, int lengthAdjust)
{
    if (bytes.empty())
        return;
    for (uint8_t b : bytes) ps_.ReceiveBuffer[ps_.ReceiveCount++] = b;
    const uint8_t last = ps_.ReceiveBuffer[static_cast<uint8_t>(ps_.ReceiveCount - 1)];
    if (last == 0xFF && !ps_.ReplyComplete) {
        ps_.PollStatus = ceOK;
        ps_.ReplyComplete = true;
        ps_.ReplyLength = ps_.ReceiveCount + lengthAdjust;
    }
}

void Exchange::ZylSerialPort1Receive(std::span<const uint8_t> bytes)
{
    Append(bytes, 0);
}

void Exchange::ClientSocket1Read(std::span<const uint8_t> bytes)
{
    // A TCP reply ends with two 0xFF; its digits sit where they do on the serial line.
    Append(bytes, -1);
}
