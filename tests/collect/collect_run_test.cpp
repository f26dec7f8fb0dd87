// The collector program on pseudo-terminals the test writes report frames into, with a broker
// of the test's own: the files it writes (the same as the window's), what reaches a
// subscriber, a broker that goes away or is never there, and the end by a signal.

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "collect/collect_process.h"
#include "publish/broker_fixture.h"
#include "support/report_frames.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <termios.h>

namespace {

using kelta::test::CollectProcess;
using kelta::test::fileLines;
using kelta::test::MappedPty;
using kelta::test::TestBroker;
using kelta::test::TestSubscriber;
using kelta::test::undated;
using kelta::test::writeSettings;

#define REQUIRE_BROKER()                                                                           \
    if (!kelta::test::brokerAvailable())                                                           \
    GTEST_SKIP() << kelta::test::kBrokerBinary << " is not installed (Debian package mosquitto)"

// An event-log line with its times masked: UID, RSSI, LQI, and whether it is an absence.
QString eventShape(const QString& line) {
    const QStringList f = line.split(QLatin1Char(','));
    if (f.size() != 8) return QStringLiteral("bad: ") + line;
    return f[0] + QLatin1Char(',') + f[1] + QLatin1Char(',') + f[2] +
           (f[7].startsWith(QLatin1Char('>')) ? QStringLiteral(",absent")
                                              : QStringLiteral(",back"));
}

QStringList eventShapes(const QString& path) {
    QStringList out;
    for (const QString& l : fileLines(path)) out << eventShape(l);
    return out;
}

void writeSelection(const QStringList& uids) {
    const QString path = kelta::monitor::TagStore::selectionFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (const QString& u : uids) f.write((u + QLatin1Char('\n')).toUtf8());
}

class CollectRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        writeSettings({});
        QFile::remove(kelta::monitor::TagStore::selectionFilePath());
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

// The window and the collector, fed the same reports and the same silences, write the same
// auto-save lines and the same event-log lines (apart from their times).
TEST_F(CollectRun, WindowAndCollectorWriteTheSameFiles) {
    const QString seen = QStringLiteral("0000000000001000");
    const QString never = QStringLiteral("0000000000009999");
    writeSelection({seen, never});
    const auto frames = kelta::test::liveReports(30, 4);
    const auto stream = kelta::test::joined(frames);
    const auto again = kelta::test::liveReports(1, 1);

    // Reports, a silence past the one-second time-out, the first tag once more.
    auto feed = [&](kelta::test::PtyPair& pty, const std::function<std::uint64_t()>& lines,
                    const QString& eventLog, int& phase) {
        if (phase == 0) {
            pty.send(stream);
            phase = 1;
        } else if (phase == 1 && lines() >= frames.size() &&
                   eventShapes(eventLog).contains(seen + QStringLiteral(",58,62,absent"))) {
            pty.send(again.front());
            phase = 2;
        }
        return phase == 2 && lines() >= frames.size() + 1;
    };

    // The window.
    {
        auto window = std::make_unique<kelta::TfrmModule>();
        kelta::monitor::RunController& ctl = *window->runController;
        kelta::monitor::TagTables& tables = *window->tagTables;
        ASSERT_EQ(window->lvSel->count(), 2);
        window->edtSaveFile->setText(path("window/Kelta.csv"));
        window->edtEvenLogFile->setText(path("window/events.csv"));
        window->edtTagTimeout->setText(QStringLiteral("1"));
        window->chbAutoSave->setChecked(true);
        window->pcTagMain->setActivePage(window->tsCOM);
        MappedPty com(6);
        ctl.chkCOM(6)->setChecked(true);
        int phase = 0, ticks = 0;
        bool stopped = false;
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (stopped || ctl.passCount() == 0) return;
            if (feed(
                    com.pty(), [&] { return tables.store().autoSaveLineCount(); },
                    path("window/events.csv"), phase) ||
                ++ticks > 4000) {
                stopped = true;
                window->btnStart->click();
            }
        });
        timer.start();
        window->btnStart->click();
        ASSERT_TRUE(kelta::test::waitFor([&] { return stopped; }));
        ASSERT_EQ(phase, 2);
    }

    // The collector on the same settings file and selection.
    MappedPty com(7);
    CollectProcess collector;
    ASSERT_TRUE(collector.start({"--serial", "COM7", "--auto-save", path("collect/Kelta.csv"),
                                 "--event-log", path("collect/events.csv"), "--tag-timeout", "1"}));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")))
        << collector.errorText().toStdString();
    int phase = 0;
    ASSERT_TRUE(collector.waitFor(
        [&] {
            return feed(
                com.pty(),
                [&] {
                    return static_cast<std::uint64_t>(
                        std::max<qsizetype>(fileLines(path("collect/Kelta.csv")).size() - 1, 0));
                },
                path("collect/events.csv"), phase);
        },
        20000))
        << collector.errorText().toStdString();
    ASSERT_TRUE(collector.stop());
    EXPECT_EQ(collector.exitCode(), 0) << collector.errorText().toStdString();

    const QStringList a = fileLines(path("window/Kelta.csv"));
    const QStringList b = fileLines(path("collect/Kelta.csv"));
    ASSERT_EQ(a.size(), static_cast<int>(frames.size()) + 2);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a.first(), b.first());
    for (int i = 1; i < a.size(); ++i) EXPECT_EQ(undated(a[i]), undated(b[i])) << i;
    const QStringList ea = eventShapes(path("window/events.csv"));
    EXPECT_EQ(ea, eventShapes(path("collect/events.csv")));
    // The never-heard tag absent, the other absent and back.
    EXPECT_EQ(ea.size(), 3) << ea.join('|').toStdString();
    EXPECT_TRUE(ea.contains(never + QStringLiteral(",0,0,absent")));
    EXPECT_EQ(ea.count(seen + QStringLiteral(",58,62,absent")), 1);
    EXPECT_TRUE(collector.outputText().contains(QStringLiteral("reader 0007: 31 records")))
        << collector.outputText().toStdString();
}

// SIGTERM in the middle of a stream: exit 0, the auto-save file ends with a whole line, the
// port has its settings of before the run back.
TEST_F(CollectRun, SigtermEndsCleanlyAndRestoresThePort) {
    MappedPty com(8);
    termios before{};
    ASSERT_EQ(::tcgetattr(com.pty().slave(), &before), 0);
    CollectProcess collector;
    ASSERT_TRUE(collector.start({"--serial", "COM8", "--auto-save", path("sig.csv")}));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")));
    // The collector configured the line for the run.
    termios during{};
    ASSERT_EQ(::tcgetattr(com.pty().slave(), &during), 0);
    EXPECT_NE(cfgetispeed(&during), cfgetispeed(&before));

    const auto frames = kelta::test::liveReports(400, 9);
    std::size_t sent = 0;
    ASSERT_TRUE(collector.waitFor([&] {
        if (sent < frames.size()) com.pty().send(frames[sent++]);
        return fileLines(path("sig.csv")).size() > 50;
    }));
    ASSERT_TRUE(collector.stop(SIGTERM));
    EXPECT_EQ(collector.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(collector.exitCode(), 0) << collector.errorText().toStdString();

    const QByteArray bytes = kelta::test::fileBytes(path("sig.csv"));
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(bytes.endsWith('\n'));
    const QStringList lines = fileLines(path("sig.csv"));
    for (int i = 1; i < lines.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'))))
            << lines[i].toStdString();
    EXPECT_TRUE(collector.outputText().contains(QStringLiteral("(%1 lines)").arg(lines.size() - 1)))
        << collector.outputText().toStdString();

    termios after{};
    ASSERT_EQ(::tcgetattr(com.pty().slave(), &after), 0);
    EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before));
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
}

// What arrives at a subscriber: one message per record, with the record's fields, through a
// broker that stops for a few seconds in the middle of the run.
TEST_F(CollectRun, EveryRecordReachesTheSubscriberAcrossABrokerRestart) {
    REQUIRE_BROKER();
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "kelta/#");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sub.subscribed(); }, 10000));

    MappedPty com(9);
    CollectProcess collector;
    ASSERT_TRUE(collector.start({"--serial", "COM9", "--auto-save", path("mq.csv"), "--mqtt",
                                 QStringLiteral("127.0.0.1:%1").arg(broker.port()), "--mqtt-site",
                                 "north", "--mqtt-client-id", "kelta-test-collect"}));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("connected")))
        << collector.errorText().toStdString();

    const auto frames = kelta::test::liveReports(60, 5);
    auto sendRange = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) com.pty().send(frames[i]);
    };
    auto saved = [&] { return fileLines(path("mq.csv")).size() - 1; };
    sendRange(0, 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sub.count() >= 20; }, 10000)) << sub.count();

    // The broker away: monitoring goes on, the messages wait.
    broker.stop();
    sendRange(20, 60);
    ASSERT_TRUE(collector.waitFor([&] { return saved() == 60; }));
    // Started again only once the collector knows it is gone: what it sent meanwhile waited.
    ASSERT_TRUE(collector.waitForError(QStringLiteral(" lost (")))
        << collector.errorText().toStdString();
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::map<QString, int> n;
            for (const auto& m : sub.messages())
                ++n[QJsonDocument::fromJson(m.payload)
                        .object()
                        .value("fields")
                        .toObject()
                        .value("ISN_L")
                        .toString()];
            return n.size() == 60;
        },
        30000))
        << sub.count() << " " << collector.errorText().toStdString();
    ASSERT_TRUE(collector.stop());
    EXPECT_EQ(collector.exitCode(), 0);
    EXPECT_EQ(collector.count(QStringLiteral("MQTT broker 127.0.0.1:%1 lost").arg(broker.port())),
              1)
        << collector.errorText().toStdString();

    // Each auto-save line has its message with the same cells (duplicates only from the
    // restart, where QoS 1 may send again what was not confirmed).
    std::map<QString, QJsonObject> byIsn;
    for (const auto& m : sub.messages()) {
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        const QJsonObject f = o.value("fields").toObject();
        const QString key = f.value("ISN_H").toString() + f.value("ISN_L").toString();
        EXPECT_EQ(m.topic, QStringLiteral("kelta/north/reader/0007/tag/%1")
                               .arg(o.value("uid").toString())
                               .toStdString());
        byIsn[key] = o;
    }
    const QStringList lines = fileLines(path("mq.csv"));
    ASSERT_EQ(lines.size(), 61);
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(',');
        auto cell = [&](int c) { return cells[c].trimmed(); };
        const auto it = byIsn.find(cell(11) + cell(12));
        ASSERT_NE(it, byIsn.end()) << i;
        const QJsonObject& o = it->second;
        const QJsonObject f = o.value("fields").toObject();
        EXPECT_EQ(o.value("uid").toString(), cell(1));
        EXPECT_EQ(f.value("RSSI").toString(), cell(2));
        EXPECT_EQ(f.value("LQI").toString(), cell(3));
        EXPECT_EQ(f.value("Battery").toString(), cell(10));
        EXPECT_EQ(f.value("D_1H").toString(), cell(13));
        EXPECT_EQ(o.value("readerId").toString(), QStringLiteral("0007"));
        EXPECT_EQ(o.value("link").toObject().value("kind").toString(), QStringLiteral("serial"));
        EXPECT_EQ(o.value("link").toObject().value("port").toString(), QStringLiteral("COM9"));
        EXPECT_TRUE(o.value("received").toString().contains('T'));
    }
}

// A broker that is never there: one message saying so, and the run records everything.
TEST_F(CollectRun, UnreachableBrokerGivesOneMessageAndTheRunGoesOn) {
    MappedPty com(10);
    CollectProcess collector;
    const quint16 nobody = kelta::test::freeLoopbackPort();
    ASSERT_TRUE(collector.start({"--serial", "COM10", "--auto-save", path("un.csv"), "--mqtt",
                                 QStringLiteral("127.0.0.1:%1").arg(nobody)}));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")));
    const auto frames = kelta::test::liveReports(30, 3);
    com.pty().send(kelta::test::joined(frames));
    ASSERT_TRUE(collector.waitFor([&] { return fileLines(path("un.csv")).size() == 31; }));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("cannot be reached"), 20000))
        << collector.errorText().toStdString();
    // Records after the message are saved too.
    com.pty().send(kelta::test::joined(kelta::test::liveReports(5, 1)));
    ASSERT_TRUE(collector.waitFor([&] { return fileLines(path("un.csv")).size() == 36; }));
    ASSERT_TRUE(collector.stop());
    EXPECT_EQ(collector.exitCode(), 0);
    EXPECT_EQ(collector.count(QStringLiteral("cannot be reached")), 1);
    EXPECT_TRUE(collector.outputText().contains(QStringLiteral("35 messages, 0 confirmed")))
        << collector.outputText().toStdString();
}

// The window publishes its runs when the settings file configures a broker.
TEST_F(CollectRun, WindowPublishesEveryRecord) {
    REQUIRE_BROKER();
    TestBroker broker;
    ASSERT_TRUE(broker.start());
    TestSubscriber sub(broker.port(), "kelta/#");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sub.subscribed(); }, 10000));
    writeSettings({{"MQTTENABLED", 1},
                   {"MQTTHOST", "127.0.0.1"},
                   {"MQTTPORT", broker.port()},
                   {"MQTTSITE", "desk"}});
    const auto frames = kelta::test::liveReports(25, 5);

    auto window = std::make_unique<kelta::TfrmModule>();
    kelta::monitor::RunController& ctl = *window->runController;
    window->pcTagMain->setActivePage(window->tsCOM);
    MappedPty com(11);
    ctl.chkCOM(11)->setChecked(true);
    bool sent = false, stopped = false;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (stopped || ctl.passCount() == 0) return;
        if (!sent) sent = com.pty().send(kelta::test::joined(frames));
        if (sub.count() >= frames.size() || ++ticks > 3000) {
            stopped = true;
            window->btnStart->click();
        }
    });
    timer.start();
    window->btnStart->click();
    ASSERT_TRUE(kelta::test::waitFor([&] { return stopped; }));
    ASSERT_EQ(sub.count(), frames.size());
    std::map<std::string, int> perTopic;
    for (const auto& m : sub.messages()) {
        ++perTopic[m.topic];
        const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
        EXPECT_EQ(o.value("link").toObject().value("port").toString(), QStringLiteral("COM11"));
    }
    ASSERT_EQ(perTopic.size(), 5u);
    for (const auto& [topic, n] : perTopic) {
        EXPECT_EQ(n, 5) << topic;
        EXPECT_EQ(topic.rfind("kelta/desk/reader/0007/tag/", 0), 0u) << topic;
    }
}

} // namespace

namespace {

QJsonObject jsonOf(const kelta::test::Received& m) {
    return QJsonDocument::fromJson(m.payload).object();
}

// The status messages on `topic`, oldest first.
std::vector<kelta::test::Received> statusOn(const TestSubscriber& sub, const std::string& topic) {
    std::vector<kelta::test::Received> out;
    for (const auto& m : sub.statusMessages())
        if (m.topic == topic) out.push_back(m);
    return out;
}

} // namespace

// The site's status and each reader's, retained: a subscriber that comes late still learns
// them. A clean stop says "offline" itself (and lets its readers go); a killed collector leaves
// it to the broker's last will.
TEST_F(CollectRun, RetainedStatusOfTheSiteAndItsReadersAndTheLastWill) {
    REQUIRE_BROKER();
    struct Case {
        const char* name;
        int signal;
        bool clean;
    };
    for (const Case& c : {Case{"clean stop", SIGTERM, true}, Case{"killed", SIGKILL, false}}) {
        SCOPED_TRACE(c.name);
        TestBroker broker;
        ASSERT_TRUE(broker.start());
        TestSubscriber early(broker.port(), "kelta/#");
        ASSERT_TRUE(QTest::qWaitFor([&] { return early.subscribed(); }, 10000));

        MappedPty com(12);
        CollectProcess collector;
        const QString clientId = QStringLiteral("kelta-test-status-%1").arg(c.signal);
        ASSERT_TRUE(collector.start({"--serial", "COM12", "--mqtt",
                                     QStringLiteral("127.0.0.1:%1").arg(broker.port()),
                                     "--mqtt-site", "north", "--mqtt-client-id", clientId}));
        ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")));
        ASSERT_TRUE(collector.waitForError(QStringLiteral("connected")))
            << collector.errorText().toStdString();
        QElapsedTimer flowing;
        flowing.start();
        const auto frames = kelta::test::liveReports(40, 4);
        com.pty().send(kelta::test::joined(frames));
        ASSERT_TRUE(QTest::qWaitFor([&] { return early.count() >= 40; }, 20000))
            << early.count() << " " << early.all().size() << "\n"
            << collector.errorText().toStdString();
        const qint64 flowMs = flowing.elapsed();

        // A subscriber after all that gets the retained state of the site and the reader.
        TestSubscriber late(broker.port(), "kelta/#");
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !statusOn(late, "kelta/north/status").empty() &&
                       !statusOn(late, "kelta/north/reader/0007/status").empty();
            },
            10000));
        const auto site = statusOn(late, "kelta/north/status").back();
        EXPECT_TRUE(site.retained);
        const QJsonObject online = jsonOf(site);
        EXPECT_EQ(online.value("state").toString(), "online");
        EXPECT_EQ(online.value("program").toString(), "kelta-collect");
        EXPECT_EQ(online.value("clientId").toString(), clientId);
        EXPECT_FALSE(online.value("version").toString().isEmpty());
        const auto reader = statusOn(late, "kelta/north/reader/0007/status").back();
        EXPECT_TRUE(reader.retained);
        const QJsonObject r = jsonOf(reader);
        EXPECT_EQ(r.value("state").toString(), "connected");
        EXPECT_EQ(r.value("link").toObject().value("port").toString(), "COM12");
        EXPECT_GE(r.value("records").toInt(), 1);
        // While the records flow, at most one reader message per 10 s after the first.
        const auto flowed = statusOn(early, "kelta/north/reader/0007/status");
        EXPECT_GE(flowed.size(), 1u);
        EXPECT_LE(flowed.size(), 1u + static_cast<std::size_t>(flowMs / 10000)) << flowMs;

        QElapsedTimer ending;
        ending.start();
        ASSERT_TRUE(collector.stop(c.signal));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto s = statusOn(early, "kelta/north/status");
                return !s.empty() && jsonOf(s.back()).value("state").toString() == "offline";
            },
            10000))
            << c.name;
        std::printf("[ figure ] %s: offline at the subscriber %lld ms after the signal\n", c.name,
                    static_cast<long long>(ending.elapsed()));
        const QJsonObject offline = jsonOf(statusOn(early, "kelta/north/status").back());
        EXPECT_EQ(offline.value("clientId").toString(), clientId);
        // The last will was written before the connection: it cannot know since when.
        EXPECT_EQ(offline.contains("since"), c.clean);
        if (c.clean) {
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    const auto s = statusOn(early, "kelta/north/reader/0007/status");
                    return !s.empty() && jsonOf(s.back()).value("state").toString() == "lost";
                },
                10000));
            EXPECT_EQ(jsonOf(statusOn(early, "kelta/north/reader/0007/status").back())
                          .value("records")
                          .toInt(),
                      40);
        }
    }
}
