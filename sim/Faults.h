// The misbehaviour switches of the simulated clock, shared by the command line, the control
// channel, the clock model and the transports, so one running simulator can change its
// behaviour between test phases.
#pragma once

#include <string>
#include <vector>

namespace sim {

// What happens to one chosen request. Busy, bad CRC, wrong station, silence, garbage,
// huge, flood and drop spoil the reply after the clock has acted on the request (the reply
// is lost, not the request); lost drops the request unseen, so the clock neither acts nor
// answers. Drop sends half the reply and then closes the TCP connection; vanish does the
// same and then ends the simulator, so a pty's other side goes away mid-command.
enum class PacketFault { Busy, BadCrc, WrongStation, Silence, Lost, Garbage, Huge, Flood, Drop, Vanish };

// Requests are counted from 1 over every frame addressed to a served station.
struct PacketFaultRule {
    long first = 0;  // the first request the fault hits
    int times = 1;   // how many requests in a row it hits
    PacketFault kind = PacketFault::Busy;
};

bool ParsePacketFault(const std::string& text, PacketFault& out);
const char* PacketFaultName(PacketFault kind);

struct Faults {
    int busy = 0;               // answer 0xB0 to this many more requests
    bool silent = false;        // never answer
    bool wrongStation = false;  // answer with station + 1
    bool badCrc = false;        // corrupt the reply digits
    bool shortReply = false;    // send fewer than five bytes ending in 0xFF
    bool garbage = false;       // send 300 bytes of junk ending in 0xFF
    bool drop = false;          // stop after half the reply (TCP: and close)
    bool huge = false;          // send 64 KiB of junk ending in 0xFF
    bool flood = false;         // send 0xFF without end instead of the reply
    int chunk = 0;              // split replies into pieces of this many bytes (0: whole)
    int chunkGapMs = 30;        // pause between pieces
    int delayMs = 0;            // pause before answering
    // Faults of single requests, counted from the moment each rule was set.
    std::vector<PacketFaultRule> packetFaults;
    // Random faults: each served request is spoiled with this chance (per mille), the kind
    // drawn from the reply-spoiling ones (busy, bad-crc, wrong-station, silence, lost).
    int randomPerMille = 0;
};

// What a dial command gets back from the simulated modem.
enum class DialOutcome { Connect, Busy, NoCarrier, NoAnswer, NoDialTone, Error, Silent, Ring };

struct ModemSettings {
    bool enabled = false;
    DialOutcome outcome = DialOutcome::Connect;
    int connectCode = 1;
};

bool ParseDialOutcome(const std::string& text, DialOutcome& out);
const char* DialOutcomeName(DialOutcome outcome);

}  // namespace sim
