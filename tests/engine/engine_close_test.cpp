// A reader that sends a burst and then goes away (closes its connection, hangs up its line):
// every record it sent is saved, on every kind of link. And the ends of a run: stop() returns
// with the links closed and the files complete, and start() returns before the first record.

#include "engine/engine_fixture.h"
#include "support/report_frames.h"

#include <QTcpSocket>
#include <memory>
#include <sys/ioctl.h>

namespace {

using kelta::monitor::LinkHealth;
using kelta::monitor::MonitorEvents;
using kelta::monitor::RunConfig;
using kelta::test::fileLines;
using kelta::test::waitFor;

struct Ends : MonitorEvents {
    int started = 0;
    int ended = 0;
    void runStarted() override { ++started; }
    void runEnded() override { ++ended; }
};

using EngineCloseTest = kelta::test::EngineFixture<Ends>;

// Over 1 MiB of live reports: frames of 33 bytes.
constexpr int kBurstFrames = 32768;

// Every record of the burst reached the store and the auto-save file once the run was
// stopped.
void expectWhole(kelta::monitor::TagStore& store, const QString& file, int frames) {
    EXPECT_EQ(store.acceptedRecordCount(), static_cast<std::uint64_t>(frames));
    EXPECT_EQ(fileLines(file).size(), frames + 1);
    EXPECT_FALSE(store.autoSaveFile().isOpen());
}

TEST_F(EngineCloseTest, ABurstFollowedByACloseIsSavedWholeOnBothTcpKinds) {
    const auto stream = kelta::test::joined(kelta::test::liveReports(kBurstFrames, 50));
    ASSERT_GE(stream.size(), 1024u * 1024u);
    const QByteArray bytes(reinterpret_cast<const char*>(stream.data()),
                           static_cast<qsizetype>(stream.size()));
    for (const int mode : {RunConfig::kOutgoingTcp, RunConfig::kListeningTcp}) {
        SCOPED_TRACE(mode);
        RunConfig c = config(mode, dir.filePath(QStringLiteral("burst%1.csv").arg(mode)));
        // The reader's side: a server the run connects to, or a connection to the run's.
        QTcpServer readerServer;
        QPointer<QTcpSocket> peer;
        std::unique_ptr<QTcpSocket> client;
        if (mode == RunConfig::kOutgoingTcp) {
            ASSERT_TRUE(readerServer.listen(QHostAddress::LocalHost, 0));
            QObject::connect(&readerServer, &QTcpServer::newConnection, [&] {
                while (QTcpSocket* s = readerServer.nextPendingConnection()) {
                    if (!peer)
                        peer = s;
                    else
                        s->abort(); // the reconnection after the close finds nobody
                }
            });
            c.addresses[1] = QStringLiteral("127.0.0.1");
            c.addressChecked[1] = true;
            c.remotePort = readerServer.serverPort();
        } else {
            c.listenPort = kelta::test::freePort();
        }
        engine.prepareStore(c);
        ASSERT_TRUE(engine.start(c));
        if (mode == RunConfig::kListeningTcp) {
            client = std::make_unique<QTcpSocket>();
            client->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(c.listenPort));
            peer = client.get();
        }
        ASSERT_TRUE(waitFor([&] {
            return engine.receiving() && peer &&
                   peer->state() == QAbstractSocket::ConnectedState &&
                   (mode == RunConfig::kOutgoingTcp ||
                    engine.networkLinks().acceptedReader(1) != nullptr);
        }));
        peer->write(bytes);
        peer->disconnectFromHost();
        ASSERT_TRUE(waitFor([&] { return store.acceptedRecordCount() >= kBurstFrames; }))
            << store.acceptedRecordCount() << " of " << kBurstFrames;
        if (mode == RunConfig::kOutgoingTcp) {
            const auto health = engine.linkHealth();
            ASSERT_EQ(health.size(), 1u);
            EXPECT_EQ(health[0].name, QStringLiteral("127.0.0.1:%1").arg(c.remotePort));
            EXPECT_EQ(health[0].records, static_cast<std::uint64_t>(kBurstFrames));
            EXPECT_EQ(health[0].readerIds, QStringList{QStringLiteral("0007")});
            EXPECT_TRUE(health[0].lastReport.isValid());
        }
        engine.stop();
        expectWhole(store, c.autoSaveFile, kBurstFrames);
    }
}

// A serial reader that pushes its reports and hangs up (the pseudo-terminal's other side
// closes) as soon as the line has passed them on. (What a terminal still queues at a hang-up
// the system throws away; what the run has read is all saved.)
TEST_F(EngineCloseTest, ABurstFollowedByAHangUpIsSavedWhole) {
    constexpr int kFrames = 2000;
    const auto stream = kelta::test::joined(kelta::test::liveReports(kFrames, 20));
    kelta::test::MappedPty com(9);
    RunConfig c = config(RunConfig::kSerial);
    c.serialPorts[9] = true;
    engine.prepareStore(c);
    ASSERT_TRUE(engine.start(c));
    ASSERT_TRUE(waitFor([&] { return engine.receiving(); }));
    // As much as the line takes at once, the rest as the run reads it, then the hang-up.
    std::size_t sent = 0;
    ASSERT_TRUE(waitFor([&] {
        while (sent < stream.size()) {
            const ssize_t n = ::write(com.pty().master(), stream.data() + sent,
                                      std::min<std::size_t>(4096, stream.size() - sent));
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }));
    ASSERT_TRUE(waitFor([&] {
        int queued = 0;
        return ::ioctl(com.pty().slave(), FIONREAD, &queued) == 0 && queued == 0;
    }));
    com.pty().closeMaster();
    ASSERT_TRUE(waitFor([&] { return store.acceptedRecordCount() >= kFrames; }))
        << store.acceptedRecordCount() << " of " << kFrames;
    ASSERT_TRUE(waitFor([&] { return !engine.serialLinks().isOpen(9); }));
    const auto health = engine.linkHealth();
    ASSERT_EQ(health.size(), 1u);
    EXPECT_EQ(health[0].name, QStringLiteral("COM9"));
    EXPECT_EQ(health[0].state, LinkHealth::State::Lost);
    EXPECT_EQ(health[0].records, static_cast<std::uint64_t>(kFrames));
    engine.stop();
    expectWhole(store, c.autoSaveFile, kFrames);
}

// start() and stop() return at once: no record is posted inside start(), the run receives
// later in the event loop; stop() leaves every link closed and the files complete, and says
// so once.
TEST_F(EngineCloseTest, StartReturnsBeforeTheFirstRecordAndStopLeavesNothingOpen) {
    kelta::sim::ReaderConfig rc;
    rc.rate = 60;
    rc.tags.count = 4;
    const quint16 port = host.listenTcp(host.addReader(rc), 0, QStringLiteral("127.0.0.1"));
    ASSERT_NE(port, 0);
    RunConfig c = config(RunConfig::kOutgoingTcp);
    c.addresses[3] = QStringLiteral("127.0.0.1");
    c.addressChecked[3] = true;
    c.remotePort = port;
    engine.prepareStore(c);
    ASSERT_TRUE(engine.start(c));
    EXPECT_TRUE(engine.running());
    EXPECT_FALSE(engine.receiving());
    EXPECT_EQ(store.acceptedRecordCount(), 0u);
    EXPECT_EQ(events.started, 0);
    ASSERT_TRUE(waitFor([&] { return store.acceptedRecordCount() >= 10; }));
    EXPECT_EQ(events.started, 1);
    engine.stop();
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(events.ended, 1);
    EXPECT_EQ(engine.networkLinks().readerConnection(3), nullptr);
    EXPECT_EQ(fileLines(c.autoSaveFile).size(),
              static_cast<int>(store.acceptedRecordCount()) + 1);
    EXPECT_FALSE(store.autoSaveFile().isOpen());
    engine.stop(); // a second stop does nothing
    EXPECT_EQ(events.ended, 1);
}

} // namespace
