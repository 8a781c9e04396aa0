// What the fuzz targets share: one scratch folder per process for the files they write
// (in memory under /dev/shm, or under $QV_FUZZ_SCRATCH, so a run costs no disk writes), a check that
// stops the run at the first broken promise, and the scripted clock of the reply targets.
#pragma once

#include "core/PollState.h"
#include "support/Fakes.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

inline const std::string& WorkDir()
{
    static const std::string dir = [] {
        const char* parent = std::getenv("QV_FUZZ_SCRATCH");
        if (parent == nullptr || *parent == '\0')
            parent = "/dev/shm";
        std::string tmpl = std::string(parent) + "/qvfuzz-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr)
            return MakeTempDir();
        static const std::string removeAtExit = tmpl;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removeAtExit, ignored);
        });
        return tmpl;
    }();
    return dir;
}

// A file's bytes as a text stream reads them: CR bytes dropped, a 0x1A byte ends them.
inline std::string TextView(const std::string& bytes)
{
    std::string out;
    for (size_t i = 0; i < bytes.size() && bytes[i] != 0x1A; ++i)
        if (bytes[i] != '\r')
            out.push_back(bytes[i]);
    return out;
}

inline void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// The fake rig an input drives, with its own poll state: a station on the serial line or the
// network, the event pump's passes bounded so that no input makes a run endless.
struct FuzzState {
    PollState state;
};
struct FuzzRig : private FuzzState, FakeRig {
    explicit FuzzRig(int station, bool network = false, int passes = 200000) : FakeRig(state)
    {
        pump.maxPasses = passes;
        selection.network = network;
        ps.SetStation(station);
    }
    // The reply `code` from the station on the serial line, 20 ms from now.
    void AnswerSoon(uint8_t code)
    {
        pump.After(20, [this, code] {
            exchange.ZylSerialPort1Receive(ReplyFrame(static_cast<uint8_t>(ps.StationByte), code));
        });
    }
};

// A clock whose answers come from the fuzz input. Each frame written to the link (the
// serial preamble aside) takes the next reply: a delay byte, a length byte and that many
// bytes. With the delay byte's top bit set the bytes become a well-formed reply frame for
// the station (code first, payload after, digits and terminators added), so the fuzzer
// reaches what lies behind a good checksum; otherwise they arrive raw, in two receive
// events. A frame written after the input has run out goes unanswered.
class ScriptedReplies {
public:
    ScriptedReplies(FakeRig& rig, const uint8_t* data, size_t size) : rig_(rig), data_(data), size_(size)
    {
        rig_.OnFrame([this](const std::vector<uint8_t>&) { Next(); });
    }

    void Next()
    {
        if (at_ + 2 > size_)
            return;
        const uint8_t delay = data_[at_];
        const size_t length = std::min<size_t>(data_[at_ + 1], size_ - at_ - 2);
        std::vector<uint8_t> bytes(data_ + at_ + 2, data_ + at_ + 2 + length);
        at_ += 2 + length;
        if ((delay & 0x80) != 0) {
            const uint8_t code = bytes.empty() ? 0xA1 : bytes.front();
            if (!bytes.empty())
                bytes.erase(bytes.begin());
            bytes = ReplyFrame(static_cast<uint8_t>(rig_.ps.StationByte), code, bytes,
                               rig_.selection.network ? 2 : 1);
        }
        const size_t cut = bytes.size() / 3;
        if (cut > 0)
            rig_.Deliver((delay & 0x7F) * 10, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
        if (bytes.size() > cut)
            rig_.Deliver((delay & 0x7F) * 10 + 1, std::vector<uint8_t>(bytes.begin() + cut, bytes.end()));
    }

private:
    FakeRig& rig_;
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};
