#include "monitor/tag_tables.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "app/wait_pump.h"
#include "monitor/proto/monitor_frame.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
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
#include <cstdio>

namespace kelta::monitor {

namespace {

// Columns shared by the three grids.
constexpr int kColNo = 0;
constexpr int kColUid = 1;
constexpr int kColRssi = 2;
constexpr int kColLqi = 3;
constexpr int kColPacket = 5;
constexpr int kColModel = 6;
constexpr int kColCount = 18; // Count; Index in the log grid
constexpr int kColTime = 19;  // GPS (live), LOG DateTime (log), DateTime (selection)
constexpr int kColSince = 20; // MilliSecBetween of the selection grid
constexpr int kColLogStatus = 21;

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

QString pad(const QString& s, int width) {
    return s.rightJustified(width, QLatin1Char(' '));
}

// Field widths of the two auto-save patterns. Every field but the last two is followed by
// "\t,", the one before the last by "," and the last by the line end.
constexpr std::array<int, 21> kLiveWidths = {10, 20, 5, 5, 10, 10, 5, 5,  5,  10, 10,
                                             5,  5,  5, 5, 5,  5,  5, 20, 10, 8};
constexpr std::array<int, 24> kLogWidths = {10, 20, 5, 5, 10, 10, 5, 5,  5,  10, 10, 5,
                                            5,  5,  5, 5, 5,  5,  5, 12, 10, 10, 10, 8};

template <std::size_t N>
QString patternLine(const std::array<int, N>& widths, const QStringList& fields) {
    QString line;
    line.reserve(256);
    for (std::size_t i = 0; i < N; ++i) {
        const int fi = static_cast<int>(i);
        line += pad(fi < fields.size() ? fields[fi] : QString(), widths[i]);
        if (i + 2 < N)
            line += QLatin1String("\t,");
        else if (i + 2 == N)
            line += QLatin1Char(',');
        else
            line += QLatin1Char('\n');
    }
    return line;
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

QString fileDate(const QDateTime& t) {
    return QLocale::c().toString(t, QStringLiteral("yyyy/MM/dd"));
}

QString fileTime(const QDateTime& t) {
    return QLocale::c().toString(t, QStringLiteral("HH:mm:ss"));
}

QString fileDateTime(const QDateTime& t) {
    return QLocale::c().toString(t, QStringLiteral("yyyy/MM/dd HH:mm:ss"));
}

QString eventLogLine(const QString& uid, const QString& rssi, const QString& lqi,
                     const QDateTime& lastSeen, const QDateTime& now, const QString& interval) {
    return uid + QLatin1Char(',') + rssi + QLatin1Char(',') + lqi + QLatin1Char(',') +
           pad(fileDate(lastSeen), 10) + QLatin1Char(',') + pad(fileTime(lastSeen), 8) +
           QLatin1Char(',') + pad(fileDate(now), 10) + QLatin1Char(',') + pad(fileTime(now), 8) +
           QLatin1Char(',') + interval + QLatin1Char('\n');
}

QString autoSaveHeaderLine(bool liveGrid) {
    QStringList f = {" ",     "UID",   "RSSI",  "LQI",   "Tag Ver", "Packet",
                     "Model", "KeyNo", "Group", "State", "Battery", "ISN_H",
                     "ISN_L", "D_1H",  "D_1L",  "D_2H",  "D_2L",    "ID"};
    if (liveGrid)
        f << "GPS";
    else
        f << "Index"
          << "LOG DateTime"
          << "GPS"
          << "LOGStatus";
    f << "Date"
      << "Time";
    return autoSaveLine(f);
}

QString autoSaveLine(const QStringList& fields) {
    if (fields.size() == static_cast<int>(kLiveWidths.size()))
        return patternLine(kLiveWidths, fields);
    return patternLine(kLogWidths, fields);
}

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
    : QObject(&window), w_(window), link_(link),
      clock_([] { return QDateTime::currentDateTime(); }) {
    lastSeenDefault_ = clock_();
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
        // The set of selected UIDs is rebuilt whenever the list changes, whoever changes it.
        QAbstractItemModel* m = w.lvSel->model();
        auto dirty = [this] { selectedDirty_ = true; };
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
}

TagTables::~TagTables() {
    closeFiles();
}

void TagTables::setClock(std::function<QDateTime()> fn) {
    if (fn) clock_ = std::move(fn);
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

// --- UID index -------------------------------------------------------------------------------

TagTables::UidIndex& TagTables::indexOf(StringGrid* grid) {
    if (grid == w_.grdUID_LOG) return logIndex_;
    if (grid == w_.grdSel) return selIndex_;
    return liveIndex_;
}

void TagTables::noteRow(StringGrid* grid, int row, const QString& uid) {
    UidIndex& ix = indexOf(grid);
    if (row != ix.indexedRows) return; // out of step: the next lookup re-reads the grid
    if (!ix.rows.contains(uid)) ix.rows.insert(uid, row); // an earlier row wins (first hit)
    ++ix.indexedRows;
}

int TagTables::findUidRow(StringGrid* grid, const QString& uid) {
    UidIndex& ix = indexOf(grid);
    const int rows = grid->rowCount();
    // Rows may have been added or dropped past this class (the selection file at startup, the
    // grid reset of another handler): catch up, or start over when the grid shrank.
    if (rows < ix.indexedRows) {
        ix.rows.clear();
        ix.indexedRows = 1;
    }
    for (; ix.indexedRows < rows; ++ix.indexedRows) {
        const QString u = grid->cell(kColUid, ix.indexedRows);
        if (!ix.rows.contains(u)) ix.rows.insert(u, ix.indexedRows);
    }
    const auto it = ix.rows.constFind(uid);
    if (it == ix.rows.constEnd()) return -1;
    if (grid->cell(kColUid, it.value()) == uid) return it.value();
    // A cell was rewritten behind the index: fall back to the scan and rebuild.
    ix.rows.clear();
    ix.indexedRows = 1;
    for (int r = 1; r < rows; ++r) {
        const QString u = grid->cell(kColUid, r);
        if (!ix.rows.contains(u)) ix.rows.insert(u, r);
    }
    ix.indexedRows = rows;
    return ix.rows.value(uid, -1);
}

bool TagTables::isSelected(const QString& uid) {
    if (selectedDirty_) {
        selected_.clear();
        for (int i = 0; i < w_.lvSel->count(); ++i) selected_.insert(w_.lvSel->item(i)->text());
        selectedDirty_ = false;
    }
    return selected_.contains(uid);
}

// --- Posting ---------------------------------------------------------------------------------

void TagTables::setCurrentTagGrid(StringGrid* grid) {
    current_ = grid;
}

void TagTables::resetCounters() {
    acceptedRecordCount_ = 0;
    autoSaveLineCount_ = 0;
    autoSave_.resetCounts();
    eventLog_.resetCounts();
    autoSaveFailureShown_ = false;
    eventLogFailureShown_ = false;
    lossReported_ = false;
    if (!selectionFailed_) selectionNotice_.clear(); // "saved again" was news of the last run
    showFileState();
}

void TagTables::PostTagRecord(const DecodedTagRecord& rec, DecodeMode mode) {
    StringGrid* g = current_;
    if (!g) return;
    const QDateTime now = clock_();
    const QString uid = QString::fromStdString(rec.uid);

    // 1. Row: the UID's row in live mode, else a new one.
    int row = mode == DecodeMode::Live ? findUidRow(g, uid) : -1;

    // 2.
    views_.tagId = uid;
    views_.tagIdPending = true;

    // 3.
    if (row > 0) {
        g->setCell(kColCount, row,
                   QString::number(qint64{decimalOr(g->cell(kColCount, row), 0)} + 1));
    } else {
        row = g->appendRow();
        g->setCell(kColNo, row, QString::number(row));
        g->setCell(kColUid, row, uid);
        noteRow(g, row, uid);
        views_.newTags << uid;
        g->setCell(kColCount, row, QStringLiteral("1"));
    }

    // 4.
    const std::string* texts[] = {&rec.rssi,    &rec.lqi,   &rec.tagVer, &rec.packet,
                                  &rec.model,   &rec.keyNo, &rec.group,  &rec.sState,
                                  &rec.battery, &rec.isnH,  &rec.isnL,   &rec.d1h,
                                  &rec.d1l,     &rec.d2h,   &rec.d2l,    &rec.readerId};
    int col = kColRssi;
    for (const std::string* t : texts) g->setCell(col++, row, QString::fromStdString(*t));
    const QString gps = QString::fromStdString(rec.gps);
    g->setCell(kColTime, row, gps);

    // 5.
    trackSelection(g, row, uid, now);

    // 6.
    if (mode == DecodeMode::Log || g->colCount() > 21) {
        g->setCell(kColCount, row, QString::fromStdString(rec.index));
        g->setCell(kColTime, row, QString::fromStdString(rec.logDateTime));
        g->setCell(kColSince, row, gps);
        g->setCell(kColLogStatus, row, QString::fromStdString(rec.logStatus));
    }

    // 7.
    views_.grid = g;
    views_.gridRow = row;
    ++acceptedRecordCount_;

    // 8. Reader commands address the reader last heard.
    views_.readerId = QString::fromStdString(rec.readerId);
    views_.readerIdPending = true;
    scheduleViews();

    // 9.
    if (w_.chbAutoSave && w_.chbAutoSave->isChecked()) writeAutoSaveLine(g, row, now);
}

void TagTables::scheduleViews() {
    if (!viewTimer_.isActive()) viewTimer_.start();
}

void TagTables::flushViews() {
    viewTimer_.stop();
    if (!views_.newTags.isEmpty()) {
        // One batch: the list lays its items out once, not once per new tag.
        QListWidgetItem* last = nullptr;
        for (const QString& uid : std::as_const(views_.newTags)) {
            last = new QListWidgetItem(uid);
            w_.lvTag->addItem(last);
        }
        views_.newTags.clear();
        w_.lvTag->setCurrentItem(last);
    }
    if (views_.tagIdPending) {
        views_.tagIdPending = false;
        setTextIfChanged(w_.edtTagID, views_.tagId);
    }
    if (views_.readerIdPending) {
        views_.readerIdPending = false;
        if (w_.cbxTxID_00) w_.cbxTxID_00->setChecked(true);
        if (w_.cbxTxID_01) w_.cbxTxID_01->setChecked(true);
        for (QLineEdit* e : {w_.edtTxID_00, w_.edtTxID_01, w_.edtTxID_02})
            setTextIfChanged(e, views_.readerId);
    }
    if (views_.grid) {
        if (views_.gridRow < views_.grid->rowCount()) views_.grid->setCurrentRow(views_.gridRow);
        views_.grid = nullptr;
    }
    if (views_.selRow > 0) {
        if (views_.selRow < w_.grdSel->rowCount()) w_.grdSel->setCurrentRow(views_.selRow);
        views_.selRow = 0;
    }
}

void TagTables::resetSelectionCounters() {
    selectionTick_ = platform::tickMs();
    if (w_.pnCount) {
        w_.pnCount->setText(QStringLiteral("0"));
        setTag(w_.pnCount, 0);
    }
    if (w_.pnlTime) w_.pnlTime->setText(QStringLiteral("0.0"));
}

bool TagTables::openInFolder(platform::AppendFile& file, const QString& path) {
    if (file.isOpen()) return true;
    file.setPath(path);
    // While the file fails, the folder and the file are tried again only once the retry
    // interval has passed.
    if (!file.attemptDue()) return false;
    ensureFolderOf(path);
    if (file.open()) return true;
    showFileState();
    return false;
}

void TagTables::writeEventLine(const QString& text) {
    openInFolder(eventLog_, w_.edtEvenLogFile->text());
    noteWrite(eventLog_.writeText(text), eventLogFailureShown_);
}

void TagTables::noteWrite(bool ok, bool& failureShown) {
    // The notice changes with every refused line and once more when writing resumes.
    if (ok && !failureShown) return;
    failureShown = !ok;
    showFileState();
}

void TagTables::showFileState() {
    if (!w_.sbMain || w_.sbMain->panelCount() < 2) return;
    const QString text = fileNotice();
    w_.sbMain->setPanelText(1, text);
    w_.sbMain->setToolTip(text);
}

QString TagTables::fileNotice() const {
    QStringList parts;
    auto state = [&](const platform::AppendFile& f, const char* failing, const char* again,
                     const char* unit) {
        const QString lost = QString::number(f.refusedWrites()) + QLatin1Char(' ') + tr(unit);
        if (f.failing())
            parts << tr(failing) + QLatin1String(": ") + QDir::toNativeSeparators(f.path()) +
                         QLatin1String(" (") + f.errorText() + QLatin1String("); ") + lost;
        else if (f.resumed())
            parts << tr(again) + QLatin1String(": ") + QDir::toNativeSeparators(f.path()) +
                         QLatin1String("; ") + lost;
    };
    state(autoSave_, "Auto-save file cannot be written", "Auto-save file written again",
          "records not written");
    state(eventLog_, "Event log cannot be written", "Event log written again", "lines not written");
    if (!selectionNotice_.isEmpty()) parts << selectionNotice_;
    if (!previousFileNotice_.isEmpty()) parts << previousFileNotice_;
    return parts.join(QLatin1String("  |  "));
}

void TagTables::notePreviousAutoSaveFile(const QString& keptAs, const QString& error) {
    if (!keptAs.isEmpty())
        previousFileNotice_ = tr("Previous auto-save file kept as") + QLatin1String(": ") +
                              QDir::toNativeSeparators(keptAs);
    else if (!error.isEmpty())
        previousFileNotice_ = tr("Previous auto-save file could not be moved aside") +
                              QLatin1String(" (") + error + QLatin1String("); ") +
                              tr("the run appends to it");
    else
        previousFileNotice_.clear();
    showFileState();
}

void TagTables::reportLostLines() {
    if (lossReported_) return;
    bool any = false;
    auto report = [&](const platform::AppendFile& f, const char* what, const char* unit) {
        if (f.refusedWrites() == 0) return;
        std::fprintf(
            stderr, "%s %s: %llu %s (%s)\n", what, qPrintable(QDir::toNativeSeparators(f.path())),
            static_cast<unsigned long long>(f.refusedWrites()), unit, qPrintable(f.errorText()));
        any = true;
    };
    report(autoSave_, "Auto-save file", "records not written");
    report(eventLog_, "Event log", "lines not written");
    if (any) {
        std::fflush(stderr);
        lossReported_ = true;
    }
}

void TagTables::trackSelection(StringGrid* g, int row, const QString& uid, const QDateTime& now) {
    StringGrid* sel = w_.grdSel;
    // 1.
    if (w_.lvSel->count() == 0) {
        resetSelectionCounters();
        return;
    }
    // 2.
    openInFolder(eventLog_, w_.edtEvenLogFile->text());
    // 3.
    if (!isSelected(uid)) return;
    // 4.
    int s = findUidRow(sel, uid);
    if (s < 0) {
        // 5.
        s = sel->appendRow();
        sel->setCell(kColNo, s, QString::number(s));
        sel->setCell(kColUid, s, uid);
        noteRow(sel, s, uid);
        sel->setCell(kColCount, s, QStringLiteral("1"));
        sel->setCell(kColSince, s, QStringLiteral("0"));
        views_.selRow = s;
    } else {
        // 6.
        views_.selRow = s;
        const QDateTime seen = lastSeen(s);
        const qint64 ms = seen.msecsTo(now);
        if (sel->cell(kColSince, s).isEmpty()) {
            sel->setCell(kColRssi, s, g->cell(kColRssi, row));
            sel->setCell(kColLqi, s, g->cell(kColLqi, row));
            writeEventLine(eventLogLine(uid, sel->cell(kColRssi, s), sel->cell(kColLqi, s), seen,
                                        now, QString::number(ms < 0 ? -ms : ms)));
        }
        sel->setCell(kColCount, s,
                     QString::number(qint64{decimalOr(sel->cell(kColCount, s), 0)} + 1));
        sel->setCell(kColSince, s, QString::number(ms));
    }
    // 7.
    for (int c = kColRssi; c <= 17; ++c) sel->setCell(c, s, g->cell(c, row));
    sel->setCell(kColTime, s, fileDateTime(now.addMSecs(500)));
    // 8.
    setLastSeen(s, now);
}

void TagTables::writeAutoSaveLine(StringGrid* g, int row, const QDateTime& now) {
    // The number counts the lines really in the file: it moves on only when the line (with the
    // run's header before line 1) was written whole. A refused line is counted as lost.
    const std::uint64_t number = autoSaveLineCount_ + 1;
    const bool live = g->colCount() == 20;
    QStringList f;
    f.reserve(24);
    f << QStringLiteral("%1").arg(number, 10, 10, QLatin1Char('0'));
    if (live) {
        for (int c = 1; c <= 17; ++c) f << g->cell(c, row);
        f << g->cell(kColTime, row);
    } else {
        for (int c = 1; c <= 21; ++c) f << g->cell(c, row);
    }
    f << fileDate(now) << fileTime(now);
    QString text = number == 1 ? autoSaveHeaderLine(live) : QString();
    text += autoSaveLine(f);
    openInFolder(autoSave_, w_.edtSaveFile->text());
    const bool ok = autoSave_.writeText(text);
    if (ok) autoSaveLineCount_ = number;
    noteWrite(ok, autoSaveFailureShown_);
}

// --- lastSeen --------------------------------------------------------------------------------

QDateTime TagTables::lastSeen(int row) const {
    if (row >= 0 && static_cast<std::size_t>(row) < lastSeen_.size() &&
        lastSeen_[static_cast<std::size_t>(row)].isValid())
        return lastSeen_[static_cast<std::size_t>(row)];
    return lastSeenDefault_;
}

void TagTables::setLastSeen(int row, const QDateTime& t) {
    if (row < 0) return;
    const auto r = static_cast<std::size_t>(row);
    if (r >= lastSeen_.size()) lastSeen_.resize(r + 1, lastSeenDefault_);
    lastSeen_[r] = t;
}

// --- Clear -----------------------------------------------------------------------------------

void TagTables::resetGrid(StringGrid* grid, const QStringList& headers) {
    if (!grid) return;
    grid->setRowCount(1);
    grid->setColCount(static_cast<int>(headers.size()));
    for (int c = 0; c < headers.size(); ++c) grid->setCell(c, 0, headers[c]);
    indexOf(grid) = UidIndex{};
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
    // 1-2. The grids lose their data rows at once; the window handles its events after each
    // grid rather than after each cell, which would take minutes on a full grid.
    resetGrid(w_.grdUID, translated(grdUIDHeaders()));
    PumpEvents();
    resetGrid(w_.grdUID_LOG, translated(grdUIDLogHeaders()));
    PumpEvents();
    resetGrid(w_.grdSel, translated(grdSelHeaders()));
    PumpEvents();
    if (programClosing()) {
        clearing_ = false;
        return;
    }
    // 3.
    views_.newTags.clear();
    w_.lvTag->clear();
    // 4.
    normaliseTagTimeout();
    // 5-6.
    const QDateTime now = clock_();
    lastSeenDefault_ = now;
    lastSeen_.assign(static_cast<std::size_t>(w_.lvSel->count()) + 1, now);
    StringGrid* sel = w_.grdSel;
    const QString nowText = fileDateTime(now);
    for (int i = 0; i < w_.lvSel->count(); ++i) {
        const QString uid = w_.lvSel->item(i)->text();
        const int r = sel->appendRow();
        sel->setCell(kColNo, r, QString::number(r));
        sel->setCell(kColUid, r, uid);
        noteRow(sel, r, uid);
        sel->setCell(kColRssi, r, QStringLiteral("0"));
        sel->setCell(kColLqi, r, QStringLiteral("0"));
        sel->setCell(kColCount, r, QStringLiteral("0"));
        sel->setCell(kColTime, r, nowText);
        sel->setCell(kColSince, r, QStringLiteral("0"));
    }
    // 7.
    if (w_.pnlTagCount) w_.pnlTagCount->setText(QStringLiteral("0"));
    views_.tagIdPending = false;
    views_.grid = nullptr;
    views_.selRow = 0;
    w_.edtTagID->setText(kZeroUid);
    acceptedRecordCount_ = 0;
    if (runStartTimeHook_) runStartTimeHook_(now);
    resetSelectionCounters();
    for (StringGrid* g : {w_.grdUID, w_.grdUID_LOG, w_.grdSel})
        if (g) g->flush();
    clearing_ = false;
}

// --- Absence sweep, files --------------------------------------------------------------------

void TagTables::absenceSweep() {
    // Without a selection there is nothing to watch, and no event log is created.
    if (w_.lvSel->count() == 0) return;
    // 1.
    openInFolder(eventLog_, w_.edtEvenLogFile->text());
    // 2.
    const qint64 timeoutMs = static_cast<qint64>(normaliseTagTimeout()) * 1000;
    // 3.
    StringGrid* sel = w_.grdSel;
    const QDateTime now = clock_();
    const int rows = sel->rowCount();
    for (int r = 1; r < rows; ++r) {
        if (sel->cell(kColSince, r).isEmpty()) continue;
        const QDateTime seen = lastSeen(r);
        const qint64 ms = seen.msecsTo(now);
        if (ms <= timeoutMs) continue;
        // The tag is absent whether or not its line could be written; a line the log refuses
        // is counted among the lost ones.
        writeEventLine(eventLogLine(sel->cell(kColUid, r), sel->cell(kColRssi, r),
                                    sel->cell(kColLqi, r), seen, now,
                                    QLatin1Char('>') + QString::number(ms)));
        sel->setCell(kColSince, r, QString());
    }
}

void TagTables::closeFiles() {
    eventLog_.close();
    autoSave_.close();
    reportLostLines();
}

QString TagTables::selectionFilePath() {
    return platform::documentsFolder() + QStringLiteral("/VANTO/KeltaUtility/VNKDTAG.CSV");
}

bool TagTables::saveSelectionFile() {
    const QString path = selectionFilePath();
    platform::createFolders(folderOf(path));
    QStringList uids;
    QSet<QString> seen;
    for (int i = 0; i < w_.lvSel->count(); ++i) {
        const QString uid = w_.lvSel->item(i)->text();
        if (seen.contains(uid)) continue;
        seen.insert(uid);
        uids << uid;
    }
    // Written beside the old file and moved over it, so a failed write keeps the old list.
    QSaveFile f(path);
    bool ok = f.open(QIODevice::WriteOnly);
    if (ok) {
        QByteArray bytes;
        for (const QString& uid : uids) bytes += (uid + QLatin1Char('\n')).toUtf8();
        ok = f.write(bytes) == bytes.size();
        ok = f.commit() && ok;
    }
    if (ok) {
        if (selectionFailed_)
            selectionNotice_ = tr("Selection file saved again") + QLatin1String(": ") +
                               QDir::toNativeSeparators(path);
        selectionFailed_ = false;
    } else {
        const QString reason = f.errorString();
        selectionFailed_ = true;
        selectionNotice_ = tr("Selection file cannot be saved") + QLatin1String(": ") +
                           QDir::toNativeSeparators(path) + QLatin1String(" (") + reason +
                           QLatin1String("); ") + QString::number(uids.size()) + QLatin1Char(' ') +
                           tr("tags not saved");
        std::fprintf(stderr, "Selection file %s: %lld tags not saved (%s)\n",
                     qPrintable(QDir::toNativeSeparators(path)),
                     static_cast<long long>(uids.size()), qPrintable(reason));
        std::fflush(stderr);
    }
    showFileState();
    return ok;
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
    if (hintOf(w_.btnStart) == QLatin1String("Stop") && stopRun_) stopRun_();
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
    StringGrid* sel = w_.grdSel;
    sel->setRowCount(1);
    selIndex_ = UidIndex{};
    if (w_.pnlTagCount) w_.pnlTagCount->setText(QString::number(sel->rowCount() - 1));
    resetSelectionCounters();
}

void TagTables::edNoKeyUp() {
    setTextIfChanged(w_.edNo, QString::number(decimalOr(w_.edNo->text(), 1)));
    clearSelectionGrid();
}

void TagTables::edNoKeyPress() {
    clearSelectionGrid();
}

} // namespace kelta::monitor
