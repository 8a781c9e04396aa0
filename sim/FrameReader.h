// Cuts a clock's incoming byte stream into request frames, one assembler per connection.
// Serial: the 0x55 0x55 preamble and other stray bytes before a station byte are skipped,
// and a 0xFF ends a frame once the four digits before it check out. TCP: 0xFF 0xFF ends it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

enum class Link { Serial, Tcp };

struct Frame {
    std::vector<uint8_t> bytes;  // station, command, payload, four digits (no terminators)
    bool digitsChecked = false;  // false when delivered by Flush without a matching CRC
};

class FrameReader {
public:
    static constexpr size_t kMaxFrame = 256;

    explicit FrameReader(Link link) : link_(link) {}

    // Takes one received byte; returns a frame when this byte completed one.
    std::optional<Frame> Push(uint8_t byte);
    // The line went quiet. A pending run that ends in its terminator(s) but whose digits
    // do not match is handed over anyway, so a damaged request still gets its answer.
    std::optional<Frame> Flush();

    bool Empty() const { return buf_.empty(); }
    // Bytes thrown away as noise since the start (preambles not counted).
    size_t Discarded() const { return discarded_; }
    void Clear() { buf_.clear(); }

    static bool IsStationByte(uint8_t b) { return b >= 0xC0 && b <= 0xDF; }

private:
    std::optional<Frame> TryEnd(size_t bodyEnd);

    Link link_;
    std::vector<uint8_t> buf_;
    size_t discarded_ = 0;
};

}  // namespace sim
