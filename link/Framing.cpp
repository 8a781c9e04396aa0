#include "Framing.h"

#include <cstring>

namespace frame {

uint16_t Crc16(const uint8_t* data, int length)
{
    uint32_t acc = 0;
    for (int i = 0; i < length; ++i) {
        acc ^= static_cast<uint32_t>(data[i]) << 8;
        for (int b = 0; b < 8; ++b)
            acc = (acc & 0x8000) ? (acc << 1) ^ 0x1021 : acc << 1;
    }
    return static_cast<uint16_t>(acc & 0xFFFF);
}

std::array<char, 4> RenderDigits(uint16_t crc)
{
    return {static_cast<char>(((crc >> 12) & 0xF) + 0x30), static_cast<char>(((crc >> 8) & 0xF) + 0x30),
            static_cast<char>(((crc >> 4) & 0xF) + 0x30), static_cast<char>((crc & 0xF) + 0x30)};
}

}  // namespace frame

std::array<char, 4> Crc16Digits(const uint8_t* data, int length)
{
    return frame::RenderDigits(frame::Crc16(data, length > 0 ? length : 0));
}

int BuildRequest(FrameBuffer& buf, uint8_t station, uint8_t command, std::span<const uint8_t> payload)
{
    const int body = 2 + static_cast<int>(payload.size());
    if (body > frame::kMaxBody)
        return -1;
    buf[0] = station;
    buf[1] = command;
    if (!payload.empty())
        std::memcpy(buf.data() + 2, payload.data(), payload.size());
    const std::array<char, 4> digits = Crc16Digits(buf.data(), body);
    std::memcpy(buf.data() + body, digits.data(), 4);
    buf[body + 4] = 0xFF;
    buf[body + 5] = 0xFF;
    return body + 5;
}
