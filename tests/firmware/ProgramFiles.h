// Program upgrade files for tests: records with a good checksum, whole files from a tag and
// records, and writing them to disk.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

// 0xEE, the length byte (data size - 1), the data, and the checksum as (sum, 0).
inline std::vector<uint8_t> ProgramRecord(const std::vector<uint8_t>& data)
{
    const auto len = static_cast<uint8_t>(data.size() - 1);
    std::vector<uint8_t> out{0xEE, len};
    uint8_t sum = len;
    for (uint8_t b : data) {
        out.push_back(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    out.push_back(sum);
    out.push_back(0);
    return out;
}

inline std::vector<uint8_t> ProgramImage(const std::string& tag,
                                         const std::vector<std::vector<uint8_t>>& data)
{
    std::vector<uint8_t> out(tag.begin(), tag.end());
    for (const auto& d : data) {
        const auto r = ProgramRecord(d);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

inline std::string WriteProgramFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}
