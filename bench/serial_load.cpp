// Load of a monitoring run on serial ports, the window shown at 1366x768 and painting:
//  - 1, 4 and 8 simulated readers on pseudo-terminals at 50 and at 200 frames per second;
//  - line rate: 1, 8 and 30 readers each writing 11,520 bytes a second (a full 115200 baud
//    line) in writes paced every 20 ms, and 1 such reader among 30 checked ports whose other
//    29 readers stay silent.
// For each case: report frames sent, records accepted into grdUID, loss, records per second,
// how late a click is handled while the run goes on (p50/p99), the CPU time of the utility's
// thread per second of run, and how long after a Stop click records still came in.
//
//   bench_serial_load [seconds per case, default 20] [case name filter]
//
// Runs in a private temporary folder (settings, serial device map, documents).

#include "app/frmmodule.h"
#include "click_probe.h"
#include "load_common.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "reader-sim/sim_host.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

namespace {

using kelta::bench::kLineBytesPerSecond;
using kelta::bench::liveFrameBytes;
using kelta::bench::LoadResult;
using kelta::bench::Pacer;

struct Case {
    QString name;
    int busy = 1;          // readers sending
    int silent = 0;        // further checked ports whose reader sends nothing
    double rate = 0;       // frames per second of each busy reader (sim pacing), or
    bool lineRate = false; // 11,520 B/s of each busy reader in 20 ms writes
};

LoadResult runCase(const Case& k, int seconds) {
    LoadResult res;
    res.name = k.name;

    kelta::sim::SimHost host;
    auto window = std::make_unique<kelta::TfrmModule>();
    kelta::monitor::TagTables* tables = window->tagTables.get(); // the window's own
    kelta::monitor::RunController* ctl = window->runController.get();
    kelta::bench::showAsUser(*window); // restores the stored link page: choose it afterwards
    window->pcTagMain->setActivePage(window->tsCOM);

    const int readers = k.busy + k.silent;
    for (int i = 0; i < readers; ++i) {
        host.openPty(kelta::bench::addReader(host, i), i + 1);
        ctl->chkCOM(i + 1)->setChecked(true);
    }
    std::vector<int> busy;
    for (int i = 0; i < k.busy; ++i) busy.push_back(i);

    kelta::bench::Measurement measured;

    std::unique_ptr<Pacer> pacer;
    QElapsedTimer sinceStop;
    quint64 acceptedAtStop = 0;
    kelta::bench::RunPlan plan;
    plan.loadMs = static_cast<qint64>(seconds) * 1000;
    plan.backlogMs = 1500; // every port has had the time to be read since the last report
    plan.tickMs = 5;
    plan.begin = [&] {
        if (k.lineRate)
            pacer = std::make_unique<Pacer>(host, busy, kLineBytesPerSecond, liveFrameBytes());
        else
            kelta::bench::setRate(host, busy, k.rate);
        measured.start();
    };
    plan.end = [&] {
        measured.stop(res);
        pacer.reset();
        kelta::bench::setRate(host, busy, 0);
    };
    plan.stopping = [&] {
        for (int i : busy) res.sent += host.reader(i).stats().liveFramesSent;
        acceptedAtStop = tables->acceptedRecordCount();
        sinceStop.start();
    };
    plan.afterStop = [&] {
        // After Stop: when did the last record come in?
        if (tables->acceptedRecordCount() != acceptedAtStop) {
            acceptedAtStop = tables->acceptedRecordCount();
            res.stopMs = static_cast<double>(sinceStop.nsecsElapsed()) / 1e6;
        }
    };
    kelta::bench::driveRun(*window, plan);

    res.accepted = tables->acceptedRecordCount();
    window.reset();
    host.stop();
    return res;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/kelta-bench-XXXXXX"));
    if (!kelta::bench::privateEnvironment(root)) return 2;
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const QString filter = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    std::vector<Case> cases;
    for (int readers : {1, 4, 8})
        for (double rate : {50.0, 200.0})
            cases.push_back({QStringLiteral("serial %1 x %2 fps").arg(readers).arg(rate), readers,
                             0, rate, false});
    for (int readers : {1, 8, 30})
        cases.push_back(
            {QStringLiteral("serial line rate %1 readers").arg(readers), readers, 0, 0, true});
    cases.push_back({QStringLiteral("serial line rate 1 + 29 silent"), 1, 29, 0, true});

    std::printf("serial monitoring load, %d s per case, window shown 1366x768, frame %d bytes\n",
                seconds, liveFrameBytes());
    kelta::bench::printHeader();
    for (const Case& k : cases) {
        if (!filter.isEmpty() && !k.name.contains(filter)) continue;
        kelta::bench::printResult(runCase(k, seconds));
    }
    return 0;
}
