// The tag store's files under a rotation rule: by size with a small limit under a stream of
// records (no record lost or written twice across many files, each file with its header and
// its own line numbers, the keep count honoured and each deletion said), and across a local
// midnight of an injected clock for the auto-save file and the event log.
#include "monitor/tag_store.h"
#include "platform/files.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kelta::monitor::DecodedTagRecord;
using kelta::monitor::DecodeMode;
using kelta::monitor::TagStore;
using kelta::platform::FileRotation;
using kelta::test::fileLines;

DecodedTagRecord record(int n, int tag) {
    DecodedTagRecord r;
    r.readerId = "0007";
    r.uid =
        QStringLiteral("%1").arg(0x1000 + tag, 16, 16, QLatin1Char('0')).toUpper().toStdString();
    r.rssi = std::to_string(30 + n % 50);
    r.lqi = "55";
    r.tagVer = "10";
    r.packet = "00100001";
    r.model = "21";
    r.keyNo = "00";
    r.group = "01";
    r.sState = "10000001";
    r.battery = "33";
    r.isnH = "7F";
    r.isnL = "01";
    r.d1h =
        QStringLiteral("R%1").arg(n, 6, 10, QLatin1Char('0')).toStdString(); // the record's mark
    r.link = "1";
    return r;
}

// The auto-save file's header as a line of the file (without its line end).
QString headerLine() {
    QString h = kelta::monitor::autoSaveHeaderLine(true);
    while (h.endsWith(QLatin1Char('\n')) || h.endsWith(QLatin1Char('\r'))) h.chop(1);
    return h;
}

// The record mark of an auto-save line, or -1.
int markOf(const QString& line) {
    static const QRegularExpression mark(QStringLiteral("\\bR(\\d{6})\\b"));
    const auto m = mark.match(line);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

class StoreFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        store.setCurrentTable(&store.liveTable());
        store.setAutoSave(true);
        store.setAutoSavePath(dir.filePath("save/Kelta.csv"));
        store.setEventLogPath(dir.filePath("save/log.csv"));
        store.setClock([this] { return now; });
    }
    void startRun() {
        store.prepareAutoSaveFile();
        store.resetCounters();
    }
    QTemporaryDir dir;
    TagStore store;
    QDateTime now{QDate(2026, 12, 8), QTime(9, 0, 0)};
};

TEST_F(StoreFiles, BySizeEveryRecordIsInExactlyOneFileWithItsHeaderAndNumbers) {
    FileRotation rule;
    rule.kind = FileRotation::Kind::Size;
    rule.maxBytes = 2048;
    rule.keep = 1000;
    store.setRotation(rule);
    testing::internal::CaptureStderr();
    startRun();

    const int records = 300;
    for (int n = 0; n < records; ++n) {
        store.PostTagRecord(record(n, n % 7), DecodeMode::Live);
        now = now.addMSecs(37);
    }
    store.closeFiles();
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());

    const QString path = dir.filePath("save/Kelta.csv");
    const QStringList kept = kelta::platform::asideFiles(path);
    EXPECT_GE(kept.size(), 10);
    EXPECT_EQ(static_cast<std::uint64_t>(kept.size()), store.rotationCount());
    EXPECT_EQ(store.autoSaveLineCount(), static_cast<std::uint64_t>(records));
    EXPECT_EQ(said.count(QStringLiteral(" rotated: kept as ")), kept.size()) << said.toStdString();
    EXPECT_FALSE(said.contains(QStringLiteral("deleted")));

    // Every file: the header, then lines 1, 2, ...; whole lines only; within the size. Across
    // the files, oldest first, every record once and in order.
    const QString header = headerLine();
    QList<int> marks;
    for (const QString& f : kept + QStringList{path}) {
        const QStringList l = fileLines(f);
        ASSERT_GE(l.size(), 2) << f.toStdString();
        EXPECT_EQ(l.first(), header) << f.toStdString();
        EXPECT_LE(QFileInfo(f).size(), 2048) << f.toStdString();
        for (int i = 1; i < l.size(); ++i) {
            EXPECT_TRUE(l[i].startsWith(QStringLiteral("%1\t,").arg(i, 10, 10, QLatin1Char('0'))))
                << f.toStdString() << ": " << l[i].toStdString();
            EXPECT_EQ(l[i].count(QLatin1Char(',')), 20) << l[i].toStdString();
            marks << markOf(l[i]);
        }
    }
    ASSERT_EQ(marks.size(), records);
    for (int i = 0; i < records; ++i) ASSERT_EQ(marks[i], i);
}

TEST_F(StoreFiles, TheKeepCountCountsTheFilesOfEarlierRunsAndEachDeletionIsSaid) {
    // The file of an earlier run and an old rotated file.
    QDir().mkpath(dir.filePath("save"));
    for (const char* name : {"save/Kelta.csv", "save/Kelta_20200101_000000.csv",
                             "save/Kelta_20200101_000000.txt", "save/log_20200101_000000.csv"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier\n");
    }
    FileRotation rule;
    rule.kind = FileRotation::Kind::Size;
    rule.maxBytes = 2048;
    rule.keep = 3;
    store.setRotation(rule);
    now = QDateTime::currentDateTime().addSecs(5); // after the earlier run's last change
    testing::internal::CaptureStderr();
    startRun();
    for (int n = 0; n < 150; ++n) {
        store.PostTagRecord(record(n, n % 3), DecodeMode::Live);
        now = now.addSecs(1);
    }
    store.closeFiles();
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());

    const QString path = dir.filePath("save/Kelta.csv");
    const QStringList kept = kelta::platform::asideFiles(path);
    EXPECT_EQ(kept.size(), 3) << kept.join("\n").toStdString();
    const int rotated = static_cast<int>(store.rotationCount());
    EXPECT_GE(rotated, 5);
    // Two files from before (the earlier run's, moved aside at the start, and the old one) and
    // one per rotation, of which three are left.
    EXPECT_EQ(said.count(QStringLiteral(" deleted (keeping 3)")), rotated + 2 - 3)
        << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("Kelta_20200101_000000.csv deleted")));
    EXPECT_FALSE(QFile::exists(dir.filePath("save/Kelta_20200101_000000.csv")));
    EXPECT_TRUE(QFile::exists(dir.filePath("save/Kelta_20200101_000000.txt")));
    EXPECT_TRUE(QFile::exists(dir.filePath("save/log_20200101_000000.csv")))
        << "the event log has its own old files, within its own count";
    // The files left hold the last records, in order, up to the last one.
    QList<int> marks;
    for (const QString& f : kept + QStringList{path})
        for (const QString& l : fileLines(f).mid(1)) marks << markOf(l);
    ASSERT_FALSE(marks.isEmpty());
    for (int i = 1; i < marks.size(); ++i) ASSERT_EQ(marks[i], marks[i - 1] + 1) << i;
    EXPECT_EQ(marks.last(), 149);
}

TEST_F(StoreFiles, ByDayTheFilesBeginAfreshAtLocalMidnight) {
    FileRotation rule;
    rule.kind = FileRotation::Kind::Daily;
    store.setRotation(rule);
    store.setSelection({QStringLiteral("0000000000001000")});
    store.setTagTimeout(5);
    store.restart();
    now = QDateTime(QDate(2026, 12, 8), QTime(23, 59, 40));
    testing::internal::CaptureStderr();
    startRun();

    int n = 0;
    auto post = [&](int tag) { store.PostTagRecord(record(n++, tag), DecodeMode::Live); };
    // Before midnight: the selected tag, then it falls silent and is reported absent.
    for (int i = 0; i < 5; ++i) {
        post(0);
        post(1);
        now = now.addSecs(1);
    }
    now = QDateTime(QDate(2026, 12, 8), QTime(23, 59, 55));
    store.absenceSweep();
    now = QDateTime(QDate(2026, 12, 8), QTime(23, 59, 59));
    post(1);
    // After midnight: records, and the selected tag back.
    now = QDateTime(QDate(2026, 12, 9), QTime(0, 0, 2));
    post(1);
    post(0);
    post(1);
    store.closeFiles();
    const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());

    const QString save = dir.filePath("save/Kelta.csv");
    const QString log = dir.filePath("save/log.csv");
    ASSERT_EQ(kelta::platform::asideFiles(save),
              QStringList{dir.filePath("save/Kelta_20261208_235959.csv")});
    ASSERT_EQ(kelta::platform::asideFiles(log),
              QStringList{dir.filePath("save/log_20261208_235955.csv")});
    const QStringList before = fileLines(dir.filePath("save/Kelta_20261208_235959.csv"));
    const QStringList after = fileLines(save);
    ASSERT_EQ(before.size(), 1 + 11);
    ASSERT_EQ(after.size(), 1 + 3);
    EXPECT_EQ(after.first(), headerLine());
    EXPECT_TRUE(after[1].startsWith("0000000001\t,")) << after[1].toStdString();
    EXPECT_TRUE(after[1].contains("2026/12/09")) << after[1].toStdString();
    EXPECT_TRUE(before.last().startsWith("0000000011\t,"));
    EXPECT_TRUE(before.last().contains("2026/12/08"));
    EXPECT_EQ(markOf(before.last()) + 1, markOf(after[1]));

    const QStringList absent = fileLines(dir.filePath("save/log_20261208_235955.csv"));
    const QStringList back = fileLines(log);
    ASSERT_EQ(absent.size(), 1);
    EXPECT_TRUE(absent.first().contains(">")) << absent.first().toStdString();
    ASSERT_EQ(back.size(), 1);
    EXPECT_TRUE(back.first().contains("2026/12/09")) << back.first().toStdString();
    EXPECT_EQ(said.count(QStringLiteral(" rotated: kept as ")), 2) << said.toStdString();
}

} // namespace
