// The engine on its own when things go wrong: files that cannot be written, the previous
// auto-save file, a listening port that is taken, readers behind one address and outgoing
// connections that are reset. What a program without a window learns is what the events and
// stderr tell it.

#include "engine/engine_fixture.h"
#include "platform/files.h"
#include "support/report_frames.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

using kelta::monitor::MonitorEvents;
using kelta::monitor::RunConfig;
using kelta::sim::ReaderConfig;
using kelta::sim::ReaderSim;
using kelta::test::fileLines;
using kelta::test::freePort;

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct Recorder : MonitorEvents {
    QStringList notices;  // every file notice, in order
    QStringList failures; // linksFailed
    QStringList accepted; // address:port of each reader accepted
    QStringList lost;     // lines of readers lost or replaced
    int outgoingConnects = 0;
    void fileFailure(const QString& notice) override { notices << notice; }
    void linksFailed(const QString& reason) override { failures << reason; }
    void readerAccepted(const QString& address, quint16 port) override {
        accepted << address + QLatin1Char(':') + QString::number(port);
    }
    void readerLost(const QString& line) override { lost << line; }
    void readerReplaced(const QString& line) override { lost << line; }
    void outgoingConnected(int, const QString&, quint16) override { ++outgoingConnects; }
    // A connection seen to close (not one the watchdog gave up on).
    void outgoingLost(QTcpSocket*) override { ++outgoingLosses; }
    int outgoingLosses = 0;
};

class EngineRecoveryTest : public kelta::test::EngineFixture<Recorder> {
protected:
    RunConfig serialConfig(int port, const QString& saveFile) const {
        RunConfig c = config(RunConfig::kSerial, saveFile);
        c.serialPorts[static_cast<std::size_t>(port)] = true;
        return c;
    }

    // Sends `count` reports on a mapped pseudo-terminal of port `com` during a run of `c`.
    void runWithReports(const RunConfig& c, int com, std::size_t count) {
        kelta::test::MappedPty pty(com);
        ASSERT_TRUE(pty.pty().valid());
        const auto stream = kelta::test::joined(kelta::test::liveReports(count, 3));
        bool sent = false;
        ASSERT_TRUE(runUntil(c, [&] {
            if (!sent) sent = pty.pty().send(stream);
            return store.acceptedRecordCount() >= count;
        }));
    }
};

// An auto-save target that can never be written: no line counted, the run goes on, the events
// carry the notice with the records lost, and stderr has one line per run with the count.
TEST_F(EngineRecoveryTest, AnUnwritableAutoSaveFileIsReportedAndTheRunGoesOn) {
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ASSERT_TRUE(QDir().mkpath(dir.filePath("folder/run.csv")));
    struct Case {
        const char* name;
        QString file;
    };
    const Case cases[] = {{"below a regular file", dir.filePath("blocker/sub/run.csv")},
                          {"a folder of that name", dir.filePath("folder/run.csv")}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        // Two runs: the report comes once in each.
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE(run);
            events.notices.clear();
            ::testing::internal::CaptureStderr();
            runWithReports(serialConfig(5, k.file), 5, 6);
            const std::string err = ::testing::internal::GetCapturedStderr();

            EXPECT_EQ(store.acceptedRecordCount(), 6u);
            EXPECT_EQ(store.autoSaveLineCount(), 0u);
            const QString path = QDir::toNativeSeparators(k.file);
            ASSERT_FALSE(events.notices.isEmpty());
            const QString last = events.notices.last();
            EXPECT_TRUE(last.startsWith(QStringLiteral("Auto-save file cannot be written: ") +
                                        path + QStringLiteral(" (")))
                << last.toStdString();
            EXPECT_TRUE(last.contains(QStringLiteral("); 6 records not written")))
                << last.toStdString();
            EXPECT_EQ(last, store.fileNotice());
            const std::string report =
                "Auto-save file " + path.toStdString() + ": 6 records not written (";
            EXPECT_EQ(occurrences(err, report), 1) << err;
            EXPECT_EQ(occurrences(err, "Auto-save file"), 1) << err;
        }
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("blocker/sub")));
}

// Start keeps what was in the file before: each run's file moves aside under a name of its own
// and the notice says where; no earlier file is overwritten.
TEST_F(EngineRecoveryTest, EachStartKeepsThePreviousFileUnderANameOfItsOwn) {
    const QString file = dir.filePath("save/run.csv");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("save")));
    const QByteArray before("lines of a run before\n");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    QSet<QString> kept;
    QList<QByteArray> keptBytes;
    const std::size_t perRun[] = {3, 5};
    for (std::size_t run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        const QByteArray previous = fileBytes(file);
        runWithReports(serialConfig(6, file), 6, perRun[run]);
        const QString aside = store.previousAutoSaveFile();
        ASSERT_FALSE(aside.isEmpty());
        EXPECT_FALSE(kept.contains(aside));
        kept.insert(aside);
        EXPECT_EQ(fileBytes(aside), previous);
        EXPECT_EQ(QFileInfo(aside).absolutePath(), QFileInfo(file).absolutePath());
        EXPECT_TRUE(store.fileNotice().contains(
            QStringLiteral("Previous auto-save file kept as: ") + QDir::toNativeSeparators(aside)))
            << store.fileNotice().toStdString();
        // The run's own file: its header and exactly its lines.
        const QStringList lines = fileLines(file);
        ASSERT_EQ(lines.size(), static_cast<int>(perRun[run]) + 1);
        EXPECT_TRUE(lines[0].contains(QStringLiteral("UID")));
        EXPECT_TRUE(lines[1].startsWith(QStringLiteral("0000000001")));
        keptBytes << previous;
    }
    EXPECT_EQ(keptBytes.first(), before);
    // Both earlier files are still there, beside the current one.
    const QStringList names = QDir(dir.filePath("save")).entryList(QDir::Files);
    EXPECT_EQ(names.size(), 3) << names.join(' ').toStdString();

    // Without auto-save nothing is moved and the notice forgets the last move.
    RunConfig off = serialConfig(6, file);
    off.autoSave = false;
    const QByteArray current = fileBytes(file);
    runWithReports(off, 6, 1);
    EXPECT_EQ(fileBytes(file), current);
    EXPECT_TRUE(store.previousAutoSaveFile().isEmpty());
    EXPECT_FALSE(store.fileNotice().contains(QStringLiteral("Previous")));
}

// A listening port another program holds: the run ends before its first pass and says why; a
// free port gives a run as usual.
TEST_F(EngineRecoveryTest, AListeningPortThatIsTakenEndsTheRunAtOnce) {
    for (const bool taken : {true, false, true}) {
        SCOPED_TRACE(taken);
        QTcpServer other;
        ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
        const quint16 port = other.serverPort();
        if (!taken) other.close();
        events.failures.clear();
        RunConfig c;
        c.linkMode = RunConfig::kListeningTcp;
        c.listenPort = port;
        const bool asked = runUntil(
            c, [] { return true; }, 3000);
        EXPECT_EQ(asked, !taken);
        EXPECT_EQ(engine.passCount() > 0, !taken);
        EXPECT_EQ(engine.linksOpened(), !taken);
        EXPECT_FALSE(engine.networkLinks().server().isListening());
        if (taken) {
            const QString why =
                QStringLiteral("Listen port %1 is in use by another program.").arg(port);
            EXPECT_EQ(events.failures, QStringList{why});
            EXPECT_EQ(engine.openFailure(), why);
        } else {
            EXPECT_TRUE(events.failures.isEmpty());
        }
    }
}

// Several readers connecting from one address are all read, each one listed with its port.
TEST_F(EngineRecoveryTest, ReadersBehindOneAddressAreAllRead) {
    const quint16 port = freePort();
    ASSERT_NE(port, 0);
    constexpr int kReaders = 4;
    for (int i = 0; i < kReaders; ++i) {
        ReaderConfig rc;
        rc.readerId = static_cast<std::uint16_t>(60 + i);
        rc.rate = 40;
        rc.seed = static_cast<std::uint32_t>(i + 1);
        rc.tags.count = 1;
        host.connectTcp(host.addReader(rc), port, 50);
    }
    RunConfig c;
    c.linkMode = RunConfig::kListeningTcp;
    c.listenPort = port;
    // Done once every reader's ID is in the live table.
    auto readersSeen = [&] {
        QSet<QString> ids;
        for (int r = 1; r < store.liveTable().rows(); ++r) ids << store.liveTable().text(17, r);
        return ids;
    };
    QStringList lostDuringRun;
    ASSERT_TRUE(runUntil(c, [&] {
        lostDuringRun = events.lost;
        return readersSeen().size() == kReaders;
    })) << readersSeen().size();
    ASSERT_EQ(events.accepted.size(), kReaders) << events.accepted.join(' ').toStdString();
    QSet<QString> lines(events.accepted.begin(), events.accepted.end());
    EXPECT_EQ(lines.size(), kReaders);
    for (const QString& line : std::as_const(events.accepted))
        EXPECT_TRUE(line.startsWith(QStringLiteral("127.0.0.1:"))) << line.toStdString();
    // Nobody was dropped for sharing the address while the run went on (the end of the run
    // closes them all).
    EXPECT_TRUE(lostDuringRun.isEmpty()) << lostDuringRun.join(' ').toStdString();
}

// An outgoing connection the reader resets is made again after the first back-off wait (50 ms
// here), well before the watchdog, and its reports come again.
TEST_F(EngineRecoveryTest, AResetOutgoingConnectionIsMadeAgainBeforeTheWatchdog) {
    ReaderConfig rc;
    rc.readerId = 71;
    rc.rate = 40;
    rc.tags.count = 1;
    const int reader = host.addReader(rc);
    const quint16 port = host.listenTcp(reader, 0, QStringLiteral("127.0.0.1"));
    ASSERT_NE(port, 0);
    RunConfig c;
    c.linkMode = RunConfig::kOutgoingTcp;
    c.addresses[3] = QStringLiteral("127.0.0.1");
    c.addressChecked[3] = true;
    c.remotePort = port;

    // Even phases: the current connection delivers, then the reader resets it. Odd phases:
    // waiting for the next connection's first reports.
    int phase = 0;
    std::uint64_t mark = 0;
    int lossesDuringRun = 0;
    ASSERT_TRUE(runUntil(c, [&] {
        const std::uint64_t records = store.acceptedRecordCount();
        const int connection = phase / 2 + 1 + phase % 2;
        lossesDuringRun = events.outgoingLosses;
        if (events.outgoingConnects != connection) return false;
        if (phase % 2 == 0) {
            if (records < mark + 3) return false;
            if (phase == 4) return true;
            host.call(reader, [](ReaderSim& sim) { sim.resetConnection(); });
        } else if (records <= mark) {
            return false;
        }
        mark = records;
        ++phase;
        return false;
    }));
    EXPECT_EQ(events.outgoingConnects, 3);
    // Each reset was seen as a close and answered by the back-off wait: had the close gone
    // unnoticed, the watchdog would have remade the connection without a loss.
    EXPECT_EQ(lossesDuringRun, 2);
}

} // namespace
