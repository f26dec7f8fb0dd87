// The collector over TCP, as its own process: how many records per second reach its auto-save
// file when 16 readers send as fast as TCP allows, and how often it wakes up with nothing to do.
//
//   bench_collect_tcp [--collector PATH] [--seconds N] [--idle-seconds N]
//
// Ceiling: 16 readers of this program's own, each listening on its own loopback address
// (127.0.0.1 ... 127.0.0.16, one port), are reached by kelta-collect --connect with auto-save
// on; each writes live reports as fast as its connection takes them for N seconds (default 8),
// then closes. Printed: records sent, lines in the file, lost, records/s to the file (from the
// first write to the last line), the collector's CPU seconds and records per CPU-second.
// Idle: kelta-collect --listen with no reader for the idle seconds (default 10): wake-ups per
// second of all its threads (voluntary + involuntary context switches).
//
// PATH is the collector to measure (default: the one built with this program), so one build of
// this program measures two builds of the collector alike.

#include "collect/collect_process.h"
#include "load_common.h"
#include "support/report_frames.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kReaders = 16;
constexpr qint64 kQueueBytes = 512 * 1024; // what each reader keeps queued on its connection

// utime + stime of a process, in seconds.
double processCpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QByteArray line = f.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return 0;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

// Context switches of every thread of a process: each is a time the thread woke up (or was
// put aside).
quint64 contextSwitches(qint64 pid) {
    quint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& t : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(t) + QStringLiteral("/status"));
        if (!f.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches") ||
                line.startsWith("nonvoluntary_ctxt_switches"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toULongLong();
    }
    return total;
}

int threadCount(qint64 pid) {
    return static_cast<int>(QDir(QStringLiteral("/proc/%1/task").arg(pid))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

qint64 lineCount(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    qint64 n = 0;
    char buf[1 << 16];
    for (;;) {
        const qint64 got = f.read(buf, sizeof buf);
        if (got <= 0) break;
        for (qint64 i = 0; i < got; ++i) n += buf[i] == '\n';
    }
    return n;
}

// One reader: its server, the connection the collector made, the frames it wrote.
struct Reader {
    std::unique_ptr<QTcpServer> server;
    QPointer<QTcpSocket> peer;
    QByteArray block; // whole frames, written again and again
    qint64 framesPerBlock = 0;
    quint64 framesSent = 0;
    bool flooding = false;
};

void refill(Reader& r) {
    if (!r.flooding || !r.peer || r.peer->state() != QAbstractSocket::ConnectedState) return;
    while (r.peer->bytesToWrite() < kQueueBytes) {
        r.peer->write(r.block);
        r.framesSent += static_cast<quint64>(r.framesPerBlock);
    }
}

void ceiling(const QString& collectorPath, const QString& dir, int seconds) {
    const quint16 port = kelta::bench::freePort();
    std::vector<Reader> readers(kReaders);
    QStringList connect;
    for (int i = 0; i < kReaders; ++i) {
        Reader& r = readers[static_cast<std::size_t>(i)];
        const auto frames =
            kelta::test::liveReports(2000, 50, static_cast<std::uint16_t>(i + 1));
        const auto bytes = kelta::test::joined(frames);
        r.block = QByteArray(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<qsizetype>(bytes.size()));
        r.framesPerBlock = static_cast<qint64>(frames.size());
        r.server = std::make_unique<QTcpServer>();
        const QString address = kelta::bench::loopback(i + 1);
        if (!r.server->listen(QHostAddress(address), port)) {
            std::printf("cannot listen on %s:%u\n", qPrintable(address), port);
            return;
        }
        Reader* rp = &r;
        QObject::connect(r.server.get(), &QTcpServer::newConnection, [rp] {
            while (QTcpSocket* s = rp->server->nextPendingConnection()) {
                if (rp->peer || rp->framesSent > 0) {
                    s->abort(); // after the burst: nobody here any more
                    s->deleteLater();
                    continue;
                }
                rp->peer = s;
                QObject::connect(s, &QTcpSocket::bytesWritten, [rp] { refill(*rp); });
            }
        });
        connect << QStringLiteral("%1:%2").arg(address).arg(port);
    }

    const QString csv = dir + QStringLiteral("/ceiling.csv");
    QProcess collector;
    collector.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    collector.setStandardErrorFile(dir + QStringLiteral("/ceiling.err"));
    collector.start(collectorPath, {QStringLiteral("--connect"), connect.join(QLatin1Char(',')),
                                    QStringLiteral("--auto-save"), csv,
                                    QStringLiteral("--no-mqtt")});
    if (!collector.waitForStarted(5000)) {
        std::printf("cannot start %s\n", qPrintable(collectorPath));
        return;
    }
    const qint64 pid = collector.processId();
    const auto allConnected = [&] {
        for (const Reader& r : readers)
            if (!r.peer) return false;
        return true;
    };
    // Connected, and the run's announcement has had its time.
    kelta::test::waitFor(allConnected, 20000);
    kelta::test::waitFor([] { return false; }, 1500);
    if (!allConnected()) {
        std::printf("not every reader was reached\n");
        collector.terminate();
        collector.waitForFinished(5000);
        return;
    }

    const double cpuStart = processCpuSeconds(pid);
    QElapsedTimer clock;
    clock.start();
    for (Reader& r : readers) {
        r.flooding = true;
        refill(r);
    }
    kelta::test::waitFor([&] { return clock.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    // The readers stop and close: what they sent is still on its way.
    for (Reader& r : readers) {
        r.flooding = false;
        if (r.peer) r.peer->disconnectFromHost();
    }
    quint64 sent = 0;
    for (const Reader& r : readers) sent += r.framesSent;
    // The file grows until everything that reached the collector is in it.
    qint64 lastSize = -1;
    qint64 lastGrowthMs = clock.elapsed();
    double cpuAtLastGrowth = processCpuSeconds(pid);
    kelta::test::waitFor(
        [&] {
            const qint64 size = QFileInfo(csv).size();
            if (size != lastSize) {
                lastSize = size;
                lastGrowthMs = clock.elapsed();
                cpuAtLastGrowth = processCpuSeconds(pid);
            }
            return clock.elapsed() - lastGrowthMs > 3000;
        },
        600000);
    collector.terminate();
    collector.waitForFinished(10000);
    const qint64 lines = std::max<qint64>(lineCount(csv) - 1, 0);
    const double wall = static_cast<double>(lastGrowthMs) / 1000.0;
    const double cpu = cpuAtLastGrowth - cpuStart;
    std::printf("ceiling: %d readers x %d s: sent %llu, in the file %lld, lost %lld (%.2f %%), "
                "%.0f records/s, collector CPU %.2f s (%.0f %% of the time), %.0f records per "
                "CPU-second\n",
                kReaders, seconds, static_cast<unsigned long long>(sent),
                static_cast<long long>(lines), static_cast<long long>(sent) - lines,
                sent ? 100.0 * (static_cast<double>(sent) - static_cast<double>(lines)) /
                           static_cast<double>(sent)
                     : 0.0,
                wall > 0 ? static_cast<double>(lines) / wall : 0.0, cpu,
                wall > 0 ? 100.0 * cpu / wall : 0.0,
                cpu > 0 ? static_cast<double>(lines) / cpu : 0.0);
    std::fflush(stdout);
}

void idle(const QString& collectorPath, const QString& dir, int seconds) {
    const quint16 port = kelta::bench::freePort();
    QProcess collector;
    collector.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    collector.setStandardErrorFile(dir + QStringLiteral("/idle.err"));
    collector.start(collectorPath,
                    {QStringLiteral("--listen"), QString::number(port), QStringLiteral("--no-mqtt"),
                     QStringLiteral("--auto-save"), dir + QStringLiteral("/idle.csv")});
    if (!collector.waitForStarted(5000)) return;
    const qint64 pid = collector.processId();
    // Past its start (the run settles for a moment).
    kelta::test::waitFor([] { return false; }, 3000);
    const quint64 before = contextSwitches(pid);
    const double cpuBefore = processCpuSeconds(pid);
    QElapsedTimer clock;
    clock.start();
    kelta::test::waitFor([&] { return clock.elapsed() >= seconds * 1000; }, seconds * 1000 + 1000);
    const quint64 after = contextSwitches(pid);
    const double cpuAfter = processCpuSeconds(pid);
    const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
    std::printf("idle: listening, no reader, %d s, %d threads: %llu wake-ups, %.1f per second, "
                "CPU %.3f s\n",
                seconds, threadCount(pid), static_cast<unsigned long long>(after - before),
                static_cast<double>(after - before) / wall, cpuAfter - cpuBefore);
    std::fflush(stdout);
    collector.terminate();
    collector.waitForFinished(10000);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    if (!kelta::bench::privateEnvironment(root)) return 1;
    QString collectorPath = QStringLiteral(KELTA_BINARY_DIR "/kelta-collect");
    int seconds = 8, idleSeconds = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--collector"))
            collectorPath = args[i + 1];
        else if (args[i] == QLatin1String("--seconds"))
            seconds = std::max(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--idle-seconds"))
            idleSeconds = std::max(1, args[i + 1].toInt());
    }
    std::printf("collector: %s\n", qPrintable(collectorPath));
    ceiling(collectorPath, root.path(), seconds);
    idle(collectorPath, root.path(), idleSeconds);
    return 0;
}
