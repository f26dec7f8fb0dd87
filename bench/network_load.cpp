// Load of a monitoring run over TCP, the window shown at 1366x768 and painting: 20 simulated
// readers reached by outgoing connections (each listening on its own loopback address
// 127.0.0.n) and 64 simulated readers connecting to the listening server (each from its own
// loopback address), at 20, 100 and 230 frames per second each (230: a full serial line
// forwarded). For each case: report frames sent, records accepted into grdUID, loss, records
// per second, how late a click is handled while the run goes on (p50/p99), and the CPU time of
// the utility's thread per second of run.
//
// The filter "views" runs only the views of a busy run (64 listening x 230 fps), three rounds of:
// the grid alone, the grid with the history chart of five tags open, the Links tab with the
// chart.
//
//   bench_network_load [seconds per case, default 20] [case name filter | views]
//
// Runs in a private temporary folder; no display needed (QT_QPA_PLATFORM=offscreen).

#include "app/frmmodule.h"
#include "app/history_charts.h"
#include "app/history_window.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "click_probe.h"
#include "load_common.h"
#include "reader-sim/sim_host.h"
#include "reader/reader_link.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using kelta::bench::loopback;

// What else the user has on the screen while the run goes on.
enum class Views {
    Grid,         // the tag grid (View All TAG)
    GridAndChart, // and the history chart of five tags in its own window
    LinksAndChart // the Links tab instead of the grid, and the chart
};

QString viewsName(Views v) {
    switch (v) {
    case Views::Grid:
        return {};
    case Views::GridAndChart:
        return QStringLiteral(", chart of 5");
    case Views::LinksAndChart:
        return QStringLiteral(", Links + chart of 5");
    }
    return {};
}

// Opens the chart with the first five tags of the grid (their rows exist once the readers have
// delivered) and, for LinksAndChart, shows the Links tab.
void openViews(kelta::TfrmModule& window, Views views) {
    if (views == Views::Grid) return;
    for (int row = 1; row <= 5 && row < window.grdUID->rowCount(); ++row)
        window.historyCharts->showHistory(window.grdUID->cell(1, row));
    if (auto* chart = window.historyCharts->window()) chart->resize(900, 500);
    if (views == Views::LinksAndChart) window.pcReadTag->setActivePage(window.tsLinks);
}

kelta::bench::LoadResult runCase(bool outgoing, int readers, double rate, int seconds,
                                 Views views = Views::Grid) {
    kelta::bench::LoadResult res;
    res.name = QStringLiteral("%1 %2 x %3 fps%4")
                   .arg(outgoing ? QStringLiteral("outgoing") : QStringLiteral("listening"))
                   .arg(readers)
                   .arg(rate)
                   .arg(viewsName(views));

    kelta::sim::SimHost host;
    auto window = std::make_unique<kelta::TfrmModule>();
    kelta::monitor::RunController& ctl = *window->runController;
    kelta::monitor::TagTables& tables = *window->tagTables;
    kelta::bench::showAsUser(*window);
    const quint16 port = kelta::bench::freePort();

    std::vector<int> all;
    for (int i = 0; i < readers; ++i) {
        const int r = kelta::bench::addReader(host, i);
        all.push_back(r);
        if (outgoing) {
            host.listenTcp(r, port, loopback(i + 1));
            ctl.chkIP(i + 1)->setChecked(true);
            ctl.edIP(i + 1)->setText(loopback(i + 1));
        }
    }
    if (outgoing) {
        window->edtTcpRemotePort->setText(QString::number(port));
        window->pcTagMain->setActivePage(window->tsNET);
    } else {
        window->edtListenPort->setText(QString::number(port));
        window->pcTagMain->setActivePage(window->tsNetServer);
    }

    kelta::bench::Measurement measured;

    kelta::bench::RunPlan plan;
    plan.loadMs = static_cast<qint64>(seconds) * 1000;
    plan.backlogMs = 2000; // time for the backlog to be read
    plan.prepare = [&] {
        if (!outgoing)
            for (int i = 0; i < readers; ++i) host.connectTcpFrom(i, loopback(i + 1), port);
    };
    // All readers connected (the listening side needs a moment for 64 connections).
    plan.ready = [&](qint64 waitedMs) {
        return outgoing || ctl.networkLinks().highestAcceptedReader >= readers || waitedMs >= 5000;
    };
    plan.begin = [&] {
        kelta::bench::setRate(host, all, rate);
        measured.start();
    };
    plan.during = [&, opened = false](qint64 sinceBeginMs) mutable {
        // A second into the load every reader has delivered: the views open with those tags.
        if (opened || sinceBeginMs < 1000) return;
        opened = true;
        openViews(*window, views);
    };
    plan.end = [&] {
        kelta::bench::setRate(host, all, 0);
        measured.stop(res);
    };
    kelta::bench::driveRun(*window, plan);

    for (int i = 0; i < readers; ++i) res.sent += host.reader(i).stats().liveFramesSent;
    res.accepted = tables.acceptedRecordCount();
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

    std::printf("network monitoring load, %d s per case, window shown 1366x768\n", seconds);
    kelta::bench::printHeader();
    for (const auto& [outgoing, readers] : {std::pair{true, 20}, std::pair{false, 64}}) {
        for (double rate : {20.0, 100.0, 230.0}) {
            const QString name =
                QStringLiteral("%1 %2 x %3 fps")
                    .arg(outgoing ? QStringLiteral("outgoing") : QStringLiteral("listening"))
                    .arg(readers)
                    .arg(rate);
            if (!filter.isEmpty() && !name.contains(filter)) continue;
            kelta::bench::printResult(runCase(outgoing, readers, rate, seconds));
        }
    }
    // The views of a busy run: the chart and the Links tab against the grid alone, in turn.
    if (filter.isEmpty() || filter == QStringLiteral("views")) {
        for (int round = 0; round < 3; ++round)
            for (Views v : {Views::Grid, Views::GridAndChart, Views::LinksAndChart})
                kelta::bench::printResult(runCase(false, 64, 230.0, seconds, v));
    }
    return 0;
}
