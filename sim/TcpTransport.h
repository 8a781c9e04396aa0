// The clock's TCP port: accepts connections (one after another or side by side), each with
// its own frame assembler and reply queue; replies end in two 0xFF.
#pragma once

#include "ClockModel.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <string>

namespace sim {

class TcpTransport : public QObject {
    Q_OBJECT
public:
    explicit TcpTransport(ClockModel& model, QObject* parent = nullptr);

    bool Listen(const QHostAddress& address, quint16 port, std::string& error);
    quint16 Port() const { return server_.serverPort(); }
    QHostAddress Address() const { return server_.serverAddress(); }

private:
    void Accept();

    ClockModel& model_;
    QTcpServer server_;
};

}  // namespace sim
