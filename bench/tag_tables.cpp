// Posting speed of the tag tables: records per second into the live grid for 100, 1,000 and
// 10,000 distinct tags, with and without the auto-save file, with no selection and with 200
// selected tags. Each record is followed by one pass of the event loop, as during a run.
#include "monitor/tag_tables.h"

#include "app/frmmodule.h"
#include "app/wait_pump.h"
#include "reader/link_state.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
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

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
