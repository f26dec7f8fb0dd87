// The listening server: simulated readers connect from loopback addresses 127.0.0.x; and
// frames split and merged across TCP writes, on both link kinds.

#include "network_fixture.h"

namespace nettest {
namespace {

class ListenTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        port = freePort();
        ASSERT_NE(port, 0);
        w().edtListenPort->setText(QString::number(port));
        w().pcTagMain->setActivePage(w().tsNetServer);
    }
    // A reader that will connect from 127.0.0.from once told to.
    int addConnectingReader(std::uint16_t id, double rate) {
        return host.addReader(readerConfig(id, rate, 2));
    }
    bool connectFrom(int reader, int from, int autoReconnectMs = -1) {
        return host.connectTcpFrom(reader, loopback(from), port, autoReconnectMs);
    }
    QStringList memo0() const { return window->MemoClient0->lines(); }
    quint16 port = 0;
};

TEST_F(ListenTest, SixtyFourReadersAreServedAndASixtyFifthIsClosedAtOnce) {
    std::vector<int> readers;
    QSet<QString> ids;
    for (int n = 1; n <= 65; ++n)
        readers.push_back(addConnectingReader(static_cast<std::uint16_t>(n), 5));
    for (int n = 1; n <= 64; ++n) ids.insert(QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0')));

    int connectedSoFar = 0;
    bool extraSent = false;
    const auto res = run(
        [&] {
            EXPECT_TRUE(net().server().isListening());
            EXPECT_FALSE(w().MemoClient0->isHidden());
            EXPECT_TRUE(w().pnlTcpClient->isHidden());
            // The first 64 one after the other, the 65th once all 64 are recorded.
            if (connectedSoFar < 64) {
                EXPECT_TRUE(connectFrom(readers[static_cast<std::size_t>(connectedSoFar)],
                                        connectedSoFar + 1));
                ++connectedSoFar;
                return false;
            }
            if (!extraSent && net().highestAcceptedReader == 64) {
                EXPECT_TRUE(connectFrom(readers[64], 65));
                extraSent = true;
            }
            return extraSent && net().refusedAccepts() == 1 && gridReaders() == ids;
        },
        30000);
    ASSERT_TRUE(res.stopAsked) << gridReaders().size() << " readers, refused "
                               << net().refusedAccepts();
    EXPECT_TRUE(host.waitForPeer(readers[64], false, 3000));
    EXPECT_FALSE(gridReaders().contains("0065"));

    // Stop closed every accepted connection and the server; the list is empty and hidden.
    for (int n = 0; n < 64; ++n)
        EXPECT_TRUE(host.waitForPeer(readers[static_cast<std::size_t>(n)], false, 3000)) << n;
    EXPECT_FALSE(net().server().isListening());
    EXPECT_EQ(w().MemoClient0->lineCount(), 0);
    EXPECT_TRUE(w().MemoClient0->isHidden());
    EXPECT_FALSE(w().pnlTcpClient->isHidden());
    for (int k = 0; k <= 64; ++k) EXPECT_EQ(net().acceptedReader(k), nullptr) << k;
}

TEST_F(ListenTest, AReconnectingAddressIsListedOnceWithItsNewPortAndLeaversDisappear) {
    const int a = addConnectingReader(1, 20);
    const int b = addConnectingReader(2, 20);
    const int c = addConnectingReader(3, 20); // a second reader on a's address
    quint16 firstPort = 0, secondPort = 0, thirdPort = 0;
    QElapsedTimer stopClock;
    int step = 0;
    const auto res = run([&] {
        switch (step) {
        case 0:
            EXPECT_TRUE(connectFrom(a, 5, 50));
            EXPECT_TRUE(connectFrom(b, 6));
            ++step;
            return false;
        case 1: {
            if (memo0().size() < 2 || !gridReaders().contains("0001")) return false;
            firstPort = host.localTcpPort(a);
            QStringList lines = memo0();
            lines.sort();
            EXPECT_EQ(lines,
                      (QStringList{QStringLiteral("127.0.0.5:%1").arg(firstPort),
                                   QStringLiteral("127.0.0.6:%1").arg(host.localTcpPort(b))}));
            // The bare address of each line at the same index.
            for (int i = 0; i < memo0().size(); ++i)
                EXPECT_TRUE(memo0()[i].startsWith(w().MemoClient1->lines().value(i) + ":"));
            host.call(a, [](ReaderSim& r) { r.resetConnection(); }); // back after 50 ms
            ++step;
            return false;
        }
        case 2:
            secondPort = host.localTcpPort(a);
            if (secondPort == 0 || secondPort == firstPort ||
                !memo0().contains(QStringLiteral("127.0.0.5:%1").arg(secondPort)))
                return false;
            // b leaves: its line goes, the highest slot stays.
            host.call(b, [](ReaderSim& r) { r.stop(); });
            ++step;
            return false;
        case 3:
            if (memo0().size() != 1) return false;
            EXPECT_EQ(memo0(), QStringList{QStringLiteral("127.0.0.5:%1").arg(secondPort)});
            EXPECT_EQ(w().MemoClient1->lines(), QStringList{"127.0.0.5"});
            EXPECT_GE(net().highestAcceptedReader, 2);
            // Another connection from 127.0.0.5 while a's is still open and delivering: a
            // second reader behind that address, listed beside a; a's connection leaving
            // afterwards must not take c's line away.
            EXPECT_TRUE(connectFrom(c, 5));
            ++step;
            return false;
        case 4:
            thirdPort = host.localTcpPort(c);
            if (thirdPort == 0 || !memo0().contains(QStringLiteral("127.0.0.5:%1").arg(thirdPort)))
                return false;
            EXPECT_EQ(memo0().size(), 2);
            EXPECT_TRUE(memo0().contains(QStringLiteral("127.0.0.5:%1").arg(secondPort)));
            host.call(a, [](ReaderSim& r) { r.stop(); });
            stopClock.start();
            ++step;
            return false;
        default:
            // Time for the utility to see a's older connection go.
            if (stopClock.elapsed() < 400 || !gridReaders().contains("0003")) return false;
            EXPECT_EQ(memo0(), QStringList{QStringLiteral("127.0.0.5:%1").arg(thirdPort)});
            EXPECT_EQ(w().MemoClient1->lines(), QStringList{"127.0.0.5"});
            return true;
        }
    });
    ASSERT_TRUE(res.stopAsked) << step;
    EXPECT_EQ(w().edtTcpClientIP->text(), "127.0.0.5");
}

} // namespace
} // namespace nettest
