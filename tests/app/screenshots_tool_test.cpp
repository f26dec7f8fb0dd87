// The screenshot maker runs with a home folder of its own: the pictures must not show the
// account that made them, and nothing of that account is read or changed.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(ScreenshotTool, PicturesShowANeutralHomeAndLeaveTheAccountAlone) {
    const QString tool = QStringLiteral(KELTA_BINARY_DIR "/kelta-screenshots");
    if (!QFileInfo(tool).isExecutable()) GTEST_SKIP() << "kelta-screenshots is not built";
    QTemporaryDir account(QDir::tempPath() + QStringLiteral("/account-of-someone-XXXXXX"));
    QTemporaryDir temp;
    ASSERT_TRUE(account.isValid() && temp.isValid());
    const QString out = temp.filePath(QStringLiteral("pictures"));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), account.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), account.filePath(QStringLiteral(".config")));
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(tool, {out});
    ASSERT_TRUE(p.waitForFinished(-1));
    const QString stdoutText = QString::fromLocal8Bit(p.readAllStandardOutput());
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

    EXPECT_EQ(QDir(out).entryList({QStringLiteral("*.png")}, QDir::Files).size(), 8);
    EXPECT_TRUE(stdoutText.contains(QStringLiteral("auto-save file shown: ") + temp.path() +
                                    QStringLiteral("/user/Documents/Kelta.csv")))
        << stdoutText.toStdString();
    EXPECT_FALSE(stdoutText.contains(QStringLiteral("account-of-someone")));
    // Nothing was made in the account's home, and the neutral home is gone again.
    EXPECT_TRUE(QDir(account.path())
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    EXPECT_FALSE(QFileInfo::exists(temp.filePath(QStringLiteral("user"))));
}
