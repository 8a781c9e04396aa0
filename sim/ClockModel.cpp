#include "ClockModel.h"

#include "link/Framing.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

std::string Bcd(uint8_t b)
{
    static const char* digits = "0123456789ABCDEF";
    return {digits[b >> 4], digits[b & 0x0F]};
}

}  // namespace

ClockModel::ClockModel() : status_(DefaultStatus())
{
    stations_[1] = true;
    finger_.journal = [this](const std::string& line) { Journal(line); };
    program_.journal = [this](const std::string& line) { Journal(line); };
}

ClockModel::~ClockModel()
{
    if (journalFile_)
        std::fclose(journalFile_);
}

ClockModel::StatusBlock ClockModel::DefaultStatus()
{
    StatusBlock s{};
    s[2] = 0x04;  // bell tables enabled
    const char* text =
        "507316"  // D4..D9 access code
        "99"      // D10, D11 employee limit
        "50"      // D12, D13 job limit
        "04"      // D14, D15 job levels
        "20"      // D16, D17 job level 1 limit
        "20"      // D18, D19 job level 2 limit
        "10"      // D20, D21 job level 3 limit
        "10";     // D22, D23 job level 4 limit
    std::memcpy(s.data() + 4, text, 20);
    s[24] = 0x09;  // CPU firmware 09.04
    s[25] = 0x04;
    s[26] = 0x02;  // display firmware 02.10
    s[27] = 0x10;
    s[28] = 0x01;  // card reader input module
    s[29] = 0x04;  // TCP/IP comms module
    return s;      // D30..D33: no error bits
}

bool ClockModel::SetStations(const std::string& list)
{
    if (list == "all") {
        allStations_ = true;
        return true;
    }
    std::array<bool, 32> wanted{};
    std::stringstream in(list);
    std::string item;
    bool any = false;
    while (std::getline(in, item, ',')) {
        if (item.empty() || item.size() > 2 || !std::isdigit(static_cast<unsigned char>(item[0])) ||
            (item.size() == 2 && !std::isdigit(static_cast<unsigned char>(item[1]))))
            return false;
        const int n = std::stoi(item);
        if (n > 31)
            return false;
        wanted[static_cast<size_t>(n)] = true;
        any = true;
    }
    if (!any)
        return false;
    stations_ = wanted;
    allStations_ = false;
    return true;
}

bool ClockModel::Serves(uint8_t stationByte) const
{
    if (!FrameReader::IsStationByte(stationByte))
        return false;
    return allStations_ || stations_[stationByte - 0xC0];
}

bool ClockModel::SetStatusHex(const std::string& hex)
{
    std::string digits;
    for (char c : hex) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.size() != 2 * kStatusSize)
        return false;
    for (int i = 0; i < kStatusSize; ++i)
        status_[static_cast<size_t>(i)] =
            static_cast<uint8_t>(std::stoi(digits.substr(2 * i, 2), nullptr, 16));
    return true;
}

std::string ClockModel::StatusHex() const
{
    std::string out;
    for (uint8_t b : status_) out += Bcd(b);
    return out;
}

std::string ClockModel::AccessCode() const
{
    std::string code;
    for (int i = 4; i <= 9; ++i)
        if (status_[static_cast<size_t>(i)] != 0)
            code += static_cast<char>(status_[static_cast<size_t>(i)]);
    return code;
}

bool ClockModel::OpenJournal(const std::string& path, std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) {
        error = std::string("cannot open journal ") + path + ": " + std::strerror(errno);
        return false;
    }
    if (journalFile_)
        std::fclose(journalFile_);
    journalFile_ = f;
    return true;
}

void ClockModel::Journal(const std::string& line)
{
    if (journalFile_) {
        std::fputs(line.c_str(), journalFile_);
        std::fputc('\n', journalFile_);
        std::fflush(journalFile_);
    }
    Log(line);
}

void ClockModel::Log(const std::string& line) const
{
    if (verbose_)
        std::fprintf(stderr, "clocksim: %s\n", line.c_str());
}

std::string ClockModel::Escaped(const std::vector<uint8_t>& v)
{
    std::string out;
    for (uint8_t b : v) {
        if (b >= 0x20 && b < 0x7F && b != '\\')
            out += static_cast<char>(b);
        else
            out += "\\x" + Bcd(b);
    }
    return out;
}

std::string ClockModel::Hex(const uint8_t* data, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        if (i)
            out += ' ';
        out += Bcd(data[i]);
    }
    return out;
}

// One row per command byte the clock understands; anything else is answered 0xA0.
const std::map<uint8_t, ClockModel::Handler>& ClockModel::Handlers()
{
    static const std::map<uint8_t, Handler> table = {
        {frame::cmdAcknowledge, &ClockModel::NoReply},
        {frame::cmdSetTime, &ClockModel::SetTime},
        {frame::cmdSetDate, &ClockModel::SetDate},
        {frame::cmdGetStatus, &ClockModel::GetStatus},
        {frame::cmdResetErrors, &ClockModel::ResetErrors},
        {frame::cmdModemReset, &ClockModel::ModemReset},
        {frame::cmdSystemReset, &ClockModel::SystemReset},
        {frame::cmdGetTimes, &ClockModel::GetTimes},
        {frame::cmdResend, &ClockModel::GetTimes},
        {frame::cmdNextBlock, &ClockModel::NextTimes},
        {frame::cmdGetMessageList, &ClockModel::GetMessageList},
        {frame::cmdFinger, &ClockModel::Finger},
        {frame::cmdSetBellTable, &ClockModel::TablePacket},
        {frame::cmdSetBellTable2, &ClockModel::TablePacket},
        {frame::cmdJob, &ClockModel::TablePacket},
        {frame::cmdSetPinNumbers, &ClockModel::TablePacket},
        {frame::cmdClearMessage, &ClockModel::ClearMessages},
        {frame::cmdSetMessage, &ClockModel::SetMessage},
        {frame::cmdSetDaylight, &ClockModel::SetOneFrame},
        {frame::cmdSetModem, &ClockModel::SetOneFrame},
        {frame::cmdSetLogo, &ClockModel::SetOneFrame},
        {frame::cmdSetCode, &ClockModel::SetCode},
        {frame::cmdKeyBoard, &ClockModel::KeyBoard},
    };
    return table;
}

ClockModel::Outcome ClockModel::SetTime(const Request& r)
{
    if (r.payload.size() != 3)
        return Rejected();
    time_.timeSet = true;
    time_.hour = r.payload[0];
    time_.minute = r.payload[1];
    time_.second = r.payload[2];
    Journal("set_time " + Bcd(time_.hour) + ":" + Bcd(time_.minute) + ":" + Bcd(time_.second));
    return Acknowledge(r);
}

ClockModel::Outcome ClockModel::SetDate(const Request& r)
{
    if (r.payload.size() != 4)
        return Rejected();
    time_.dateSet = true;
    time_.dayOfWeek = r.payload[0];
    time_.day = r.payload[1];
    time_.month = r.payload[2];
    time_.year = r.payload[3];
    Journal("set_date " + Bcd(time_.dayOfWeek) + " " + Bcd(time_.day) + "/" + Bcd(time_.month) + "/" +
            Bcd(time_.year));
    return Acknowledge(r);
}

ClockModel::Outcome ClockModel::GetStatus(const Request&)
{
    return {true, frame::cmdGetStatus, std::vector<uint8_t>(status_.begin(), status_.end()), false};
}

ClockModel::Outcome ClockModel::ResetErrors(const Request& r)
{
    // The error bytes D30, D31 and D33 read clear afterwards.
    status_[30] = 0;
    status_[31] = 0;
    status_[33] = 0;
    return Acknowledge(r);
}

ClockModel::Outcome ClockModel::SystemReset(const Request& r)
{
    // 0xEB 0x5A 0xA5 is the programming-mode contact and never reaches here.
    if (r.payload != std::vector<uint8_t>{0x00, 0x00})
        return Rejected();
    Journal("system_reset");
    return NoReply(r);
}

ClockModel::Outcome ClockModel::GetTimes(const Request& r)
{
    // 0xA2 and 0xA0 both get the packet not yet taken: asking again is never taking.
    if (!r.payload.empty())
        return Rejected();
    std::string what;
    Outcome o{true, frame::cmdGetTimes, records_.CurrentPacket(what), false};
    Journal(what);
    return o;
}

ClockModel::Outcome ClockModel::NextTimes(const Request& r)
{
    if (!r.payload.empty())
        return Rejected();
    std::string what;
    Outcome o{true, frame::cmdGetTimes, records_.NextPacket(what), false};
    Journal("get_times taken " + std::to_string(records_.Taken()));
    Journal(what);
    return o;
}

ClockModel::Outcome ClockModel::GetMessageList(const Request& r)
{
    if (r.payload.size() != 1 || (r.payload[0] != 0x01 && r.payload[0] != 0x02))
        return Rejected();
    std::string what;
    Outcome o{true, frame::cmdGetMessageList, records_.MessagePacket(r.payload[0] == 0x01, what), false};
    Journal(what);
    return o;
}

void ClockModel::AddPacketFault(long n, PacketFault kind, int times)
{
    faults_.packetFaults.push_back({requests_ + n, times, kind});
}

void ClockModel::SetRandomFaults(int perMille, unsigned seed)
{
    faults_.randomPerMille = perMille;
    random_.seed(seed);
}

std::optional<PacketFault> ClockModel::PacketFaultNow()
{
    for (const PacketFaultRule& rule : faults_.packetFaults)
        if (requests_ >= rule.first && requests_ < rule.first + rule.times)
            return rule.kind;
    if (faults_.randomPerMille <= 0)
        return std::nullopt;
    if (std::uniform_int_distribution<int>(0, 999)(random_) >= faults_.randomPerMille)
        return std::nullopt;
    static constexpr PacketFault kinds[] = {PacketFault::Busy, PacketFault::BadCrc, PacketFault::WrongStation,
                                            PacketFault::Silence, PacketFault::Lost};
    return kinds[std::uniform_int_distribution<size_t>(0, std::size(kinds) - 1)(random_)];
}

// Table uploads: sequence byte 0 starts a table (again), 1 adds a packet to it, and a
// one-byte payload with the command's closing code keeps it and journals it whole.
// 0xA7 02/03 is set_jobing.
ClockModel::Outcome ClockModel::TablePacket(const Request& r)
{
    if (r.payload.empty())
        return Rejected();
    const uint8_t code = r.payload[0];
    const std::vector<uint8_t> rows(r.payload.begin() + 1, r.payload.end());
    if (code == 0x00 || code == 0x01) {
        if (code == 0x01 && receiving_.count(r.command) == 0)
            return Rejected();
        Table& table = receiving_[r.command];
        if (code == 0x00)
            table = Table{};
        table.rows.insert(table.rows.end(), rows.begin(), rows.end());
        return Acknowledge(r);
    }
    if (!rows.empty())
        return Rejected();
    std::string name;
    switch (r.command) {
        case frame::cmdSetBellTable:
        case frame::cmdSetBellTable2:
            if (code != 0x02 && code != 0x03)
                return Rejected();
            name = r.command == frame::cmdSetBellTable ? "set_belltable" : "set_belltable2";
            break;
        case frame::cmdJob:
            if (code == 0x02 || code == 0x03) {
                Journal(code == 0x03 ? "set_jobing ON" : "set_jobing OFF");
                settings_.jobing = code == 0x03 ? 1 : 0;
                return Acknowledge(r);
            }
            if (code != 0x04 && code != 0x05)
                return Rejected();
            name = code == 0x04 ? "set_jobnumbers 2" : "set_jobnumbers 1";
            break;
        default:  // set_pinnumbers: 02 clears the PIN numbers, 03 closes the new ones
            if (code == 0x02) {
                tables_["set_pinnumbers"] = Table{{}, 0x02};
                Journal("table set_pinnumbers cleared");
                return Acknowledge(r);
            }
            if (code != 0x03)
                return Rejected();
            name = "set_pinnumbers";
            break;
    }
    const auto it = receiving_.find(r.command);
    if (it == receiving_.end())
        return Rejected();
    it->second.closing = code;
    tables_[name] = it->second;
    receiving_.erase(it);
    const Table& kept = tables_[name];
    Journal("table " + name + " " + Hex(&code, 1) + (kept.rows.empty() ? "" : " " + Hex(kept.rows)));
    return Acknowledge(r);
}

// clear_message: every packet (sequence byte 2) names messages, each ended by 0x0A, to
// delete; they are kept in the order received (a restarted upload adds them again).
// 0xB0 01 is clear_all_messages.
ClockModel::Outcome ClockModel::ClearMessages(const Request& r)
{
    if (r.payload == std::vector<uint8_t>{0x01}) {
        Journal("clear_all_messages");
        settings_.messages.clear();
        return Acknowledge(r);
    }
    if (r.payload.empty() || r.payload[0] != 0x02)
        return Rejected();
    Table& table = tables_["clear_message"];
    table.closing = 0x02;
    table.rows.insert(table.rows.end(), r.payload.begin() + 1, r.payload.end());
    Journal("clear_message" +
            (r.payload.size() > 1 ? " " + Hex(r.payload.data() + 1, r.payload.size() - 1) : ""));
    return Acknowledge(r);
}

// set_message: sequence byte 1 opens a message, 2 continues it; the message is kept when
// the packet with its "}" arrives. A message sent again after a spoilt reply replaces its
// earlier copy instead of being kept twice.
ClockModel::Outcome ClockModel::SetMessage(const Request& r)
{
    if (r.payload.size() < 2 || (r.payload[0] != 0x01 && r.payload[0] != 0x02) ||
        (r.payload[0] == 0x02 && !messageOpen_))
        return Rejected();
    if (r.payload[0] == 0x01)
        partialMessage_.clear();
    partialMessage_.insert(partialMessage_.end(), r.payload.begin() + 1, r.payload.end());
    messageOpen_ = partialMessage_.back() != '}';
    if (!messageOpen_) {
        auto& kept = settings_.messages;
        kept.erase(std::remove(kept.begin(), kept.end(), partialMessage_), kept.end());
        kept.push_back(partialMessage_);
        Journal("message " + Escaped(partialMessage_));
    }
    return Acknowledge(r);
}

// set_daylight, set_modem and set_logo: the payload is kept as it came.
ClockModel::Outcome ClockModel::SetOneFrame(const Request& r)
{
    const char* name = "set_daylight";
    std::vector<uint8_t>* kept = &settings_.daylight;
    bool* set = &settings_.daylightSet;
    if (r.command == frame::cmdSetModem) {
        name = "set_modem";
        kept = &settings_.modemParameters;
        set = &settings_.modemSet;
    } else if (r.command == frame::cmdSetLogo) {
        name = "set_logo";
        kept = &settings_.logo;
        set = &settings_.logoSet;
    }
    *kept = r.payload;
    *set = true;
    Journal(std::string(name) + " " +
            (r.command == frame::cmdSetDaylight ? Hex(r.payload) : Escaped(r.payload)));
    return Acknowledge(r);
}

// set_code: the six code bytes become status bytes D4..D9, as get_status reports them.
ClockModel::Outcome ClockModel::SetCode(const Request& r)
{
    if (r.payload.size() != 6)
        return Rejected();
    std::copy(r.payload.begin(), r.payload.end(), status_.begin() + 4);
    Journal("set_code " + Escaped(r.payload));
    return Acknowledge(r);
}

// key_board: 00 is ON, 01 is OFF.
ClockModel::Outcome ClockModel::KeyBoard(const Request& r)
{
    if (r.payload.size() != 1 || r.payload[0] > 0x01)
        return Rejected();
    settings_.keyboard = r.payload[0] == 0x00 ? 1 : 0;
    Journal(settings_.keyboard ? "key_board ON" : "key_board OFF");
    return Acknowledge(r);
}

ClockModel::Outcome ClockModel::ModemReset(const Request& r)
{
    Outcome o = NoReply(r);
    o.modemReset = true;
    return o;
}

Answer ClockModel::Receive(const Frame& frame, Link link)
{
    Journal("rx " + Hex(frame.bytes) + " FF");
    Answer answer;
    if (frame.bytes.empty() || !Serves(frame.bytes[0]))
        return answer;

    const uint8_t station = frame.bytes[0];
    ++requests_;
    Faults effective = faults_;
    const std::optional<PacketFault> fault = PacketFaultNow();
    if (fault) {
        Journal(std::string("fault ") + PacketFaultName(*fault) + " on request " + std::to_string(requests_));
        if (*fault == PacketFault::Lost)
            return answer;
        // The switch each kind turns on for this one reply (busy is answered further down).
        static const std::pair<PacketFault, bool Faults::*> kSwitches[] = {
            {PacketFault::Silence, &Faults::silent},
            {PacketFault::BadCrc, &Faults::badCrc},
            {PacketFault::WrongStation, &Faults::wrongStation},
            {PacketFault::Garbage, &Faults::garbage},
            {PacketFault::Huge, &Faults::huge},
            {PacketFault::Flood, &Faults::flood},
            {PacketFault::Drop, &Faults::drop},
            {PacketFault::Vanish, &Faults::drop},
        };
        for (const auto& [kind, field] : kSwitches)
            if (*fault == kind)
                effective.*field = true;
        answer.vanish = *fault == PacketFault::Vanish;
    }
    Outcome outcome;
    const size_t body = frame.bytes.size() >= 4 ? frame.bytes.size() - 4 : 0;
    const auto digits = frame::RenderDigits(frame::Crc16(frame.bytes.data(), static_cast<int>(body)));
    if (body < 2 || std::memcmp(digits.data(), frame.bytes.data() + body, 4) != 0) {
        Log("request digits do not match");
        outcome = Rejected();
    } else {
        Request request{station, frame.bytes[1],
                        std::vector<uint8_t>(frame.bytes.begin() + 2,
                                             frame.bytes.begin() + static_cast<std::ptrdiff_t>(body))};
        const auto& table = Handlers();
        const auto it = table.find(request.command);
        if (const auto program = program_.Handle(request.command, request.payload))
            outcome = program->answered ? Outcome{true, program->code, {}, false} : NoReply(request);
        else
            outcome = it == table.end() ? Rejected() : (this->*(it->second))(request);
    }

    answer.modemReset = outcome.modemReset;
    if (!outcome.reply || effective.silent)
        return answer;
    const bool packetBusy = fault == PacketFault::Busy;
    if (packetBusy || faults_.busy > 0) {
        if (!packetBusy)
            --faults_.busy;
        outcome = {true, frame::rpBusy, {}, outcome.modemReset};
    }
    answer.bytes = Render(station, outcome, link, effective);
    // A records packet that goes out whole: a later copy of it is one the program has had.
    if (outcome.code == frame::cmdGetTimes && !effective.badCrc && !effective.wrongStation &&
        !effective.garbage && !effective.huge && !effective.shortReply && !effective.drop && !effective.flood)
        records_.Delivered();
    answer.delayMs = faults_.delayMs;
    answer.chunk = faults_.chunk;
    answer.chunkGapMs = faults_.chunkGapMs;
    answer.dropHalf = effective.drop;
    answer.flood = effective.flood;
    return answer;
}

std::vector<uint8_t> ClockModel::Render(uint8_t station, const Outcome& o, Link link, const Faults& f)
{
    const size_t terminators = link == Link::Serial ? 1 : 2;
    const uint8_t replyStation = f.wrongStation ? static_cast<uint8_t>(station + 1) : station;
    std::vector<uint8_t> out;
    if (f.garbage || f.huge) {
        // Junk with no 0xFF inside, so only its end looks like a terminator.
        const size_t size = f.huge ? 65536 : 300;
        uint32_t x = 0x2545F491u;
        while (out.size() < size - terminators) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            out.push_back(static_cast<uint8_t>(x % 255));
        }
        out.insert(out.end(), terminators, 0xFF);
        return out;
    }
    if (f.shortReply) {
        out.assign(2 + terminators, 0xFF);
        out[0] = replyStation;
        out[1] = o.code;
        return out;
    }
    out.reserve(o.payload.size() + 6 + terminators);
    out.push_back(replyStation);
    out.push_back(o.code);
    for (uint8_t b : o.payload) out.push_back(b);
    auto digits = frame::RenderDigits(frame::Crc16(out.data(), static_cast<int>(out.size())));
    if (f.badCrc)
        digits[3] = static_cast<char>(((digits[3] - 0x30 + 1) & 0x0F) + 0x30);
    for (char c : digits) out.push_back(static_cast<uint8_t>(c));
    out.resize(out.size() + static_cast<size_t>(terminators), 0xFF);
    return out;
}

}  // namespace sim
