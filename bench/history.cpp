// The tag history's bounds and costs: 10,000 tags x 2,000 samples, without readings (all of
// them fit) and with temperature and humidity (the total cap drops the oldest), each in a
// process of its own; resident memory (VmRSS) against the cap and nanoseconds per sample
// added. Then what the window's run adds per record (the time of the record in milliseconds
// and the sample), and what one refresh of a chart of 5 tags costs.
//
//   bench_history [tags, default 10000] [samples per tag, default 2000] [picture.png]

#include "app/history_window.h"
#include "monitor/tag_history.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLineSeries>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using kelta::monitor::DataShown;
using kelta::monitor::SensorKind;
using kelta::monitor::SensorSlot;
using kelta::monitor::TagHistory;
using kelta::monitor::TagValues;
using Clock = std::chrono::steady_clock;

long vmRssKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

TagValues valuesOf(int tag, bool readings) {
    TagValues v;
    const std::uint64_t uid = 0x0100000000000000ull + static_cast<std::uint64_t>(tag);
    for (int i = 0; i < 8; ++i) v.uid[std::size_t(i)] = std::uint8_t(uid >> (56 - 8 * i));
    if (readings) {
        v.dataShown = DataShown::Sensors;
        v.sensorCount = 2;
        v.sensors[0] = {SensorSlot::D1H, SensorKind::Temperature, 21.5f};
        v.sensors[1] = {SensorSlot::D2H, SensorKind::Humidity, 48.25f};
    }
    return v;
}

void fill(int tags, int perTag, bool readings) {
    const long before = vmRssKiB();
    TagHistory h;
    std::vector<TagValues> values;
    for (int t = 0; t < tags; ++t) values.push_back(valuesOf(t, readings));
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    const auto start = Clock::now();
    // Round by round, as reports arrive: every tag once, then again.
    for (int n = 0; n < perTag; ++n)
        for (int t = 0; t < tags; ++t) {
            TagValues& v = values[std::size_t(t)];
            v.rssi = static_cast<std::uint8_t>(n + t);
            v.battery = static_cast<std::uint8_t>(n);
            h.add(v, t0 + qint64(n) * 1000 + t % 1000);
        }
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                      (double(tags) * perTag);
    const long after = vmRssKiB();
    std::printf("%-22s %d tags x %d: %.1f ns/sample added; held %zu, dropped for the cap %llu\n",
                readings ? "with readings" : "without readings", tags, perTag, ns, h.sampleCount(),
                static_cast<unsigned long long>(h.droppedForCap()));
    std::printf("%-22s VmRSS %.1f MiB (%.1f MiB before the fill), counted %.1f MiB, reserved %.1f "
                "MiB, cap %.1f MiB\n",
                "", after / 1024.0, before / 1024.0, double(h.bytesUsed()) / 1048576.0,
                double(h.bytesReserved()) / 1048576.0, double(h.limits().capBytes) / 1048576.0);
}

// Runs fn in a child process, so that each fill starts from the same resident memory.
void inChild(void (*fn)(int, int, bool), int tags, int perTag, bool readings) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        fn(tags, perTag, readings);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
}

// What RunController::recordAccepted adds per record: the stamp in milliseconds and the sample.
void perRecord() {
    TagHistory h;
    const int records = 2'000'000;
    std::vector<TagValues> values;
    for (int t = 0; t < 1000; ++t) values.push_back(valuesOf(t, t % 2 == 0));
    // The store stamps once a millisecond: 64 readers at 230 reports a second bring about 15
    // records a millisecond. The stamps are made before, as the store makes them anyway.
    std::vector<QDateTime> stamps;
    const QDateTime first = QDateTime::currentDateTime();
    for (int i = 0; i < records / 15 + 1; ++i) stamps.push_back(first.addMSecs(i));
    const auto start = Clock::now();
    for (int i = 0; i < records; ++i)
        h.add(values[std::size_t(i % 1000)], stamps[std::size_t(i / 15)]);
    const double ns =
        std::chrono::duration<double, std::nano>(Clock::now() - start).count() / records;
    std::printf("per record on the run's road (stamp + sample), 1,000 tags: %.1f ns (%zu held)\n",
                ns, h.sampleCount());
}

// Sample n of tag t for the chart: values that move, as a picture shows them.
TagValues moving(int t, int n) {
    TagValues v = valuesOf(t, t % 2 == 0);
    v.rssi = static_cast<std::uint8_t>(60 + t * 15 + (n * 7) % 23);
    v.battery = static_cast<std::uint8_t>(100 - t - n / 400);
    v.sensors[0].value = 20.0f + float(t) + float(n % 300) / 100.0f;
    v.sensors[1].value = 40.0f + float(t) * 3 + float(n % 500) / 50.0f;
    return v;
}

// One chart of 5 tags of full history; each refresh takes what 64 readers at 230 reports a
// second bring in 250 ms for these 5 of 1,000 tags (about 19 samples a tag).
void chartRefresh(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TagHistory h;
    kelta::HistoryWindow win(h);
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    for (int t = 0; t < 5; ++t) {
        win.addTag(TagHistory::uidText(0x0100000000000000ull + std::uint64_t(t)));
        for (int n = 0; n < 2000; ++n) h.add(moving(t, n), t0 + n * 100);
    }
    win.resize(1200, 900);
    win.show();
    app.processEvents();
    win.refresh();
    const int refreshes = 200;
    double total = 0, own = 0;
    qint64 t = t0 + 200000;
    for (int r = 0; r < refreshes; ++r) {
        for (int k = 0; k < 19; ++k, t += 13)
            for (int tag = 0; tag < 5; ++tag) h.add(moving(tag, 2000 + r * 19 + k), t);
        const auto start = Clock::now();
        win.refresh();
        own += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        app.processEvents(); // the views lay out and paint what changed
        total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    if (argc > 3) win.savePng(QString::fromLocal8Bit(argv[3]));
    std::printf("chart of 5 tags x 2,000 samples: %.2f ms per refresh (%.2f ms taking the samples, "
                "the rest laying out and painting; every %d ms), %.1f %% of one core\n",
                total / refreshes, own / refreshes, kelta::HistoryWindow::kRefreshMs,
                100.0 * total / refreshes / kelta::HistoryWindow::kRefreshMs);
}

} // namespace

int main(int argc, char** argv) {
    const int tags = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int perTag = argc > 2 ? std::atoi(argv[2]) : 2000;
    inChild(fill, tags, perTag, false);
    inChild(fill, tags, perTag, true);
    perRecord();
    chartRefresh(argc, argv);
    return 0;
}
