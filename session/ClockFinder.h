// "Find Clocks": looks for clocks first on the local network, by a UDP broadcast to the
// clocks' network adaptors, then on serial ports 1 to 10, by a status request to every
// station at every speed, and lists what it finds in the status memo. The operator can abort,
// skip a port, and is asked after each clock found whether to go on.
#pragma once

#include "commands/CommandContext.h"
#include "commands/TimeCommands.h"

#include <cstdint>
#include <vector>

class IFindUi;
class IRunUi;
class ISerialLink;
class ITimer;
class IUdpClient;

class ClockFinder {
public:
    static constexpr uint16_t kDiscoveryPort = 30718;
    static constexpr int kReceiveWaitMs = 5000;
    // A broadcast on a /24 network reaches fewer adaptors than this, and they answer within
    // a few seconds: a sender that goes on answering past either limit is not a set of
    // clocks, and without a limit it would hold the window for as long as it kept sending.
    static constexpr int kMostAnswers = 256;
    static constexpr int kLongestNetworkSearchMs = 30000;
    static constexpr int kLastSearchedPort = 10;
    static constexpr int kLastStation = 31;
    static const std::vector<uint8_t>& DiscoveryRequest();

    // timer3 is the connect time-out, stopped once the network phase is over.
    ClockFinder(const CommandContext& ctx, IRunUi& ui, ISerialLink& serial, IUdpClient& udp, ITimer& timer3);

    // Runs the whole search and returns when it has ended, the window as it was before
    // except that neither mode is checked.
    void Run(IFindUi& find);

    // The gateway with everything after its last '.' replaced by "255".
    static std::string BroadcastAddress(const std::string& gateway);

private:
    // Network phase: adds a line per answer.
    void SearchNetwork();
    // Serial phase on one port: every speed, every station. The search ends on an abort
    // or when the operator has seen enough.
    enum class PortOutcome { NextPort, EndSearch };
    PortOutcome SearchPort(int port);
    // The serial phase: every port in turn until the search ends.
    void SearchPorts();
    // Count line and "Search Aborted!!" or "Finished Search.".
    void ReportCount();
    void Restore(IFindUi& find);

    CommandContext ctx_;
    TimeCommands commands_;
    IRunUi& ui_;
    ISerialLink& serial_;
    IUdpClient& udp_;
    ITimer& timer3_;
    // Answers and clocks found in the phase under way.
    int clocksFound_ = 0;
    // Stations probed in the serial phase, for the progress report.
    int64_t probed_ = 0;
};
