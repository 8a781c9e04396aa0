#include "PollSession.h"

#include "commands/CommandContext.h"
#include "interpreter/Interpreter.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "link/ClientSocket.h"
#include "link/CommPortMap.h"
#include "link/Exchange.h"
#include "link/NetworkLink.h"
#include "link/UdpClient.h"
#include "link/ZylSerialPort.h"
#include "session/ClockFinder.h"
#include "session/ModemLink.h"
#include "session/RunDriver.h"

#include <array>

struct PollSession::Impl {
    Impl(PollState& ps, IStatusDisplay& status, IOperator& op, IRunUi& ui, ILinkSelection& selection,
         const ITimeSource& time, IEventPump& pump, ITimer& timer1, ITimer& timer3, ITimer& timer4,
         IProgress& progress)
        : timers{&timer1, &timer3, &timer4},
          exchange(ps, pump, time, timer1, selection),
          network(ps, status, pump, timer3, selection, socket, exchange),
          interpreter(CommandContext{ps, exchange, status, time, op, timer4, &network, nullptr, progress}),
          modem(ps, exchange, status, [this](bool on) { serial.SetDTR(on); }),
          driver(
              ps, status, ui, selection, pump, exchange, serial, network, modem,
              [this](char code) { interpreter.RunCommand(code); }, progress),
          udp(pump, time),
          finder(interpreter.Context(), ui, serial, udp, timer3)
    {
        serial.OnReceive = [this](TZylSerialPort&, std::span<const uint8_t> bytes) {
            exchange.ZylSerialPort1Receive(bytes);
        };
        exchange.AttachSerial(&serial);
        exchange.AttachNet(&socket);
        // A one-shot: it stops when it fires, also where no command has installed a handler.
        timer4.OnTimer = [&timer4] { timer4.SetEnabled(false); };
    }
    ~Impl()
    {
        // The timers belong to the caller and may outlive the handlers installed on them.
        for (ITimer* t : timers) {
            t->SetEnabled(false);
            t->OnTimer = nullptr;
        }
    }

    std::array<ITimer*, 3> timers;
    std::shared_ptr<const CommPortMap> portMap = std::make_shared<CommPortMap>();
    TZylSerialPort serial{portMap};
    TClientSocket socket;
    Exchange exchange;
    NetworkLink network;
    Interpreter interpreter;
    ModemLink modem;
    ::RunDriver driver;
    TUdpClient udp;
    ClockFinder finder;
};

PollSession::PollSession(PollState& ps, IStatusDisplay& status, IOperator& op, IRunUi& ui,
                         ILinkSelection& selection, const ITimeSource& time, IEventPump& pump, ITimer& timer1,
                         ITimer& timer3, ITimer& timer4, IProgress& progress)
    : d_(std::make_unique<Impl>(ps, status, op, ui, selection, time, pump, timer1, timer3, timer4, progress))
{
}

PollSession::~PollSession()
{
    Shutdown();
}

void PollSession::RunDriver()
{
    d_->driver.Run();
}

void PollSession::FindClocks(IFindUi& find)
{
    d_->finder.Run(find);
}

void PollSession::DeactivateSocket()
{
    d_->network.Deactivate();
}

void PollSession::SetSocketHost(const std::string& host)
{
    d_->socket.SetHost(host);
}

std::set<int> PollSession::GetExistingCommPorts()
{
    return d_->serial.GetExistingCommPorts();
}

std::string PollSession::DevicePath(int n)
{
    return d_->portMap->DevicePath(n);
}

void PollSession::Shutdown()
{
    d_->network.Deactivate();
    d_->serial.Close();
}

Exchange& PollSession::exchange()
{
    return d_->exchange;
}
