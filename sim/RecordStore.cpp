#include "RecordStore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace sim {

namespace {

constexpr uint8_t kEndOfRecord = 0xF0;

uint8_t Bcd(int value)
{
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}

bool ReadAll(const std::string& path, std::string& out, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

}  // namespace

bool RecordStore::LoadRecords(const std::string& path, std::string& error)
{
    std::string text;
    if (!ReadAll(path, text, error))
        return false;
    std::vector<std::vector<uint8_t>> records;
    size_t lineNo = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        std::vector<uint8_t> record;
        std::string digits;
        bool comment = false;
        for (char c : line) {
            if (digits.empty() && record.empty() && c == '#') {
                comment = true;
                break;
            }
            if (std::isxdigit(static_cast<unsigned char>(c))) {
                digits += c;
                if (digits.size() == 2) {
                    record.push_back(static_cast<uint8_t>(std::stoi(digits, nullptr, 16)));
                    digits.clear();
                }
            } else if (c != ' ' && c != '\t' && c != '\r') {
                error = path + " line " + std::to_string(lineNo) + ": not a hex byte";
                return false;
            }
        }
        if (comment || (record.empty() && digits.empty()))
            continue;
        if (!digits.empty()) {
            error = path + " line " + std::to_string(lineNo) + ": odd number of hex digits";
            return false;
        }
        if (record.size() + 2 > static_cast<size_t>(kMaxPacketBytes)) {
            error = path + " line " + std::to_string(lineNo) + ": record too long for one packet";
            return false;
        }
        records.push_back(std::move(record));
    }
    records_ = std::move(records);
    taken_ = 0;
    lastCount_ = 0;
    handedOut_ = handedAgain_ = 0;
    deliveredAt_ = -1;
    return true;
}

void RecordStore::Generate(int count, bool jobCodes)
{
    records_.clear();
    taken_ = 0;
    lastCount_ = 0;
    handedOut_ = handedAgain_ = 0;
    deliveredAt_ = -1;
    for (int i = 0; i < count; ++i) {
        const int badge = 100001 + i % 900000;
        std::vector<uint8_t> r = {
            Bcd(badge / 10000), Bcd(badge / 100 % 100), Bcd(badge % 100),       Bcd(i / 60 % 24),
            Bcd(i % 60),        Bcd(1 + i / 1440 % 28), Bcd(1 + i / 40320 % 12)};
        if (jobCodes && i % 3 == 1) {
            r.insert(r.end(), {0xFE, 0x01, Bcd(i % 100), Bcd(i / 100 % 100)});
        } else if (jobCodes && i % 3 == 2) {
            r.insert(r.end(),
                     {0xFE, 0x03, Bcd(i % 97), 0xFE, 0x02, Bcd(i % 89), 0xFE, 0x01, Bcd(i % 83), 0x45});
        }
        records_.push_back(std::move(r));
    }
}

bool RecordStore::LoadMessages(const std::string& path, std::string& error)
{
    std::string text;
    if (!ReadAll(path, text, error))
        return false;
    messages_.assign(text.begin(), text.end());
    messageAt_ = 0;
    messageLast_ = 0;
    return true;
}

bool RecordStore::SetPacketBytes(int n)
{
    if (n < 2 || n > kMaxPacketBytes)
        return false;
    packetBytes_ = n;
    return true;
}

std::vector<uint8_t> RecordStore::CurrentPacket(std::string& what)
{
    if (taken_ >= records_.size()) {
        lastCount_ = 0;
        what = "get_times end";
        return {endByte_};
    }
    // D0 counts the records taken so far, so a packet handed out again carries the same.
    std::vector<uint8_t> out{static_cast<uint8_t>(1 + taken_ % 255)};
    size_t n = 0;
    while (taken_ + n < records_.size()) {
        const auto& r = records_[taken_ + n];
        if (n > 0 && out.size() + r.size() + 1 > static_cast<size_t>(packetBytes_))
            break;
        out.insert(out.end(), r.begin(), r.end());
        out.push_back(kEndOfRecord);
        ++n;
    }
    lastCount_ = n;
    handedOut_ = std::max(handedOut_, taken_ + n);
    if (deliveredAt_ == static_cast<long>(taken_))
        handedAgain_ += n;
    deliveredAt_ = -1;
    what = "get_times packet " + std::to_string(taken_ + 1) + "-" + std::to_string(taken_ + n);
    return out;
}

std::vector<uint8_t> RecordStore::NextPacket(std::string& what)
{
    taken_ += lastCount_;
    lastCount_ = 0;
    return CurrentPacket(what);
}

std::vector<uint8_t> RecordStore::MessagePacket(bool fromStart, std::string& what)
{
    messageAt_ = fromStart ? 0 : messageAt_ + messageLast_;
    if (messageAt_ > messages_.size())
        messageAt_ = messages_.size();
    const size_t room = static_cast<size_t>(packetBytes_ - 1);
    messageLast_ = std::min(room, messages_.size() - messageAt_);
    const bool more = messageAt_ + messageLast_ < messages_.size();
    std::vector<uint8_t> out(messageLast_ + 1);
    out[0] = more ? 1 : 0;
    std::copy_n(messages_.begin() + static_cast<std::ptrdiff_t>(messageAt_), messageLast_, out.begin() + 1);
    what =
        "message_list bytes " + std::to_string(messageAt_) + "-" + std::to_string(messageAt_ + messageLast_);
    return out;
}

}  // namespace sim
