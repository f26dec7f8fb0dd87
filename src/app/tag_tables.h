#pragma once
// The "Read TAG" page's view of the tag store: the tag grids show the store's tables, the
// list of seen tags and the selection follow it, and the page's settings (file names, the
// auto-save switch, the selection, the time-out) are handed to it as the controls change. The
// small handlers of the page that work on the tags live here too.

#include "monitor/proto/tag_record.h"
#include "monitor/tag_store.h"
#include "platform/files.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

class QFileDialog;
class QLineEdit;
class QListWidgetItem;

namespace kelta {
class TfrmModule;
class StringGrid;
namespace reader {
struct LinkState;
}
} // namespace kelta

namespace kelta::monitor {

// Writes one monitoring command frame (flags, command code, reader ID or a negative value for
// none, data) to every open monitoring link; true when it was sent.
using SendMonitorCommandFn = std::function<bool(std::uint16_t flags, std::uint16_t command,
                                                int readerId, std::span<const std::uint8_t> data)>;

// Shows a save dialog preset to `preset` and returns the chosen name, or `preset` when the user
// cancels (the dialog keeps the name it was given).
using ChooseFileFn = std::function<QString(QFileDialog* dialog, const QString& preset)>;

// The 32 data bytes of the RSSI filter command (threshold at byte 14).
std::vector<std::uint8_t> rssiFilterData(std::uint8_t threshold);

class TagTables : public QObject, public TagRecordSink {
public:
    // Connects the handlers it owns to the window's controls.
    TagTables(TfrmModule& window, reader::LinkState& link);
    ~TagTables() override;

    // TagRecordSink: the store's.
    bool hasCurrentTagGrid() const override { return store_.hasCurrentTagGrid(); }
    void PostTagRecord(const DecodedTagRecord& record, DecodeMode mode) override;

    // The store the grids show.
    TagStore& store() { return store_; }

    // What a record changes besides the grid cells (the new lvTag items, edtTagID, the reader
    // ID fields, the selected rows of the grids) is shown at most every kViewRefreshMs, in
    // one batch: a busy window repaints and lays out its lists ten times a second, not once
    // per record. The grids refresh on their own timer, with the rows added or changed.
    static constexpr int kViewRefreshMs = 100;
    // Shows what is pending now (end of a run, tests).
    void flushViews();

    // "Clear": empty grids and lists, one grdSel row per selected tag, counters to zero.
    void btnClearClick();
    // The three tag grids down to their header rows, headers in the current language.
    void resetTagGrids();

    void setCurrentTagGrid(StringGrid* grid);
    StringGrid* currentTagGrid() const { return current_; }

    std::uint64_t acceptedRecordCount() const { return store_.acceptedRecordCount(); }
    std::uint64_t autoSaveLineCount() const { return store_.autoSaveLineCount(); }
    // Start of a run: accepted records and auto-save lines count from zero again.
    void resetCounters() { store_.resetCounters(); }

    // Writes one absence line for every selected tag silent longer than the time-out (the
    // field normalised first).
    void absenceSweep();
    // Reads edtTagTimeout (at least 1 s), writes it back and returns the seconds.
    int normaliseTagTimeout();

    // Closes the files; lines that could not be written in this run are reported on stderr,
    // once per run.
    void closeFiles() { store_.closeFiles(); }
    platform::AppendFile& eventLogFile() { return store_.eventLogFile(); }
    platform::AppendFile& autoSaveFile() { return store_.autoSaveFile(); }

    // <Documents>/VANTO/KeltaUtility/VNKDTAG.CSV
    static QString selectionFilePath() { return TagStore::selectionFilePath(); }
    // Rewrites the selection file with the captions of lvSel, each once, in list order.
    bool saveSelectionFile();

    // What the user is told about the files (panel 1 of the status bar): a file that cannot be
    // written, with the lines lost so far, a file written again after a failure, and where the
    // previous auto-save file was kept. Empty while all is well.
    QString fileNotice() const { return store_.fileNotice(); }
    // Start of a run: the previous auto-save file was kept as `keptAs`, or could not be moved
    // aside for `error` (both empty: there was none).
    void notePreviousAutoSaveFile(const QString& keptAs, const QString& error) {
        store_.notePreviousAutoSaveFile(keptAs, error);
    }

    // Time of the last report of the tag in grdSel row `row`.
    QDateTime lastSeen(int row) const { return store_.lastSeen(row); }
    std::uint32_t selectionTick() const { return store_.selectionTick(); }

    // Hooks provided by the run controller.
    void setSendMonitorCommand(SendMonitorCommandFn fn) { sendMonitorCommand_ = std::move(fn); }
    // Called by "Clear" with the time the run's elapsed seconds count from.
    void setRunStartTimeHook(std::function<void(const QDateTime&)> fn) {
        runStartTimeHook_ = std::move(fn);
    }
    // Stops a running monitoring run (btnStartClick without sender).
    void setStopRunHook(std::function<void()> fn) { stopRun_ = std::move(fn); }
    void setChooseFile(ChooseFileFn fn) { chooseFile_ = std::move(fn); }
    // The local date and time the tables stamp and compare with (the system clock by default).
    void setClock(std::function<QDateTime()> fn);

    // Handlers.
    void btnFileClick();
    void btnSaveFileClick();
    void chbAutoSaveMouseUp();
    void lvTagDblClick();
    void lvSelDblClick();
    void grdUIDClick(StringGrid* grid); // grdUID or grdSel
    void grdUID_LOGClick();
    void grdUIDDblClick(StringGrid* grid); // grdUID or grdSel
    void sbRSSIChange();
    void btnRSSIClick();
    void pcTagMainChange();
    void btnSaveClick();
    void edNoKeyUp();
    void edNoKeyPress();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleViews();
    void syncSelection();
    void syncSettings();
    // Panel 1 of the status bar shows the file notice (and its tool tip the same).
    void showFileNotice(const QString& notice);
    void resetSelectionCounters();
    void resetGrid(StringGrid* grid, const QStringList& headers);
    void clearSelectionGrid();
    void chooseInto(QFileDialog* dialog, QLineEdit* edit, const QString& valueName);
    StringGrid* gridOf(const CellTable* table) const;

    TfrmModule& w_;
    reader::LinkState& link_;
    TagStore store_;
    StringGrid* current_ = nullptr;
    QTimer viewTimer_;
    bool clearing_ = false;
    SendMonitorCommandFn sendMonitorCommand_;
    std::function<void(const QDateTime&)> runStartTimeHook_;
    std::function<void()> stopRun_;
    ChooseFileFn chooseFile_;
};

} // namespace kelta::monitor
