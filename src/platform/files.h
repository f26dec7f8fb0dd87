#pragma once
// Folders and files: the documents folder, folder creation, and the append-only text files of
// the monitoring run with their rotation and their flushes to disk.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class QTimer;

namespace kelta::platform {

QString documentsFolder();               // QStandardPaths::DocumentsLocation
bool createFolders(const QString& path); // with every missing parent; true if it exists after
bool fileExists(const QString& path);    // a file (not a folder), links followed
bool deleteFile(const QString& path);    // true when the file is gone afterwards
// Leaves `path` readable and writable by its owner alone (mode 600) when group or others had
// any right to it; returns the mode it had then (nothing: it was private, or is no file).
std::optional<unsigned> makeOwnerOnly(const QString& path);

// The name a file is kept under when it is moved aside: "<base>_<yyyyMMdd_HHmmss>.<suffix>"
// in its folder, stamped with `stamp`; `counter` above 1 adds "_<counter>" before the suffix.
QString asideName(const QString& path, const QDateTime& stamp, int counter);

// Moves the existing file `path` aside in its folder under asideName() stamped with its last
// modification time (or `stamp` when valid), counting up until a free name is found, so no other
// file is replaced. Returns the new path; an empty string when there was nothing to move or the
// move failed (`error` then says why, and stays empty when there was no file).
QString moveAside(const QString& path, QString* error = nullptr, const QDateTime& stamp = {});

// The files of `path` moved aside (names of the asideName() pattern in its folder), oldest
// first: by the stamp in the name, then by its counter.
QStringList asideFiles(const QString& path);
// Deletes the oldest of asideFiles(path) until at most `keep` are left; returns the paths
// deleted. One that cannot be deleted is named in `failures` (with the system's reason).
QStringList pruneAsideFiles(const QString& path, int keep, QStringList* failures = nullptr);

// When an append file is begun afresh under its name, the full one moved aside: never, when a
// write would take it past a size, or at the first write after local midnight. `keep` old files
// of the name are kept, older ones deleted.
struct FileRotation {
    enum class Kind { None, Size, Daily };
    static constexpr int kDefaultKeep = 30;
    static constexpr int kMostKept = 100000;
    static constexpr qint64 kSmallestSize = 1024;

    Kind kind = Kind::None;
    qint64 maxBytes = 0; // Size
    int keep = kDefaultKeep;

    bool on() const { return kind != Kind::None; }
    bool operator==(const FileRotation&) const = default;
};
// "daily"; a size in bytes with K, M or G (1024-based, "B" or "iB" may follow: "10M", "512KiB");
// "off", "none" or an empty text: no rotation. Anything else: nothing, and `error` says why.
// The keep count is left at its default.
std::optional<FileRotation> parseRotation(const QString& text, QString* error = nullptr);
// "daily", "10M", "1536K", "off": what parseRotation reads back.
QString rotationText(const FileRotation& rotation);

// A text file opened for appending on first use and kept open until close(). Text goes out in
// UTF-8 straight to the system on every write, so a crash of the program loses nothing already
// written. For a power cut, what was written reaches the disk (fdatasync) within the sync
// interval (1 s): at the first write after the interval since the last flush, or by a timer of
// the thread's event loop when writing pauses; and at close(). Not once per write.
//
// A write is whole or nothing: when the system takes only part of it (a full disk), the file is
// cut back to where the write began. A failed open or write leaves the file closed and marks it
// failing; while it fails, a new open is tried at most once per retry interval and the writes in
// between are refused at once. Refused writes are counted until resetCounts().
// The retry is a new open of the same path, so a file replaced or a mount restored is found.
class AppendFile {
public:
    static constexpr int kRetryIntervalMs = 1000;

    AppendFile();
    explicit AppendFile(const QString& path);
    ~AppendFile();
    AppendFile(AppendFile&&) noexcept;
    AppendFile& operator=(AppendFile&&) noexcept;
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    QString path() const { return path_; }
    // Closes the file when the path changes; a new path is tried at once.
    void setPath(const QString& path);

    // Opens the file for appending (creating it, not its folder); true when already open.
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    void close();

    // False when nothing was written (and then nothing of `text` is in the file).
    bool writeText(const QString& text);
    bool writeBytes(const QByteArray& bytes);
    bool writeLine(const QString& line); // the line and "\n"

    // Flushes to disk. The interval is KELTA_FILE_SYNC_MS when that is set (0: never, for
    // benchmarks), else kSyncIntervalMs.
    static constexpr int kSyncIntervalMs = 1000;
    static int defaultSyncIntervalMs();
    void setSyncIntervalMs(int ms) { syncMs_ = ms < 0 ? 0 : ms; }
    int syncIntervalMs() const { return syncMs_; }
    bool syncPending() const { return unsynced_; } // written since the last flush
    void sync();                                   // flushes now what is not yet on disk
    std::uint64_t syncCount() const { return syncs_; }
    // The monotonic milliseconds the flush interval is measured in (the steady clock by
    // default); the timer of a pause still runs on the event loop's time.
    void setSyncClock(std::function<std::int64_t()> ms) { syncClock_ = std::move(ms); }

    // Rotation. The time of a write (for the day rule and the name of a rotated file) is the
    // clock's, the system's local time by default.
    void setRotation(const FileRotation& rotation) { rotation_ = rotation; }
    const FileRotation& rotation() const { return rotation_; }
    void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }
    // True when a write of `bytes` now is to begin a fresh file: the file holds something and
    // the write would take it past the size, or its first write was on an earlier day. Opens
    // the file to learn its size. False for a while after a rotation that failed.
    bool rotationDue(qint64 bytes);
    struct Rotated {
        QString keptAs;      // where the full file went (empty: it could not be moved)
        QStringList deleted; // old files deleted for the keep count
        QStringList errors;  // why the file could not be moved, or an old one not deleted
    };
    // Flushes and closes the file, moves it aside stamped with the time of its last write, and
    // deletes the oldest files moved aside beyond the keep count. The next write makes a fresh
    // file of the name.
    Rotated rotate();
    qint64 size() const { return size_; } // bytes in the open file

    // True when an open would be tried now: the file is open, or not failing, or the retry
    // interval since the last failure has passed.
    bool attemptDue() const;
    bool failing() const { return failing_; }
    QString errorText() const { return error_; } // the system's reason of the last failure
    std::uint64_t refusedWrites() const { return refused_; }
    bool resumed() const { return resumed_; } // written again after a failure
    // A fresh start (a new run): no failure, no refusals, the next open is tried at once.
    void resetCounts();
    void setRetryIntervalMs(int ms) { retryMs_ = ms < 0 ? 0 : ms; }

private:
    void fail(int err);
    void written(qint64 bytes);
    void armSyncTimer(std::int64_t inMs);
    QDateTime clockNow() const;
    std::int64_t syncNowMs() const;

    QString path_;
    int fd_ = -1;
    bool failing_ = false;
    bool resumed_ = false;
    QString error_;
    std::int64_t failedAtMs_ = 0;
    int retryMs_ = kRetryIntervalMs;
    std::uint64_t refused_ = 0;

    int syncMs_ = defaultSyncIntervalMs();
    bool unsynced_ = false;
    static constexpr std::int64_t kNeverSynced = std::numeric_limits<std::int64_t>::min();
    std::int64_t syncedAtMs_ = kNeverSynced;
    std::function<std::int64_t()> syncClock_;
    std::uint64_t syncs_ = 0;
    std::unique_ptr<QTimer> syncTimer_; // made on first use, on the writing thread

    FileRotation rotation_;
    std::function<QDateTime()> clock_;
    qint64 size_ = 0;
    QDateTime firstWrite_; // of the open file: its last change when it held something at open
    QDateTime lastWrite_;
    std::int64_t rotationFailedAtMs_ = -1;
};

} // namespace kelta::platform
