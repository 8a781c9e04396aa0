// The program's side of the TCP link: connecting ClientSocket1 to the clock with the
// Timer3 time-out, and the socket's connect, disconnect, error and read handlers.
#pragma once

#include "Transport.h"
#include "core/ClockError.h"

#include <cstdint>

struct PollState;
class IStatusDisplay;
class IEventPump;
class ITimer;
class Exchange;

class NetworkLink : public INetConnection {
public:
    static constexpr uint32_t kConnectTimeoutTicks = 20;
    // The staging area of one read event.
    static constexpr int kReadChunk = 256;

    // Installs the socket's event handlers and the Timer3 handler.
    NetworkLink(PollState& ps, IStatusDisplay& status, IEventPump& pump, ITimer& timer3,
                ILinkSelection& selection, IClientSocket& socket, Exchange& exchange);

    // Connects to PollState::IPAddress; returns ceOK connected, cePortTransmitter timed out.
    ClockError Connect() override;
    // Closes the connection if one is open or pending.
    void Deactivate() override;

    void Timer3Timer();
    void ClientSocket1Connect();
    void ClientSocket1Disconnect();
    void ClientSocket1Error(int& errorCode);
    void ClientSocket1Read();

private:
    PollState& ps_;
    IStatusDisplay& status_;
    IEventPump& pump_;
    ITimer& timer3_;
    ILinkSelection& selection_;
    IClientSocket& socket_;
    Exchange& exchange_;
    // Timer3 ticks since the connect began, and its outcome: ceBusy until a handler settles it.
    uint32_t connectTicks_ = 0;
    ClockError connectResult_ = ceOK;
};
