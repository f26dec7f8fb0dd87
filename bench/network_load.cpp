// Load of a monitoring run over TCP: 20 simulated readers reached by outgoing connections
// (each listening on its own loopback address 127.0.0.n) and 64 simulated readers connecting
// to the listening server (each from its own loopback address), at 20 and at 100 frames per
// second each. For each case: report frames sent, records accepted into grdUID, the loss
// ratio, how late a click is handled while the run goes on (event-loop latency), and the CPU
// time of the utility's thread per second of run.
//
//   bench_network_load [seconds per case, default 20]
//
// Runs in a private temporary folder; no display needed (QT_QPA_PLATFORM=offscreen).

#include "app/frmmodule.h"
#include "click_probe.h"
#include "monitor/run_controller.h"
#include "monitor/tag_tables.h"
#include "reader-sim/sim_host.h"
#include "reader/reader_link.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTcpServer>
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

using kelta::bench::ClickProbe;
using kelta::bench::nowUs;
using kelta::bench::percentile;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

quint16 freePort() {
    QTcpServer s;
    if (!s.listen(QHostAddress(QHostAddress::LocalHost), 0)) return 0;
    return s.serverPort();
}

QString loopback(int n) {
    return QStringLiteral("127.0.0.%1").arg(n);
}

struct Result {
    const char* side = "";
    int readers = 0;
    double rate = 0;
    quint64 sent = 0;
    quint64 accepted = 0;
    double cpuPerSecond = 0;
    std::vector<double> latencyMs;
};

Result runCase(bool outgoing, int readers, double rate, int seconds) {
    Result res;
    res.side = outgoing ? "out" : "in";
    res.readers = readers;
    res.rate = rate;

    kelta::sim::SimHost host;
    auto window = std::make_unique<kelta::TfrmModule>();
    kelta::monitor::RunController& ctl = *window->runController;
    kelta::monitor::TagTables& tables = *window->tagTables;
    const quint16 port = freePort();

    for (int i = 0; i < readers; ++i) {
        kelta::sim::ReaderConfig c;
        c.readerId = static_cast<std::uint16_t>(i + 1);
        c.seed = static_cast<std::uint32_t>(i + 1);
        c.tags.count = 50;
        const int r = host.addReader(c);
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

    QPushButton probeButton(QStringLiteral("probe"));
    probeButton.resize(60, 20);
    ClickProbe probe(&probeButton);

    QElapsedTimer clock;
    double cpuStart = 0;
    int phase = 0;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (ctl.runState() != QLatin1String("Stop") || !window->btnStart->isEnabled() ||
            ctl.passCount() == 0)
            return;
        if (phase == 0) {
            if (!outgoing) {
                for (int i = 0; i < readers; ++i) host.connectTcpFrom(i, loopback(i + 1), port);
                clock.start();
                phase = 1;
                return;
            }
            phase = 1;
            clock.start();
        }
        if (phase == 1) {
            // All readers connected (the listening side needs a moment for 64 connections).
            if (!outgoing && ctl.networkLinks().highestAcceptedReader < readers &&
                clock.elapsed() < 5000)
                return;
            for (int i = 0; i < readers; ++i)
                host.call(i, [rate](kelta::sim::ReaderSim& s) { s.setRate(rate); });
            probe.start();
            cpuStart = threadCpuSeconds();
            clock.restart();
            phase = 2;
        } else if (phase == 2 && clock.elapsed() >= seconds * 1000) {
            for (int i = 0; i < readers; ++i)
                host.call(i, [](kelta::sim::ReaderSim& s) { s.setRate(0); });
            res.latencyMs = probe.stop();
            res.cpuPerSecond = (threadCpuSeconds() - cpuStart) / (clock.elapsed() / 1000.0);
            clock.restart();
            phase = 3;
        } else if (phase == 3 && clock.elapsed() >= 2000) {
            // Time for the backlog to be read.
            phase = 4;
            window->btnStart->click();
        }
    });
    driver.start();
    window->btnStart->click(); // returns when the run has ended

    for (int i = 0; i < readers; ++i) res.sent += host.reader(i).stats().liveFramesSent;
    res.accepted = tables.acceptedRecordCount();
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

    std::printf("network monitoring load, %d s per case\n", seconds);
    std::printf("%4s %7s %5s %9s %9s %7s %9s %9s %9s %8s\n", "side", "readers", "fps", "sent",
                "accepted", "loss", "click p50", "click p99", "click max", "cpu/s");
    for (const auto& [outgoing, readers] : {std::pair{true, 20}, std::pair{false, 64}}) {
        for (double rate : {20.0, 100.0}) {
            const Result r = runCase(outgoing, readers, rate, seconds);
            const double loss =
                r.sent ? 1.0 - static_cast<double>(r.accepted) / static_cast<double>(r.sent) : 0;
            const double worst =
                r.latencyMs.empty() ? 0 : *std::max_element(r.latencyMs.begin(), r.latencyMs.end());
            std::printf("%4s %7d %5.0f %9llu %9llu %6.2f%% %7.1fms %7.1fms %7.1fms %7.0fms\n",
                        r.side, r.readers, r.rate, static_cast<unsigned long long>(r.sent),
                        static_cast<unsigned long long>(r.accepted), loss * 100.0,
                        percentile(r.latencyMs, 0.5), percentile(r.latencyMs, 0.99), worst,
                        r.cpuPerSecond * 1000.0);
            std::fflush(stdout);
        }
    }
    return 0;
}
