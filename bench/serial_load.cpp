// Load of a monitoring run on serial ports: 1, 4 and 8 simulated readers on pseudo-terminals,
// each sending live reports at 50 and at 200 frames per second. For each case: the report
// frames sent, the records accepted into grdUID, the loss ratio, and how late a click on a
// button is handled while the run goes on (event-loop latency).
//
//   bench_serial_load [seconds per case, default 20]
//
// Runs in a private temporary folder (settings, serial device map, documents); no display
// needed (QT_QPA_PLATFORM=offscreen).

#include "app/frmmodule.h"
#include "click_probe.h"
#include "monitor/run_controller.h"
#include "monitor/tag_tables.h"
#include "reader-sim/sim_host.h"
#include "reader/link_state.h"

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
#include <memory>
#include <vector>

namespace {

using kelta::bench::ClickProbe;
using kelta::bench::nowUs;
using kelta::bench::percentile;

struct Result {
    int readers = 0;
    double rate = 0;
    quint64 sent = 0;
    quint64 accepted = 0;
    std::vector<double> latencyMs;
};

Result runCase(int readers, double rate, int seconds) {
    Result res;
    res.readers = readers;
    res.rate = rate;

    kelta::sim::SimHost host;
    auto window = std::make_unique<kelta::TfrmModule>();
    kelta::monitor::TagTables* tables = window->tagTables.get(); // the window's own
    kelta::monitor::RunController* ctl = window->runController.get();
    window->pcTagMain->setActivePage(window->tsCOM);

    for (int i = 0; i < readers; ++i) {
        kelta::sim::ReaderConfig c;
        c.readerId = static_cast<std::uint16_t>(i + 1);
        c.seed = static_cast<std::uint32_t>(i + 1);
        c.tags.count = 50;
        const int r = host.addReader(c);
        host.openPty(r, i + 1);
        ctl->chkCOM(i + 1)->setChecked(true);
    }

    QPushButton probeButton(QStringLiteral("probe"));
    probeButton.resize(60, 20);
    ClickProbe probe(&probeButton);

    QElapsedTimer clock;
    int phase = 0;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (ctl->runState() != QLatin1String("Stop") || !window->btnStart->isEnabled()) return;
        if (phase == 0) {
            for (int i = 0; i < readers; ++i)
                host.call(i, [rate](kelta::sim::ReaderSim& s) { s.setRate(rate); });
            probe.start();
            clock.start();
            phase = 1;
        } else if (phase == 1 && clock.elapsed() >= seconds * 1000) {
            for (int i = 0; i < readers; ++i)
                host.call(i, [](kelta::sim::ReaderSim& s) { s.setRate(0); });
            res.latencyMs = probe.stop();
            clock.restart();
            phase = 2;
        } else if (phase == 2 && clock.elapsed() >= 1500) {
            // Every port has been visited since the last report was sent.
            phase = 3;
            window->btnStart->click();
        }
    });
    driver.start();
    window->btnStart->click(); // returns when the run has ended

    for (int i = 0; i < readers; ++i) res.sent += host.reader(i).stats().liveFramesSent;
    res.accepted = tables->acceptedRecordCount();
    window.reset();
    host.stop();
    return res;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/kelta-bench-XXXXXX"));
    if (!root.isValid()) return 2;
    const QString home = root.filePath(QStringLiteral("home"));
    QDir().mkpath(home + QStringLiteral("/Documents"));
    QDir().mkpath(root.filePath(QStringLiteral("serial")));
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    qputenv("KELTA_SETTINGS_FILE", root.filePath(QStringLiteral("LR900.ini")).toUtf8());
    qputenv("KELTA_SERIAL_MAP", root.filePath(QStringLiteral("serial")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    std::printf("serial monitoring load, %d s per case\n", seconds);
    std::printf("%7s %6s %9s %9s %7s %9s %9s %9s\n", "readers", "fps", "sent", "accepted", "loss",
                "click p50", "click p99", "click max");
    for (int readers : {1, 4, 8}) {
        for (double rate : {50.0, 200.0}) {
            const Result r = runCase(readers, rate, seconds);
            const double loss =
                r.sent ? 1.0 - static_cast<double>(r.accepted) / static_cast<double>(r.sent) : 0;
            const double worst =
                r.latencyMs.empty() ? 0 : *std::max_element(r.latencyMs.begin(), r.latencyMs.end());
            std::printf("%7d %6.0f %9llu %9llu %6.2f%% %7.1fms %7.1fms %7.1fms\n", r.readers,
                        r.rate, static_cast<unsigned long long>(r.sent),
                        static_cast<unsigned long long>(r.accepted), loss * 100.0,
                        percentile(r.latencyMs, 0.5), percentile(r.latencyMs, 0.99), worst);
            std::fflush(stdout);
        }
    }
    return 0;
}
