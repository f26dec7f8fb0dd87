// The window as the program builds it: its own reader link, tag tables and run controller,
// driven only through its controls, with simulated readers on pseudo-terminals.

#include "app/frmmodule.h"
#include "platform/wait_pump.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "reader-sim/sim_host.h"
#include "reader/reader_link.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

using kelta::sim::ReaderConfig;
using kelta::sim::SimHost;

class WiredWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QFile::remove(kelta::test::settingsFilePath()); // a first start: nothing stored
        window = std::make_unique<kelta::TfrmModule>();
        w().show(); // the first showing restores the (empty) settings and sets the pages
        QCoreApplication::processEvents();
        w().edtEvenLogFile->setText(dir.filePath("log.csv"));
        w().edtSaveFile->setText(dir.filePath("Kelta.csv"));
    }
    void TearDown() override {
        window.reset();
        host.stop();
        kelta::setProgramClosing(false);
    }
    kelta::TfrmModule& w() { return *window; }

    // Clicks Start on the COM page and stops the run once `enough` holds (or after 15 s).
    void runUntil(const std::function<bool()>& enough) {
        QElapsedTimer clock;
        clock.start();
        QTimer timer;
        bool stopped = false;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (stopped || w().runController->runState() != "Stop" || !w().btnStart->isEnabled())
                return;
            if (!enough() && clock.elapsed() < 15000) return;
            stopped = true;
            w().btnStart->click();
        });
        timer.start(5);
        w().btnStart->click(); // returns at once; the run goes on in the event loop
        EXPECT_TRUE(kelta::test::waitFor([&] { return !w().runController->runActive(); }));
    }

    QTemporaryDir dir;
    SimHost host;
    std::unique_ptr<kelta::TfrmModule> window;
};

TEST_F(WiredWindow, SubsystemsShareOneLinkState) {
    ASSERT_TRUE(w().readerLink && w().tagTables && w().runController);
    // The link page chosen on Read TAG is the link mode the reader link uses.
    w().pcTagMain->setActivePage(w().tsNetServer);
    emit w().pcTagMain->pageChanged(); // as a click on the tab does
    EXPECT_EQ(w().readerLink->state().linkMode, 2);
    EXPECT_EQ(w().pcSetReadMain->activePage(), w().tsTcpClient);
}

TEST_F(WiredWindow, StartOnComShowsTagsThenReaderCommandOnTheSamePort) {
    ReaderConfig c;
    c.readerId = 3;
    c.rate = 50;
    c.tags.count = 4;
    const int r = host.addReader(c);
    ASSERT_TRUE(host.openPty(r, 4));
    w().pcTagMain->setActivePage(w().tsCOM);
    w().chkCOM04->setChecked(true);

    runUntil([&] { return w().grdUID->rowCount() - 1 >= 4; });
    EXPECT_EQ(w().runController->runState(), "Start");
    EXPECT_EQ(w().grdUID->rowCount() - 1, 4);
    EXPECT_EQ(w().grdUID->cell(17, 1), "0003");
    // The last reader heard is offered to the reader commands.
    EXPECT_EQ(w().edtTxID_00->text(), "0003");
    EXPECT_TRUE(w().btnStart->isEnabled());

    // After the run the same port serves one reader command from the Set Reader page.
    w().pcMain->setActivePage(w().tsSetReader);
    w().pcSetReadMain->setActivePage(w().tsComPort);
    w().cbxCom->addItem("COM4");
    w().cbxCom->setCurrentText("COM4");
    const std::uint8_t none = 0;
    EXPECT_TRUE(w().readerLink->ExecReaderCommand(true, 0x0003, 0, &none));
    EXPECT_EQ(w().pnMsg->text(), "Command Ok.");
}

TEST_F(WiredWindow, ClosingDuringARunEndsTheRunAndWritesTheSelection) {
    ReaderConfig c;
    c.readerId = 1;
    c.rate = 20;
    const int r = host.addReader(c);
    ASSERT_TRUE(host.openPty(r, 6));
    w().pcTagMain->setActivePage(w().tsCOM);
    w().chkCOM06->setChecked(true);
    w().lvSel->addItem("0000000000000ABC");

    w().btnStart->click(); // returns at once
    EXPECT_TRUE(w().runController->runActive());
    ASSERT_TRUE(kelta::test::waitFor([&] { return w().runController->passCount() > 0; }));
    // The close ends the run with its end steps before the window goes.
    w().close();
    EXPECT_FALSE(w().runController->runActive());
    EXPECT_FALSE(w().isVisible());
    EXPECT_FALSE(w().runController->serialLinks().isOpen(6));
    EXPECT_TRUE(QFile::exists(kelta::monitor::TagTables::selectionFilePath()));
}

} // namespace
