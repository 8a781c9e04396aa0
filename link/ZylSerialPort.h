// The serial-port component: opens a COMn port (a tty device on Linux) for exclusive use,
// configures it, writes synchronously on the caller's thread and runs a watcher thread
// that delivers received bytes and modem-line changes as events on the GUI thread.
#pragma once

#include "link/CommPortMap.h"
#include "link/Transport.h"

#include <QObject>
#include <QThread>

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <termios.h>

class TComThread;

// Raised by the component for a port that cannot be opened or written, and for a refused
// data-width/stop-bits combination.
class ESerialPortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ordinal n is port COMn.
enum TCommPort : int {
    spNone,
    spCOM1,
    spCOM2,
    spCOM3,
    spCOM4,
    spCOM5,
    spCOM6,
    spCOM7,
    spCOM8,
    spCOM9,
    spCOM10,
    spCOM11,
    spCOM12,
    spCOM13,
    spCOM14,
    spCOM15,
    spCOM16,
    spCOM17,
    spCOM18,
    spCOM19,
    spCOM20,
    spCOM21,
    spCOM22,
    spCOM23,
    spCOM24,
    spCOM25,
    spCOM26,
    spCOM27,
    spCOM28,
    spCOM29,
    spCOM30,
    spCOM31,
    spCOM32,
    spCOM33,
    spCOM34,
    spCOM35,
    spCOM36,
    spCOM37,
    spCOM38,
    spCOM39,
    spCOM40,
    spCOM41,
    spCOM42,
    spCOM43,
    spCOM44,
    spCOM45,
    spCOM46,
    spCOM47,
    spCOM48,
    spCOM49,
    spCOM50,
};
// One bit per TCommPort ordinal.
using TCommPortSet = std::bitset<51>;

enum TBaudRate : int {
    br000110,
    br000300,
    br000600,
    br001200,
    br002400,
    br004800,
    br009600,
    br014400,
    br019200,
    br038400,
    br056000,
    br057600,
    br115200,
    br128000,
    br256000,
};
enum TDataWidth : int { dw5Bits, dw6Bits, dw7Bits, dw8Bits };
enum TStopBits : int { sb1Bit, sb1_5Bits, sb2Bits };
enum TParityBits : int { pbNone, pbOdd, pbEven, pbMark, pbSpace };
enum THwFlowControl : int { hfNONE, hfRTS, hfRTSCTS };
enum TSwFlowControl : int { sfNONE, sfXONXOFF };
enum TLineStatus : int { lsCTS, lsDSR, lsRING, lsCD };
// Bit 0 lsCTS, bit 1 lsDSR, bit 2 lsRING, bit 3 lsCD.
using TLineStatusSet = std::bitset<4>;

// "COM1".."COM50" exactly (case and blanks count); spNone for anything else.
TCommPort StringToCommPort(const std::string& text);
// "COM1".."COM50"; empty for spNone or an ordinal outside the type.
std::string CommPortToString(TCommPort port);
// A listed rate gives its value; any other integer gives br004800.
TBaudRate IntToBaudRate(int rate);
// The rate a value names; 0 for an ordinal outside the type.
int BaudRateToInt(TBaudRate rate);

class TZylSerialPort : public QObject, public ISerialLink {
    Q_OBJECT

public:
    using TSendReceiveEvent = std::function<void(TZylSerialPort& sender, std::span<const uint8_t> buffer)>;
    using TLineStatusEvent = std::function<void(TZylSerialPort& sender, TLineStatusSet lineStatus)>;
    using TConnectEvent = std::function<void(TZylSerialPort& sender, TCommPort port)>;

    // Without a port map the component resolves COMn through a default CommPortMap.
    explicit TZylSerialPort(QObject* parent = nullptr);
    TZylSerialPort(std::shared_ptr<const CommPortMap> portMap, QObject* parent = nullptr);
    // Stops the watcher and releases the port; events are no longer raised.
    ~TZylSerialPort() override;

    void SetPortMap(std::shared_ptr<const CommPortMap> portMap);
    const CommPortMap& PortMap() const { return *portMap_; }

    // Properties.
    TCommPort Port() const { return StringToCommPort(portName_); }
    const std::string& PortName() const { return portName_; }
    void SetCommPort(TCommPort port);
    void SetPort(TCommPort port) { SetCommPort(port); }
    TBaudRate BaudRate() const { return IntToBaudRate(baudRate_); }
    void SetBaudRate(TBaudRate rate);
    TDataWidth DataWidth() const { return static_cast<TDataWidth>(dataBits_ - 5); }
    void SetDataWidth(TDataWidth width);
    TStopBits StopBits() const { return static_cast<TStopBits>(stopBits_); }
    void SetStopBits(TStopBits bits);
    TParityBits Parity() const { return static_cast<TParityBits>(parity_); }
    void SetParity(TParityBits parity);
    bool EnableDTROnOpen() const { return enableDtrOnOpen_; }
    void SetEnableDTROnOpen(bool on);
    bool EnableRTSOnOpen() const { return enableRtsOnOpen_; }
    void SetEnableRTSOnOpen(bool on);
    THwFlowControl HwFlowControl() const { return hwFlow_; }
    void SetHwFlowControl(THwFlowControl flow);
    TSwFlowControl SwFlowControl() const { return swFlow_; }
    void SetSwFlowControl(TSwFlowControl flow);
    // Read time-outs are kept for the settings' sake: the watcher only reads what is queued.
    int32_t ReadIntervalTimeout() const { return timeouts_.readInterval; }
    void SetReadIntervalTimeout(int32_t ms) { timeouts_.readInterval = ms; }
    int32_t ReadTotalTimeoutMultiplier() const { return timeouts_.readMultiplier; }
    void SetReadTotalTimeoutMultiplier(int32_t ms) { timeouts_.readMultiplier = ms; }
    int32_t ReadTotalTimeoutConstant() const { return timeouts_.readConstant; }
    void SetReadTotalTimeoutConstant(int32_t ms) { timeouts_.readConstant = ms; }
    // A write may take multiplier * count + constant ms; both 0 means no limit.
    int32_t WriteTotalTimeoutMultiplier() const { return timeouts_.writeMultiplier; }
    void SetWriteTotalTimeoutMultiplier(int32_t ms) { timeouts_.writeMultiplier = ms; }
    int32_t WriteTotalTimeoutConstant() const { return timeouts_.writeConstant; }
    void SetWriteTotalTimeoutConstant(int32_t ms) { timeouts_.writeConstant = ms; }
    // Linux sizes the driver queues itself; the values are kept for the settings' sake.
    uint32_t InputBuffer() const { return inputBuffer_; }
    void SetInputBuffer(uint32_t size);
    uint32_t OutputBuffer() const { return outputBuffer_; }
    void SetOutputBuffer(uint32_t size);
    QThread::Priority Priority() const { return priority_; }
    void SetPriority(QThread::Priority priority);
    // Milliseconds the watcher waits between polls.
    uint32_t Delay() const { return delay_; }
    void SetDelay(uint32_t ms) { delay_ = ms; }

    // Events, all raised on the GUI thread.
    TSendReceiveEvent OnReceive;
    TSendReceiveEvent OnSend;
    TLineStatusEvent OnLineStatusChange;
    TConnectEvent OnConnect;
    TConnectEvent OnDisconnect;

    // Opens the port named by Port; raises "Cannot connect to COMn." when it cannot, after
    // printing the reason to stderr.
    void Open() override;
    // Stops the watcher and waits (pumping events) until it has released the port.
    void Close() override;
    // Port number n (COMn) and speed in bits per second, for the next Open.
    void SelectPort(int port, int baudRate) override;
    bool IsConnected() const { return connectedPort_ != spNone; }
    TCommPort ConnectedPort() const { return connectedPort_; }

    // Writes count bytes; raises "COMn is not open." when closed, for a count of 0, on a
    // write error and when the write time-out runs out.
    int SendData(const uint8_t* data, int count) override;
    // Writes the text up to its first zero byte.
    int SendString(const std::string& text);
    bool Sending() const override { return sending_; }
    // True while the watcher reads queued input.
    bool Receiving() const;
    // The bytes of the last receive event.
    const std::vector<uint8_t>& LastReceived() const { return lastReceived_; }

    TCommPortSet GetExistingCommPorts() const;
    // For a port whose device is missing or unknown, the advice an open would print.
    std::string UnavailableReason(int port) const override;
    void ClearInputBuffer() override;
    void ClearOutputBuffer() override;
    void SetBreak(bool on);
    void SetDTR(bool on) override;
    void SetRTS(bool on);
    // On resumes output as if XON had been received, off suspends it.
    void SetXonXoff(bool on);
    bool GetCTS() override;
    bool GetDSR();
    bool GetRING();
    bool GetCD();
    // The modem lines of an open device; a device without modem lines (a pseudo-terminal)
    // reads CTS and DSR on.
    static TLineStatusSet GetLineStatus(int fd);

    // Apply the configuration to an open device; false for an invalid descriptor.
    // SetDCBState raises "Cannot connect to COMn." when the device refuses it.
    bool SetDCBState(int fd);
    bool SetTimeOuts(int fd);
    bool SetBuffers(int fd);

private:
    friend class TComThread;

    struct TimeOuts {
        int32_t readInterval = -1;
        int32_t readMultiplier = 0;
        int32_t readConstant = 0;
        int32_t writeMultiplier = 100;
        int32_t writeConstant = 1000;
    };

    int OpenDevice();
    void ApplyConfiguration();
    void ReleasePort();
    void RetireWatcher();
    void ReapRetired();
    void RaiseDisconnect();
    [[noreturn]] void RaiseNotOpen() const;
    int Write(const uint8_t* data, int count);
    TLineStatusSet CurrentLines();

    // Called by the watcher through a blocking queued call, so on the GUI thread.
    void WatcherReceived(TComThread* from, std::vector<uint8_t> bytes);
    void WatcherLineStatus(TComThread* from, TLineStatusSet lines);
    void WatcherFinished(TComThread* from);

    std::shared_ptr<const CommPortMap> portMap_;
    std::string portName_ = "COM2";
    int baudRate_ = 4800;
    int dataBits_ = 8;
    int parity_ = 0;
    int stopBits_ = 0;
    bool enableDtrOnOpen_ = true;
    bool enableRtsOnOpen_ = true;
    THwFlowControl hwFlow_ = hfNONE;
    TSwFlowControl swFlow_ = sfNONE;
    TimeOuts timeouts_;
    uint32_t inputBuffer_ = 4096;
    uint32_t outputBuffer_ = 4096;
    QThread::Priority priority_ = QThread::NormalPriority;
    uint32_t delay_ = 50;

    int fd_ = -1;
    termios savedTermios_{};
    bool termiosSaved_ = false;
    std::vector<uint8_t> lastReceived_;
    TComThread* watcher_ = nullptr;
    // Watchers told to stop that have not ended yet.
    std::vector<TComThread*> retired_;
    TCommPort connectedPort_ = spNone;
    bool sending_ = false;
    // Depth of watcher events being handled; a Close inside one cannot wait for the watcher.
    int deliveryDepth_ = 0;
};
