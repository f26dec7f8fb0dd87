// Append files that meet a full disk, a device that takes nothing, or a path that cannot be a
// file; and files moved aside without replacing another.
#include "platform/files.h"
#include "support/scratch_files.h"
#include "support/scratch_mount.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace platform = kelta::platform;

namespace {

QString scratch(const QString& name) {
    return kelta::test::scratchFolder(QStringLiteral("append-failure"), name);
}

using kelta::test::fileContents;

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

} // namespace

TEST(AppendFileFailure, APartialWriteOnAFullDiskIsCutBackAndSpaceGivenBackResumes) {
    const QString dir = scratch("full");
    kelta::test::ScratchMount fs(dir, "size=16k");
    if (!fs.mounted()) GTEST_SKIP() << "no right to mount a tmpfs: " << fs.error();
    platform::AppendFile file(dir + "/data.csv");
    file.setRetryIntervalMs(0);

    // 10000 bytes fit; the second 10000 only in part: that part must not stay in the file.
    const QString big(9999, QLatin1Char('x'));
    ASSERT_TRUE(file.writeLine(big));
    EXPECT_FALSE(file.writeLine(big));
    EXPECT_EQ(QFileInfo(dir + "/data.csv").size(), 10000);
    EXPECT_TRUE(file.failing());
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.errorText().isEmpty());
    EXPECT_EQ(file.refusedWrites(), 1u);
    EXPECT_FALSE(file.resumed());

    // Short lines fill the rest; none of them is cut.
    int written = 0;
    for (int i = 0; i < 1000; ++i)
        if (file.writeLine(QStringLiteral("line %1 ").arg(i, 4, 10, QLatin1Char('0')) +
                           QString(89, QLatin1Char('y'))))
            ++written;
    const QByteArray after = fileContents(dir + "/data.csv");
    EXPECT_GT(written, 0);
    EXPECT_LT(written, 1000);
    EXPECT_EQ(after.size(), 10000 + written * 100) << "whole lines only";
    EXPECT_TRUE(after.endsWith('\n'));
    EXPECT_EQ(file.refusedWrites(), 1u + (1000u - static_cast<unsigned>(written)));

    ASSERT_TRUE(fs.remount("size=1m"));
    ASSERT_TRUE(file.writeLine(big));
    EXPECT_FALSE(file.failing());
    EXPECT_TRUE(file.resumed());
    EXPECT_EQ(QFileInfo(dir + "/data.csv").size(), 20000 + written * 100);

    file.resetCounts();
    EXPECT_EQ(file.refusedWrites(), 0u);
    EXPECT_FALSE(file.resumed());
    file.close();
}

TEST(AppendFileFailure, UnusableTargetsRefuseEveryWriteAndLeaveTheFileClosed) {
    const QString dir = scratch("targets");
    writeFile(dir + "/regular", "kept\n");
    QDir().mkpath(dir + "/folder");
    ASSERT_TRUE(QFile::link("/dev/full", dir + "/full"));
    struct Case {
        const char* what;
        QString path;
    } cases[] = {
        {"below a regular file", dir + "/regular/data.csv"},
        {"a folder", dir + "/folder"},
        {"a device that takes nothing", dir + "/full"},
        {"no name", QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::AppendFile file(c.path);
        file.setRetryIntervalMs(0);
        EXPECT_FALSE(file.writeLine("a"));
        EXPECT_FALSE(file.writeLine("b"));
        EXPECT_FALSE(file.isOpen());
        EXPECT_TRUE(file.failing());
        EXPECT_FALSE(file.errorText().isEmpty());
        EXPECT_EQ(file.refusedWrites(), 2u);
    }
    EXPECT_EQ(fileContents(dir + "/regular"), "kept\n");
    EXPECT_TRUE(QDir(dir + "/folder").isEmpty());
}

TEST(AppendFileFailure, RetriesWaitForTheIntervalAndANewPathIsTriedAtOnce) {
    const QString dir = scratch("retry");
    const QString target = dir + "/data.csv";
    ASSERT_TRUE(QFile::link("/dev/full", target));
    platform::AppendFile file(target); // default interval
    EXPECT_FALSE(file.writeLine("lost 1"));
    EXPECT_FALSE(file.attemptDue());

    // The device is replaced by a writable file, but the interval has not passed: no new open.
    ASSERT_TRUE(QFile::remove(target));
    EXPECT_FALSE(file.writeLine("lost 2"));
    EXPECT_FALSE(QFileInfo::exists(target)) << "nothing was opened";
    EXPECT_EQ(file.refusedWrites(), 2u);

    // A fresh start tries at once and finds the file writable.
    file.resetCounts();
    EXPECT_TRUE(file.attemptDue());
    ASSERT_TRUE(file.writeLine("kept 1"));
    EXPECT_EQ(fileContents(target), "kept 1\n");

    // A new name, too, is tried at once after a failure.
    file.setPath(dir + "/missing/data.csv");
    EXPECT_FALSE(file.writeLine("lost 3"));
    file.setPath(target);
    ASSERT_TRUE(file.writeLine("kept 2"));
    EXPECT_TRUE(file.resumed());
    EXPECT_EQ(fileContents(target), "kept 1\nkept 2\n");
}

TEST(MoveAside, NamesCarryTheStampAndACounterWhenTaken) {
    const QDateTime t(QDate(2024, 5, 6), QTime(7, 8, 9));
    struct Case {
        QString name;
        int counter;
        QString expected;
    } cases[] = {
        {"Kelta.csv", 1, "Kelta_20240506_070809.csv"},
        {"Kelta.csv", 3, "Kelta_20240506_070809_3.csv"},
        {"run.2.csv", 1, "run.2_20240506_070809.csv"},
        {"log", 2, "log_20240506_070809_2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::asideName("/data/" + c.name, t, c.counter), "/data/" + c.expected)
            << c.name.toStdString();
}

TEST(MoveAside, TheOldFileIsKeptByteForByteAndNoOtherFileIsReplaced) {
    const QString dir = scratch("aside");
    const QString path = dir + "/Kelta.csv";
    const QDateTime t(QDate(2024, 5, 6), QTime(7, 8, 9));
    const QByteArray old("header\n\xE6\xA8\x99\r\nno newline at the end");
    writeFile(path, old);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(t, QFileDevice::FileModificationTime));
    }
    // Two earlier files hold the first names.
    writeFile(platform::asideName(path, t, 1), "first\n");
    writeFile(platform::asideName(path, t, 2), "second\n");

    QString error;
    const QString kept = platform::moveAside(path, &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(kept, platform::asideName(path, t, 3));
    EXPECT_EQ(fileContents(kept), old);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(fileContents(platform::asideName(path, t, 1)), "first\n");
    EXPECT_EQ(fileContents(platform::asideName(path, t, 2)), "second\n");

    // Nothing to move: no name and no error.
    EXPECT_TRUE(platform::moveAside(path, &error).isEmpty());
    EXPECT_TRUE(error.isEmpty());
}

TEST(MoveAside, AFileInAReadOnlyFolderStaysAndTheReasonIsGiven) {
    const QString dir = scratch("readonly");
    kelta::test::ScratchMount fs(dir, "size=64k");
    if (!fs.mounted()) GTEST_SKIP() << "no right to mount a tmpfs: " << fs.error();
    writeFile(dir + "/Kelta.csv", "old run\n");
    ASSERT_TRUE(fs.remount("size=64k", true));
    QString error;
    EXPECT_TRUE(platform::moveAside(dir + "/Kelta.csv", &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(fileContents(dir + "/Kelta.csv"), "old run\n");
}
