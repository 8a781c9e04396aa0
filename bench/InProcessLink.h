// The program's own TCP link assembled in the benchmark process: the real exchange engine
// with the Qt event pump, the system time source and Qt window timers (2 ms pre-send
// pause, 100 ms connect timer), connected through NetworkLink and TClientSocket exactly
// as the window wires them. A QCoreApplication must exist first.
#pragma once

#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"
#include "link/ClientSocket.h"
#include "link/Exchange.h"
#include "link/Framing.h"
#include "link/NetworkLink.h"

#include <string>

namespace bench {

class NetworkSelection : public ILinkSelection {
public:
    bool NetworkSelected() const override { return on_; }
    void SetNetworkSelected(bool on) override { on_ = on; }

private:
    bool on_ = true;
};

struct InProcessLink {
    PollState ps;
    SystemTimeSource time;
    QtEventPump pump{time};
    QtWindowTimer timer1{2};
    QtWindowTimer timer3{100};
    NetworkSelection selection;
    MemoryStatusDisplay status;
    TClientSocket socket;
    Exchange exchange{ps, pump, time, timer1, selection};
    NetworkLink network{ps, status, pump, timer3, selection, socket, exchange};

    explicit InProcessLink(int station = 1)
    {
        exchange.AttachNet(&socket);
        ps.SetStation(station);
    }

    // Returns the connect's result: 0 connected, otherwise failed.
    int Connect(const std::string& address)
    {
        ps.IPAddress = address;
        return ClockErrorNumber(network.Connect());
    }

    // Builds the get_status request for the current station; returns its send length.
    int BuildGetStatus()
    {
        return BuildRequest(exchange.Request(), static_cast<uint8_t>(ps.StationByte), frame::cmdGetStatus);
    }

    int Send(int length) { return ClockErrorNumber(exchange.SendRequest(length)); }
};

}  // namespace bench
