#include "ClockFinder.h"

#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "core/ClockError.h"
#include "interpreter/CommandTable.h"
#include "link/Exchange.h"
#include "link/Stopwatch.h"
#include "link/Transport.h"
#include "session/RunUi.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <string>

namespace {

constexpr int kSpeeds[] = {9600, 4800, 2400, 1200};
// A status reply shorter than this carries no status block.
constexpr int kShortestStatusReply = 16;
constexpr int kTriesPerStation = 2;

// The serial search sends get_status's status request and shows that command's memo lines.
CommandContext WithStatusTexts(CommandContext ctx)
{
    ctx.texts = &FindKeyword("get_status")->texts;
    return ctx;
}

}  // namespace

const std::vector<uint8_t>& ClockFinder::DiscoveryRequest()
{
    static const std::vector<uint8_t> request{0x00, 0x00, 0x00, 0xF6};
    return request;
}

ClockFinder::ClockFinder(const CommandContext& ctx, IRunUi& ui, ISerialLink& serial, IUdpClient& udp,
                         ITimer& timer3)
    : ctx_(ctx), commands_(WithStatusTexts(ctx)), ui_(ui), serial_(serial), udp_(udp), timer3_(timer3)
{
}

std::string ClockFinder::BroadcastAddress(const std::string& gateway)
{
    const size_t dot = gateway.rfind('.');
    return (dot == std::string::npos ? std::string() : gateway.substr(0, dot + 1)) + "255";
}

void ClockFinder::Run(IFindUi& find)
{
    PollState& ps = ctx_.ps;
    IStatusDisplay& status = ctx_.status;
    ui_.SetPortRefreshEnabled(false);
    ui_.SetRunControlsEnabled(false);
    find.SetAbortEnabled(false);
    find.SetSkipPortEnabled(false);
    find.UncheckModes();

    ps.AbortRequested = false;
    ps.SkipPortRequested = false;
    status.ClearStatus();
    status.AddStatusLine("Searching for TCP/IP Clocks...");
    status.AddStatusLine(" ");
    clocksFound_ = 0;
    {
        // Nobody knows how many adaptors will answer.
        const ProgressScope progress(ctx_.progress, "Clocks answering on the local network", "answers", 0);
        SearchNetwork();
    }
    timer3_.SetEnabled(false);
    status.SetPanel(Panel::Network, "");
    ReportCount();

    find.SetAbortEnabled(true);
    find.SetSkipPortEnabled(true);
    clocksFound_ = 0;
    ps.SkipPortRequested = false;
    ps.NetworkWasSelected = false;
    // The status requests go out on the serial line.
    ILinkSelection& selection = ctx_.exchange.Selection();
    if (selection.NetworkSelected()) {
        selection.SetNetworkSelected(false);
        ps.NetworkWasSelected = true;
    }
    for (const char* line : {"", "Searching for USB/Serial Clocks...", " ", " "}) status.AddStatusLine(line);
    SearchPorts();

    serial_.Close();
    // The waiting line of the last request.
    status.DeleteLastStatusLine();
    ReportCount();
    Restore(find);
}

void ClockFinder::SearchNetwork()
{
    PollState& ps = ctx_.ps;
    if (ps.GatewayAddress.empty()) {
        std::string answer;
        if (ctx_.op.InputBox("Network Gateway IP Address", "Enter IP Address:", answer))
            ps.GatewayAddress = answer;
    }
    if (ps.GatewayAddress.size() <= 3)
        return;
    ps.LocalAddress = BroadcastAddress(ps.GatewayAddress);
    try {
        udp_.Activate();
        udp_.SendTo(ps.LocalAddress, kDiscoveryPort, DiscoveryRequest());
        std::vector<uint8_t> datagram;
        std::string sender;
        // Every answer is one clock; the first wait that ends empty ends the phase, and so
        // does a flood of answers, reported like an error of the search.
        Stopwatch watch(ctx_.time);
        bool flooded = false;
        for (;;) {
            const int64_t left = kLongestNetworkSearchMs - watch.ElapsedMs();
            if (clocksFound_ >= kMostAnswers || left <= 0) {
                flooded = true;
                break;
            }
            if (!udp_.Receive(datagram, sender, static_cast<int>(std::min<int64_t>(kReceiveWaitMs, left)))) {
                flooded = watch.ElapsedMs() >= kLongestNetworkSearchMs;
                break;
            }
            ++clocksFound_;
            ctx_.status.AddStatusLine("Found: IP Address = " + sender);
            ctx_.progress.Step(clocksFound_, "");
        }
        udp_.Deactivate();
        if (flooded)
            ctx_.status.AddStatusLine("ERROR Searching for TCP/IP Clocks!");
    } catch (const std::exception&) {
        udp_.Deactivate();
        ctx_.status.AddStatusLine("ERROR Searching for TCP/IP Clocks!");
    }
}

// Every station at every speed of every port the operator can choose counts; a port passed
// over, or left early, takes the stations it did not probe out of the total.
void ClockFinder::SearchPorts()
{
    constexpr int kStationsPerPort = kLastStation * static_cast<int>(std::size(kSpeeds));
    int ports = 0;
    for (int port = 1; port <= kLastSearchedPort; ++port) ports += ui_.PortItemEnabled(port) ? 1 : 0;
    int64_t total = int64_t{ports} * kStationsPerPort;
    probed_ = 0;
    const ProgressScope progress(ctx_.progress, "Stations probed on the serial ports", "stations", total);
    for (int port = 1; port <= kLastSearchedPort; ++port) {
        const bool counted = ui_.PortItemEnabled(port);
        const int64_t before = probed_;
        const PortOutcome outcome = SearchPort(port);
        if (outcome == PortOutcome::EndSearch)
            break;
        if (counted) {
            total -= kStationsPerPort - (probed_ - before);
            ctx_.progress.SetTotal(total);
        }
    }
}

ClockFinder::PortOutcome ClockFinder::SearchPort(int port)
{
    PollState& ps = ctx_.ps;
    IStatusDisplay& status = ctx_.status;
    ps.SkipPortRequested = false;
    if (!ui_.PortItemEnabled(port))
        return PortOutcome::NextPort;

    const std::string portText = std::to_string(port);
    status.SetPanel(Panel::Port, "Comm " + portText);
    status.SetPanel(Panel::Station, "Station 1");
    ps.Port = port;
    ps.BaudRate = kSpeeds[0];
    try {
        serial_.SelectPort(port, kSpeeds[0]);
        // A port held by another program or refused to this user is passed over like one
        // without a cable; the serial component has said why on stderr.
        serial_.Open();
    } catch (const std::exception&) {
        return PortOutcome::NextPort;
    }
    serial_.ClearInputBuffer();
    serial_.ClearOutputBuffer();
    if (!serial_.GetCTS()) {
        serial_.Close();
        return PortOutcome::NextPort;
    }

    for (const int speed : kSpeeds) {
        ps.BaudRate = speed;
        try {
            serial_.SelectPort(port, speed);
        } catch (const std::exception&) {
            serial_.Close();
            return PortOutcome::NextPort;
        }
        serial_.ClearInputBuffer();
        serial_.ClearOutputBuffer();
        const std::string speedText = std::to_string(speed);
        status.SetPanel(Panel::Baud, "Baud " + speedText);
        for (int station = 1; station <= kLastStation; ++station) {
            if (ps.AbortRequested)
                return PortOutcome::EndSearch;
            if (ps.SkipPortRequested) {
                serial_.Close();
                return PortOutcome::NextPort;
            }
            ps.SetStation(station);
            const std::string stationText = std::to_string(station);
            status.SetPanel(Panel::Station, "Station " + stationText);
            ctx_.progress.Step(probed_,
                               "Comm " + portText + ", " + speedText + " baud, station " + stationText);
            ClockError result = ceBusy;
            for (int tries = 0; tries < kTriesPerStation && result != ceOK; ++tries)
                result = commands_.RequestStatus(1, 1);
            ++probed_;
            if (result != ceOK || static_cast<int>(ctx_.exchange.Reply().size()) < kShortestStatusReply)
                continue;

            status.DeleteLastStatusLine();
            ++clocksFound_;
            status.AddStatusLine("Found: Station " + stationText + "  Com " + portText + "  Baud " +
                                 speedText);
            status.AddStatusLine(" ");
            if (!ctx_.op.YesNo("Continue Scanning?", "Time Clock found"))
                return PortOutcome::EndSearch;
            if (ctx_.op.YesNo("Change to Next Comm Port?", "Change Comm Port before Continueing")) {
                serial_.Close();
                return PortOutcome::NextPort;
            }
        }
    }
    serial_.Close();
    return PortOutcome::NextPort;
}

void ClockFinder::ReportCount()
{
    const PollState& ps = ctx_.ps;
    ctx_.status.AddStatusLine(clocksFound_ > 0 ? std::to_string(clocksFound_) + " Clock(s) Found."
                                               : "No Clocks Found!!");
    ctx_.status.AddStatusLine(ps.AbortRequested ? "Search Aborted!!" : "Finished Search.");
}

void ClockFinder::Restore(IFindUi& find)
{
    PollState& ps = ctx_.ps;
    ui_.SetRunControlsEnabled(true);
    find.SetAbortEnabled(false);
    find.SetSkipPortEnabled(false);
    if (ps.NetworkWasSelected) {
        ctx_.exchange.Selection().SetNetworkSelected(true);
        ps.NetworkWasSelected = false;
        ctx_.status.SetPanel(Panel::Port, "Network");
        ctx_.status.SetPanel(Panel::Baud, "");
    } else {
        ctx_.status.SetPanel(Panel::Station, "Station " + std::to_string(ui_.StationNumber()));
        find.ShowCheckedLink();
    }
    ui_.SetPortRefreshEnabled(true);
}
