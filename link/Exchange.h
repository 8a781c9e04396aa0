// Moves frames between the program and a clock over whichever link is active, waits in
// ticks (changes of the wall-clock second) while letting events run, gathers received
// bytes into its receive buffer and classifies a reply into a ClockError code. It owns the
// request and receive buffers and the state of the reply being received.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "Framing.h"
#include "Transport.h"
#include "core/ClockError.h"

struct PollState;
class IEventPump;
class ITimeSource;
class ITimer;

// How a wait ended.
enum class WaitResult { ReplyComplete, TimedOut };

// What a reply must be to be accepted, and how long to wait for it. After the CRC digits:
// - an acknowledgement (dataReply 0): station (else 3), then the code: 0xA0 gives 4, 0xB0
//   gives 5, 0xE6 and 0xA1 give 0, any other gives 6;
// - a data reply: 0xB0 gives 5, the dataReply byte gives 0, any other gives 6; the
//   station is checked first (3) when stationFirst is set, else only on the data reply.
struct ReplyCheck {
    uint8_t dataReply = 0;
    bool stationFirst = true;
    // Reply wait in ticks; 0 waits 4, or 10 while a modem carries the line.
    int ticks = 0;
};

class Exchange {
public:
    // timer1 is the 2 ms one-shot pause before each frame; the exchange installs its handler.
    Exchange(PollState& ps, IEventPump& pump, const ITimeSource& time, ITimer& timer1,
             ILinkSelection& selection);

    void AttachSerial(ISerialLink* serial) { serial_ = serial; }
    void AttachNet(INetLink* net) { net_ = net; }

    // Sends `length` bytes of the frame (serial: preamble first; TCP: length + 1 bytes).
    // Returns ceOK or cePortTransmitter.
    ClockError SendFrame(const uint8_t* frame, int length);
    // Sends the frame built in the request buffer.
    ClockError SendRequest(int length) { return SendFrame(request_.data(), length); }
    // Waits for `count` ticks or a completed reply, whichever comes first.
    WaitResult WaitTicks(int count);
    // Waits for `count` ticks, whatever arrives meanwhile.
    void WaitSeconds(int count);
    // Waits for the reply to the frame just sent and checks it: ClockError 0..7 (no reply
    // in time gives 1, or 7 when bytes ending in 0xFF had arrived).
    ClockError AwaitReply(const ReplyCheck& check = {});
    // Sends the acknowledge frame for a station, waits up to 2 ticks for anything.
    // Tells whether a complete reply arrived meanwhile.
    WaitResult Acknowledge(uint8_t station);

    // Pumps events until the predicate holds (each pass blocks until an event or a tick).
    void PumpUntil(const std::function<bool()>& done);

    // Receive paths: the serial watcher's receive event and one socket read event.
    void ZylSerialPort1Receive(std::span<const uint8_t> bytes);
    void ClientSocket1Read(std::span<const uint8_t> bytes);
    void Timer1Timer();

    // Empties the receive buffer and clears the reply flags.
    void ClearReceive();

    // The request buffer, which BuildRequest fills for SendRequest.
    FrameBuffer& Request() { return request_; }
    // The reply that completed last: its bytes up to the terminator (on TCP, the first of
    // the two), so the digits sit at the same place on either link. Empty when no length
    // was recorded since the last AwaitReply began.
    std::span<const uint8_t> Reply() const;
    // Every byte received since the last send, in order; past 255 the count wraps to 0 and
    // the buffer fills again from its start.
    std::span<const uint8_t> Received() const { return {receive_.data(), receiveCount_}; }
    bool ReplyComplete() const { return replyComplete_; }

    PollState& State() { return ps_; }
    IEventPump& Pump() { return pump_; }
    const ITimeSource& Time() const { return time_; }
    ILinkSelection& Selection() { return selection_; }

private:
    void Append(std::span<const uint8_t> bytes, int lengthAdjust);

    PollState& ps_;
    IEventPump& pump_;
    const ITimeSource& time_;
    ITimer& timer1_;
    ILinkSelection& selection_;
    ISerialLink* serial_ = nullptr;
    INetLink* net_ = nullptr;
    // Set by the 2 ms pause before each frame.
    bool sendDelayElapsed_ = false;

    FrameBuffer request_{};
    FrameBuffer receive_{};
    uint8_t receiveCount_ = 0;  // wraps 255 -> 0 on purpose
    bool replyComplete_ = false;
    // Length of the reply last completed; cleared when a reply wait begins.
    int32_t replyLength_ = 0;
};
