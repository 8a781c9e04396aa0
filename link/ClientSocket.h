// The non-blocking TCP client that reaches a clock's network adaptor (port 14001). Its
// events arrive on the main thread through the event loop. It connects only to dotted IPv4
// addresses. It holds at most one receive buffer's worth of bytes and hands over a bounded
// amount per request, so a peer that never stops sending is held back by TCP flow control
// instead of filling memory or keeping the program busy.
#pragma once

#include "Transport.h"

#include <QObject>
#include <QTcpSocket>
#include <cstdint>
#include <string>

class TClientSocket : public QObject, public IClientSocket {
    Q_OBJECT
public:
    static constexpr uint16_t kClockPort = 14001;
    // The receive buffer's size: the most one read event hands over.
    static constexpr int kReadChunk = 256;
    // The most handed over for one request. A longer reply is still read whole (it wraps
    // in the receive buffer and fails its check, as on a serial line); past this a peer is
    // taken to stream without end, and its bytes are dropped when the next request is sent.
    static constexpr int kRequestLimit = 64 * 1024 + kReadChunk;

    explicit TClientSocket(QObject* parent = nullptr);
    ~TClientSocket() override;

    void SetHost(const std::string& host) override { host_ = host; }
    const std::string& Host() const override { return host_; }
    void SetPort(uint16_t port) { port_ = port; }
    uint16_t Port() const { return port_; }

    // true starts an asynchronous connect to Host:Port (a host that is not a dotted IPv4
    // address fails with an error event, unresolved); false closes the connection.
    void SetActive(bool on) override;
    bool Active() const override;

    int64_t SendBuf(const uint8_t* data, int n) override;
    int64_t ReceiveLength() const override;
    int ReceiveBuf(uint8_t* data, int n) override;

    // Whether the host is an address the socket connects to (ParseIpv4Address).
    static bool IsDottedIPv4(const std::string& host);

private:
    void HandleReadyRead();
    void ScheduleRead();
    void DropHeldBytes();

    QTcpSocket socket_;
    std::string host_;
    uint16_t port_ = kClockPort;
    bool readScheduled_ = false;
    bool inRead_ = false;
    // Bytes handed over since the last request was sent.
    int delivered_ = 0;
};
