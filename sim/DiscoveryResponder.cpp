#include "DiscoveryResponder.h"

#include <QNetworkDatagram>

namespace sim {

namespace {

const QByteArray kRequest("\x00\x00\x00\xF6", 4);
// The adaptor's answer; the poll program counts answers and does not read them.
const QByteArray kAnswer("\x00\x00\x00\xF7", 4);

}  // namespace

DiscoveryResponder::DiscoveryResponder(ClockModel& model, QObject* parent) : QObject(parent), model_(model)
{
    connect(&own_, &QUdpSocket::readyRead, this, [this] { Serve(own_); });
    connect(&shared_, &QUdpSocket::readyRead, this, [this] { Serve(shared_); });
}

bool DiscoveryResponder::Listen(const QHostAddress& address, std::string& error)
{
    const quint32 a = address.toIPv4Address();
    broadcast_ = address.isInSubnet(QHostAddress("127.0.0.0"), 8) ? QHostAddress("127.255.255.255")
                                                                  : QHostAddress((a & 0xFFFFFF00u) | 0xFFu);
    if (!own_.bind(address, kPort)) {
        error = "cannot listen on UDP " + address.toString().toStdString() + ":" + std::to_string(kPort) +
                ": " + own_.errorString().toStdString();
        return false;
    }
    // Every simulator on the network shares the broadcast address.
    if (!shared_.bind(broadcast_, kPort, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        error = "cannot listen on UDP " + broadcast_.toString().toStdString() + ":" + std::to_string(kPort) +
                ": " + shared_.errorString().toStdString();
        return false;
    }
    return true;
}

void DiscoveryResponder::Serve(QUdpSocket& from)
{
    while (from.hasPendingDatagrams()) {
        const QNetworkDatagram d = from.receiveDatagram();
        const std::string sender =
            d.senderAddress().toString().toStdString() + ":" + std::to_string(d.senderPort());
        if (d.data() != kRequest) {
            model_.Log("udp: ignored " + std::to_string(d.data().size()) + " bytes from " + sender);
            continue;
        }
        model_.Journal("discovery from " + sender);
        // Answered from the adaptor's own address, whichever address the request went to.
        own_.writeDatagram(kAnswer, d.senderAddress(), static_cast<quint16>(d.senderPort()));
    }
}

}  // namespace sim
