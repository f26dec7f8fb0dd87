#pragma once
// The permission bits of a file as the system keeps them (0644, 0600), for tests of who may
// read what a program wrote.

#include <QFile>
#include <QString>
#include <sys/stat.h>

namespace kelta::test {

// The mode bits of `path` (links followed); 0 when there is no such file.
inline unsigned fileMode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace kelta::test
