// Renders the main window and saves one picture per main page, in English and in Traditional
// Chinese, with a few decoded tag reports in the Read TAG grid; then, in English, the Links tab
// during a short run of simulated readers on the listening port (one hangs up halfway) and the
// history chart of two sensor tags with two hours of sample readings:
//   kelta-screenshots [output folder [WIDTHxHEIGHT]]   (defaults: docs, 1366x768)
// Meant to run under QT_QPA_PLATFORM=offscreen. It runs with a home folder of a neutral name
// (<temp>/user) and scratch configuration folders, so the pictures show neither the account
// that made them nor its settings, serial map or selection file, and nothing of it is changed.
#include "app/application.h"
#include "app/frmmodule.h"
#include "app/history_charts.h"
#include "app/history_window.h"
#include "app/language.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "monitor/proto/report_decoder.h"
#include "reader-sim/sim_host.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

// One live report frame with the reader ID (flag 0x0800): a sensor tag when d1/d2 carry
// readings, and a GPS block when withGps.
Bytes liveFrame(unsigned readerId, std::uint64_t uid, std::uint8_t model, std::uint8_t rssi,
                unsigned d1, unsigned d2, bool withGps) {
    Bytes rec;
    put16(rec, readerId);
    for (std::uint8_t x : {std::uint8_t{0x00}, std::uint8_t{0x10}, std::uint8_t{0xA5}, model,
                           std::uint8_t{0x01}, std::uint8_t{0x01}})
        rec.push_back(x);
    for (int shift = 56; shift >= 0; shift -= 8)
        rec.push_back(static_cast<std::uint8_t>(uid >> shift));
    for (std::uint8_t x : {rssi, std::uint8_t{96}, std::uint8_t{0x81}, std::uint8_t{87},
                           std::uint8_t{0x3C}, std::uint8_t{0xC3}})
        rec.push_back(x);
    put16(rec, d1);
    put16(rec, d2);
    if (withGps) {
        for (int x : {121, 30, 15, 25, int{'E'}, 25, 2, 30, 50, int{'N'}})
            rec.push_back(static_cast<std::uint8_t>(x));
        put16(rec, 12);
        put16(rec, 7);
        rec.push_back(0x00);
    }
    Bytes frame{0x06};
    put16(frame, static_cast<unsigned>(4 + rec.size()));
    put16(frame, 0x0800);
    put16(frame, 0x6040);
    frame.insert(frame.end(), rec.begin(), rec.end());
    return frame;
}

void showSampleTags(kelta::TfrmModule& w) {
    kelta::monitor::TagTables& tables = *w.tagTables;
    tables.setCurrentTagGrid(w.grdUID);
    const std::vector<Bytes> frames = {
        liveFrame(1, 0x0001000112050211ULL, 0x00, 182, 0x0000, 0x0000, false),
        liveFrame(1, 0x0001000112050212ULL, 0x01, 175, 0x8000 + 6500, 1400, false),
        liveFrame(2, 0x0001000143652482ULL, 0x01, 161, 0x0320, 0x0300, false),
        liveFrame(2, 0x0001000156947711ULL, 0x00, 154, 0x0000, 0x0000, true),
        liveFrame(1, 0x0001000198765432ULL, 0x00, 149, 0x0000, 0x0000, false),
    };
    for (const Bytes& f : frames)
        kelta::monitor::SplitReportBlock(kelta::monitor::DecodeMode::Live,
                                         kelta::monitor::LinkKind::Serial, "01", f, tables);
    // The first tag is heard a few times more.
    for (int i = 0; i < 3; ++i)
        kelta::monitor::SplitReportBlock(kelta::monitor::DecodeMode::Live,
                                         kelta::monitor::LinkKind::Serial, "01", frames[0], tables);
    tables.setCurrentTagGrid(nullptr);
}

bool savePicture(QWidget& widget, const QString& path) {
    QImage image(widget.size(), QImage::Format_RGB32);
    image.fill(widget.palette().color(QPalette::Window));
    QPainter painter(&image);
    widget.render(&painter);
    painter.end();
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool save(kelta::TfrmModule& w, kelta::TabSheet* page, const QString& path, QSize size) {
    w.pcMain->setActivePage(page);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    // Showing Read TAG fits the window to the screen's work area; the picture keeps its size.
    w.setGeometry(QRect(QPoint(0, 0), size));
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    for (auto* grid : w.findChildren<kelta::StringGrid*>()) grid->flush();
    return savePicture(w, path);
}

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The Links tab during a run: three simulated readers connect to the listening port, each
// from its own loopback address, at 4, 8 and 12 reports a second; the third hangs up halfway.
bool saveLinks(kelta::TfrmModule& w, const QString& path, QSize size) {
    QTcpServer probe; // a port free now, for the window to listen on
    if (!probe.listen(QHostAddress::LocalHost, 0)) return false;
    const quint16 port = probe.serverPort();
    probe.close();
    kelta::sim::SimHost host;
    std::vector<int> readers;
    for (int i = 0; i < 3; ++i) {
        kelta::sim::ReaderConfig c;
        c.readerId = static_cast<std::uint16_t>(i + 1);
        c.seed = static_cast<std::uint32_t>(i + 1);
        c.tags.count = 6;
        readers.push_back(host.addReader(c));
    }
    w.pcMain->setActivePage(w.tsReadTag);
    w.pcTagMain->setActivePage(w.tsNetServer);
    w.edtListenPort->setText(QString::number(port));
    w.btnStart->click();
    spin(1500);
    for (int i = 0; i < 3; ++i) {
        const QString from = QStringLiteral("127.0.0.%1").arg(i + 2);
        host.connectTcpFrom(readers[static_cast<std::size_t>(i)], from, port);
        const double rate = 4.0 * (i + 1);
        host.call(readers[static_cast<std::size_t>(i)],
                  [rate](kelta::sim::ReaderSim& r) { r.setRate(rate); });
    }
    spin(6000);
    host.stopReader(readers[2]);
    spin(6000);
    w.pcReadTag->setActivePage(w.tsLinks);
    w.setGeometry(QRect(QPoint(0, 0), size));
    spin(1200); // two refreshes of the rows
    for (auto* grid : w.findChildren<kelta::StringGrid*>()) grid->flush();
    const bool ok = savePicture(w, path);
    w.btnStart->click(); // Stop
    spin(500);
    w.pcReadTag->setActivePage(w.tsViewAllTag);
    host.stop();
    return ok;
}

// The history chart of two sensor tags of a cold room: two hours of readings a minute apart,
// the second tag's door opened for a while.
bool saveHistory(kelta::TfrmModule& w, const QString& path) {
    kelta::monitor::TagHistory& history = w.runController->history();
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    const std::uint64_t uids[] = {0x0001000112050299ULL, 0x0001000143652499ULL};
    for (int t = 0; t < 2; ++t) {
        for (int m = 0; m <= 120; ++m) {
            kelta::monitor::TagValues v;
            for (int b = 0; b < 8; ++b)
                v.uid[static_cast<std::size_t>(b)] =
                    static_cast<std::uint8_t>(uids[t] >> (56 - 8 * b));
            v.model = 0x01;
            v.rssi = static_cast<std::uint8_t>(170 - 12 * t + 6 * std::sin(m * 0.7 + t));
            v.battery = static_cast<std::uint8_t>(96 - m / 60);
            v.dataShown = kelta::monitor::DataShown::Sensors;
            v.sensorCount = 2;
            const bool door = t == 1 && m >= 70 && m < 82;
            const double temp = 3.5 + 0.6 * std::sin(m / 9.0 + t) + (door ? (m - 68) * 0.45 : 0.0);
            v.sensors[0] = {kelta::monitor::SensorSlot::D1H,
                            kelta::monitor::SensorKind::Temperature, static_cast<float>(temp)};
            v.sensors[1] = {
                kelta::monitor::SensorSlot::D2H, kelta::monitor::SensorKind::Humidity,
                static_cast<float>(72.0 + 4.0 * std::cos(m / 14.0) + (door ? 6.0 : 0.0))};
            history.add(v, end - (120 - m) * 60'000LL);
        }
    }
    for (std::uint64_t uid : uids)
        w.historyCharts->showHistory(kelta::monitor::TagHistory::uidText(uid));
    kelta::HistoryWindow* chart = w.historyCharts->window();
    if (!chart) return false;
    chart->resize(1100, 900);
    spin(300);
    chart->refresh();
    spin(300);
    const bool ok = savePicture(*chart, path);
    chart->close();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "cannot create a scratch folder\n");
        return 1;
    }
    qputenv("KELTA_SETTINGS_FILE", scratch.filePath("LR900.ini").toLocal8Bit());
    // A home folder of a neutral name, made for this run and removed after it: the pictures
    // show its paths, and the program's own folders (the selection file's) go there.
    const QString home = QDir::tempPath() + QStringLiteral("/user");
    if (QFileInfo::exists(home)) {
        std::fprintf(stderr, "%s exists; remove it first (it is made and removed by each run)\n",
                     qPrintable(home));
        return 1;
    }
    struct RemoveAtEnd {
        QString path;
        ~RemoveAtEnd() { QDir(path).removeRecursively(); }
    } removeHome{home};
    QDir().mkpath(home + QStringLiteral("/Documents"));
    qputenv("HOME", home.toLocal8Bit());
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                             "XDG_RUNTIME_DIR"}) {
        const QString folder = scratch.filePath(QString::fromLatin1(name));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(name, folder.toLocal8Bit());
    }
    kelta::Application app(argc, argv);
    kelta::Application::setApplicationName("Kelta Utility_LR900");
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out));
        return 1;
    }
    QSize size(1366, 768);
    if (argc > 2) {
        const QStringList wh = QString::fromLocal8Bit(argv[2]).split(QLatin1Char('x'));
        if (wh.size() == 2 && wh[0].toInt() > 0 && wh[1].toInt() > 0)
            size = QSize(wh[0].toInt(), wh[1].toInt());
    }
    kelta::TfrmModule w;
    w.setGeometry(QRect(QPoint(0, 0), size));
    w.show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    const QDir dir(out);
    bool ok = true;
    for (const auto& [language, suffix] : {std::pair{0, ""}, std::pair{1, "-cht"}}) {
        kelta::cmbLanguageChange(w, language); // as if chosen in the status bar
        w.tagTables->btnClearClick();
        showSampleTags(w);
        w.pnlTagCount->setText(QString::number(w.grdUID->rowCount() - 1));
        const QString s = QString::fromLatin1(suffix);
        ok = save(w, w.tsReadTag, dir.filePath("screenshot-read-tag" + s + ".png"), size) && ok;
        ok = save(w, w.tsSetReader, dir.filePath("screenshot-set-reader" + s + ".png"), size) && ok;
        ok = save(w, w.tsSetTAG, dir.filePath("screenshot-set-tag" + s + ".png"), size) && ok;
    }
    kelta::cmbLanguageChange(w, 0);
    ok = saveHistory(w, dir.filePath("screenshot-history.png")) && ok;
    ok = saveLinks(w, dir.filePath("screenshot-links.png"), size) && ok;
    w.pcMain->setActivePage(w.tsReadTag);
    std::printf("auto-save file shown: %s\n", qPrintable(w.edtSaveFile->text()));
    return ok ? 0 : 1;
}
