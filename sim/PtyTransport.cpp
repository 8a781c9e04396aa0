#include "PtyTransport.h"

#include <cerrno>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr int kQuietMs = 50;

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyTransport::PtyTransport(ClockModel& model, QObject* parent)
    : QObject(parent), model_(model), modem_(model.modem()),
      pump_(
          model, [this](const QByteArray& b) { Write(b); }, [] {}, this)
{
    quiet_.setSingleShot(true);
    connect(&quiet_, &QTimer::timeout, this, [this] {
        if (auto f = reader_.Flush())
            pump_.Enqueue(model_.Receive(*f, Link::Serial));
    });
}

PtyTransport::~PtyTransport()
{
    notifier_.reset();
    openCloseNotifier_.reset();
    if (!linkPath_.empty()) {
        // Remove the link only while it still points at this simulator's slave.
        char target[512];
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath_)
            unlink(linkPath_.c_str());
    }
    for (int fd : {inotify_, key_, master_})
        if (fd >= 0)
            close(fd);
}

bool PtyTransport::Open(std::string& error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        error = Errno("posix_openpt");
        return false;
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = Errno("grantpt/unlockpt");
        return false;
    }
    char name[256];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = Errno("ptsname");
        return false;
    }
    slavePath_ = name;
    // The key descriptor keeps the slave alive between the program's sessions (the master
    // reads EIO while nobody has it open) and lets us lift the exclusive-open flag that
    // the program's port sets: on a pty that flag outlives the close and would refuse the
    // program's next open.
    key_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (key_ < 0) {
        error = Errno("open slave");
        return false;
    }
    termios tio{};
    if (tcgetattr(key_, &tio) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(key_, TCSANOW, &tio) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &PtyTransport::Read);

    // The program's open and close of the port, seen as file events on the device node.
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 || inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE) < 0) {
        model_.Log(Errno("inotify (closing the port will go unnoticed)"));
        return true;
    }
    openCloseNotifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
    connect(openCloseNotifier_.get(), &QSocketNotifier::activated, this, &PtyTransport::ReadOpenCloseEvents);
    return true;
}

bool PtyTransport::MakeLink(const std::string& path, std::string& error)
{
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a symlink";
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(slavePath_.c_str(), path.c_str()) != 0) {
        error = Errno(("symlink " + path).c_str());
        return false;
    }
    linkPath_ = path;
    return true;
}

void PtyTransport::Read()
{
    uint8_t buf[1024];
    for (;;) {
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0 && baud_ != 0) {
            const int speed = LineSpeed();
            if (speed != baud_) {
                model_.Journal("noise at " + std::to_string(speed) + " baud: " + std::to_string(n) +
                               " bytes");
                continue;
            }
        }
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i)
                Take(buf[i]);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;  // EAGAIN: drained
    }
    if (reader_.Empty())
        quiet_.stop();
    else
        quiet_.start(kQuietMs);
}

int PtyTransport::LineSpeed() const
{
    termios tio{};
    if (tcgetattr(master_, &tio) != 0)
        return 0;
    static const struct {
        speed_t code;
        int baud;
    } kSpeeds[] = {{B300, 300},   {B600, 600},     {B1200, 1200},   {B2400, 2400},   {B4800, 4800},
                   {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto& s : kSpeeds)
        if (cfgetospeed(&tio) == s.code)
            return s.baud;
    return 0;
}

void PtyTransport::ReadOpenCloseEvents()
{
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(inotify_, buf, sizeof buf);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_OPEN) {
                if (openCount_++ == 0)
                    model_.Log("port opened");
            } else if ((ev->mask & IN_CLOSE) && openCount_ > 0 && --openCount_ == 0) {
                PortClosed();
            }
        }
    }
}

void PtyTransport::PortClosed()
{
    // What the program left half sent is gone, and replies it did not read would only
    // reach its next session as stale bytes. Closing a port also drops DTR, which hangs
    // up a modem connection.
    ioctl(key_, TIOCNXCL);
    Read();
    tcflush(key_, TCIFLUSH);
    reader_.Clear();
    modem_.Reset();
    pump_.Cancel();
    quiet_.stop();
    if (online_)
        Hangup();
    model_.Log("port closed");
}

void PtyTransport::Take(uint8_t byte)
{
    const bool modem = model_.modem().enabled;
    if (modem && !online_) {
        if (auto r = modem_.Push(byte)) {
            model_.Journal("at " + r->command);
            if (!r->reply.empty())
                Write(QByteArray::fromStdString(r->reply));
            if (r->connected) {
                online_ = true;
                hangupArmed_ = false;
                reader_.Clear();
                model_.Journal("connect");
            }
        }
        return;
    }
    if (modem && hangupArmed_ && byte == 0x0A && reader_.Empty()) {
        Hangup();
        return;
    }
    if (auto f = reader_.Push(byte)) {
        const Answer answer = model_.Receive(*f, Link::Serial);
        hangupArmed_ = answer.modemReset;
        pump_.Enqueue(answer);
    }
}

void PtyTransport::Hangup()
{
    online_ = false;
    hangupArmed_ = false;
    reader_.Clear();
    modem_.Reset();
    pump_.Cancel();
    model_.Journal("hangup");
}

void PtyTransport::Write(const QByteArray& bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = write(master_, bytes.constData() + at, static_cast<size_t>(bytes.size() - at));
        if (n > 0) {
            at += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Nobody is reading the port and its buffer is full: the rest is lost, as on a wire.
        model_.Log("pty write stalled, " + std::to_string(bytes.size() - at) + " bytes dropped");
        return;
    }
}

}  // namespace sim
