#pragma once
// Monitoring runs over TCP driven from the real window, with simulated readers on loopback
// addresses 127.0.0.x.

#include "app/frmmodule.h"
#include "monitor/network_links.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "reader-sim/sim_host.h"
#include "reader/link_state.h"
#include "reader/reader_link.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace nettest {

using kelta::monitor::NetworkLinks;
using kelta::monitor::RunController;
using kelta::monitor::TagTables;
using kelta::sim::ReaderConfig;
using kelta::sim::ReaderSim;
using kelta::sim::SimHost;
using Bytes = std::vector<std::uint8_t>;

inline QString loopback(int n) {
    return QStringLiteral("127.0.0.%1").arg(n);
}

using kelta::test::freePort;

inline std::vector<Bytes> framesWithCode(ReaderSim& r, std::uint16_t code) {
    std::vector<Bytes> out;
    for (const auto& f : r.received())
        if (f.code == code) out.push_back(f.raw);
    return out;
}

class NetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<kelta::TfrmModule>();
        // The window's own subsystems: the configuration link, the tag tables, the run.
        tables = window->tagTables.get();
        ctl = window->runController.get();
        ASSERT_TRUE(tables && ctl && window->readerLink);
        w().edtEvenLogFile->setText(dir.filePath("events/log.csv"));
        w().edtSaveFile->setText(dir.filePath("save/Kelta.csv"));
        QFile::remove(TagTables::selectionFilePath());
        kelta::test::setTimeScale(0.05); // 10 s connect wait 0.5 s, 15 s watchdog 0.75 s
    }
    void TearDown() override {
        ctl = nullptr;
        tables = nullptr;
        window.reset();
        host.stop();
        kelta::test::setTimeScale(1.0);
    }

    kelta::TfrmModule& w() { return *window; }
    NetworkLinks& net() { return ctl->networkLinks(); }
    kelta::reader::LinkState& link() { return window->readerLink->state(); }

    ReaderConfig readerConfig(std::uint16_t id, double rate, int tagCount = 3) {
        ReaderConfig c;
        c.readerId = id;
        c.rate = rate;
        c.seed = id;
        c.tags.count = tagCount;
        return c;
    }

    // A reader listening on 127.0.0.row:port, on address row `row` with its box checked.
    int addListeningReader(int row, quint16 port, const ReaderConfig& c) {
        const int i = host.addReader(c);
        EXPECT_EQ(host.listenTcp(i, port, loopback(row)), port) << row;
        ctl->chkIP(row)->setChecked(true);
        ctl->edIP(row)->setText(loopback(row));
        w().edtTcpRemotePort->setText(QString::number(port));
        return i;
    }

    struct RunResult {
        bool stopAsked = false;
        qint64 firstPassMs = -1; // from the click to the first status of the run
    };

    // Clicks Start on the active link page; every 5 ms of the run, `during` is asked and the
    // run is stopped (Stop clicked) when it says so or after timeoutMs.
    RunResult run(const std::function<bool()>& during, int timeoutMs = 20000) {
        RunResult result;
        bool done = false;
        QElapsedTimer clock;
        clock.start();
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (done || ctl->runState() != "Stop" || !w().btnStart->isEnabled()) return;
            if (result.firstPassMs < 0 && ctl->passCount() > 0)
                result.firstPassMs = clock.elapsed();
            if (ctl->passCount() == 0) return;
            const bool asked = during();
            if (!asked && clock.elapsed() < timeoutMs) return;
            done = true;
            result.stopAsked = asked;
            w().btnStart->click();
        });
        timer.start();
        // Start returns at once; the run goes on in the event loop until Stop.
        w().btnStart->click();
        EXPECT_TRUE(kelta::test::waitFor([&] { return !ctl->runActive(); }));
        return result;
    }

    // UID -> count of the tag grid.
    std::map<std::string, quint64> gridCounts() {
        std::map<std::string, quint64> out;
        for (int r = 1; r < w().grdUID->rowCount(); ++r)
            out[w().grdUID->cell(1, r).toStdString()] = w().grdUID->cell(18, r).toULongLong();
        return out;
    }
    QSet<QString> gridReaders() {
        QSet<QString> out;
        for (int r = 1; r < w().grdUID->rowCount(); ++r) out.insert(w().grdUID->cell(17, r));
        return out;
    }

    QTemporaryDir dir;
    SimHost host;
    std::unique_ptr<kelta::TfrmModule> window;
    TagTables* tables = nullptr;
    RunController* ctl = nullptr;
};

} // namespace nettest
