#include "UdpClient.h"

#include "ClientSocket.h"
#include "NetworkGuard.h"
#include "Stopwatch.h"
#include "core/Platform.h"

#include <QNetworkDatagram>

#include <sys/socket.h>
#include <stdexcept>

namespace {

[[noreturn]] void Raise(const QString& what, const QUdpSocket& socket)
{
    throw std::runtime_error((what + ": " + socket.errorString()).toStdString());
}

}  // namespace

TUdpClient::TUdpClient(IEventPump& pump, const ITimeSource& time) : pump_(pump), time_(time)
{
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    // The timeout only has to wake the event loop.
    QObject::connect(&wake_, &QTimer::timeout, [] {});
}

TUdpClient::~TUdpClient()
{
    socket_.abort();
}

void TUdpClient::Activate()
{
    if (socket_.state() == QAbstractSocket::BoundState)
        return;
    if (!socket_.bind(QHostAddress::AnyIPv4, 0))
        Raise("UDP bind", socket_);
    // Sending to a broadcast address needs the socket's permission.
    const int on = 1;
    if (::setsockopt(static_cast<int>(socket_.socketDescriptor()), SOL_SOCKET, SO_BROADCAST, &on,
                     sizeof on) != 0)
        throw std::runtime_error("UDP: broadcast not permitted");
}

void TUdpClient::Deactivate()
{
    wake_.stop();
    socket_.abort();
}

void TUdpClient::SendTo(const std::string& host, uint16_t port, const std::vector<uint8_t>& data)
{
    if (socket_.state() != QAbstractSocket::BoundState)
        throw std::runtime_error("UDP: send on a closed socket");
    const QHostAddress address(QString::fromStdString(host));
    if (!TClientSocket::IsDottedIPv4(host) || address.protocol() != QAbstractSocket::IPv4Protocol)
        throw std::runtime_error("UDP: not an IPv4 address: " + host);
    if (!NetworkGuard::Permits(address.toIPv4Address(), "a UDP datagram"))
        throw std::runtime_error("UDP: destination refused: " + host);
    const qint64 sent = socket_.writeDatagram(reinterpret_cast<const char*>(data.data()),
                                              static_cast<qint64>(data.size()), address, port);
    if (sent != static_cast<qint64>(data.size()))
        Raise("UDP send to " + QString::fromStdString(host), socket_);
}

bool TUdpClient::Receive(std::vector<uint8_t>& data, std::string& sender, int timeoutMs)
{
    if (socket_.state() != QAbstractSocket::BoundState)
        throw std::runtime_error("UDP: receive on a closed socket");
    Stopwatch watch(time_);
    for (;;) {
        if (socket_.hasPendingDatagrams()) {
            const QNetworkDatagram d = socket_.receiveDatagram(kMaxDatagram);
            if (!d.isValid())
                Raise("UDP receive", socket_);
            const QByteArray bytes = d.data();
            data.assign(bytes.begin(), bytes.end());
            sender = d.senderAddress().toString().toStdString();
            wake_.stop();
            return true;
        }
        const int64_t left = timeoutMs - watch.ElapsedMs();
        if (left <= 0) {
            wake_.stop();
            return false;
        }
        wake_.start(static_cast<int>(left));
        pump_.PumpUntilEventOrTick();
    }
}
