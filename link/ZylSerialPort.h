// The serial-port component: opens a COMn port (a tty device on Linux) for exclusive use,
// writes synchronously on the caller's thread and delivers received bytes, modem-line
// changes and the loss of the device as events on the GUI thread.
#pragma once

#include "link/CommPortMap.h"
#include "link/Transport.h"

#include <QObject>
#include <QTimer>

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <stdexcept>
#include <string>

#include <termios.h>

class QSocketNotifier;

// Raised by the component for a port that cannot be opened or written.
class ESerialPortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TLineStatus : int { lsCTS, lsDSR, lsRING, lsCD };
// Bit 0 lsCTS, bit 1 lsDSR, bit 2 lsRING, bit 3 lsCD.
using TLineStatusSet = std::bitset<4>;

class TZylSerialPort : public QObject, public ISerialLink {
    Q_OBJECT

public:
    using TReceiveEvent = std::function<void(TZylSerialPort& sender, std::span<const uint8_t> buffer)>;
    using TLineStatusEvent = std::function<void(TZylSerialPort& sender, TLineStatusSet lineStatus)>;
    // port is the number n of COMn.
    using TDisconnectEvent = std::function<void(TZylSerialPort& sender, int port)>;

    // The most bytes one receive event carries: no more than one reply can hold.
    static constexpr int kMaxDelivery = 256;

    // Without a port map the component resolves COMn through a default CommPortMap.
    explicit TZylSerialPort(std::shared_ptr<const CommPortMap> portMap = nullptr, QObject* parent = nullptr);
    // Releases the port; events are no longer raised.
    ~TZylSerialPort() override;

    // Milliseconds between two looks at the modem lines of a device that has them.
    uint32_t Delay() const { return delay_; }
    void SetDelay(uint32_t ms);

    // Events, all raised on the GUI thread while it processes events.
    TReceiveEvent OnReceive;
    TLineStatusEvent OnLineStatusChange;
    // The port was closed, or the device or the other end of the line went away.
    TDisconnectEvent OnDisconnect;

    // Port number n (COMn) and speed in bits per second (1200, 2400, 4800 or 9600; any
    // other gives 4800). An open port takes the new speed at once.
    void SelectPort(int port, int baudRate) override;
    // Opens the selected port; raises "Cannot connect to COMn." when it cannot, after
    // printing the reason to stderr. Does nothing when that port is already open.
    void Open() override;
    void Close() override;
    bool IsConnected() const { return fd_ >= 0; }

    // Writes count bytes; raises "COMn is not open." when closed, for a count of 0, on a
    // write error and when the write time-out (100 ms a byte plus 1 s) runs out.
    int SendData(const uint8_t* data, int count) override;
    // Writes finish before SendData returns, so none is in progress when anyone asks.
    bool Sending() const override { return false; }

    // Port numbers (COMn) whose devices exist now.
    std::set<int> GetExistingCommPorts() const;
    // For a port whose device is missing or unknown, the advice an open would print.
    std::string UnavailableReason(int port) const override;
    void ClearInputBuffer() override;
    void ClearOutputBuffer() override;
    void SetDTR(bool on) override;
    // A device without modem lines (a pseudo-terminal) reads CTS and DSR on; false when closed.
    bool GetCTS() override;

private:
    bool OpenDevice();
    void ApplyLineSettings();
    void ReleasePort();
    void ReadArrived();
    void CheckLines();
    [[noreturn]] void RaiseNotOpen() const;

    std::shared_ptr<const CommPortMap> portMap_;
    std::string portName_ = "COM2";
    int baudRate_ = 9600;
    uint32_t delay_ = 50;

    int fd_ = -1;
    int connectedPort_ = 0;
    termios savedTermios_{};
    QSocketNotifier* notifier_ = nullptr;
    QTimer linesTimer_;
    TLineStatusSet lines_;
    // Set while a receive event runs: a Close inside it cannot delete the notifier at once.
    bool delivering_ = false;
};
