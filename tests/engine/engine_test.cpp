// The monitoring engine on its own, without a window or Qt Widgets: simulated readers on
// pseudo-terminals and loopback TCP, the tag store's rows, the auto-save and event-log files,
// the selection file and what the engine reports.

#include "engine/engine_fixture.h"
#include "support/report_frames.h"

#include <QLocale>
#include <map>

namespace {

using kelta::monitor::CellTable;
using kelta::monitor::DecodeMode;
using kelta::monitor::MonitorEvents;
using kelta::monitor::RunConfig;
using kelta::monitor::TagStore;
using kelta::sim::ReaderConfig;
using kelta::test::fileLines;
using kelta::test::freePort;

// What the engine reported, one line per call.
struct Recorder : MonitorEvents {
    QStringList lines;
    QString lastStatus;
    int lastRows = -2;
    void passStarted(const QString& status) override { lastStatus = status; }
    void passEnded(int rows) override { lastRows = rows; }
    void serialOpened(int port) override { lines << QStringLiteral("serial %1").arg(port); }
    void outgoingConnected(int row, const QString& address, quint16) override {
        lines << QStringLiteral("connected %1 %2").arg(row).arg(address);
    }
    void listeningOpening(int port) override { lines << QStringLiteral("listen %1").arg(port); }
    void readerAccepted(const QString& address, quint16) override {
        lines << QStringLiteral("accepted %1").arg(address);
    }
    void networkClosed() override { lines << QStringLiteral("closed"); }
    void presenceChanged(const kelta::monitor::PresenceChange& c) override {
        presence.push_back(c);
    }
    std::vector<kelta::monitor::PresenceChange> presence;
    void tagLogProgress(const kelta::Progress& p) override { logProgress.push_back(p); }
    std::vector<kelta::Progress> logProgress;
};

// UID -> Count column of a table.
std::map<QString, long long> counts(const CellTable& t) {
    std::map<QString, long long> out;
    for (int r = 1; r < t.rows(); ++r) out[t.text(1, r)] = t.text(18, r).toLongLong();
    return out;
}

using EngineTest = kelta::test::EngineFixture<Recorder>;

// Every kind of link delivers a simulated reader's reports into the live table and the
// auto-save file, one line per accepted record, and is closed again at the end.
TEST_F(EngineTest, EveryLinkKindFillsTheStoreAndTheAutoSaveFile) {
    struct Case {
        const char* name;
        int linkMode;
    };
    const Case cases[] = {{"serial", RunConfig::kSerial},
                          {"outgoing", RunConfig::kOutgoingTcp},
                          {"listening", RunConfig::kListeningTcp}};
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ++n;
        ReaderConfig rc;
        rc.readerId = static_cast<std::uint16_t>(40 + n);
        rc.rate = 60;
        rc.seed = static_cast<std::uint32_t>(n);
        rc.tags.count = 4;
        const int reader = host.addReader(rc);
        RunConfig c = config(k.linkMode);
        QString expectedEvent;
        if (k.linkMode == RunConfig::kSerial) {
            ASSERT_TRUE(host.openPty(reader, 3 + n));
            c.serialPorts[static_cast<std::size_t>(3 + n)] = true;
            expectedEvent = QStringLiteral("serial %1").arg(3 + n);
        } else if (k.linkMode == RunConfig::kOutgoingTcp) {
            const quint16 port = host.listenTcp(reader, 0, QStringLiteral("127.0.0.1"));
            ASSERT_NE(port, 0);
            c.addresses[2] = QStringLiteral("127.0.0.1");
            c.addressChecked[2] = true;
            c.remotePort = port;
            expectedEvent = QStringLiteral("connected 2 127.0.0.1");
        } else {
            c.listenPort = freePort();
            host.connectTcp(reader, static_cast<quint16>(c.listenPort), 50);
            expectedEvent = QStringLiteral("accepted 127.0.0.1");
        }
        events.lines.clear();

        ASSERT_TRUE(runUntil(c, [&] { return store.acceptedRecordCount() >= 25; }));
        host.stopReader(reader);

        EXPECT_TRUE(events.lines.contains(expectedEvent)) << events.lines.join('|').toStdString();
        const CellTable& live = store.liveTable();
        EXPECT_EQ(live.cols(), 20);
        EXPECT_EQ(live.rows() - 1, 4);
        long long sum = 0;
        for (const auto& [uid, count] : counts(live)) {
            EXPECT_EQ(uid.size(), 16);
            sum += count;
        }
        EXPECT_EQ(static_cast<std::uint64_t>(sum), store.acceptedRecordCount());
        for (int r = 1; r < live.rows(); ++r)
            EXPECT_EQ(live.text(17, r), QStringLiteral("%1").arg(rc.readerId, 4, 10, QChar('0')));
        EXPECT_EQ(store.logTable().rows(), 1);

        const QStringList lines = fileLines(c.autoSaveFile);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_TRUE(lines.first().contains(QStringLiteral("UID")));
        EXPECT_EQ(static_cast<std::uint64_t>(lines.size() - 1), store.autoSaveLineCount());
        EXPECT_EQ(store.autoSaveLineCount(), store.acceptedRecordCount());
        EXPECT_TRUE(lines.last().startsWith(
            QStringLiteral("%1").arg(store.autoSaveLineCount(), 10, 10, QChar('0'))));
        EXPECT_FALSE(store.autoSaveFile().isOpen());
        EXPECT_TRUE(events.lastStatus.startsWith(QStringLiteral("      ")));
        EXPECT_TRUE(events.lastStatus.endsWith(QStringLiteral(" sec")));
        EXPECT_EQ(events.lastRows, 4);

        // Everything closed again.
        for (int p = 1; p <= 32; ++p) EXPECT_FALSE(engine.serialLinks().isOpen(p)) << p;
        EXPECT_FALSE(engine.networkLinks().server().isListening());
        EXPECT_EQ(engine.networkLinks().readerConnection(2), nullptr);
    }
}

// The same byte stream, cut into pieces of any size, gives the same rows: every frame is
// delivered exactly once, in order.
TEST_F(EngineTest, FramesCutAnywhereAreRecordedOnceInOrder) {
    const auto frames = kelta::test::liveReports(12, 3);
    const auto stream = kelta::test::joined(frames);
    const std::size_t chunks[] = {stream.size(), frames.front().size(), 5, 3};
    for (const std::size_t chunk : chunks) {
        SCOPED_TRACE(chunk);
        kelta::test::MappedPty com(9);
        ASSERT_TRUE(com.pty().valid());
        RunConfig c = config(RunConfig::kSerial);
        c.serialPorts[9] = true;
        std::size_t sent = 0;
        ASSERT_TRUE(runUntil(c, [&] {
            if (sent < stream.size()) {
                const std::size_t n = std::min(chunk, stream.size() - sent);
                com.pty().send({stream.begin() + static_cast<std::ptrdiff_t>(sent),
                                stream.begin() + static_cast<std::ptrdiff_t>(sent + n)});
                sent += n;
            }
            return store.acceptedRecordCount() >= frames.size();
        }));
        EXPECT_EQ(store.acceptedRecordCount(), frames.size());
        const CellTable& live = store.liveTable();
        ASSERT_EQ(live.rows(), 4);
        // Rows in the order first seen, four reports each; the last report's values shown.
        for (int r = 1; r <= 3; ++r) {
            EXPECT_EQ(live.text(0, r), QString::number(r));
            EXPECT_EQ(live.text(1, r),
                      QStringLiteral("00000000000010%1").arg(r - 1, 2, 10, QChar('0')));
            EXPECT_EQ(live.text(18, r), QStringLiteral("4"));
        }
        // Frame 9 was the last of tag 0x1000: RSSI 30 + 9, LQI 90 - 9.
        EXPECT_EQ(live.text(2, 1), QStringLiteral("39"));
        EXPECT_EQ(live.text(3, 1), QStringLiteral("81"));
        EXPECT_EQ(fileLines(c.autoSaveFile).size(), 13);
    }
}

// Selected tags: a row for each from the start, an absence line once one is silent past the
// time-out, a return line when it comes back, and the selection file at the end.
TEST_F(EngineTest, SelectionAbsenceAndReturnAreLoggedAndTheSelectionIsSaved) {
    kelta::test::MappedPty com(11);
    const QString seen = QStringLiteral("0000000000001000");
    const QString never = QStringLiteral("0000000000009999");
    RunConfig c = config(RunConfig::kSerial);
    c.serialPorts[11] = true;
    c.autoSave = false;
    c.selectedTags = {seen, never};
    c.tagTimeoutSeconds = 1;
    const auto report = kelta::test::liveReports(1, 1);

    int phase = 0;
    QElapsedTimer quiet;
    ASSERT_TRUE(runUntil(c, [&] {
        const CellTable& sel = store.selectionTable();
        if (phase == 0) {
            EXPECT_EQ(sel.rows(), 3);
            com.pty().send(report.front());
            phase = 1;
        } else if (phase == 1 && sel.text(18, 1) == QStringLiteral("1")) {
            quiet.start();
            phase = 2;
        } else if (phase == 2 && sel.text(20, 1).isEmpty()) {
            // Marked absent: not before the time-out.
            EXPECT_GE(quiet.elapsed(), 900);
            com.pty().send(report.front());
            phase = 3;
        } else if (phase == 3 && sel.text(18, 1) == QStringLiteral("2")) {
            return true;
        }
        return false;
    }));
    EXPECT_FALSE(store.autoSaveFile().isOpen());
    EXPECT_FALSE(QFile::exists(c.autoSaveFile));

    const QStringList log = fileLines(c.eventLogFile);
    QStringList seenLines, neverLines;
    for (const QString& l : log) (l.startsWith(seen) ? seenLines : neverLines) << l;
    // The tag seen: its absence (interval with '>') then its return (plain interval).
    ASSERT_EQ(seenLines.size(), 2) << log.join('|').toStdString();
    EXPECT_TRUE(seenLines[0].section(',', -1).startsWith('>'));
    EXPECT_GT(seenLines[0].section(',', -1).mid(1).toLongLong(), 1000);
    EXPECT_GT(seenLines[1].section(',', -1).toLongLong(), 1000);
    // The tag never seen is absent from the start of the run, once.
    ASSERT_EQ(neverLines.size(), 1);
    EXPECT_TRUE(neverLines[0].startsWith(never + QStringLiteral(",0,0,")));
    EXPECT_EQ(fileLines(TagStore::selectionFilePath()), (QStringList{seen, never}));

    // The events carry the radio values as numbers, the same the texts and the log show.
    ASSERT_EQ(events.presence.size(), 3u);
    for (const auto& p : events.presence) {
        SCOPED_TRACE(p.uid.toStdString());
        EXPECT_EQ(p.rssiValue, p.rssi.toUInt());
        EXPECT_EQ(p.lqiValue, p.lqi.toUInt());
        if (p.uid == seen) {
            EXPECT_GT(p.lqiValue, 20);
            EXPECT_TRUE(seenLines[0].startsWith(
                seen + QStringLiteral(",%1,%2,").arg(p.rssiValue).arg(p.lqiValue)));
        }
    }
}

// A stop while reports keep coming ends the run within its pass: the port is closed and the
// tag-log mode puts its records into the log table with one row each.
TEST_F(EngineTest, TagLogRunFillsTheLogTableAndStopsOnRequest) {
    ReaderConfig rc;
    rc.readerId = 3;
    rc.logRecords = 20;
    rc.seed = 5;
    rc.tags.count = 2;
    const int reader = host.addReader(rc);
    ASSERT_TRUE(host.openPty(reader, 14));
    RunConfig c = config(RunConfig::kSerial);
    c.serialPorts[14] = true;
    c.mode = DecodeMode::Log;
    c.logReaderId = 3;
    ASSERT_TRUE(runUntil(
        c, [&] { return store.acceptedRecordCount() >= 20; }, 20000));
    const CellTable& log = store.logTable();
    EXPECT_EQ(log.cols(), 22);
    EXPECT_EQ(static_cast<std::uint64_t>(log.rows() - 1), store.acceptedRecordCount());
    EXPECT_EQ(store.liveTable().rows(), 1);
    // Log rows carry their sequence number and date.
    EXPECT_EQ(log.text(18, 1), QStringLiteral("1"));
    EXPECT_FALSE(log.text(19, 1).isEmpty());
    EXPECT_FALSE(engine.serialLinks().isOpen(14));
    const QStringList lines = fileLines(c.autoSaveFile);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.first().contains(QStringLiteral("LOG DateTime")));
}

// A tag-log run cannot know how many records a reader holds: its progress counts the records
// (busy, no total) and ends at 100 % with every record once the reader sends no more; records
// that come after that start it again.
TEST_F(EngineTest, TagLogProgressCountsEveryRecordAndEndsWhenTheReaderStopsSending) {
    using kelta::sim::LogPacing;
    struct Case {
        const char* name;
        int records;
        LogPacing pacing;
    };
    const Case cases[] = {{"a frame per request", 50, LogPacing::PerRequest},
                          {"the whole log at once", 50, LogPacing::Stream},
                          {"an empty log", 0, LogPacing::PerRequest}};
    int com = 20;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ReaderConfig rc;
        rc.readerId = 7;
        rc.logRecords = k.records;
        rc.logPacing = k.pacing;
        rc.tags.count = 3;
        const int reader = host.addReader(rc);
        ++com;
        ASSERT_TRUE(host.openPty(reader, com));
        RunConfig c = config(RunConfig::kSerial);
        c.serialPorts[static_cast<std::size_t>(com)] = true;
        c.mode = DecodeMode::Log;
        c.logReaderId = 7;
        events.logProgress.clear();
        const auto finishedWith = [&](long long n) {
            return !events.logProgress.empty() && events.logProgress.back().finished &&
                   events.logProgress.back().done == n;
        };
        // Once the whole log is in, the reader is given it again: the count goes on.
        bool resent = false;
        ASSERT_TRUE(runUntil(
            c,
            [&] {
                if (!resent && finishedWith(k.records)) {
                    resent = true;
                    host.call(reader, [](kelta::sim::ReaderSim& r) { r.restartLog(); });
                }
                return resent && finishedWith(2LL * k.records) &&
                       (k.records == 0 || events.logProgress.size() > 2);
            },
            30000));
        EXPECT_EQ(store.acceptedRecordCount(), 2u * static_cast<unsigned>(k.records));
        const auto& seen = events.logProgress;
        ASSERT_GE(seen.size(), 2u);
        EXPECT_EQ(seen.front().done, 0);
        EXPECT_EQ(seen.front().percent(), -1); // no total known at the start
        long long last = 0;
        bool restarted = false; // busy again after the first log was all in
        bool firstLogIn = false;
        for (const kelta::Progress& p : seen) {
            EXPECT_GE(p.done, last);
            last = p.done;
            EXPECT_EQ(p.percent(), p.finished ? 100 : -1);
            if (p.finished && p.done == k.records) firstLogIn = true;
            if (firstLogIn && !p.finished) restarted = true;
            EXPECT_TRUE(p.step.contains(QLocale(QLocale::English).toString(p.done)))
                << p.step.toStdString();
        }
        EXPECT_EQ(restarted, k.records > 0);
        host.stopReader(reader);
    }
}

} // namespace
