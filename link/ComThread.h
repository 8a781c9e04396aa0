// The watcher of one open serial port: every Delay ms it reads the modem lines and the
// queued input and hands each event to the GUI thread, waiting until it has run there.
#pragma once

#include "link/ZylSerialPort.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>

class TComThread : public QThread {
    Q_OBJECT

public:
    // The most bytes one receive event carries.
    static constexpr int kMaxDelivery = 4096;

    // fd stays owned by the component; the watcher stops using it once told to stop.
    TComThread(TZylSerialPort& owner, int fd, uint32_t delayMs);
    ~TComThread() override;

    int GetPortHandle() const { return fd_; }
    // Asks the loop to end; wakes it from its pause at once.
    void Stop();
    bool Stopping() const { return stop_; }
    // True while the watcher reads queued input.
    bool Receiving() const { return receiving_; }
    // Called on the GUI thread when the component no longer waits for this watcher: its
    // remaining events are dropped.
    void Detach() { owner_ = nullptr; }

protected:
    void run() override;
    // Runs a handed-over event on the GUI thread.
    void customEvent(QEvent* e) override;

private:
    // Runs event on the GUI thread and waits for it to finish there.
    void Deliver(const std::function<void(TZylSerialPort&)>& event);
    void DoExecuteReceive(std::vector<uint8_t> bytes);
    void DoExecuteLineStatus(TLineStatusSet lines);
    void DoExecuteDisconnect();
    // Returns false when the other end of the line has gone away.
    bool ReadQueued();
    // Waits Delay ms or until Stop; returns false when the line hung up.
    bool Pause();

    TZylSerialPort* owner_;  // read and written on the GUI thread only
    const int fd_;
    const uint32_t delayMs_;
    int wakeFd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<bool> receiving_{false};
    TLineStatusSet lastLines_;
};
