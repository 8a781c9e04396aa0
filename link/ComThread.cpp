#include "link/ComThread.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <iostream>
#include <mutex>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool LineGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

}  // namespace

TComThread::TComThread(TZylSerialPort& owner, int fd, uint32_t delayMs)
    // A zero pause would turn the poll loop into a busy loop.
    : owner_(&owner),
      fd_(fd),
      delayMs_(std::max<uint32_t>(delayMs, 1)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

TComThread::~TComThread()
{
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void TComThread::Stop()
{
    stop_ = true;
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    }
}

void TComThread::run()
{
    while (!stop_) {
        const TLineStatusSet lines = TZylSerialPort::GetLineStatus(fd_);
        if (lines != lastLines_) {
            lastLines_ = lines;
            DoExecuteLineStatus(lines);
        }
        if (stop_ || !ReadQueued() || stop_)
            break;
        if (!Pause()) {
            // Whatever arrived before the hang-up is still delivered.
            if (!stop_)
                ReadQueued();
            break;
        }
    }
    DoExecuteDisconnect();
}

bool TComThread::ReadQueued()
{
    int queued = 0;
    if (::ioctl(fd_, FIONREAD, &queued) != 0)
        return !LineGone(errno);
    if (queued <= 0)
        return true;
    // The line discipline holds at most 4 KB anyway; the cap keeps a driver that reports
    // more from making the watcher hold it all at once. The rest comes with the next poll.
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min(queued, kMaxDelivery)));
    receiving_ = true;
    const ssize_t got = ::read(fd_, bytes.data(), bytes.size());
    const int err = errno;
    receiving_ = false;
    if (got > 0) {
        bytes.resize(static_cast<size_t>(got));
        DoExecuteReceive(std::move(bytes));
        return true;
    }
    if (got == 0)
        return false;  // end of file: the other end has gone
    return !LineGone(err);
}

bool TComThread::Pause()
{
    // The device is polled for no event: poll still reports a hang-up on it.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, 0, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(std::min<uint32_t>(delayMs_, 1u << 30)));
    return !(ready > 0 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
}

namespace {

// Taken around each hand-over between a watcher and the GUI thread. Qt's own event-queue
// locks order the call object and the watcher's stack already, but ThreadSanitizer cannot
// see locks inside a Qt built without it; this one it sees, so a race it reports is real.
std::recursive_mutex& HandOverLock()
{
    static std::recursive_mutex lock;
    return lock;
}

struct Completion {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
};

// Tells the waiting watcher that its call has finished, run or dropped unrun, when the call
// object is destroyed.
class CompletionSignal {
public:
    explicit CompletionSignal(Completion* c) : c_(c) {}
    CompletionSignal(CompletionSignal&& other) noexcept : c_(std::exchange(other.c_, nullptr)) {}
    CompletionSignal& operator=(CompletionSignal&&) = delete;
    ~CompletionSignal()
    {
        const std::lock_guard<std::recursive_mutex> order(HandOverLock());
        if (c_ == nullptr)
            return;
        const std::lock_guard<std::mutex> hold(c_->lock);
        c_->finished = true;
        c_->done.notify_one();
    }

private:
    Completion* c_;
};

// One watcher event on its way to the GUI thread. Qt deletes it there once it has run, or
// unrun when the watcher object goes first; either way the waiting watcher is released.
class DeliveryEvent : public QEvent {
public:
    static QEvent::Type Kind()
    {
        static const int kind = QEvent::registerEventType();
        return static_cast<QEvent::Type>(kind);
    }
    DeliveryEvent(const std::function<void(TZylSerialPort&)>* event, Completion* completion)
        : QEvent(Kind()), event_(event), signal_(completion)
    {
    }
    const std::function<void(TZylSerialPort&)>& Event() const { return *event_; }

private:
    const std::function<void(TZylSerialPort&)>* event_;
    CompletionSignal signal_;
};

}  // namespace

void TComThread::Deliver(const std::function<void(TZylSerialPort&)>& event)
{
    // A posted event and a wait for it, as a blocking queued call would do. The event is
    // built and posted under the hand-over lock, and read only after the GUI thread has
    // taken that lock, so ThreadSanitizer sees the order Qt's own queue lock gives.
    Completion completion;
    {
        const std::lock_guard<std::recursive_mutex> order(HandOverLock());
        QCoreApplication::postEvent(this, new DeliveryEvent(&event, &completion));
    }
    std::unique_lock<std::mutex> wait(completion.lock);
    completion.done.wait(wait, [&completion] { return completion.finished; });
}

void TComThread::customEvent(QEvent* e)
{
    {
        const std::lock_guard<std::recursive_mutex> seen(HandOverLock());
    }
    if (e->type() != DeliveryEvent::Kind())
        return;
    const auto& event = static_cast<DeliveryEvent*>(e)->Event();
    TZylSerialPort* owner = owner_;
    if (!owner)
        return;
    ++owner->deliveryDepth_;
    // An exception must not unwind into the event loop: the watcher would never be
    // released from this call.
    try {
        event(*owner);
    } catch (const std::exception& ex) {
        std::cerr << "serial port event handler failed: " << ex.what() << std::endl;
    } catch (...) {
        std::cerr << "serial port event handler failed" << std::endl;
    }
    // The owner detaches this watcher when it is destroyed inside its own handler.
    if (owner_)
        --owner_->deliveryDepth_;
}

void TComThread::DoExecuteReceive(std::vector<uint8_t> bytes)
{
    Deliver([this, &bytes](TZylSerialPort& port) { port.WatcherReceived(this, std::move(bytes)); });
}

void TComThread::DoExecuteLineStatus(TLineStatusSet lines)
{
    Deliver([this, lines](TZylSerialPort& port) { port.WatcherLineStatus(this, lines); });
}

void TComThread::DoExecuteDisconnect()
{
    Deliver([this](TZylSerialPort& port) { port.WatcherFinished(this); });
}
