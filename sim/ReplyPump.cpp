#include "ReplyPump.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
constexpr int kFloodPiece = 1024;
constexpr int kFloodGapMs = 5;
}  // namespace

ReplyPump::ReplyPump(const ClockModel& model, WriteFn write, CloseFn close, QObject* parent)
    : QObject(parent), model_(model), write_(std::move(write)), close_(std::move(close))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ReplyPump::Fire);
}

void ReplyPump::Enqueue(const Answer& answer)
{
    const bool wasIdle = steps_.empty();
    if (answer.flood) {
        // A stuck line driver: 0xFF without end, until the other side closes.
        steps_.push_back({answer.delayMs, QByteArray(kFloodPiece, '\xFF'), false, false, true});
        if (wasIdle)
            Next();
        return;
    }
    if (answer.bytes.empty() && !answer.vanish)
        return;
    QByteArray all(reinterpret_cast<const char*>(answer.bytes.data()),
                   static_cast<qsizetype>(answer.bytes.size()));
    if (answer.dropHalf)
        all.truncate(all.size() / 2);
    const qsizetype piece = answer.chunk > 0 ? answer.chunk : all.size();
    int wait = answer.delayMs;
    for (qsizetype at = 0; at < all.size(); at += piece) {
        steps_.push_back({wait, all.mid(at, piece), false});
        wait = answer.chunkGapMs;
    }
    if (answer.dropHalf || answer.vanish)
        steps_.push_back({0, {}, true, answer.vanish});
    if (wasIdle)
        Next();
}

void ReplyPump::Next()
{
    if (steps_.empty())
        return;
    const int wait = steps_.front().waitMs;
    if (wait > 0)
        timer_.start(wait);
    else
        Fire();
}

void ReplyPump::Fire()
{
    while (!steps_.empty()) {
        if (steps_.front().flood) {
            write_(steps_.front().bytes);
            timer_.start(kFloodGapMs);
            return;
        }
        Step step = std::move(steps_.front());
        steps_.pop_front();
        if (!step.bytes.isEmpty()) {
            model_.Log("tx " + ClockModel::Hex(reinterpret_cast<const uint8_t*>(step.bytes.constData()),
                                               static_cast<size_t>(step.bytes.size())));
            write_(step.bytes);
        }
        if (step.close) {
            steps_.clear();
            close_();
            if (step.vanish) {
                model_.Log("vanishing");
                std::fflush(nullptr);
                // Leave at once, as a clock losing power would: the kernel closes the
                // pty master and the sockets.
                std::_Exit(0);
            }
            return;
        }
        if (!steps_.empty() && steps_.front().waitMs > 0) {
            timer_.start(steps_.front().waitMs);
            return;
        }
    }
}

}  // namespace sim
