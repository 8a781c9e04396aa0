#include "PollSession.h"

#include "session/ModemLink.h"
#include "session/RunDriver.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "commands/CommandContext.h"
#include "commands/Interpreter.h"
#include "link/ClientSocket.h"
#include "link/CommPortMap.h"
#include "link/Exchange.h"
#include "link/NetworkLink.h"
#include "link/ZylSerialPort.h"

namespace {

// The run driver's view of ZylSerialPort1.
class SerialAdapter : public IRunSerial {
public:
    explicit SerialAdapter(TZylSerialPort& port) : port_(port) {}
    void Select(int port, int baudRate) override
    {
        port_.SetCommPort(static_cast<TCommPort>(port));
        port_.SetBaudRate(IntToBaudRate(baudRate));
    }
    void Open() override { port_.Open(); }
    void Close() override { port_.Close(); }
    void ClearInput() override { port_.ClearInputBuffer(); }
    void ClearOutput() override { port_.ClearOutputBuffer(); }
    void SendRaw(const uint8_t* data, int count) override { port_.SendData(data, count); }

private:
    TZylSerialPort& port_;
};

class NetAdapter : public INetConnector {
public:
    explicit NetAdapter(NetworkLink& link) : link_(link) {}
    int Connect() override { return link_.Connect(); }
    void Deactivate() override { link_.Deactivate(); }

private:
    NetworkLink& link_;
};

class ModemAdapter : public IModemControl {
public:
    explicit ModemAdapter(ModemLink& modem) : modem_(modem) {}
    int ModemConnect() override { return modem_.ModemConnect(); }
    void ModemReset() override { modem_.ModemReset(); }
    void CloseModemFile() override { modem_.CloseModemFile(); }

private:
    ModemLink& modem_;
};

}  // namespace

struct PollSession::Impl {
    Impl(PollState& ps, IStatusDisplay& status, IOperator& op, IRunUi& ui, ILinkSelection& selection,
         const ITimeSource& time, IEventPump& pump, ITimer& timer1, ITimer& timer3, ITimer& timer4)
        : exchange(ps, pump, time, timer1, selection),
          network(ps, status, pump, timer3, selection, socket, exchange),
          interpreter(CommandContext{ps, exchange, status, time, op, timer4}),
          modem(ps, exchange, status, [this](bool on) { serial.SetDTR(on); }),
          serialAdapter(serial),
          netAdapter(network),
          modemAdapter(modem),
          driver(ps, status, ui, selection, pump, exchange, serialAdapter, netAdapter, modemAdapter,
                 [this](char code) { interpreter.RunCommand(code); })
    {
        serial.SetPortMap(portMap);
        serial.SetBaudRate(br009600);
        serial.OnReceive = [this](TZylSerialPort&, std::span<const uint8_t> bytes) {
            exchange.ZylSerialPort1Receive(bytes);
        };
        exchange.AttachSerial(&serial);
        exchange.AttachNet(&socket);
    }

    std::shared_ptr<const CommPortMap> portMap = std::make_shared<CommPortMap>();
    TZylSerialPort serial;
    TClientSocket socket;
    Exchange exchange;
    NetworkLink network;
    Interpreter interpreter;
    ModemLink modem;
    SerialAdapter serialAdapter;
    NetAdapter netAdapter;
    ModemAdapter modemAdapter;
    ::RunDriver driver;
};

PollSession::PollSession(PollState& ps, IStatusDisplay& status, IOperator& op, IRunUi& ui, ILinkSelection& selection,
                         const ITimeSource& time, IEventPump& pump, ITimer& timer1, ITimer& timer3, ITimer& timer4)
    : d_(std::make_unique<Impl>(ps, status, op, ui, selection, time, pump, timer1, timer3, timer4))
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
    std::set<int> out;
    const TCommPortSet ports = d_->serial.GetExistingCommPorts();
    for (int n = 1; n < static_cast<int>(ports.size()); ++n)
        if (ports.test(static_cast<size_t>(n)))
            out.insert(n);
    return out;
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
