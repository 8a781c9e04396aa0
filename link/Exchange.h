// Moves frames between the program and a clock over whichever link is active, waits in
// ticks (changes of the wall-clock second) while letting events run, gathers received
// bytes into the receive buffer and classifies a reply into a ClockError code.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

struct PollState;
class IEventPump;
class ITimeSource;
class ITimer;

// What the exchange needs of the serial port (TZylSerialPort implements it).
class ISerialLink {
public:
    virtual ~ISerialLink() = default;
    virtual bool GetCTS() = 0;
    // True while a write is in progress.
    virtual bool Sending() const = 0;
    // Writes count bytes; throws ESerialPortError when the port is not open or the write fails.
    virtual int SendData(const uint8_t* data, int count) = 0;
};

// What the exchange needs of the TCP link.
class INetLink {
public:
    virtual ~INetLink() = default;
    // Sends n bytes in one call; returns the number accepted or -1 on failure.
    virtual int64_t SendBuf(const uint8_t* data, int n) = 0;
};

// Which link is selected: the "Network" menu item, checked or not.
class ILinkSelection {
public:
    virtual ~ILinkSelection() = default;
    virtual bool NetworkSelected() const = 0;
    virtual void SetNetworkSelected(bool on) = 0;
};

class Exchange {
public:
    // timer1 is the 2 ms one-shot pause before each frame; the exchange installs its handler.
    Exchange(PollState& ps, IEventPump& pump, const ITimeSource& time, ITimer& timer1, ILinkSelection& selection);

    void AttachSerial(ISerialLink* serial) { serial_ = serial; }
    void AttachNet(INetLink* net) { net_ = net; }

    // Sends `length` bytes of the frame (serial: preamble first; TCP: length + 1 bytes).
    // Returns 0 or 10 and stores it in PollStatus.
    int SendFrame(const uint8_t* frame, int length);
    // Waits for `count` ticks or a completed reply: 1 = ran out, 0 = reply complete.
    int WaitTicks(int count);
    // Waits for `count` ticks; returns count.
    int WaitSeconds(int count);
    // Waits for the reply to the frame just sent and checks it: ClockError 0..7.
    int AwaitReply();
    // Sends the acknowledge frame for a station, waits up to 2 ticks for anything.
    // Returns 1 when a complete reply arrived meanwhile, else 0.
    int Acknowledge(uint8_t station);

    // Pumps events until the predicate holds (each pass blocks until an event or a tick).
    void PumpUntil(const std::function<bool()>& done);

    // Receive paths: the serial watcher's receive event and one socket read event.
    void ZylSerialPort1Receive(std::span<const uint8_t> bytes);
    void ClientSocket1Read(std::span<const uint8_t> bytes);
    void Timer1Timer();

    // Empties the receive buffer and clears the reply flags.
    void ClearReceive();

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
};
