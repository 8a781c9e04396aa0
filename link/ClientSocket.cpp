#include "ClientSocket.h"

#include <QHostAddress>
#include <QMetaObject>

TClientSocket::TClientSocket(QObject* parent) : QObject(parent)
{
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

void TClientSocket::SetActive(bool on)
{
    if (on) {
        if (socket_.state() != QAbstractSocket::UnconnectedState)
            socket_.abort();
        socket_.connectToHost(QString::fromStdString(host_), port_);
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
    const qint64 written = socket_.write(reinterpret_cast<const char*>(data), n);
    if (written < 0)
        return -1;
    socket_.flush();
    return written;
}

int64_t TClientSocket::ReceiveLength() const
{
    return socket_.bytesAvailable();
}

int TClientSocket::ReceiveBuf(uint8_t* data, int n)
{
    if (n <= 0)
        return 0;
    const qint64 got = socket_.read(reinterpret_cast<char*>(data), n);
    return got < 0 ? 0 : static_cast<int>(got);
}

void TClientSocket::HandleReadyRead()
{
    readScheduled_ = false;
    if (inRead_)
        return;
    inRead_ = true;
    if (OnRead)
        OnRead();
    else
        socket_.readAll();  // nobody listens: drop the bytes rather than re-posting forever
    inRead_ = false;
    // The handler takes at most one chunk; what is left is delivered by a further
    // event, as readyRead is not raised again for bytes already buffered.
    if (socket_.bytesAvailable() > 0)
        ScheduleRead();
}

void TClientSocket::ScheduleRead()
{
    if (readScheduled_)
        return;
    readScheduled_ = true;
    QMetaObject::invokeMethod(this, [this] { HandleReadyRead(); }, Qt::QueuedConnection);
}
