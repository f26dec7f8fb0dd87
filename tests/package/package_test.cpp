// The Debian package scripts/package made (scripts/test runs it before the tests): its files
// and their modes, its control fields, maintainer scripts and unit, and lintian's verdict. When
// scripts/package did not run or its tools are missing, the test says so and is skipped.
#include "kelta/version.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace {

const QString kOut = QStringLiteral(KELTA_SOURCE_DIR "/build/package");

QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000)) p.kill();
    if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        const QString status = readText(kOut + QStringLiteral("/status")).trimmed();
        if (status.isEmpty())
            GTEST_SKIP() << "scripts/package has not run (scripts/test runs it first)";
        if (status.startsWith(QLatin1String("skipped")))
            GTEST_SKIP() << "scripts/package " << status.toStdString();
        ASSERT_EQ(status, "ok") << "scripts/package: " << status.toStdString() << "\n"
                                << readText(kOut + QStringLiteral("/lintian.txt")).toStdString();
        const QStringList debs = QDir(kOut).entryList({QStringLiteral("*.deb")}, QDir::Files);
        ASSERT_EQ(debs.size(), 1) << debs.join(' ').toStdString();
        deb = kOut + QLatin1Char('/') + debs.first();
    }
    QString field(const char* name) const {
        return run(QStringLiteral("dpkg-deb"),
                   {QStringLiteral("-f"), deb, QString::fromLatin1(name)})
            .trimmed();
    }
    QString deb;
};

TEST_F(Package, NamedAndVersionedAfterTheProject) {
    const QString arch = field("Architecture");
    EXPECT_EQ(QFileInfo(deb).fileName(),
              QStringLiteral("kelta-utility_" KELTA_VERSION "_") + arch + QStringLiteral(".deb"));
    EXPECT_EQ(field("Package"), "kelta-utility");
    EXPECT_EQ(field("Version"), KELTA_VERSION);
    EXPECT_FALSE(field("Maintainer").isEmpty());
    EXPECT_FALSE(field("Description").isEmpty());
    // From the programs' shared libraries (dpkg-shlibdeps), and what they load at run time.
    const QString depends = field("Depends");
    for (const char* d : {"libc6", "libstdc++6", "libqt6core6", "libqt6gui6", "libqt6widgets6",
                          "libqt6network6", "libmosquitto1", "adduser", "qt6-qpa-plugins"})
        EXPECT_TRUE(QRegularExpression(QStringLiteral("(^|, )%1( |,|$)")
                                           .arg(QRegularExpression::escape(QString::fromLatin1(d))))
                        .match(depends)
                        .hasMatch())
            << d << " not in: " << depends.toStdString();
}

TEST_F(Package, HoldsExactlyTheProgramsPagesEntryIconUnitAndDocs) {
    const QString listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
    QMap<QString, QString> files; // path -> mode and owner
    for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        ASSERT_GE(f.size(), 6) << line.toStdString();
        QString path = f.last();
        if (path.startsWith(QLatin1String("./"))) path = path.mid(1);
        EXPECT_EQ(f[1], "root/root") << line.toStdString();
        if (f[0].startsWith(QLatin1Char('d'))) {
            EXPECT_EQ(f[0], "drwxr-xr-x") << line.toStdString();
            continue;
        }
        files.insert(path, f[0]);
    }
    QMap<QString, QString> expected;
    for (const char* p : {"kelta-utility", "kelta-collect", "kelta-reader-sim", "kelta-decode"}) {
        expected.insert(QStringLiteral("/usr/bin/") + QString::fromLatin1(p), "-rwxr-xr-x");
        expected.insert(QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(QString::fromLatin1(p)),
                        "-rw-r--r--");
    }
    for (const char* p :
         {"/usr/share/applications/kelta-utility.desktop",
          "/usr/share/icons/hicolor/scalable/apps/kelta-utility.svg",
          "/usr/share/doc/kelta-utility/copyright", "/usr/share/doc/kelta-utility/changelog.gz",
          "/lib/systemd/system/kelta-collect.service"})
        expected.insert(QString::fromLatin1(p), "-rw-r--r--");
    EXPECT_EQ(files, expected) << listing.toStdString();
}

TEST_F(Package, ProgramsAreOptimisedAndAnswerTheirVersion) {
    const QString unpacked = kOut + QStringLiteral("/unpacked/usr/bin/");
    for (const char* p : {"kelta-utility", "kelta-collect", "kelta-reader-sim", "kelta-decode"}) {
        int rc = -1;
        const QString program = unpacked + QString::fromLatin1(p);
        EXPECT_EQ(run(program, {QStringLiteral("--version")}, &rc),
                  QString::fromLatin1(p) + QStringLiteral(" " KELTA_VERSION "\n"));
        EXPECT_EQ(rc, 0) << p;
        // No sanitizer runtime: the package's build is not the tests' build.
        const QString libs = run(QStringLiteral("ldd"), {program});
        EXPECT_FALSE(libs.contains(QLatin1String("libasan"))) << p;
        EXPECT_FALSE(libs.contains(QLatin1String("libubsan"))) << p;
    }
}

TEST_F(Package, TheCollectorRunsAsASystemUserInDialout) {
    const QString unit =
        readText(kOut + QStringLiteral("/unpacked/lib/systemd/system/kelta-collect.service"));
    ASSERT_FALSE(unit.isEmpty());
    EXPECT_TRUE(unit.contains(QStringLiteral("\nExecStart=/usr/bin/kelta-collect ")));
    EXPECT_TRUE(unit.contains(QStringLiteral("\nUser=kelta\n")));
    EXPECT_TRUE(unit.contains(QStringLiteral("\nSupplementaryGroups=dialout\n")));
    EXPECT_TRUE(unit.contains(QStringLiteral("\nWantedBy=multi-user.target")));

    const QString control = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), deb});
    for (const char* s : {"postinst", "prerm", "postrm"})
        EXPECT_TRUE(control.contains(QString::fromLatin1(s))) << control.toStdString();
    const QString postinst =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), deb, QStringLiteral("postinst")});
    EXPECT_TRUE(postinst.contains(QStringLiteral("adduser --quiet --system --group --home "
                                                 "/var/lib/kelta")))
        << postinst.toStdString();
    EXPECT_TRUE(postinst.contains(QStringLiteral("adduser --quiet kelta dialout")));
    const QString postrm =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), deb, QStringLiteral("postrm")});
    EXPECT_TRUE(postrm.contains(QStringLiteral("\"$1\" = \"purge\"")));
    EXPECT_TRUE(postrm.contains(QStringLiteral("deluser --quiet --system kelta")));
}

TEST_F(Package, LintianReportsNoError) {
    const QString report = readText(kOut + QStringLiteral("/lintian.txt"));
    QStringList tags;
    for (const QString& line : report.split(QLatin1Char('\n')))
        if (QRegularExpression(QStringLiteral("^[EWIPX]: ")).match(line).hasMatch()) tags << line;
    for (const QString& t : tags)
        EXPECT_FALSE(t.startsWith(QLatin1String("E: "))) << t.toStdString();
    // What is left is shown, to be read with the README's explanation.
    std::printf("lintian: %s\n", tags.isEmpty() ? "no tags" : qPrintable(tags.join("\n         ")));
}

} // namespace
