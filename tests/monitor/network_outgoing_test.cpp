// Outgoing monitoring connections: one per checked address row, to simulated readers that
// listen on 127.0.0.row and a common port.

#include "monitor/proto/monitor_frame.h"
#include "network_fixture.h"

#include <QTcpSocket>

namespace nettest {
namespace {

TEST_F(NetTest, RowsThreeAndSevenConnectGetTheSetupFramesAndShowTheirTags) {
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    const int r3 = addListeningReader(3, port, readerConfig(3, 40));
    const int r7 = addListeningReader(7, port, readerConfig(7, 40));
    w().pcTagMain->setActivePage(w().tsNET);

    bool checkedDuringRun = false;
    const auto res = run([&] {
        if (!checkedDuringRun) {
            checkedDuringRun = true;
            EXPECT_EQ(link().linkMode, 0);
            EXPECT_EQ(net().highestReaderConnection, 7);
            EXPECT_EQ(net().startedConnections, 2);
            EXPECT_EQ(net().connectedReaders, 2);
            for (int k = 1; k <= 32; ++k)
                EXPECT_EQ(net().readerConnection(k) != nullptr, k == 3 || k == 7) << k;
            EXPECT_EQ(kelta::tagOf(net().readerConnection(3)), 3);
            EXPECT_EQ(kelta::tagOf(net().readerConnection(7)), 7);
            // The list of connected readers replaced the address rows.
            EXPECT_FALSE(w().PnlTcpServerView->isHidden());
            EXPECT_TRUE(w().pnlTcpServerSet->isHidden());
        }
        return gridReaders() == QSet<QString>{"0003", "0007"} &&
               tables->acceptedRecordCount() >= 20;
    });
    ASSERT_TRUE(res.stopAsked);
    EXPECT_TRUE(checkedDuringRun);

    // Each reader: the two setup frames byte for byte, then the link-mode announcement.
    const auto setup = kelta::monitor::connectionSetupFrames();
    const Bytes announcement = kelta::monitor::linkModeAnnouncement(true);
    for (int r : {r3, r7}) {
        const auto got = host.reader(r).received();
        ASSERT_GE(got.size(), 3u);
        EXPECT_EQ(got[0].raw, setup[0]);
        EXPECT_EQ(got[1].raw, setup[1]);
        EXPECT_EQ(got[2].raw, announcement);
        EXPECT_EQ(host.reader(r).stats().connections, 1u);
    }
    EXPECT_EQ(w().moTcpServer->lines(),
              (QStringList{QStringLiteral("Connected:127.0.0.3 Port:%1").arg(port),
                           QStringLiteral("Connected:127.0.0.7 Port:%1").arg(port)}));
    EXPECT_EQ(w().edtTcpServerPort->text(), QString::number(port));
    EXPECT_TRUE(w().edtTcpServerIP->text() == "127.0.0.3" ||
                w().edtTcpServerIP->text() == "127.0.0.7");

    // Stop closed every connection and brought the address rows back.
    for (int r : {r3, r7}) EXPECT_TRUE(host.waitForPeer(r, false, 3000)) << r;
    for (int k = 0; k <= 32; ++k) EXPECT_EQ(net().readerConnection(k), nullptr) << k;
    EXPECT_EQ(net().highestReaderConnection, 0);
    EXPECT_TRUE(w().PnlTcpServerView->isHidden());
    EXPECT_FALSE(w().pnlTcpServerSet->isHidden());
    // The list keeps its lines until the next run on outgoing connections.
    EXPECT_EQ(w().moTcpServer->lineCount(), 2);
}

TEST_F(NetTest, TwentyReadersAtOnceAreAllServed) {
    // Real timing: with twenty connections a slot waits a while for its first poll, longer
    // than a scaled-down watchdog would allow.
    kelta::test::setTimeScale(1.0);
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    std::vector<int> readers;
    QSet<QString> ids;
    for (int row = 1; row <= 20; ++row) {
        readers.push_back(
            addListeningReader(row, port, readerConfig(static_cast<std::uint16_t>(row), 20, 2)));
        ids.insert(QStringLiteral("%1").arg(row, 4, 10, QLatin1Char('0')));
    }
    w().pcTagMain->setActivePage(w().tsNET);

    const auto res = run([&] { return gridReaders() == ids; });
    ASSERT_TRUE(res.stopAsked);
    EXPECT_EQ(w().moTcpServer->lineCount(), 20);
    const auto setup = kelta::monitor::connectionSetupFrames();
    for (int r : readers) {
        EXPECT_EQ(framesWithCode(host.reader(r), 0x6030), (std::vector<Bytes>{setup[0], setup[1]}));
        EXPECT_EQ(framesWithCode(host.reader(r), 0x6011).size(), 1u);
        EXPECT_TRUE(host.waitForPeer(r, false, 3000));
    }
}

TEST_F(NetTest, ASilentReaderIsDroppedAndConnectedAgainWhileATalkingOneIsKept) {
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    const int quiet = addListeningReader(2, port, readerConfig(2, 30));
    const int talker = addListeningReader(5, port, readerConfig(5, 30));
    w().pcTagMain->setActivePage(w().tsNET);

    bool silenced = false;
    bool spokeAgain = false;
    quint64 recordsAtSpeech = 0;
    const auto res = run([&] {
        if (!silenced && gridReaders().contains("0002")) {
            host.call(quiet, [](ReaderSim& r) { r.setSilent(true); });
            silenced = true;
        }
        // Silent for 750 ms (the scaled 15 s): dropped and made again, with fresh setup frames.
        if (silenced && !spokeAgain && host.reader(quiet).stats().connections >= 2) {
            host.call(quiet, [](ReaderSim& r) { r.setSilent(false); });
            spokeAgain = true;
            recordsAtSpeech = tables->acceptedRecordCount();
        }
        return spokeAgain && tables->acceptedRecordCount() > recordsAtSpeech + 30 &&
               host.reader(quiet).stats().liveFramesSent > 0;
    });
    ASSERT_TRUE(res.stopAsked);
    EXPECT_EQ(host.reader(talker).stats().connections, 1u);
    EXPECT_EQ(framesWithCode(host.reader(talker), 0x6030).size(), 2u);
    EXPECT_GE(framesWithCode(host.reader(quiet), 0x6030).size(), 4u);
    // The new connection counts as a connect event, not as a started connection.
    EXPECT_EQ(w().moTcpServer->lineCount(), 2);
}

TEST_F(NetTest, RefusedConnectionIsRetriedWithBackOffAndEndsTheStartWaitWhenItConnects) {
    kelta::test::setTimeScale(1.0); // real timing: 10 s wait, waits of 1, 2, 4 s
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    ctl->chkIP(4)->setChecked(true);
    ctl->edIP(4)->setText(loopback(4));
    w().edtTcpRemotePort->setText(QString::number(port));
    w().pcTagMain->setActivePage(w().tsNET);

    // Nobody listens at first: the attempts at 0 and 1 s are refused. The reader appears at
    // 2 s, during the start's wait; the attempt at 3 s finds it and the wait ends.
    QElapsedTimer clock;
    int reader = -1;
    qint64 connectedAt = -1;
    QTimer::singleShot(2000, [&] {
        reader = host.addReader(readerConfig(4, 20));
        EXPECT_EQ(host.listenTcp(reader, port, loopback(4)), port);
    });
    std::vector<std::uint32_t> waits; // each back-off wait, as it is set
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (reader >= 0 && connectedAt < 0 && host.reader(reader).stats().connections > 0)
            connectedAt = clock.elapsed();
        // A refused attempt sets the next wait at once: each wait is seen as a new value.
        const std::uint32_t wait = net().reconnectPending(4) ? net().reconnectDelayMs(4) : 0;
        if (wait != 0 && (waits.empty() || waits.back() != wait)) waits.push_back(wait);
    });
    watch.start(5);
    clock.start();
    const auto res = run([&] { return connectedAt >= 0 && gridReaders().contains("0004"); }, 20000);
    ASSERT_TRUE(res.stopAsked);
    // Two refusals with waits of 1 and 2 s, then the attempt that finds the reader; the run
    // began receiving only after that connection.
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{1000, 2000}));
    EXPECT_GE(res.firstPassMs, connectedAt);
    EXPECT_EQ(host.reader(reader).stats().connections, 1u);
}

TEST_F(NetTest, PortFieldsThatAreNoNumberBecome4001) {
    link().linkMode = 0;
    w().edtTcpRemotePort->setText("abc");
    ctl->chkIP(1)->setChecked(true);
    ctl->edIP(1)->setText(loopback(1));
    kelta::test::setTimeScale(0.01);
    ctl->OpenMonitorLinks();
    EXPECT_EQ(w().edtTcpRemotePort->text(), "4001");
    ASSERT_NE(net().readerConnection(1), nullptr);
    EXPECT_EQ(net().readerConnection(1)->peerName(), loopback(1));
    ctl->CloseMonitorLinks();
    EXPECT_EQ(net().readerConnection(1), nullptr);

    link().linkMode = 2;
    w().edtListenPort->setText("abc");
    ctl->OpenMonitorLinks();
    EXPECT_EQ(w().edtListenPort->text(), "4001");
    EXPECT_EQ(w().edtLisPort->text(), "4001");
    EXPECT_EQ(w().serverSocketPort, 4001);
    ctl->CloseMonitorLinks();
    EXPECT_FALSE(net().server().isListening());
}

} // namespace
} // namespace nettest
