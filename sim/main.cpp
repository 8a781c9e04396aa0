// clocksim: plays an attendance clock on TCP and/or a pseudo-terminal, with switchable
// faults, so the poll program can be tested end to end without hardware.
#include "ClockModel.h"
#include "ControlChannel.h"
#include "DiscoveryResponder.h"
#include "PtyTransport.h"
#include "TcpTransport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
}

int Fail(const std::string& message)
{
    std::fprintf(stderr, "clocksim: %s\n", message.c_str());
    return 2;
}

bool WriteReadyFile(const std::string& path, const std::string& text, std::string& error)
{
    // Written under a temporary name and renamed, so a waiting test never sees half of it.
    const std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) {
        error = "cannot write ready file " + tmp + ": " + std::strerror(errno);
        return false;
    }
    std::fputs(text.c_str(), f);
    if (std::fclose(f) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot write ready file " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

const char* kDescription =
    "Plays an attendance time clock for the poll program: on TCP (replies end in two 0xFF)\n"
    "and/or on a pseudo-terminal (requests after the 0x55 0x55 preamble, replies end in one\n"
    "0xFF), optionally behind a dial-up modem that answers AT lines with numeric codes.\n"
    "\n"
    "The clock answers every command of the poll program:\n"
    "  get_status (0xAD), set_time (0xA5, 0xA6), reset_errors (0xAE), system_reset (0xEB 00 00);\n"
    "  get_times (0xA2, next block 0xAB): punch records in packets (--records, --record-count);\n"
    "  get_message_list (0xB4 01/02): the message list in packets (--message-list);\n"
    "  table uploads: set_belltable, set_belltable2, set_jobnumbers, set_pinnumbers, clear_message;\n"
    "  set_message, set_daylight, set_modem, set_logo, set_code, set_jobing, key_board,\n"
    "  clear_all_messages: each kept and journalled as received;\n"
    "  the fingerprint module (0xE6): template backup and restore (--fingers);\n"
    "  programming mode: contact, erase, records and terminate for one board (--program).\n"
    "  Acknowledge (0xA1), system_reset and modem reset (0xB2) get no reply; unknown commands\n"
    "  and bad digits get 0xA0. With --discovery the network adaptor answers the UDP discovery\n"
    "  request on port 30718; with --baud the pty answers only at that speed.\n"
    "Faults for every error path: busy, silence, wrong station, bad digits, short, junk, huge\n"
    "or endless replies, dropped connections, a simulator that vanishes, lost requests, one\n"
    "spoiled request (--fail-packet) or a share at random (--fault-rate), fingerprint faults.\n"
    "\n"
    "TCP listens on 127.0.0.1:14001 unless --pty is given without --listen/--port.\n"
    "Only 127.0.0.0/8 addresses are accepted unless --allow-any-address is given.\n"
    "\n"
    "Control commands (one per line on --control PATH or stdin with --control -; each\n"
    "answered by one line \"ok ...\" or \"error ...\"):\n"
    "  busy N | chunk N | chunk-gap MS | delay MS\n"
    "  silent|wrong-station|bad-crc|short|garbage|drop|huge|flood [on|off]   (no argument: on)\n"
    "  fail-packet N KIND [TIMES] | fault-rate PERMILLE [SEED]\n"
    "  clear (all faults off) | station N[,N..]|all | status-hex HEX68 | status-byte I HH\n"
    "  modem [on|off] | modem-result R | modem-connect-code N\n"
    "  records FILE | record-count N [jobs] | packet-bytes N | end-byte HH | message-list FILE\n"
    "  records-left | requests | settings | messages\n"
    "  program [BOARD] | program-image FILE | program-refuse N | program-silent N\n"
    "  fingers E [SEED [T]] | finger-dump PATH | finger-limits MEMORY PER-EMPLOYEE\n"
    "  finger-fault KIND [SLOT [TEMPLATE [TIMES]]] | finger-clear | finger-show\n"
    "  show | time (last set time and date) | journal TEXT (writes \"note TEXT\") | ping\n"
    "\n"
    "Journal lines: \"rx <hex of station..digits> FF\" per request; \"set_time HH:MM:SS\";\n"
    "\"set_date W DD/MM/YY\"; \"system_reset\"; records and message-list packets handed out;\n"
    "tables, messages and settings kept; \"program_...\" and \"finger ...\" steps; faults hit;\n"
    "modem: \"at <line>\", \"connect\", \"hangup\". The full list is in sim/README.md.";

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("clocksim");
    QCoreApplication::setApplicationVersion("1.0");

    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(kDescription));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption listen({"listen", "address"},
                                    "TCP address to listen on, optionally with :PORT "
                                    "(default 127.0.0.1:14001).",
                                    "ADDR[:PORT]");
    const QCommandLineOption port("port", "TCP port (default 14001; 0 picks a free one, printed on stdout).",
                                  "N");
    const QCommandLineOption pty("pty", "Play the clock on a pseudo-terminal; prints \"pty: /dev/pts/N\".");
    const QCommandLineOption link("link", "Create a symlink PATH to the pty's slave (implies --pty).",
                                  "PATH");
    const QCommandLineOption station("station", "Station(s) answered: N (0..31), N,N,... or all (default 1).",
                                     "N");
    const QCommandLineOption statusHex("status-hex", "Status block D0..D33 as 68 hex digits.", "HEX");
    const QCommandLineOption busy("busy", "Answer 0xB0 (busy) to the next N requests.", "N");
    const QCommandLineOption silent("silent", "Never answer.");
    const QCommandLineOption wrongStation("wrong-station", "Answer with station + 1.");
    const QCommandLineOption badCrc("bad-crc", "Corrupt the digits of every reply.");
    const QCommandLineOption chunk("chunk", "Send replies in pieces of N bytes.", "N");
    const QCommandLineOption chunkGap("chunk-gap", "Pause between pieces (default 30).", "MS");
    const QCommandLineOption drop("drop", "Send only half of each reply; on TCP then close the connection.");
    const QCommandLineOption shortReply("short", "Send a reply of fewer than five bytes ending in 0xFF.");
    const QCommandLineOption garbage("garbage", "Send 300 bytes of junk ending in 0xFF instead of a reply.");
    const QCommandLineOption delay("delay", "Wait MS milliseconds before answering.", "MS");
    const QCommandLineOption verbose("verbose", "Log each received and sent frame in hex on stderr.");
    const QCommandLineOption journal("journal", "Append one line per received request to FILE (flushed).",
                                     "FILE");
    const QCommandLineOption ready("ready-file", "Create PATH once listening; it holds the tcp:/pty: lines.",
                                   "PATH");
    const QCommandLineOption control("control", "Control channel: Unix socket PATH, or - for stdin.", "PATH");
    const QCommandLineOption modem("modem",
                                   "Put a dial-up modem in front of the clock on the pty (implies --pty).");
    const QCommandLineOption modemResult(
        "modem-result",
        "Dial outcome: connect|busy|nocarrier|noanswer|nodialtone|error|silent|ring "
        "(default connect).",
        "R");
    const QCommandLineOption modemCode("modem-connect-code", "Result code of a connect (default 1).", "N");
    const QCommandLineOption anyAddress("allow-any-address", "Allow listening outside 127.0.0.0/8.");
    const QCommandLineOption records("records", "Punch records to hand out, one per line in hex bytes.",
                                     "FILE");
    const QCommandLineOption recordCount("record-count", "Hand out N made-up punch records.", "N");
    const QCommandLineOption jobCodes("job-codes", "Made-up records carry job-code groups.");
    const QCommandLineOption packetBytes("packet-bytes", "Largest data part of a packet (default 200).", "N");
    const QCommandLineOption endByte("end-byte", "D0 of the end-of-records packet (default 01).", "HH");
    const QCommandLineOption messageList("message-list", "The message list handed out: the bytes of FILE.",
                                         "FILE");
    const QCommandLineOption failPacket("fail-packet",
                                        "Spoil the N-th request (repeatable): busy|bad-crc|wrong-station|"
                                        "silence|lost|garbage|huge|flood|drop|vanish, TIMES requests in a "
                                        "row (default 1).",
                                        "N:KIND[:TIMES]");
    const QCommandLineOption faultRate("fault-rate",
                                       "Spoil PERMILLE of all requests at random (busy|bad-crc|wrong-station|"
                                       "silence|lost), drawn with SEED (default 1).",
                                       "PERMILLE[:SEED]");
    p.addOptions({listen,      port,         pty,        link,     station,     statusHex, busy,
                  silent,      wrongStation, badCrc,     chunk,    chunkGap,    drop,      shortReply,
                  garbage,     delay,        verbose,    journal,  ready,       control,   modem,
                  modemResult, modemCode,    anyAddress, records,  recordCount, jobCodes,  packetBytes,
                  endByte,     messageList,  failPacket, faultRate});
    sim::ProgramMode::AddOptions(p);
    const QCommandLineOption discovery("discovery",
                                       "Answer the UDP discovery request on port 30718 of the TCP "
                                       "address and of its broadcast address (127.255.255.255 on "
                                       "loopback).");
    const QCommandLineOption baud("baud", "On the pty, answer only at this speed (default: any).", "N");
    p.addOption(discovery);
    p.addOption(baud);
    const QCommandLineOption fingers(
        "fingers",
        "Fingerprint templates: EMPLOYEES [SEED [TEMPLATES]] (default \"5 1 0\": "
        "templates 0 gives each employee 1 to 10, by the seed).",
        "LIST");
    const QCommandLineOption fingerDump(
        "finger-dump", "Write the template backup file a complete backup gives to PATH.", "PATH");
    p.addOptions({fingers, fingerDump});
    p.process(app);
    if (!p.positionalArguments().isEmpty())
        return Fail("unexpected argument " + p.positionalArguments().first().toStdString() + " (see --help)");

    sim::ClockModel model;
    model.SetVerbose(p.isSet(verbose));
    for (const auto& [option, command] :
         {std::pair{&fingers, "fingers"}, std::pair{&fingerDump, "finger-dump"}})
        if (p.isSet(*option)) {
            const std::string reply =
                sim::ApplyControl(model, std::string(command) + " " + p.value(*option).toStdString());
            if (reply != "ok")
                return Fail("--" + std::string(command) + ": " + reply.substr(reply.find(' ') + 1));
        }

    // Every switch is applied as the control command of the same name, so both agree.
    const struct {
        const QCommandLineOption& option;
        const char* command;
    } valued[] = {{station, "station"},
                  {statusHex, "status-hex"},
                  {busy, "busy"},
                  {chunk, "chunk"},
                  {chunkGap, "chunk-gap"},
                  {delay, "delay"},
                  {modemResult, "modem-result"},
                  {modemCode, "modem-connect-code"},
                  {records, "records"},
                  {packetBytes, "packet-bytes"},
                  {endByte, "end-byte"},
                  {messageList, "message-list"}};
    for (const auto& v : valued)
        if (p.isSet(v.option)) {
            const std::string reply =
                sim::ApplyControl(model, std::string(v.command) + " " + p.value(v.option).toStdString());
            if (reply != "ok")
                return Fail("--" + std::string(v.command) + ": " + reply.substr(reply.find(' ') + 1));
        }
    const struct {
        const QCommandLineOption& option;
        const char* command;
    } flags[] = {{silent, "silent"}, {wrongStation, "wrong-station"}, {badCrc, "bad-crc"},
                 {drop, "drop"},     {shortReply, "short"},           {garbage, "garbage"},
                 {modem, "modem"}};
    for (const auto& f : flags)
        if (p.isSet(f.option))
            sim::ApplyControl(model, f.command);
    if (p.isSet(recordCount)) {
        const std::string reply = sim::ApplyControl(
            model, "record-count " + p.value(recordCount).toStdString() + (p.isSet(jobCodes) ? " jobs" : ""));
        if (reply != "ok")
            return Fail("--record-count: " + reply.substr(reply.find(' ') + 1));
    }
    for (const QString& rule : p.values(failPacket)) {
        std::string text = rule.toStdString();
        std::replace(text.begin(), text.end(), ':', ' ');
        const std::string reply = sim::ApplyControl(model, "fail-packet " + text);
        if (reply != "ok")
            return Fail("--fail-packet: " + reply.substr(reply.find(' ') + 1));
    }

    if (p.isSet(faultRate)) {
        std::string text = p.value(faultRate).toStdString();
        std::replace(text.begin(), text.end(), ':', ' ');
        const std::string reply = sim::ApplyControl(model, "fault-rate " + text);
        if (reply != "ok")
            return Fail("--fault-rate: " + reply.substr(reply.find(' ') + 1));
    }

    std::string error;
    if (!model.program().ApplyOptions(p, error))
        return Fail(error);
    if (p.isSet(journal) && !model.OpenJournal(p.value(journal).toStdString(), error))
        return Fail(error);

    const std::string readyPath = p.value(ready).toStdString();
    if (!readyPath.empty())
        std::remove(readyPath.c_str());  // a stale file from an earlier run must not signal readiness

    const bool wantPty = p.isSet(pty) || p.isSet(link) || p.isSet(modem);
    const bool wantTcp = !wantPty || p.isSet(listen) || p.isSet(port);
    std::string readyText;

    std::unique_ptr<sim::TcpTransport> tcp;
    if (wantTcp) {
        QString host = "127.0.0.1";
        int portNumber = 14001;
        if (p.isSet(listen)) {
            host = p.value(listen);
            const qsizetype colon = host.lastIndexOf(':');
            if (colon >= 0 && host.count(':') == 1) {
                bool ok = false;
                portNumber = host.mid(colon + 1).toInt(&ok);
                if (!ok)
                    return Fail("--listen: bad port in " + host.toStdString());
                host.truncate(colon);
            }
        }
        if (p.isSet(port)) {
            bool ok = false;
            portNumber = p.value(port).toInt(&ok);
            if (!ok)
                return Fail("--port: not a number: " + p.value(port).toStdString());
        }
        if (portNumber < 0 || portNumber > 65535)
            return Fail("port out of range: " + std::to_string(portNumber));
        if (host == "localhost")
            host = "127.0.0.1";
        QHostAddress address;
        if (!address.setAddress(host))
            return Fail("--listen: not an IP address: " + host.toStdString());
        if (!p.isSet(anyAddress) && !address.isInSubnet(QHostAddress("127.0.0.0"), 8))
            return Fail("refusing to listen on " + host.toStdString() +
                        " outside 127.0.0.0/8 (use --allow-any-address to allow it)");
        tcp = std::make_unique<sim::TcpTransport>(model);
        if (!tcp->Listen(address, static_cast<quint16>(portNumber), error))
            return Fail(error);
        readyText +=
            "tcp: " + tcp->Address().toString().toStdString() + ":" + std::to_string(tcp->Port()) + "\n";
    }
    std::unique_ptr<sim::DiscoveryResponder> responder;
    if (p.isSet(discovery)) {
        if (!tcp)
            return Fail("--discovery needs the TCP address (--listen)");
        responder = std::make_unique<sim::DiscoveryResponder>(model);
        if (!responder->Listen(tcp->Address(), error))
            return Fail(error);
        readyText += "udp: " + tcp->Address().toString().toStdString() + ":" +
                     std::to_string(sim::DiscoveryResponder::kPort) + "\n";
    }

    std::unique_ptr<sim::PtyTransport> serial;
    if (wantPty) {
        serial = std::make_unique<sim::PtyTransport>(model);
        if (!serial->Open(error))
            return Fail(error);
        if (p.isSet(link) && !serial->MakeLink(p.value(link).toStdString(), error))
            return Fail(error);
        readyText += "pty: " + serial->SlavePath() + "\n";
        if (p.isSet(baud)) {
            const int rate = p.value(baud).toInt();
            if (rate <= 0)
                return Fail("--baud: not a speed: " + p.value(baud).toStdString());
            serial->SetBaud(rate);
        }
    }

    sim::ControlChannel channel(model);
    if (p.isSet(control)) {
        const std::string path = p.value(control).toStdString();
        if (path == "-")
            channel.ListenStdin();
        else if (!channel.ListenSocket(path, error))
            return Fail(error);
    }

    // Orderly exit on SIGTERM/SIGINT/SIGHUP, so the pty link is removed.
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return Fail(std::string("pipe: ") + std::strerror(errno));
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::fputs(readyText.c_str(), stdout);
    std::fflush(stdout);
    if (!readyPath.empty() && !WriteReadyFile(readyPath, readyText, error))
        return Fail(error);

    return app.exec();
}
