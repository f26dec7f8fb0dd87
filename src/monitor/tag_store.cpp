#include "monitor/tag_store.h"

#include "platform/clock.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <tuple>

namespace kelta::monitor {

namespace {

// Columns shared by the three tables.
constexpr int kColNo = 0;
constexpr int kColUid = 1;
constexpr int kColRssi = 2;
constexpr int kColLqi = 3;
constexpr int kColReaderId = 17;
constexpr int kColCount = 18; // Count; Index in the log table
constexpr int kColTime = 19;  // GPS (live), LOG DateTime (log), DateTime (selection)
constexpr int kColSince = 20; // MilliSecBetween of the selection table
constexpr int kColLogStatus = 21;

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
        // Right-justified in its width (a longer field is kept whole), without a padded copy.
        const QString& field = fi < fields.size() ? fields[fi] : QString();
        if (field.size() < widths[i])
            line.resize(line.size() + widths[i] - field.size(), QLatin1Char(' '));
        line += field;
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

QStringList commonKeys() {
    return {"No.",     "UID",     "RSSI",  "LQI",   "TagVer", "Packet", "Model", "KeyNo", "Group",
            "S_State", "Battery", "ISN_H", "ISN_L", "D_1H",   "D_1L",   "D_2H",  "D_2L",  "ID"};
}

} // namespace

QStringList liveColumnKeys() {
    return commonKeys() << "Count"
                        << "GPS";
}

QStringList logColumnKeys() {
    return commonKeys() << "Index"
                        << "DateTime"
                        << "GPS"
                        << "LOGStatus";
}

QStringList selectionColumnKeys() {
    return commonKeys() << "Count"
                        << "DateTime"
                        << "MilliSecBetween";
}

namespace {

// Formatting through the locale is slow, and the reports of a burst share their second: the
// text of the last second asked for is kept.
struct SecondText {
    qint64 second = std::numeric_limits<qint64>::min();
    QString text;
};

const QString& textOfSecond(const QDateTime& t, const QString& format, SecondText& cache) {
    const qint64 second = t.date().toJulianDay() * 86400 + t.time().msecsSinceStartOfDay() / 1000;
    if (second != cache.second || !t.isValid()) {
        cache.text = QLocale::c().toString(t, format);
        cache.second = t.isValid() ? second : std::numeric_limits<qint64>::min();
    }
    return cache.text;
}

} // namespace

QString fileDate(const QDateTime& t) {
    thread_local SecondText cache;
    return textOfSecond(t, QStringLiteral("yyyy/MM/dd"), cache);
}

QString fileTime(const QDateTime& t) {
    thread_local SecondText cache;
    return textOfSecond(t, QStringLiteral("HH:mm:ss"), cache);
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

// ---------------------------------------------------------------------------------------------

namespace {

// The local time now. Turning the system clock into local time reads the time zone each time
// (a stat of its file), which at a burst of reports cost a quarter of the time of a record;
// within one millisecond the answer is the same, so it is made once per millisecond.
QDateTime localNow() {
    thread_local qint64 lastMs = -1;
    thread_local QDateTime last;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms != lastMs) {
        last = QDateTime::fromMSecsSinceEpoch(ms);
        lastMs = ms;
    }
    return last;
}

} // namespace

TagStore::TagStore() : clock_(localNow) {
    autoSave_.setClock(clock_);
    eventLog_.setClock(clock_);
    lastSeenDefault_ = clock_();
    resetTable(live_, liveColumnKeys());
    resetTable(log_, logColumnKeys());
    resetTable(sel_, selectionColumnKeys());
}

void TagStore::setClock(std::function<QDateTime()> fn) {
    clock_ = fn ? std::move(fn) : localNow;
    // The files stamp their day and their rotated names with the same time.
    autoSave_.setClock(clock_);
    eventLog_.setClock(clock_);
}

void TagStore::setRotation(const platform::FileRotation& rotation) {
    rotation_ = rotation;
    autoSave_.setRotation(rotation);
    eventLog_.setRotation(rotation);
}

void TagStore::setSelection(const QStringList& uids) {
    selection_ = uids;
    selectedSet_ = QSet<QString>(uids.begin(), uids.end());
}

// --- UID index -------------------------------------------------------------------------------

TagStore::UidIndex& TagStore::indexOf(const CellTable& table) {
    if (&table == &log_) return logIndex_;
    if (&table == &sel_) return selIndex_;
    return liveIndex_;
}

void TagStore::noteRow(CellTable& table, int row, const QString& uid) {
    UidIndex& ix = indexOf(table);
    if (row != ix.indexedRows) return; // out of step: the next lookup re-reads the table
    if (!ix.rows.contains(uid)) ix.rows.insert(uid, row); // an earlier row wins (first hit)
    ++ix.indexedRows;
}

int TagStore::findUidRow(CellTable& table, const QString& uid) {
    UidIndex& ix = indexOf(table);
    const int rows = table.rows();
    // Rows may have been added or dropped past the store (the selection file at startup, a
    // grid reset elsewhere): catch up, or start over when the table shrank.
    if (rows < ix.indexedRows) {
        ix.rows.clear();
        ix.indexedRows = 1;
    }
    for (; ix.indexedRows < rows; ++ix.indexedRows) {
        const QString& u = table.ref(kColUid, ix.indexedRows);
        if (!ix.rows.contains(u)) ix.rows.insert(u, ix.indexedRows);
    }
    const auto it = ix.rows.constFind(uid);
    if (it == ix.rows.constEnd()) return -1;
    if (table.ref(kColUid, it.value()) == uid) return it.value();
    // A cell was rewritten behind the index: fall back to the scan and rebuild.
    ix.rows.clear();
    ix.indexedRows = 1;
    for (int r = 1; r < rows; ++r) {
        const QString& u = table.ref(kColUid, r);
        if (!ix.rows.contains(u)) ix.rows.insert(u, r);
    }
    ix.indexedRows = rows;
    return ix.rows.value(uid, -1);
}

// --- Posting ---------------------------------------------------------------------------------

void TagStore::resetCounters() {
    acceptedRecordCount_ = 0;
    autoSaveLineCount_ = 0;
    autoSaveFileLines_ = 0;
    rotations_ = 0;
    autoSave_.resetCounts();
    eventLog_.resetCounts();
    autoSaveFailureShown_ = false;
    eventLogFailureShown_ = false;
    lossReported_ = false;
    if (!selectionFailed_) selectionNotice_.clear(); // "saved again" was news of the last run
    showFileState();
}

void TagStore::viewsChanged() {
    if (viewsSignalled_) return;
    viewsSignalled_ = true;
    if (viewsPending_) viewsPending_();
}

TagStore::Views TagStore::takeViews() {
    viewsSignalled_ = false;
    Views v = std::move(views_);
    views_ = Views{};
    return v;
}

void TagStore::dropViews() {
    // The reader last heard stays: reader commands still address it.
    Views kept;
    kept.readerId = views_.readerId;
    kept.readerIdPending = views_.readerIdPending;
    views_ = std::move(kept);
}

void TagStore::PostTagRecord(const DecodedTagRecord& rec, DecodeMode mode) {
    if (!current_) return;
    CellTable& g = *current_;
    const QDateTime now = clock_();
    const QString uid = QString::fromStdString(rec.uid);

    // The UID's row in live mode, else a new one.
    int row = mode == DecodeMode::Live ? findUidRow(g, uid) : -1;

    views_.tagId = uid;
    views_.tagIdPending = true;

    if (row > 0) {
        g.setText(kColCount, row, QString::number(qint64{decimalOr(g.ref(kColCount, row), 0)} + 1));
    } else {
        row = g.append();
        g.setText(kColNo, row, QString::number(row));
        g.setText(kColUid, row, uid);
        noteRow(g, row, uid);
        if (collectNewTags_) views_.newTags << uid;
        g.setText(kColCount, row, QStringLiteral("1"));
    }

    const std::string* texts[] = {&rec.rssi,    &rec.lqi,   &rec.tagVer, &rec.packet,
                                  &rec.model,   &rec.keyNo, &rec.group,  &rec.sState,
                                  &rec.battery, &rec.isnH,  &rec.isnL,   &rec.d1h,
                                  &rec.d1l,     &rec.d2h,   &rec.d2l,    &rec.readerId};
    int col = kColRssi;
    for (const std::string* t : texts) g.setText(col++, row, std::string_view(*t));
    g.setText(kColTime, row, std::string_view(rec.gps));

    trackSelection(g, row, uid, rec.values, now);

    if (mode == DecodeMode::Log || g.cols() > 21) {
        g.setText(kColCount, row, std::string_view(rec.index));
        g.setText(kColTime, row, std::string_view(rec.logDateTime));
        g.setText(kColSince, row, std::string_view(rec.gps));
        g.setText(kColLogStatus, row, std::string_view(rec.logStatus));
    }

    views_.table = &g;
    views_.row = row;
    ++acceptedRecordCount_;

    // Reader commands address the reader last heard.
    views_.readerId = QString::fromStdString(rec.readerId);
    views_.readerIdPending = true;
    viewsChanged();

    if (autoSaveOn_) writeAutoSaveLine(g, row, now);
    if (recordHook_) recordHook_(rec, mode, now);
}

void TagStore::resetSelectionCounters() {
    selectionTick_ = platform::tickMs();
    if (countersReset_) countersReset_();
}

bool TagStore::openInFolder(platform::AppendFile& file, const QString& path) {
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

void TagStore::writeEventLine(const QString& text) {
    openInFolder(eventLog_, eventLogPath_);
    const QByteArray bytes = text.toUtf8();
    rotateIfDue(eventLog_, bytes.size(), "Event log");
    openInFolder(eventLog_, eventLogPath_);
    noteWrite(eventLog_.writeBytes(bytes), eventLogFailureShown_);
}

bool TagStore::rotateIfDue(platform::AppendFile& file, qint64 bytes, const char* what) {
    if (!file.rotationDue(bytes)) return false;
    const platform::AppendFile::Rotated r = file.rotate();
    const QString path = QDir::toNativeSeparators(file.path());
    for (const QString& e : r.errors)
        std::fprintf(stderr, "%s %s: %s\n", what, qPrintable(path),
                     qPrintable(r.keptAs.isEmpty()
                                    ? QStringLiteral("not rotated (%1); lines go on into it").arg(e)
                                    : QStringLiteral("old file not deleted: %1").arg(e)));
    if (!r.keptAs.isEmpty()) {
        ++rotations_;
        std::fprintf(stderr, "%s %s rotated: kept as %s\n", what, qPrintable(path),
                     qPrintable(QDir::toNativeSeparators(r.keptAs)));
    }
    for (const QString& d : r.deleted)
        std::fprintf(stderr, "%s %s: old file %s deleted (keeping %d)\n", what, qPrintable(path),
                     qPrintable(QDir::toNativeSeparators(d)), rotation_.keep);
    std::fflush(stderr);
    return !r.keptAs.isEmpty();
}

void TagStore::pruneOldFiles(const QString& path, const char* what) {
    if (!rotation_.on() || path.isEmpty()) return;
    QStringList failures;
    const QStringList deleted = platform::pruneAsideFiles(path, rotation_.keep, &failures);
    const QString name = QDir::toNativeSeparators(path);
    for (const QString& d : deleted)
        std::fprintf(stderr, "%s %s: old file %s deleted (keeping %d)\n", what, qPrintable(name),
                     qPrintable(QDir::toNativeSeparators(d)), rotation_.keep);
    for (const QString& f : failures)
        std::fprintf(stderr, "%s %s: old file not deleted: %s\n", what, qPrintable(name),
                     qPrintable(f));
    std::fflush(stderr);
}

void TagStore::noteWrite(bool ok, bool& failureShown) {
    // The notice changes with every refused line and once more when writing resumes.
    if (ok && !failureShown) return;
    failureShown = !ok;
    showFileState();
}

void TagStore::showFileState() {
    if (fileNoticeHook_) fileNoticeHook_(fileNotice());
}

QString TagStore::tr(const char* text) const {
    const QString t = QString::fromLatin1(text);
    return translate_ ? translate_(t) : t;
}

QString TagStore::fileNotice() const {
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

void TagStore::notePreviousAutoSaveFile(const QString& keptAs, const QString& error) {
    previousKept_ = keptAs;
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

void TagStore::reportLostLines() {
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

void TagStore::trackSelection(CellTable& g, int row, const QString& uid, const TagValues& values,
                              const QDateTime& now) {
    CellTable& sel = sel_;
    if (selection_.isEmpty()) {
        resetSelectionCounters();
        return;
    }
    openInFolder(eventLog_, eventLogPath_);
    if (!isSelected(uid)) return;
    int s = findUidRow(sel, uid);
    if (s < 0) {
        s = sel.append();
        sel.setText(kColNo, s, QString::number(s));
        sel.setText(kColUid, s, uid);
        noteRow(sel, s, uid);
        sel.setText(kColCount, s, QStringLiteral("1"));
        sel.setText(kColSince, s, QStringLiteral("0"));
        views_.selRow = s;
    } else {
        views_.selRow = s;
        const QDateTime seen = lastSeen(s);
        const qint64 ms = seen.msecsTo(now);
        // A tag back after its absence: the return is logged with the time it was away.
        if (sel.ref(kColSince, s).isEmpty()) {
            sel.setText(kColRssi, s, g.ref(kColRssi, row));
            sel.setText(kColLqi, s, g.ref(kColLqi, row));
            writeEventLine(eventLogLine(uid, sel.ref(kColRssi, s), sel.ref(kColLqi, s), seen, now,
                                        QString::number(ms < 0 ? -ms : ms)));
            if (presenceHook_) {
                PresenceChange c{
                    true, uid, g.ref(kColReaderId, row), sel.ref(kColRssi, s), sel.ref(kColLqi, s),
                    seen, now, ms < 0 ? -ms : ms};
                c.rssiValue = values.rssi;
                c.lqiValue = values.lqi;
                presenceHook_(c);
            }
        }
        sel.setText(kColCount, s, QString::number(qint64{decimalOr(sel.ref(kColCount, s), 0)} + 1));
        sel.setText(kColSince, s, QString::number(ms));
    }
    for (int c = kColRssi; c <= 17; ++c) sel.setText(c, s, g.ref(c, row));
    sel.setText(kColTime, s, fileDateTime(now.addMSecs(500)));
    setLastSeen(s, now);
    if (static_cast<std::size_t>(s) >= selRadio_.size())
        selRadio_.resize(static_cast<std::size_t>(s) + 1);
    selRadio_[static_cast<std::size_t>(s)] = {values.rssi, values.lqi};
}

void TagStore::writeAutoSaveLine(CellTable& g, int row, const QDateTime& now) {
    // The number counts the lines really in the file: it moves on only when the line (with the
    // file's header before line 1) was written whole. A refused line is counted as lost.
    const bool live = g.cols() == 20;
    QStringList f;
    f.reserve(24);
    f << QString();
    if (live) {
        for (int c = 1; c <= 17; ++c) f << g.ref(c, row);
        f << g.ref(kColTime, row);
    } else {
        for (int c = 1; c <= 21; ++c) f << g.ref(c, row);
    }
    f << fileDate(now) << fileTime(now);
    auto text = [&] {
        const std::uint64_t number = autoSaveFileLines_ + 1;
        f[0] = QStringLiteral("%1").arg(number, 10, 10, QLatin1Char('0'));
        QString t = number == 1 ? autoSaveHeaderLine(live) : QString();
        t += autoSaveLine(f);
        return t.toUtf8();
    };
    QByteArray bytes = text();
    openInFolder(autoSave_, autoSavePath_);
    // A line goes whole into one file: a fresh file begins before it when the rule says so,
    // with its header and line 1.
    if (rotateIfDue(autoSave_, bytes.size(), "Auto-save file")) {
        autoSaveFileLines_ = 0;
        bytes = text();
        openInFolder(autoSave_, autoSavePath_);
    }
    const bool ok = autoSave_.writeBytes(bytes);
    if (ok) {
        ++autoSaveFileLines_;
        ++autoSaveLineCount_;
    }
    noteWrite(ok, autoSaveFailureShown_);
}

// --- lastSeen --------------------------------------------------------------------------------

QDateTime TagStore::lastSeen(int row) const {
    if (row >= 0 && static_cast<std::size_t>(row) < lastSeen_.size() &&
        lastSeen_[static_cast<std::size_t>(row)].isValid())
        return lastSeen_[static_cast<std::size_t>(row)];
    return lastSeenDefault_;
}

void TagStore::setLastSeen(int row, const QDateTime& t) {
    if (row < 0) return;
    const auto r = static_cast<std::size_t>(row);
    if (r >= lastSeen_.size()) lastSeen_.resize(r + 1, lastSeenDefault_);
    lastSeen_[r] = t;
}

// --- Clear -----------------------------------------------------------------------------------

void TagStore::resetTable(CellTable& table, const QStringList& headers) {
    table.setRows(1);
    table.setCols(static_cast<int>(headers.size()));
    for (int c = 0; c < headers.size(); ++c) table.setText(c, 0, headers[c]);
    indexOf(table) = UidIndex{};
}

QDateTime TagStore::clear(const QStringList& liveHeaders, const QStringList& logHeaders,
                          const QStringList& selectionHeaders) {
    resetTable(live_, liveHeaders);
    resetTable(log_, logHeaders);
    resetTable(sel_, selectionHeaders);
    return restart();
}

QDateTime TagStore::restart() {
    dropViews();
    const QDateTime now = clock_();
    lastSeenDefault_ = now;
    lastSeen_.assign(static_cast<std::size_t>(selection_.size()) + 1, now);
    selRadio_.assign(static_cast<std::size_t>(selection_.size()) + 1, {0, 0});
    const QString nowText = fileDateTime(now);
    for (const QString& uid : std::as_const(selection_)) {
        const int r = sel_.append();
        sel_.setText(kColNo, r, QString::number(r));
        sel_.setText(kColUid, r, uid);
        noteRow(sel_, r, uid);
        sel_.setText(kColRssi, r, QStringLiteral("0"));
        sel_.setText(kColLqi, r, QStringLiteral("0"));
        sel_.setText(kColCount, r, QStringLiteral("0"));
        sel_.setText(kColTime, r, nowText);
        sel_.setText(kColSince, r, QStringLiteral("0"));
    }
    acceptedRecordCount_ = 0;
    resetSelectionCounters();
    return now;
}

void TagStore::clearSelectionTable() {
    sel_.setRows(1);
    selIndex_ = UidIndex{};
    resetSelectionCounters();
}

// --- Absence sweep, files --------------------------------------------------------------------

void TagStore::absenceSweep() {
    // Without a selection there is nothing to watch, and no event log is created.
    if (selection_.isEmpty()) return;
    openInFolder(eventLog_, eventLogPath_);
    const qint64 timeoutMs = static_cast<qint64>(timeoutSeconds_) * 1000;
    const QDateTime now = clock_();
    const int rows = sel_.rows();
    for (int r = 1; r < rows; ++r) {
        if (sel_.ref(kColSince, r).isEmpty()) continue;
        const QDateTime seen = lastSeen(r);
        const qint64 ms = seen.msecsTo(now);
        if (ms <= timeoutMs) continue;
        // The tag is absent whether or not its line could be written; a line the log refuses
        // is counted among the lost ones.
        writeEventLine(eventLogLine(sel_.ref(kColUid, r), sel_.ref(kColRssi, r),
                                    sel_.ref(kColLqi, r), seen, now,
                                    QLatin1Char('>') + QString::number(ms)));
        sel_.setText(kColSince, r, QString());
        if (presenceHook_) {
            PresenceChange c{false,
                             sel_.ref(kColUid, r),
                             sel_.ref(kColReaderId, r),
                             sel_.ref(kColRssi, r),
                             sel_.ref(kColLqi, r),
                             seen,
                             now,
                             ms};
            if (static_cast<std::size_t>(r) < selRadio_.size())
                std::tie(c.rssiValue, c.lqiValue) = selRadio_[static_cast<std::size_t>(r)];
            presenceHook_(c);
        }
    }
}

QString TagStore::prepareAutoSaveFile() {
    const QString path = autoSavePath_;
    // A folder that cannot be made does not send the records to another file: the name stays
    // and the first line that cannot be written is shown as such.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir(folder).exists()) platform::createFolders(folder);
    // The run starts a fresh file with its header; the previous run's file is kept beside it
    // under a name with its date and time.
    QString error;
    const QString kept = platform::moveAside(path, &error);
    notePreviousAutoSaveFile(kept, error);
    // With rotation on, the files of earlier runs count among the old files kept.
    pruneOldFiles(path, "Auto-save file");
    pruneOldFiles(eventLogPath_, "Event log");
    return path;
}

void TagStore::closeFiles() {
    eventLog_.close();
    autoSave_.close();
    reportLostLines();
}

QString TagStore::selectionFilePath() {
    return platform::documentsFolder() + QStringLiteral("/VANTO/KeltaUtility/VNKDTAG.CSV");
}

bool TagStore::saveSelectionFile() {
    const QString path = selectionFilePath();
    platform::createFolders(folderOf(path));
    QStringList uids;
    QSet<QString> seen;
    for (const QString& uid : std::as_const(selection_)) {
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

} // namespace kelta::monitor
