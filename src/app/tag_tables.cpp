#include "app/tag_tables.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "monitor/proto/monitor_frame.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "platform/wait_pump.h"
#include "reader/link_state.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QLocale>
#include <QSaveFile>
#include <algorithm>
#include <array>

namespace kelta::monitor {

namespace {

// Columns the page's handlers read.
constexpr int kColNo = 0;
constexpr int kColUid = 1;
constexpr int kColRssi = 2;
constexpr int kColLqi = 3;
constexpr int kColPacket = 5;
constexpr int kColModel = 6;

const QString kZeroUid = QString(16, QLatin1Char('0'));

// Header texts pass through the message translation when they are written.
QString tr(const QString& text) {
    return Translate(currentLanguageIndex(), text);
}

// A 32-bit decimal number, or `fallback` when the text is not one.
int decimalOr(const QString& text, int fallback) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : fallback;
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

bool ensureFolderOf(const QString& path) {
    if (path.isEmpty()) return false;
    const QString folder = folderOf(path);
    return QFileInfo(folder).isDir() || platform::createFolders(folder);
}

void setTextIfChanged(QLineEdit* e, const QString& text) {
    if (e && e->text() != text) e->setText(text);
}

QStringList translated(const QStringList& keys) {
    QStringList out;
    out.reserve(keys.size());
    for (const QString& k : keys) out << tr(k);
    return out;
}

} // namespace

std::vector<std::uint8_t> rssiFilterData(std::uint8_t threshold) {
    std::vector<std::uint8_t> d(32, 0x00);
    d[0] = 0xFF;
    d[1] = 0xFF;
    d[2] = 0x01;
    d[3] = 0x11;
    d[4] = 0x01;
    // bytes 5 .. 12 and 13 stay zero
    d[14] = threshold;
    return d;
}

// ---------------------------------------------------------------------------------------------

TagTables::TagTables(TfrmModule& window, reader::LinkState& link)
    : QObject(&window), w_(window), link_(link) {
    // The grids show the store's tables, which take over what the grids hold.
    if (w_.grdUID) w_.grdUID->showTable(&store_.liveTable());
    if (w_.grdUID_LOG) w_.grdUID_LOG->showTable(&store_.logTable());
    if (w_.grdSel) w_.grdSel->showTable(&store_.selectionTable());
    store_.setCollectNewTags(true);
    store_.setViewsPendingHook([this] { scheduleViews(); });
    store_.setSelectionCountersHook([this] { resetSelectionCounters(); });
    store_.setTranslator(
        [](const QString& text) { return Translate(currentLanguageIndex(), text); });
    store_.setFileNoticeHook([this](const QString& notice) { showFileNotice(notice); });
    viewTimer_.setSingleShot(true);
    viewTimer_.setInterval(kViewRefreshMs);
    connect(&viewTimer_, &QTimer::timeout, this, [this] { flushViews(); });
    TfrmModule& w = w_;
    chooseFile_ = [](QFileDialog* dialog, const QString& preset) {
        if (!dialog) return preset;
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setNameFilter(QStringLiteral("Excel CSV files (*.csv)"));
        dialog->setDirectory(folderOf(preset));
        dialog->selectFile(QFileInfo(preset).fileName());
        if (dialog->exec() != QDialog::Accepted) return preset;
        const QStringList files = dialog->selectedFiles();
        return files.isEmpty() ? preset : files.first();
    };

    if (w.btnClear) connect(w.btnClear, &QPushButton::clicked, this, [this] { btnClearClick(); });
    if (w.lvTag)
        connect(w.lvTag, &QListWidget::itemDoubleClicked, this, [this] { lvTagDblClick(); });
    if (w.lvSel) {
        connect(w.lvSel, &QListWidget::itemDoubleClicked, this, [this] { lvSelDblClick(); });
        // The store's selection follows the list whenever it changes, whoever changes it.
        QAbstractItemModel* m = w.lvSel->model();
        auto dirty = [this] { syncSelection(); };
        connect(m, &QAbstractItemModel::rowsInserted, this, dirty);
        connect(m, &QAbstractItemModel::rowsRemoved, this, dirty);
        connect(m, &QAbstractItemModel::dataChanged, this, dirty);
        connect(m, &QAbstractItemModel::modelReset, this, dirty);
        connect(m, &QAbstractItemModel::layoutChanged, this, dirty);
    }
    for (StringGrid* g : {w.grdUID, w.grdSel}) {
        if (!g) continue;
        connect(g, &QAbstractItemView::clicked, this, [this, g] { grdUIDClick(g); });
        connect(g, &QAbstractItemView::doubleClicked, this, [this, g] { grdUIDDblClick(g); });
    }
    if (w.grdUID_LOG)
        connect(w.grdUID_LOG, &QAbstractItemView::clicked, this, [this] { grdUID_LOGClick(); });
    if (w.btnFile) connect(w.btnFile, &QPushButton::clicked, this, [this] { btnFileClick(); });
    if (w.btnSaveFile)
        connect(w.btnSaveFile, &QPushButton::clicked, this, [this] { btnSaveFileClick(); });
    for (QCheckBox* b : {w.chbAutoSave, w.chbAllTags})
        if (b) connect(b, &QCheckBox::clicked, this, [this] { chbAutoSaveMouseUp(); });
    if (w.pcTagMain)
        connect(w.pcTagMain, &PageControl::pageChanged, this, [this] { pcTagMainChange(); });
    if (w.pcReadTag)
        connect(w.pcReadTag, &PageControl::pageChanged, this, [this] { pcTagMainChange(); });
    if (w.btnSave) connect(w.btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
    if (w.edNo) w.edNo->installEventFilter(this);
    if (w.sbRSSI) connect(w.sbRSSI, &QScrollBar::valueChanged, this, [this] { sbRSSIChange(); });
    if (w.btnRSSI) connect(w.btnRSSI, &QPushButton::clicked, this, [this] { btnRSSIClick(); });
    // The file names and the auto-save switch are handed to the store as they change.
    for (QLineEdit* e : {w.edtSaveFile, w.edtEvenLogFile})
        if (e) connect(e, &QLineEdit::textChanged, this, [this] { syncSettings(); });
    if (w.chbAutoSave)
        connect(w.chbAutoSave, &QCheckBox::toggled, this, [this] { syncSettings(); });
    syncSettings();
    syncSelection();
}

TagTables::~TagTables() {
    closeFiles();
    // The grids go back to tables of their own, with the rows they show.
    for (StringGrid* g : {w_.grdUID, w_.grdUID_LOG, w_.grdSel})
        if (g) g->showTable(nullptr);
}

void TagTables::setClock(std::function<QDateTime()> fn) {
    if (fn) store_.setClock(std::move(fn));
}

void TagTables::syncSettings() {
    if (w_.edtSaveFile) store_.setAutoSavePath(w_.edtSaveFile->text());
    if (w_.edtEvenLogFile) store_.setEventLogPath(w_.edtEvenLogFile->text());
    store_.setAutoSave(w_.chbAutoSave && w_.chbAutoSave->isChecked());
}

void TagTables::showFileNotice(const QString& notice) {
    if (!w_.sbMain || w_.sbMain->panelCount() < 2) return;
    w_.sbMain->setPanelText(1, notice);
    w_.sbMain->setToolTip(notice);
}

void TagTables::syncSelection() {
    QStringList uids;
    if (w_.lvSel) {
        uids.reserve(w_.lvSel->count());
        for (int i = 0; i < w_.lvSel->count(); ++i) uids << w_.lvSel->item(i)->text();
    }
    store_.setSelection(uids);
}

StringGrid* TagTables::gridOf(const CellTable* table) const {
    if (!table) return nullptr;
    if (table == &store_.liveTable()) return w_.grdUID;
    if (table == &store_.logTable()) return w_.grdUID_LOG;
    if (table == &store_.selectionTable()) return w_.grdSel;
    return nullptr;
}

bool TagTables::eventFilter(QObject* watched, QEvent* event) {
    if (watched == w_.edNo && !clearing_) {
        if (event->type() == QEvent::KeyRelease) {
            edNoKeyUp();
        } else if (event->type() == QEvent::KeyPress) {
            edNoKeyPress();
        }
    }
    return QObject::eventFilter(watched, event);
}

// --- Posting ---------------------------------------------------------------------------------

void TagTables::setCurrentTagGrid(StringGrid* grid) {
    current_ = grid;
    CellTable* t = nullptr;
    if (grid && grid == w_.grdUID) t = &store_.liveTable();
    if (grid && grid == w_.grdUID_LOG) t = &store_.logTable();
    if (grid && grid == w_.grdSel) t = &store_.selectionTable();
    store_.setCurrentTable(t);
}

void TagTables::PostTagRecord(const DecodedTagRecord& rec, DecodeMode mode) {
    store_.PostTagRecord(rec, mode);
}

void TagTables::scheduleViews() {
    if (!viewTimer_.isActive()) viewTimer_.start();
}

void TagTables::flushViews() {
    viewTimer_.stop();
    TagStore::Views v = store_.takeViews();
    if (!v.newTags.isEmpty()) {
        // One batch: the list lays its items out once, not once per new tag.
        QListWidgetItem* last = nullptr;
        for (const QString& uid : std::as_const(v.newTags)) {
            last = new QListWidgetItem(uid);
            w_.lvTag->addItem(last);
        }
        w_.lvTag->setCurrentItem(last);
    }
    if (v.tagIdPending) setTextIfChanged(w_.edtTagID, v.tagId);
    if (v.readerIdPending) {
        if (w_.cbxTxID_00) w_.cbxTxID_00->setChecked(true);
        if (w_.cbxTxID_01) w_.cbxTxID_01->setChecked(true);
        for (QLineEdit* e : {w_.edtTxID_00, w_.edtTxID_01, w_.edtTxID_02})
            setTextIfChanged(e, v.readerId);
    }
    if (StringGrid* g = gridOf(v.table)) {
        if (v.row < g->rowCount()) g->setCurrentRow(v.row);
    }
    if (v.selRow > 0) {
        if (v.selRow < w_.grdSel->rowCount()) w_.grdSel->setCurrentRow(v.selRow);
    }
}

void TagTables::resetSelectionCounters() {
    if (w_.pnCount) {
        w_.pnCount->setText(QStringLiteral("0"));
        setTag(w_.pnCount, 0);
    }
    if (w_.pnlTime) w_.pnlTime->setText(QStringLiteral("0.0"));
}

// --- Clear -----------------------------------------------------------------------------------

void TagTables::resetGrid(StringGrid* grid, const QStringList& headers) {
    if (!grid) return;
    grid->setRowCount(1);
    grid->setColCount(static_cast<int>(headers.size()));
    if (CellTable* t = grid == w_.grdUID       ? &store_.liveTable()
                       : grid == w_.grdUID_LOG ? &store_.logTable()
                       : grid == w_.grdSel     ? &store_.selectionTable()
                                               : nullptr;
        t && &grid->table() == t) {
        store_.resetTable(*t, headers);
        return;
    }
    grid->setRowCount(1);
    grid->setColCount(static_cast<int>(headers.size()));
    for (int c = 0; c < headers.size(); ++c) grid->setCell(c, 0, headers[c]);
}

void TagTables::resetTagGrids() {
    resetGrid(w_.grdUID, translated(grdUIDHeaders()));
    resetGrid(w_.grdUID_LOG, translated(grdUIDLogHeaders()));
    resetGrid(w_.grdSel, translated(grdSelHeaders()));
    for (StringGrid* g : {w_.grdUID, w_.grdUID_LOG, w_.grdSel})
        if (g) g->flush();
}

int TagTables::normaliseTagTimeout() {
    QLineEdit* e = w_.edtTagTimeout;
    setTag(e, 1);
    if (decimalOr(e->text(), 0) <= 1) e->setText(QStringLiteral("1"));
    const int v = std::max(decimalOr(e->text(), 1), 1);
    setTag(e, v);
    return v;
}

void TagTables::btnClearClick() {
    if (clearing_) return;
    clearing_ = true;
    // 1-2. The grids lose their data rows at once, not cell by cell, which would take minutes
    // on a full grid.
    resetGrid(w_.grdUID, translated(grdUIDHeaders()));
    resetGrid(w_.grdUID_LOG, translated(grdUIDLogHeaders()));
    resetGrid(w_.grdSel, translated(grdSelHeaders()));
    if (programClosing()) {
        clearing_ = false;
        return;
    }
    // 3.
    w_.lvTag->clear();
    // 4.
    normaliseTagTimeout();
    store_.setTagTimeout(tagOf(w_.edtTagTimeout));
    // 5-6.
    const QDateTime now = store_.restart();
    // 7.
    if (w_.pnlTagCount) w_.pnlTagCount->setText(QStringLiteral("0"));
    w_.edtTagID->setText(kZeroUid);
    if (runStartTimeHook_) runStartTimeHook_(now);
    for (StringGrid* g : {w_.grdUID, w_.grdUID_LOG, w_.grdSel})
        if (g) g->flush();
    clearing_ = false;
}

// --- Absence sweep, files --------------------------------------------------------------------

void TagTables::absenceSweep() {
    // Without a selection there is nothing to watch, and the field stays as it is.
    if (store_.selection().isEmpty()) return;
    store_.setTagTimeout(normaliseTagTimeout());
    store_.absenceSweep();
}

bool TagTables::saveSelectionFile() {
    syncSelection();
    return store_.saveSelectionFile();
}

// --- Handlers --------------------------------------------------------------------------------

void TagTables::chooseInto(QFileDialog* dialog, QLineEdit* edit, const QString& valueName) {
    const QString name = chooseFile_ ? chooseFile_(dialog, edit->text()) : edit->text();
    if (name.isEmpty()) return;
    edit->setText(name);
    if (auto store = platform::SettingsStore::open(true)) store->writeString(valueName, name);
}

void TagTables::btnFileClick() {
    chooseInto(w_.SaveDialog1, w_.edtEvenLogFile, QStringLiteral("EvenLogFile"));
}

void TagTables::btnSaveFileClick() {
    chooseInto(w_.SaveDialog2, w_.edtSaveFile, QStringLiteral("SaveFileName"));
}

void TagTables::chbAutoSaveMouseUp() {
    const bool on = w_.chbAutoSave->isChecked();
    if (auto store = platform::SettingsStore::open(true))
        store->writeBool(QStringLiteral("AutoSaveFile"), on);
    if (!on) return;
    if (!ensureFolderOf(w_.edtSaveFile->text())) w_.edtSaveFile->setText(defaultSaveFileName());
}

void TagTables::lvTagDblClick() {
    const auto picked = w_.lvTag->selectedItems();
    if (picked.isEmpty()) return;
    const QString uid = picked.first()->text();
    const auto found = w_.lvSel->findItems(uid, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QListWidgetItem* item = found.isEmpty() ? nullptr : found.first();
    if (!item) {
        item = new QListWidgetItem(uid);
        w_.lvSel->addItem(item);
    }
    w_.lvSel->setCurrentItem(item);
}

void TagTables::lvSelDblClick() {
    w_.lvSel->setEnabled(false);
    PumpEvents();
    if (programClosing()) return;
    const auto picked = w_.lvSel->selectedItems();
    if (!picked.isEmpty()) delete w_.lvSel->takeItem(w_.lvSel->row(picked.first()));
    w_.lvSel->setEnabled(true);
    PumpEvents();
}

void TagTables::grdUIDClick(StringGrid* grid) {
    if (!grid || grid->rowCount() < 2) return;
    w_.edtTagID->setText(grid->cell(kColUid, grid->currentRow()));
}

void TagTables::grdUID_LOGClick() {
    grdUIDClick(w_.grdUID_LOG);
}

void TagTables::grdUIDDblClick(StringGrid* grid) {
    if (!grid || grid->rowCount() < 2) return;
    const int row = grid->currentRow();
    const QString packet = grid->cell(kColPacket, row);
    // Bit 0 of the packet byte: 0 = the tag answers by CID, 1 = by UID.
    const bool cid = packet.size() >= 8 && packet.at(7) == QLatin1Char('0');
    if (w_.cmbSelectIdmode) w_.cmbSelectIdmode->setCurrentIndex(cid ? 1 : 0);
    const QString uid = grid->cell(kColUid, row);
    if (w_.edTagID) w_.edTagID->setText(uid);
    w_.edtTagID->setText(uid);
    if (w_.pcMain && w_.tsSetTAG) w_.pcMain->setActivePage(w_.tsSetTAG);
}

void TagTables::sbRSSIChange() {
    w_.gboxRSSI->setEnabled(false);
    PumpEvents();
    if (programClosing()) return;
    w_.pnRSSI->setText(QString::number(w_.sbRSSI->value()));
    w_.gboxRSSI->setEnabled(true);
    PumpEvents();
}

void TagTables::btnRSSIClick() {
    w_.gboxRSSI->setEnabled(false);
    const auto data =
        rssiFilterData(static_cast<std::uint8_t>(std::clamp(w_.sbRSSI->value(), 0, 255)));
    if (sendMonitorCommand_) sendMonitorCommand_(0x0000, kSettingsWriteCode, -1, data);
    PumpEvents();
    if (programClosing()) return;
    w_.gboxRSSI->setEnabled(true);
}

void TagTables::pcTagMainChange() {
    TabSheet* page = w_.pcTagMain->activePage();
    int mode = 1;
    TabSheet* linkPage = w_.tsComPort;
    if (page && page == w_.tsNET) {
        mode = 0;
        linkPage = w_.tsTcpServer;
    } else if (page && page == w_.tsNetServer) {
        mode = 2;
        linkPage = w_.tsTcpClient;
    }
    link_.linkMode = mode;
    if (w_.pcSetReadMain && linkPage) w_.pcSetReadMain->setActivePage(linkPage);
}

void TagTables::btnSaveClick() {
    // A running run ends first (the hook does nothing without one).
    if (stopRun_) stopRun_();
    const QString path = w_.edtEvenLogFile->text();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) && !f.open(QIODevice::WriteOnly)) return;
    StringGrid* sel = w_.grdSel;
    for (int r = 1; r < sel->rowCount(); ++r) {
        const QString line = sel->cell(kColNo, r) + QLatin1String("\t,") + sel->cell(kColUid, r) +
                             QLatin1String("\t,") + sel->cell(kColRssi, r) + QLatin1String("\t,") +
                             sel->cell(kColLqi, r) + QLatin1String("\t,") +
                             sel->cell(kColPacket, r) + QLatin1String("\t,") +
                             sel->cell(kColModel, r) + QLatin1Char('\n');
        f.write(line.toUtf8());
    }
}

void TagTables::clearSelectionGrid() {
    store_.clearSelectionTable();
    if (w_.pnlTagCount) w_.pnlTagCount->setText(QString::number(w_.grdSel->rowCount() - 1));
}

void TagTables::edNoKeyUp() {
    setTextIfChanged(w_.edNo, QString::number(decimalOr(w_.edNo->text(), 1)));
    clearSelectionGrid();
}

void TagTables::edNoKeyPress() {
    clearSelectionGrid();
}

} // namespace kelta::monitor
