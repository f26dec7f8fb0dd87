#pragma once
// What the "Read TAG" page shows and writes about tags: the tag grids, the list of seen tags,
// the selection with its tracking grid, the event log and the auto-save file, and the small
// handlers of the page that work on them.

#include "monitor/proto/tag_record.h"
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

// Texts of the files, exactly as written.
QString eventLogLine(const QString& uid, const QString& rssi, const QString& lqi,
                     const QDateTime& lastSeen, const QDateTime& now, const QString& interval);
QString autoSaveHeaderLine(bool liveGrid);
// fields: the counter text followed by the grid's cells (18 + date/time for the live grid,
// 22 + date/time for the log grid); the pattern is chosen by the field count.
QString autoSaveLine(const QStringList& fields);
// "yyyy/mm/dd", "hh:nn:ss" and both joined by a space, in local time.
QString fileDate(const QDateTime& t);
QString fileTime(const QDateTime& t);
QString fileDateTime(const QDateTime& t);
// The 32 data bytes of the RSSI filter command (threshold at byte 14).
std::vector<std::uint8_t> rssiFilterData(std::uint8_t threshold);

class TagTables : public QObject, public TagRecordSink {
public:
    // Connects the handlers it owns to the window's controls.
    TagTables(TfrmModule& window, reader::LinkState& link);
    ~TagTables() override;

    // TagRecordSink.
    bool hasCurrentTagGrid() const override { return current_ != nullptr; }
    void PostTagRecord(const DecodedTagRecord& record, DecodeMode mode) override;

    // What a record changes besides the grid cells (the new lvTag items, edtTagID, the reader
    // ID fields, the selected rows of the grids) is shown at most every kViewRefreshMs, in
    // one batch: a busy window repaints and lays out its lists ten times a second, not once
    // per record.
    static constexpr int kViewRefreshMs = 100;
    // Shows what is pending now (end of a run, tests).
    void flushViews();

    // "Clear": empty grids and lists, one grdSel row per selected tag, counters to zero.
    void btnClearClick();
    // The three tag grids down to their header rows, headers in the current language.
    void resetTagGrids();

    void setCurrentTagGrid(StringGrid* grid);
    StringGrid* currentTagGrid() const { return current_; }

    std::uint64_t acceptedRecordCount() const { return acceptedRecordCount_; }
    std::uint64_t autoSaveLineCount() const { return autoSaveLineCount_; }
    // Start of a run: accepted records and auto-save lines count from zero again.
    void resetCounters();

    // Writes one absence line for every selected tag silent longer than the time-out.
    void absenceSweep();
    // Reads edtTagTimeout (at least 1 s), writes it back and returns the seconds.
    int normaliseTagTimeout();

    // Closes the files; lines that could not be written in this run are reported on stderr,
    // once per run.
    void closeFiles();
    platform::AppendFile& eventLogFile() { return eventLog_; }
    platform::AppendFile& autoSaveFile() { return autoSave_; }

    // <Documents>/VANTO/KeltaUtility/VNKDTAG.CSV
    static QString selectionFilePath();
    // Rewrites the selection file with the captions of lvSel, each once, in list order.
    bool saveSelectionFile();

    // What the user is told about the files (panel 1 of the status bar): a file that cannot be
    // written, with the lines lost so far, a file written again after a failure, and where the
    // previous auto-save file was kept. Empty while all is well.
    QString fileNotice() const;
    // Start of a run: the previous auto-save file was kept as `keptAs`, or could not be moved
    // aside for `error` (both empty: there was none).
    void notePreviousAutoSaveFile(const QString& keptAs, const QString& error);

    // Time of the last report of the tag in grdSel row `row`.
    QDateTime lastSeen(int row) const;
    std::uint32_t selectionTick() const { return selectionTick_; }

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
    // Row lookup by UID in column 1, first hit, kept in step with the grid's rows.
    struct UidIndex {
        QHash<QString, int> rows;
        int indexedRows = 1; // rows 1 .. indexedRows-1 are in the map
    };
    int findUidRow(StringGrid* grid, const QString& uid);
    UidIndex& indexOf(StringGrid* grid);
    void noteRow(StringGrid* grid, int row, const QString& uid);

    void scheduleViews();
    bool isSelected(const QString& uid);
    void trackSelection(StringGrid* g, int row, const QString& uid, const QDateTime& now);
    void resetSelectionCounters();
    void writeAutoSaveLine(StringGrid* g, int row, const QDateTime& now);
    void setLastSeen(int row, const QDateTime& t);
    void resetGrid(StringGrid* grid, const QStringList& headers);
    void clearSelectionGrid();
    bool openInFolder(platform::AppendFile& file, const QString& path);
    void writeEventLine(const QString& text);
    void noteWrite(bool ok, bool& failureShown);
    void showFileState();
    void reportLostLines();
    void chooseInto(QFileDialog* dialog, QLineEdit* edit, const QString& valueName);

    TfrmModule& w_;
    reader::LinkState& link_;
    StringGrid* current_ = nullptr;
    struct PendingViews {
        QStringList newTags; // lvTag items to add, in the order first seen
        QString tagId;
        bool tagIdPending = false;
        QString readerId;
        bool readerIdPending = false;
        StringGrid* grid = nullptr; // the grid whose row gridRow becomes the selected one
        int gridRow = 0;
        int selRow = 0; // grdSel row to select, 0 none
    } views_;
    QTimer viewTimer_;
    UidIndex liveIndex_, logIndex_, selIndex_;
    QSet<QString> selected_;
    bool selectedDirty_ = true;
    std::vector<QDateTime> lastSeen_;
    QDateTime lastSeenDefault_;
    platform::AppendFile eventLog_;
    platform::AppendFile autoSave_;
    std::uint64_t acceptedRecordCount_ = 0;
    std::uint64_t autoSaveLineCount_ = 0;
    bool autoSaveFailureShown_ = false;
    bool eventLogFailureShown_ = false;
    bool lossReported_ = false;
    bool selectionFailed_ = false;
    QString selectionNotice_;
    QString previousFileNotice_;
    std::uint32_t selectionTick_ = 0;
    bool clearing_ = false;
    SendMonitorCommandFn sendMonitorCommand_;
    std::function<void(const QDateTime&)> runStartTimeHook_;
    std::function<void()> stopRun_;
    ChooseFileFn chooseFile_;
    std::function<QDateTime()> clock_;
};

} // namespace kelta::monitor
