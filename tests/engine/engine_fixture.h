#pragma once

// What the engine tests share: a private folder, the simulator host, a tag store and an engine
// reporting to the test's own recorder of events, and a run that is stopped on a condition.

#include "monitor/monitor_engine.h"
#include "monitor/tag_store.h"
#include "reader-sim/sim_host.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace kelta::test {

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

    // Starts a run as a program without a window does and lets the event loop run until
    // `during` says so (true returned; it is asked only once the run receives) or timeoutMs
    // have passed (false); the run is stopped then.
    bool runUntil(const RunConfig& c, const std::function<bool()>& during, int timeoutMs = 15000) {
        bool asked = false;
        engine.prepareStore(c);
        if (engine.start(c)) {
            waitFor(
                [&] {
                    if (!engine.receiving() || engine.passCount() == 0) return !engine.running();
                    asked = during();
                    return asked;
                },
                timeoutMs);
            engine.stop();
        }
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
