// Posting speed of the tag tables: records per second into the live grid for 100, 1,000 and
// 10,000 distinct tags already listed, with and without the auto-save file, with no selection
// and with 200 selected tags; and for 10,000 tags that are new (each record adds a row, an lvTag
// item and an index entry) with the window shown. Each record is followed by one pass of the
// event loop, as during a run. Last, a run over TCP in which one reader reports 10,000 new tags
// at 1,000 frames per second, the window shown at 1366x768: records, click latency, CPU time
// and how long records still come in after a Stop clicked at full load.
#include "app/tag_tables.h"

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "load_common.h"
#include "platform/wait_pump.h"
#include "reader-sim/sim_host.h"
#include "reader/link_state.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>

using namespace kelta;
using kelta::monitor::DecodedTagRecord;
using kelta::monitor::DecodeMode;

namespace {

std::string UidText(int i) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016X", 0x10000000U + static_cast<unsigned>(i));
    return buf;
}

DecodedTagRecord Record(int i) {
    DecodedTagRecord r;
    r.readerId = "0007";
    r.uid = UidText(i);
    r.rssi = std::to_string(40 + i % 50);
    r.lqi = "60";
    r.tagVer = "30";
    r.packet = "10100101";
    r.model = "33";
    r.keyNo = "12";
    r.group = "254";
    r.sState = "10000001";
    r.battery = "99";
    r.isnH = "60";
    r.isnL = "195";
    r.d1h = "1234";
    r.d1l = "18";
    r.d2h = "ABCD";
    r.d2l = "52";
    return r;
}

// args: distinct tags, auto-save on, selected tags, pump after each record
void BM_PostLive(benchmark::State& state) {
    const int tags = static_cast<int>(state.range(0));
    const bool autoSave = state.range(1) != 0;
    const int selected = static_cast<int>(state.range(2));
    const bool pump = state.range(3) != 0;

    QTemporaryDir dir;
    auto window = std::make_unique<TfrmModule>();
    monitor::TagTables* tables = window->tagTables.get(); // the window's own
    window->edtSaveFile->setText(dir.filePath("Kelta.csv"));
    window->edtEvenLogFile->setText(dir.filePath("log.csv"));
    window->chbAutoSave->setChecked(autoSave);
    for (int i = 0; i < selected; ++i)
        window->lvSel->addItem(QString::fromStdString(UidText(i * (tags / selected))));
    tables->btnClearClick();
    tables->setCurrentTagGrid(window->grdUID);

    std::vector<DecodedTagRecord> records;
    records.reserve(static_cast<std::size_t>(tags));
    for (int i = 0; i < tags; ++i) records.push_back(Record(i));
    // Every tag seen once before timing: the grid holds `tags` rows.
    for (const auto& r : records) tables->PostTagRecord(r, DecodeMode::Live);

    std::size_t next = 0;
    for (auto _ : state) {
        tables->PostTagRecord(records[next], DecodeMode::Live);
        if (pump) PumpEvents();
        if (++next == records.size()) next = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rows"] = window->grdUID->rowCount() - 1;
    window.reset();
}

void Args(benchmark::internal::Benchmark* b) {
    for (int pump : {1, 0})
        for (int selected : {0, 200})
            for (int autoSave : {0, 1})
                for (int tags : {100, 1000, 10000}) b->Args({tags, autoSave, selected, pump});
    b->ArgNames({"tags", "autosave", "selected", "pump"});
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_PostLive)->Apply(Args);

// 10,000 tags, each new when it is posted: the cost of a first report.
void BM_PostNewTags(benchmark::State& state) {
    const int tags = static_cast<int>(state.range(0));
    std::vector<DecodedTagRecord> records;
    records.reserve(static_cast<std::size_t>(tags));
    for (int i = 0; i < tags; ++i) records.push_back(Record(i));
    for (auto _ : state) {
        state.PauseTiming();
        auto window = std::make_unique<TfrmModule>();
        monitor::TagTables* tables = window->tagTables.get();
        bench::showAsUser(*window);
        tables->btnClearClick();
        tables->setCurrentTagGrid(window->grdUID);
        state.ResumeTiming();
        for (const auto& r : records) {
            tables->PostTagRecord(r, DecodeMode::Live);
            PumpEvents();
        }
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * tags);
}
BENCHMARK(BM_PostNewTags)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// One reader over TCP reporting `tags` different tags in turn at `rate` frames per second;
// Stop is clicked after `seconds`, while the reports still come in.
bench::LoadResult newTagsRun(int tags, double rate, int seconds) {
    bench::LoadResult res;
    res.name = QStringLiteral("tcp %1 new tags at %2 fps").arg(tags).arg(rate);
    sim::SimHost host;
    auto window = std::make_unique<TfrmModule>();
    monitor::RunController& ctl = *window->runController;
    monitor::TagTables& tables = *window->tagTables;
    bench::showAsUser(*window);
    const quint16 port = bench::freePort();
    sim::ReaderConfig c;
    c.readerId = 1;
    c.tags.count = tags;
    const int r = host.addReader(c);
    host.listenTcp(r, port, bench::loopback(1));
    ctl.chkIP(1)->setChecked(true);
    ctl.edIP(1)->setText(bench::loopback(1));
    window->edtTcpRemotePort->setText(QString::number(port));
    window->pcTagMain->setActivePage(window->tsNET);

    bench::Measurement measured;
    QElapsedTimer sinceStop;
    quint64 acceptedAtStop = 0;
    bench::RunPlan plan;
    plan.loadMs = static_cast<qint64>(seconds) * 1000;
    plan.backlogMs = 0; // Stop while the reports still come in
    plan.tickMs = 5;
    plan.begin = [&] {
        bench::setRate(host, {r}, rate);
        measured.start();
    };
    plan.end = [&] {
        measured.stop(res);
        res.sent = host.reader(r).stats().liveFramesSent;
        res.accepted = tables.acceptedRecordCount();
        acceptedAtStop = res.accepted;
        res.stopMs = 0;
        sinceStop.start();
    };
    plan.afterStop = [&] {
        if (tables.acceptedRecordCount() != acceptedAtStop) {
            acceptedAtStop = tables.acceptedRecordCount();
            res.stopMs = static_cast<double>(sinceStop.nsecsElapsed()) / 1e6;
        }
    };
    bench::driveRun(*window, plan);

    // New tags are listed in the order they first came and the reader reports its tags in
    // turn: a tag missing before the last one listed is a record lost; those after it were
    // still on their way when Stop was clicked.
    std::vector<QString> order;
    host.call(r, [&](sim::ReaderSim& reader) {
        for (const sim::TagProfile& t : reader.population().tags())
            order.push_back(QString::fromStdString(sim::uidHex(t.uid)));
    });
    const monitor::CellTable& live = tables.store().liveTable();
    QSet<QString> listed;
    for (int c = 0; c < live.cols(); ++c) {
        if (live.ref(c, 0) != QLatin1String("UID")) continue;
        for (int row = 1; row < live.rows(); ++row) listed.insert(live.ref(c, row));
    }
    std::size_t last = 0, gaps = 0;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (listed.contains(order[i])) last = i + 1;
    for (std::size_t i = 0; i < last; ++i)
        if (!listed.contains(order[i])) ++gaps;
    std::printf("  %zu tags listed; %zu missing before the last listed; %zu not yet read at Stop\n",
                static_cast<std::size_t>(listed.size()), gaps,
                static_cast<std::size_t>(res.sent > res.accepted ? res.sent - res.accepted : 0));
    window.reset();
    host.stop();
    return res;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/kelta-bench-XXXXXX"));
    if (!kelta::bench::privateEnvironment(root)) return 2;
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Records sent and accepted up to the Stop click; "stop": the last record taken after it.
    std::printf("\ntag tables under load, window shown 1366x768\n");
    kelta::bench::printHeader();
    kelta::bench::printResult(newTagsRun(10000, 1000.0, 10));
    return 0;
}
