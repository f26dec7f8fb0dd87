// Collector throughput: simulated serial readers on pseudo-terminals -> kelta-collect (its own
// process, auto-save on) -> a private broker on a free loopback port -> a subscriber of this
// program's own. Each case runs twice: publishing (MQTT set up in the settings file) and with
// --no-mqtt, so that the cost of publishing shows.
//
//   bench_collect [seconds per case, default 10]
//
// Per run: report frames sent, auto-save lines written, messages received, and records per
// second (lines, or messages when publishing, over the time until the last one came in).

#include "collect/collect_process.h"
#include "load_common.h"
#include "publish/broker_fixture.h"
#include "publish/publish_config.h"
#include "reader-sim/sim_host.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using kelta::test::CollectProcess;
using kelta::test::fileLines;

struct Case {
    QString name;
    int readers = 1;
    double rate = 0; // frames per second of each reader, 0: the line rate in paced writes
};

struct RunResult {
    quint64 sent = 0, lines = 0, messages = 0;
    double perSecond = 0;
    bool ok = false;
};

RunResult runOnce(const Case& k, int seconds, bool publishing, const QString& dir,
                  kelta::test::TestSubscriber& sub) {
    RunResult res;
    kelta::sim::SimHost host;
    QStringList ports;
    std::vector<int> readers;
    for (int i = 0; i < k.readers; ++i) {
        const int r = kelta::bench::addReader(host, i);
        if (!host.openPty(r, i + 1)) return res;
        readers.push_back(r);
        ports << QStringLiteral("COM%1").arg(i + 1);
    }
    const QString csv = dir + QStringLiteral("/%1-%2.csv").arg(k.readers).arg(publishing);
    QStringList args{QStringLiteral("--serial"), ports.join(QLatin1Char(',')),
                     QStringLiteral("--auto-save"), csv};
    if (!publishing) args << QStringLiteral("--no-mqtt");
    CollectProcess collector;
    if (!collector.start(args) || !collector.waitForError(QStringLiteral("monitoring started")))
        return res;
    if (publishing && !collector.waitForError(QStringLiteral(" connected"))) return res;

    const std::size_t before = sub.count();
    auto lines = [&] {
        return static_cast<quint64>(std::max<qsizetype>(fileLines(csv).size() - 1, 0));
    };
    auto delivered = [&] { return static_cast<quint64>(sub.count() - before); };

    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<kelta::bench::Pacer> pacer;
    if (k.rate > 0)
        kelta::bench::setRate(host, readers, k.rate);
    else
        pacer = std::make_unique<kelta::bench::Pacer>(
            host, readers, kelta::bench::kLineBytesPerSecond, kelta::bench::liveFrameBytes());
    collector.waitFor([&] { return clock.elapsed() >= seconds * 1000LL; }, seconds * 1000 + 1000);
    pacer.reset();
    kelta::bench::setRate(host, readers, 0);
    for (int r : readers) res.sent += host.reader(r).stats().liveFramesSent;

    // What is on its way: until everything came in, or nothing more for two seconds.
    quint64 last = 0;
    qint64 lastAtMs = clock.elapsed(), lastChange = clock.elapsed();
    collector.waitFor(
        [&] {
            const quint64 n = publishing ? delivered() : lines();
            if (n != last) {
                last = n;
                lastAtMs = lastChange = clock.elapsed();
            }
            return n >= res.sent || clock.elapsed() - lastChange > 2000;
        },
        60000);
    res.lines = lines();
    res.messages = delivered();
    res.perSecond = static_cast<double>(last) * 1000.0 / static_cast<double>(lastAtMs);
    res.ok = collector.stop() && collector.exitCode() == 0;
    if (!res.ok) std::fprintf(stderr, "%s", collector.errorText().toUtf8().constData());
    host.stop();
    return res;
}

void print(const QString& name, const RunResult& r, const char* ratio) {
    std::printf("%-28s %9llu %9llu %9llu %10.0f %7s%s\n", name.toUtf8().constData(),
                static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.lines),
                static_cast<unsigned long long>(r.messages), r.perSecond, ratio,
                r.ok ? "" : "  (collector did not end cleanly)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/kelta-bench-XXXXXX"));
    if (!kelta::bench::privateEnvironment(root)) return 2;
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    if (!kelta::test::brokerAvailable()) {
        std::fprintf(stderr, "%s is not installed (Debian package mosquitto)\n",
                     kelta::test::kBrokerBinary);
        return 2;
    }
    kelta::test::TestBroker broker;
    if (!broker.start()) return 2;
    kelta::test::TestSubscriber sub(broker.port(), "kelta/#");
    if (!QTest::qWaitFor([&] { return sub.subscribed(); }, 10000)) return 2;
    {
        // The collector reads the window's settings file: publishing to the broker above.
        namespace keys = kelta::publish::keys;
        QSettings s(QString::fromLocal8Bit(qgetenv("KELTA_SETTINGS_FILE")), QSettings::IniFormat);
        s.setValue(keys::kEnabled, 1);
        s.setValue(keys::kHost, QStringLiteral("127.0.0.1"));
        s.setValue(keys::kPort, broker.port());
        s.setValue(keys::kSite, QStringLiteral("bench"));
        s.setValue(keys::kQueue, 100000);
        s.sync();
    }

    const std::vector<Case> cases{{QStringLiteral("1 reader 200 fps"), 1, 200.0},
                                  {QStringLiteral("8 readers 200 fps"), 8, 200.0},
                                  {QStringLiteral("1 reader line rate"), 1, 0},
                                  {QStringLiteral("8 readers line rate"), 8, 0}};
    std::printf("collector throughput, %d s per case, frame %d bytes, broker on 127.0.0.1:%u\n",
                seconds, kelta::bench::liveFrameBytes(), broker.port());
    std::printf("%-28s %9s %9s %9s %10s %7s\n", "case", "sent", "lines", "messages", "records/s",
                "ratio");
    for (const Case& k : cases) {
        const RunResult with = runOnce(k, seconds, true, root.path(), sub);
        const RunResult without = runOnce(k, seconds, false, root.path(), sub);
        char ratio[16] = "-";
        if (without.perSecond > 0)
            std::snprintf(ratio, sizeof ratio, "%.2f", with.perSecond / without.perSecond);
        print(k.name + QStringLiteral(", MQTT"), with, ratio);
        print(k.name + QStringLiteral(", --no-mqtt"), without, "");
    }
    return 0;
}
