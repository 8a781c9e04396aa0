// The clock's network adaptor answering the discovery request 0x00 0x00 0x00 0xF6 on UDP
// port 30718: sent to its own address or to the broadcast address of its network, it is
// answered from its own address. Several simulators on 127.0.0.x share the loopback
// broadcast address, so one broadcast finds them all.
#pragma once

#include "ClockModel.h"

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

#include <string>

namespace sim {

class DiscoveryResponder : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kPort = 30718;

    explicit DiscoveryResponder(ClockModel& model, QObject* parent = nullptr);

    // Listens on address:30718 and on the broadcast address that reaches it
    // (127.255.255.255 for a loopback address, else the address with its last byte 255).
    bool Listen(const QHostAddress& address, std::string& error);
    QHostAddress BroadcastAddress() const { return broadcast_; }

private:
    void Serve(QUdpSocket& from);

    ClockModel& model_;
    QUdpSocket own_;
    QUdpSocket shared_;
    QHostAddress broadcast_;
};

}  // namespace sim
