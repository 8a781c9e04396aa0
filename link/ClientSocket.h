// The non-blocking TCP client that reaches a clock's network adaptor (port 14001). Its
// events arrive on the main thread through the event loop; a read event hands over at
// most 256 bytes and leaves the rest for the next one, which is posted at once so no
// reply stalls with bytes left pending.
#pragma once

#include "Transport.h"

#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

class TClientSocket : public QObject, public INetLink {
    Q_OBJECT
public:
    static constexpr uint16_t kClockPort = 14001;
    static constexpr int kReadChunk = 256;

    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override;

    void SetHost(const std::string& host) { host_ = host; }
    const std::string& Host() const { return host_; }
    void SetPort(uint16_t port) { port_ = port; }
    uint16_t Port() const { return port_; }

    // true starts an asynchronous connect to Host:Port; false closes the connection.
    void SetActive(bool on);
    bool Active() const;

    int64_t SendBuf(const uint8_t* data, int n) override;
    // Bytes waiting to be read.
    int64_t ReceiveLength() const;
    // Reads up to n waiting bytes; returns the number read.
    int ReceiveBuf(uint8_t* data, int n);

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    // Receives the error code by reference; setting it to 0 marks it handled.
    std::function<void(int& errorCode)> OnError;
    std::function<void()> OnRead;

private:
    void HandleReadyRead();
    void ScheduleRead();

    QTcpSocket socket_;
    std::string host_;
    uint16_t port_ = kClockPort;
    bool readScheduled_ = false;
    bool inRead_ = false;
};
