#pragma once
// A small file system of its own for a test: a tmpfs of a given size (to fill it), or a
// read-only one. Mounting needs the right to mount; without it mounted() is false and the test
// says so and skips that case.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mount.h>

namespace kelta::test {

class ScratchMount {
public:
    // Mounts a tmpfs with `options` (e.g. "size=16k") on `folder`, creating the folder.
    ScratchMount(const QString& folder, const QString& options, bool readOnly = false)
        : folder_(QDir::cleanPath(folder)) {
        QDir().mkpath(folder_);
        const QByteArray opts = options.toUtf8();
        if (::mount("tmpfs", path(), "tmpfs", readOnly ? MS_RDONLY : 0, opts.constData()) == 0)
            mounted_ = true;
        else
            error_ = std::strerror(errno);
    }
    ~ScratchMount() {
        if (mounted_) ::umount2(path(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool mounted() const { return mounted_; }
    std::string error() const { return error_; }
    // New options for the mounted file system, e.g. "size=1m" to give the space back.
    bool remount(const QString& options, bool readOnly = false) {
        const QByteArray opts = options.toUtf8();
        return ::mount("tmpfs", path(), "tmpfs", MS_REMOUNT | (readOnly ? MS_RDONLY : 0),
                       opts.constData()) == 0;
    }

private:
    const char* path() {
        bytes_ = QFile::encodeName(folder_);
        return bytes_.constData();
    }
    QString folder_;
    QByteArray bytes_;
    bool mounted_ = false;
    std::string error_;
};

} // namespace kelta::test
