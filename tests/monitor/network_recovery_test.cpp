// Network links that recover: outgoing connections made again after a reset with a back-off,
// and several readers behind one address on the listening server.

#include "network_fixture.h"

#include <QTcpSocket>
#include <algorithm>

namespace nettest {
namespace {

// --- outgoing connections -----------------------------------------------------------------

TEST_F(NetTest, AReaderThatResetsIsConnectedAgainWithinASecondEachTimeItDelivered) {
    kelta::test::setTimeScale(1.0); // real timing: 1 s first wait, 15 s watchdog
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    const int r = addListeningReader(2, port, readerConfig(2, 30));
    w().pcTagMain->setActivePage(w().tsNET);

    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> gaps;
    std::vector<std::uint32_t> waits; // the back-off wait set when each loss was seen
    qint64 resetAt = -1;
    quint64 recordsAtConnect = 0;
    quint64 connections = 1;
    const auto res = run([&] {
        const quint64 now = host.reader(r).stats().connections;
        if (resetAt >= 0 && waits.size() < gaps.size() + 1 && net().reconnectPending(2))
            waits.push_back(net().reconnectDelayMs(2));
        if (resetAt < 0) {
            // Reports from the current connection reached the grid: the reader resets.
            if (tables->acceptedRecordCount() < recordsAtConnect + 5) return false;
            if (gaps.size() == 2) return true;
            host.call(r, [](ReaderSim& sim) { sim.resetConnection(); });
            resetAt = clock.elapsed();
            return false;
        }
        if (now == connections) return false;
        gaps.push_back(clock.elapsed() - resetAt);
        connections = now;
        resetAt = -1;
        recordsAtConnect = tables->acceptedRecordCount();
        return false;
    });
    ASSERT_TRUE(res.stopAsked) << gaps.size();
    ASSERT_EQ(gaps.size(), 2u);
    // Not at once (that would hammer a reader that is restarting), and each time the first
    // wait of 1 s, not the watchdog and not 2 s the second time: the connection in between
    // had delivered.
    for (qint64 gap : gaps) EXPECT_GE(gap, 900);
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{1000, 1000}));
    // Each new connection got its setup frames; the list shows the reader once.
    EXPECT_EQ(framesWithCode(host.reader(r), 0x6030).size(), 6u);
    EXPECT_EQ(w().moTcpServer->lines(),
              QStringList{QStringLiteral("Connected:127.0.0.2 Port:%1").arg(port)});
}

TEST_F(NetTest, AnAddressThatClosesEveryConnectionIsTriedLessAndLessOften) {
    kelta::test::setTimeScale(0.1); // waits of 100, 200, 400 and at most 800 ms
    QTcpServer dead;
    ASSERT_TRUE(dead.listen(QHostAddress(loopback(4)), 0));
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> attempts;
    QObject::connect(&dead, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = dead.nextPendingConnection()) {
            attempts.push_back(clock.elapsed());
            s->abort(); // a reset, no data
            s->deleteLater();
        }
    });
    ctl->chkIP(4)->setChecked(true);
    ctl->edIP(4)->setText(loopback(4));
    w().edtTcpRemotePort->setText(QString::number(dead.serverPort()));
    w().pcTagMain->setActivePage(w().tsNET);

    const auto res = run([&] { return clock.elapsed() > 4000; });
    ASSERT_TRUE(res.stopAsked);
    // Attempts near 0, 0.1, 0.3, 0.7, 1.5, 2.3, 3.1 and 3.9 s: never two closer than the
    // back-off step allows, and the step stops growing at its longest.
    ASSERT_GE(attempts.size(), 5u);
    EXPECT_LE(attempts.size(), 9u);
    const qint64 steps[] = {100, 200, 400, 800};
    for (std::size_t i = 1; i < attempts.size(); ++i) {
        const qint64 expected = steps[std::min<std::size_t>(i - 1, 3)];
        EXPECT_GE(attempts[i] - attempts[i - 1], expected * 9 / 10) << i;
    }
    EXPECT_FALSE(net().reconnectPending(4)); // the run ended: nothing is waiting
}

// --- the listening server -----------------------------------------------------------------

class BehindOneAddressTest : public NetTest {
protected:
    void SetUp() override {
        NetTest::SetUp();
        port = freePort();
        ASSERT_NE(port, 0);
        w().edtListenPort->setText(QString::number(port));
        w().pcTagMain->setActivePage(w().tsNetServer);
    }
    QString lineOf(int reader, int from) {
        return QStringLiteral("%1:%2").arg(loopback(from)).arg(host.localTcpPort(reader));
    }
    QStringList sorted(QStringList l) {
        l.sort();
        return l;
    }
    QStringList memo0() const { return window->MemoClient0->lines(); }
    quint16 port = 0;
};

TEST_F(BehindOneAddressTest, EightReadersBehindOneAddressAreAllReadAndListedWithTheirPorts) {
    std::vector<int> readers;
    QSet<QString> ids;
    for (int n = 0; n < 8; ++n) {
        const auto id = static_cast<std::uint16_t>(11 + n);
        readers.push_back(host.addReader(readerConfig(id, 15, 2)));
        ids.insert(QStringLiteral("%1").arg(id, 4, 10, QLatin1Char('0')));
    }
    auto expectedLines = [&](std::size_t skip) {
        QStringList l;
        for (std::size_t i = 0; i < readers.size(); ++i)
            if (i != skip) l << lineOf(readers[i], 9);
        l.sort();
        return l;
    };

    int step = 0;
    quint16 resetOldPort = 0;
    std::map<std::string, quint64> countsBefore;
    const auto res = run([&] {
        switch (step) {
        case 0:
            // The first reconnects 50 ms after a reset, the others stay down when cut.
            for (std::size_t i = 0; i < readers.size(); ++i)
                EXPECT_TRUE(host.connectTcpFrom(readers[i], loopback(9), port, i == 0 ? 50 : -1));
            ++step;
            return false;
        case 1:
            if (gridReaders() != ids || memo0().size() != 8) return false;
            // Every connection listed with its own port, the bare address beside each.
            EXPECT_EQ(sorted(memo0()), expectedLines(99));
            EXPECT_EQ(window->MemoClient1->lines(), QStringList(8, loopback(9)));
            resetOldPort = host.localTcpPort(readers[0]);
            host.call(readers[0], [](ReaderSim& r) { r.resetConnection(); });
            ++step;
            return false;
        case 2: {
            // The reader that came back replaces its own line, and only that one.
            const quint16 now = host.localTcpPort(readers[0]);
            if (now == 0 || now == resetOldPort || memo0().size() != 8 ||
                !memo0().contains(lineOf(readers[0], 9)))
                return false;
            EXPECT_FALSE(
                memo0().contains(QStringLiteral("%1:%2").arg(loopback(9)).arg(resetOldPort)));
            EXPECT_EQ(sorted(memo0()), expectedLines(99));
            host.call(readers[7], [](ReaderSim& r) { r.stop(); });
            ++step;
            return false;
        }
        case 3:
            if (memo0().size() != 7) return false;
            EXPECT_EQ(sorted(memo0()), expectedLines(7));
            countsBefore = gridCounts();
            ++step;
            return false;
        default: {
            // The seven left are all still read.
            const auto counts = gridCounts();
            int grown = 0;
            for (std::size_t i = 0; i < 7; ++i) {
                const QString id = QStringLiteral("%1").arg(11 + i, 4, 10, QLatin1Char('0'));
                bool any = false;
                for (int row = 1; row < w().grdUID->rowCount(); ++row) {
                    if (w().grdUID->cell(17, row) != id) continue;
                    const std::string uid = w().grdUID->cell(1, row).toStdString();
                    any = any || counts.at(uid) > countsBefore[uid];
                }
                grown += any ? 1 : 0;
            }
            return grown == 7;
        }
        }
    });
    ASSERT_TRUE(res.stopAsked) << step;
    EXPECT_LE(net().highestAcceptedReader, 9);
}

TEST_F(BehindOneAddressTest, AnOldConnectionLeftHangingIsReplacedOnlyByANewerOneThatDelivers) {
    // a: the reader before its restart, its old connection left open but silent (no FIN
    // came). a2: the same reader after the restart, from the same address. b: a reader alone
    // on its address that has nothing to say. c2 arrives next to c and says nothing either.
    const int a = host.addReader(readerConfig(21, 20, 2));
    const int a2 = host.addReader(readerConfig(21, 20, 2));
    const int b = host.addReader(readerConfig(22, 20, 2));
    const int c = host.addReader(readerConfig(23, 20, 2));
    const int c2 = host.addReader(readerConfig(24, 0, 2));
    int step = 0;
    QElapsedTimer quiet;
    quint64 othersCut = 0;
    const auto res = run([&] {
        switch (step) {
        case 0:
            EXPECT_TRUE(host.connectTcpFrom(a, loopback(10), port));
            EXPECT_TRUE(host.connectTcpFrom(b, loopback(11), port));
            EXPECT_TRUE(host.connectTcpFrom(c, loopback(12), port));
            ++step;
            return false;
        case 1:
            if (!gridReaders().contains("0021") || !gridReaders().contains("0022") ||
                !gridReaders().contains("0023"))
                return false;
            for (int r : {a, b, c}) host.call(r, [](ReaderSim& s) { s.setSilent(true); });
            EXPECT_TRUE(host.connectTcpFrom(a2, loopback(10), port));
            host.call(c2, [](ReaderSim& s) { s.setSilent(true); });
            EXPECT_TRUE(host.connectTcpFrom(c2, loopback(12), port));
            quiet.start();
            ++step;
            return false;
        default: {
            // Several watchdog periods (750 ms scaled) of silence.
            if (quiet.elapsed() < 2500) return false;
            const QStringList kept =
                sorted({lineOf(a2, 10), lineOf(b, 11), lineOf(c, 12), lineOf(c2, 12)});
            if (sorted(memo0()) != kept || host.reader(a).stats().disconnections != 1) return false;
            for (int r : {a2, b, c, c2}) othersCut += host.reader(r).stats().disconnections;
            return true;
        }
        }
    });
    ASSERT_TRUE(res.stopAsked) << memo0().join(" | ").toStdString();
    // Only a's old connection was closed by the utility; the rest lasted to the end.
    EXPECT_EQ(othersCut, 0u);
    EXPECT_GE(host.reader(a2).stats().liveFramesSent, 1u);
}

} // namespace
} // namespace nettest
