#include "Fakes.h"

#include "core/PollState.h"
#include "link/Framing.h"
#include "link/NetworkGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

std::tm FakeTime::Now() const
{
    std::time_t t = static_cast<std::time_t>(nowMs_ / 1000);
    std::tm out{};
    gmtime_r(&t, &out);
    return out;
}

void FakeTime::Set(int year, int month, int day, int hour, int minute, int second, int ms)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    nowMs_ = static_cast<int64_t>(timegm(&t)) * 1000 + ms;
}

void FakePump::After(int64_t delayMs, std::function<void()> action)
{
    events_.emplace(time_.NowMs() + delayMs, std::move(action));
}

void FakePump::Unregister(FakeTimer* timer)
{
    timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
}

bool FakePump::RunDue(int64_t limitMs)
{
    // Earliest of scheduled events and enabled timers, if due by limitMs.
    int64_t best = limitMs + 1;
    FakeTimer* bestTimer = nullptr;
    auto it = events_.begin();
    if (it != events_.end() && it->first < best)
        best = it->first;
    for (FakeTimer* t : timers_)
        if (t->Enabled() && t->DueMs() < best) {
            best = t->DueMs();
            bestTimer = t;
        }
    if (best > limitMs)
        return false;
    if (best > time_.NowMs())
        time_.SetMs(best);
    if (bestTimer != nullptr && (it == events_.end() || bestTimer->DueMs() < it->first)) {
        bestTimer->Fire();
    } else {
        auto action = std::move(it->second);
        events_.erase(it);
        action();
    }
    return true;
}

void FakePump::PumpUntilEventOrTick()
{
    if (++passes_ > maxPasses)
        throw std::runtime_error("FakePump: wait never ended");
    const int64_t boundary = (time_.NowMs() / 1000 + 1) * 1000;
    if (!RunDue(boundary - 1))
        time_.SetMs(boundary);
}

void FakePump::PumpPending()
{
    ++passes_;
    while (RunDue(time_.NowMs())) {
    }
}

FakeTimer::FakeTimer(FakePump& pump, FakeTime& time, int intervalMs)
    : pump_(pump), time_(time), intervalMs_(intervalMs)
{
    pump_.Register(this);
}

FakeTimer::~FakeTimer()
{
    pump_.Unregister(this);
}

void FakeTimer::SetEnabled(bool on)
{
    if (on && !enabled_)
        dueMs_ = time_.NowMs() + intervalMs_;
    enabled_ = on;
}

void FakeTimer::Fire()
{
    ++fired;
    dueMs_ = time_.NowMs() + intervalMs_;
    if (OnTimer)
        OnTimer();
}

bool ScriptedOperator::Next(const std::string& text)
{
    shown.push_back(text);
    if (answers.empty())
        return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
}

bool ScriptedOperator::InputBox(const std::string&, const std::string& prompt, std::string& value)
{
    shown.push_back(prompt);
    return OpenFile(FileKind{}, value);
}

bool ScriptedOperator::OpenFile(FileKind, std::string& fileName)
{
    if (inputs.empty())
        return false;
    fileName = inputs.front();
    inputs.pop_front();
    return true;
}

void FakeSerial::Open()
{
    calls.push_back("open");
    if (failOpen)
        throw std::runtime_error("Cannot connect to COM1.");
    open = true;
}

void FakeSerial::Close()
{
    if (open)
        calls.push_back("close");
    open = false;
}

int FakeSerial::SendData(const uint8_t* data, int count)
{
    if (failWrites || count == 0)
        throw std::runtime_error("COM1 is not open.");
    writes.emplace_back(data, data + count);
    calls.push_back("raw " + std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(count)));
    if (onWrite)
        onWrite(writes.back());
    return count;
}

int64_t FakeNet::SendBuf(const uint8_t* data, int n)
{
    if (fail)
        return -1;
    writes.emplace_back(data, data + n);
    if (onWrite)
        onWrite(writes.back());
    return n;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::vector<uint8_t> ReplyFrame(uint8_t station, uint8_t code, const std::vector<uint8_t>& payload,
                                int terminators)
{
    std::vector<uint8_t> out;
    out.reserve(payload.size() + 8);
    out.push_back(station);
    out.push_back(code);
    for (uint8_t b : payload) out.push_back(b);
    auto digits = frame::RenderDigits(frame::Crc16(out.data(), static_cast<int>(out.size())));
    out.insert(out.end(), digits.begin(), digits.end());
    for (int i = 0; i < terminators; ++i) out.push_back(0xFF);
    return out;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

namespace {

// Folders made by MakeTempDir and not yet removed.
// Never destroyed: the exit handler that empties it may run after static destructors.
std::vector<std::string>& TempDirs()
{
    static auto* dirs = new std::vector<std::string>;
    return *dirs;
}

void RemoveTempDirs()
{
    std::error_code ignored;
    for (const std::string& dir : TempDirs())
        std::filesystem::remove_all(dir, ignored);
    TempDirs().clear();
}

// Removes every folder a test made when the test ends, pass or fail (the fixture, and the
// processes it started, are gone by then); folders made outside a test go at exit.
class TempDirCleaner : public ::testing::EmptyTestEventListener {
public:
    void OnTestEnd(const ::testing::TestInfo&) override { RemoveTempDirs(); }
};

const bool kCleanerInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new TempDirCleaner);
    std::atexit(RemoveTempDirs);
    return true;
}();

// No test may reach past 127.0.0.0/8: a refused destination fails the test that tried it.
[[maybe_unused]] const bool kLoopbackOnly = [] {
    NetworkGuard::AllowAnyAddress(false);
    NetworkGuard::SetRefusalHook([](const std::string& what) { ADD_FAILURE() << what; });
    return true;
}();

}  // namespace

std::string MakeTempDir()
{
    (void)kCleanerInstalled;
    std::string tmpl = (std::filesystem::temp_directory_path() / "qvtest-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder: " + std::string(std::strerror(errno)));
    TempDirs().push_back(tmpl);
    return tmpl;
}

FakeRig::FakeRig(PollState& state) : ps(state), exchange(state, pump, time, timer1, selection)
{
    exchange.AttachSerial(&serial);
    exchange.AttachNet(&net);
}

void FakeRig::ReplyAfter(int64_t delayMs, const std::vector<uint8_t>& bytes)
{
    OnFrame([this, delayMs, bytes](const std::vector<uint8_t>&) { Deliver(delayMs, bytes); });
}

void FakeRig::OnFrame(std::function<void(const std::vector<uint8_t>&)> answer)
{
    serial.onWrite = [answer](const std::vector<uint8_t>& w) {
        if (w != std::vector<uint8_t>{0x55, 0x55})
            answer(w);
    };
    net.onWrite = std::move(answer);
}

void FakeRig::Deliver(int64_t delayMs, std::vector<uint8_t> bytes)
{
    pump.After(delayMs, [this, bytes = std::move(bytes)] {
        if (selection.network)
            exchange.ClientSocket1Read(bytes);
        else
            exchange.ZylSerialPort1Receive(bytes);
    });
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}
