// Everything below the window that a poll run and a search need, wired together: the
// exchange engine, the serial port, the TCP link, the command interpreter, the modem link,
// the run driver and clock discovery. The window owns one and implements the UI seams it is
// given; tests build one with fakes.
#pragma once

#include "core/Progress.h"

#include <memory>
#include <set>
#include <string>

struct PollState;
class IStatusDisplay;
class IOperator;
class IRunUi;
class IFindUi;
class ILinkSelection;
class ITimeSource;
class IEventPump;
class ITimer;
class Exchange;

class PollSession {
public:
    // progress is told how far long work has come: a search, a download, a command file.
    PollSession(PollState& ps, IStatusDisplay& status, IOperator& op, IRunUi& ui, ILinkSelection& selection,
                const ITimeSource& time, IEventPump& pump, ITimer& timer1, ITimer& timer3, ITimer& timer4,
                IProgress& progress = NoProgress());
    ~PollSession();
    PollSession(const PollSession&) = delete;
    PollSession& operator=(const PollSession&) = delete;

    // The run behind "Poll Clock": single-command or command-file mode, as the UI says.
    void RunDriver();
    // "Find Clocks": the search on the network and the serial ports.
    void FindClocks(IFindUi& find);
    // Closes the TCP connection if one is open or pending.
    void DeactivateSocket();
    // Sets the socket's host (the window does this at start-up when "Network" is checked).
    void SetSocketHost(const std::string& host);
    // Serial ports that exist now (1..50), for the port menu.
    std::set<int> GetExistingCommPorts();
    // Device path behind port n, shown to the operator; empty when unknown.
    std::string DevicePath(int n);
    // Closes the serial port and the socket (program exit).
    void Shutdown();

    Exchange& exchange();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
