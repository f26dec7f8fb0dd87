#include "app/links_view.h"

#include "monitor/monitor_engine.h"
#include "platform/translation.h"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QTableView>
#include <QWidget>
#include <algorithm>

namespace kelta::monitor {

namespace {

QString translated(const QString& key) {
    return Translate(currentLanguageIndex(), key);
}

QString stateText(const LinkHealth& h, const QDateTime& now) {
    switch (h.state) {
    case LinkHealth::State::Open:
        return translated(QStringLiteral("open"));
    case LinkHealth::State::Connecting:
        return translated(QStringLiteral("connecting"));
    case LinkHealth::State::Reconnecting:
        return translated(QStringLiteral("reconnecting in %1 s")).arg(secondsToNextAttempt(h, now));
    case LinkHealth::State::Lost:
        return translated(QStringLiteral("lost"));
    case LinkHealth::State::PortInUse:
        return translated(QStringLiteral("port in use"));
    }
    return {};
}

const QColor kSilentRow(255, 210, 200);

} // namespace

QStringList LinksModel::headerKeys() {
    return {QStringLiteral("Link"),
            QStringLiteral("Readers"),
            QStringLiteral("State"),
            QStringLiteral("Records"),
            QStringLiteral("Per second"),
            QStringLiteral("Last 60 s"),
            QStringLiteral("Frames rejected"),
            QStringLiteral("Bytes discarded"),
            QStringLiteral("Last report")};
}

int LinksModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(links_.size());
}

int LinksModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LinksModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const LinkHealth& h = link(index.row());
    const int col = index.column();
    if (role == Qt::BackgroundRole) return linkSilent(h, now_) ? QVariant(kSilentRow) : QVariant();
    if (role == Qt::TextAlignmentRole) {
        const bool number = col == Records || col == PerSecond || col == Rejected ||
                            col == Discarded || col == LastReport;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (col) {
    case Name:
        return h.name;
    case Readers:
        return h.readerIds.join(QStringLiteral(", "));
    case State:
        return stateText(h, now_);
    case Records:
        return QString::number(h.records);
    case PerSecond:
        return QString::number(h.recordsPerSecond());
    case LastMinute:
        // Painted; the tool tip gives the busiest second.
        return role == Qt::ToolTipRole ? QVariant(QString::number(*std::max_element(
                                             h.lastMinute.begin(), h.lastMinute.end())))
                                       : QVariant();
    case Rejected:
        return QString::number(h.framesRejected);
    case Discarded:
        return QString::number(h.bytesDiscarded);
    case LastReport:
        if (!h.lastReport.isValid()) return QStringLiteral("-");
        return translated(QStringLiteral("%1 s"))
            .arg(std::max<qint64>(0, h.lastReport.msecsTo(now_)) / 1000);
    default:
        return {};
    }
}

QVariant LinksModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return translated(headerKeys()[section]);
}

void LinksModel::retranslate() {
    language_ = currentLanguageIndex();
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!links_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void LinksModel::setLinks(std::vector<LinkHealth> links, const QDateTime& now) {
    now_ = now;
    if (language_ != currentLanguageIndex()) retranslate();
    const bool sameLinks =
        links.size() == links_.size() &&
        std::equal(links.begin(), links.end(), links_.begin(),
                   [](const LinkHealth& a, const LinkHealth& b) { return a.name == b.name; });
    if (!sameLinks) {
        beginResetModel();
        links_ = std::move(links);
        endResetModel();
        return;
    }
    links_ = std::move(links);
    if (!links_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void SparklineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    // Background and selection as any cell; then the line.
    QStyledItemDelegate::paint(painter, option, index);
    if (!index.isValid() || index.row() >= model_.rowCount()) return;
    const auto& values = model_.link(index.row()).lastMinute;
    const std::uint32_t peak = *std::max_element(values.begin(), values.end());
    const QRectF r = QRectF(option.rect).adjusted(3, 3, -3, -3);
    if (r.width() < 2 || r.height() < 2) return;
    QPainterPath path;
    const double step = r.width() / static_cast<double>(values.size() - 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double y = peak ? r.bottom() - r.height() * values[i] / peak : r.bottom();
        const QPointF p(r.left() + step * static_cast<double>(i), y);
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(QPen(option.state & QStyle::State_Selected
                             ? option.palette.highlightedText().color()
                             : QColor(0, 90, 200),
                         1.2));
    painter->drawPath(path);
    painter->restore();
}

QSize SparklineDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    const QSize s = QStyledItemDelegate::sizeHint(option, index);
    return {std::max(s.width(), 2 * SecondRing::kSeconds), s.height()};
}

LinksView::LinksView(QTableView& table, QWidget& sheet, const MonitorEngine& engine)
    : table_(table), sheet_(sheet), engine_(engine), sparkline_(model_) {
    table_.setModel(&model_);
    table_.setItemDelegateForColumn(LinksModel::LastMinute, &sparkline_);
    table_.setSelectionBehavior(QAbstractItemView::SelectRows);
    table_.setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_.verticalHeader()->hide();
    table_.horizontalHeader()->setStretchLastSection(true);
    table_.setColumnWidth(LinksModel::Name, 170);
    table_.setColumnWidth(LinksModel::LastMinute, 2 * SecondRing::kSeconds + 8);
    fitHeaders();
    timer_.setInterval(kRefreshMs);
    connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
    sheet_.installEventFilter(this);
    follow();
}

LinksView::~LinksView() {
    sheet_.removeEventFilter(this);
    table_.setItemDelegateForColumn(LinksModel::LastMinute, nullptr);
    table_.setModel(nullptr);
}

void LinksView::setRunActive(bool active) {
    if (active == runActive_) return;
    runActive_ = active;
    // The end of a run is shown as its links stood then, once.
    if (!active && sheet_.isVisible()) refresh();
    follow();
}

void LinksView::refresh() {
    if (engine_.running())
        model_.setLinks(engine_.linkHealth(), QDateTime::currentDateTime());
    else if (model_.shownAt() != engine_.endedLinkHealthTime() || model_.rowCount() == 0)
        model_.setLinks(engine_.endedLinkHealth(), engine_.endedLinkHealthTime());
}

void LinksView::follow() {
    const bool on = runActive_ && sheet_.isVisible();
    if (on == timer_.isActive()) return;
    if (on) {
        refresh();
        timer_.start();
    } else {
        timer_.stop();
    }
}

void LinksView::retranslate() {
    model_.retranslate();
    fitHeaders();
}

void LinksView::fitHeaders() {
    // Every column at least as wide as its header text in the current language, once per
    // language (never sized from the rows, which change twice a second).
    QHeaderView* h = table_.horizontalHeader();
    for (int c = 0; c < LinksModel::ColumnCount; ++c)
        h->resizeSection(c, std::max(h->sectionSize(c), h->sectionSizeHint(c) + 4));
}

bool LinksView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &sheet_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        // Shown after a run: its last rows.
        if (event->type() == QEvent::Show && !runActive_) refresh();
        follow();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kelta::monitor
