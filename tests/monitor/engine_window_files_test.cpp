// The window's run and the engine run on its own, fed the same reports, write the same
// auto-save file (apart from the date and time of each line) and hold the same rows.

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "monitor/monitor_engine.h"
#include "monitor/tag_store.h"
#include "support/report_frames.h"
#include "support/waits.h"

#include <QCheckBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

using kelta::monitor::MonitorEngine;
using kelta::monitor::MonitorEvents;
using kelta::monitor::RunConfig;
using kelta::monitor::TagStore;

using kelta::test::fileLines;


// A line without its last two fields (the date and time it was written).
QString undated(const QString& line) {
    return line.section(QLatin1Char(','), 0, -3);
}

// Sends `stream` once the run is in its loop, and stops it when `done` says so (or after
// 15 s); `passes` and `stop` reach the run.
void feedAndStop(kelta::test::PtyPair& pty, const kelta::sim::Bytes& stream,
                 const std::function<std::uint64_t()>& passes, const std::function<bool()>& done,
                 const std::function<void()>& stop, const std::function<void()>& start) {
    bool sent = false, stopped = false;
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (stopped || passes() == 0) return;
        if (!sent) sent = pty.send(stream);
        if (done() || ++ticks > 3000) {
            stopped = true;
            stop();
        }
    });
    timer.start();
    start(); // returns at once; the run goes on in the event loop until `stop`
    EXPECT_TRUE(kelta::test::waitFor([&] { return stopped; }));
}

TEST(EngineAndWindow, SameReportsGiveTheSameAutoSaveLinesAndRows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto frames = kelta::test::liveReports(40, 6);
    const auto stream = kelta::test::joined(frames);

    // The window's run.
    auto window = std::make_unique<kelta::TfrmModule>();
    kelta::monitor::RunController& ctl = *window->runController;
    kelta::monitor::TagTables& tables = *window->tagTables;
    window->edtSaveFile->setText(dir.filePath("window/Kelta.csv"));
    window->edtEvenLogFile->setText(dir.filePath("window/events.csv"));
    window->chbAutoSave->setChecked(true);
    window->pcTagMain->setActivePage(window->tsCOM);
    {
        kelta::test::MappedPty com(6);
        ctl.chkCOM(6)->setChecked(true);
        feedAndStop(
            com.pty(), stream, [&] { return ctl.passCount(); },
            [&] { return tables.acceptedRecordCount() >= frames.size(); },
            [&] { window->btnStart->click(); }, [&] { window->btnStart->click(); });
    }
    ASSERT_EQ(tables.acceptedRecordCount(), frames.size());

    // The engine alone.
    TagStore store;
    MonitorEvents quiet;
    MonitorEngine engine(store, quiet);
    RunConfig c;
    c.linkMode = RunConfig::kSerial;
    c.serialPorts[6] = true;
    c.autoSave = true;
    c.autoSaveFile = dir.filePath("engine/Kelta.csv");
    c.eventLogFile = dir.filePath("engine/events.csv");
    {
        kelta::test::MappedPty com(6);
        feedAndStop(
            com.pty(), stream, [&] { return engine.passCount(); },
            [&] { return store.acceptedRecordCount() >= frames.size(); }, [&] { engine.stop(); },
            [&] {
                engine.prepareStore(c);
                engine.start(c);
            });
    }
    ASSERT_EQ(store.acceptedRecordCount(), frames.size());

    const QStringList a = fileLines(dir.filePath("window/Kelta.csv"));
    const QStringList b = fileLines(c.autoSaveFile);
    ASSERT_EQ(a.size(), static_cast<int>(frames.size()) + 1);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(a.first(), b.first());
    for (int i = 1; i < a.size(); ++i) EXPECT_EQ(undated(a[i]), undated(b[i])) << i;

    // The grid the window shows and the engine's table, cell for cell.
    const kelta::StringGrid& grid = *window->grdUID;
    ASSERT_EQ(grid.rowCount(), store.liveTable().rows());
    for (int r = 1; r < grid.rowCount(); ++r)
        for (int col = 0; col < grid.colCount(); ++col)
            EXPECT_EQ(grid.cell(col, r), store.liveTable().text(col, r)) << r << "," << col;
}

} // namespace
