#include "Platform.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>

std::tm SystemTimeSource::Now() const
{
    // The same clock as MsToNextSecond: std::time() reads a coarse clock that can still
    // show the old second when the pump wakes just after a boundary, costing a whole tick.
    std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

int SystemTimeSource::MsToNextSecond() const
{
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() % 1000;
    return static_cast<int>(1000 - ms);
}

QtEventPump::QtEventPump(const ITimeSource& time) : time_(time)
{
    boundary_.setSingleShot(true);
    boundary_.setTimerType(Qt::PreciseTimer);
    // The timeout only has to wake the event loop; it does nothing itself.
    QObject::connect(&boundary_, &QTimer::timeout, [] {});
}

void QtEventPump::PumpUntilEventOrTick()
{
    if (!boundary_.isActive())
        boundary_.start(time_.MsToNextSecond() + 1);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::PumpPending()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

QtWindowTimer::QtWindowTimer(int intervalMs)
{
    timer_.setInterval(intervalMs);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (OnTimer)
            OnTimer();
    });
}

void QtWindowTimer::SetEnabled(bool on)
{
    if (on && !timer_.isActive())
        timer_.start();
    else if (!on)
        timer_.stop();
}
