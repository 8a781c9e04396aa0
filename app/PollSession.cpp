#include "PollSession.h"

#include "app/core/Platform.h"
#include "app/core/PollState.h"
#include "link/Exchange.h"

// Placeholder wiring: the run driver, the serial port and the TCP link are connected here.
struct PollSession::Impl {
    Impl(PollState& ps, IEventPump& pump, const ITimeSource& time, ITimer& timer1, ILinkSelection& sel)
        : exchange(ps, pump, time, timer1, sel)
    {
    }
    Exchange exchange;
};

PollSession::PollSession(PollState& ps, IStatusDisplay&, IOperator&, IRunUi&, ILinkSelection& selection,
                         const ITimeSource& time, IEventPump& pump, ITimer& timer1, ITimer&, ITimer&)
    : d_(std::make_unique<Impl>(ps, pump, time, timer1, selection))
{
}

PollSession::~PollSession() = default;

void PollSession::RunDriver() {}
void PollSession::DeactivateSocket() {}
void PollSession::SetSocketHost(const std::string&) {}
std::set<int> PollSession::GetExistingCommPorts() { return {}; }
std::string PollSession::DevicePath(int) { return {}; }
void PollSession::Shutdown() {}
Exchange& PollSession::exchange() { return d_->exchange; }
