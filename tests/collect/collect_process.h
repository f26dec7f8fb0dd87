#pragma once
// The collector program run by the tests: started with options, its standard error collected,
// stopped by a signal; the files it writes, and the settings file it reads. The waits' limits
// are only a safety net against a test that would hang (see support/waits.h).

#include "support/test_env.h"
#include "support/waits.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTest>
#include <csignal>
#include <initializer_list>
#include <utility>

namespace kelta::test {

// The settings file holding these values alone.
inline void writeSettings(std::initializer_list<std::pair<const char*, QVariant>> values) {
    QFile::remove(settingsFilePath());
    QSettings s(settingsFilePath(), QSettings::IniFormat);
    for (const auto& [k, v] : values) s.setValue(QString::fromLatin1(k), v);
    s.sync();
}

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A line without its last two fields (the date and time it was written).
inline QString undated(const QString& line) {
    return line.section(QLatin1Char(','), 0, -3);
}

class CollectProcess {
public:
    CollectProcess() { process_.setProgram(QStringLiteral(KELTA_BINARY_DIR "/kelta-collect")); }
    ~CollectProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    // The environment of the next start (by default this program's).
    void setEnvironment(const QProcessEnvironment& env) { process_.setProcessEnvironment(env); }
    qint64 processId() const { return process_.processId(); }

    bool start(const QStringList& args) {
        process_.setArguments(args);
        process_.start();
        return process_.waitForStarted(5000);
    }
    // Waits until standard error holds `text` (or the program ended, or timeoutMs passed).
    bool waitForError(const QString& text, int timeoutMs = 60000) {
        return QTest::qWaitFor(
                   [&] {
                       collect();
                       return err_.contains(text) || process_.state() == QProcess::NotRunning;
                   },
                   timeoutMs) &&
               err_.contains(text);
    }
    bool waitFor(const std::function<bool()>& condition, int timeoutMs = 60000) {
        return QTest::qWaitFor(
            [&] {
                collect();
                return condition();
            },
            timeoutMs);
    }
    // Waits for the program to end by itself; false when it did not.
    bool waitForEnd(int timeoutMs = 60000) {
        const bool ended =
            process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs);
        collect();
        return ended;
    }
    // Sends the signal and waits for the end; false when it did not end in time.
    bool stop(int signal = SIGTERM, int timeoutMs = 60000) {
        ::kill(static_cast<pid_t>(process_.processId()), signal);
        const bool ended = process_.waitForFinished(timeoutMs);
        collect();
        return ended;
    }

    int exitCode() const { return process_.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }
    QString errorText() {
        collect();
        return err_;
    }
    QString outputText() {
        collect();
        return out_;
    }
    int count(const QString& text) {
        collect();
        return static_cast<int>(err_.count(text));
    }

private:
    void collect() {
        err_ += QString::fromUtf8(process_.readAllStandardError());
        out_ += QString::fromUtf8(process_.readAllStandardOutput());
    }

    QProcess process_;
    QString err_, out_;
};

} // namespace kelta::test
