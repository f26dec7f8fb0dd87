#pragma once
// Shared by the load programs: a private environment, the window shown as a user has it, the
// CPU time of the utility's thread, a pacer that writes live reports at a byte rate in steps,
// and one result line per case.

#include "app/frmmodule.h"
#include "click_probe.h"
#include "reader-sim/sim_host.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
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

struct LoadResult {
    QString name;
    quint64 sent = 0;
    quint64 accepted = 0;
    double seconds = 0;
    double cpuPerSecond = 0;
    double stopMs = -1; // Stop click to the end of the run's loop, -1: not measured
    std::vector<double> latencyMs;
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
