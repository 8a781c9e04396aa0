// Test doubles for the platform seams: a simulated clock and event pump that advance
// time only when the code under test waits, window timers driven by that clock, a
// recording status display, scripted operator answers and in-memory links.
#pragma once

#include "ClockErrorCodes.h"
#include "core/Platform.h"
#include "core/StatusDisplay.h"
#include "link/Exchange.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// Simulated wall clock in milliseconds since the epoch, read as UTC broken-down time.
class FakeTime : public ITimeSource {
public:
    explicit FakeTime(int64_t startMs = 1'700'000'000'000LL + 250) : nowMs_(startMs) {}
    std::tm Now() const override;
    int MsToNextSecond() const override { return static_cast<int>(1000 - nowMs_ % 1000); }
    int64_t NowMs() const { return nowMs_; }
    void SetMs(int64_t ms) { nowMs_ = ms; }
    void Advance(int64_t ms) { nowMs_ += ms; }
    // Sets the clock to a local date and time (read back unchanged by Now()).
    void Set(int year, int month, int day, int hour, int minute, int second, int ms = 0);

private:
    int64_t nowMs_;
};

class FakeTimer;

// Discrete-event pump: each pass runs the earliest due event, or advances the clock to
// the next second boundary when nothing is due before it.
class FakePump : public IEventPump {
public:
    explicit FakePump(FakeTime& time) : time_(time) {}
    void PumpUntilEventOrTick() override;
    void PumpPending() override;

    // Runs action when the simulated clock reaches now + delayMs.
    void After(int64_t delayMs, std::function<void()> action);
    // Runs action on the next pass.
    void Post(std::function<void()> action) { After(0, std::move(action)); }
    void Register(FakeTimer* timer) { timers_.push_back(timer); }
    void Unregister(FakeTimer* timer);
    // Guards against a wait that never ends: throws after this many passes.
    int maxPasses = 1'000'000;

private:
    bool RunDue(int64_t limitMs);
    FakeTime& time_;
    std::multimap<int64_t, std::function<void()>> events_;
    std::vector<FakeTimer*> timers_;
    int passes_ = 0;
};

class FakeTimer : public ITimer {
public:
    FakeTimer(FakePump& pump, FakeTime& time, int intervalMs);
    ~FakeTimer() override;
    void SetEnabled(bool on) override;
    bool Enabled() const override { return enabled_; }
    int64_t DueMs() const { return dueMs_; }
    void Fire();
    int fired = 0;

private:
    FakePump& pump_;
    FakeTime& time_;
    int intervalMs_;
    bool enabled_ = false;
    int64_t dueMs_ = 0;
};

class RecordingStatus : public MemoryStatusDisplay {
public:
    // Every operation in order, for tests that care about replace-versus-add.
    std::vector<std::string> log;
    void AddStatusLine(const std::string& t) override
    {
        log.push_back("add:" + t);
        MemoryStatusDisplay::AddStatusLine(t);
    }
    void ReplaceLastStatusLine(const std::string& t) override
    {
        log.push_back("replace:" + t);
        MemoryStatusDisplay::ReplaceLastStatusLine(t);
    }
    void DeleteLastStatusLine() override
    {
        log.push_back("delete");
        MemoryStatusDisplay::DeleteLastStatusLine();
    }
    void ClearStatus() override
    {
        log.push_back("clear");
        MemoryStatusDisplay::ClearStatus();
    }
    void SetPanel(Panel i, const std::string& t) override
    {
        log.push_back("panel" + std::to_string(static_cast<int>(i)) + ":" + t);
        MemoryStatusDisplay::SetPanel(i, t);
    }
};

class ScriptedOperator : public IOperator {
public:
    std::deque<bool> answers;        // for OkCancel and YesNo; empty = Cancel/No
    std::deque<std::string> inputs;  // for InputBox and OpenFile; empty = cancelled
    std::vector<std::string> shown;  // every text shown, in order
    bool OkCancel(const std::string& text, const std::string&) override { return Next(text); }
    bool YesNo(const std::string& text, const std::string&) override { return Next(text); }
    void Information(const std::string& text, const std::string&) override { shown.push_back(text); }
    bool InputBox(const std::string&, const std::string& prompt, std::string& value) override;
    bool OpenFile(FileKind, std::string& fileName) override;

private:
    bool Next(const std::string& text);
};

struct FakeSelection : ILinkSelection {
    bool network = false;
    bool NetworkSelected() const override { return network; }
    void SetNetworkSelected(bool on) override { network = on; }
};

// Serial port in memory: records what is done to it ("select 2 9600", "open", "close",
// "raw <bytes>" for each write), can fail to open, lack CTS or fail writes, and can answer
// a write through a callback.
class FakeSerial : public ISerialLink {
public:
    bool cts = true;
    bool failOpen = false;
    bool failWrites = false;
    bool open = false;
    std::vector<std::string> calls;
    std::vector<std::vector<uint8_t>> writes;
    std::function<void(const std::vector<uint8_t>&)> onWrite;
    void SelectPort(int port, int baudRate) override
    {
        calls.push_back("select " + std::to_string(port) + " " + std::to_string(baudRate));
    }
    void Open() override;
    void Close() override;
    void ClearInputBuffer() override {}
    void ClearOutputBuffer() override {}
    bool GetCTS() override { return cts; }
    bool Sending() const override { return false; }
    int SendData(const uint8_t* data, int count) override;
    void SetDTR(bool on) override { calls.push_back(on ? "dtr on" : "dtr off"); }
};

class FakeNet : public INetLink {
public:
    bool fail = false;
    std::vector<std::vector<uint8_t>> writes;
    std::function<void(const std::vector<uint8_t>&)> onWrite;
    int64_t SendBuf(const uint8_t* data, int n) override;
};

// Bytes as a vector, for building replies in tests.
std::vector<uint8_t> Bytes(std::initializer_list<int> values);
// A complete reply frame: station, code, payload, four digits, then `terminators` 0xFF.
std::vector<uint8_t> ReplyFrame(uint8_t station, uint8_t code, const std::vector<uint8_t>& payload = {},
                                int terminators = 1);
// The whole content of a file, or "<missing>".
std::string ReadFileBytes(const std::string& path);
// A fresh empty temporary folder for one test.
std::string MakeTempDir();

// The clock, pump and the window's four timers (2 ms, 1 s, 100 ms, 50 ms) on simulated time.
struct FakeTiming {
    FakeTime time;
    FakePump pump{time};
    FakeTimer timer1{pump, time, 2};
    FakeTimer timer2{pump, time, 1000};
    FakeTimer timer3{pump, time, 100};
    FakeTimer timer4{pump, time, 50};
};

// Everything the exchange needs, wired to fakes.
struct FakeRig : FakeTiming {
    FakeSelection selection;
    FakeSerial serial;
    FakeNet net;
    RecordingStatus status;
    ScriptedOperator op;
    PollState& ps;
    Exchange exchange;
    explicit FakeRig(PollState& state);
    // Delivers a reply over the selected link delayMs after the next frame is written.
    void ReplyAfter(int64_t delayMs, const std::vector<uint8_t>& bytes);
    // Calls answer with each frame written to either link, the serial preamble left out.
    void OnFrame(std::function<void(const std::vector<uint8_t>&)> answer);
    // Delivers bytes over the selected link delayMs from now.
    void Deliver(int64_t delayMs, std::vector<uint8_t> bytes);
};

// Writes bytes as the whole content of a file.
void WriteFile(const std::string& path, const std::string& bytes);
