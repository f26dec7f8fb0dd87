// What flushing the files to disk costs: kelta-collect (its own process) fed by 30 simulated
// serial readers at 10 reports a second each (300 auto-save lines a second, the load of a full
// serial installation), once with the files flushed (fdatasync at most once a second, as
// shipped) and once without (KELTA_FILE_SYNC_MS=0), in turns. Per run: lines written and the
// collector's CPU time (user + system, from /proc) over the measured seconds.
//
//   bench_file_sync [seconds per run, default 20] [pairs of runs, default 3]
//
// The verdict line gives the median CPU of each and the difference (the aim: under 5 %).

#include "collect/collect_process.h"
#include "load_common.h"
#include "reader-sim/sim_host.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

using kelta::test::CollectProcess;
using kelta::test::fileLines;

constexpr int kReaders = 30;
constexpr double kRate = 10.0;

// utime + stime of a process, in seconds.
double processCpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command (which may hold blanks) in parentheses.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

struct Run {
    bool ok = false;
    double cpuPercent = 0;
    quint64 lines = 0;
};

Run runOnce(bool sync, int seconds, const QString& dir, kelta::sim::SimHost& host,
            const std::vector<int>& readers, const QStringList& ports) {
    Run r;
    const QString csv = dir + (sync ? QStringLiteral("/sync.csv") : QStringLiteral("/nosync.csv"));
    QFile::remove(csv);
    CollectProcess collector;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!sync) env.insert(QStringLiteral("KELTA_FILE_SYNC_MS"), QStringLiteral("0"));
    collector.setEnvironment(env);
    if (!collector.start({QStringLiteral("--serial"), ports.join(QLatin1Char(',')),
                          QStringLiteral("--auto-save"), csv, QStringLiteral("--no-mqtt")}) ||
        !collector.waitForError(QStringLiteral("monitoring started"), 20000))
        return r;
    kelta::bench::setRate(host, readers, kRate);
    // Two seconds to settle, then the measured seconds.
    collector.waitFor([] { return false; }, 2000);
    const quint64 linesBefore = static_cast<quint64>(fileLines(csv).size());
    const double cpuBefore = processCpuSeconds(collector.processId());
    QElapsedTimer clock;
    clock.start();
    collector.waitFor([] { return false; }, seconds * 1000);
    const double cpu = processCpuSeconds(collector.processId()) - cpuBefore;
    const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
    r.lines = static_cast<quint64>(fileLines(csv).size()) - linesBefore;
    kelta::bench::setRate(host, readers, 0);
    r.ok = collector.stop() && collector.exitCode() == 0 && cpuBefore >= 0;
    r.cpuPercent = 100.0 * cpu / wall;
    if (!r.ok) std::fprintf(stderr, "%s", collector.errorText().toUtf8().constData());
    return r;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/kelta-bench-XXXXXX"));
    if (!kelta::bench::privateEnvironment(root)) return 2;
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    // The files on the disk the collector would use, not a memory file system.
    const QString dir = QDir::currentPath() + QStringLiteral("/file_sync_files");
    QDir().mkpath(dir);

    kelta::sim::SimHost host;
    std::vector<int> readers;
    QStringList ports;
    for (int i = 0; i < kReaders; ++i) {
        const int r = kelta::bench::addReader(host, i);
        if (!host.openPty(r, i + 1)) return 2;
        readers.push_back(r);
        ports << QStringLiteral("COM%1").arg(i + 1);
    }
    kelta::bench::setRate(host, readers, 0);
    std::printf("file flushes, %d readers x %.0f reports/s, %d s per run, %d pairs, files in %s\n",
                kReaders, kRate, seconds, pairs, qPrintable(dir));
    std::printf("%-24s %9s %9s %8s\n", "run", "lines", "lines/s", "CPU %");
    std::vector<double> with, without;
    for (int i = 0; i < pairs; ++i) {
        for (const bool sync : {i % 2 == 0, i % 2 != 0}) {
            const Run r = runOnce(sync, seconds, dir, host, readers, ports);
            std::printf(
                "%-24s %9llu %9.0f %8.2f%s\n", sync ? "fdatasync once a second" : "no fdatasync",
                static_cast<unsigned long long>(r.lines), static_cast<double>(r.lines) / seconds,
                r.cpuPercent, r.ok ? "" : "  (collector did not end cleanly)");
            std::fflush(stdout);
            (sync ? with : without).push_back(r.cpuPercent);
        }
    }
    host.stop();
    QDir(dir).removeRecursively();
    const double a = median(with), b = median(without);
    std::printf("median CPU: %.2f %% with flushes, %.2f %% without: %+.1f %% (aim: under +5 %%)\n",
                a, b, b > 0 ? 100.0 * (a - b) / b : 0.0);
    return 0;
}
