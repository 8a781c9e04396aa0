// The punch records and the message list a simulated clock hands out in packets. A
// record stays in the store until the request for the packet after it (0xAB) says it was
// taken; a repeated or restarted request gets the same packet again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class RecordStore {
public:
    // Largest data part of a packet (D0 included), so a reply stays well inside 256 bytes.
    static constexpr int kMaxPacketBytes = 240;

    // One record per line as hex bytes ("12 34 56 07 30 01 02", job codes "FE 01 12");
    // blank lines and lines starting with '#' are skipped. 0xF0 is added by the store.
    bool LoadRecords(const std::string& path, std::string& error);
    // `count` made-up records of seven bytes; with job codes, every third record carries
    // one sub-group and every third several sub-groups, highest level first.
    void Generate(int count, bool jobCodes);
    // The raw bytes of the message list (0x0A between lines).
    bool LoadMessages(const std::string& path, std::string& error);
    void SetMessages(std::vector<uint8_t> text) { messages_ = std::move(text); }

    bool SetPacketBytes(int n);
    int PacketBytes() const { return packetBytes_; }
    // D0 of the end packet (0 tells the program the clock's own check failed).
    void SetEndByte(uint8_t b) { endByte_ = b; }

    // get_times: 0xA2 and 0xA0 get the packet that starts at the first record not yet
    // taken (so the packet last handed out, again); 0xAB marks that packet taken and gets
    // the next. The data part of the reply is returned; `what` describes it for the journal.
    std::vector<uint8_t> CurrentPacket(std::string& what);
    std::vector<uint8_t> NextPacket(std::string& what);

    // get_message_list: payload 0x01 starts at the list's start, 0x02 goes on after the
    // packet last handed out. D0 is 1 while more text follows.
    std::vector<uint8_t> MessagePacket(bool fromStart, std::string& what);

    size_t Total() const { return records_.size(); }
    size_t Taken() const { return taken_; }
    // The packet last handed out reached the program whole (its reply was not spoiled).
    void Delivered() { deliveredAt_ = static_cast<long>(taken_); }
    // Since the records were loaded: records handed out at least once, and records handed
    // out again in a packet whose earlier copy had reached the program whole (what a lost
    // request for the next packet makes the clock do; a program that stored both copies
    // wrote these twice).
    size_t HandedOut() const { return handedOut_; }
    size_t HandedAgain() const { return handedAgain_; }

private:
    std::vector<std::vector<uint8_t>> records_;
    size_t taken_ = 0;
    size_t lastCount_ = 0;  // records in the packet last handed out
    size_t handedOut_ = 0;
    size_t handedAgain_ = 0;
    long deliveredAt_ = -1;  // first record of the packet last delivered whole, if not taken since
    uint8_t endByte_ = 0x01;
    int packetBytes_ = 200;
    std::vector<uint8_t> messages_;
    size_t messageAt_ = 0;
    size_t messageLast_ = 0;
};

}  // namespace sim
