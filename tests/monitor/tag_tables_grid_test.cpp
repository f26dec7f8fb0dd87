// Posting records into the tag grids and lists, "Clear", the selection by double-click and
// the grid clicks, on the real window.
#include "../proto_decode/frames.h"
#include "monitor/proto/monitor_frame.h"
#include "tag_tables_fixture.h"

#include <QComboBox>

using namespace tagtest;
using kelta::StringGrid;

namespace {

TEST_F(TagTablesTest, SecondReportOfAUidRaisesCountAndOverwritesTheFields) {
    post(Rec("00000000000000AA", "50"));
    post(Rec("00000000000000BB", "51"));
    DecodedTagRecord again = Rec("00000000000000AA", "77");
    again.readerId = "0009";
    again.d2l = "99";
    post(again);

    StringGrid* g = w().grdUID;
    ASSERT_EQ(g->rowCount(), 3);
    EXPECT_EQ(g->cell(0, 1), "1");
    EXPECT_EQ(g->cell(1, 1), "00000000000000AA");
    EXPECT_EQ(g->cell(18, 1), "2");
    EXPECT_EQ(g->cell(2, 1), "77");
    EXPECT_EQ(g->cell(16, 1), "99");
    EXPECT_EQ(g->cell(17, 1), "0009");
    EXPECT_EQ(g->cell(0, 2), "2");
    EXPECT_EQ(g->cell(18, 2), "1");
    EXPECT_EQ(g->currentRow(), 1);
    EXPECT_EQ(w().lvTag->count(), 2);
    EXPECT_EQ(tables->acceptedRecordCount(), 3u);
    EXPECT_EQ(w().edtTagID->text(), "00000000000000AA");
    // The reader last heard is the one the reader commands address.
    EXPECT_TRUE(w().cbxTxID_00->isChecked());
    EXPECT_TRUE(w().cbxTxID_01->isChecked());
    EXPECT_EQ(w().edtTxID_00->text(), "0009");
    EXPECT_EQ(w().edtTxID_02->text(), "0009");
}

TEST_F(TagTablesTest, CountThatIsNotANumberStartsAgainFromZero) {
    post(Rec("00000000000000AA"));
    w().grdUID->setCell(18, 1, "x");
    post(Rec("00000000000000AA"));
    EXPECT_EQ(w().grdUID->cell(18, 1), "1");
}

TEST_F(TagTablesTest, RowsAddedOutsideTheTablesAreFoundByTheirUid) {
    // The selection file at startup appends rows straight into the grid.
    StringGrid* g = w().grdUID;
    const int r = g->appendRow();
    g->setCell(0, r, "1");
    g->setCell(1, r, "00000000000000CC");
    post(Rec("00000000000000CC"));
    EXPECT_EQ(g->rowCount(), 2);
    EXPECT_EQ(g->cell(18, 1), "1");
    // A UID rewritten behind the tables is not matched by its old text.
    g->setCell(1, 1, "00000000000000DD");
    post(Rec("00000000000000CC"));
    EXPECT_EQ(g->rowCount(), 3);
    post(Rec("00000000000000DD"));
    EXPECT_EQ(g->rowCount(), 3);
    EXPECT_EQ(g->cell(18, 1), "2");
}

TEST_F(TagTablesTest, LogModeGivesEveryRecordItsOwnRowAndListItem) {
    tables->setCurrentTagGrid(w().grdUID_LOG);
    post(LogRec("00000000000000AA", "5"), DecodeMode::Log);
    post(LogRec("00000000000000AA", "6"), DecodeMode::Log);

    StringGrid* g = w().grdUID_LOG;
    ASSERT_EQ(g->rowCount(), 3);
    EXPECT_EQ(g->cell(1, 1), "00000000000000AA");
    EXPECT_EQ(g->cell(1, 2), "00000000000000AA");
    EXPECT_EQ(g->cell(18, 1), "5");
    EXPECT_EQ(g->cell(18, 2), "6");
    EXPECT_EQ(g->cell(19, 2), "2024/03/05 07:08:09");
    EXPECT_EQ(g->cell(20, 2), "E121.30.15.25");
    EXPECT_EQ(g->cell(21, 2), "New TAG Entry");
    EXPECT_EQ(w().lvTag->count(), 2);
    EXPECT_EQ(w().grdUID->rowCount(), 1);
}

TEST_F(TagTablesTest, NoGridNoPosting) {
    tables->setCurrentTagGrid(nullptr);
    EXPECT_FALSE(tables->hasCurrentTagGrid());
    post(Rec("00000000000000AA"));
    EXPECT_EQ(tables->acceptedRecordCount(), 0u);
    EXPECT_EQ(w().lvTag->count(), 0);
}

TEST_F(TagTablesTest, FramesFromTheDecoderLandInTheGrid) {
    using namespace testframes;
    Tag a;
    a.uid = 0x1122334455667788ULL;
    Tag b;
    b.uid = 0x0A0B0C0D0E0F1011ULL;
    b.gps = Gps{};
    const Bytes block = Concat({LiveFrame(a), LiveFrame(b), LiveFrame(a)});
    CollectingSink seen;
    ASSERT_TRUE(kelta::monitor::SplitReportBlock(DecodeMode::Live, kelta::monitor::LinkKind::Serial,
                                                 "COM1", block, seen));
    ASSERT_EQ(seen.records.size(), 3u);
    ASSERT_TRUE(kelta::monitor::SplitReportBlock(DecodeMode::Live, kelta::monitor::LinkKind::Serial,
                                                 "COM1", block, *tables));
    StringGrid* g = w().grdUID;
    ASSERT_EQ(g->rowCount(), 3);
    EXPECT_EQ(g->cell(1, 1), "1122334455667788");
    EXPECT_EQ(g->cell(18, 1), "2");
    EXPECT_EQ(g->cell(1, 2), "0A0B0C0D0E0F1011");
    EXPECT_EQ(g->cell(5, 2).toStdString(), seen.records[1].packet);
    EXPECT_EQ(g->cell(13, 2).toStdString(), seen.records[1].d1h);
    EXPECT_EQ(g->cell(17, 2).toStdString(), seen.records[1].readerId);
    EXPECT_EQ(g->cell(19, 2).toStdString(), seen.records[1].gps);
    EXPECT_FALSE(g->cell(19, 2).isEmpty());
    tables->flushViews(); // the list follows the grid on a timer
    EXPECT_EQ(w().lvTag->count(), 2);
}

TEST_F(TagTablesTest, ClearEmptiesTheGridsAndRebuildsTheSelectionGridFromTheList) {
    select("00000000000000BB");
    select("00000000000000AA");
    post(Rec("00000000000000AA"));
    tables->setCurrentTagGrid(w().grdUID_LOG);
    post(LogRec("00000000000000AA", "1"), DecodeMode::Log);
    w().grdUID->setColCount(5);
    ASSERT_GT(tables->acceptedRecordCount(), 0u);

    tables->btnClearClick();

    EXPECT_EQ(w().grdUID->rowCount(), 1);
    EXPECT_EQ(w().grdUID->colCount(), 20);
    EXPECT_EQ(w().grdUID->cell(19, 0), "GPS");
    EXPECT_EQ(w().grdUID_LOG->rowCount(), 1);
    EXPECT_EQ(w().grdUID_LOG->colCount(), 22);
    EXPECT_EQ(w().grdUID_LOG->cell(21, 0), "LOGStatus");
    EXPECT_EQ(w().lvTag->count(), 0);
    EXPECT_EQ(tables->acceptedRecordCount(), 0u);
    EXPECT_EQ(w().edtTagID->text(), "0000000000000000");
    EXPECT_EQ(w().pnlTagCount->text(), "0");

    StringGrid* s = w().grdSel;
    EXPECT_EQ(s->colCount(), 21);
    EXPECT_EQ(s->cell(20, 0), "MilliSecBetween");
    ASSERT_EQ(s->rowCount(), 3);
    // lvSel is sorted by caption: its list order is AA, BB.
    const QStringList expected[] = {
        {"1", "00000000000000AA", "0", "0"},
        {"2", "00000000000000BB", "0", "0"},
    };
    for (int r = 1; r <= 2; ++r) {
        EXPECT_EQ(s->cell(0, r), expected[r - 1][0]);
        EXPECT_EQ(s->cell(1, r), expected[r - 1][1]);
        EXPECT_EQ(s->cell(2, r), "0");
        EXPECT_EQ(s->cell(3, r), "0");
        EXPECT_EQ(s->cell(18, r), "0");
        EXPECT_EQ(s->cell(19, r), "2025/01/02 03:04:05");
        EXPECT_EQ(s->cell(20, r), "0");
        EXPECT_EQ(s->cell(5, r), "");
        EXPECT_EQ(tables->lastSeen(r), now);
    }
    // After Clear the same UID gets a fresh first row.
    tables->setCurrentTagGrid(w().grdUID);
    post(Rec("00000000000000BB"));
    EXPECT_EQ(w().grdUID->cell(1, 1), "00000000000000BB");
    EXPECT_EQ(w().grdUID->cell(18, 1), "1");
}

TEST_F(TagTablesTest, ClearNormalisesTheTagTimeout) {
    const std::pair<QString, QString> cases[] = {
        {"0", "1"}, {"abc", "1"},         {"", "1"}, {"-4", "1"}, {"1", "1"},
        {"7", "7"}, {"99999999999", "1"},
    };
    for (const auto& [in, out] : cases) {
        w().edtTagTimeout->setText(in);
        tables->btnClearClick();
        EXPECT_EQ(w().edtTagTimeout->text(), out) << in.toStdString();
        EXPECT_EQ(kelta::tagOf(w().edtTagTimeout), out.toInt()) << in.toStdString();
    }
}

TEST_F(TagTablesTest, SelectionTrackingFromClearThroughAbsenceAndReturn) {
    select("00000000000000AA");
    tables->btnClearClick(); // now = 03:04:05.600
    const int s = selRow("00000000000000AA");
    ASSERT_EQ(s, 1);

    // First report of the run: no event line; the interval counts from Clear.
    now = now.addMSecs(1250);
    post(Rec("00000000000000AA", "41"));
    StringGrid* g = w().grdSel;
    EXPECT_EQ(g->cell(18, s), "1");
    EXPECT_EQ(g->cell(20, s), "1250");
    EXPECT_EQ(g->cell(2, s), "41");
    EXPECT_EQ(g->cell(13, s), "1234");
    EXPECT_EQ(g->cell(17, s), "0007");
    // The time column is stamped half a second ahead: 03:04:06.850 + 0.5 s.
    EXPECT_EQ(g->cell(19, s), "2025/01/02 03:04:07");
    EXPECT_EQ(ReadAll(path("events/log.csv")), QByteArray());

    // Silent for 1000 ms: not yet absent with a time-out of 1 s; 1001 ms is.
    w().edtTagTimeout->setText("0");
    now = now.addMSecs(1000);
    tables->absenceSweep();
    EXPECT_EQ(g->cell(20, s), "1250");
    now = now.addMSecs(1);
    tables->absenceSweep();
    EXPECT_EQ(g->cell(20, s), "");
    tables->absenceSweep(); // written once only
    const QByteArray absent =
        "00000000000000AA,41,60,2025/01/02,03:04:06,2025/01/02,03:04:07,>1001\n";
    EXPECT_EQ(ReadAll(path("events/log.csv")), absent);

    // Back after 62.5 s in all: one return line, then the interval again.
    now = now.addMSecs(61499);
    post(Rec("00000000000000AA", "45"));
    EXPECT_EQ(g->cell(18, s), "2");
    EXPECT_EQ(g->cell(20, s), "62500");
    EXPECT_EQ(g->cell(2, s), "45");
    EXPECT_EQ(ReadAll(path("events/log.csv")),
              absent + "00000000000000AA,45,60,2025/01/02,03:04:06,2025/01/02,03:05:09,62500\n");
    EXPECT_EQ(tables->lastSeen(s), now);
}

TEST_F(TagTablesTest, TagSelectedDuringTheRunGetsARowOnItsFirstReport) {
    select("00000000000000AA");
    tables->btnClearClick();
    post(Rec("00000000000000CC")); // not selected: no row
    EXPECT_EQ(w().grdSel->rowCount(), 2);
    select("00000000000000CC");
    post(Rec("00000000000000CC"));
    const int s = selRow("00000000000000CC");
    ASSERT_EQ(s, 2);
    EXPECT_EQ(w().grdSel->cell(0, s), "2");
    EXPECT_EQ(w().grdSel->cell(18, s), "1");
    EXPECT_EQ(w().grdSel->cell(20, s), "0");
    EXPECT_EQ(w().grdSel->currentRow(), s);
    EXPECT_EQ(tables->lastSeen(s), now);
}

TEST_F(TagTablesTest, SelectionTableGrowsPastAThousandTags) {
    for (int i = 0; i < 1200; ++i)
        select(QStringLiteral("%1").arg(i, 16, 16, QLatin1Char('0')).toUpper());
    tables->btnClearClick();
    ASSERT_EQ(w().grdSel->rowCount(), 1201);
    now = now.addMSecs(300);
    post(Rec("00000000000004AF")); // 1199, the last row
    const int s = selRow("00000000000004AF");
    ASSERT_EQ(s, 1200);
    EXPECT_EQ(w().grdSel->cell(20, s), "300");
    EXPECT_EQ(tables->lastSeen(s), now);
}

TEST_F(TagTablesTest, DoubleClicksMoveTagsIntoAndOutOfTheSelection) {
    post(Rec("00000000000000BB"));
    post(Rec("00000000000000AA"));
    w().lvTag->setCurrentRow(1); // sorted: AA, BB
    tables->lvTagDblClick();
    tables->lvTagDblClick(); // already selected: no second item
    ASSERT_EQ(w().lvSel->count(), 1);
    EXPECT_EQ(w().lvSel->item(0)->text(), "00000000000000BB");
    EXPECT_TRUE(w().lvSel->item(0)->isSelected());

    w().lvTag->clearSelection();
    tables->lvTagDblClick(); // nothing selected in lvTag: nothing happens
    EXPECT_EQ(w().lvSel->count(), 1);

    // Tracking sees the list as it is now.
    tables->btnClearClick();
    post(Rec("00000000000000BB"));
    EXPECT_EQ(w().grdSel->cell(18, 1), "1");
    w().lvSel->setCurrentRow(0);
    tables->lvSelDblClick();
    EXPECT_EQ(w().lvSel->count(), 0);
    EXPECT_TRUE(w().lvSel->isEnabled());
    EXPECT_EQ(w().grdSel->rowCount(), 2); // the row stays until the next Clear
    post(Rec("00000000000000BB"));
    EXPECT_EQ(w().grdSel->cell(18, 1), "1");
}

TEST_F(TagTablesTest, GridDoubleClickChoosesTheIdentityModeFromPacketBitZero) {
    post(Rec("00000000000000AA", "50", "10100100"));
    post(Rec("00000000000000BB", "50", "10100101"));
    StringGrid* g = w().grdUID;

    g->setCurrentRow(1);
    tables->grdUIDDblClick(g);
    EXPECT_EQ(w().cmbSelectIdmode->currentIndex(), 1);
    EXPECT_EQ(w().cmbSelectIdmode->currentText(), "CID Mode");
    EXPECT_EQ(w().edTagID->text(), "00000000000000AA");
    EXPECT_EQ(w().edtTagID->text(), "00000000000000AA");
    EXPECT_EQ(w().pcMain->activePage(), w().tsSetTAG);

    w().pcMain->setActivePage(w().tsReadTag);
    g->setCurrentRow(2);
    tables->grdUIDDblClick(g);
    EXPECT_EQ(w().cmbSelectIdmode->currentIndex(), 0);
    EXPECT_EQ(w().cmbSelectIdmode->currentText(), "UID Mode");
    EXPECT_EQ(w().edTagID->text(), "00000000000000BB");
    EXPECT_EQ(w().pcMain->activePage(), w().tsSetTAG);
}

TEST_F(TagTablesTest, GridClicksNeedADataRow) {
    w().pcMain->setActivePage(w().tsReadTag);
    tables->grdUIDDblClick(w().grdUID); // header only
    EXPECT_EQ(w().pcMain->activePage(), w().tsReadTag);
    tables->grdUIDClick(w().grdUID);
    EXPECT_EQ(w().edtTagID->text(), "0000000000000000");

    post(Rec("00000000000000AA"));
    post(Rec("00000000000000BB"));
    w().grdUID->setCurrentRow(1);
    tables->grdUIDClick(w().grdUID);
    EXPECT_EQ(w().edtTagID->text(), "00000000000000AA");

    tables->setCurrentTagGrid(w().grdUID_LOG);
    post(LogRec("00000000000000CC", "1"), DecodeMode::Log);
    w().edtTagID->clear();
    tables->grdUID_LOGClick();
    EXPECT_EQ(w().edtTagID->text(), "00000000000000CC");
}

TEST_F(TagTablesTest, LinkPageChoosesLinkModeAndTheConfigurationLinkPage) {
    struct Case {
        kelta::TabSheet* page;
        int mode;
        kelta::TabSheet* linkPage;
    };
    const Case cases[] = {{w().tsNetServer, 2, w().tsTcpClient},
                          {w().tsNET, 0, w().tsTcpServer},
                          {w().tsCOM, 1, w().tsComPort}};
    for (const Case& c : cases) {
        w().pcTagMain->setActivePage(c.page);
        tables->pcTagMainChange();
        EXPECT_EQ(link.linkMode, c.mode);
        EXPECT_EQ(w().pcSetReadMain->activePage(), c.linkPage);
    }
}

TEST_F(TagTablesTest, RssiFilterSendsTheThresholdAsDataByteFourteen) {
    w().sbRSSI->setValue(200);
    EXPECT_EQ(w().pnRSSI->text(), "200");

    std::vector<std::vector<std::uint8_t>> frames;
    tables->setSendMonitorCommand([&](std::uint16_t flags, std::uint16_t code, int readerId,
                                      std::span<const std::uint8_t> d) {
        auto f = kelta::monitor::BuildMonitorCommand(flags, code, readerId, d);
        if (f) frames.push_back(*f);
        return f.has_value();
    });
    tables->btnRSSIClick();
    ASSERT_EQ(frames.size(), 1u);
    const std::vector<std::uint8_t> expected = {
        0x05, 0x00, 0x24, 0x00, 0x00, 0x60, 0x30, 0xFF, 0xFF, 0x01, 0x11, 0x01, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(frames[0], expected);
    EXPECT_EQ(frames[0], kelta::monitor::rssiFilterCommand(200));
    EXPECT_TRUE(w().gboxRSSI->isEnabled());
}

TEST_F(TagTablesTest, EdNoKeysEmptyTheSelectionGrid) {
    select("00000000000000AA");
    tables->btnClearClick();
    ASSERT_EQ(w().grdSel->rowCount(), 2);
    w().edNo->setText("x7");
    tables->edNoKeyUp();
    EXPECT_EQ(w().edNo->text(), "1");
    EXPECT_EQ(w().grdSel->rowCount(), 1);
    EXPECT_EQ(w().pnlTagCount->text(), "0");
    // The next report of the selected tag starts a fresh row.
    post(Rec("00000000000000AA"));
    ASSERT_EQ(w().grdSel->rowCount(), 2);
    EXPECT_EQ(w().grdSel->cell(18, 1), "1");
}

} // namespace
