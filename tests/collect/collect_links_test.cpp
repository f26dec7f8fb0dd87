// The collector's table of its links: on SIGUSR1 (standard error, the run going on) and at the
// end of the summary, the counts of a serial link fed known frames, good and rejected.

#include "collect/collect_process.h"
#include "support/report_frames.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kelta::test::CollectProcess;
using kelta::test::MappedPty;

// The cells of the table line of link `name` in the last table of `text`; empty when none.
QStringList lastLinkLine(const QString& text, const QString& name) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QStringList cells =
            it->trimmed().split(QRegularExpression(QStringLiteral("\\s{2,}")));
        if (cells.value(0) == name) return cells;
    }
    return {};
}

TEST(CollectLinks, Sigusr1AndTheSummaryShowTheLinksCounts) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    kelta::test::writeSettings({});
    MappedPty com(6);
    CollectProcess collector;
    ASSERT_TRUE(collector.start({"--serial", "COM6", "--auto-save", dir.filePath("links.csv")}));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")));

    // 45 records and 9 rejected frames, interleaved.
    const auto good = kelta::test::liveReports(45, 4, 21);
    const auto bad = kelta::test::rejectedReports(9, 21);
    for (std::size_t i = 0; i < good.size(); ++i) {
        ASSERT_TRUE(com.pty().send(good[i]));
        if (i % 5 == 4) {
            ASSERT_TRUE(com.pty().send(bad[i / 5]));
        }
    }
    // Asked again until everything sent has been read; the run goes on after each answer.
    int asked = 0;
    ASSERT_TRUE(collector.waitFor([&] {
        const QStringList cells = lastLinkLine(collector.errorText(), "COM6");
        if (cells.value(3) == "45" && cells.value(5) == "9") return true;
        if (collector.count(QStringLiteral(" links:")) == asked) {
            ::kill(static_cast<pid_t>(collector.processId()), SIGUSR1);
            ++asked;
        }
        return false;
    })) << collector.errorText().toStdString();
    EXPECT_EQ(lastLinkLine(collector.errorText(), "COM6").mid(1, 2), (QStringList{"0021", "open"}));

    ASSERT_TRUE(collector.stop(SIGTERM));
    EXPECT_EQ(collector.exitCode(), 0) << collector.errorText().toStdString();
    // The summary's table: taken before the port was closed, so the link is still open there.
    const QString out = collector.outputText();
    ASSERT_TRUE(out.contains(QStringLiteral("  links:\n"))) << out.toStdString();
    const QStringList end = lastLinkLine(out, "COM6");
    ASSERT_EQ(end.size(), 8) << out.toStdString();
    EXPECT_EQ(end.mid(0, 4), (QStringList{"COM6", "0021", "open", "45"}));
    EXPECT_EQ(end.mid(5, 2), (QStringList{"9", "0"}));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d+ s( silent)?$")).match(end.value(7)).hasMatch())
        << end.value(7).toStdString();
}

} // namespace
