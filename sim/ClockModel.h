// The simulated clock itself, independent of any transport: it takes one complete request
// frame, keeps the clock's state (stations, status block, last set time), journals what it
// received and decides the exact reply bytes, faults included.
#pragma once

#include "Faults.h"
#include "FingerModule.h"
#include "FrameReader.h"
#include "ProgramMode.h"
#include "RecordStore.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace sim {

// What a transport has to do with one request.
struct Answer {
    std::vector<uint8_t> bytes;  // empty: stay quiet
    bool modemReset = false;     // the modem hangs up on the following lone 0x0A
    int delayMs = 0;
    int chunk = 0;
    int chunkGapMs = 0;
    bool dropHalf = false;
    bool vanish = false;  // after the (half) reply the simulator ends
    bool flood = false;   // 0xFF without end instead of the reply
};

class ClockModel {
public:
    static constexpr int kStatusSize = 34;
    using StatusBlock = std::array<uint8_t, kStatusSize>;

    struct ClockTime {
        bool timeSet = false, dateSet = false;
        uint8_t hour = 0, minute = 0, second = 0;             // BCD as received
        uint8_t dayOfWeek = 0, day = 0, month = 0, year = 0;  // BCD as received
    };

    ClockModel();
    ~ClockModel();
    ClockModel(const ClockModel&) = delete;
    ClockModel& operator=(const ClockModel&) = delete;

    static StatusBlock DefaultStatus();

    // "all", or a comma-separated list of station numbers 0..31.
    bool SetStations(const std::string& list);
    bool Serves(uint8_t stationByte) const;

    // 68 hex digits (blanks allowed between them).
    bool SetStatusHex(const std::string& hex);
    StatusBlock& Status() { return status_; }
    std::string StatusHex() const;
    // Characters of D4..D9 that are not 0.
    std::string AccessCode() const;
    const ClockTime& LastTime() const { return time_; }

    // What the message and settings commands left in the clock, for a test to read back.
    struct Settings {
        std::vector<std::vector<uint8_t>> messages;  // complete messages, braces included
        std::vector<uint8_t> daylight, modemParameters, logo;
        bool daylightSet = false, modemSet = false, logoSet = false;
        int jobing = -1, keyboard = -1;  // -1 never set, 0 off, 1 on
    };
    const Settings& settings() const { return settings_; }

    Faults& faults() { return faults_; }
    FingerModule& finger() { return finger_; }
    ProgramMode& program() { return program_; }
    // Adds a fault for `times` requests in a row, starting with the n-th from now (1: the next).
    void AddPacketFault(long n, PacketFault kind, int times);
    // Spoils each request with the given chance (per mille), drawing from a generator with
    // this seed, so a soak run can be repeated.
    void SetRandomFaults(int perMille, unsigned seed);
    // Requests addressed to a served station so far.
    long Requests() const { return requests_; }
    RecordStore& records() { return records_; }
    ModemSettings& modem() { return modem_; }

    bool OpenJournal(const std::string& path, std::string& error);
    // One line in the journal file, flushed at once so a test can read it right away.
    void Journal(const std::string& line);

    void SetVerbose(bool on) { verbose_ = on; }
    // A line on stderr when verbose.
    void Log(const std::string& line) const;

    Answer Receive(const Frame& frame, Link link);

    static std::string Hex(const uint8_t* data, size_t n);
    static std::string Hex(const std::vector<uint8_t>& v) { return Hex(v.data(), v.size()); }
    // Printable ASCII as it is, every other byte (and the backslash) as \xHH.
    static std::string Escaped(const std::vector<uint8_t>& v);

private:
    struct Request {
        uint8_t station;
        uint8_t command;
        std::vector<uint8_t> payload;
    };
    struct Outcome {
        bool reply = true;
        uint8_t code = 0xA1;
        std::vector<uint8_t> payload;
        bool modemReset = false;
    };
    using Handler = Outcome (ClockModel::*)(const Request&);
    static const std::map<uint8_t, Handler>& Handlers();

    Outcome Acknowledge(const Request&) { return {}; }
    Outcome NoReply(const Request&) { return {false, 0, {}, false}; }
    Outcome Rejected() { return {true, 0xA0, {}, false}; }
    Outcome SetTime(const Request& r);
    Outcome SetDate(const Request& r);
    Outcome GetStatus(const Request& r);
    Outcome ResetErrors(const Request& r);
    Outcome SystemReset(const Request& r);
    Outcome ModemReset(const Request& r);
    Outcome GetTimes(const Request& r);
    Outcome NextTimes(const Request& r);
    Outcome GetMessageList(const Request& r);
    // The fingerprint commands (0xE6) go to the fingerprint module.
    Outcome Finger(const Request& r)
    {
        const auto reply = finger_.Handle(r.payload);
        return reply ? Outcome{true, reply->code, reply->payload, false} : NoReply(r);
    }
    Outcome SetMessage(const Request& r);
    Outcome SetOneFrame(const Request& r);
    Outcome SetCode(const Request& r);
    Outcome KeyBoard(const Request& r);
    // A table sent in packets: the rows of its packets in order and the code that closed it.
    struct Table {
        std::vector<uint8_t> rows;
        int closing = -1;  // -1 while it is still being received
    };
    Outcome TablePacket(const Request& r);
    Outcome ClearMessages(const Request& r);
    // The packet fault that hits the current request, if any: a rule's, else a random one.
    std::optional<PacketFault> PacketFaultNow();

    std::vector<uint8_t> Render(uint8_t station, const Outcome& o, Link link, const Faults& f);

    std::array<bool, 32> stations_{};
    bool allStations_ = false;
    StatusBlock status_;
    ClockTime time_;
    Faults faults_;
    ProgramMode program_;
    ModemSettings modem_;
    FingerModule finger_;
    RecordStore records_;
    Settings settings_;
    std::vector<uint8_t> partialMessage_;  // packets of a message whose "}" is still due
    bool messageOpen_ = false;
    // Tables being received, by command byte, and the last table closed under each name
    // ("set_belltable", "set_jobnumbers 2", "set_pinnumbers", "clear_message", ..).
    std::map<uint8_t, Table> receiving_;
    std::map<std::string, Table> tables_;
    long requests_ = 0;
    std::mt19937 random_{1};
    std::FILE* journalFile_ = nullptr;
    bool verbose_ = false;
};

}  // namespace sim
