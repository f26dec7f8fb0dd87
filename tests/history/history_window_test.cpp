// The chart window of tag histories, on the real window and a real run: reports through a
// pseudo-terminal, the chart opened from the grid's context menu and the list's key, its lines
// compared point for point with the values the decoder made from the same frames; the CSV
// file; the bounds and the value under the pointer on a store of its own.

#include "app/frmmodule.h"
#include "app/history_charts.h"
#include "app/history_window.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "monitor/proto/report_decoder.h"
#include "proto_decode/frames.h"
#include "support/report_frames.h"
#include "support/scratch_files.h"
#include "support/waits.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

using kelta::HistoryQuantity;
using kelta::HistoryWindow;
using kelta::monitor::DecodedTagRecord;
using kelta::monitor::SensorKind;
using kelta::monitor::SensorSlot;
using kelta::monitor::TagHistory;
using kelta::test::waitFor;

// Four tags, one of each reading layout: temperature and humidity, two probes, a counter,
// and a model without readings. Values change from frame to frame.
std::vector<kelta::sim::Bytes> mixedReports(int perTag) {
    std::vector<kelta::sim::Bytes> out;
    for (int i = 0; i < perTag; ++i)
        for (int tag = 0; tag < 4; ++tag) {
            kelta::sim::TagReading r;
            r.readerId = 7;
            r.uid = kelta::test::uidOf(static_cast<std::uint16_t>(0x2001 + tag));
            r.rssi = static_cast<std::uint8_t>(30 + (i * 7 + tag) % 200);
            r.battery = static_cast<std::uint8_t>(100 - (i + tag) % 50);
            r.model = 0x11; // a model with readings
            switch (tag) {
            case 0:
                r.d1 = static_cast<std::uint16_t>(0x8000 | (6000 + 13 * i));
                r.d2 = static_cast<std::uint16_t>(1000 + 17 * i);
                break;
            case 1:
                r.d1 = static_cast<std::uint16_t>(800 + 3 * i);
                r.d2 = static_cast<std::uint16_t>(0x2000 + 5 * i);
                break;
            case 2:
                r.d1 = 0x4000;
                r.d2 = static_cast<std::uint16_t>(((i / 10 % 10) << 4) | (i % 10));
                break;
            default:
                r.model = 0xA1;
                break;
            }
            kelta::sim::HeaderOptions h;
            h.readerId = 7;
            out.push_back(kelta::sim::encodeLiveFrame(r, kelta::sim::kTypeLive, h));
        }
    return out;
}

// The records the decoder makes of the frames, by UID.
std::map<QString, std::vector<DecodedTagRecord>>
decodedByUid(const std::vector<kelta::sim::Bytes>& frames) {
    testframes::CollectingSink sink;
    for (const auto& f : frames)
        kelta::monitor::SplitReportBlock(kelta::monitor::DecodeMode::Live,
                                         kelta::monitor::LinkKind::Serial, "06", f, sink);
    std::map<QString, std::vector<DecodedTagRecord>> out;
    for (const auto& r : sink.records) out[QString::fromStdString(r.uid)].push_back(r);
    return out;
}

std::vector<double> ys(const QLineSeries* s) {
    std::vector<double> out;
    if (s)
        for (const QPointF& p : s->points()) out.push_back(p.y());
    return out;
}

// Every line of the tag holds exactly the values of its records, in order, at the same times.
void expectLinesHold(const HistoryWindow& win, const QString& uid,
                     const std::vector<DecodedTagRecord>& records) {
    std::map<std::pair<HistoryQuantity, SensorSlot>, std::vector<double>> want;
    for (const DecodedTagRecord& r : records) {
        want[{HistoryQuantity::Rssi, SensorSlot::D1H}].push_back(r.values.rssi);
        want[{HistoryQuantity::Battery, SensorSlot::D1H}].push_back(r.values.battery);
        for (std::size_t k = 0; k < r.values.sensorCount; ++k) {
            const auto& s = r.values.sensors[k];
            const HistoryQuantity q = s.kind == SensorKind::Temperature
                                          ? HistoryQuantity::Temperature
                                      : s.kind == SensorKind::Humidity ? HistoryQuantity::Humidity
                                                                       : HistoryQuantity::Counter;
            const SensorSlot slot = q == HistoryQuantity::Temperature ? s.slot : SensorSlot::D1H;
            want[{q, slot}].push_back(static_cast<double>(s.value));
        }
    }
    for (const auto& [key, values] : want)
        EXPECT_EQ(ys(win.series(uid, key.first, key.second)), values)
            << uid.toStdString() << " quantity " << int(key.first) << " slot " << int(key.second);
    // No line the records do not have.
    for (int q = 0; q < kelta::kHistoryQuantities; ++q)
        for (SensorSlot slot : {SensorSlot::D1H, SensorSlot::D2H})
            if (!want.count({HistoryQuantity(q), slot}) &&
                (q == int(HistoryQuantity::Temperature) || slot == SensorSlot::D1H)) {
                EXPECT_EQ(win.series(uid, HistoryQuantity(q), slot), nullptr)
                    << uid.toStdString() << " quantity " << q;
            }
    // One time per record, the same in every line of it, never going back.
    const QLineSeries* rssi = win.series(uid, HistoryQuantity::Rssi);
    const QLineSeries* battery = win.series(uid, HistoryQuantity::Battery);
    ASSERT_TRUE(rssi && battery);
    for (int i = 0; i < rssi->count(); ++i) {
        EXPECT_EQ(rssi->at(i).x(), battery->at(i).x());
        if (i) {
            EXPECT_GE(rssi->at(i).x(), rssi->at(i - 1).x());
        }
    }
}

QString uidText(int tag) {
    return QStringLiteral("%1").arg(0x2001 + tag, 16, 16, QLatin1Char('0')).toUpper();
}

TEST(HistoryWindow, FollowsTheRunAndHoldsExactlyTheValuesPostedForEachTag) {
    const int perTag = 60;
    const auto frames = mixedReports(perTag);
    const auto want = decodedByUid(frames);
    ASSERT_EQ(want.size(), 4u);
    for (int tag = 0; tag < 4; ++tag) ASSERT_EQ(want.at(uidText(tag)).size(), std::size_t(perTag));

    auto window = std::make_unique<kelta::TfrmModule>();
    kelta::TfrmModule& w = *window;
    w.edtSaveFile->setText(kelta::test::scratchFolder("history", "run") + "/Kelta.csv");
    w.edtEvenLogFile->setText(kelta::test::scratchFolder("history", "events") + "/log.csv");
    w.show();
    w.pcTagMain->setActivePage(w.tsCOM);

    // The chart of the first tag is open before its first report: it fills as the run goes.
    w.historyCharts->showHistory(uidText(0));
    HistoryWindow* chart = w.historyCharts->window();
    ASSERT_NE(chart, nullptr);
    EXPECT_TRUE(chart->isVisible());
    EXPECT_EQ(chart->tags(), QStringList{uidText(0)});

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    kelta::monitor::RunController& ctl = *w.runController;
    {
        kelta::test::MappedPty com(6);
        ctl.chkCOM(6)->setChecked(true);
        w.btnStart->click();
        ASSERT_TRUE(waitFor([&] { return ctl.passCount() > 0; }));
        ASSERT_TRUE(com.pty().send(kelta::test::joined(frames)));
        ASSERT_TRUE(waitFor([&] { return w.tagTables->acceptedRecordCount() >= frames.size(); }))
            << w.tagTables->acceptedRecordCount();
        // While the run still goes on, the chart's timer brings the lines up to date.
        ASSERT_TRUE(waitFor([&] {
            const QLineSeries* s = chart->series(uidText(0), HistoryQuantity::Rssi);
            return s && s->count() == perTag;
        }));
        EXPECT_EQ(ctl.runState(), "Stop");
        w.btnStart->click();
        ASSERT_TRUE(waitFor([&] { return ctl.runState() == "Start"; }));
    }
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    expectLinesHold(*chart, uidText(0), want.at(uidText(0)));
    const QLineSeries* rssi = chart->series(uidText(0), HistoryQuantity::Rssi);
    EXPECT_GE(rssi->at(0).x(), double(before));
    EXPECT_LE(rssi->at(rssi->count() - 1).x(), double(after));

    // "History" in the grid's context menu adds the second tag to the open chart.
    w.tagTables->flushViews();
    w.grdUID->flush();
    int row = -1;
    for (int r = 1; r < w.grdUID->rowCount(); ++r)
        if (w.grdUID->cell(1, r) == uidText(1)) row = r;
    ASSERT_GT(row, 0);
    const QPoint pos = w.grdUID->visualRect(w.grdUID->model()->index(row - 1, 1)).center();
    EXPECT_EQ(kelta::HistoryCharts::uidAt(w.grdUID, &pos), uidText(1));
    emit w.grdUID->customContextMenuRequested(pos);
    auto* menu = w.grdUID->findChild<QMenu*>(QStringLiteral("mnuHistory"));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->shortcut(), kelta::HistoryCharts::key());
    menu->actions().first()->trigger();
    menu->close();

    // The key on the list of seen tags adds the third.
    QListWidgetItem* third = nullptr;
    for (int i = 0; i < w.lvTag->count(); ++i)
        if (w.lvTag->item(i)->text() == uidText(2)) third = w.lvTag->item(i);
    ASSERT_NE(third, nullptr);
    w.lvTag->setCurrentItem(third);
    QAction* key = nullptr;
    for (QAction* a : w.lvTag->actions())
        if (a->shortcut() == kelta::HistoryCharts::key()) key = a;
    ASSERT_NE(key, nullptr);
    key->trigger();

    EXPECT_EQ(chart->tags(), (QStringList{uidText(0), uidText(1), uidText(2)}));
    for (int tag = 0; tag < 3; ++tag) expectLinesHold(*chart, uidText(tag), want.at(uidText(tag)));
    EXPECT_EQ(chart->series(uidText(3), HistoryQuantity::Rssi), nullptr) << "never added";
    EXPECT_TRUE(chart->chartView(HistoryQuantity::Humidity)->isVisible());
    EXPECT_TRUE(chart->chartView(HistoryQuantity::Counter)->isVisible());

    // The CSV file: a header, then one row per sample of each tag in chart order, the
    // readings as their grid texts show them.
    const QString dir = kelta::test::scratchFolder("history", "save");
    ASSERT_TRUE(chart->saveCsv(dir + "/history.csv"));
    const QStringList lines = kelta::test::fileLines(dir + "/history.csv");
    ASSERT_EQ(lines.size(), 1 + 3 * perTag);
    EXPECT_EQ(lines[0], QString::fromUtf8("UID,Time,RSSI,Battery,Temperature 1 (°C),"
                                          "Temperature 2 (°C),Humidity (%),Counter\r"));
    for (int tag = 0; tag < 3; ++tag)
        for (int i = 0; i < perTag; ++i) {
            const DecodedTagRecord& r = want.at(uidText(tag))[std::size_t(i)];
            const QStringList f = lines[1 + tag * perTag + i].trimmed().split(',');
            ASSERT_EQ(f.size(), 8) << lines[1 + tag * perTag + i].toStdString();
            EXPECT_EQ(f[0], uidText(tag));
            EXPECT_EQ(QDateTime::fromString(f[1], "yyyy/MM/dd hh:mm:ss.zzz").toMSecsSinceEpoch(),
                      qint64(chart->series(uidText(tag), HistoryQuantity::Rssi)->at(i).x()));
            EXPECT_EQ(f[2], QString::fromStdString(r.rssi));
            EXPECT_EQ(f[3], QString::fromStdString(r.battery));
            QStringList readings(4);
            for (std::size_t k = 0; k < r.values.sensorCount; ++k) {
                const auto& s = r.values.sensors[k];
                const int col = s.kind == SensorKind::Temperature ? (s.slot == SensorSlot::D2H)
                                : s.kind == SensorKind::Humidity  ? 2
                                                                  : 3;
                readings[col] = QString::fromStdString(kelta::monitor::SensorValueText(s));
            }
            EXPECT_EQ(f.mid(4), readings) << tag << " #" << i;
        }

    ASSERT_TRUE(chart->savePng(dir + "/history.png"));
    const QImage picture(dir + "/history.png");
    EXPECT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), 100);
    EXPECT_FALSE(chart->savePng(dir + "/no/such/folder/history.png"));
    EXPECT_FALSE(chart->saveCsv(dir + "/no/such/folder/history.csv"));

    // Closed and opened again: a fresh chart with just the tag asked for.
    chart->close();
    w.historyCharts->showHistory(uidText(3));
    EXPECT_EQ(chart->tags(), QStringList{uidText(3)});
    expectLinesHold(*chart, uidText(3), want.at(uidText(3)));
    window.reset();
}

kelta::monitor::TagValues rssiSample(TagHistory::Uid uid, int n) {
    kelta::monitor::TagValues v;
    for (int i = 0; i < 8; ++i) v.uid[std::size_t(i)] = std::uint8_t(uid >> (56 - 8 * i));
    v.rssi = static_cast<std::uint8_t>(n);
    v.battery = static_cast<std::uint8_t>(200 - n);
    return v;
}

// The lines drop what the store drops, and the pointer names the point under it.
TEST(HistoryWindow, LinesFollowTheBoundsAndThePointerShowsTheNearestValue) {
    TagHistory h({50, std::size_t{1} << 30});
    HistoryWindow win(h);
    const TagHistory::Uid uid = 0xABCD;
    const QString text = TagHistory::uidText(uid);
    ASSERT_TRUE(win.addTag(text.toLower()));
    EXPECT_FALSE(win.addTag("not a uid"));
    win.resize(900, 700);
    win.show();
    const qint64 t0 = 1'800'000'000'000;
    for (int n = 0; n < 120; ++n) {
        h.add(rssiSample(uid, n), t0 + 1000 * n);
        if (n % 7 == 0) win.refresh();
    }
    win.refresh();
    std::vector<double> want;
    for (int n = 70; n < 120; ++n) want.push_back(n);
    QLineSeries* s = win.series(text, HistoryQuantity::Rssi);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ys(s), want);
    EXPECT_EQ(s->at(0).x(), double(t0 + 70000));
    EXPECT_EQ(win.series(text, HistoryQuantity::Battery)->count(), 50);

    // The pointer over a point shows that point, in the label under the plots too.
    QChartView* view = win.chartView(HistoryQuantity::Rssi);
    QChart* chart = win.chart(HistoryQuantity::Rssi);
    ASSERT_TRUE(waitFor([&] { return chart->plotArea().width() > 100; }));
    const QPointF point = s->at(20);
    const QPoint at = view->mapFromScene(chart->mapToScene(chart->mapToPosition(point, s)));
    const QString shown = win.valueAt(HistoryQuantity::Rssi, at);
    const QString time =
        QDateTime::fromMSecsSinceEpoch(t0 + 90000).toString("yyyy/MM/dd hh:mm:ss.zzz");
    EXPECT_TRUE(shown.contains(text)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(time)) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(" 90")) << shown.toStdString();
    QMouseEvent move(QEvent::MouseMove, QPointF(at), view->viewport()->mapToGlobal(QPointF(at)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    EXPECT_EQ(win.lblHistoryValue->text(), shown);
    EXPECT_TRUE(win.valueAt(HistoryQuantity::Rssi, QPoint(1, 1)).isEmpty()) << "outside the plot";

    // Another tag takes the whole total: this tag's line empties with its samples.
    TagHistory small({2000, 4 * TagHistory::blockBytes() + 2 * TagHistory::kTagBytes});
    HistoryWindow win2(small);
    win2.addTag(text);
    for (int n = 0; n < 100; ++n) small.add(rssiSample(uid, n), t0 + n);
    win2.refresh();
    EXPECT_EQ(win2.series(text, HistoryQuantity::Rssi)->count(), 100);
    for (int n = 0; n < 1000; ++n) small.add(rssiSample(0x1111, n % 256), t0 + 1000 + n);
    win2.refresh();
    EXPECT_EQ(small.count(uid), 0u);
    EXPECT_EQ(win2.series(text, HistoryQuantity::Rssi)->count(), 0);
}

} // namespace
