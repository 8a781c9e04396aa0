// Delivers the clock's answers on one connection in order, with the configured delay,
// chunking and early drop, without blocking the event loop.
#pragma once

#include "ClockModel.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

namespace sim {

class ReplyPump : public QObject {
    Q_OBJECT
public:
    using WriteFn = std::function<void(const QByteArray&)>;
    using CloseFn = std::function<void()>;

    ReplyPump(const ClockModel& model, WriteFn write, CloseFn close, QObject* parent = nullptr);

    void Enqueue(const Answer& answer);
    bool Idle() const { return steps_.empty(); }
    void Cancel()
    {
        steps_.clear();
        timer_.stop();
    }

private:
    struct Step {
        int waitMs;
        QByteArray bytes;
        bool close;
        bool vanish = false;  // end the simulator after this step
        bool flood = false;   // write this step's bytes again and again, never moving on
    };
    void Next();
    void Fire();

    const ClockModel& model_;
    WriteFn write_;
    CloseFn close_;
    std::deque<Step> steps_;
    QTimer timer_;
};

}  // namespace sim
