#pragma once
// "History" on the tag grids and the tag list of the "Read TAG" page: an entry of their
// context menus and a key (Ctrl+H, the row or item selected) open the chart window with that
// tag, or add it to the chart while the window is open. Double-clicks keep their own work.

#include "monitor/tag_history.h"

#include <QKeySequence>
#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

class QListWidget;
class QWidget;

namespace kelta {

class TfrmModule;
class StringGrid;
class HistoryWindow;

class HistoryCharts : public QObject {
public:
    static QKeySequence key() { return QKeySequence(Qt::CTRL | Qt::Key_H); }

    HistoryCharts(TfrmModule& window, const monitor::TagHistory& history);
    ~HistoryCharts() override;

    // Shows the chart window with the tag: added to the chart while the window is open, the
    // only tag of a fresh chart otherwise. A text that is not a UID does nothing.
    void showHistory(const QString& uid);
    // Null until the window is first opened.
    HistoryWindow* window() const { return window_.get(); }
    // Captions of the window in the current language.
    void retranslate();

    // The UID of the grid row under `pos` (viewport coordinates) or of the row selected
    // (pos null); empty when there is none.
    static QString uidAt(const StringGrid* grid, const QPoint* pos);
    static QString uidAt(const QListWidget* list, const QPoint* pos);

private:
    void attach(StringGrid* grid);
    void attach(QListWidget* list);
    void attachKey(QWidget* view, std::function<QString()> selected);
    void popup(QWidget* view, const QPoint& pos, const QString& uid);

    TfrmModule& w_;
    const monitor::TagHistory& history_;
    std::unique_ptr<HistoryWindow> window_;
};

} // namespace kelta
