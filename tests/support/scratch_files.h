#pragma once
// Files the file tests make and read back: an empty folder of their own under the tests'
// temporary root, and the whole contents of a file.

#include "support/test_env.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace kelta::test {

// <temp root>/<area>/<name>, emptied and made anew.
inline QString scratchFolder(const QString& area, const QString& name) {
    const QString dir = QDir(tempRoot()).filePath(area + QLatin1Char('/') + name);
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

// The bytes of a file; none when it cannot be read.
inline QByteArray fileContents(const QString& path) {
    QFile in(path);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

} // namespace kelta::test
