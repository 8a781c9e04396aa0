// The seams between the protocol code and the two transports: what the exchange, the run
// driver and the modem need of the serial port and of the TCP link, and which of the two
// is selected. The real serial port, socket and network link implement them directly;
// tests use in-memory fakes.
#pragma once

#include "core/ClockError.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The serial port (TZylSerialPort implements it).
class ISerialLink {
public:
    virtual ~ISerialLink() = default;
    // Chooses port n (CommN) and the speed for the next Open; an open port takes the new
    // speed at once.
    virtual void SelectPort(int port, int baudRate) = 0;
    // Opens the chosen port; throws std::exception (ESerialPortError) when it cannot.
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void ClearInputBuffer() = 0;
    virtual void ClearOutputBuffer() = 0;
    virtual bool GetCTS() = 0;
    // True while a write is in progress.
    virtual bool Sending() const = 0;
    // Writes count bytes as they are; throws when the port is not open or the write fails.
    virtual int SendData(const uint8_t* data, int count) = 0;
    virtual void SetDTR(bool on) = 0;
    // Why port n cannot be opened now, for a caller that refuses a port without trying
    // to open it; empty when nothing is known against the port.
    virtual std::string UnavailableReason(int /*port*/) const { return {}; }
};

// Sending on the TCP connection (TClientSocket implements it).
class INetLink {
public:
    virtual ~INetLink() = default;
    // Sends n bytes in one call; returns the number accepted or -1 on failure.
    virtual int64_t SendBuf(const uint8_t* data, int n) = 0;
};

// The non-blocking TCP client the network link drives (TClientSocket implements it). Its
// events arrive on the main thread through the event loop.
class IClientSocket : public INetLink {
public:
    virtual void SetHost(const std::string& host) = 0;
    virtual const std::string& Host() const = 0;
    // true starts an asynchronous connect to Host; false closes the connection.
    virtual void SetActive(bool on) = 0;
    virtual bool Active() const = 0;
    // Bytes waiting to be read.
    virtual int64_t ReceiveLength() const = 0;
    // Reads up to n waiting bytes; returns the number read.
    virtual int ReceiveBuf(uint8_t* data, int n) = 0;

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    // Receives the error code by reference; setting it to 0 marks it handled.
    std::function<void(int& errorCode)> OnError;
    std::function<void()> OnRead;
};

// Opening and closing the TCP connection to the clock (NetworkLink implements it).
class INetConnection {
public:
    virtual ~INetConnection() = default;
    // Connects to PollState::IPAddress; returns ceOK when connected, cePortTransmitter on
    // time-out.
    virtual ClockError Connect() = 0;
    // Closes the connection if one is open or pending.
    virtual void Deactivate() = 0;
};

// The UDP client of clock discovery (TUdpClient implements it). Every call throws
// std::exception on a socket error.
class IUdpClient {
public:
    virtual ~IUdpClient() = default;
    // Opens a socket on a free local port, able to broadcast.
    virtual void Activate() = 0;
    virtual void Deactivate() = 0;
    // Sends one datagram to a dotted IPv4 address.
    virtual void SendTo(const std::string& host, uint16_t port, const std::vector<uint8_t>& data) = 0;
    // Waits up to timeoutMs for one datagram (at most 256 bytes of it are kept), letting
    // events run meanwhile; false when the wait ends without one.
    virtual bool Receive(std::vector<uint8_t>& data, std::string& sender, int timeoutMs) = 0;
};

// Which link is selected: the "Network" menu item, checked or not.
class ILinkSelection {
public:
    virtual ~ILinkSelection() = default;
    virtual bool NetworkSelected() const = 0;
    virtual void SetNetworkSelected(bool on) = 0;
};
