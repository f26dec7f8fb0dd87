// The Links tab of the window during a serial run fed known frames: its row shows the link's
// counts, it is read only while the tab is shown, it turns coloured when the link is silent
// past the watchdog, and it keeps the counts of the run's end.

#include "app/frmmodule.h"
#include "app/language.h"
#include "app/links_view.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "support/report_frames.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QCheckBox>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kelta::monitor::LinksModel;

class LinksTab : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        kelta::test::setTimeScale(0.05); // the watchdog's 15 s are 750 ms
        w.setGeometry(0, 0, 1366, 768);
        w.show();
        w.edtEvenLogFile->setText(dir.filePath("log.csv"));
        w.edtSaveFile->setText(dir.filePath("Kelta.csv"));
        w.chbAutoSave->setChecked(false);
        w.pcTagMain->setActivePage(w.tsCOM);
    }
    void TearDown() override { kelta::test::setTimeScale(1.0); }

    QString cell(int column) const {
        const QAbstractItemModel* m = w.grdLinks->model();
        return m->rowCount() ? m->index(0, column).data().toString() : QString();
    }
    bool coloured() const {
        const QAbstractItemModel* m = w.grdLinks->model();
        return m->rowCount() && m->index(0, 0).data(Qt::BackgroundRole).isValid();
    }
    void send(const std::vector<kelta::sim::Bytes>& frames) {
        for (const auto& f : frames) ASSERT_TRUE(com.pty().send(f));
    }

    QTemporaryDir dir;
    kelta::test::MappedPty com{4};
    kelta::TfrmModule w;
};

TEST_F(LinksTab, ShowsTheLinksCountsWhileShownAndKeepsThemAtTheEnd) {
    kelta::monitor::RunController& ctl = *w.runController;
    kelta::monitor::LinksView* links = ctl.linksView();
    ASSERT_NE(links, nullptr);
    const int tab = w.pcReadTag->indexOf(w.tsLinks);
    ASSERT_GE(tab, 0);
    EXPECT_EQ(w.pcReadTag->tabText(tab), "Links");
    w.pcReadTag->setActivePage(w.tsLinks);
    // COM4 alone (earlier tests of this program may have left other ports stored as checked).
    for (int n = 1; n <= 30; ++n) ctl.chkCOM(n)->setChecked(n == 4);

    w.btnStart->click();
    ASSERT_TRUE(
        kelta::test::waitFor([&] { return ctl.state() == kelta::monitor::RunState::Running; }));
    EXPECT_TRUE(links->refreshing());

    // 30 records and 6 rejected frames, the rejected ones in between.
    const auto good = kelta::test::liveReports(40, 3, 12);
    const auto bad = kelta::test::rejectedReports(6, 12);
    for (int i = 0; i < 30; ++i) {
        send({good[static_cast<std::size_t>(i)]});
        if (i % 5 == 2) send({bad[static_cast<std::size_t>(i / 5)]});
    }
    // Until the records' second is whole and in the minute of the sparkline.
    ASSERT_TRUE(kelta::test::waitFor([&] {
        const auto& minute = links->model().link(0).lastMinute;
        return cell(LinksModel::Records) == "30" && cell(LinksModel::Rejected) == "6" &&
               std::any_of(minute.begin(), minute.end(), [](auto v) { return v > 0; });
    })) << cell(LinksModel::Records).toStdString();
    EXPECT_EQ(w.grdLinks->model()->rowCount(), 1);
    for (const auto& [col, text] : {std::pair{LinksModel::Name, "COM4"},
                                    {LinksModel::Readers, "0012"},
                                    {LinksModel::State, "open"},
                                    {LinksModel::Discarded, "0"}})
        EXPECT_EQ(cell(col), text);

    // The sparkline is painted in its column: some pixels there are the line's blue.
    const QRect spark =
        w.grdLinks->visualRect(w.grdLinks->model()->index(0, LinksModel::LastMinute));
    w.grdLinks->viewport()->repaint();
    const QImage painted = w.grdLinks->viewport()->grab().toImage();
    int blue = 0;
    for (int y = spark.top(); y <= spark.bottom(); ++y)
        for (int x = spark.left(); x <= spark.right(); ++x) {
            const QColor c = painted.pixelColor(x, y);
            if (c.blue() > c.red() + 60) ++blue;
        }
    EXPECT_GT(blue, 0);

    // Hidden: nothing is read, the row stays as it was while the store goes on.
    w.pcReadTag->setActivePage(w.tsViewAllTag);
    EXPECT_FALSE(links->refreshing());
    send({good.begin() + 30, good.end()});
    ASSERT_TRUE(kelta::test::waitFor([&] { return w.tagTables->acceptedRecordCount() == 40; }));
    EXPECT_EQ(cell(LinksModel::Records), "30");
    // Shown again: read at once.
    w.pcReadTag->setActivePage(w.tsLinks);
    EXPECT_TRUE(links->refreshing());
    EXPECT_EQ(cell(LinksModel::Records), "40");

    // Nothing more comes: past the watchdog the row is coloured.
    ASSERT_TRUE(kelta::test::waitFor([&] { return coloured(); }));

    // The end of the run: the row as the link stood then, no more reading.
    w.btnStart->click();
    ASSERT_TRUE(kelta::test::waitFor([&] { return !ctl.runActive(); }));
    EXPECT_FALSE(links->refreshing());
    EXPECT_EQ(cell(LinksModel::Records), "40");
    EXPECT_EQ(cell(LinksModel::State), "open");

    // Another language: the caption, the headers and the words of the cells follow.
    kelta::btnCHTClick(w);
    EXPECT_EQ(w.pcReadTag->tabText(tab), QString::fromUtf8("連線狀態"));
    EXPECT_EQ(w.grdLinks->model()->headerData(LinksModel::Rejected, Qt::Horizontal).toString(),
              QString::fromUtf8("拒收封包"));
    EXPECT_EQ(cell(LinksModel::State), QString::fromUtf8("已連線"));
    EXPECT_EQ(cell(LinksModel::Records), "40");
    kelta::btnEngClick(w);
    EXPECT_EQ(cell(LinksModel::State), "open");
}

} // namespace
