#include "FrameReader.h"

#include "link/Framing.h"

namespace sim {

namespace {

bool DigitsMatch(const uint8_t* body, size_t length, const uint8_t* digits)
{
    const auto want = frame::RenderDigits(frame::Crc16(body, static_cast<int>(length)));
    for (int i = 0; i < 4; ++i)
        if (static_cast<uint8_t>(want[i]) != digits[i])
            return false;
    return true;
}

}  // namespace

// bodyEnd: index one past the last digit. Looks for the earliest station byte from which
// the digits check out; whatever precedes it was noise.
std::optional<Frame> FrameReader::TryEnd(size_t bodyEnd)
{
    if (bodyEnd < 6)
        return std::nullopt;
    const uint8_t* digits = buf_.data() + bodyEnd - 4;
    for (size_t start = 0; start + 6 <= bodyEnd; ++start) {
        if (!IsStationByte(buf_[start]))
            continue;
        if (DigitsMatch(buf_.data() + start, bodyEnd - 4 - start, digits)) {
            Frame f{std::vector<uint8_t>(buf_.begin() + static_cast<std::ptrdiff_t>(start),
                                         buf_.begin() + static_cast<std::ptrdiff_t>(bodyEnd)),
                    true};
            discarded_ += start;
            buf_.clear();
            return f;
        }
    }
    return std::nullopt;
}

std::optional<Frame> FrameReader::Push(uint8_t byte)
{
    if (buf_.empty() && !IsStationByte(byte)) {
        // Preamble bytes, modem text, a lone line feed: nothing a frame can start with.
        if (byte != 0x55)
            ++discarded_;
        return std::nullopt;
    }
    if (byte == 0xFF) {
        if (link_ == Link::Serial) {
            if (auto f = TryEnd(buf_.size()))
                return f;
        } else if (!buf_.empty() && buf_.back() == 0xFF) {
            if (auto f = TryEnd(buf_.size() - 1))
                return f;
        }
    }
    buf_.push_back(byte);
    if (buf_.size() > kMaxFrame) {
        // No frame is this long: drop the lot and wait for the next station byte.
        discarded_ += buf_.size();
        buf_.clear();
    }
    return std::nullopt;
}

std::optional<Frame> FrameReader::Flush()
{
    const size_t terminators = link_ == Link::Serial ? 1 : 2;
    if (buf_.size() < terminators + 2)
        return std::nullopt;
    for (size_t i = 0; i < terminators; ++i)
        if (buf_[buf_.size() - 1 - i] != 0xFF)
            return std::nullopt;
    Frame f{std::vector<uint8_t>(buf_.begin(), buf_.end() - static_cast<std::ptrdiff_t>(terminators)), false};
    buf_.clear();
    return f;
}

}  // namespace sim
