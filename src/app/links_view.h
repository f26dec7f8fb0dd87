#pragma once
// The "Links" tab of the Read TAG page: one row per link of the monitoring run (its name, the
// readers heard on it, state, records, records per second with a 60 s sparkline, frames
// rejected, bytes discarded, age of the last report), a row coloured when its link has been
// silent longer than the watchdog. The rows are the engine's linkHealth(), read every 500 ms
// only while the tab is shown and a run is active; nothing is added to the road of a record.
// When the run ends the rows stay as its links stood at the end.

#include "monitor/link_health.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QStyledItemDelegate>
#include <QTimer>
#include <vector>

class QTableView;
class QWidget;

namespace kelta::monitor {

class MonitorEngine;

class LinksModel : public QAbstractTableModel {
public:
    enum Column {
        Name,
        Readers,
        State,
        Records,
        PerSecond,
        LastMinute, // the sparkline, painted by SparklineDelegate
        Rejected,
        Discarded,
        LastReport,
        ColumnCount
    };
    // English keys of the headers (translated when shown).
    static QStringList headerKeys();

    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The links as they stand at `now`: the same links as before change their cells (one
    // dataChanged for the whole table), other links replace the rows.
    void setLinks(std::vector<LinkHealth> links, const QDateTime& now);
    const LinkHealth& link(int row) const { return links_[static_cast<std::size_t>(row)]; }
    // The headers and texts again, in the current language.
    void retranslate();
    QDateTime shownAt() const { return now_; }

private:
    std::vector<LinkHealth> links_;
    QDateTime now_;
    int language_ = -1; // of the headers shown
};

// The last 60 s of a link's records as a line in its cell.
class SparklineDelegate : public QStyledItemDelegate {
public:
    explicit SparklineDelegate(const LinksModel& model, QObject* parent = nullptr)
        : QStyledItemDelegate(parent), model_(model) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const LinksModel& model_;
};

class LinksView : public QObject {
public:
    // How often the rows are read while they are shown.
    static constexpr int kRefreshMs = 500;

    // `sheet` is the tab the table is on; the rows are read from `engine`.
    LinksView(QTableView& table, QWidget& sheet, const MonitorEngine& engine);
    ~LinksView() override;
    LinksView(const LinksView&) = delete;
    LinksView& operator=(const LinksView&) = delete;

    // A run began (true) or ended (false).
    void setRunActive(bool active);
    // Reads the rows now: the live links during a run, those at its end afterwards.
    void refresh();
    bool refreshing() const { return timer_.isActive(); }
    // After a language switch.
    void retranslate();
    const LinksModel& model() const { return model_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow();
    void fitHeaders();

    QTableView& table_;
    QWidget& sheet_;
    const MonitorEngine& engine_;
    LinksModel model_;
    SparklineDelegate sparkline_;
    QTimer timer_;
    bool runActive_ = false;
};

} // namespace kelta::monitor
