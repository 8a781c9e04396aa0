// The discovery UDP client: its receive wait runs out on the time source while events keep
// running, it takes an answer on loopback with the sender's address, and like the TCP link
// it refuses every destination outside 127.0.0.0/8 in this process.
#include "link/UdpClient.h"
#include "support/Fakes.h"
#include "support/LiveNetwork.h"
#include "support/Process.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

TEST(UdpClient, aReceiveWaitEndsOnTheTimeSourceLettingEventsRun_andOnlyLoopbackIsReached)
{
    CoreApp();
    FakeTime time;
    FakePump pump(time);
    TUdpClient udp(pump, time);
    udp.Activate();
    const int64_t start = time.NowMs();
    int64_t ranAt = 0;
    pump.After(1200, [&] { ranAt = time.NowMs() - start; });
    std::vector<uint8_t> data;
    std::string sender;
    EXPECT_FALSE(udp.Receive(data, sender, 5000));
    EXPECT_EQ(ranAt, 1200);
    EXPECT_GE(time.NowMs() - start, 5000);
    EXPECT_LT(time.NowMs() - start, 6000);

    // 0.0.0.0 stands for any address outside 127.0.0.0/8: were the guard to let it through,
    // the kernel would still deliver it on this host.
    EXPECT_NONFATAL_FAILURE(EXPECT_THROW(udp.SendTo("0.0.0.0", 30718, {0xF6}), std::exception),
                            "only 127.0.0.0/8");
    EXPECT_THROW(udp.SendTo("gateway", 30718, {0xF6}), std::exception);
    udp.Deactivate();
    EXPECT_THROW(udp.Receive(data, sender, 5000), std::exception);
}

TEST(UdpClient, takesAnAnswerOnLoopback_withTheSendersAddress)
{
    CoreApp();
    SystemTimeSource time;
    QtEventPump pump(time);
    QUdpSocket clock;
    const std::string address = TestAddress();
    ASSERT_TRUE(clock.bind(QHostAddress(QString::fromStdString(address)), 0));
    // The clock answers from its own address as soon as the request arrives.
    QObject::connect(&clock, &QUdpSocket::readyRead, [&clock] {
        const QNetworkDatagram d = clock.receiveDatagram();
        clock.writeDatagram(QByteArray(300, 'x'), d.senderAddress(), static_cast<quint16>(d.senderPort()));
    });
    TUdpClient udp(pump, time);
    udp.Activate();
    udp.SendTo(address, clock.localPort(), {0x00, 0x00, 0x00, 0xF6});
    std::vector<uint8_t> data;
    std::string sender;
    ASSERT_TRUE(udp.Receive(data, sender, 5000));
    EXPECT_EQ(sender, address);
    EXPECT_EQ(data.size(), 256u) << "at most 256 bytes of an answer are kept";
}

}  // namespace
