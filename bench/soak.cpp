// Soak of the monitoring runs: the window shown at 1366x768 with auto-save on, one process for
// the whole time, the link kinds taking turns in runs of one phase each:
//  - listening: 64 simulated readers connect to the listening port (each from its own
//    loopback address); every 3 s eight of them leave with a reset and come back 300 ms later;
//  - outgoing: 20 simulated readers reached by outgoing connections; every 5 s one of them
//    resets its connection;
//  - serial: 8 simulated readers on pseudo-terminals at the full line rate (11,520 B/s in
//    writes every 20 ms); a third into the phase one device vanishes, two thirds in it is back.
// Every 10 s a row: the utility's open descriptors (/proc/self/fd), threads, resident memory,
// report frames sent by the readers and records accepted so far (every run counted), and the
// faults injected. At the end of every phase a row of that phase: sent, accepted, lost, and
// what the readers a fault hit sent in it (losses up to that are the faults' own).
//
//   bench_soak [--seconds N (default 600)] [--phase N (default: an eighth of the time, at least
//   20)]
//
// Runs in a private temporary folder; no display needed (QT_QPA_PLATFORM=offscreen).

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "load_common.h"
#include "reader-sim/sim_frames.h"
#include "reader-sim/sim_host.h"
#include "reader-sim/tag_population.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kListening = 64;
constexpr int kOutgoing = 20;
constexpr int kSerial = 8;
constexpr double kLineBytesPerSecond = 11520.0;
constexpr int kSampleMs = 10000;

enum class Kind { Listening, Outgoing, Serial };

const char* kindName(Kind k) {
    return k == Kind::Listening ? "listening" : k == Kind::Outgoing ? "outgoing" : "serial";
}

quint16 freePort() {
    QTcpServer s;
    if (!s.listen(QHostAddress(QHostAddress::LocalHost), 0)) return 0;
    return s.serverPort();
}

QString loopback(int n) {
    return QStringLiteral("127.0.0.%1").arg(n);
}

int openDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                .size());
}

// A field of /proc/self/status ("Threads", "VmRSS"), its first number.
long statusField(const char* name) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').first().toLong();
    return -1;
}

int liveFrameBytes() {
    kelta::sim::TagPopulation p(kelta::sim::PopulationOptions{}, 1);
    kelta::sim::HeaderOptions h;
    h.withReaderId = true;
    h.readerId = 1;
    return static_cast<int>(
        kelta::sim::encodeLiveFrame(p.nextReading(1), kelta::sim::kTypeLive, h).size());
}

class Soak {
public:
    Soak(int seconds, int phaseSeconds) : seconds_(seconds), phaseSeconds_(phaseSeconds) {}

    int run() {
        window_ = std::make_unique<kelta::TfrmModule>();
        ctl_ = window_->runController.get();
        tables_ = window_->tagTables.get();
        kelta::bench::showAsUser(*window_);
        window_->chbAutoSave->click(); // on, as a user turns it on (stored and folder made)
        if (!window_->chbAutoSave->isChecked()) window_->chbAutoSave->click();

        const quint16 listenPort = freePort();
        const quint16 readerPort = freePort();
        for (int i = 0; i < kListening + kOutgoing + kSerial; ++i) {
            kelta::sim::ReaderConfig c;
            c.readerId = static_cast<std::uint16_t>(i + 1);
            c.seed = static_cast<std::uint32_t>(i + 1);
            c.tags.count = 50;
            host_.addReader(c);
        }
        for (int k = 0; k < kOutgoing; ++k) {
            host_.listenTcp(kListening + k, readerPort, loopback(k + 1));
            ctl_->chkIP(k + 1)->setChecked(true);
            ctl_->edIP(k + 1)->setText(loopback(k + 1));
        }
        for (int s = 0; s < kSerial; ++s) {
            host_.openPty(kListening + kOutgoing + s, s + 1);
            ctl_->chkCOM(s + 1)->setChecked(true);
        }
        window_->edtListenPort->setText(QString::number(listenPort));
        window_->edtTcpRemotePort->setText(QString::number(readerPort));
        listenPort_ = listenPort;

        std::printf("soak: %d s, phases of %d s, window shown 1366x768, auto-save on, frame %d "
                    "bytes\n",
                    seconds_, phaseSeconds_, liveFrameBytes());
        std::printf("%6s %-10s %5s %7s %8s %10s %10s %8s %7s\n", "time", "phase", "fds", "threads",
                    "rss MB", "sent", "accepted", "lost", "faults");
        std::fflush(stdout);

        total_.start();
        QTimer sampler;
        sampler.setInterval(kSampleMs);
        QObject::connect(&sampler, &QTimer::timeout, [this] { printSample(); });
        sampler.start();
        printSample();

        const Kind order[] = {Kind::Listening, Kind::Outgoing, Kind::Serial};
        for (int p = 0; total_.elapsed() < static_cast<qint64>(seconds_) * 1000; ++p)
            runPhase(order[p % 3]);
        sampler.stop();
        printSample();

        window_.reset();
        host_.stop();
        return 0;
    }

private:
    quint64 sentNow() {
        quint64 n = 0;
        for (int i = 0; i < host_.readerCount(); ++i) n += host_.reader(i).stats().liveFramesSent;
        return n;
    }
    quint64 acceptedNow() const { return acceptedBefore_ + tables_->acceptedRecordCount(); }

    void printSample() {
        const quint64 sent = sentNow();
        const quint64 accepted = acceptedNow();
        std::printf("%5llds %-10s %5d %7ld %8.1f %10llu %10llu %8lld %7d\n",
                    static_cast<long long>(total_.elapsed() / 1000), phaseName_, openDescriptors(),
                    statusField("Threads"), static_cast<double>(statusField("VmRSS")) / 1024.0,
                    static_cast<unsigned long long>(sent),
                    static_cast<unsigned long long>(accepted),
                    static_cast<long long>(sent) - static_cast<long long>(accepted), faults_);
        std::fflush(stdout);
    }

    std::vector<int> readersOf(Kind k) const {
        std::vector<int> r;
        const int first = k == Kind::Listening  ? 0
                          : k == Kind::Outgoing ? kListening
                                                : kListening + kOutgoing;
        const int n = k == Kind::Listening ? kListening : k == Kind::Outgoing ? kOutgoing : kSerial;
        for (int i = 0; i < n; ++i) r.push_back(first + i);
        return r;
    }

    void runPhase(Kind kind) {
        phaseName_ = kindName(kind);
        kelta::TabSheet* page = kind == Kind::Listening  ? window_->tsNetServer
                                : kind == Kind::Outgoing ? window_->tsNET
                                                         : window_->tsCOM;
        window_->pcTagMain->setActivePage(page);
        const std::vector<int> readers = readersOf(kind);
        const quint64 sentBefore = sentNow();
        const quint64 acceptedBefore = acceptedNow();
        const int faultsBefore = faults_;
        std::vector<quint64> sentAtStart;
        for (int i = 0; i < host_.readerCount(); ++i)
            sentAtStart.push_back(host_.reader(i).stats().liveFramesSent);
        faulted_.assign(static_cast<std::size_t>(host_.readerCount()), false);

        std::unique_ptr<kelta::bench::Pacer> pacer;
        QElapsedTimer clock;
        QElapsedTimer lastFault;
        int step = 0;
        bool vanished = false;
        QTimer driver;
        driver.setInterval(20);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (ctl_->runState() != QLatin1String("Stop") || !window_->btnStart->isEnabled() ||
                ctl_->passCount() == 0)
                return;
            if (step == 0) { // the run is up: the load starts
                if (kind == Kind::Listening)
                    for (int r : readers)
                        host_.connectTcpFrom(r, loopback(r + 1), listenPort_, 300);
                if (kind == Kind::Serial) {
                    pacer = std::make_unique<kelta::bench::Pacer>(
                        host_, readers, kLineBytesPerSecond, liveFrameBytes());
                } else {
                    for (int r : readers)
                        host_.call(r, [](kelta::sim::ReaderSim& s) { s.setRate(20); });
                }
                clock.start();
                lastFault.start();
                step = 1;
                return;
            }
            const qint64 phaseMs = static_cast<qint64>(phaseSeconds_) * 1000;
            if (step == 1 && clock.elapsed() < phaseMs) {
                injectFaults(kind, readers, clock.elapsed(), phaseMs, lastFault, vanished);
                return;
            }
            if (step == 1) { // the load ends; a moment for the backlog, then Stop
                pacer.reset();
                for (int r : readers) host_.call(r, [](kelta::sim::ReaderSim& s) { s.setRate(0); });
                if (vanished)
                    host_.call(readers.front(), [](kelta::sim::ReaderSim& s) { s.reopenPty(); });
                vanished = false;
                clock.restart();
                step = 2;
            } else if (step == 2 && clock.elapsed() >= 2000) {
                step = 3;
                window_->btnStart->click();
            }
        });
        driver.start();
        window_->btnStart->click(); // returns when the run has ended
        driver.stop();
        acceptedBefore_ += tables_->acceptedRecordCount();
        tables_->resetCounters();
        if (kind == Kind::Listening)
            for (int r : readers) host_.call(r, [](kelta::sim::ReaderSim& s) { s.stop(); });

        const quint64 sent = sentNow() - sentBefore;
        const quint64 accepted = acceptedNow() - acceptedBefore;
        // Frames of the readers a fault hit this phase: the most a fault can explain.
        quint64 sentByFaulted = 0;
        for (int i = 0; i < host_.readerCount(); ++i)
            if (faulted_[static_cast<std::size_t>(i)])
                sentByFaulted += host_.reader(i).stats().liveFramesSent -
                                 sentAtStart[static_cast<std::size_t>(i)];
        std::printf("  phase %-10s ended at %llds: sent %llu, accepted %llu, lost %lld, faults %d "
                    "(readers hit sent %llu)\n",
                    phaseName_, static_cast<long long>(total_.elapsed() / 1000),
                    static_cast<unsigned long long>(sent),
                    static_cast<unsigned long long>(accepted),
                    static_cast<long long>(sent) - static_cast<long long>(accepted),
                    faults_ - faultsBefore, static_cast<unsigned long long>(sentByFaulted));
        std::fflush(stdout);
        phaseName_ = "between";
    }

    void injectFaults(Kind kind, const std::vector<int>& readers, qint64 elapsed, qint64 phaseMs,
                      QElapsedTimer& lastFault, bool& vanished) {
        auto reset = [this](int r) {
            host_.call(r, [](kelta::sim::ReaderSim& s) { s.resetConnection(); });
            faulted_[static_cast<std::size_t>(r)] = true;
            ++faults_;
        };
        if (kind == Kind::Listening && lastFault.elapsed() >= 3000) {
            std::uniform_int_distribution<int> pick(0, kListening - 1);
            for (int n = 0; n < 8; ++n) reset(readers[static_cast<std::size_t>(pick(random_))]);
            lastFault.restart();
        } else if (kind == Kind::Outgoing && lastFault.elapsed() >= 5000) {
            std::uniform_int_distribution<int> pick(0, kOutgoing - 1);
            reset(readers[static_cast<std::size_t>(pick(random_))]);
            lastFault.restart();
        } else if (kind == Kind::Serial) {
            if (!vanished && elapsed >= phaseMs / 3 && elapsed < 2 * phaseMs / 3) {
                reset(readers.front()); // the device and its link are gone
                vanished = true;
            } else if (vanished && elapsed >= 2 * phaseMs / 3) {
                host_.call(readers.front(), [](kelta::sim::ReaderSim& s) { s.reopenPty(); });
                vanished = false;
            }
        }
    }

    kelta::sim::SimHost host_;
    std::unique_ptr<kelta::TfrmModule> window_;
    kelta::monitor::RunController* ctl_ = nullptr;
    kelta::monitor::TagTables* tables_ = nullptr;
    quint16 listenPort_ = 0;
    int seconds_;
    int phaseSeconds_;
    QElapsedTimer total_;
    quint64 acceptedBefore_ = 0;
    int faults_ = 0;
    std::vector<bool> faulted_; // readers a fault hit in the current phase
    const char* phaseName_ = "start";
    std::mt19937 random_{17};
};

} // namespace

int main(int argc, char** argv) {
    int seconds = 600;
    int phase = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--phase") == 0)
            phase = std::max(5, std::atoi(argv[++i]));
    }
    if (phase == 0) phase = std::max(20, seconds / 8);

    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/kelta-soak-XXXXXX"));
    if (!kelta::bench::privateEnvironment(root)) return 2;
    QApplication app(argc, argv);
    return Soak(seconds, phase).run();
}
