#include "platform/files.h"

#include <QAbstractEventDispatcher>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kelta::platform {

namespace {

std::int64_t steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Renames without replacing an existing target; false with errno EEXIST when the name is taken.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // A file system without the no-replace rename: a hard link fails on an existing name.
    if (::link(from.constData(), to.constData()) == 0) {
        if (::unlink(from.constData()) == 0) return true;
        const int err = errno;
        ::unlink(to.constData());
        errno = err;
        return false;
    }
    return false;
}

} // namespace

QString documentsFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

bool createFolders(const QString& path) {
    if (path.isEmpty()) return false;
    return QDir().mkpath(path) && QFileInfo(path).isDir();
}

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool deleteFile(const QString& path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) return true;
    if (info.isDir() && !info.isSymLink()) return false;
    return QFile::remove(path);
}

std::optional<unsigned> makeOwnerOnly(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (path.isEmpty() || ::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    const unsigned mode = st.st_mode & 07777;
    if ((mode & 077) == 0) return {};
    if (::chmod(name.constData(), S_IRUSR | S_IWUSR) != 0) return {};
    return mode;
}

QString asideName(const QString& path, const QDateTime& stamp, int counter) {
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    QString base = info.fileName();
    if (!suffix.isEmpty()) base.chop(suffix.size() + 1);
    QString name =
        base + QLatin1Char('_') + QLocale::c().toString(stamp, QStringLiteral("yyyyMMdd_HHmmss"));
    if (counter > 1) name += QLatin1Char('_') + QString::number(counter);
    if (!suffix.isEmpty()) name += QLatin1Char('.') + suffix;
    return info.dir().filePath(name);
}

QString moveAside(const QString& path, QString* error, const QDateTime& when) {
    if (error) error->clear();
    if (!fileExists(path)) return {};
    const QDateTime stamp = when.isValid() ? when : QFileInfo(path).lastModified();
    const QByteArray from = QFile::encodeName(path);
    for (int counter = 1; counter < 10000; ++counter) {
        const QString to = asideName(path, stamp, counter);
        if (renameNoReplace(from, QFile::encodeName(to))) return to;
        if (errno != EEXIST) {
            if (error) *error = errnoText(errno);
            return {};
        }
    }
    if (error) *error = errnoText(EEXIST);
    return {};
}

namespace {

// "<base>_<yyyyMMdd_HHmmss>[_n].<suffix>" of `path`: the stamp and the counter.
struct AsideFile {
    QString path;
    QString stamp;
    int counter = 1;
};

std::vector<AsideFile> asideFilesOf(const QString& path) {
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    QString base = info.fileName();
    if (!suffix.isEmpty()) base.chop(suffix.size() + 1);
    const QRegularExpression pattern(
        QLatin1Char('^') + QRegularExpression::escape(base) +
        QStringLiteral("_(\\d{8}_\\d{6})(?:_(\\d{1,9}))?") +
        (suffix.isEmpty() ? QString() : QLatin1String("\\.") + QRegularExpression::escape(suffix)) +
        QLatin1Char('$'));
    std::vector<AsideFile> out;
    const QDir dir = info.dir();
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch m = pattern.match(name);
        if (!m.hasMatch()) continue;
        AsideFile f{dir.filePath(name), m.captured(1), 1};
        if (m.hasCaptured(2)) f.counter = m.captured(2).toInt();
        out.push_back(std::move(f));
    }
    std::sort(out.begin(), out.end(), [](const AsideFile& a, const AsideFile& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.counter < b.counter;
    });
    return out;
}

} // namespace

QStringList asideFiles(const QString& path) {
    QStringList out;
    for (const AsideFile& f : asideFilesOf(path)) out << f.path;
    return out;
}

QStringList pruneAsideFiles(const QString& path, int keep, QStringList* failures) {
    QStringList deleted;
    const std::vector<AsideFile> files = asideFilesOf(path);
    const std::size_t kept = static_cast<std::size_t>(std::max(keep, 0));
    for (std::size_t i = 0; i + kept < files.size(); ++i) {
        const QByteArray name = QFile::encodeName(files[i].path);
        if (::unlink(name.constData()) == 0 || errno == ENOENT)
            deleted << files[i].path;
        else if (failures)
            *failures << files[i].path + QLatin1String(" (") + errnoText(errno) + QLatin1Char(')');
    }
    return deleted;
}

std::optional<FileRotation> parseRotation(const QString& text, QString* error) {
    const QString t = text.trimmed();
    FileRotation r;
    if (t.isEmpty() || t.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0 ||
        t.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return r;
    if (t.compare(QLatin1String("daily"), Qt::CaseInsensitive) == 0) {
        r.kind = FileRotation::Kind::Daily;
        return r;
    }
    static const QRegularExpression size(QStringLiteral("^(\\d{1,15})\\s*([KMG]?)(?:I?B)?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = size.match(t);
    if (m.hasMatch()) {
        qint64 bytes = m.captured(1).toLongLong();
        const QString unit = m.captured(2).toUpper();
        const int shift = unit == u"K" ? 10 : unit == u"M" ? 20 : unit == u"G" ? 30 : 0;
        if (bytes <= (qint64{1} << (62 - shift))) {
            bytes <<= shift;
            if (bytes >= FileRotation::kSmallestSize) {
                r.kind = FileRotation::Kind::Size;
                r.maxBytes = bytes;
                return r;
            }
        }
    }
    if (error)
        *error = QStringLiteral("\"%1\" is not \"daily\" nor a size of at least 1K (a number "
                                "with K, M or G: 512K, 10M, 1G)")
                     .arg(t);
    return std::nullopt;
}

QString rotationText(const FileRotation& r) {
    switch (r.kind) {
    case FileRotation::Kind::None:
        return QStringLiteral("off");
    case FileRotation::Kind::Daily:
        return QStringLiteral("daily");
    case FileRotation::Kind::Size:
        break;
    }
    for (const auto& [shift, unit] : {std::pair{30, 'G'}, std::pair{20, 'M'}, std::pair{10, 'K'}})
        if (r.maxBytes % (qint64{1} << shift) == 0)
            return QString::number(r.maxBytes >> shift) + QLatin1Char(unit);
    return QString::number(r.maxBytes);
}

int AppendFile::defaultSyncIntervalMs() {
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("KELTA_FILE_SYNC_MS", &ok);
    return ok && ms >= 0 ? ms : kSyncIntervalMs;
}

AppendFile::AppendFile() = default;
AppendFile::AppendFile(const QString& path) : path_(path) {}
AppendFile::~AppendFile() {
    close();
}

AppendFile::AppendFile(AppendFile&& o) noexcept {
    *this = std::move(o);
}

AppendFile& AppendFile::operator=(AppendFile&& o) noexcept {
    if (this != &o) {
        close();
        path_ = std::move(o.path_);
        fd_ = std::exchange(o.fd_, -1);
        failing_ = o.failing_;
        resumed_ = o.resumed_;
        error_ = std::move(o.error_);
        failedAtMs_ = o.failedAtMs_;
        retryMs_ = o.retryMs_;
        refused_ = o.refused_;
        syncMs_ = o.syncMs_;
        unsynced_ = std::exchange(o.unsynced_, false);
        syncedAtMs_ = o.syncedAtMs_;
        syncs_ = o.syncs_;
        syncClock_ = std::move(o.syncClock_);
        o.syncTimer_.reset(); // its timer calls the moved-from object: this one makes its own
        syncTimer_.reset();
        rotation_ = o.rotation_;
        clock_ = std::move(o.clock_);
        size_ = o.size_;
        firstWrite_ = o.firstWrite_;
        lastWrite_ = o.lastWrite_;
        rotationFailedAtMs_ = o.rotationFailedAtMs_;
        if (unsynced_) armSyncTimer(0);
    }
    return *this;
}

void AppendFile::setPath(const QString& path) {
    if (path == path_) return;
    close();
    path_ = path;
    failedAtMs_ = steadyMs() - retryMs_; // a new name is worth a try at once
}

bool AppendFile::attemptDue() const {
    return isOpen() || !failing_ || steadyMs() - failedAtMs_ >= retryMs_;
}

void AppendFile::fail(int err) {
    failing_ = true;
    error_ = errnoText(err);
    failedAtMs_ = steadyMs();
}

bool AppendFile::open() {
    if (isOpen()) return true;
    if (!attemptDue()) return false;
    if (path_.isEmpty()) {
        fail(ENOENT);
        return false;
    }
    const int fd = ::open(QFile::encodeName(path_).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        fail(EISDIR);
        return false;
    }
    fd_ = fd;
    // The day of a file that already holds lines is the day of its last change.
    size_ = st.st_size;
    firstWrite_ = size_ > 0 ? QFileInfo(path_).lastModified() : QDateTime();
    lastWrite_ = firstWrite_;
    return true;
}

void AppendFile::close() {
    if (fd_ >= 0) {
        sync();
        ::close(fd_);
    }
    fd_ = -1;
    unsynced_ = false;
    if (syncTimer_) syncTimer_->stop();
}

QDateTime AppendFile::clockNow() const {
    return clock_ ? clock_() : QDateTime::currentDateTime();
}

std::int64_t AppendFile::syncNowMs() const {
    return syncClock_ ? syncClock_() : steadyMs();
}

void AppendFile::sync() {
    if (!unsynced_ || fd_ < 0) return;
    // A file that cannot be flushed (a device, a pipe) says so here; its writes still count.
    [[maybe_unused]] const int rc = ::fdatasync(fd_);
    unsynced_ = false;
    syncedAtMs_ = syncNowMs();
    ++syncs_;
    if (syncTimer_) syncTimer_->stop();
}

void AppendFile::armSyncTimer(std::int64_t inMs) {
    // Only a thread with an event loop runs timers; without one the next write or close()
    // flushes.
    if (!QAbstractEventDispatcher::instance()) return;
    if (!syncTimer_) {
        syncTimer_ = std::make_unique<QTimer>();
        syncTimer_->setSingleShot(true);
        QObject::connect(syncTimer_.get(), &QTimer::timeout, [this] { sync(); });
    }
    if (!syncTimer_->isActive())
        syncTimer_->start(static_cast<int>(std::clamp<std::int64_t>(inMs, 0, syncMs_)));
}

void AppendFile::written(qint64 bytes) {
    size_ += bytes;
    lastWrite_ = clockNow();
    if (!firstWrite_.isValid()) firstWrite_ = lastWrite_;
    if (syncMs_ <= 0) return;
    unsynced_ = true;
    // The first write of the file's life is flushed at once: nothing was flushed before it.
    const std::int64_t since =
        syncedAtMs_ == kNeverSynced ? std::int64_t{syncMs_} : syncNowMs() - syncedAtMs_;
    if (since >= syncMs_)
        sync();
    else
        armSyncTimer(syncMs_ - since);
}

bool AppendFile::rotationDue(qint64 bytes) {
    if (!rotation_.on()) return false;
    if (rotationFailedAtMs_ >= 0 && steadyMs() - rotationFailedAtMs_ < retryMs_) return false;
    if (!open() || size_ <= 0) return false;
    if (rotation_.kind == FileRotation::Kind::Size) return size_ + bytes > rotation_.maxBytes;
    return firstWrite_.isValid() && clockNow().date() != firstWrite_.date();
}

AppendFile::Rotated AppendFile::rotate() {
    Rotated r;
    const QDateTime stamp = lastWrite_;
    close();
    QString error;
    r.keptAs = moveAside(path_, &error, stamp);
    if (r.keptAs.isEmpty()) {
        // The file stays and takes the next lines; the move is tried again after a while.
        if (!error.isEmpty()) r.errors << error;
        rotationFailedAtMs_ = steadyMs();
        return r;
    }
    rotationFailedAtMs_ = -1;
    size_ = 0;
    firstWrite_ = lastWrite_ = QDateTime();
    r.deleted = pruneAsideFiles(path_, rotation_.keep, &r.errors);
    return r;
}

bool AppendFile::writeText(const QString& text) {
    return writeBytes(text.toUtf8());
}

bool AppendFile::writeBytes(const QByteArray& bytes) {
    if (!open()) {
        ++refused_;
        return false;
    }
    // Where this write begins, to cut a partial write back to.
    const off_t start = ::lseek(fd_, 0, SEEK_END);
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, static_cast<std::size_t>(left));
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int err = n < 0 ? errno : ENOSPC;
        if (left < bytes.size() && start >= 0) {
            // Not every file can be cut (a device); the refusal is reported either way.
            [[maybe_unused]] const int cut = ::ftruncate(fd_, start);
        }
        close();
        fail(err);
        ++refused_;
        return false;
    }
    if (failing_) {
        failing_ = false;
        resumed_ = true;
    }
    written(bytes.size());
    return true;
}

bool AppendFile::writeLine(const QString& line) {
    return writeText(line + QLatin1Char('\n'));
}

void AppendFile::resetCounts() {
    refused_ = 0;
    resumed_ = false;
    failing_ = false;
}

} // namespace kelta::platform
