#pragma once
// What tests wait for: a condition, with the event loop running meanwhile (socket signals and
// the engine's timers go on), and the lines of a file.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTcpServer>
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

// A port free on 127.0.0.1 at the moment of asking, for a server the test does not own
// (the run's own listening server). Where the test owns the server, it listens on port 0.
inline quint16 freePort() {
    QTcpServer s;
    if (!s.listen(QHostAddress(QHostAddress::LocalHost), 0)) return 0;
    return s.serverPort();
}

} // namespace kelta::test
