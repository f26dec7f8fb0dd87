#pragma once
// Shared by the load programs: a private environment, the window shown as a user has it, the
// simulated readers and their addresses, the CPU time of the utility's thread, a pacer that
// writes live reports at a byte rate in steps, the pacing of one monitoring run, and one result
// line per case.

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "click_probe.h"
#include "reader-sim/sim_frames.h"
#include "reader-sim/sim_host.h"
#include "reader-sim/tag_population.h"
#include "support/ports.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace kelta::bench {

// Settings, serial device map and documents in a temporary folder; offscreen unless a
// platform is chosen.
inline bool privateEnvironment(QTemporaryDir& root) {
    if (!root.isValid()) return false;
    const QString home = root.filePath(QStringLiteral("home"));
    QDir().mkpath(home + QStringLiteral("/Documents"));
    QDir().mkpath(root.filePath(QStringLiteral("serial")));
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
    qputenv("KELTA_SETTINGS_FILE", root.filePath(QStringLiteral("LR900.ini")).toUtf8());
    qputenv("KELTA_SERIAL_MAP", root.filePath(QStringLiteral("serial")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}

// The window as a user has it: shown at 1366x768, so that every change is painted.
inline void showAsUser(TfrmModule& window) {
    window.resize(1366, 768);
    window.show();
    QApplication::processEvents();
}

inline constexpr double kLineBytesPerSecond = 11520.0; // 115200 baud, 8N1

// A loopback port free at this moment.
using kelta::test::freePort;

// The n-th loopback address, 127.0.0.n: one reader each.
inline QString loopback(int n) {
    return QStringLiteral("127.0.0.%1").arg(n);
}

// Reader n (from 0) of a load: reader id n + 1, its own seed, 50 tags. Its index in the host.
inline int addReader(sim::SimHost& host, int n) {
    sim::ReaderConfig c;
    c.readerId = static_cast<std::uint16_t>(n + 1);
    c.seed = static_cast<std::uint32_t>(n + 1);
    c.tags.count = 50;
    return host.addReader(c);
}

// The size of one live report frame as the readers send it.
inline int liveFrameBytes() {
    sim::TagPopulation p(sim::PopulationOptions{}, 1);
    sim::HeaderOptions h;
    h.withReaderId = true;
    h.readerId = 1;
    return static_cast<int>(sim::encodeLiveFrame(p.nextReading(1), sim::kTypeLive, h).size());
}

// The frames per second each of `readers` sends by itself (0: none).
inline void setRate(sim::SimHost& host, const std::vector<int>& readers, double rate) {
    for (int r : readers) host.call(r, [rate](sim::ReaderSim& s) { s.setRate(rate); });
}

inline double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Writes live reports on the readers' thread every stepMs, as many whole frames as the byte
// rate allows so far: a pseudo-terminal does not pace, a real line does.
class Pacer {
public:
    Pacer(sim::SimHost& host, std::vector<int> readers, double bytesPerSecond, int frameBytes,
          int stepMs = 20)
        : host_(host) {
        host_.run([&, readers] {
            timer_ = new QTimer;
            clock_.start();
            timer_->setInterval(stepMs);
            QObject::connect(timer_, &QTimer::timeout, [this, readers, bytesPerSecond, frameBytes] {
                const auto due = static_cast<quint64>(static_cast<double>(clock_.elapsed()) *
                                                      bytesPerSecond / 1000.0 / frameBytes);
                const int n = static_cast<int>(due - sent_);
                if (n <= 0) return;
                for (int r : readers) host_.reader(r).sendLiveReports(n);
                sent_ = due;
            });
            timer_->start();
        });
    }
    ~Pacer() {
        host_.run([this] { delete timer_; });
    }

private:
    sim::SimHost& host_;
    QTimer* timer_ = nullptr;
    QElapsedTimer clock_;
    quint64 sent_ = 0;
};

// The pacing of one monitoring run. Start is clicked and returns when the run has ended; in
// the meantime, on a timer every tickMs: once the run is up, prepare() runs and ready() is asked
// each tick (with the milliseconds since prepare) until it holds; begin() starts the load,
// during() runs each tick for loadMs (with the milliseconds since begin), end() ends the load;
// backlogMs later, for what is still on its way, stopping() runs and Stop is clicked;
// afterStop() runs each tick until the run has ended. Every step may be left empty.
struct RunPlan {
    qint64 loadMs = 0;
    qint64 backlogMs = 2000;
    int tickMs = 20;
    std::function<void()> prepare;
    std::function<bool(qint64 sincePrepareMs)> ready;
    std::function<void()> begin;
    std::function<void(qint64 sinceBeginMs)> during;
    std::function<void()> end;
    std::function<void()> stopping;
    std::function<void()> afterStop;
};

// The run has started: Start has done its work and the loop has read at least once.
inline bool runIsUp(TfrmModule& window) {
    const monitor::RunController& ctl = *window.runController;
    return ctl.state() == monitor::RunState::Running && window.btnStart->isEnabled() &&
           ctl.passCount() > 0;
}

inline void driveRun(TfrmModule& window, const RunPlan& plan) {
    enum class Step { Starting, Preparing, Loading, Backlog, Stopped };
    Step step = Step::Starting;
    QElapsedTimer clock;
    QTimer driver;
    driver.setInterval(plan.tickMs);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (step == Step::Stopped) {
            if (plan.afterStop) plan.afterStop();
            return;
        }
        if (!runIsUp(window)) return;
        if (step == Step::Starting) {
            if (plan.prepare) plan.prepare();
            clock.start();
            step = Step::Preparing;
        }
        if (step == Step::Preparing) {
            if (plan.ready && !plan.ready(clock.elapsed())) return;
            if (plan.begin) plan.begin();
            clock.restart();
            step = Step::Loading;
            return;
        }
        if (step == Step::Loading) {
            if (clock.elapsed() < plan.loadMs) {
                if (plan.during) plan.during(clock.elapsed());
                return;
            }
            if (plan.end) plan.end();
            clock.restart();
            step = Step::Backlog;
        }
        if (step == Step::Backlog && clock.elapsed() >= plan.backlogMs) {
            if (plan.stopping) plan.stopping();
            step = Step::Stopped;
            window.btnStart->click();
        }
    });
    driver.start();
    // The click returns at once; the run goes on in the event loop until it has ended.
    QEventLoop loop;
    QTimer ended;
    QObject::connect(&ended, &QTimer::timeout, [&] {
        if (step == Step::Stopped && window.runController->state() == monitor::RunState::Idle)
            loop.quit();
    });
    ended.start(5);
    window.btnStart->click();
    loop.exec();
    driver.stop();
}

struct LoadResult {
    QString name;
    quint64 sent = 0;
    quint64 accepted = 0;
    double seconds = 0;
    double cpuPerSecond = 0;
    double stopMs = -1; // Stop click to the end of the run's loop, -1: not measured
    std::vector<double> latencyMs;
};

// The measured part of a load case, from start() to stop(): how late a click on a probe
// button is handled, the wall time, and the CPU time of the utility's thread per second.
class Measurement {
public:
    Measurement() : button_(QStringLiteral("probe")), probe_(&button_) { button_.resize(60, 20); }
    void start() {
        probe_.start();
        cpuStart_ = threadCpuSeconds();
        clock_.start();
    }
    void stop(LoadResult& res) {
        res.latencyMs = probe_.stop();
        res.seconds = static_cast<double>(clock_.elapsed()) / 1000.0;
        res.cpuPerSecond = (threadCpuSeconds() - cpuStart_) / res.seconds;
    }

private:
    QPushButton button_;
    ClickProbe probe_;
    QElapsedTimer clock_;
    double cpuStart_ = 0;
};

inline void printHeader() {
    std::printf("%-34s %8s %8s %7s %9s %8s %8s %7s %8s\n", "case", "sent", "accepted", "loss",
                "records/s", "clk p50", "clk p99", "cpu/s", "stop");
}

inline void printResult(const LoadResult& r) {
    const double loss =
        r.sent ? 1.0 - static_cast<double>(r.accepted) / static_cast<double>(r.sent) : 0;
    const double perSecond = r.seconds > 0 ? static_cast<double>(r.accepted) / r.seconds : 0;
    char stop[32] = "-";
    if (r.stopMs >= 0) std::snprintf(stop, sizeof stop, "%.0fms", r.stopMs);
    std::printf("%-34s %8llu %8llu %6.2f%% %9.0f %6.1fms %6.1fms %5.0fms %8s\n",
                r.name.toUtf8().constData(), static_cast<unsigned long long>(r.sent),
                static_cast<unsigned long long>(r.accepted), loss * 100.0, perSecond,
                percentile(r.latencyMs, 0.5), percentile(r.latencyMs, 0.99),
                r.cpuPerSecond * 1000.0, stop);
    std::fflush(stdout);
}

} // namespace kelta::bench
