#include "TcpTransport.h"

#include "ReplyPump.h"

#include <QTcpSocket>
#include <QTimer>

namespace sim {

namespace {

// How long the line must stay quiet before a request with bad digits is taken as ended.
constexpr int kQuietMs = 50;

class Connection : public QObject {
public:
    Connection(ClockModel& model, QTcpSocket* socket)
        : QObject(socket),
          model_(model),
          socket_(socket),
          reader_(Link::Tcp),
          pump_(
              model,
              [this](const QByteArray& b) {
                  // A flooding clock outruns a reader that has stopped: hold at most 1 MiB.
                  if (socket_->bytesToWrite() < (1 << 20))
                      socket_->write(b);
              },
              [this] {
                  model_.Log("dropping the connection mid-reply");
                  socket_->flush();
                  socket_->disconnectFromHost();
              },
              this)
    {
        quiet_.setSingleShot(true);
        connect(&quiet_, &QTimer::timeout, this, [this] {
            if (auto f = reader_.Flush())
                pump_.Enqueue(model_.Receive(*f, Link::Tcp));
        });
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::Read);
        connect(socket_, &QTcpSocket::disconnected, this, [this] {
            model_.Log("connection closed");
            pump_.Cancel();
            socket_->deleteLater();
        });
    }

private:
    void Read()
    {
        const QByteArray data = socket_->readAll();
        for (char c : data) {
            if (auto f = reader_.Push(static_cast<uint8_t>(c)))
                pump_.Enqueue(model_.Receive(*f, Link::Tcp));
        }
        if (reader_.Empty())
            quiet_.stop();
        else
            quiet_.start(kQuietMs);
    }

    ClockModel& model_;
    QTcpSocket* socket_;
    FrameReader reader_;
    ReplyPump pump_;
    QTimer quiet_;
};

}  // namespace

TcpTransport::TcpTransport(ClockModel& model, QObject* parent) : QObject(parent), model_(model)
{
    connect(&server_, &QTcpServer::newConnection, this, &TcpTransport::Accept);
}

bool TcpTransport::Listen(const QHostAddress& address, quint16 port, std::string& error)
{
    if (!server_.listen(address, port)) {
        error = "cannot listen on " + address.toString().toStdString() + ":" + std::to_string(port) + ": " +
                server_.errorString().toStdString();
        return false;
    }
    return true;
}

void TcpTransport::Accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        model_.Log("connection from " + socket->peerAddress().toString().toStdString() + ":" +
                   std::to_string(socket->peerPort()));
        new Connection(model_, socket);
    }
}

}  // namespace sim
