#include "app/history_charts.h"

#include "app/frmmodule.h"
#include "app/history_window.h"
#include "platform/translation.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>

namespace kelta {

namespace {

// Column of the UID in each of the three tag grids.
constexpr int kColUid = 1;

QString historyCaption() {
    return Translate(currentLanguageIndex(), QStringLiteral("History"));
}

} // namespace

HistoryCharts::HistoryCharts(TfrmModule& window, const monitor::TagHistory& history)
    : w_(window), history_(history) {
    for (StringGrid* g : {w_.grdUID, w_.grdUID_LOG, w_.grdSel})
        if (g) attach(g);
    if (w_.lvTag) attach(w_.lvTag);
}

HistoryCharts::~HistoryCharts() = default;

QString HistoryCharts::uidAt(const StringGrid* grid, const QPoint* pos) {
    if (!grid) return {};
    int row = grid->currentRow();
    if (pos) {
        const QModelIndex index = grid->indexAt(*pos);
        if (!index.isValid()) return {};
        row = index.row() + 1; // the grid's row 0 is its header
    }
    if (row < 1 || row >= grid->rowCount()) return {};
    const QString uid = grid->cell(kColUid, row);
    return monitor::TagHistory::parseUid(uid) ? uid : QString();
}

QString HistoryCharts::uidAt(const QListWidget* list, const QPoint* pos) {
    if (!list) return {};
    const QListWidgetItem* item = pos ? list->itemAt(*pos) : list->currentItem();
    if (!item) return {};
    const QString uid = item->text().trimmed();
    return monitor::TagHistory::parseUid(uid) ? uid : QString();
}

void HistoryCharts::attach(StringGrid* grid) {
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this,
            [this, grid](const QPoint& pos) { popup(grid, pos, uidAt(grid, &pos)); });
    attachKey(grid, [grid] { return uidAt(grid, nullptr); });
}

void HistoryCharts::attach(QListWidget* list) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& pos) { popup(list, pos, uidAt(list, &pos)); });
    attachKey(list, [list] { return uidAt(list, nullptr); });
}

void HistoryCharts::attachKey(QWidget* view, std::function<QString()> selected) {
    auto* action = new QAction(view);
    action->setObjectName(QStringLiteral("actHistory"));
    action->setShortcut(key());
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    view->addAction(action);
    connect(action, &QAction::triggered, this, [this, selected = std::move(selected)] {
        const QString uid = selected();
        if (!uid.isEmpty()) showHistory(uid);
    });
}

void HistoryCharts::popup(QWidget* view, const QPoint& pos, const QString& uid) {
    if (uid.isEmpty()) return;
    auto* menu = new QMenu(view);
    menu->setObjectName(QStringLiteral("mnuHistory"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* history = menu->addAction(historyCaption());
    history->setShortcut(key());
    connect(history, &QAction::triggered, this, [this, uid] { showHistory(uid); });
    QWidget* origin = view;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(view)) origin = area->viewport();
    menu->popup(origin->mapToGlobal(pos));
}

void HistoryCharts::showHistory(const QString& uid) {
    if (!monitor::TagHistory::parseUid(uid)) return;
    if (!window_) window_ = std::make_unique<HistoryWindow>(history_);
    if (!window_->isVisible()) window_->clearTags();
    window_->addTag(uid);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void HistoryCharts::retranslate() {
    if (window_) window_->retranslate();
}

} // namespace kelta
