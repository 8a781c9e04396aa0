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

ClockError NetworkLink::Connect()
{
    Deactivate();
    status_.SetPanel(Panel::Network, "");
    socket_.SetHost(ps_.IPAddress);
    socket_.SetActive(true);
    status_.AddStatusLine("Waiting for Connection!!");
    selection_.SetNetworkSelected(true);
    // The connect and time-out handlers settle the result; the caller stores it.
    connectTicks_ = 0;
    connectResult_ = ceBusy;
    timer3_.SetEnabled(true);
    while (connectResult_ == ceBusy) pump_.PumpUntilEventOrTick();
    timer3_.SetEnabled(false);
    return connectResult_;
}

void NetworkLink::Deactivate()
{
    socket_.SetActive(false);
}

void NetworkLink::Timer3Timer()
{
    if (++connectTicks_ <= kConnectTimeoutTicks)
        return;
    status_.AddStatusLine("Error connecting to:" + ps_.IPAddress);
    status_.SetPanel(Panel::Network, "");
    connectResult_ = cePortTransmitter;
}

void NetworkLink::ClientSocket1Connect()
{
    status_.SetPanel(Panel::Network, "Connected: " + socket_.Host());
    status_.ReplaceLastStatusLine("Connected: " + socket_.Host());
    status_.AddStatusLine("");
    connectResult_ = ceOK;
}

void NetworkLink::ClientSocket1Disconnect()
{
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
