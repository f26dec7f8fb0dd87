#pragma once
// The tag store of a monitoring run: the live and log tables of tag rows, the selection with
// its tracking table, the last time each selected tag was seen, the UID indexes and the
// counters; the auto-save and event-log writers and the absence sweep. No window: a grid
// shows a table of the store (CellTable), and whoever runs the store gives it its settings.

#include "monitor/cell_table.h"
#include "monitor/monitor_events.h"
#include "monitor/proto/tag_record.h"
#include "platform/files.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace kelta::monitor {

// Column keys (untranslated header texts) of the three tables.
QStringList liveColumnKeys();      // 20 columns
QStringList logColumnKeys();       // 22 columns
QStringList selectionColumnKeys(); // 21 columns

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

class TagStore : public TagRecordSink {
public:
    TagStore();

    CellTable& liveTable() { return live_; }
    CellTable& logTable() { return log_; }
    CellTable& selectionTable() { return sel_; }
    const CellTable& liveTable() const { return live_; }
    const CellTable& logTable() const { return log_; }
    const CellTable& selectionTable() const { return sel_; }

    // The table records go to: the live or the log table, or none (records are refused).
    void setCurrentTable(CellTable* table) { current_ = table; }
    CellTable* currentTable() const { return current_; }

    // TagRecordSink.
    bool hasCurrentTagGrid() const override { return current_ != nullptr; }
    void PostTagRecord(const DecodedTagRecord& record, DecodeMode mode) override;

    // Settings.
    void setAutoSave(bool on) { autoSaveOn_ = on; }
    bool autoSave() const { return autoSaveOn_; }
    void setAutoSavePath(const QString& path) { autoSavePath_ = path; }
    QString autoSavePath() const { return autoSavePath_; }
    void setEventLogPath(const QString& path) { eventLogPath_ = path; }
    QString eventLogPath() const { return eventLogPath_; }
    // When the auto-save file and the event log begin afresh (off by default). A fresh
    // auto-save file starts with its header and its lines count from 1 again; a full file is
    // kept beside it under its move-aside name; each rotation and each old file deleted for
    // the keep count is a line on stderr.
    void setRotation(const platform::FileRotation& rotation);
    const platform::FileRotation& rotation() const { return rotation_; }
    // Seconds a selected tag may stay silent (at least 1).
    void setTagTimeout(int seconds) { timeoutSeconds_ = seconds < 1 ? 1 : seconds; }
    int tagTimeout() const { return timeoutSeconds_; }
    // The selected UIDs in list order (duplicates allowed, as a list shows them).
    void setSelection(const QStringList& uids);
    const QStringList& selection() const { return selection_; }
    bool isSelected(const QString& uid) const { return selectedSet_.contains(uid); }
    // The local date and time the store stamps and compares with (the system clock by default).
    void setClock(std::function<QDateTime()> fn);
    QDateTime now() const { return clock_(); }

    // "Clear": every table down to the headers given, one selection row per selected tag,
    // the accepted records to zero; returns the time the run's seconds count from.
    QDateTime clear(const QStringList& liveHeaders, const QStringList& logHeaders,
                    const QStringList& selectionHeaders);
    // The second half of clear, for a caller that resets the tables itself: the selection
    // rows, the last-seen times and the accepted records start again.
    QDateTime restart();
    // A table down to its header row, `headers.size()` columns.
    void resetTable(CellTable& table, const QStringList& headers);
    // The selection table down to its header row; the selection counters start again.
    void clearSelectionTable();

    std::uint64_t acceptedRecordCount() const { return acceptedRecordCount_; }
    // The lines really written to the auto-save files in this run (a refused line is not
    // counted), and those in the present file (its last line number).
    std::uint64_t autoSaveLineCount() const { return autoSaveLineCount_; }
    std::uint64_t autoSaveFileLineCount() const { return autoSaveFileLines_; }
    // Files rotated in this run.
    std::uint64_t rotationCount() const { return rotations_; }
    // Start of a run: accepted records and auto-save lines count from zero again, and the
    // files' failures and refusals with them.
    void resetCounters();

    // Writes one absence line for every selected tag silent longer than the time-out.
    void absenceSweep();
    // A new run's auto-save file: its folder is made, and an old file of that name is moved
    // aside (same folder, its date and time in the name) so the run starts a fresh file. A
    // folder that cannot be made keeps the name: its first refused line says so. Returns the
    // name used.
    QString prepareAutoSaveFile();
    // Where the previous auto-save file was kept (empty: none, or it could not be moved).
    QString previousAutoSaveFile() const { return previousKept_; }

    // Closes the files; lines that could not be written in this run are reported on stderr,
    // once per run.
    void closeFiles();
    platform::AppendFile& eventLogFile() { return eventLog_; }
    platform::AppendFile& autoSaveFile() { return autoSave_; }

    // <Documents>/VANTO/KeltaUtility/VNKDTAG.CSV
    static QString selectionFilePath();
    // Rewrites the selection file with the selected UIDs, each once, in list order; a failure
    // is shown in the file notice and reported on stderr.
    bool saveSelectionFile();

    // What the user is told about the files: a file that cannot be written, with the lines lost
    // so far, a file written again after a failure, the selection file, and where the previous
    // auto-save file was kept. Empty while all is well.
    QString fileNotice() const;
    // Called with fileNotice() whenever it may have changed (a refused line, a resumed file,
    // the start of a run).
    using FileNoticeHook = std::function<void(const QString& notice)>;
    void setFileNoticeHook(FileNoticeHook fn) { fileNoticeHook_ = std::move(fn); }
    const FileNoticeHook& fileNoticeHook() const { return fileNoticeHook_; }
    // Start of a run: the previous auto-save file was kept as `keptAs`, or could not be moved
    // aside for `error` (both empty: there was none).
    void notePreviousAutoSaveFile(const QString& keptAs, const QString& error);
    // The texts of the notice pass through this (a window's language table); as they are by
    // default.
    void setTranslator(std::function<QString(const QString&)> fn) { translate_ = std::move(fn); }

    // Time of the last report of the tag in selection row `row`.
    QDateTime lastSeen(int row) const;
    std::uint32_t selectionTick() const { return selectionTick_; }

    // What a view shows besides the table cells, kept until a view takes it.
    struct Views {
        QStringList newTags; // UIDs of the rows added, in order (collected when asked for)
        QString tagId;       // UID of the last record
        bool tagIdPending = false;
        QString readerId; // reader of the last record
        bool readerIdPending = false;
        CellTable* table = nullptr; // the table whose row `row` had the last record
        int row = 0;
        int selRow = 0; // selection row of the last record, 0 none
    };
    void setCollectNewTags(bool on) { collectNewTags_ = on; }
    Views takeViews();
    // Forgets what views have not taken (Clear).
    void dropViews();
    // Called when something waits for the views (once until they are taken).
    void setViewsPendingHook(std::function<void()> fn) { viewsPending_ = std::move(fn); }
    // Called when the selection counters start again (no selection, Clear).
    void setSelectionCountersHook(std::function<void()> fn) { countersReset_ = std::move(fn); }
    // Called for every accepted record after it went into its table (and its auto-save line
    // was written), with the time it was stamped with.
    using RecordHook = std::function<void(const DecodedTagRecord&, DecodeMode, const QDateTime&)>;
    void setRecordHook(RecordHook fn) { recordHook_ = std::move(fn); }
    // Called for every absence or return written to the event log.
    void setPresenceHook(std::function<void(const PresenceChange&)> fn) {
        presenceHook_ = std::move(fn);
    }

private:
    // Row lookup by UID in column 1, first hit, kept in step with the table's rows.
    struct UidIndex {
        QHash<QString, int> rows;
        int indexedRows = 1; // rows 1 .. indexedRows-1 are in the map
    };
    int findUidRow(CellTable& table, const QString& uid);
    UidIndex& indexOf(const CellTable& table);
    void noteRow(CellTable& table, int row, const QString& uid);
    void trackSelection(CellTable& g, int row, const QString& uid, const TagValues& values,
                        const QDateTime& now);
    void resetSelectionCounters();
    void writeAutoSaveLine(CellTable& g, int row, const QDateTime& now);
    void setLastSeen(int row, const QDateTime& t);
    void viewsChanged();
    bool openInFolder(platform::AppendFile& file, const QString& path);
    void writeEventLine(const QString& text);
    // A fresh file when the rotation rule asks for one before `bytes` are written; true when
    // the file was rotated.
    bool rotateIfDue(platform::AppendFile& file, qint64 bytes, const char* what);
    void pruneOldFiles(const QString& path, const char* what);
    void noteWrite(bool ok, bool& failureShown);
    void showFileState();
    void reportLostLines();
    QString tr(const char* text) const;

    CellTable live_{20};
    CellTable log_{22};
    CellTable sel_{21};
    CellTable* current_ = nullptr;
    UidIndex liveIndex_, logIndex_, selIndex_;

    bool autoSaveOn_ = false;
    QString autoSavePath_;
    QString eventLogPath_;
    int timeoutSeconds_ = 1;
    QStringList selection_;
    QSet<QString> selectedSet_;

    std::vector<QDateTime> lastSeen_;
    // RSSI and LQI of the record last heard, per selection row, as the events report them.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> selRadio_;
    QDateTime lastSeenDefault_;
    platform::AppendFile eventLog_;
    platform::AppendFile autoSave_;
    std::uint64_t acceptedRecordCount_ = 0;
    std::uint64_t autoSaveLineCount_ = 0;
    std::uint64_t autoSaveFileLines_ = 0;
    std::uint64_t rotations_ = 0;
    platform::FileRotation rotation_;
    bool autoSaveFailureShown_ = false;
    bool eventLogFailureShown_ = false;
    bool lossReported_ = false;
    bool selectionFailed_ = false;
    QString selectionNotice_;
    QString previousFileNotice_;
    QString previousKept_;
    FileNoticeHook fileNoticeHook_;
    std::function<QString(const QString&)> translate_;
    std::uint32_t selectionTick_ = 0;

    bool collectNewTags_ = false;
    Views views_;
    bool viewsSignalled_ = false;
    std::function<void()> viewsPending_;
    std::function<void()> countersReset_;
    RecordHook recordHook_;
    std::function<void(const PresenceChange&)> presenceHook_;
    std::function<QDateTime()> clock_;
};

} // namespace kelta::monitor
