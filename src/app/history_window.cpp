#include "app/history_window.h"

#include "platform/translation.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

namespace kelta {

using monitor::HistorySample;
using monitor::SensorKind;
using monitor::SensorSlot;
using monitor::TagHistory;

namespace {

QString caption(const char* key) {
    return Translate(currentLanguageIndex(), QString::fromUtf8(key));
}

// Plot titles (English keys of the language table), in HistoryQuantity order.
constexpr std::array<const char*, kHistoryQuantities> kPlotKeys{
    "RSSI", "Battery", "Temperature (°C)", "Humidity (%)", "Counter"};

// Line colours, one per tag in the order tags are added (the same in every plot).
const std::array<QColor, 8> kColours{QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                                     QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
                                     QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                     QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

HistoryQuantity quantityOf(SensorKind kind) {
    switch (kind) {
    case SensorKind::Temperature:
        return HistoryQuantity::Temperature;
    case SensorKind::Humidity:
        return HistoryQuantity::Humidity;
    case SensorKind::Counter:
        break;
    }
    return HistoryQuantity::Counter;
}

bool hasDecimals(HistoryQuantity q) {
    return q == HistoryQuantity::Temperature || q == HistoryQuantity::Humidity;
}

QString valueText(HistoryQuantity q, double value) {
    return hasDecimals(q) ? QString::number(value, 'f', 2)
                          : QString::number(static_cast<qint64>(std::llround(value)));
}

QString timeText(qint64 msecs) {
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(
        QStringLiteral("yyyy/MM/dd hh:mm:ss.zzz"));
}

QString csvField(const monitor::SensorReading& r) {
    return QString::fromStdString(monitor::SensorValueText(r));
}

} // namespace

HistoryWindow::HistoryWindow(const TagHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history) {
    setObjectName(QStringLiteral("frmHistory"));
    // The main window's close ends the program whether or not this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(960, 760);

    auto* top = new QHBoxLayout;
    edtHistoryUID = new QLineEdit(this);
    edtHistoryUID->setObjectName(QStringLiteral("edtHistoryUID"));
    edtHistoryUID->setMaxLength(16);
    edtHistoryUID->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{0,16}")), edtHistoryUID));
    edtHistoryUID->setPlaceholderText(QStringLiteral("0000000000000000"));
    btnHistoryAdd = new QPushButton(this);
    btnHistoryAdd->setObjectName(QStringLiteral("btnHistoryAdd"));
    btnHistoryPNG = new QPushButton(this);
    btnHistoryPNG->setObjectName(QStringLiteral("btnHistoryPNG"));
    btnHistoryCSV = new QPushButton(this);
    btnHistoryCSV->setObjectName(QStringLiteral("btnHistoryCSV"));
    top->addWidget(edtHistoryUID);
    top->addWidget(btnHistoryAdd);
    top->addStretch(1);
    top->addWidget(btnHistoryPNG);
    top->addWidget(btnHistoryCSV);

    plotArea_ = new QWidget(this);
    auto* plots = new QVBoxLayout(plotArea_);
    plots->setContentsMargins(0, 0, 0, 0);
    plots->setSpacing(0);
    for (int i = 0; i < kHistoryQuantities; ++i) {
        Plot& p = plots_[static_cast<std::size_t>(i)];
        p.chart = new QChart;
        p.chart->legend()->setAlignment(Qt::AlignRight);
        p.chart->setMargins(QMargins(4, 2, 4, 2));
        p.time = new QDateTimeAxis;
        p.time->setFormat(QStringLiteral("hh:mm:ss"));
        p.chart->addAxis(p.time, Qt::AlignBottom);
        p.value = new QValueAxis;
        p.chart->addAxis(p.value, Qt::AlignLeft);
        p.view = new QChartView(p.chart, plotArea_);
        p.view->setRenderHint(QPainter::Antialiasing);
        p.view->setMinimumHeight(130);
        p.view->setMouseTracking(true);
        p.view->viewport()->setMouseTracking(true);
        p.view->viewport()->installEventFilter(this);
        plots->addWidget(p.view, 1);
    }

    lblHistoryValue = new QLabel(this);
    lblHistoryValue->setObjectName(QStringLiteral("lblHistoryValue"));
    lblHistoryMsg = new QLabel(this);
    lblHistoryMsg->setObjectName(QStringLiteral("lblHistoryMsg"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblHistoryValue, 1);
    bottom->addWidget(lblHistoryMsg);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(plotArea_, 1);
    layout->addLayout(bottom);

    connect(btnHistoryAdd, &QPushButton::clicked, this, [this] { btnHistoryAddClick(); });
    connect(edtHistoryUID, &QLineEdit::returnPressed, this, [this] { btnHistoryAddClick(); });
    connect(btnHistoryPNG, &QPushButton::clicked, this, [this] { btnHistoryPNGClick(); });
    connect(btnHistoryCSV, &QPushButton::clicked, this, [this] { btnHistoryCSVClick(); });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] { refresh(); });
    chooseFile_ = [this](const QString& filter, const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QString(), suggested, filter);
    };
    retranslate();
    updateRanges();
}

HistoryWindow::~HistoryWindow() = default;

QString HistoryWindow::plotTitle(HistoryQuantity q) const {
    return caption(kPlotKeys[static_cast<std::size_t>(q)]);
}

void HistoryWindow::retranslate() {
    setWindowTitle(caption("Tag history"));
    btnHistoryAdd->setText(caption("Add TAG"));
    btnHistoryPNG->setText(caption("Save as PNG"));
    btnHistoryCSV->setText(caption("Save as CSV"));
    for (int i = 0; i < kHistoryQuantities; ++i) {
        Plot& p = plots_[static_cast<std::size_t>(i)];
        p.value->setTitleText(plotTitle(static_cast<HistoryQuantity>(i)));
        p.time->setTitleText(caption("Time"));
    }
}

int HistoryWindow::lineKey(HistoryQuantity q, SensorSlot slot) {
    // Only temperatures come in two slots at once (a tag with two probes).
    const int s = q == HistoryQuantity::Temperature && slot == SensorSlot::D2H ? 1 : 0;
    return static_cast<int>(q) * 2 + s;
}

HistoryWindow::Line& HistoryWindow::lineFor(TagLines& tag, HistoryQuantity q, SensorSlot slot) {
    const int key = lineKey(q, slot);
    Line& line = tag.lines[key];
    if (line.series) return line;
    line.series = new QLineSeries;
    QString name = TagHistory::uidText(tag.uid);
    if (q == HistoryQuantity::Temperature)
        name += slot == SensorSlot::D2H ? QStringLiteral(" D_2H") : QStringLiteral(" D_1H");
    line.series->setName(name);
    QPen pen(kColours[static_cast<std::size_t>(tag.colour) % kColours.size()]);
    // A cosmetic pen of one pixel: thicker pens are stroked as outlines, many times dearer.
    pen.setWidth(1);
    pen.setCosmetic(true);
    if (key % 2) pen.setStyle(Qt::DashLine);
    line.series->setPen(pen);
    const Plot& p = plots_[static_cast<std::size_t>(q)];
    p.chart->addSeries(line.series);
    line.series->attachAxis(p.time);
    line.series->attachAxis(p.value);
    return line;
}

bool HistoryWindow::addTag(const QString& uid) {
    const auto parsed = TagHistory::parseUid(uid.trimmed());
    if (!parsed) return false;
    for (const TagLines& t : tags_)
        if (t.uid == *parsed) return true;
    TagLines t;
    t.uid = *parsed;
    t.colour = colours_++;
    tags_.push_back(std::move(t));
    refreshTag(tags_.back());
    updateRanges();
    return true;
}

QStringList HistoryWindow::tags() const {
    QStringList out;
    for (const TagLines& t : tags_) out << TagHistory::uidText(t.uid);
    return out;
}

void HistoryWindow::clearTags() {
    for (TagLines& t : tags_)
        for (auto& [key, line] : t.lines) {
            plots_[static_cast<std::size_t>(key / 2)].chart->removeSeries(line.series);
            delete line.series;
        }
    tags_.clear();
    colours_ = 0;
    lblHistoryValue->clear();
    updateRanges();
}

bool HistoryWindow::refreshTag(TagLines& tag) {
    const std::uint64_t added = history_.added(tag.uid);
    const std::uint64_t oldest = added - history_.count(tag.uid);
    if (added > tag.next) {
        std::uint64_t serial = std::max(tag.next, oldest);
        const auto take = [&serial](Line& line, qint64 msecs, double value) {
            line.points.append(QPointF(static_cast<qreal>(msecs), value));
            line.serials.push_back(serial);
            line.changed = true;
        };
        history_.visit(tag.uid, tag.next, [&](const HistorySample& s) {
            take(lineFor(tag, HistoryQuantity::Rssi, SensorSlot::D1H), s.msecs, s.rssi);
            take(lineFor(tag, HistoryQuantity::Battery, SensorSlot::D1H), s.msecs, s.battery);
            for (std::size_t k = 0; k < s.sensorCount; ++k) {
                const monitor::SensorReading& r = s.sensors[k];
                take(lineFor(tag, quantityOf(r.kind), r.slot), s.msecs,
                     static_cast<double>(r.value));
            }
            ++serial;
        });
        tag.next = added;
    }
    bool changed = false;
    for (auto& [key, line] : tag.lines) {
        // The points of samples the store has dropped since (its bounds) go too.
        std::size_t drop = 0;
        while (drop < line.serials.size() && line.serials[drop] < oldest) ++drop;
        if (drop) {
            line.serials.erase(line.serials.begin(),
                               line.serials.begin() + static_cast<std::ptrdiff_t>(drop));
            line.points.remove(0, static_cast<qsizetype>(drop));
            line.changed = true;
        }
        if (!line.changed) continue;
        // One replace per refresh: the series shares the list, and its view lays the line
        // out once rather than once per point added.
        line.series->replace(line.points);
        line.changed = false;
        changed = true;
    }
    return changed;
}

void HistoryWindow::refresh() {
    bool changed = false;
    for (TagLines& t : tags_) changed |= refreshTag(t);
    if (changed) updateRanges();
}

void HistoryWindow::updateRanges() {
    for (int i = 0; i < kHistoryQuantities; ++i) {
        const auto q = static_cast<HistoryQuantity>(i);
        Plot& p = plots_[static_cast<std::size_t>(i)];
        double x0 = std::numeric_limits<double>::max(), x1 = std::numeric_limits<double>::lowest();
        double y0 = x0, y1 = x1;
        for (const TagLines& t : tags_)
            for (const auto& [key, line] : t.lines) {
                if (key / 2 != i) continue;
                for (const QPointF& pt : line.points) {
                    x0 = std::min(x0, pt.x()), x1 = std::max(x1, pt.x());
                    y0 = std::min(y0, pt.y()), y1 = std::max(y1, pt.y());
                }
            }
        const bool any = x0 <= x1;
        // RSSI and battery are always there; the sensor plots only for tags that have them.
        p.view->setVisible(any || q == HistoryQuantity::Rssi || q == HistoryQuantity::Battery);
        if (!any) {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            p.time->setRange(QDateTime::fromMSecsSinceEpoch(now - 60000),
                             QDateTime::fromMSecsSinceEpoch(now));
            p.value->setRange(0, 255);
            continue;
        }
        // The axes move only when the points leave them (or fill a small part of them): each
        // change of range lays every line of the plot out again.
        const double t0 = double(p.time->min().toMSecsSinceEpoch());
        const double t1 = double(p.time->max().toMSecsSinceEpoch());
        const double span = std::max(x1 - x0, 1000.0);
        if (x0 < t0 || x1 > t1 || x0 - t0 > span / 4 || t1 - x1 > span / 4) {
            p.time->setRange(
                QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x0)),
                QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::ceil(x0 + span * 1.1))));
            // The date too once the lines span more than a day.
            p.time->setFormat(span > 86'400'000.0 ? QStringLiteral("MM/dd hh:mm")
                                                  : QStringLiteral("hh:mm:ss"));
        }
        const double pad = y1 > y0 ? (y1 - y0) * 0.05 : 1.0;
        const double v0 = p.value->min(), v1 = p.value->max();
        if (y0 < v0 || y1 > v1 || (v1 - v0) > 4 * (y1 - y0 + 2 * pad)) {
            p.value->setRange(y0 - pad, y1 + pad);
            p.value->applyNiceNumbers(); // round ticks, the range widened to them
        }
    }
}

QLineSeries* HistoryWindow::series(const QString& uid, HistoryQuantity q, SensorSlot slot) const {
    const auto parsed = TagHistory::parseUid(uid);
    if (!parsed) return nullptr;
    for (const TagLines& t : tags_) {
        if (t.uid != *parsed) continue;
        const auto it = t.lines.find(lineKey(q, slot));
        return it == t.lines.end() ? nullptr : it->second.series;
    }
    return nullptr;
}

QChart* HistoryWindow::chart(HistoryQuantity q) const {
    return plots_[static_cast<std::size_t>(q)].chart;
}

QChartView* HistoryWindow::chartView(HistoryQuantity q) const {
    return plots_[static_cast<std::size_t>(q)].view;
}

QString HistoryWindow::valueAt(HistoryQuantity q, const QPoint& viewPos) const {
    const Plot& p = plots_[static_cast<std::size_t>(q)];
    const QPointF at = p.chart->mapFromScene(p.view->mapToScene(viewPos));
    const QRectF area = p.chart->plotArea();
    if (!area.contains(at)) return {};
    const double t0 = static_cast<double>(p.time->min().toMSecsSinceEpoch());
    const double t1 = static_cast<double>(p.time->max().toMSecsSinceEpoch());
    const double v0 = p.value->min(), v1 = p.value->max();
    if (t1 <= t0 || v1 <= v0 || area.width() <= 0 || area.height() <= 0) return {};
    // Pixels per unit on each axis, so that the nearest point is nearest on the screen.
    const double sx = area.width() / (t1 - t0), sy = area.height() / (v1 - v0);
    const double px = t0 + (at.x() - area.left()) / sx;
    const double py = v1 - (at.y() - area.top()) / sy;
    const Line* best = nullptr;
    QPointF bestPoint;
    double bestDistance = std::numeric_limits<double>::max();
    for (const TagLines& t : tags_)
        for (const auto& [key, line] : t.lines) {
            if (key / 2 != static_cast<int>(q)) continue;
            for (const QPointF& pt : line.points) {
                const double d = std::hypot((pt.x() - px) * sx, (pt.y() - py) * sy);
                if (d < bestDistance) bestDistance = d, best = &line, bestPoint = pt;
            }
        }
    if (!best) return {};
    return QStringLiteral("%1   %2   %3 %4")
        .arg(best->series->name(), timeText(static_cast<qint64>(bestPoint.x())), plotTitle(q),
             valueText(q, bestPoint.y()));
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Leave) {
        for (int i = 0; i < kHistoryQuantities; ++i) {
            if (watched != plots_[static_cast<std::size_t>(i)].view->viewport()) continue;
            if (event->type() == QEvent::Leave) {
                lblHistoryValue->clear();
            } else {
                const auto* e = static_cast<QMouseEvent*>(event);
                lblHistoryValue->setText(
                    valueAt(static_cast<HistoryQuantity>(i), e->position().toPoint()));
            }
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void HistoryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    retranslate();
    refresh();
    refresh_.start();
}

void HistoryWindow::hideEvent(QHideEvent* event) {
    refresh_.stop();
    QWidget::hideEvent(event);
}

bool HistoryWindow::savePng(const QString& path) {
    refresh();
    const QPixmap picture = plotArea_->grab();
    return !picture.isNull() && picture.save(path, "PNG");
}

bool HistoryWindow::saveCsv(const QString& path) const {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    QString text = QStringLiteral("UID,Time,RSSI,Battery,Temperature 1 (°C),Temperature 2 (°C),"
                                  "Humidity (%),Counter\r\n");
    for (const TagLines& t : tags_) {
        const QString uid = TagHistory::uidText(t.uid);
        for (const HistorySample& s : history_.samples(t.uid)) {
            // Temperatures by slot; humidity and counter by kind.
            std::array<QString, 4> readings;
            for (std::size_t k = 0; k < s.sensorCount; ++k) {
                const monitor::SensorReading& r = s.sensors[k];
                const std::size_t column = r.kind == SensorKind::Temperature
                                               ? (r.slot == SensorSlot::D2H ? 1 : 0)
                                           : r.kind == SensorKind::Humidity ? 2
                                                                            : 3;
                readings[column] = csvField(r);
            }
            text += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8\r\n")
                        .arg(uid, timeText(s.msecs), QString::number(s.rssi),
                             QString::number(s.battery), readings[0], readings[1], readings[2],
                             readings[3]);
        }
        if (out.write(text.toUtf8()) < 0) return false;
        text.clear();
    }
    if (!text.isEmpty() && out.write(text.toUtf8()) < 0) return false;
    return out.commit();
}

void HistoryWindow::showMessage(const QString& text) {
    lblHistoryMsg->setText(text);
}

void HistoryWindow::btnHistoryAddClick() {
    const QString text = edtHistoryUID->text().trimmed();
    if (!addTag(text)) {
        showMessage(caption("Not a TAG UID: %1").arg(text));
        return;
    }
    showMessage(QString());
    edtHistoryUID->clear();
}

void HistoryWindow::btnHistoryPNGClick() {
    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QStringLiteral("KeltaHistory.png"));
    const QString path =
        chooseFile_ ? chooseFile_(QStringLiteral("PNG (*.png)"), suggested) : QString();
    if (path.isEmpty()) return;
    showMessage(savePng(path) ? caption("Saved to %1").arg(path)
                              : caption("Could not save %1").arg(path));
}

void HistoryWindow::btnHistoryCSVClick() {
    const QString suggested =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QStringLiteral("KeltaHistory.csv"));
    const QString path =
        chooseFile_ ? chooseFile_(QStringLiteral("CSV (*.csv)"), suggested) : QString();
    if (path.isEmpty()) return;
    showMessage(saveCsv(path) ? caption("Saved to %1").arg(path)
                              : caption("Could not save %1").arg(path));
}

} // namespace kelta
