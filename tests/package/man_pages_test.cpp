// The four programs and their manual pages (packaging/man): every option that --help lists is
// described in the page, and the page describes no option --help does not list; every program
// answers --version with the project's version.
#include "kelta/version.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

const char* const kPrograms[] = {"kelta-utility", "kelta-collect", "kelta-reader-sim",
                                 "kelta-decode"};

struct Output {
    int exitCode = -1;
    QString out, err;
};

Output run(const QString& program, const QStringList& args) {
    QProcess p;
    // No display: --help and --version must not need one.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(KELTA_BINARY_DIR "/") + program, args);
    Output o;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return o;
    }
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

// Options of a help text: the names at the start of its indented option lines ("  -h, --help",
// "  --serial <PORTS>   ...", "  --binary   ...").
QSet<QString> helpOptions(const QString& help) {
    QSet<QString> names;
    static const QRegularExpression name(QStringLiteral("(?:^|[ ,])(--?[A-Za-z0-9][A-Za-z0-9-]*)"));
    for (const QString& line : help.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1Char(' '))) continue;
        const QString t = line.trimmed();
        if (!t.startsWith(QLatin1Char('-'))) continue;
        // The option column ends at the first run of two blanks.
        const QString column = t.section(QStringLiteral("  "), 0, 0);
        for (auto it = name.globalMatch(column); it.hasNext();) names << it.next().captured(1);
    }
    return names;
}

// Options a manual page describes: those named on the line after each ".TP" of its OPTIONS
// section (such as `.BR \-h ", " \-\-help` or `.BI \-\-keep " N"`), with the roff escapes undone.
QSet<QString> manOptions(const QString& page) {
    QSet<QString> names;
    bool inOptions = false, tagLine = false;
    static const QRegularExpression name(QStringLiteral("^--?[A-Za-z0-9][A-Za-z0-9-]*$"));
    static const QRegularExpression font(QStringLiteral("\\\\f[BIRP]"));
    for (const QString& line : page.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String(".SH"))) {
            inOptions = line.contains(QLatin1String("OPTIONS"));
            continue;
        }
        if (!inOptions) continue;
        if (line.startsWith(QLatin1String(".TP"))) {
            tagLine = true;
            continue;
        }
        if (!tagLine) continue;
        tagLine = false;
        QString t = line;
        t.replace(QLatin1String("\\-"), QLatin1String("-"));
        t.replace(font, QString());
        for (QString word : t.split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1)) {
            word.remove(QLatin1Char('"'));
            word.remove(QLatin1Char(','));
            if (name.match(word).hasMatch()) names << word;
        }
    }
    return names;
}

QString manPage(const QString& program) {
    QFile f(QStringLiteral(KELTA_SOURCE_DIR "/packaging/man/") + program + QStringLiteral(".1"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QStringList sorted(const QSet<QString>& s) {
    QStringList l(s.begin(), s.end());
    l.sort();
    return l;
}

class Program : public ::testing::TestWithParam<const char*> {};

TEST_P(Program, ManualPageDescribesExactlyTheOptionsOfHelp) {
    const QString program = QString::fromLatin1(GetParam());
    const Output help = run(program, {QStringLiteral("--help")});
    ASSERT_EQ(help.exitCode, 0) << help.err.toStdString();
    const QSet<QString> fromHelp = helpOptions(help.out);
    ASSERT_GE(fromHelp.size(), 3) << help.out.toStdString();
    EXPECT_TRUE(fromHelp.contains(QStringLiteral("--version"))) << help.out.toStdString();

    const QString page = manPage(program);
    ASSERT_FALSE(page.isEmpty()) << "packaging/man/" << program.toStdString() << ".1";
    EXPECT_TRUE(page.startsWith(QStringLiteral(".TH ") + program.toUpper() + QLatin1Char(' ')));
    const QSet<QString> fromPage = manOptions(page);
    EXPECT_EQ(sorted(fromHelp - fromPage), QStringList())
        << "in --help of " << program.toStdString() << " but not in its manual page";
    EXPECT_EQ(sorted(fromPage - fromHelp), QStringList())
        << "in the manual page of " << program.toStdString() << " but not in its --help";
}

TEST_P(Program, AnswersVersionWithTheProjectVersion) {
    const QString program = QString::fromLatin1(GetParam());
    const Output v = run(program, {QStringLiteral("--version")});
    ASSERT_EQ(v.exitCode, 0) << v.err.toStdString();
    EXPECT_EQ(v.out, program + QStringLiteral(" " KELTA_VERSION "\n"));
}

INSTANTIATE_TEST_SUITE_P(Four, Program, ::testing::ValuesIn(kPrograms), [](const auto& info) {
    QString n = QString::fromLatin1(info.param);
    return n.remove(QLatin1Char('-')).toStdString();
});

// The reading of both texts, on samples of each form.
TEST(ManPageCheck, ReadsBothForms) {
    EXPECT_EQ(sorted(helpOptions(QStringLiteral(
                  "Usage: x [options]\n\nOptions:\n  -h, --help          Displays help.\n"
                  "  --serial <PORTS>    Serial ports, e.g. --serial COM3.\n"
                  "  --binary   the whole input\n"))),
              (QStringList{"--binary", "--help", "--serial", "-h"}));
    EXPECT_EQ(sorted(manOptions(QStringLiteral(".SH OPTIONS\n.TP\n.BR \\-h \", \" \\-\\-help\nHelp "
                                               "with \\-\\-other.\n.TP\n.BI \\-\\-keep \" N\"\n"
                                               "Keeps.\n.SH FILES\n.TP\n.B \\-\\-not\n"))),
              (QStringList{"--help", "--keep", "-h"}));
}

} // namespace
