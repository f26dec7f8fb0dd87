#pragma once

// What the engine tests share: a private folder, the simulator host, a tag store and an engine
// reporting to the test's own recorder of events, and a run that is stopped on a condition.

#include "monitor/monitor_engine.h"
#include "monitor/tag_store.h"
#include "reader-sim/sim_host.h"
#include "support/test_env.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace kelta::test {

inline QStringList fileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline quint16 freePort() {
    QTcpServer s;
    if (!s.listen(QHostAddress(QHostAddress::LocalHost), 0)) return 0;
    const quint16 p = s.serverPort();
    s.close();
    return p;
}

// `Events` is the MonitorEvents the test records with; time is scaled down to 1/20.
template <class Events> class EngineFixture : public ::testing::Test {
protected:
    using RunConfig = monitor::RunConfig;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QFile::remove(monitor::TagStore::selectionFilePath());
        setTimeScale(0.05);
    }
    void TearDown() override {
        host.stop();
        setTimeScale(1.0);
    }

    // A run of `linkMode` with auto-save on (into `saveFile`, by default save/run.csv of the
    // private folder) and the event log in events/log.csv.
    RunConfig config(int linkMode, const QString& saveFile = {}) const {
        RunConfig c;
        c.linkMode = linkMode;
        c.autoSave = true;
        c.autoSaveFile = saveFile.isEmpty() ? dir.filePath("save/run.csv") : saveFile;
        c.eventLogFile = dir.filePath("events/log.csv");
        return c;
    }

    // Runs the engine; every 5 ms of the loop `during` is asked, and the run is stopped when
    // it says so (true returned) or after timeoutMs (false).
    bool runUntil(const RunConfig& c, const std::function<bool()>& during, int timeoutMs = 15000) {
        bool asked = false;
        QElapsedTimer clock;
        clock.start();
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (engine.stopRequested() || engine.passCount() == 0) return;
            asked = during();
            if (asked || clock.elapsed() > timeoutMs) engine.stop();
        });
        timer.start();
        engine.run(c);
        EXPECT_FALSE(engine.running());
        return asked;
    }

    QTemporaryDir dir;
    sim::SimHost host;
    monitor::TagStore store;
    Events events;
    monitor::MonitorEngine engine{store, events};
};

} // namespace kelta::test
