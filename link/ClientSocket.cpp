#include "ClientSocket.h"

#include "Ipv4Address.h"
#include "NetworkGuard.h"

#include <QHostAddress>
#include <QMetaObject>

#include <algorithm>
#include <array>

#include <sys/ioctl.h>
#include <sys/socket.h>

TClientSocket::TClientSocket(QObject* parent) : QObject(parent)
{
    // Qt stops reading from the kernel once this much waits unread; the kernel's flow
    // control then stops the peer.
    socket_.setReadBufferSize(kReadChunk);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        if (OnConnect)
            OnConnect();
    });
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        if (OnDisconnect)
            OnDisconnect();
    });
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        int code = static_cast<int>(e);
        if (OnError)
            OnError(code);
    });
    connect(&socket_, &QTcpSocket::readyRead, this, [this] { HandleReadyRead(); });
}

TClientSocket::~TClientSocket()
{
    OnConnect = nullptr;
    OnDisconnect = nullptr;
    OnError = nullptr;
    OnRead = nullptr;
    socket_.abort();
}

bool TClientSocket::IsDottedIPv4(const std::string& host)
{
    return ParseIpv4Address(host).has_value();
}

void TClientSocket::SetActive(bool on)
{
    if (on) {
        if (socket_.state() != QAbstractSocket::UnconnectedState)
            socket_.abort();
        delivered_ = 0;
        const std::optional<uint32_t> address = ParseIpv4Address(host_);
        const bool refused = address && !NetworkGuard::Permits(*address, "a TCP connection");
        if (!address || refused) {
            // Never handed to the resolver: the connect fails as an unknown host would, or
            // as an unreachable network for an address this process may not reach.
            const auto error = refused ? QAbstractSocket::NetworkError : QAbstractSocket::HostNotFoundError;
            QMetaObject::invokeMethod(
                this,
                [this, error] {
                    int code = static_cast<int>(error);
                    if (OnError)
                        OnError(code);
                },
                Qt::QueuedConnection);
            return;
        }
        socket_.connectToHost(QHostAddress(*address), port_);
    } else if (socket_.state() != QAbstractSocket::UnconnectedState) {
        // abort() drops the connection at once; the disconnected event still fires for a
        // connection that was established.
        socket_.abort();
    }
}

bool TClientSocket::Active() const
{
    return socket_.state() == QAbstractSocket::ConnectedState;
}

int64_t TClientSocket::SendBuf(const uint8_t* data, int n)
{
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return -1;
    if (delivered_ >= kRequestLimit)
        DropHeldBytes();
    delivered_ = 0;
    const qint64 written = socket_.write(reinterpret_cast<const char*>(data), n);
    if (written < 0)
        return -1;
    socket_.flush();
    if (socket_.bytesAvailable() > 0)
        ScheduleRead();
    return written;
}

int64_t TClientSocket::ReceiveLength() const
{
    return socket_.bytesAvailable();
}

int TClientSocket::ReceiveBuf(uint8_t* data, int n)
{
    n = std::min({n, kReadChunk, kRequestLimit - delivered_});
    if (n <= 0)
        return 0;
    const qint64 got = socket_.read(reinterpret_cast<char*>(data), n);
    if (got <= 0)
        return 0;
    delivered_ += static_cast<int>(got);
    return static_cast<int>(got);
}

void TClientSocket::DropHeldBytes()
{
    // What came after the request's limit belongs to no request: the bytes held in the
    // socket and those the kernel has queued by now. A peer that keeps sending is
    // stopped again by flow control once the next request's limit has been read.
    std::array<char, 4096> scratch{};
    while (socket_.bytesAvailable() > 0 && socket_.read(scratch.data(), scratch.size()) > 0) {
    }
    const int fd = static_cast<int>(socket_.socketDescriptor());
    int queued = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &queued) != 0)
        return;
    while (queued > 0) {
        const ssize_t got = ::recv(
            fd, scratch.data(), std::min<size_t>(scratch.size(), static_cast<size_t>(queued)), MSG_DONTWAIT);
        if (got <= 0)
            break;
        queued -= static_cast<int>(got);
    }
}

void TClientSocket::HandleReadyRead()
{
    readScheduled_ = false;
    if (inRead_)
        return;
    // Past the request's limit (or with nobody listening) the bytes stay unread until the
    // next request; the event loop is not woken for them again, so a flood costs no CPU.
    if (!OnRead || delivered_ >= kRequestLimit)
        return;
    inRead_ = true;
    OnRead();
    inRead_ = false;
    // The handler takes at most one chunk; what is left is delivered by a further
    // event, as readyRead is not raised again for bytes already buffered.
    if (socket_.bytesAvailable() > 0 && delivered_ < kRequestLimit)
        ScheduleRead();
}

void TClientSocket::ScheduleRead()
{
    if (readScheduled_)
        return;
    readScheduled_ = true;
    QMetaObject::invokeMethod(
        this, [this] { HandleReadyRead(); }, Qt::QueuedConnection);
}
