// The cell table's record of what its view has not shown yet, and what it tells the view.

#include "monitor/cell_table.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using kelta::monitor::CellTable;

struct Spy : CellTable::Observer {
    std::vector<std::string> calls;
    void aboutToChangeColumns(int from, int to) override {
        calls.push_back("cols " + std::to_string(from) + ">" + std::to_string(to));
    }
    void columnsChanged() override { calls.push_back("cols done"); }
    void aboutToRemoveRows(int first, int last) override {
        calls.push_back("remove " + std::to_string(first) + "-" + std::to_string(last));
    }
    void rowsRemoved() override { calls.push_back("removed"); }
    void pendingChanged() override { calls.push_back("pending"); }
};

// A table of 4 columns with `published` data rows shown and `extra` rows appended after.
CellTable make(int published, int extra) {
    CellTable t(4);
    for (int r = 0; r < published; ++r) t.append();
    t.markPublished();
    for (int r = 0; r < extra; ++r) t.append();
    return t;
}

TEST(CellTable, ChangesCoverExactlyWhatTheViewHasNotShown) {
    struct Case {
        const char* name;
        int published, extra;
        std::vector<std::pair<int, int>> writes; // (col, row) set to "x"
        bool header;
        int top, bottom, left, right; // INT_MAX/INT_MIN when no cell change
        int newFirst, newLast;
    };
    const Case cases[] = {
        {"nothing", 3, 0, {}, false, INT_MAX, INT_MIN, INT_MAX, INT_MIN, 0, -1},
        {"rows appended", 2, 3, {}, false, INT_MAX, INT_MIN, INT_MAX, INT_MIN, 2, 4},
        {"one shown cell", 3, 0, {{2, 2}}, false, 2, 2, 2, 2, 0, -1},
        {"cells span a rectangle", 5, 0, {{3, 1}, {0, 4}}, false, 1, 4, 0, 3, 0, -1},
        // A cell of a row not yet shown comes with the row, not as a change.
        {"unshown row's cell", 2, 2, {{1, 3}}, false, INT_MAX, INT_MIN, INT_MAX, INT_MIN, 2, 3},
        {"header", 1, 0, {{1, 0}}, true, INT_MAX, INT_MIN, INT_MAX, INT_MIN, 0, -1},
        {"out of range ignored",
         1,
         0,
         {{9, 1}, {1, 9}, {-1, 1}},
         false,
         INT_MAX,
         INT_MIN,
         INT_MAX,
         INT_MIN,
         0,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CellTable t = make(c.published, c.extra);
        for (const auto& [col, row] : c.writes) t.setText(col, row, QStringLiteral("x"));
        const CellTable::Changes ch = t.changes();
        EXPECT_EQ(ch.header, c.header);
        EXPECT_EQ(ch.top, c.top);
        EXPECT_EQ(ch.bottom, c.bottom);
        EXPECT_EQ(ch.left, c.left);
        EXPECT_EQ(ch.right, c.right);
        EXPECT_EQ(ch.newFirst, c.newFirst);
        EXPECT_EQ(ch.newLast, c.newLast);
        EXPECT_EQ(t.pending(), c.header || ch.cells() || c.newLast >= c.newFirst);
        t.markPublished();
        EXPECT_FALSE(t.pending());
        EXPECT_EQ(t.publishedRows(), t.rows() - 1);
    }
}

TEST(CellTable, TheViewIsToldBeforeAndAfterEveryShrinkAndColumnChange) {
    struct Case {
        const char* name;
        int published, extra;
        std::function<void(CellTable&)> act;
        std::vector<std::string> calls;
        int publishedAfter;
    };
    const Case cases[] = {
        {"shrink below the shown rows",
         5,
         0,
         [](CellTable& t) { t.setRows(3); },
         {"remove 2-4", "removed"},
         2},
        // Rows the view never saw go without a word.
        {"shrink only unshown rows", 2, 3, [](CellTable& t) { t.setRows(4); }, {}, 2},
        {"down to the header",
         3,
         2,
         [](CellTable& t) { t.setRows(1); },
         {"remove 0-2", "removed"},
         0},
        {"grow", 1, 0, [](CellTable& t) { t.setRows(4); }, {"pending"}, 1},
        {"append", 1, 0, [](CellTable& t) { t.append(); }, {"pending"}, 1},
        {"more columns", 1, 0, [](CellTable& t) { t.setCols(6); }, {"cols 4>6", "cols done"}, 1},
        {"fewer columns", 1, 0, [](CellTable& t) { t.setCols(2); }, {"cols 4>2", "cols done"}, 1},
        {"same text twice",
         1,
         0,
         [](CellTable& t) {
             t.setText(0, 1, QStringLiteral("a"));
             t.setText(0, 1, QStringLiteral("a"));
         },
         {"pending"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CellTable t = make(c.published, c.extra);
        Spy spy;
        t.setObserver(&spy);
        c.act(t);
        EXPECT_EQ(spy.calls, c.calls);
        EXPECT_EQ(t.publishedRows(), c.publishedAfter);
    }
}

TEST(CellTable, AssignCopiesEveryCellAndKeepsColumnsInStep) {
    CellTable a(3);
    a.setText(0, 0, QStringLiteral("h0"));
    a.setText(2, 0, QStringLiteral("h2"));
    const int r = a.append();
    a.setText(1, r, QStringLiteral("v"));
    CellTable b(7);
    for (int i = 0; i < 5; ++i) b.append();
    b.assign(a);
    EXPECT_EQ(b.rows(), 2);
    EXPECT_EQ(b.cols(), 3);
    EXPECT_EQ(b.text(0, 0), QStringLiteral("h0"));
    EXPECT_EQ(b.text(2, 0), QStringLiteral("h2"));
    EXPECT_EQ(b.text(1, 1), QStringLiteral("v"));
    EXPECT_EQ(b.text(0, 1), QString());
    // Rows appended afterwards have the copied column count.
    const int n = b.append();
    b.setText(2, n, QStringLiteral("z"));
    EXPECT_EQ(b.text(2, n), QStringLiteral("z"));
}

} // namespace
