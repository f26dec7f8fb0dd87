// The control kit: string grid refresh and storage, page control, captions, memo.
#include "app/controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace kelta;

namespace {

int viewRows(const StringGrid& g) {
    return g.model()->rowCount();
}

TEST(StringGrid, HeaderRowIsTheHorizontalHeaderAndDataRowsStartAtOne) {
    StringGrid g;
    g.setColCount(3);
    g.setCell(0, 0, "No.");
    g.setCell(2, 0, "Count");
    EXPECT_EQ(g.rowCount(), 1);
    EXPECT_EQ(g.appendRow(), 1);
    EXPECT_EQ(g.appendRow(), 2);
    g.setCell(2, 2, "7");
    g.flush();
    ASSERT_EQ(viewRows(g), 2);
    EXPECT_EQ(g.model()->headerData(0, Qt::Horizontal).toString(), "No.");
    EXPECT_EQ(g.model()->headerData(2, Qt::Horizontal).toString(), "Count");
    EXPECT_EQ(g.model()->index(1, 2).data().toString(), "7");
    EXPECT_EQ(g.cell(2, 2), "7");
    EXPECT_EQ(g.cell(2, 1), "");
}

TEST(StringGrid, OutOfRangeCellsReadEmptyAndWritesAreIgnored) {
    StringGrid g;
    g.setColCount(2);
    g.appendRow();
    g.setCell(5, 1, "x");
    g.setCell(0, 9, "x");
    g.setCell(-1, 1, "x");
    EXPECT_EQ(g.rowCount(), 2);
    EXPECT_EQ(g.colCount(), 2);
    EXPECT_EQ(g.cell(5, 1), "");
    EXPECT_EQ(g.cell(0, 9), "");
    EXPECT_EQ(g.cell(0, -1), "");
}

TEST(StringGrid, GrowthAndCellChangesReachTheViewInOneSignalEach) {
    StringGrid g;
    g.setColCount(4);
    g.appendRow();
    g.flush();
    QSignalSpy inserted(g.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(g.model(), &QAbstractItemModel::dataChanged);
    for (int i = 0; i < 50; ++i) {
        const int r = g.appendRow();
        g.setCell(1, r, QString::number(i));
    }
    g.setCell(3, 1, "a");
    g.setCell(0, 1, "b");
    EXPECT_EQ(g.rowCount(), 52); // the model has them at once
    EXPECT_EQ(viewRows(g), 1);   // the view not yet
    EXPECT_EQ(inserted.count(), 0);
    g.flush();
    EXPECT_EQ(viewRows(g), 51);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 50);
    ASSERT_EQ(changed.count(), 1); // the two changes of row 1, none for the new rows
    const auto tl = changed[0][0].value<QModelIndex>();
    const auto br = changed[0][1].value<QModelIndex>();
    EXPECT_EQ(tl.row(), 0);
    EXPECT_EQ(br.row(), 0);
    EXPECT_EQ(tl.column(), 0);
    EXPECT_EQ(br.column(), 3);
    g.flush(); // nothing pending: no further signal
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(changed.count(), 1);
}

TEST(StringGrid, RefreshTimerPublishesWithoutAnExplicitFlush) {
    StringGrid g;
    g.setColCount(2);
    for (int i = 0; i < 3; ++i) g.appendRow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewRows(g) == 3; }, 2000));
    g.setCell(1, 2, "late");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return g.model()->index(1, 1).data().toString() == "late"; }, 2000));
}

TEST(StringGrid, ShrinkIsImmediateAndRowsAddedLaterStartEmpty) {
    StringGrid g;
    g.setColCount(3);
    for (int i = 1; i <= 5; ++i) {
        g.appendRow();
        g.setCell(1, i, QString("uid%1").arg(i));
    }
    g.flush();
    g.setCell(2, 5, "pending"); // a change in a row that is about to go
    QSignalSpy changed(g.model(), &QAbstractItemModel::dataChanged);
    g.setRowCount(2);
    EXPECT_EQ(g.rowCount(), 2);
    EXPECT_EQ(viewRows(g), 1);
    g.flush();
    EXPECT_EQ(changed.count(), 0); // the dropped row's change is not published
    EXPECT_EQ(g.appendRow(), 2);
    EXPECT_EQ(g.cell(1, 2), "");
    EXPECT_EQ(g.cell(2, 2), "");
    EXPECT_EQ(g.cell(1, 1), "uid1");

    // Shrinking below rows that were never published: nothing is inserted afterwards.
    for (int i = 0; i < 4; ++i) g.appendRow();
    QSignalSpy inserted(g.model(), &QAbstractItemModel::rowsInserted);
    g.setRowCount(1);
    g.flush();
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(viewRows(g), 0);
    EXPECT_EQ(g.rowCount(), 1);
    g.setRowCount(0); // the header row always stays
    EXPECT_EQ(g.rowCount(), 1);
}

TEST(StringGrid, ColumnWidthsSurviveColumnCountChanges) {
    StringGrid g;
    g.setDefaultColWidth(60);
    g.setColCount(3);
    g.setColWidth(1, 118);
    g.setColCount(5);
    EXPECT_EQ(g.colWidth(1), 118);
    EXPECT_EQ(g.colWidth(4), 60);
    g.setColCount(2);
    EXPECT_EQ(g.colWidth(1), 118);
    EXPECT_EQ(g.colWidth(2), 0);
    EXPECT_EQ(g.model()->columnCount(), 2);
}

TEST(StringGrid, CurrentRowSetBeforePublishingIsSelectedAtFlush) {
    StringGrid g;
    g.setColCount(2);
    for (int i = 0; i < 4; ++i) g.appendRow();
    g.setCurrentRow(3);
    EXPECT_EQ(g.currentRow(), 3);
    g.flush();
    EXPECT_EQ(g.selectionModel()->currentIndex().row(), 2);
    ASSERT_EQ(g.selectionModel()->selectedRows().size(), 1);
    EXPECT_EQ(g.selectionModel()->selectedRows()[0].row(), 2);
    g.setCurrentRow(9); // beyond the last row: unchanged
    EXPECT_EQ(g.currentRow(), 3);
    g.setRowCount(2); // the current row went away
    EXPECT_LE(g.currentRow(), 1);
}

TEST(StringGrid, TenThousandRowsInOneRefresh) {
    StringGrid g;
    g.setColCount(20);
    g.resize(800, 400);
    g.show();
    QSignalSpy inserted(g.model(), &QAbstractItemModel::rowsInserted);
    for (int i = 1; i <= 10000; ++i) {
        const int r = g.appendRow();
        g.setCell(0, r, QString::number(r));
        g.setCell(1, r, QString("%1").arg(i, 16, 16, QLatin1Char('0')).toUpper());
    }
    g.flush();
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(viewRows(g), 10000);
    EXPECT_EQ(g.cell(1, 10000), QString("%1").arg(10000, 16, 16, QLatin1Char('0')).toUpper());
    EXPECT_EQ(g.model()->index(9999, 0).data().toString(), "10000");
    g.setRowCount(1);
    EXPECT_EQ(viewRows(g), 0);
}

TEST(Captions, ButtonsLabelsGroupsAndSheetsCarryACaption) {
    QPushButton b("Start");
    QCheckBox cb("Beep");
    Panel p("0");
    QGroupBox gb("RSSI Filter:");
    QWidget plain;
    PageControl pc;
    auto* ts = new TabSheet("COM");
    pc.addSheet(ts);
    for (QObject* o : std::initializer_list<QObject*>{&b, &cb, &p, &gb, ts})
        EXPECT_TRUE(isCaptioned(o));
    EXPECT_FALSE(isCaptioned(&plain));
    EXPECT_EQ(captionOf(&gb), "RSSI Filter:");
    setCaption(&b, "Stop");
    setCaption(&p, "12");
    setCaption(&gb, "x");
    setCaption(ts, "TCP");
    setCaption(&plain, "ignored");
    EXPECT_EQ(b.text(), "Stop");
    EXPECT_EQ(p.text(), "12");
    EXPECT_EQ(gb.title(), "x");
    EXPECT_EQ(pc.tabText(0), "TCP"); // the tab follows its sheet
    EXPECT_EQ(captionOf(&plain), "");

    setTag(&b, 7);
    setHint(&b, "Start");
    EXPECT_EQ(tagOf(&b), 7);
    EXPECT_EQ(hintOf(&b), "Start");
    EXPECT_EQ(tagOf(&plain), 0);
    EXPECT_EQ(tagOf(nullptr), 0);
}

TEST(PageControl, UserChangesEmitPageChangedAndEverySheetShowEmitsShown) {
    PageControl pc;
    auto* a = new TabSheet("A");
    auto* b = new TabSheet("B");
    auto* c = new TabSheet("C");
    pc.addSheet(a);
    pc.addSheet(b);
    pc.addSheet(c);
    EXPECT_EQ(a->pageControl(), &pc);
    pc.resize(300, 200);
    pc.show();
    QSignalSpy changed(&pc, &PageControl::pageChanged);
    QSignalSpy shownB(b, &TabSheet::shown);
    pc.setActivePage(b);
    EXPECT_EQ(pc.activePage(), b);
    EXPECT_EQ(shownB.count(), 1);
    EXPECT_EQ(changed.count(), 0);

    QTest::mouseClick(pc.tabBar(), Qt::LeftButton, {}, pc.tabBar()->tabRect(2).center());
    EXPECT_EQ(pc.activePage(), c);
    EXPECT_EQ(changed.count(), 1);

    pc.setTabShown(a, false);
    EXPECT_FALSE(pc.isTabShown(a));
    EXPECT_TRUE(pc.isTabShown(b));
    EXPECT_EQ(pc.sheetCount(), 3);
    EXPECT_EQ(changed.count(), 1);
    pc.setActivePage(nullptr); // not one of its sheets: nothing happens
    EXPECT_EQ(pc.activePage(), c);
}

TEST(Memo, LinesAreAddedFoundAndDeleted) {
    Memo m;
    EXPECT_EQ(m.lineCount(), 0);
    EXPECT_TRUE(m.lines().isEmpty());
    m.addLine("10.0.0.1:4001");
    m.addLine("10.0.0.2:4001");
    m.addLine("10.0.0.3:4001");
    EXPECT_EQ(m.lineCount(), 3);
    EXPECT_EQ(m.indexOfLine("10.0.0.2:4001"), 1);
    EXPECT_EQ(m.indexOfLine("10.0.0.2"), -1);
    m.deleteLine(1);
    EXPECT_EQ(m.lines(), QStringList({"10.0.0.1:4001", "10.0.0.3:4001"}));
    m.deleteLine(5);
    EXPECT_EQ(m.lineCount(), 2);
    m.clearLines();
    EXPECT_EQ(m.lineCount(), 0);
}

} // namespace
