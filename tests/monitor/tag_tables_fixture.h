#pragma once
// The real window with its tag tables, a clock the test moves by hand, and files in a private
// folder.

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "reader/link_state.h"
#include "reader/reader_link.h"

#include <QDateTime>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace tagtest {

using kelta::monitor::DecodedTagRecord;
using kelta::monitor::DecodeMode;

inline DecodedTagRecord Rec(const std::string& uid, const std::string& rssi = "50",
                            const std::string& packet = "10100101") {
    DecodedTagRecord r;
    r.readerId = "0007";
    r.uid = uid;
    r.rssi = rssi;
    r.lqi = "60";
    r.tagVer = "30";
    r.packet = packet;
    r.model = "33";
    r.keyNo = "12";
    r.group = "254";
    r.sState = "10000001";
    r.battery = "99";
    r.isnH = "60";
    r.isnL = "195";
    r.d1h = "1234";
    r.d1l = "18";
    r.d2h = "ABCD";
    r.d2l = "52";
    return r;
}

inline DecodedTagRecord LogRec(const std::string& uid, const std::string& index) {
    DecodedTagRecord r = Rec(uid);
    r.index = index;
    r.logDateTime = "2024/03/05 07:08:09";
    r.gps = "E121.30.15.25";
    r.logStatus = "New TAG Entry";
    return r;
}

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

class TagTablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<kelta::TfrmModule>();
        // This test builds its own subsystem on the window: drop the window's own first.
        window->runController.reset();
        window->tagTables.reset();
        window->readerLink.reset();
        tables = std::make_unique<kelta::monitor::TagTables>(*window, link);
        tables->setClock([this] { return now; });
        w().edtEvenLogFile->setText(path("events/log.csv"));
        w().edtSaveFile->setText(path("save/Kelta.csv"));
        tables->setCurrentTagGrid(w().grdUID);
    }
    void TearDown() override {
        tables.reset();
        window.reset();
    }

    kelta::TfrmModule& w() { return *window; }
    QString path(const QString& rel) const { return dir.filePath(rel); }
    void select(const QString& uid) { w().lvSel->addItem(uid); }
    // The record posted and shown (the lists and fields follow the grid on a timer).
    void post(const DecodedTagRecord& r, DecodeMode m = DecodeMode::Live) {
        tables->PostTagRecord(r, m);
        tables->flushViews();
    }
    // Row of `uid` in column 1 of the selection grid, -1 when absent.
    int selRow(const QString& uid) {
        for (int r = 1; r < w().grdSel->rowCount(); ++r)
            if (w().grdSel->cell(1, r) == uid) return r;
        return -1;
    }

    QTemporaryDir dir;
    QDateTime now{QDate(2025, 1, 2), QTime(3, 4, 5, 600)};
    kelta::reader::LinkState link;
    std::unique_ptr<kelta::TfrmModule> window;
    std::unique_ptr<kelta::monitor::TagTables> tables;
};

} // namespace tagtest
