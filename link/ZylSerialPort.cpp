#include "link/ZylSerialPort.h"

#include "link/SerialOpenAdvice.h"

#include <QPointer>
#include <QSocketNotifier>

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

namespace {

constexpr int64_t kWriteMsPerByte = 100;
constexpr int64_t kWriteMsFixed = 1000;

speed_t SpeedConstant(int rate)
{
    switch (rate) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 9600:
            return B9600;
        default:
            return B4800;
    }
}

int SpeedOf(int rate)
{
    return rate == 1200 || rate == 2400 || rate == 9600 ? rate : 4800;
}

void SetModemLine(int fd, int line, bool on)
{
    // Pseudo-terminals have no modem lines; the request fails there and that is fine.
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

// The modem lines of an open device, or false when it has none (a pseudo-terminal): then
// nothing could ever hold the line, so it reads CTS and DSR on.
bool ReadLines(int fd, TLineStatusSet& lines)
{
    int bits = 0;
    lines.reset();
    if (::ioctl(fd, TIOCMGET, &bits) != 0) {
        if (errno != ENOTTY && errno != EINVAL)
            return true;
        lines.set(lsCTS);
        lines.set(lsDSR);
        return false;
    }
    lines.set(lsCTS, (bits & TIOCM_CTS) != 0);
    lines.set(lsDSR, (bits & TIOCM_DSR) != 0);
    lines.set(lsRING, (bits & TIOCM_RNG) != 0);
    lines.set(lsCD, (bits & TIOCM_CD) != 0);
    return true;
}

}  // namespace

TZylSerialPort::TZylSerialPort(std::shared_ptr<const CommPortMap> portMap, QObject* parent)
    : QObject(parent), portMap_(portMap ? std::move(portMap) : std::make_shared<const CommPortMap>())
{
    linesTimer_.setInterval(static_cast<int>(delay_));
    connect(&linesTimer_, &QTimer::timeout, this, &TZylSerialPort::CheckLines);
}

TZylSerialPort::~TZylSerialPort()
{
    // The owner's handlers may refer to things already being torn down.
    OnReceive = nullptr;
    OnLineStatusChange = nullptr;
    OnDisconnect = nullptr;
    ReleasePort();
}

void TZylSerialPort::SetDelay(uint32_t ms)
{
    delay_ = std::max<uint32_t>(ms, 1);
    linesTimer_.setInterval(static_cast<int>(std::min<uint32_t>(delay_, 1u << 30)));
}

void TZylSerialPort::SelectPort(int port, int baudRate)
{
    portName_ = port >= 1 && port <= 50 ? "COM" + std::to_string(port) : std::string();
    baudRate_ = SpeedOf(baudRate);
    if (IsConnected())
        ApplyLineSettings();
}

void TZylSerialPort::ApplyLineSettings()
{
    const auto refuse = [this] { throw ESerialPortError("Cannot connect to " + portName_ + "."); };
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        refuse();
    // Raw 8N1 without flow control: every byte of a frame reaches the line as it is.
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, SpeedConstant(baudRate_));
    ::cfsetospeed(&t, SpeedConstant(baudRate_));
    if (::tcsetattr(fd_, TCSANOW, &t) != 0)
        refuse();
    SetModemLine(fd_, TIOCM_DTR, true);
    SetModemLine(fd_, TIOCM_RTS, true);
}

bool TZylSerialPort::OpenDevice()
{
    const std::string path = portMap_->DevicePath(portName_);
    int fd = -1;
    const auto fail = [&](int err) {
        if (fd >= 0)
            ::close(fd);
        std::cerr << SerialOpenAdvice::Describe(portName_, path, err) << std::endl;
        return false;
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
    if (::tcgetattr(fd, &savedTermios_) != 0)
        return fail(errno);
    fd_ = fd;
    try {
        ApplyLineSettings();
    } catch (const ESerialPortError&) {
        const int err = errno;
        std::cerr << portName_ << ": " << path << " refused the line settings (" << baudRate_
                  << " baud): " << std::strerror(err) << "." << std::endl;
        ReleasePort();
        return false;
    }
    return true;
}

void TZylSerialPort::Open()
{
    const int port = CommPortMap::PortNumber(portName_);
    if (port == connectedPort_)
        return;
    Close();
    if (!OpenDevice())
        throw ESerialPortError("Cannot connect to " + portName_ + ".");
    connectedPort_ = port;
    // The event loop watches the descriptor itself, so bytes are taken the moment they
    // arrive, on the GUI thread that handles them, with no thread to hand them over or to
    // stop: closing the port only drops the notifier.
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TZylSerialPort::ReadArrived);
    lines_.reset();
    // Modem lines raise no descriptor event: a device that has them is looked at every
    // Delay ms; one without them never changes.
    TLineStatusSet lines;
    if (ReadLines(fd_, lines))
        linesTimer_.start();
    CheckLines();
}

void TZylSerialPort::Close()
{
    const int port = connectedPort_;
    ReleasePort();
    if (port != 0 && OnDisconnect)
        OnDisconnect(*this, port);
}

void TZylSerialPort::ReleasePort()
{
    linesTimer_.stop();
    if (notifier_) {
        // The notifier must let go of the descriptor before it is closed. Inside its own
        // activation it is still in use, so the event loop deletes it afterwards.
        notifier_->setEnabled(false);
        if (delivering_)
            notifier_->deleteLater();
        else
            delete notifier_;
        notifier_ = nullptr;
    }
    if (fd_ >= 0) {
        // What was written still goes out (a last frame, such as a reset, expects no reply):
        // only unread input is dropped, and the old settings wait for the output to drain.
        ::tcflush(fd_, TCIFLUSH);
        ::tcsetattr(fd_, TCSADRAIN, &savedTermios_);
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    fd_ = -1;
    connectedPort_ = 0;
}

void TZylSerialPort::ReadArrived()
{
    // At most one delivery's worth: the notifier fires again while more is queued.
    uint8_t bytes[kMaxDelivery];
    const ssize_t got = ::read(fd_, bytes, sizeof bytes);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    const QPointer<TZylSerialPort> alive(this);
    delivering_ = true;
    if (got <= 0)
        Close();  // end of file or a read error: EIO when the other end or the adaptor has gone
    else if (OnReceive)
        OnReceive(*this, std::span<const uint8_t>(bytes, static_cast<size_t>(got)));
    if (alive)
        delivering_ = false;
}

void TZylSerialPort::CheckLines()
{
    TLineStatusSet lines;
    if (fd_ >= 0)
        ReadLines(fd_, lines);
    if (lines == lines_)
        return;
    lines_ = lines;
    if (OnLineStatusChange)
        OnLineStatusChange(*this, lines);
}

void TZylSerialPort::RaiseNotOpen() const
{
    throw ESerialPortError(portName_ + " is not open.");
}

int TZylSerialPort::SendData(const uint8_t* data, int count)
{
    if (fd_ < 0 || count <= 0 || data == nullptr)
        RaiseNotOpen();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteMsPerByte * count + kWriteMsFixed);
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
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            RaiseNotOpen();
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            RaiseNotOpen();
    }
    return written;
}

std::set<int> TZylSerialPort::GetExistingCommPorts() const
{
    std::set<int> ports;
    for (const auto& [number, path] : portMap_->Ports())
        if (number >= 1 && number <= 50)
            ports.insert(number);
    return ports;
}

std::string TZylSerialPort::UnavailableReason(int port) const
{
    if (port < 1 || port > 50)
        return {};
    const std::string path = portMap_->DevicePath(port);
    std::error_code ec;
    if (!path.empty() && std::filesystem::exists(path, ec))
        return {};
    return SerialOpenAdvice::Describe("COM" + std::to_string(port), path, ENOENT);
}

void TZylSerialPort::ClearInputBuffer()
{
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

void TZylSerialPort::ClearOutputBuffer()
{
    if (fd_ >= 0)
        ::tcflush(fd_, TCOFLUSH);
}

void TZylSerialPort::SetDTR(bool on)
{
    if (fd_ >= 0)
        SetModemLine(fd_, TIOCM_DTR, on);
}

bool TZylSerialPort::GetCTS()
{
    TLineStatusSet lines;
    if (fd_ >= 0)
        ReadLines(fd_, lines);
    return lines.test(lsCTS);
}
