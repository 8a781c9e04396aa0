#include "Exchange.h"

#include "core/ClockError.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/TickWait.h"

#include <exception>

Exchange::Exchange(PollState& ps, IEventPump& pump, const ITimeSource& time, ITimer& timer1,
                   ILinkSelection& selection)
    : ps_(ps), pump_(pump), time_(time), timer1_(timer1), selection_(selection)
{
    timer1_.OnTimer = [this] { Timer1Timer(); };
}

void Exchange::Timer1Timer()
{
    sendDelayElapsed_ = true;
    timer1_.SetEnabled(false);
}

void Exchange::ClearReceive()
{
    replyComplete_ = false;
    receiveCount_ = 0;
}

std::span<const uint8_t> Exchange::Reply() const
{
    return {receive_.data(), static_cast<std::size_t>(replyLength_ > 0 ? replyLength_ : 0)};
}

void Exchange::PumpUntil(const std::function<bool()>& done)
{
    while (!done()) pump_.PumpUntilEventOrTick();
}

ClockError Exchange::SendFrame(const uint8_t* frame, int length)
{
    // The wait for the line to drain counts its ticks from here.
    const int startSecond = time_.CurrentSecond();
    if (length <= 0 || length > 255) {
        // Never read past the request buffer (TCP sends one byte more than length).
        return cePortTransmitter;
    }

    if (selection_.NetworkSelected()) {
        ClearReceive();
        sendDelayElapsed_ = false;
        timer1_.SetEnabled(true);
        PumpUntil([this] { return sendDelayElapsed_; });
        const int64_t sent = net_ ? net_->SendBuf(frame, length + 1) : -1;
        return sent == -1 ? cePortTransmitter : ceOK;
    }

    if (serial_ == nullptr || !serial_->GetCTS() || serial_->Sending())
        return cePortTransmitter;
    try {
        static const uint8_t kPreamble[2] = {0x55, 0x55};
        serial_->SendData(kPreamble, 2);
        ClearReceive();
        sendDelayElapsed_ = false;
        timer1_.SetEnabled(true);
        PumpUntil([this] { return sendDelayElapsed_; });
        serial_->SendData(frame, length);
    } catch (const std::exception&) {
        return cePortTransmitter;
    }
    const auto drained = [this](int) { return !serial_->Sending(); };
    if (serial_->Sending() && WaitForTicks(pump_, time_, 3, drained, startSecond) == TickWaitEnd::TimedOut)
        return cePortTransmitter;
    return ceOK;
}

WaitResult Exchange::WaitTicks(int count)
{
    return WaitForTicks(pump_, time_, count, [this](int) { return replyComplete_; }) == TickWaitEnd::Done
               ? WaitResult::ReplyComplete
               : WaitResult::TimedOut;
}

void Exchange::WaitSeconds(int count)
{
    if (count > 0)
        WaitForTicks(pump_, time_, count, [](int) { return false; });
}

ClockError Exchange::AwaitReply(const ReplyCheck& check)
{
    replyLength_ = 0;
    const int t = check.ticks > 0 ? check.ticks : (ps_.ModemInUse ? 10 : 4);
    if (WaitTicks(t) == WaitResult::TimedOut)
        return replyLength_ == 0 ? ceNoData : ceTerminator;

    // A reply needs at least station, code, four digits and a terminator. One that is
    // shorter, or that completed before this wait began (its length was cleared above),
    // cannot be checked and is never accepted.
    const int d = replyLength_ - 5;
    if (d < 2)
        return ceCrc;
    const auto& rx = receive_;
    const std::array<char, 4> digits = Crc16Digits(rx.data(), d);
    for (int i = 0; i < 4; ++i)
        if (digits[i] != static_cast<char>(rx[d + i]))
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
    SendRequest(BuildRequest(request_, station, frame::cmdAcknowledge));
    return WaitTicks(2);
}

void Exchange::Append(std::span<const uint8_t> bytes, int lengthAdjust)
{
    if (bytes.empty())
        return;
    for (uint8_t b : bytes) receive_[receiveCount_++] = b;
    const uint8_t last = receive_[static_cast<uint8_t>(receiveCount_ - 1)];
    if (last == 0xFF && !replyComplete_) {
        replyComplete_ = true;
        replyLength_ = receiveCount_ + lengthAdjust;
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
