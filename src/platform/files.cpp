#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace kelta::platform {

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

AppendFile::AppendFile() = default;
AppendFile::AppendFile(const QString& path) : path_(path) {}
AppendFile::~AppendFile() {
    close();
}
AppendFile::AppendFile(AppendFile&&) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&&) noexcept = default;

void AppendFile::setPath(const QString& path) {
    if (path == path_) return;
    close();
    path_ = path;
}

bool AppendFile::open() {
    if (isOpen()) return true;
    if (path_.isEmpty()) return false;
    auto file = std::make_unique<QFile>(path_);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append)) return false;
    file_ = std::move(file);
    return true;
}

bool AppendFile::isOpen() const {
    return file_ && file_->isOpen();
}

void AppendFile::close() {
    if (file_) file_->close();
    file_.reset();
}

bool AppendFile::writeText(const QString& text) {
    if (!open()) return false;
    const QByteArray bytes = text.toUtf8();
    return file_->write(bytes) == bytes.size() && file_->flush();
}

bool AppendFile::writeLine(const QString& line) {
    return writeText(line + QLatin1Char('\n'));
}

} // namespace kelta::platform
