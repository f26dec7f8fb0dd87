// Monitoring runs driven from the real window, with simulated readers on pseudo-terminals.

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "monitor/proto/monitor_frame.h"
#include "platform/files.h"
#include "reader-sim/sim_host.h"
#include "reader/link_state.h"
#include "reader/reader_link.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

using kelta::test::fileLines;

using kelta::monitor::RunController;
using kelta::monitor::TagTables;
using kelta::sim::ReaderConfig;
using kelta::sim::ReaderSim;
using kelta::sim::SimHost;
using Bytes = std::vector<std::uint8_t>;

const QString kUidA = QStringLiteral("0000000000001234");
const QString kUidNever = QStringLiteral("0000000000009999");

std::vector<Bytes> framesWithCode(ReaderSim& r, std::uint16_t code) {
    std::vector<Bytes> out;
    for (const auto& f : r.received())
        if (f.code == code) out.push_back(f.raw);
    return out;
}

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<kelta::TfrmModule>();
        // This test builds its own subsystem on the window: drop the window's own first.
        window->runController.reset();
        window->tagTables.reset();
        window->readerLink.reset();
        tables = std::make_unique<TagTables>(*window, link);
        ctl = std::make_unique<RunController>(*window, link, *tables, [this] {
            ++closeLinksCalls;
            return true;
        });
        w().edtEvenLogFile->setText(dir.filePath("events/log.csv"));
        w().edtSaveFile->setText(dir.filePath("save/Kelta.csv"));
        w().pcTagMain->setActivePage(w().tsCOM);
        QFile::remove(TagTables::selectionFilePath());
    }
    void TearDown() override {
        ctl.reset();
        tables.reset();
        window.reset();
        host.stop();
    }

    kelta::TfrmModule& w() { return *window; }

    // A simulated reader on COMn with its check box checked.
    int addReader(int com, std::uint16_t id, double rate, std::vector<kelta::sim::Uid> uids = {},
                  int tagCount = 3) {
        ReaderConfig c;
        c.readerId = id;
        c.rate = rate;
        c.seed = id;
        c.tags.count = tagCount;
        c.tags.uids = std::move(uids);
        const int i = host.addReader(c);
        EXPECT_TRUE(host.openPty(i, com));
        ctl->chkCOM(com)->setChecked(true);
        return i;
    }

    struct RunResult {
        bool stopAsked = false; // `during` asked for the stop (no time-out)
        std::uint64_t passAtStop = 0;
    };

    // Clicks `button` (the click returns at once) and waits for the run to end. Every 5 ms while
    // the run is on and Stop can be clicked, `during` is asked; when it says so (or after
    // timeoutMs) `stop` runs (by default a click on Stop).
    RunResult run(QPushButton* button, const std::function<bool()>& during, int timeoutMs = 15000,
                  std::function<void()> stop = {}) {
        RunResult result;
        bool done = false;
        QElapsedTimer clock;
        clock.start();
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (done || ctl->runState() != "Stop" || !w().btnStart->isEnabled()) return;
            const bool asked = during();
            if (!asked && clock.elapsed() < timeoutMs) return;
            done = true;
            result.stopAsked = asked;
            result.passAtStop = ctl->passCount();
            if (stop)
                stop();
            else
                w().btnStart->click();
        });
        timer.start();
        // Start returns at once; the run goes on in the event loop until it ends.
        button->click();
        EXPECT_TRUE(kelta::test::waitFor([&] { return !ctl->runActive(); }));
        return result;
    }

    void expectIdleWindow() {
        EXPECT_EQ(ctl->runState(), "Start");
        EXPECT_FALSE(ctl->runActive());
        for (QWidget* c :
             std::initializer_list<QWidget*>{w().btnStart, w().btnClear, w().btnExit01,
                                             w().btnTagLog, w().pcTagMain, w().btnFile, w().pnlFun})
            EXPECT_TRUE(c->isEnabled()) << c->objectName().toStdString();
        EXPECT_EQ(kelta::tagOf(w().btnTagLog), 0);
        EXPECT_FALSE(ctl->busyTimer().isActive());
        EXPECT_FALSE(w().gboxRSSI->isVisibleTo(window.get()));
        EXPECT_EQ(ctl->serialLinks().highestSerialPort(), 0);
        for (int n = 1; n <= 32; ++n) EXPECT_FALSE(ctl->serialLinks().isOpen(n)) << n;
    }

    QTemporaryDir dir;
    kelta::reader::LinkState link;
    SimHost host;
    std::unique_ptr<kelta::TfrmModule> window;
    std::unique_ptr<TagTables> tables;
    std::unique_ptr<RunController> ctl;
    int closeLinksCalls = 0;
};

TEST_F(RunTest, ReportsFromTwoSerialReadersReachTheGridAndTheAutoSaveFile) {
    const int r5 = addReader(5, 1, 40);
    const int r12 = addReader(12, 2, 40);
    w().chbAutoSave->setChecked(true);
    bool rssiSent = false;

    const auto res = run(w().btnStart, [&] {
        EXPECT_TRUE(ctl->serialLinks().isOpen(5));
        EXPECT_EQ(ctl->serialLinks().highestSerialPort(), 12);
        if (!rssiSent && tables->acceptedRecordCount() >= 5) {
            w().sbRSSI->setValue(77);
            w().btnRSSI->click();
            rssiSent = true;
        }
        return rssiSent && tables->acceptedRecordCount() >= 30 && w().grdUID->rowCount() - 1 >= 6;
    });
    ASSERT_TRUE(res.stopAsked);
    expectIdleWindow();
    EXPECT_EQ(link.linkMode, 1);

    // Both readers' tags in the grid, each tag once.
    QSet<QString> uids, readers;
    for (int r = 1; r < w().grdUID->rowCount(); ++r) {
        uids.insert(w().grdUID->cell(1, r));
        readers.insert(w().grdUID->cell(17, r));
    }
    EXPECT_EQ(uids.size(), w().grdUID->rowCount() - 1);
    EXPECT_EQ(readers, (QSet<QString>{"0001", "0002"}));
    EXPECT_EQ(w().pnlTagCount->text(), QString::number(w().grdUID->rowCount() - 1));
    EXPECT_TRUE(QRegularExpression("^      \\d{10} / \\d{8} sec$")
                    .match(w().sbMain->panelText(0))
                    .hasMatch())
        << w().sbMain->panelText(0).toStdString();

    // The auto-save file: header, then one line per accepted record.
    const QStringList lines = fileLines(w().edtSaveFile->text());
    ASSERT_GE(lines.size(), 31);
    EXPECT_TRUE(lines[0].contains("UID"));
    EXPECT_TRUE(lines[1].trimmed().startsWith("0000000001"));
    EXPECT_EQ(static_cast<std::uint64_t>(lines.size() - 1), tables->autoSaveLineCount());

    // What the readers were sent, byte for byte.
    const Bytes announcement{0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, 0x30,
                             0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (int r : {r5, r12}) {
        EXPECT_EQ(framesWithCode(host.reader(r), 0x6011), std::vector<Bytes>{announcement});
        EXPECT_EQ(framesWithCode(host.reader(r), 0x6030),
                  std::vector<Bytes>{kelta::monitor::rssiFilterCommand(77)});
    }
}

TEST_F(RunTest, StartKeepsThePreviousRunsFileUnderItsDateAndTime) {
    const QString file = dir.filePath("save/Kelta.csv");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("save")));
    const QByteArray before("   header of the run before\n0000000001\t,cut line without end");
    const QDateTime stamp(QDate(2024, 5, 6), QTime(7, 8, 9));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(before);
        ASSERT_TRUE(f.flush());
        ASSERT_TRUE(f.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    // A file of that name exists already and must survive too.
    const QString taken = kelta::platform::asideName(file, stamp, 1);
    {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("older\n");
    }
    addReader(3, 1, 40);
    w().chbAutoSave->setChecked(true);
    const auto res = run(w().btnStart, [&] { return tables->acceptedRecordCount() >= 3; });
    ASSERT_TRUE(res.stopAsked);
    expectIdleWindow();

    const QString kept = kelta::platform::asideName(file, stamp, 2);
    QFile k(kept);
    ASSERT_TRUE(k.open(QIODevice::ReadOnly)) << kept.toStdString();
    EXPECT_EQ(k.readAll(), before);
    EXPECT_EQ(fileLines(taken), QStringList{"older"});
    EXPECT_TRUE(w().sbMain->panelText(1).contains("Previous auto-save file kept as: " +
                                                  QDir::toNativeSeparators(kept)))
        << w().sbMain->panelText(1).toStdString();
    // This run's file starts afresh with its header and line 1.
    const QStringList lines = fileLines(file);
    ASSERT_GE(lines.size(), 4);
    EXPECT_TRUE(lines[0].contains("UID"));
    EXPECT_TRUE(lines[1].startsWith("0000000001"));
    EXPECT_EQ(static_cast<std::uint64_t>(lines.size() - 1), tables->autoSaveLineCount());
}

TEST_F(RunTest, AnAutoSaveFileBelowARegularFileIsShownAndNotSentElsewhere) {
    QFile blocker(dir.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString file = dir.filePath("blocked/sub/Kelta.csv");
    w().edtSaveFile->setText(file);
    QFile::remove(kelta::defaultSaveFileName());
    addReader(4, 1, 40);
    w().chbAutoSave->setChecked(true);
    ::testing::internal::CaptureStderr();
    const auto res = run(w().btnStart, [&] { return tables->acceptedRecordCount() >= 3; });
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(res.stopAsked);
    expectIdleWindow();

    EXPECT_EQ(w().edtSaveFile->text(), file);
    EXPECT_FALSE(QFileInfo::exists(kelta::defaultSaveFileName()));
    EXPECT_EQ(tables->autoSaveLineCount(), 0u);
    const QString lost = QString::number(tables->acceptedRecordCount()) + " records not written";
    EXPECT_TRUE(w().sbMain->panelText(1).contains("Auto-save file cannot be written: " +
                                                  QDir::toNativeSeparators(file)))
        << w().sbMain->panelText(1).toStdString();
    EXPECT_TRUE(w().sbMain->panelText(1).contains(lost)) << w().sbMain->panelText(1).toStdString();
    // One report on stderr, with the count of the run.
    const std::string report = "Auto-save file " + QDir::toNativeSeparators(file).toStdString() +
                               ": " + lost.toStdString();
    const auto at = err.find(report);
    EXPECT_NE(at, std::string::npos) << err;
    EXPECT_EQ(err.find("Auto-save file", at + 1), std::string::npos) << err;
}

// Reader 1 on COM3 holding `records` log records, nine to a frame, checked for the TAG Log
// download; -1 when its terminal cannot be opened.
int addLogReaderOnCom3(kelta::sim::SimHost& host, kelta::monitor::RunController& ctl,
                       kelta::TfrmModule& w, int records) {
    ReaderConfig c;
    c.readerId = 1;
    c.logRecords = records;
    c.logRecordsPerFrame = 9;
    c.tags.count = 4;
    const int r = host.addReader(c);
    if (!host.openPty(r, 3)) return -1;
    ctl.chkCOM(3)->setChecked(true);
    w.edtLogID->setText("0001");
    return r;
}

TEST_F(RunTest, TagLogDownloadFillsTheLogGrid) {
    const int r = addLogReaderOnCom3(host, *ctl, w(), 20);
    ASSERT_GE(r, 0);

    const auto res = run(w().btnTagLog, [&] { return w().grdUID_LOG->rowCount() - 1 >= 20; });
    ASSERT_TRUE(res.stopAsked);
    expectIdleWindow();
    EXPECT_TRUE(w().grdUID_LOG->isVisibleTo(window.get()));
    EXPECT_FALSE(w().grdUID->isVisibleTo(window.get()));

    kelta::StringGrid* g = w().grdUID_LOG;
    ASSERT_EQ(g->rowCount() - 1, 20);
    const auto& log = host.reader(r).log();
    for (int row = 1; row <= 20; ++row) {
        const auto& e = log[static_cast<std::size_t>(row - 1)];
        EXPECT_EQ(g->cell(18, row), QString::number(row));
        EXPECT_EQ(g->cell(19, row), QString::asprintf("%04d/%02d/%02d %02d:%02d:%02d", e.year,
                                                      e.month, e.day, e.hour, e.minute, e.second));
        EXPECT_FALSE(g->cell(21, row).isEmpty());
    }
    EXPECT_EQ(g->cell(21, 1), "New TAG Entry");

    // One request per pass, each exactly the same bytes.
    const Bytes request{0x05, 0x00, 0x0E, 0x88, 0x00, 0x80, 0x61, 0x00, 0x01,
                        0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto requests = framesWithCode(host.reader(r), 0x8061);
    ASSERT_GE(requests.size(), 3u);
    for (const auto& q : requests) EXPECT_EQ(q, request);
}

// A TAG Log download counts its records beside the status bar (the total is not known); Esc
// ends the run and the status bar says what it left; the next download takes the whole log
// and ends at 100 % with every record once the reader sends no more; Cancel ends that run.
TEST_F(RunTest, TagLogProgressCountsRecordsAndEscCancelsTheRun) {
    const int r = addLogReaderOnCom3(host, *ctl, w(), 90);
    ASSERT_GE(r, 0);
    const auto rows = [&] { return w().grdUID_LOG->rowCount() - 1; };

    bool busyWhileCounting = false;
    auto res = run(
        w().btnTagLog,
        [&] {
            if (tables->acceptedRecordCount() < 18) return false;
            busyWhileCounting = w().pnlProgress->isVisibleTo(window.get()) &&
                                w().pgbProgress->maximum() == 0 &&
                                w().lblProgress->text().startsWith("TAG Log: ");
            return true;
        },
        30000, [&] { QTest::keyClick(w().grdUID_LOG, Qt::Key_Escape); });
    ASSERT_TRUE(res.stopAsked);
    EXPECT_TRUE(busyWhileCounting);
    expectIdleWindow();
    EXPECT_FALSE(w().pnlProgress->isVisibleTo(window.get()));
    const int first = rows();
    EXPECT_LT(first, 90);
    EXPECT_TRUE(w().sbMain->panelText(0).endsWith(
        QStringLiteral("TAG Log cancelled after %1 records.").arg(first)))
        << w().sbMain->panelText(0).toStdString();

    // The reader is given its whole log again, once the last frame it answered with is out
    // (what the closed port still held is thrown away when the next run opens it).
    EXPECT_TRUE(kelta::test::waitFor([&] {
        bool idle = false;
        host.call(r, [&](ReaderSim& s) { idle = !s.holdsUnsent(); });
        return idle;
    }));
    host.call(r, [](ReaderSim& s) { s.restartLog(); });

    QString atEnd;
    int percentAtEnd = -1;
    res = run(
        w().btnTagLog,
        [&] {
            // (A reader that pauses may seem done early: the count then goes on.)
            if (!w().lblProgress->text().contains("the reader sent no more") || rows() < 90)
                return false;
            atEnd = w().lblProgress->text();
            percentAtEnd = w().pgbProgress->maximum() == 100 ? w().pgbProgress->value() : -1;
            return true;
        },
        30000, [&] { w().btnProgressCancel->click(); });
    ASSERT_TRUE(res.stopAsked);
    expectIdleWindow();
    ASSERT_EQ(rows(), 90);
    EXPECT_EQ(w().grdUID_LOG->cell(18, 90), "90"); // the whole log, in its order
    EXPECT_EQ(percentAtEnd, 100);
    EXPECT_EQ(atEnd, "TAG Log: 90 records, the reader sent no more");
    EXPECT_FALSE(w().pnlProgress->isVisibleTo(window.get()));
}

TEST_F(RunTest, StopClickedDuringAPollEndsTheRunWithinThatPass) {
    addReader(4, 1, 0); // silent: every poll waits out its attempts
    const auto res = run(w().btnStart, [&] { return ctl->passCount() >= 3; });
    ASSERT_TRUE(res.stopAsked);
    EXPECT_EQ(ctl->passCount(), res.passAtStop);
    expectIdleWindow();
    EXPECT_EQ(w().btnStart->text(), "Start");
}

TEST_F(RunTest, ShowingSetTagStopsTheRunAndClosesEveryLink) {
    addReader(5, 1, 30);
    addReader(6, 2, 30);
    const auto res = run(
        w().btnStart, [&] { return tables->acceptedRecordCount() >= 3; }, 15000,
        [&] { w().pcMain->setActivePage(w().tsSetTAG); });
    ASSERT_TRUE(res.stopAsked);
    expectIdleWindow();
    EXPECT_EQ(kelta::tagOf(w().pcMain), 0);
    EXPECT_GE(closeLinksCalls, 1);
    EXPECT_EQ(w().pnMsg->text(), "Select Function");
    EXPECT_EQ(w().pcSetReadMain->parentWidget(), w().pnlSetTagM);
}

TEST_F(RunTest, AbsenceAndReturnLinesAndTheSelectionFile) {
    const int r = addReader(3, 1, 20, {{0, 0, 0, 0, 0, 0, 0x12, 0x34}}, 1);
    w().lvSel->addItem(kUidNever);
    w().lvSel->addItem(kUidA);
    w().edtTagTimeout->setText("0");
    const QString logPath = w().edtEvenLogFile->text();
    auto linesOf = [&](const QString& uid) {
        QStringList out;
        for (const QString& l : fileLines(logPath))
            if (l.startsWith(uid + ",")) out << l;
        return out;
    };

    int phase = 0;
    const auto res = run(
        w().btnStart,
        [&] {
            if (phase == 0 && tables->acceptedRecordCount() >= 3) {
                host.call(r, [](ReaderSim& s) { s.setSilent(true); });
                phase = 1;
            } else if (phase == 1 && linesOf(kUidA).size() == 1) {
                host.call(r, [](ReaderSim& s) { s.setSilent(false); });
                phase = 2;
            }
            // Past the first absence of the silent tag by well over a time-out.
            return phase == 2 && linesOf(kUidA).size() == 2 && linesOf(kUidNever).size() == 1 &&
                   ctl->runStartTime().msecsTo(QDateTime::currentDateTime()) > 2500;
        },
        20000);
    ASSERT_TRUE(res.stopAsked);
    EXPECT_EQ(w().edtTagTimeout->text(), "1");

    // The tag never heard: one absence line only, however long the run.
    const QStringList never = linesOf(kUidNever);
    ASSERT_EQ(never.size(), 1);
    const QStringList f = never[0].split(',');
    ASSERT_EQ(f.size(), 8);
    EXPECT_TRUE(f[3].trimmed().contains(QRegularExpression("^\\d{4}/\\d{2}/\\d{2}$")));
    EXPECT_TRUE(f[4].trimmed().contains(QRegularExpression("^\\d{2}:\\d{2}:\\d{2}$")));
    ASSERT_TRUE(f[7].startsWith('>'));
    EXPECT_GT(f[7].mid(1).toInt(), 1000);

    // The reporting tag: gone while silent, then back.
    const QStringList a = linesOf(kUidA);
    ASSERT_EQ(a.size(), 2);
    EXPECT_TRUE(a[0].section(',', 7).startsWith('>'));
    EXPECT_FALSE(a[1].section(',', 7).startsWith('>'));
    EXPECT_GT(a[1].section(',', 7).toInt(), 1000);

    // The selection is written back at the end of the run, in list order.
    EXPECT_EQ(fileLines(TagTables::selectionFilePath()), (QStringList{kUidA, kUidNever}));
    EXPECT_FALSE(tables->eventLogFile().isOpen());
}

TEST_F(RunTest, SecondStartOpensTheLinksAfreshAndCountsFromZero) {
    const int r = addReader(6, 1, 50);
    ASSERT_TRUE(run(w().btnStart, [&] { return tables->acceptedRecordCount() >= 10; }).stopAsked);

    host.call(r, [](ReaderSim& s) { s.setSilent(true); });
    w().sbMain->setPanelText(0, QString());
    QString firstText;
    const auto res = run(w().btnStart, [&] {
        if (firstText.isEmpty()) {
            firstText = w().sbMain->panelText(0);
            if (!firstText.isEmpty()) host.call(r, [](ReaderSim& s) { s.setSilent(false); });
            return false;
        }
        return tables->acceptedRecordCount() >= 5;
    });
    ASSERT_TRUE(res.stopAsked);
    EXPECT_EQ(firstText, "      0000000000 / 00000000 sec");
    EXPECT_EQ(host.reader(r).stats().announcementsReceived, 2u);
    expectIdleWindow();
}

TEST_F(RunTest, AReaderWhoseDeviceGoesAwayAndComesBackIsReadAgain) {
    const int pulled = addReader(3, 1, 40);
    addReader(8, 2, 40);
    // Records of one reader so far: the counts of its rows in the tag grid.
    auto recordsOf = [&](const QString& id) {
        quint64 n = 0;
        for (int r = 1; r < w().grdUID->rowCount(); ++r)
            if (w().grdUID->cell(17, r) == id) n += w().grdUID->cell(18, r).toULongLong();
        return n;
    };
    int step = 0;
    quint64 pulledAtLoss = 0, otherAtLoss = 0;
    bool reopened = false;
    const auto res = run(w().btnStart, [&] {
        switch (step) {
        case 0:
            if (recordsOf("0001") < 10) return false;
            // The adapter is pulled: its device hangs up and its map entry goes.
            host.call(pulled, [](ReaderSim& r) { r.resetConnection(); });
            ++step;
            return false;
        case 1:
            if (ctl->serialLinks().isOpen(3)) return false;
            EXPECT_FALSE(QFile::exists(kelta::test::serialMapDir() + "/COM3"));
            pulledAtLoss = recordsOf("0001");
            otherAtLoss = recordsOf("0002");
            ++step;
            return false;
        case 2:
            // Away while the other port goes on.
            if (recordsOf("0002") < otherAtLoss + 20) return false;
            // Plugged in again: a new device under the same map entry.
            host.call(pulled, [&](ReaderSim& r) { reopened = r.reopenPty(); });
            EXPECT_TRUE(reopened);
            ++step;
            return false;
        default:
            return recordsOf("0001") > pulledAtLoss + 10;
        }
    });
    ASSERT_TRUE(res.stopAsked) << step;
    expectIdleWindow();
    EXPECT_EQ(ctl->serialLinks().lostCount(3), 1);
    EXPECT_EQ(ctl->serialLinks().reopenCount(3), 1);
    EXPECT_EQ(ctl->serialLinks().lostCount(8), 0);
}

TEST_F(RunTest, ClosingTheWindowDuringARunEndsTheRunFirst) {
    // The first showing restores the stored settings and presets the pages: show first.
    QFile::remove(kelta::test::settingsFilePath());
    // Nor a selection left by an earlier test.
    QFile::remove(TagTables::selectionFilePath());
    w().show();
    QCoreApplication::processEvents();
    w().pcTagMain->setActivePage(w().tsCOM);
    addReader(7, 1, 30);
    w().lvSel->clear(); // what the window restored from an earlier test's selection file
    w().lvSel->addItem(kUidA);
    w().chbAutoSave->setChecked(true);
    bool closed = false;
    const auto res = run(
        w().btnStart, [&] { return tables->acceptedRecordCount() >= 3; }, 15000,
        [&] { closed = w().close(); });
    ASSERT_TRUE(res.stopAsked);
    // The close ends the run with its end steps first, and goes through at once.
    EXPECT_TRUE(closed);
    expectIdleWindow();
    for (int p = 1; p <= 32; ++p) EXPECT_FALSE(ctl->serialLinks().isOpen(p)) << p;
    EXPECT_FALSE(tables->autoSaveFile().isOpen());
    EXPECT_EQ(fileLines(TagTables::selectionFilePath()), QStringList{kUidA});
    EXPECT_FALSE(w().isVisible());
}

} // namespace
