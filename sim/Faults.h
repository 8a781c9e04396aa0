// The misbehaviour switches of the simulated clock, shared by the command line, the control
// channel, the clock model and the transports, so one running simulator can change its
// behaviour between test phases.
#pragma once

#include <string>

namespace sim {

struct Faults {
    int busy = 0;               // answer 0xB0 to this many more requests
    bool silent = false;        // never answer
    bool wrongStation = false;  // answer with station + 1
    bool badCrc = false;        // corrupt the reply digits
    bool shortReply = false;    // send fewer than five bytes ending in 0xFF
    bool garbage = false;       // send 300 bytes of junk ending in 0xFF
    bool drop = false;          // stop after half the reply (TCP: and close)
    int chunk = 0;              // split replies into pieces of this many bytes (0: whole)
    int chunkGapMs = 30;        // pause between pieces
    int delayMs = 0;            // pause before answering
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
