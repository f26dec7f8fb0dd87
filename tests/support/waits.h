#pragma once
// What tests wait for: a condition, with the event loop running meanwhile (socket signals and
// the engine's timers go on), and the lines of a file.

#include "support/ports.h" // freePort, for the tests that wait on sockets

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace kelta::test {

// Runs the event loop until `done` holds (true) or timeoutMs have passed (false). The limit
// is only a safety net against a test that would hang; a test never asserts on time.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// The non-empty lines of a UTF-8 text file; none when it cannot be read.
inline QStringList fileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace kelta::test
