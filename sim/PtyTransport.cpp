#include "PtyTransport.h"

#include <cerrno>
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
    if (!linkPath_.empty()) {
        // Remove the link only while it still points at this simulator's slave.
        char target[512];
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath_)
            unlink(linkPath_.c_str());
    }
    if (slave_ >= 0)
        close(slave_);
    if (master_ >= 0)
        close(master_);
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
    // Holding the slave open keeps the master readable between the program's sessions
    // (otherwise it reports EIO once the last user closes the port).
    slave_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        error = Errno("open slave");
        return false;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) {
        error = Errno("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
        error = Errno("tcsetattr");
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &PtyTransport::Read);
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
