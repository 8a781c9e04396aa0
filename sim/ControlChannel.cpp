#include "ControlChannel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <vector>

namespace sim {

namespace {

constexpr size_t kMaxLine = 4096;

bool ParseCount(const std::string& text, int max, int& out)
{
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    out = std::stoi(text);
    return out <= max;
}

bool ParseSwitch(const std::vector<std::string>& args, bool& out)
{
    if (args.size() == 1) {
        out = true;
        return true;
    }
    if (args.size() != 2)
        return false;
    if (args[1] == "on" || args[1] == "1") {
        out = true;
        return true;
    }
    if (args[1] == "off" || args[1] == "0") {
        out = false;
        return true;
    }
    return false;
}

const char* OnOff(bool b)
{
    return b ? "on" : "off";
}

std::string Describe(ClockModel& m)
{
    const Faults& f = m.faults();
    std::ostringstream out;
    out << "busy=" << f.busy << " silent=" << OnOff(f.silent) << " wrong-station=" << OnOff(f.wrongStation)
        << " bad-crc=" << OnOff(f.badCrc) << " short=" << OnOff(f.shortReply)
        << " garbage=" << OnOff(f.garbage) << " drop=" << OnOff(f.drop) << " huge=" << OnOff(f.huge)
        << " flood=" << OnOff(f.flood) << " fault-rate=" << f.randomPerMille << " chunk=" << f.chunk
        << " chunk-gap=" << f.chunkGapMs << " delay=" << f.delayMs << " modem=" << OnOff(m.modem().enabled)
        << " modem-result=" << DialOutcomeName(m.modem().outcome)
        << " modem-connect-code=" << m.modem().connectCode << " status=" << m.StatusHex();
    return out.str();
}

std::string Bcd(uint8_t b)
{
    return ClockModel::Hex(&b, 1);
}

}  // namespace

std::string ApplyControl(ClockModel& model, const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> args;
    for (std::string word; in >> word;) args.push_back(word);
    if (args.empty())
        return "error empty command";
    const std::string& cmd = args[0];
    Faults& f = model.faults();
    constexpr int kMaxMs = 600000;

    struct SwitchRow {
        const char* name;
        bool Faults::*field;
    };
    static const SwitchRow switches[] = {
        {"silent", &Faults::silent},   {"wrong-station", &Faults::wrongStation},
        {"bad-crc", &Faults::badCrc},  {"short", &Faults::shortReply},
        {"garbage", &Faults::garbage}, {"drop", &Faults::drop},
        {"huge", &Faults::huge},       {"flood", &Faults::flood},
    };
    for (const auto& row : switches)
        if (cmd == row.name)
            return ParseSwitch(args, f.*row.field) ? "ok" : "error usage: " + cmd + " [on|off]";

    struct NumberRow {
        const char* name;
        int Faults::*field;
        int max;
    };
    static const NumberRow numbers[] = {
        {"busy", &Faults::busy, 1000000},
        {"chunk", &Faults::chunk, 4096},
        {"chunk-gap", &Faults::chunkGapMs, kMaxMs},
        {"delay", &Faults::delayMs, kMaxMs},
    };
    for (const auto& row : numbers)
        if (cmd == row.name) {
            int v = 0;
            if (args.size() != 2 || !ParseCount(args[1], row.max, v))
                return "error usage: " + cmd + " N (0.." + std::to_string(row.max) + ")";
            f.*row.field = v;
            return "ok";
        }

    if (cmd.rfind("program", 0) == 0)
        return model.program().Control(args);
    if (cmd.rfind("finger", 0) == 0)
        return model.finger().Control(args);
    if (cmd == "ping")
        return "ok";
    if (cmd == "fail-packet") {
        // fail-packet N KIND [TIMES]: the N-th request from now on, and TIMES in a row.
        int n = 0, times = 1;
        PacketFault kind{};
        if (args.size() < 3 || args.size() > 4 || !ParseCount(args[1], 1000000, n) || n < 1 ||
            !ParsePacketFault(args[2], kind) ||
            (args.size() == 4 && (!ParseCount(args[3], 1000000, times) || times < 1)))
            return "error usage: fail-packet N "
                   "busy|bad-crc|wrong-station|silence|lost|garbage|huge|flood|drop|"
                   "vanish [TIMES]";
        model.AddPacketFault(n, kind, times);
        return "ok";
    }
    if (cmd == "fault-rate") {
        // fault-rate PERMILLE [SEED]: spoil that share of requests at random.
        int perMille = 0, seed = 1;
        if (args.size() < 2 || args.size() > 3 || !ParseCount(args[1], 1000, perMille) ||
            (args.size() == 3 && !ParseCount(args[2], 1000000000, seed)))
            return "error usage: fault-rate PERMILLE (0..1000) [SEED]";
        model.SetRandomFaults(perMille, static_cast<unsigned>(seed));
        return "ok";
    }
    if (cmd == "requests")
        return "ok " + std::to_string(model.Requests());
    if (cmd == "records" || cmd == "message-list") {
        std::string error;
        if (args.size() != 2)
            return "error usage: " + cmd + " FILE";
        const bool loaded = cmd == "records" ? model.records().LoadRecords(args[1], error)
                                             : model.records().LoadMessages(args[1], error);
        return loaded ? "ok" : "error " + error;
    }
    if (cmd == "record-count") {
        int n = 0;
        if (args.size() < 2 || args.size() > 3 || !ParseCount(args[1], 1000000, n) ||
            (args.size() == 3 && args[2] != "jobs"))
            return "error usage: record-count N [jobs]";
        model.records().Generate(n, args.size() == 3);
        return "ok";
    }
    if (cmd == "records-left")
        return "ok total=" + std::to_string(model.records().Total()) +
               " taken=" + std::to_string(model.records().Taken()) +
               " handed=" + std::to_string(model.records().HandedOut()) +
               " again=" + std::to_string(model.records().HandedAgain());
    if (cmd == "packet-bytes") {
        int n = 0;
        if (args.size() != 2 || !ParseCount(args[1], RecordStore::kMaxPacketBytes, n) ||
            !model.records().SetPacketBytes(n))
            return "error usage: packet-bytes N (2.." + std::to_string(RecordStore::kMaxPacketBytes) + ")";
        return "ok";
    }
    if (cmd == "end-byte") {
        if (args.size() != 2 || args[1].size() != 2 ||
            !std::isxdigit(static_cast<unsigned char>(args[1][0])) ||
            !std::isxdigit(static_cast<unsigned char>(args[1][1])))
            return "error usage: end-byte HH";
        model.records().SetEndByte(static_cast<uint8_t>(std::stoi(args[1], nullptr, 16)));
        return "ok";
    }
    if (cmd == "settings") {
        // What the message and settings commands left: hex, "--" where never set.
        const auto& s = model.settings();
        const auto hex = [](bool set, const std::vector<uint8_t>& v) {
            std::string out = set ? "" : "--";
            for (uint8_t b : v) out += Bcd(b);
            return out;
        };
        const auto onOff = [](int v) { return v < 0 ? "--" : v ? "on" : "off"; };
        return "ok code=" + model.AccessCode() + " jobing=" + onOff(s.jobing) +
               " keyboard=" + onOff(s.keyboard) + " daylight=" + hex(s.daylightSet, s.daylight) +
               " modem=" + hex(s.modemSet, s.modemParameters) + " logo=" + hex(s.logoSet, s.logo) +
               " messages=" + std::to_string(s.messages.size());
    }
    if (cmd == "messages") {
        // The messages held, in the order kept, each in hex.
        std::string out = "ok";
        for (const auto& m : model.settings().messages) {
            out += ' ';
            for (uint8_t b : m) out += Bcd(b);
        }
        return out;
    }
    if (cmd == "show")
        return "ok " + Describe(model);
    if (cmd == "clear") {
        f = Faults{};
        return "ok";
    }
    if (cmd == "station") {
        if (args.size() != 2 || !model.SetStations(args[1]))
            return "error usage: station N[,N...]|all (N 0..31)";
        return "ok";
    }
    if (cmd == "status-hex") {
        std::string hex;
        for (size_t i = 1; i < args.size(); ++i) hex += args[i];
        if (!model.SetStatusHex(hex))
            return "error usage: status-hex followed by 68 hex digits";
        return "ok";
    }
    if (cmd == "status-byte") {
        int index = 0;
        if (args.size() != 3 || !ParseCount(args[1], ClockModel::kStatusSize - 1, index) ||
            args[2].size() != 2 || !std::isxdigit(static_cast<unsigned char>(args[2][0])) ||
            !std::isxdigit(static_cast<unsigned char>(args[2][1])))
            return "error usage: status-byte INDEX(0..33) HH";
        model.Status()[static_cast<size_t>(index)] = static_cast<uint8_t>(std::stoi(args[2], nullptr, 16));
        return "ok";
    }
    if (cmd == "modem") {
        bool on = false;
        if (!ParseSwitch(args, on))
            return "error usage: modem [on|off]";
        model.modem().enabled = on;
        return "ok";
    }
    if (cmd == "modem-result") {
        if (args.size() != 2 || !ParseDialOutcome(args[1], model.modem().outcome))
            return "error usage: modem-result connect|busy|nocarrier|noanswer|nodialtone|error|silent|ring";
        return "ok";
    }
    if (cmd == "modem-connect-code") {
        int v = 0;
        if (args.size() != 2 || !ParseCount(args[1], 999, v))
            return "error usage: modem-connect-code N (0..999)";
        model.modem().connectCode = v;
        return "ok";
    }
    if (cmd == "time") {
        const auto& t = model.LastTime();
        std::string out = "ok";
        out += t.timeSet ? " " + Bcd(t.hour) + ":" + Bcd(t.minute) + ":" + Bcd(t.second) : " --:--:--";
        out += t.dateSet ? " " + Bcd(t.dayOfWeek) + " " + Bcd(t.day) + "/" + Bcd(t.month) + "/" + Bcd(t.year)
                         : " - --/--/--";
        return out;
    }
    if (cmd == "journal") {
        // A marker line, so a test can split the journal into phases.
        std::string text = line.substr(line.find("journal") + 7);
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(text.begin());
        model.Journal("note " + text);
        return "ok";
    }
    return "error unknown command: " + cmd;
}

ControlChannel::ControlChannel(ClockModel& model, QObject* parent) : QObject(parent), model_(model) {}

ControlChannel::~ControlChannel()
{
    if (server_)
        server_->close();
}

bool ControlChannel::ListenSocket(const std::string& path, std::string& error)
{
    server_ = new QLocalServer(this);
    QLocalServer::removeServer(QString::fromStdString(path));
    if (!server_->listen(QString::fromStdString(path))) {
        error = "cannot listen on control socket " + path + ": " + server_->errorString().toStdString();
        return false;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QLocalSocket::readyRead, s, [this, s] {
                while (s->canReadLine()) {
                    std::string line = s->readLine().toStdString();
                    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
                    s->write(QByteArray::fromStdString(ApplyControl(model_, line) + "\n"));
                }
                if (s->bytesAvailable() > static_cast<qint64>(kMaxLine)) {
                    s->write("error line too long\n");
                    s->disconnectFromServer();
                }
            });
        }
    });
    return true;
}

void ControlChannel::ListenStdin()
{
    stdin_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(stdin_.get(), &QSocketNotifier::activated, this, [this] {
        char buf[512];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            stdin_->setEnabled(false);  // end of input: keep serving, just stop listening
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                if (stdinLine_.size() < kMaxLine)
                    stdinLine_ += buf[i];
                continue;
            }
            if (!stdinLine_.empty() && stdinLine_.back() == '\r')
                stdinLine_.pop_back();
            const std::string reply = ApplyControl(model_, stdinLine_) + "\n";
            stdinLine_.clear();
            std::fputs(reply.c_str(), stdout);
            std::fflush(stdout);
        }
    });
}

}  // namespace sim
