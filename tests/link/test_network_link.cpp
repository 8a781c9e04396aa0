// The TCP link against an in-process server on loopback, with the real event pump, wall
// clock and window timers.
#include "core/Platform.h"
#include "core/PollState.h"
#include "link/ClientSocket.h"
#include "link/ClockError.h"
#include "link/Exchange.h"
#include "link/Framing.h"
#include "link/NetworkLink.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <functional>

namespace {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "test_network_link";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Answers each request with whatever the test says.
class Peer {
public:
    explicit Peer(const QString& address)
    {
        server.listen(QHostAddress(address), TClientSocket::kClockPort);
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

class NetworkLinkTest : public ::testing::Test {
protected:
    NetworkLinkTest() { App(); }
    PollState ps;
    SystemTimeSource time;
    QtEventPump pump{time};
    QtWindowTimer timer1{2};
    QtWindowTimer timer3{100};
    FakeSelection selection;
    RecordingStatus status;
    TClientSocket socket;
    Exchange exchange{ps, pump, time, timer1, selection};
    NetworkLink link{ps, status, pump, timer3, selection, socket, exchange};

    void SetUp() override
    {
        exchange.AttachNet(&socket);
        ps.SetStation(1);
    }
    int StatusExchange()
    {
        const int len = BuildRequest(ps, 0xC1, frame::cmdGetStatus);
        if (exchange.SendFrame(ps.RequestBuffer.data(), len) != ceOK)
            return ps.PollStatus;
        return exchange.AwaitReply();
    }
};

TEST_F(NetworkLinkTest, connectShowsTheHostAndAReplyIsChecked)
{
    Peer peer("127.0.0.31");
    ASSERT_TRUE(peer.server.isListening());
    QByteArray received;
    peer.onRequest = [&](QTcpSocket& s, const QByteArray& request) {
        received += request;
        const auto reply = ReplyFrame(0xC1, 0xA1, {}, 2);
        s.write(reinterpret_cast<const char*>(reply.data()), static_cast<qint64>(reply.size()));
    };
    ps.IPAddress = "127.0.0.31";
    ASSERT_EQ(link.Connect(), ceOK);
    EXPECT_TRUE(selection.network);
    EXPECT_EQ(status.Panel(5), "Connected: 127.0.0.31");
    EXPECT_EQ(status.Lines(), (std::vector<std::string>{"Connected: 127.0.0.31", ""}));

    EXPECT_EQ(StatusExchange(), ceOK);
    EXPECT_EQ(received, QByteArray("\xC1\xAD" "4122\xFF\xFF", 8));

    link.Deactivate();
    pump.PumpPending();
    EXPECT_EQ(status.Panel(5), "");
}

TEST_F(NetworkLinkTest, connectToNothingTimesOutAfterTwentyOneTimerTicks)
{
    ps.IPAddress = "127.0.0.32";  // nobody listens here
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(link.Connect(), cePortTransmitter);
    EXPECT_GE(elapsed.elapsed(), 2000);
    EXPECT_LT(elapsed.elapsed(), 4000);
    EXPECT_EQ(status.Lines().back(), "Error connecting to:127.0.0.32");
    EXPECT_FALSE(timer3.Enabled());

    status.ClearStatus();
    ps.SearchActive = true;
    EXPECT_EQ(link.Connect(), cePortTransmitter);
    EXPECT_EQ(status.Lines(), std::vector<std::string>{"Waiting for Connection!!"}) << "silent while searching";
}

TEST_F(NetworkLinkTest, longReplyIsDeliveredInChunksOfAtMost256WithoutStalling)
{
    Peer peer("127.0.0.33");
    peer.onRequest = [](QTcpSocket& s, const QByteArray&) {
        // 600 bytes of payload-free junk, then a complete acknowledge: only the end counts.
        QByteArray junk(600, 'x');
        const auto reply = ReplyFrame(0xC1, 0xA1, {}, 2);
        s.write(junk + QByteArray(reinterpret_cast<const char*>(reply.data()), static_cast<qsizetype>(reply.size())));
    };
    ps.IPAddress = "127.0.0.33";
    ASSERT_EQ(link.Connect(), ceOK);
    QElapsedTimer elapsed;
    elapsed.start();
    const int result = StatusExchange();
    EXPECT_LT(elapsed.elapsed(), 1500) << "the rest of a read must not wait for the next packet";
    EXPECT_EQ(ps.ReceiveCount, static_cast<uint8_t>(608));
    // The reply wrapped the 256-byte buffer, so its check cannot pass; it must not crash.
    EXPECT_NE(result, ceOK);
    EXPECT_TRUE(ps.ReplyComplete);
}

TEST_F(NetworkLinkTest, peerClosingMidReplyGivesNoDataAndLaterSendsFail)
{
    Peer peer("127.0.0.34");
    peer.onRequest = [](QTcpSocket& s, const QByteArray&) {
        s.write("\xC1\xA1" "80", 4);
        s.flush();
        s.disconnectFromHost();
    };
    ps.IPAddress = "127.0.0.34";
    ASSERT_EQ(link.Connect(), ceOK);
    EXPECT_EQ(StatusExchange(), ceNoData);
    EXPECT_EQ(status.Panel(5), "");
    EXPECT_EQ(StatusExchange(), cePortTransmitter);
}

TEST_F(NetworkLinkTest, endlessTerminatorsCompleteOnceAndStayInTheBuffer)
{
    Peer peer("127.0.0.35");
    peer.onRequest = [](QTcpSocket& s, const QByteArray&) { s.write(QByteArray(5000, '\xFF')); };
    ps.IPAddress = "127.0.0.35";
    ASSERT_EQ(link.Connect(), ceOK);
    EXPECT_EQ(StatusExchange(), ceCrc);
}

}  // namespace
