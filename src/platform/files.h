#pragma once
// Folders and files: the documents folder, folder creation, and the append-only text files of
// the monitoring run.

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace kelta::platform {

QString documentsFolder();               // QStandardPaths::DocumentsLocation
bool createFolders(const QString& path); // with every missing parent; true if it exists after
bool fileExists(const QString& path);    // a file (not a folder), links followed
bool deleteFile(const QString& path);    // true when the file is gone afterwards

// The name a file is kept under when it is moved aside: "<base>_<yyyyMMdd_HHmmss>.<suffix>"
// in its folder, stamped with `stamp`; `counter` above 1 adds "_<counter>" before the suffix.
QString asideName(const QString& path, const QDateTime& stamp, int counter);

// Moves the existing file `path` aside in its folder under asideName() stamped with its last
// modification time, counting up until a free name is found, so no other file is replaced.
// Returns the new path; an empty string when there was nothing to move or the move failed
// (`error` then says why, and stays empty when there was no file).
QString moveAside(const QString& path, QString* error = nullptr);

// A text file opened for appending on first use and kept open until close(). Text goes out in
// UTF-8 straight to the system on every write, so a crash loses nothing already written.
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
    bool writeLine(const QString& line); // the line and "\n"

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

    QString path_;
    int fd_ = -1;
    bool failing_ = false;
    bool resumed_ = false;
    QString error_;
    std::int64_t failedAtMs_ = 0;
    int retryMs_ = kRetryIntervalMs;
    std::uint64_t refused_ = 0;
};

} // namespace kelta::platform
