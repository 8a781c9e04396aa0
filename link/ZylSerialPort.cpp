#include "link/ZylSerialPort.h"

#include "link/ComThread.h"
#include "link/SerialOpenAdvice.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

// Rates outside the B-constants are set through the kernel's termios2 interface, which
// glibc's <termios.h> does not declare (TCGETS2/TCSETS2 come from <asm/ioctls.h>).
#ifndef BOTHER
#define BOTHER 0010000
struct termios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
#endif

namespace {

constexpr std::array<int, 15> kBaudRates = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                            19200, 38400, 56000, 57600, 115200, 128000, 256000};

// The termios constant for a rate, or B0 when the rate needs termios2.
speed_t SpeedConstant(int rate)
{
    switch (rate) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

void SetModemLine(int fd, int line, bool on)
{
    // Pseudo-terminals have no modem lines; the request fails there and that is fine.
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

}  // namespace

TCommPort StringToCommPort(const std::string& text)
{
    return static_cast<TCommPort>(CommPortMap::PortNumber(text));
}

std::string CommPortToString(TCommPort port)
{
    if (port < spCOM1 || port > spCOM50)
        return {};
    return "COM" + std::to_string(static_cast<int>(port));
}

TBaudRate IntToBaudRate(int rate)
{
    for (size_t i = 0; i < kBaudRates.size(); ++i)
        if (kBaudRates[i] == rate)
            return static_cast<TBaudRate>(i);
    return br004800;
}

int BaudRateToInt(TBaudRate rate)
{
    const int ordinal = static_cast<int>(rate);
    return ordinal >= 0 && ordinal < static_cast<int>(kBaudRates.size())
               ? kBaudRates[static_cast<size_t>(ordinal)]
               : 0;
}

TZylSerialPort::TZylSerialPort(QObject* parent) : TZylSerialPort(nullptr, parent) {}

TZylSerialPort::TZylSerialPort(std::shared_ptr<const CommPortMap> portMap, QObject* parent)
    : QObject(parent), portMap_(portMap ? std::move(portMap) : std::make_shared<const CommPortMap>())
{
}

TZylSerialPort::~TZylSerialPort()
{
    // The owner's handlers may refer to things already being torn down.
    OnReceive = nullptr;
    OnSend = nullptr;
    OnLineStatusChange = nullptr;
    OnConnect = nullptr;
    OnDisconnect = nullptr;
    try {
        Close();
    } catch (...) {
    }
    // Only left when destroyed inside one of its own events: those watchers end by
    // themselves and free themselves.
    if (watcher_)
        retired_.push_back(watcher_);
    watcher_ = nullptr;
    for (TComThread* t : retired_) {
        t->Detach();
        t->Stop();
        connect(t, &QThread::finished, t, &QObject::deleteLater);
        if (t->isFinished())
            delete t;
    }
    ReleasePort();
}

void TZylSerialPort::SetPortMap(std::shared_ptr<const CommPortMap> portMap)
{
    if (portMap)
        portMap_ = std::move(portMap);
}

void TZylSerialPort::SetCommPort(TCommPort port)
{
    if (port != Port())
        portName_ = CommPortToString(port);
}

void TZylSerialPort::SelectPort(int port, int baudRate)
{
    SetCommPort(static_cast<TCommPort>(port));
    SetBaudRate(IntToBaudRate(baudRate));
}

void TZylSerialPort::SetBaudRate(TBaudRate rate)
{
    const int value = BaudRateToInt(rate);
    if (value == 0)
        return;  // not a rate: keep the line as it is rather than hang it up (speed 0)
    baudRate_ = value;
    ApplyConfiguration();
}

void TZylSerialPort::SetDataWidth(TDataWidth width)
{
    if (width < dw5Bits || width > dw8Bits)
        return;
    if ((width == dw5Bits && stopBits_ == sb2Bits) || (width != dw5Bits && stopBits_ == sb1_5Bits))
        throw ESerialPortError("Invalid data-width and stop-bits combination.");
    dataBits_ = static_cast<int>(width) + 5;
    ApplyConfiguration();
}

void TZylSerialPort::SetStopBits(TStopBits bits)
{
    if (bits < sb1Bit || bits > sb2Bits)
        return;
    if ((bits == sb2Bits && dataBits_ == 5) || (bits == sb1_5Bits && dataBits_ != 5))
        throw ESerialPortError("Invalid data-width and stop-bits combination.");
    stopBits_ = static_cast<int>(bits);
    ApplyConfiguration();
}

void TZylSerialPort::SetParity(TParityBits parity)
{
    if (parity < pbNone || parity > pbSpace)
        return;
    parity_ = static_cast<int>(parity);
    ApplyConfiguration();
}

void TZylSerialPort::SetEnableDTROnOpen(bool on)
{
    enableDtrOnOpen_ = on;
    ApplyConfiguration();
}

void TZylSerialPort::SetEnableRTSOnOpen(bool on)
{
    enableRtsOnOpen_ = on;
    ApplyConfiguration();
}

void TZylSerialPort::SetHwFlowControl(THwFlowControl flow)
{
    hwFlow_ = flow;
    ApplyConfiguration();
}

void TZylSerialPort::SetSwFlowControl(TSwFlowControl flow)
{
    swFlow_ = flow;
    ApplyConfiguration();
}

void TZylSerialPort::SetInputBuffer(uint32_t size)
{
    inputBuffer_ = size;
    if (IsConnected())
        SetBuffers(fd_);
}

void TZylSerialPort::SetOutputBuffer(uint32_t size)
{
    outputBuffer_ = size;
    if (IsConnected())
        SetBuffers(fd_);
}

void TZylSerialPort::SetPriority(QThread::Priority priority)
{
    priority_ = priority;
    if (IsConnected() && watcher_ && watcher_->isRunning() && priority != QThread::InheritPriority)
        watcher_->setPriority(priority);
}

bool TZylSerialPort::Receiving() const
{
    return watcher_ && watcher_->Receiving();
}

void TZylSerialPort::ApplyConfiguration()
{
    if (IsConnected() && fd_ >= 0)
        SetDCBState(fd_);
}

bool TZylSerialPort::SetDCBState(int fd)
{
    if (fd < 0)
        return false;
    const auto refuse = [this] { throw ESerialPortError("Cannot connect to " + portName_ + "."); };
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        refuse();
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dataBits_ - 5];
    switch (parity_) {
        case pbOdd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case pbEven:
            t.c_cflag |= PARENB;
            break;
        case pbMark:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case pbSpace:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // With 5 data bits the UART turns "two stop bits" into one and a half.
    if (stopBits_ != sb1Bit)
        t.c_cflag |= CSTOPB;
    if (hwFlow_ == hfRTSCTS)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    if (swFlow_ == sfXONXOFF)
        t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = SpeedConstant(baudRate_);
    ::cfsetispeed(&t, speed == B0 ? B38400 : speed);
    ::cfsetospeed(&t, speed == B0 ? B38400 : speed);
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        refuse();
    if (speed == B0) {
        termios2 t2{};
        if (::ioctl(fd, TCGETS2, &t2) != 0)
            refuse();
        t2.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << 16));
        t2.c_cflag |= BOTHER | (BOTHER << 16);
        t2.c_ispeed = static_cast<speed_t>(baudRate_);
        t2.c_ospeed = static_cast<speed_t>(baudRate_);
        if (::ioctl(fd, TCSETS2, &t2) != 0)
            refuse();
    }
    SetModemLine(fd, TIOCM_DTR, enableDtrOnOpen_);
    // Under RTS/CTS handshake the driver drives RTS itself.
    if (hwFlow_ != hfRTSCTS)
        SetModemLine(fd, TIOCM_RTS, hwFlow_ == hfRTS || enableRtsOnOpen_);
    return true;
}

bool TZylSerialPort::SetTimeOuts(int fd)
{
    // Writes apply the write time-outs themselves; the watcher reads only what is queued.
    return fd >= 0;
}

bool TZylSerialPort::SetBuffers(int fd)
{
    // The tty layer sizes its own queues; nothing to apply.
    return fd >= 0;
}

int TZylSerialPort::OpenDevice()
{
    const std::string path = portMap_->DevicePath(portName_);
    int fd = -1;
    const auto fail = [&](int err) {
        if (fd >= 0)
            ::close(fd);
        std::cerr << SerialOpenAdvice::Describe(portName_, path, err) << std::endl;
        return -1;
    };
    if (path.empty())
        return fail(ENOENT);
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    // TIOCEXCL keeps other (unprivileged) opens out; the advisory lock is what
    // cooperating programs, and a second instance of this one, check.
    ::ioctl(fd, TIOCEXCL);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0)
        return fail(errno);
    fd_ = fd;
    savedTermios_ = saved;
    termiosSaved_ = true;
    try {
        SetDCBState(fd);
    } catch (const ESerialPortError&) {
        const int err = errno;
        std::cerr << portName_ << ": " << path << " refused the line settings (" << baudRate_
                  << " baud): " << std::strerror(err) << "." << std::endl;
        ReleasePort();
        return -1;
    }
    SetTimeOuts(fd);
    SetBuffers(fd);
    return fd;
}

void TZylSerialPort::ReleasePort()
{
    if (fd_ >= 0) {
        ::tcflush(fd_, TCIOFLUSH);
        if (termiosSaved_)
            ::tcsetattr(fd_, TCSANOW, &savedTermios_);
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    fd_ = -1;
    termiosSaved_ = false;
    connectedPort_ = spNone;
}

void TZylSerialPort::RaiseDisconnect()
{
    const TCommPort port = connectedPort_;
    struct Release {
        TZylSerialPort& self;
        ~Release() { self.ReleasePort(); }
    } release{*this};
    if (port != spNone && OnDisconnect)
        OnDisconnect(*this, port);
}

void TZylSerialPort::Open()
{
    if (StringToCommPort(portName_) == connectedPort_)
        return;
    if (watcher_)
        Close();
    else if (deliveryDepth_ == 0)
        ReapRetired();
    connectedPort_ = spNone;
    const int fd = OpenDevice();
    if (fd < 0) {
        Close();
        throw ESerialPortError("Cannot connect to " + portName_ + ".");
    }
    connectedPort_ = StringToCommPort(portName_);
    watcher_ = new TComThread(*this, fd, delay_);
    watcher_->start(priority_);
    if (OnConnect)
        OnConnect(*this, connectedPort_);
}

void TZylSerialPort::Close()
{
    if (!watcher_) {
        ReleasePort();
        ReapRetired();
        return;
    }
    TComThread* watcher = watcher_;
    watcher->Stop();
    // The watcher's last act is a blocking call to this thread that raises OnDisconnect
    // and releases the port; processing events lets it through. Inside one of the
    // watcher's own events that call cannot come before this one returns.
    if (deliveryDepth_ == 0) {
        for (int pass = 0; pass < 500 && connectedPort_ != spNone; ++pass) {
            QCoreApplication::processEvents();
            if (connectedPort_ == spNone)
                break;
            QThread::msleep(pass == 0 ? delay_ : 10);
        }
    }
    if (watcher_ == watcher) {
        // Whatever the watcher did not get to do: it is stopped or blocked in an event, so
        // it no longer touches the descriptor.
        if (connectedPort_ != spNone || fd_ >= 0)
            RaiseDisconnect();
        RetireWatcher();
    }
    if (deliveryDepth_ == 0)
        ReapRetired();
}

void TZylSerialPort::RetireWatcher()
{
    if (!watcher_)
        return;
    watcher_->Stop();
    retired_.push_back(watcher_);
    watcher_ = nullptr;
}

void TZylSerialPort::ReapRetired()
{
    std::vector<TComThread*> pending;
    pending.swap(retired_);
    // A stopped watcher ends within one event delivery; bound the wait all the same.
    for (int pass = 0; pass < 500; ++pass) {
        bool running = false;
        for (TComThread* t : pending) running = running || !t->isFinished();
        if (!running)
            break;
        QCoreApplication::processEvents();
        for (TComThread* t : pending)
            if (!t->isFinished()) {
                t->wait(QDeadlineTimer(10));
                break;
            }
    }
    for (TComThread* t : pending) {
        if (t->isFinished()) {
            delete t;
            continue;
        }
        t->Detach();
        connect(t, &QThread::finished, t, &QObject::deleteLater);
        if (t->isFinished())
            delete t;  // also drops the deferred delete posted meanwhile
    }
}

void TZylSerialPort::RaiseNotOpen() const
{
    throw ESerialPortError(portName_ + " is not open.");
}

int TZylSerialPort::Write(const uint8_t* data, int count)
{
    const int64_t limitMs = static_cast<int64_t>(timeouts_.writeMultiplier) * count + timeouts_.writeConstant;
    const bool unlimited = timeouts_.writeMultiplier == 0 && timeouts_.writeConstant == 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    struct Flag {
        bool& flag;
        explicit Flag(bool& f) : flag(f) { flag = true; }
        ~Flag() { flag = false; }
    } sending(sending_);

    int written = 0;
    while (written < count) {
        const ssize_t n = ::write(fd_, data + written, static_cast<size_t>(count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            RaiseNotOpen();
        // The output queue is full: wait for room until the write time-out runs out.
        int timeoutMs = -1;
        if (!unlimited) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                RaiseNotOpen();
            timeoutMs = static_cast<int>(std::min<int64_t>(left.count(), 1 << 30));
        }
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            RaiseNotOpen();
    }
    return written;
}

int TZylSerialPort::SendData(const uint8_t* data, int count)
{
    if (!watcher_ || fd_ < 0 || count <= 0 || data == nullptr)
        RaiseNotOpen();
    const int written = Write(data, count);
    if (written > 0 && OnSend)
        OnSend(*this, {});
    return written;
}

int TZylSerialPort::SendString(const std::string& text)
{
    if (!watcher_ || fd_ < 0)
        RaiseNotOpen();
    const size_t zero = text.find('\0');
    const int length = static_cast<int>(zero == std::string::npos ? text.size() : zero);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const int written = length > 0 ? Write(bytes, length) : 0;
    if (OnSend)
        OnSend(*this, std::span<const uint8_t>(bytes, static_cast<size_t>(written)));
    return written;
}

TCommPortSet TZylSerialPort::GetExistingCommPorts() const
{
    TCommPortSet ports;
    for (const auto& [number, path] : portMap_->Ports())
        if (number >= spCOM1 && number <= spCOM50)
            ports.set(static_cast<size_t>(number));
    return ports;
}

std::string TZylSerialPort::UnavailableReason(int port) const
{
    const std::string name = CommPortToString(static_cast<TCommPort>(port));
    if (name.empty())
        return {};
    const std::string path = portMap_->DevicePath(port);
    std::error_code ec;
    if (!path.empty() && std::filesystem::exists(path, ec))
        return {};
    return SerialOpenAdvice::Describe(name, path, ENOENT);
}

void TZylSerialPort::ClearInputBuffer()
{
    if (IsConnected() && fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

void TZylSerialPort::ClearOutputBuffer()
{
    if (IsConnected() && fd_ >= 0)
        ::tcflush(fd_, TCOFLUSH);
}

void TZylSerialPort::SetBreak(bool on)
{
    if (IsConnected() && fd_ >= 0)
        ::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK);
}

void TZylSerialPort::SetDTR(bool on)
{
    if (IsConnected() && fd_ >= 0)
        SetModemLine(fd_, TIOCM_DTR, on);
}

void TZylSerialPort::SetRTS(bool on)
{
    if (IsConnected() && fd_ >= 0)
        SetModemLine(fd_, TIOCM_RTS, on);
}

void TZylSerialPort::SetXonXoff(bool on)
{
    if (IsConnected() && fd_ >= 0)
        ::tcflow(fd_, on ? TCOON : TCOOFF);
}

TLineStatusSet TZylSerialPort::GetLineStatus(int fd)
{
    TLineStatusSet lines;
    if (fd < 0)
        return lines;
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0) {
        // No modem lines at all (a pseudo-terminal): nothing could ever hold the line,
        // so it reads as ready.
        if (errno == ENOTTY || errno == EINVAL) {
            lines.set(lsCTS);
            lines.set(lsDSR);
        }
        return lines;
    }
    lines.set(lsCTS, (bits & TIOCM_CTS) != 0);
    lines.set(lsDSR, (bits & TIOCM_DSR) != 0);
    lines.set(lsRING, (bits & TIOCM_RNG) != 0);
    lines.set(lsCD, (bits & TIOCM_CD) != 0);
    return lines;
}

TLineStatusSet TZylSerialPort::CurrentLines()
{
    return IsConnected() ? GetLineStatus(fd_) : TLineStatusSet();
}

bool TZylSerialPort::GetCTS()
{
    return CurrentLines().test(lsCTS);
}
bool TZylSerialPort::GetDSR()
{
    return CurrentLines().test(lsDSR);
}
bool TZylSerialPort::GetRING()
{
    return CurrentLines().test(lsRING);
}
bool TZylSerialPort::GetCD()
{
    return CurrentLines().test(lsCD);
}

void TZylSerialPort::WatcherReceived(TComThread* from, std::vector<uint8_t> bytes)
{
    if (from != watcher_)
        return;
    lastReceived_ = bytes;
    if (OnReceive)
        OnReceive(*this, std::span<const uint8_t>(bytes));
}

void TZylSerialPort::WatcherLineStatus(TComThread* from, TLineStatusSet lines)
{
    if (from != watcher_)
        return;
    if (OnLineStatusChange)
        OnLineStatusChange(*this, lines);
}

void TZylSerialPort::WatcherFinished(TComThread* from)
{
    if (from != watcher_)
        return;
    if (connectedPort_ != spNone || fd_ >= 0)
        RaiseDisconnect();
}
