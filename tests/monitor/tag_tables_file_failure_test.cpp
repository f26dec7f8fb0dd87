// The auto-save file, the event log and the selection file when the disk is full, the target
// cannot be written or the folder cannot be made: whole lines only, numbers that count the
// lines in the file, a notice in the status bar, one line on stderr per run, and writing again
// once the file can be written.
#include "platform/files.h"
#include "support/scratch_mount.h"
#include "tag_tables_fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace tagtest;
using kelta::test::ScratchMount;

namespace {

// The data lines of an auto-save file of the live grid, after checking that it is the header
// once and then whole lines of 21 fields; their numbers in file order.
std::vector<int> lineNumbers(const QByteArray& content) {
    std::vector<int> numbers;
    if (content.isEmpty()) return numbers;
    EXPECT_TRUE(content.endsWith('\n')) << "the last line is cut";
    const QList<QByteArray> lines = content.chopped(1).split('\n');
    EXPECT_EQ(lines.first(), kelta::monitor::autoSaveHeaderLine(true).toUtf8().chopped(1));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& l = lines[i];
        EXPECT_EQ(l.count(','), 20) << "line " << i << ": " << l.toStdString();
        bool ok = false;
        numbers.push_back(l.left(10).toInt(&ok));
        EXPECT_TRUE(ok) << l.toStdString();
    }
    return numbers;
}

void expectCounting(const std::vector<int>& numbers, int from, int to) {
    std::vector<int> expected;
    for (int n = from; n <= to; ++n) expected.push_back(n);
    EXPECT_EQ(numbers, expected);
}

QString uidOf(int i) {
    return QStringLiteral("00000000000000%1").arg(i % 5 + 10, 2, 16, QLatin1Char('0')).toUpper();
}

class FileFailureTest : public TagTablesTest {
protected:
    void SetUp() override {
        TagTablesTest::SetUp();
        // The window restores the selection file of earlier tests: start without a selection.
        w().lvSel->clear();
        QFile::remove(kelta::monitor::TagTables::selectionFilePath());
    }
    QString panel() { return w().sbMain->panelText(1); }
    int posted = 0;
    void postOne() { post(Rec(uidOf(posted++).toStdString())); }
    std::string closeAndCaptureStderr() {
        ::testing::internal::CaptureStderr();
        tables->closeFiles();
        tables->closeFiles(); // the exit handlers close again: no second report
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(FileFailureTest, AFullDiskKeepsWholeNumberedLinesTellsTheUserAndResumes) {
    ScratchMount fs(path("full"), "size=16k");
    if (!fs.mounted()) GTEST_SKIP() << "no right to mount a tmpfs: " << fs.error();
    const QString file = path("full/Kelta.csv");
    w().chbAutoSave->setChecked(true);
    w().edtSaveFile->setText(file);
    tables->resetCounters();
    EXPECT_EQ(panel(), "");

    for (int i = 0; i < 200; ++i) postOne();
    const int k = static_cast<int>(tables->autoSaveLineCount());
    ASSERT_GT(k, 0);
    ASSERT_LT(k, 200);
    expectCounting(lineNumbers(ReadAll(file)), 1, k);
    EXPECT_EQ(tables->acceptedRecordCount(), 200u) << "the run goes on";
    EXPECT_TRUE(panel().contains("Auto-save file cannot be written")) << panel().toStdString();
    EXPECT_TRUE(panel().contains(QDir::toNativeSeparators(file)));
    EXPECT_TRUE(panel().contains(QString::number(200 - k) + " records not written"))
        << panel().toStdString();
    EXPECT_EQ(w().edtSaveFile->text(), file) << "no other file is chosen";

    // Space comes back; within the retry interval the file is written again, numbered on.
    ASSERT_TRUE(fs.remount("size=1m"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            postOne();
            return tables->autoSaveLineCount() > static_cast<std::uint64_t>(k);
        },
        5000));
    for (int i = 0; i < 5; ++i) postOne();
    const int total = static_cast<int>(tables->autoSaveLineCount());
    EXPECT_EQ(total, k + 6);
    expectCounting(lineNumbers(ReadAll(file)), 1, total);
    const int lost = posted - total;
    EXPECT_TRUE(panel().contains("Auto-save file written again")) << panel().toStdString();
    EXPECT_TRUE(panel().contains(QString::number(lost) + " records not written"))
        << panel().toStdString();

    const std::string err = closeAndCaptureStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(QDir::toNativeSeparators(file).toStdString()), std::string::npos) << err;
    EXPECT_NE(err.find(std::to_string(lost) + " records not written"), std::string::npos) << err;
}

TEST_F(FileFailureTest, ADeviceThatTakesNothingCountsNoLineAndTheHeaderComesWithLineOne) {
    const QString file = path("save/Kelta.csv");
    ASSERT_TRUE(QDir().mkpath(path("save")));
    ASSERT_TRUE(QFile::link("/dev/full", file));
    w().chbAutoSave->setChecked(true);
    for (int i = 0; i < 3; ++i) postOne();
    EXPECT_EQ(tables->autoSaveLineCount(), 0u);
    EXPECT_TRUE(panel().contains("3 records not written")) << panel().toStdString();

    // The device goes away: the name becomes a new regular file on the next attempt.
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            postOne();
            return tables->autoSaveLineCount() == 1;
        },
        5000));
    expectCounting(lineNumbers(ReadAll(file)), 1, 1);
    EXPECT_TRUE(panel().contains("Auto-save file written again"));

    // The next run starts with a clean notice.
    tables->closeFiles();
    tables->resetCounters();
    EXPECT_EQ(panel(), "");
}

TEST_F(FileFailureTest, UnusableAutoSaveTargetsAreShownAndNeverReplaced) {
    QFile blocker(path("regular"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ASSERT_TRUE(QDir().mkpath(path("folder")));
    std::unique_ptr<ScratchMount> ro = std::make_unique<ScratchMount>(path("ro"), "size=64k", true);
    struct Case {
        const char* what;
        QString file;
        bool needsMount;
    } cases[] = {
        {"below a regular file", path("regular/x/Kelta.csv"), false},
        {"a folder", path("folder"), false},
        {"a read-only file system", path("ro/Kelta.csv"), true},
    };
    w().chbAutoSave->setChecked(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsMount && !ro->mounted()) {
            std::printf("skipped case %s: %s\n", c.what, ro->error().c_str());
            continue;
        }
        tables->closeFiles();
        tables->resetCounters();
        w().edtSaveFile->setText(c.file);
        postOne();
        postOne();
        EXPECT_EQ(tables->autoSaveLineCount(), 0u);
        EXPECT_EQ(w().edtSaveFile->text(), c.file);
        EXPECT_TRUE(panel().contains("Auto-save file cannot be written: " +
                                     QDir::toNativeSeparators(c.file)))
            << panel().toStdString();
        EXPECT_TRUE(panel().contains("2 records not written")) << panel().toStdString();
        EXPECT_FALSE(QFileInfo::exists(kelta::defaultSaveFileName()));
    }
    EXPECT_EQ(ReadAll(path("regular")), "");
}

TEST_F(FileFailureTest, AnAbsenceTheLogRefusesIsCountedAndTheReturnIsWrittenLater) {
    const QString log = path("events/log.csv");
    ASSERT_TRUE(QDir().mkpath(path("events")));
    ASSERT_TRUE(QFile::link("/dev/full", log));
    tables->eventLogFile().setRetryIntervalMs(0);
    select("00000000000000AA");
    tables->btnClearClick();
    tables->resetCounters();
    post(Rec("00000000000000AA"));
    now = now.addSecs(20);
    tables->absenceSweep();
    const int s = selRow("00000000000000AA");
    EXPECT_EQ(w().grdSel->cell(20, s), "") << "absent even though its line was refused";
    EXPECT_TRUE(panel().contains("Event log cannot be written")) << panel().toStdString();
    EXPECT_TRUE(panel().contains("1 lines not written")) << panel().toStdString();
    EXPECT_EQ(tables->eventLogFile().refusedWrites(), 1u);
    EXPECT_FALSE(tables->eventLogFile().isOpen());

    ASSERT_TRUE(QFile::remove(log));
    now = now.addSecs(1);
    post(Rec("00000000000000AA", "45"));
    EXPECT_EQ(ReadAll(log),
              "00000000000000AA,45,60,2025/01/02,03:04:05,2025/01/02,03:04:26,21000\n");
    EXPECT_TRUE(panel().contains("Event log written again")) << panel().toStdString();

    const std::string err = closeAndCaptureStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("Event log"), std::string::npos) << err;
    EXPECT_NE(err.find("1 lines not written"), std::string::npos) << err;
}

TEST_F(FileFailureTest, ASelectionFileThatCannotBeSavedKeepsTheOldListAndIsShown) {
    const QString file = kelta::monitor::TagTables::selectionFilePath();
    const QString folder = QFileInfo(file).absolutePath();
    select("00000000000000AA");
    ASSERT_TRUE(tables->saveSelectionFile());
    const QByteArray saved = ReadAll(file);
    ASSERT_EQ(saved, "00000000000000AA\n");
    select("00000000000000BB");

    struct Case {
        const char* what;
        std::function<bool()> block;   // makes the folder unusable; false: case not possible
        std::function<void()> unblock; // gives it back
    };
    std::unique_ptr<ScratchMount> ro;
    const QString moved = folder + ".away";
    Case cases[] = {
        {"a regular file in place of the folder",
         [&] {
             if (!QDir().rename(folder, moved)) return false;
             QFile f(folder);
             return f.open(QIODevice::WriteOnly);
         },
         [&] {
             QFile::remove(folder);
             QDir().rename(moved, folder);
         }},
        {"a read-only file system on the folder",
         [&] {
             // The old list is copied into the read-only file system first.
             ro = std::make_unique<ScratchMount>(folder, "size=64k");
             if (!ro->mounted()) return false;
             QFile f(file);
             if (!f.open(QIODevice::WriteOnly) || f.write(saved) != saved.size()) return false;
             f.close();
             return ro->remount("size=64k", true);
         },
         [&] { ro.reset(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.block()) {
            c.unblock();
            std::printf("skipped case %s\n", c.what);
            continue;
        }
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(tables->saveSelectionFile());
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find("2 tags not saved"), std::string::npos) << err;
        EXPECT_TRUE(panel().contains("Selection file cannot be saved")) << panel().toStdString();
        if (QFileInfo(file).isFile()) {
            EXPECT_EQ(ReadAll(file), saved) << "the old list is kept";
        }
        c.unblock();
        ASSERT_TRUE(tables->saveSelectionFile());
        EXPECT_EQ(ReadAll(file), "00000000000000AA\n00000000000000BB\n");
        EXPECT_TRUE(panel().contains("Selection file saved again")) << panel().toStdString();
        // Back to the one-tag list for the next case.
        w().lvSel->clear();
        select("00000000000000AA");
        ASSERT_TRUE(tables->saveSelectionFile());
        select("00000000000000BB");
    }
    w().lvSel->clear();
    QFile::remove(file);
}

} // namespace
