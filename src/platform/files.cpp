#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

QString moveAside(const QString& path, QString* error) {
    if (error) error->clear();
    if (!fileExists(path)) return {};
    const QDateTime stamp = QFileInfo(path).lastModified();
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

AppendFile::AppendFile() = default;
AppendFile::AppendFile(const QString& path) : path_(path) {}
AppendFile::~AppendFile() {
    close();
}

AppendFile::AppendFile(AppendFile&& o) noexcept
    : path_(std::move(o.path_)), fd_(std::exchange(o.fd_, -1)), failing_(o.failing_),
      resumed_(o.resumed_), error_(std::move(o.error_)), failedAtMs_(o.failedAtMs_),
      retryMs_(o.retryMs_), refused_(o.refused_) {}

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
    return true;
}

void AppendFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool AppendFile::writeText(const QString& text) {
    if (!open()) {
        ++refused_;
        return false;
    }
    const QByteArray bytes = text.toUtf8();
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
