// The seams between the protocol code and the platform: wall-clock time, the event pump,
// timers and the operator's dialogs. Real implementations wrap Qt; tests replace them.
#pragma once

#include <QObject>
#include <QTimer>
#include <ctime>
#include <functional>
#include <string>

class ITimeSource {
public:
    virtual ~ITimeSource() = default;
    // Current local broken-down time.
    virtual std::tm Now() const = 0;
    int CurrentSecond() const { return Now().tm_sec; }
    // Milliseconds until the wall-clock second next changes (1..1000).
    virtual int MsToNextSecond() const = 0;
};

class SystemTimeSource : public ITimeSource {
public:
    std::tm Now() const override;
    int MsToNextSecond() const override;
};

// Lets queued events (socket reads, serial receive events, timers, user input) run.
class IEventPump {
public:
    virtual ~IEventPump() = default;
    // Processes pending events; when there are none, blocks until one arrives or the
    // wall-clock second changes. Never spins.
    virtual void PumpUntilEventOrTick() = 0;
    // Processes pending events without blocking ("pump messages once").
    virtual void PumpPending() = 0;
};

class QtEventPump : public IEventPump {
public:
    explicit QtEventPump(const ITimeSource& time);
    void PumpUntilEventOrTick() override;
    void PumpPending() override;

private:
    const ITimeSource& time_;
    QTimer boundary_;
};

// A window timer: fires OnTimer every interval while enabled.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
    std::function<void()> OnTimer;
};

class QtWindowTimer : public ITimer {
public:
    explicit QtWindowTimer(int intervalMs);
    void SetEnabled(bool on) override;
    bool Enabled() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

// The kinds of file the open-file dialog asks for, each with its own name filter.
enum class FileKind { Command, Input, Text, Program, Log, All };

// Dialogs that ask the operator. With no display the window answers Cancel/No.
class IOperator {
public:
    virtual ~IOperator() = default;
    virtual bool OkCancel(const std::string& text, const std::string& caption) = 0;  // true = OK
    virtual bool YesNo(const std::string& text, const std::string& caption) = 0;     // true = Yes
    virtual void Information(const std::string& text, const std::string& caption) = 0;
    // Returns false when cancelled.
    virtual bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) = 0;
    // Shows the files of one kind first; returns false when cancelled.
    virtual bool OpenFile(FileKind kind, std::string& fileName) = 0;
};
