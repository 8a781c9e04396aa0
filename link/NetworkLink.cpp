#include "NetworkLink.h"

#include "core/ClockError.h"
#include "Exchange.h"
#include "core/Platform.h"
#include "core/PollState.h"
#include "core/StatusDisplay.h"

#include <array>

NetworkLink::NetworkLink(PollState& ps, IStatusDisplay& status, IEventPump& pump, ITimer& timer3,
                         ILinkSelection& selection, IClientSocket& socket, Exchange& exchange)
    : ps_(ps),
      status_(status),
      pump_(pump),
      timer3_(timer3),
      selection_(selection),
      socket_(socket),
      exchange_(exchange)
{
    timer3_.OnTimer = [this] { Timer3Timer(); };
    socket_.OnConnect = [this] { ClientSocket1Connect(); };
    socket_.OnDisconnect = [this] { ClientSocket1Disconnect(); };
    socket_.OnError = [this](int& code) { ClientSocket1Error(code); };
    socket_.OnRead = [this] { ClientSocket1Read(); };
}

int NetworkLink::Connect()
{
    Deactivate();
    status_.SetPanel(Panel::Network, "");
    socket_.SetHost(ps_.IPAddress);
    socket_.SetActive(true);
    status_.AddStatusLine("Waiting for Connection!!");
    selection_.SetNetworkSelected(true);
    ps_.ConnectTimeoutLimit = kConnectTimeoutTicks;
    ps_.ConnectTicks = 0;
    ps_.PollStatus = ceBusy;
    timer3_.SetEnabled(true);
    while (ps_.PollStatus == ceBusy) pump_.PumpUntilEventOrTick();
    timer3_.SetEnabled(false);
    return ps_.PollStatus;
}

void NetworkLink::Deactivate()
{
    socket_.SetActive(false);
}

void NetworkLink::Timer3Timer()
{
    ++ps_.ConnectTicks;
    if (ps_.ConnectTicks <= ps_.ConnectTimeoutLimit)
        return;
    if (!ps_.SearchActive) {
        status_.AddStatusLine("Error connecting to:" + ps_.IPAddress);
        status_.SetPanel(Panel::Network, "");
    }
    ps_.PollStatus = cePortTransmitter;
}

void NetworkLink::ClientSocket1Connect()
{
    if (ps_.SearchActive) {
        ps_.DiscoveryConnected = true;
        ps_.ReceiveCount = 0;
        ps_.PollStatus = ceOK;
        return;
    }
    status_.SetPanel(Panel::Network, "Connected: " + socket_.Host());
    status_.ReplaceLastStatusLine("Connected: " + socket_.Host());
    status_.AddStatusLine("");
    ps_.PollStatus = ceOK;
}

void NetworkLink::ClientSocket1Disconnect()
{
    if (!ps_.SearchActive)
        status_.SetPanel(Panel::Network, "");
}

void NetworkLink::ClientSocket1Error(int& errorCode)
{
    // Errors are noticed through the connect time-out, failed sends or missing replies.
    errorCode = 0;
}

void NetworkLink::ClientSocket1Read()
{
    std::array<uint8_t, kReadChunk> buffer{};
    const int64_t pending = socket_.ReceiveLength();
    const int want = pending > kReadChunk ? kReadChunk : static_cast<int>(pending);
    const int got = socket_.ReceiveBuf(buffer.data(), want);
    exchange_.ClientSocket1Read(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(got)));
}
