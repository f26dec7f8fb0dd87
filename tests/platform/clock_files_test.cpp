#include "platform/clock.h"
#include "platform/files.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace platform = kelta::platform;

TEST(Clock, TickDifferencesSurviveTheWrap) {
    EXPECT_EQ(platform::tickDiff(5u, 0xFFFFFFFBu), 10u);
    EXPECT_EQ(platform::tickDiff(0u, 0xFFFFFFFFu), 1u);
    EXPECT_EQ(platform::tickDiff(1000u, 400u), 600u);
    EXPECT_EQ(platform::tickDiff(7u, 7u), 0u);

    const std::uint32_t start = platform::tickMs();
    platform::sleepMs(20);
    EXPECT_GE(platform::ticksSince(start), 20u);
    // A start slightly in the future of a wrapped counter still gives a small difference.
    EXPECT_LT(platform::tickDiff(platform::tickMs(), start), 60u * 60u * 1000u);
}

TEST(Clock, ToneLastsItsDurationWithoutADisplay) {
    const std::uint32_t start = platform::tickMs();
    platform::tone(1000, 10);
    EXPECT_GE(platform::ticksSince(start), 10u);
    platform::tone(0, 10);
    platform::tone(300, -5);
}

TEST(Files, FoldersAndFileTests) {
    EXPECT_EQ(QFileInfo(platform::documentsFolder()), QFileInfo(kelta::test::documentsDir()));

    const QString base = QDir(kelta::test::tempRoot()).filePath("files");
    const QString deep = base + "/VANTO/KeltaUtility";
    EXPECT_TRUE(platform::createFolders(deep));
    EXPECT_TRUE(QFileInfo(deep).isDir());
    EXPECT_TRUE(platform::createFolders(deep)) << "an existing folder is fine";
    EXPECT_FALSE(platform::createFolders(""));

    const QString file = deep + "/VNKDTAG.CSV";
    EXPECT_FALSE(platform::fileExists(file));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_TRUE(platform::fileExists(file));
    EXPECT_FALSE(platform::fileExists(deep)) << "a folder is no file";
    EXPECT_FALSE(platform::createFolders(file + "/sub")) << "a file in the way";

    EXPECT_FALSE(platform::deleteFile(deep)) << "folders are not deleted";
    EXPECT_TRUE(QFileInfo(deep).isDir());
    EXPECT_TRUE(platform::deleteFile(file));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(platform::deleteFile(file)) << "already gone";
}

TEST(Files, AppendFileAppendsUtf8AndFlushesEveryWrite) {
    const QString dir = QDir(kelta::test::tempRoot()).filePath("append");
    ASSERT_TRUE(platform::createFolders(dir));
    const QString path = dir + "/log.csv";
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("earlier\n");
    }
    platform::AppendFile log(path);
    EXPECT_FALSE(log.isOpen()) << "opened on first use only";
    ASSERT_TRUE(log.writeLine(QStringLiteral("0001,25.5°C,标签")));
    EXPECT_TRUE(log.isOpen());
    ASSERT_TRUE(log.writeText("a,"));
    ASSERT_TRUE(log.writeText("b\n"));

    // Visible on disk while still open: nothing waits in a buffer.
    auto contents = [&] {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    EXPECT_EQ(contents(), QByteArray("earlier\n0001,25.5\xC2\xB0") + "C," +
                              QByteArray("\xE6\xA0\x87\xE7\xAD\xBE") + "\na,b\n");

    log.close();
    EXPECT_FALSE(log.isOpen());
    ASSERT_TRUE(log.writeLine("after")) << "reopens for appending";
    EXPECT_TRUE(contents().endsWith("a,b\nafter\n"));

    log.setPath(dir + "/other.csv");
    EXPECT_FALSE(log.isOpen());
    ASSERT_TRUE(log.writeLine("x"));
    EXPECT_TRUE(contents().endsWith("after\n"));

    platform::AppendFile nowhere(dir + "/missing-folder/log.csv");
    EXPECT_FALSE(nowhere.writeLine("lost"));
    EXPECT_FALSE(nowhere.isOpen());
    platform::AppendFile folder(dir);
    EXPECT_FALSE(folder.writeText("x"));
    EXPECT_FALSE(folder.isOpen());
    platform::AppendFile unnamed;
    EXPECT_FALSE(unnamed.writeLine("x"));
}
