// The UDP client of clock discovery: broadcasts a datagram from a free local port and takes
// the answers one by one, each with a time-out. While it waits it lets events run, so the
// window stays responsive; the wait is measured on the time source it is given.
#pragma once

#include "Transport.h"

#include <QTimer>
#include <QUdpSocket>

class IEventPump;
class ITimeSource;

class TUdpClient : public IUdpClient {
public:
    static constexpr int kMaxDatagram = 256;

    TUdpClient(IEventPump& pump, const ITimeSource& time);
    ~TUdpClient() override;

    void Activate() override;
    void Deactivate() override;
    void SendTo(const std::string& host, uint16_t port, const std::vector<uint8_t>& data) override;
    bool Receive(std::vector<uint8_t>& data, std::string& sender, int timeoutMs) override;

private:
    IEventPump& pump_;
    const ITimeSource& time_;
    QUdpSocket socket_;
    // Wakes the event pump when a wait runs out between two changes of the second.
    QTimer wake_;
};
