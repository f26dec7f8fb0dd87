// Append files that begin afresh (by size, at local midnight of an injected clock), keep a
// number of old files, and reach the disk once a second rather than once a line; the rotation
// texts; a file made private.
#include "platform/files.h"
#include "support/file_mode.h"
#include "support/scratch_files.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform = kelta::platform;
using platform::FileRotation;

namespace {

QString scratch(const QString& name) {
    return kelta::test::scratchFolder(QStringLiteral("rotation"), name);
}

using kelta::test::fileContents;

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("old\n");
}

// A folder that takes no new name while the object lives, its files still writable: read-only
// for a user, immutable for root (whom the mode does not stop).
class FrozenFolder {
public:
    explicit FrozenFolder(const QString& path) : name_(QFile::encodeName(path)) {
        if (::chmod(name_.constData(), 0500) == 0 && ::access(name_.constData(), W_OK) != 0) {
            frozen_ = true;
            return;
        }
        ::chmod(name_.constData(), 0700);
        immutable_ = setImmutable(true);
        frozen_ = immutable_;
    }
    ~FrozenFolder() {
        if (immutable_) setImmutable(false);
        ::chmod(name_.constData(), 0700);
    }
    FrozenFolder(const FrozenFolder&) = delete;
    FrozenFolder& operator=(const FrozenFolder&) = delete;
    bool frozen() const { return frozen_; }

private:
    bool setImmutable(bool on) {
        const int fd = ::open(name_.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (ok) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return ok;
    }
    QByteArray name_;
    bool frozen_ = false;
    bool immutable_ = false;
};

} // namespace

TEST(FileRotation, TextsReadAndReadBack) {
    QString error;
    const auto daily = platform::parseRotation(" Daily ", &error);
    ASSERT_TRUE(daily);
    EXPECT_EQ(daily->kind, FileRotation::Kind::Daily);
    EXPECT_EQ(daily->keep, 30);
    EXPECT_EQ(platform::rotationText(*daily), "daily");

    const struct {
        const char* text;
        qint64 bytes;
        const char* back;
    } sizes[] = {
        {"10M", 10 << 20, "10M"}, {"512k", 512 << 10, "512K"},      {"1G", qint64{1} << 30, "1G"},
        {"2048", 2048, "2K"},     {"1500KiB", 1500 << 10, "1500K"}, {"4 MB", 4 << 20, "4M"},
        {"1025", 1025, "1025"}};
    for (const auto& s : sizes) {
        const auto r = platform::parseRotation(QString::fromLatin1(s.text), &error);
        ASSERT_TRUE(r) << s.text << ": " << error.toStdString();
        EXPECT_EQ(r->kind, FileRotation::Kind::Size) << s.text;
        EXPECT_EQ(r->maxBytes, s.bytes) << s.text;
        EXPECT_EQ(platform::rotationText(*r), QString::fromLatin1(s.back));
        EXPECT_EQ(platform::parseRotation(platform::rotationText(*r)), r);
    }
    for (const char* off : {"", "off", "NONE"}) {
        const auto r = platform::parseRotation(QString::fromLatin1(off));
        ASSERT_TRUE(r) << off;
        EXPECT_FALSE(r->on());
    }
    for (const char* bad : {"weekly", "10X", "-5M", "1023", "0", "M", "10.5M", "99999999999999G"}) {
        error.clear();
        EXPECT_FALSE(platform::parseRotation(QString::fromLatin1(bad), &error)) << bad;
        EXPECT_TRUE(error.contains(QString::fromLatin1(bad).trimmed())) << error.toStdString();
    }
}

TEST(FileRotation, BySizeEachFileHoldsWholeWritesUpToItsLimit) {
    const QString dir = scratch("size");
    const QString path = dir + "/Kelta.csv";
    platform::AppendFile file(path);
    FileRotation rule;
    rule.kind = FileRotation::Kind::Size;
    rule.maxBytes = 1024;
    rule.keep = 100;
    file.setRotation(rule);
    QDateTime t(QDate(2026, 12, 8), QTime(10, 0, 0));
    file.setClock([&] { return t; });

    const int lines = 200;
    int rotations = 0;
    for (int i = 0; i < lines; ++i) {
        const QByteArray line =
            QStringLiteral("line %1 ").arg(i, 5, 10, QLatin1Char('0')).toUtf8() +
            QByteArray(80, 'x') + '\n';
        if (file.rotationDue(line.size())) {
            const auto r = file.rotate();
            ASSERT_FALSE(r.keptAs.isEmpty()) << r.errors.join(", ").toStdString();
            EXPECT_TRUE(r.deleted.isEmpty());
            ++rotations;
        }
        ASSERT_TRUE(file.writeBytes(line));
        t = t.addMSecs(10); // a hundred lines a second: several files share a second
    }
    file.close();
    EXPECT_GE(rotations, 10);

    QStringList files = platform::asideFiles(path);
    ASSERT_EQ(files.size(), rotations);
    files << path;
    int next = 0;
    for (const QString& f : files) {
        const QByteArray bytes = fileContents(f);
        EXPECT_LE(bytes.size(), 1024) << f.toStdString();
        if (f != path) {
            EXPECT_GT(bytes.size(), 1024 - 92) << f.toStdString() << " is not full";
        }
        for (const QByteArray& l : bytes.split('\n')) {
            if (l.isEmpty()) continue;
            ASSERT_TRUE(l.startsWith(
                QStringLiteral("line %1 ").arg(next, 5, 10, QLatin1Char('0')).toUtf8()))
                << f.toStdString() << ": " << l.constData();
            ++next;
        }
        if (f == path) break;
    }
    EXPECT_EQ(next, lines) << "every line once, in order, across the files";
    // Names: the move-aside rule, stamped with the file's last write (by the clock).
    EXPECT_EQ(files.first(), dir + "/Kelta_20261208_100000.csv");
    EXPECT_EQ(files[1], dir + "/Kelta_20261208_100000_2.csv");
    EXPECT_TRUE(files.contains(dir + "/Kelta_20261208_100001_2.csv"))
        << files.join(" ").toStdString();
}

TEST(FileRotation, KeepDeletesTheOldestAndLeavesOtherFiles) {
    const QString dir = scratch("keep");
    const QString path = dir + "/log.csv";
    // Files of other names, and old files of this one from before.
    touch(dir + "/Kelta_20200101_000000.csv");
    touch(dir + "/log_20200101_000000.txt");
    touch(dir + "/logbook_20200101_000000.csv");
    touch(dir + "/log_20200101_000000.csv");
    touch(dir + "/log_20200101_000000_10.csv");
    touch(dir + "/log_20200101_000000_2.csv");
    EXPECT_EQ(platform::asideFiles(path),
              (QStringList{dir + "/log_20200101_000000.csv", dir + "/log_20200101_000000_2.csv",
                           dir + "/log_20200101_000000_10.csv"}));

    platform::AppendFile file(path);
    FileRotation rule;
    rule.kind = FileRotation::Kind::Size;
    rule.maxBytes = 1024;
    rule.keep = 2;
    file.setRotation(rule);
    QDateTime t(QDate(2026, 3, 1), QTime(8, 0, 0));
    file.setClock([&] { return t; });
    QStringList deleted;
    for (int i = 0; i < 40; ++i) {
        const QByteArray line(300, char('a' + i % 26));
        if (file.rotationDue(line.size() + 1)) deleted << file.rotate().deleted;
        ASSERT_TRUE(file.writeBytes(line + '\n'));
        t = t.addSecs(1);
    }
    // The oldest went first: those from before, then the early ones of this run.
    ASSERT_GE(deleted.size(), 5);
    EXPECT_EQ(deleted.mid(0, 3),
              (QStringList{dir + "/log_20200101_000000.csv", dir + "/log_20200101_000000_2.csv",
                           dir + "/log_20200101_000000_10.csv"}));
    const QStringList left = platform::asideFiles(path);
    EXPECT_EQ(left.size(), 2);
    for (const QString& d : deleted) EXPECT_FALSE(QFile::exists(d));
    for (const char* other :
         {"/Kelta_20200101_000000.csv", "/log_20200101_000000.txt", "/logbook_20200101_000000.csv"})
        EXPECT_TRUE(QFile::exists(dir + other)) << other;
    EXPECT_TRUE(QFile::exists(path));

    EXPECT_EQ(platform::pruneAsideFiles(path, 0).size(), 2);
    EXPECT_TRUE(platform::asideFiles(path).isEmpty());
}

TEST(FileRotation, DailyBeginsAFreshFileAtTheFirstWriteAfterMidnight) {
    const QString dir = scratch("daily");
    const QString path = dir + "/log.csv";
    platform::AppendFile file(path);
    FileRotation rule;
    rule.kind = FileRotation::Kind::Daily;
    file.setRotation(rule);
    QDateTime t(QDate(2026, 12, 8), QTime(23, 59, 58));
    file.setClock([&] { return t; });

    auto write = [&](const char* text) {
        const QByteArray line = QByteArray(text) + '\n';
        if (file.rotationDue(line.size())) {
            const auto r = file.rotate();
            EXPECT_FALSE(r.keptAs.isEmpty());
        }
        ASSERT_TRUE(file.writeBytes(line));
    };
    write("a");
    t = t.addSecs(1);
    write("b"); // 23:59:59, same day
    EXPECT_TRUE(platform::asideFiles(path).isEmpty());
    t = t.addSecs(2);
    write("c"); // 00:00:01 of the next day
    t = t.addSecs(3600);
    write("d");
    file.close();
    const QStringList kept = platform::asideFiles(path);
    ASSERT_EQ(kept, QStringList{dir + "/log_20261208_235959.csv"});
    EXPECT_EQ(fileContents(kept.first()), "a\nb\n");
    EXPECT_EQ(fileContents(path), "c\nd\n");

    // A file that held lines when it was opened belongs to the day of its last change.
    platform::AppendFile again(path);
    again.setRotation(rule);
    QDateTime later = QDateTime::currentDateTime().addDays(1);
    again.setClock([&] { return later; });
    EXPECT_TRUE(again.rotationDue(2));
    later = QDateTime::currentDateTime();
    EXPECT_FALSE(again.rotationDue(2));
}

TEST(FileRotation, NoRuleNeverRotatesAndAFailedMoveKeepsTheFile) {
    const QString dir = scratch("none");
    platform::AppendFile file(dir + "/a.csv");
    ASSERT_TRUE(file.writeText(QString(5000, QLatin1Char('x'))));
    EXPECT_FALSE(file.rotationDue(5000));
    file.close();

    // The folder cannot take the rotated name: the file stays and takes the next lines.
    const QString ro = scratch("readonly");
    platform::AppendFile kept(ro + "/b.csv");
    FileRotation rule;
    rule.kind = FileRotation::Kind::Size;
    rule.maxBytes = 1024;
    kept.setRotation(rule);
    kept.setRetryIntervalMs(60000);
    ASSERT_TRUE(kept.writeText(QString(1000, QLatin1Char('y'))));
    FrozenFolder frozen(ro);
    if (!frozen.frozen()) GTEST_SKIP() << "no way here to keep names out of a folder";
    ASSERT_TRUE(kept.rotationDue(100));
    const auto r = kept.rotate();
    EXPECT_TRUE(r.keptAs.isEmpty());
    EXPECT_FALSE(r.errors.isEmpty());
    EXPECT_FALSE(kept.rotationDue(100)) << "not tried again at once";
    EXPECT_TRUE(kept.writeText(QStringLiteral("z")));
    EXPECT_EQ(fileContents(ro + "/b.csv").size(), 1001);
}

TEST(FileSync, AFlushAtTheFirstWriteThenAtMostOnceASecond) {
    const QString dir = scratch("sync");
    platform::AppendFile file(dir + "/s.csv");
    file.setSyncIntervalMs(1000);
    std::int64_t now = 5'000'000;
    file.setSyncClock([&] { return now; });
    EXPECT_EQ(file.syncCount(), 0u);
    ASSERT_TRUE(file.writeLine("first"));
    EXPECT_EQ(file.syncCount(), 1u) << "nothing flushed before: flushed at once";
    EXPECT_FALSE(file.syncPending());

    // 300 lines a second for 2.5 s of the file's clock: a flush at the first line after each
    // second, never one per line, and no line waits a second or more for its flush.
    std::int64_t flushedAt = now;
    std::uint64_t flushes = file.syncCount();
    for (int n = 1; n <= 750; ++n) {
        now += n % 3 == 0 ? 4 : 3;
        ASSERT_TRUE(file.writeLine(QStringLiteral("line %1").arg(n)));
        if (file.syncCount() != flushes) {
            ASSERT_EQ(file.syncCount(), flushes + 1) << "line " << n;
            EXPECT_GE(now - flushedAt, 1000) << "line " << n;
            EXPECT_LT(now - flushedAt, 1004) << "line " << n;
            flushes = file.syncCount();
            flushedAt = now;
        } else {
            ASSERT_TRUE(file.syncPending());
            ASSERT_LT(now - flushedAt, 1000) << "line " << n;
        }
    }
    EXPECT_EQ(file.syncCount(), 3u) << "at 0 s, 1 s and 2 s";

    // Writing stops: the event loop's timer flushes the rest.
    ASSERT_TRUE(file.writeLine("last"));
    ASSERT_TRUE(file.syncPending());
    EXPECT_TRUE(kelta::test::waitFor([&] { return !file.syncPending(); }));
    EXPECT_EQ(file.syncCount(), 4u);

    // Interval 0: never (for benchmarks); close() flushes what is pending.
    platform::AppendFile never(dir + "/n.csv");
    never.setSyncIntervalMs(0);
    ASSERT_TRUE(never.writeLine("x"));
    EXPECT_EQ(never.syncCount(), 0u);
    platform::AppendFile closing(dir + "/c.csv");
    closing.setSyncIntervalMs(60000);
    ASSERT_TRUE(closing.writeLine("x"));
    ASSERT_TRUE(closing.writeLine("y"));
    EXPECT_TRUE(closing.syncPending());
    const auto n = closing.syncCount();
    closing.close();
    EXPECT_EQ(closing.syncCount(), n + 1);
}

TEST(Files, MakeOwnerOnlyNarrowsAWiderMode) {
    const QString dir = scratch("mode");
    const QString path = dir + "/secret.ini";
    touch(path);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    const auto was = platform::makeOwnerOnly(path);
    ASSERT_TRUE(was);
    EXPECT_EQ(*was, 0644u);
    EXPECT_EQ(kelta::test::fileMode(path), 0600u);
    EXPECT_FALSE(platform::makeOwnerOnly(path)) << "already private";
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0400), 0);
    EXPECT_FALSE(platform::makeOwnerOnly(path)) << "narrower than 600 is left alone";
    EXPECT_EQ(kelta::test::fileMode(path), 0400u);
    EXPECT_FALSE(platform::makeOwnerOnly(dir + "/missing"));
    EXPECT_FALSE(platform::makeOwnerOnly(dir)) << "a folder is no file";
}
