// The TCP link: the connect time-out and a peer closing mid-reply on fake time against a
// fake socket; the real socket against an in-process peer on loopback, and refusing every
// destination outside 127.0.0.0/8 in this process.
#include "core/Platform.h"
#include "core/PollState.h"
#include "link/ClientSocket.h"
#include "core/ClockError.h"
#include "link/Exchange.h"
#include "link/Framing.h"
#include "link/NetworkLink.h"
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <deque>
#include <functional>

namespace {

ClockError SendStatusRequest(Exchange& exchange)
{
    return exchange.SendRequest(BuildRequest(exchange.Request(), 0xC1, frame::cmdGetStatus));
}

ClockError StatusExchange(Exchange& exchange)
{
    const ClockError sent = SendStatusRequest(exchange);
    return sent == ceOK ? exchange.AwaitReply() : sent;
}

// A socket on the fake pump: connects 30 ms after it is activated when a peer listens,
// and hands over what the test scripts, in the chunks given.
class FakeSocket : public IClientSocket {
public:
    explicit FakeSocket(FakePump& pump) : pump_(pump) {}
    bool listening = true;
    std::function<void()> onSend;

    void SetHost(const std::string& host) override { host_ = host; }
    const std::string& Host() const override { return host_; }
    void SetActive(bool on) override
    {
        if (on && listening)
            pump_.After(30, [this] {
                connected_ = true;
                if (OnConnect)
                    OnConnect();
            });
        else if (!on && connected_)
            PeerCloses();
    }
    bool Active() const override { return connected_; }
    int64_t SendBuf(const uint8_t*, int n) override
    {
        if (!connected_)
            return -1;
        if (onSend)
            onSend();
        return n;
    }
    int64_t ReceiveLength() const override { return static_cast<int64_t>(incoming_.size()); }
    int ReceiveBuf(uint8_t* data, int n) override
    {
        int got = 0;
        for (; got < n && !incoming_.empty(); ++got) {
            data[got] = incoming_.front();
            incoming_.pop_front();
        }
        return got;
    }
    void Deliver(int64_t delayMs, std::vector<uint8_t> bytes)
    {
        pump_.After(delayMs, [this, bytes] {
            incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
            if (OnRead)
                OnRead();
        });
    }
    void PeerCloses()
    {
        connected_ = false;
        if (OnDisconnect)
            OnDisconnect();
    }

private:
    FakePump& pump_;
    std::string host_;
    bool connected_ = false;
    std::deque<uint8_t> incoming_;
};

class NetworkLinkFakeTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig.exchange.AttachNet(&socket);
        ps.SetStation(1);
    }
    PollState ps;
    FakeRig rig{ps};
    FakeSocket socket{rig.pump};
    NetworkLink link{ps, rig.status, rig.pump, rig.timer3, rig.selection, socket, rig.exchange};
};

TEST_F(NetworkLinkFakeTime, connectToNothingTimesOutOnTheTwentyFirstTimerTick)
{
    socket.listening = false;
    ps.IPAddress = TestAddress();
    for (int attempt = 0; attempt < 2; ++attempt) {
        rig.status.ClearStatus();
        const int64_t start = rig.time.NowMs();
        EXPECT_EQ(link.Connect(), cePortTransmitter);
        EXPECT_EQ(rig.time.NowMs() - start, 2100) << "each connect counts its own ticks";
        EXPECT_FALSE(rig.timer3.Enabled());
        EXPECT_TRUE(rig.selection.network);
        EXPECT_EQ(rig.status.Lines(), (std::vector<std::string>{"Waiting for Connection!!",
                                                                "Error connecting to:" + TestAddress()}));
    }
}

TEST_F(NetworkLinkFakeTime, peerClosingMidReplyGivesNoDataAndClearsThePanel)
{
    ps.IPAddress = TestAddress();
    ASSERT_EQ(link.Connect(), ceOK);
    EXPECT_EQ(rig.status.ReadPanel(Panel::Network), "Connected: " + TestAddress());
    socket.onSend = [this] {
        socket.Deliver(20, {0xC1, 0xA1, '8', '0'});
        rig.pump.After(40, [this] { socket.PeerCloses(); });
    };
    EXPECT_EQ(StatusExchange(rig.exchange), ceNoData);
    EXPECT_EQ(rig.status.ReadPanel(Panel::Network), "");
    EXPECT_EQ(StatusExchange(rig.exchange), cePortTransmitter);
}

// The real socket against a peer in this process; each peer has its own loopback address.
class Peer {
public:
    explicit Peer(const std::string& address)
    {
        server.listen(QHostAddress(QString::fromStdString(address)), TClientSocket::kClockPort);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this] {
                const QByteArray request = socket->readAll();
                if (onRequest)
                    onRequest(*socket, request);
            });
        });
    }
    QTcpServer server;
    QTcpSocket* socket = nullptr;
    std::function<void(QTcpSocket&, const QByteArray&)> onRequest;
};

class NetworkLinkLoopback : public ::testing::Test, protected LiveNetwork {};

TEST_F(NetworkLinkLoopback, aPeerStreamingWithoutEndIsHeldBackWithoutSpinning)
{
    struct Row {
        std::string address;
        char fill;
    };
    for (const Row& row : {Row{TestAddress(0), 'x'}, Row{TestAddress(1), '\xFF'}}) {
        SCOPED_TRACE(row.address);
        Peer peer(row.address);
        ASSERT_TRUE(peer.server.isListening());
        qint64 streamed = 0;
        const QByteArray block(64 * 1024, row.fill);
        const auto topUp = [&] {
            while (peer.socket->bytesToWrite() < 2 * block.size()) streamed += peer.socket->write(block);
        };
        peer.onRequest = [&](QTcpSocket& s, const QByteArray&) {
            QObject::connect(&s, &QTcpSocket::bytesWritten, topUp);
            topUp();
        };
        ps.IPAddress = row.address;
        ASSERT_EQ(network.Connect(), ceOK);

        int64_t mostHeld = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout,
                         [&] { mostHeld = std::max(mostHeld, socket.ReceiveLength()); });
        sampler.start(20);
        QElapsedTimer wall;
        wall.start();
        const std::clock_t cpuBefore = std::clock();  // all threads of this process
        if (row.fill == 'x') {
            // Nothing ends the reply: the wait runs out as for a silent clock.
            ASSERT_EQ(SendStatusRequest(exchange), ceOK);
            EXPECT_EQ(exchange.WaitTicks(2), WaitResult::TimedOut);
            EXPECT_FALSE(exchange.ReplyComplete());
            EXPECT_LT(static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC,
                      0.2 * static_cast<double>(wall.elapsed()) / 1000.0);
        } else {
            // The first chunk ends in 0xFF: complete, and its check fails.
            EXPECT_EQ(StatusExchange(exchange), ceCrc);
        }
        EXPECT_LE(mostHeld, TClientSocket::kReadChunk);
        EXPECT_LE(socket.ReceiveLength(), TClientSocket::kReadChunk);
        EXPECT_GT(streamed, 0);
        network.Deactivate();
        pump.PumpPending();
    }
}

TEST(ClientSocket, connectsOnlyToDottedLoopbackAddressesAndNeverResolvesNames)
{
    CoreApp();
    for (const char* good : {"127.0.0.1", "127.255.255.255", "127.10.0.10"})
        EXPECT_TRUE(TClientSocket::IsDottedIPv4(good)) << good;
    for (const char* bad :
         {"127.2.3.4.5", "127.999.1.1", "...", "127.2.3", "127.1", "0127.0.0.1", "0x7f.0.0.1", " 127.2.3.4",
          "127.2.3.4 ", "127..2.3", "", "::1", "localhost", "127.2.3.4:80", "127.256.0.1"})
        EXPECT_FALSE(TClientSocket::IsDottedIPv4(bad)) << bad;

    TClientSocket socket;
    int error = -1;
    bool connected = false;
    socket.OnError = [&](int& code) { error = code; };
    socket.OnConnect = [&] { connected = true; };
    socket.SetHost("localhost");
    socket.SetActive(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(error, static_cast<int>(QAbstractSocket::HostNotFoundError));
    EXPECT_FALSE(socket.Active());
    EXPECT_FALSE(connected);

    // 0.0.0.0 stands for any address outside 127.0.0.0/8, which this process never reaches.
    socket.SetHost("0.0.0.0");
    EXPECT_NONFATAL_FAILURE(socket.SetActive(true), "only 127.0.0.0/8");
    QCoreApplication::processEvents();
    EXPECT_EQ(error, static_cast<int>(QAbstractSocket::NetworkError));
    EXPECT_FALSE(connected);
}

}  // namespace
