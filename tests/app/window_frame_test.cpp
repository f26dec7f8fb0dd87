// The main window as constructed: names, numbered families, hidden tabs, tab colours, the
// state after construction and the fit of the Read TAG page on a small screen.
#include "app/frmmodule.h"
#include "app/run_controller.h"

#include <QRegularExpression>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>
#include <map>
#include <memory>

using namespace kelta;

namespace {

class Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        w = new TfrmModule;
        w->setGeometry(0, 0, 1366, 768);
        w->show();
        QCoreApplication::processEvents();
    }
    static void TearDownTestSuite() {
        delete w;
        w = nullptr;
    }
    static TfrmModule* w;
};
TfrmModule* Window::w = nullptr;

// Every control of the frame and of the Read TAG page the handlers address by name.
const char* const kNames[] = {
    "pnlMain", "pcMain", "tsSetTAG", "tsSetReader", "tsReadTag", "pnlBottom", "Panel19", "btnEng",
    "btnCHT", "btnCHS", "sbMain", "pnlBeep", "cbxBeep", "Panel9", "edtSaveFile", "btnSaveFile",
    "chbAutoSave", "tmrBusy", "ServerSocket", "ClientSocket1", "IdUDPServer", "OpenDialog01",
    "SaveDialog1", "SaveDialog2",
    // Read TAG
    "pcTagMain", "tsCOM", "tsNET", "pnlTcpServerSet", "edtTcpRemotePort", "PnlTcpServerView",
    "moTcpServer", "tsNetServer", "pnlTcpClient", "edtListenPort", "MemoClient0", "MemoClient1",
    "tsUDP", "edLocalPort", "edDesPort", "MemoUDP", "pnlFun", "btnStart", "btnClear", "btnExit01",
    "btnTagLog", "edtLogID", "Panel15", "shComm", "edtTagID", "pnlTagCount", "pnlTamper",
    "btnTemperReset", "gboxRSSI", "sbRSSI", "pnRSSI", "btnRSSI", "pnl_ReceiveCount1",
    "pnl_ReceiveError1", "pcReadTag", "tsViewAllTag", "pnlSel", "lvTag", "lvSel", "pnlSel_Bottom",
    "edtTagFilter", "chk01", "chk02", "chk03", "chk04", "grdUID", "grdUID_LOG", "tsViewSelTag",
    "grdSel", "edtTagTimeout", "edtEvenLogFile", "btnFile", "btnSave", "edNo", "pnlTime", "pnCount",
    "chbAllTags", "edFile2"};

// Controls that start hidden.
const char* const kHidden[] = {"Panel19",           "pnlBeep",       "moTcpServer",
                               "MemoClient1",       "MemoUDP",       "pnlTamper",
                               "btnTemperReset",    "gboxRSSI",      "pnl_ReceiveCount1",
                               "pnl_ReceiveError1", "pnlSel_Bottom", "grdUID_LOG",
                               "btnSave",           "edNo",          "pnlTime",
                               "pnCount",           "chbAllTags",    "edFile2"};

TEST_F(Window, EveryNamedControlExistsOnceWithItsName) {
    EXPECT_EQ(w->objectName(), "frmModule");
    for (const char* name : kNames) {
        const auto found = w->findChildren<QObject*>(QString::fromLatin1(name));
        EXPECT_EQ(found.size(), 1) << name;
    }
    for (const char* name : kHidden) {
        auto* c = w->findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_NE(c, nullptr) << name;
        EXPECT_TRUE(c->isHidden()) << name;
    }
    // Members and names agree.
    EXPECT_EQ(w->btnStart->objectName(), "btnStart");
    EXPECT_EQ(w->grdSel->objectName(), "grdSel");
    EXPECT_EQ(w->chkCOM12->objectName(), "chkCOM12");
    EXPECT_EQ(w->edIP20->objectName(), "edIP20");
}

// The three numbered families, indexed by tag the way the window's tables are filled.
TEST_F(Window, NumberedFamiliesSitAtTheirTagsAndNowhereElse) {
    struct Family {
        const char* prefix;
        int last;
    };
    for (const Family& f : {Family{"chkCOM", 30}, Family{"chkIP", 20}, Family{"edIP", 20}}) {
        const QRegularExpression re(QStringLiteral("^%1..$").arg(f.prefix));
        std::map<int, QObject*> table;
        for (QObject* o : w->findChildren<QObject*>(re)) {
            const int tag = tagOf(o);
            EXPECT_EQ(table.count(tag), 0u) << f.prefix << " tag " << tag << " twice";
            table[tag] = o;
        }
        EXPECT_EQ(table.size(), static_cast<std::size_t>(f.last)) << f.prefix;
        for (int n = 1; n <= f.last; ++n) {
            ASSERT_EQ(table.count(n), 1u) << f.prefix << n;
            EXPECT_EQ(table[n]->objectName(),
                      QStringLiteral("%1%2").arg(f.prefix).arg(n, 2, 10, QLatin1Char('0')));
        }
        for (int n : {0, f.last + 1, 31, 32}) EXPECT_EQ(table.count(n), 0u) << f.prefix << n;
    }
    // The reader-address edits repeat the same ten design addresses.
    EXPECT_EQ(w->edIP11->text(), w->edIP01->text());
    EXPECT_EQ(w->edIP20->text(), w->edIP10->text());
    EXPECT_NE(w->edIP01->text(), w->edIP10->text());
}

TEST_F(Window, ConstructionChoosesPagesHidesUdpAndSetsTheBoxes) {
    {
        TfrmModule unshown; // the window's tag turns 1 only at the end of the first showing
        EXPECT_EQ(unshown.tag(), 0);
    }
    EXPECT_EQ(w->tag(), 1);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w->font().bold());
    EXPECT_EQ(w->font().pixelSize(), 13);
    ASSERT_EQ(w->pcMain->sheetCount(), 3);
    EXPECT_EQ(w->pcMain->sheet(0), w->tsSetTAG);
    EXPECT_EQ(w->pcMain->sheet(1), w->tsSetReader);
    EXPECT_EQ(w->pcMain->sheet(2), w->tsReadTag);
    EXPECT_EQ(w->pcMain->activePage(), w->tsReadTag);
    EXPECT_EQ(w->pcTagMain->activePage(), w->tsNET);
    EXPECT_EQ(w->pcReadTag->activePage(), w->tsViewAllTag);

    EXPECT_FALSE(w->pcTagMain->isTabShown(w->tsUDP));
    for (auto* s : {w->tsCOM, w->tsNET, w->tsNetServer}) EXPECT_TRUE(w->pcTagMain->isTabShown(s));
    auto* linkPages = w->findChild<PageControl*>("pcSetReadMain");
    auto* udpServer = w->findChild<TabSheet*>("tsUdpServer");
    if (linkPages && udpServer) {
        EXPECT_FALSE(linkPages->isTabShown(udpServer));
    }

    for (auto* b : {w->chk01, w->chk02, w->chk03, w->chk04}) EXPECT_TRUE(b->isChecked());
    EXPECT_FALSE(w->cbxBeep->isChecked());
    EXPECT_FALSE(w->runController->busyTimer().isActive());
    EXPECT_FALSE(w->ServerSocket->isListening());
    EXPECT_EQ(w->ClientSocket1->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(w->edtTagTimeout->text().toInt(), tagOf(w->edtTagTimeout));

    w->sbMain->setPanelText(0, "Connected");
    w->sbMain->setPanelText(3, "ignored");
    EXPECT_EQ(w->sbMain->panelText(0), "Connected");
    EXPECT_EQ(w->sbMain->panelText(3), "");
}

TEST_F(Window, TagGridsStartWithTheHeaderRowAndTheirColumns) {
    struct G {
        StringGrid* grid;
        QStringList headers;
        QList<int> widths;
    };
    for (const G& g : {G{w->grdUID, grdUIDHeaders(), grdUIDWidths()},
                       G{w->grdUID_LOG, grdUIDLogHeaders(), grdUIDLogWidths()},
                       G{w->grdSel, grdSelHeaders(), grdSelWidths()}}) {
        SCOPED_TRACE(g.grid->objectName().toStdString());
        EXPECT_EQ(g.grid->rowCount(), 1);
        ASSERT_EQ(g.grid->colCount(), g.headers.size());
        ASSERT_EQ(g.widths.size(), g.headers.size());
        for (int col = 0; col < g.grid->colCount(); ++col) {
            EXPECT_EQ(g.grid->model()->headerData(col, Qt::Horizontal).toString(), g.headers[col]);
            // The design widths are replaced by widths fitted to the font (tag_grid_columns_test).
            EXPECT_EQ(g.grid->colWidth(col), g.grid->fittedColWidth(col)) << col;
        }
        EXPECT_EQ(g.grid->selectionBehavior(), QAbstractItemView::SelectRows);
    }
    EXPECT_EQ(w->grdUID->colCount(), kGrdUIDCols);
    EXPECT_EQ(w->grdUID_LOG->colCount(), kGrdUIDLogCols);
    EXPECT_EQ(w->grdSel->colCount(), kGrdSelCols);

    // Clearing after rows were added drops them and keeps the widths.
    StringGrid* g = w->grdUID;
    g->appendRow();
    g->setCell(1, 1, "0001000112345678");
    g->setColCount(kGrdUIDLogCols);
    resetTagGrid(g, grdUIDHeaders(), grdUIDWidths());
    EXPECT_EQ(g->rowCount(), 1);
    EXPECT_EQ(g->model()->rowCount(), 0);
    EXPECT_EQ(g->colCount(), kGrdUIDCols);
    EXPECT_EQ(g->colWidth(19), grdUIDWidths()[19]);
}

// Renders a page control's tab bar and samples a point inside a tab, away from its caption.
QColor tabFill(PageControl* pc, int index) {
    QTabBar* bar = pc->tabBar();
    const QImage img = bar->grab().toImage();
    const QRect r = bar->tabRect(index);
    return img.pixelColor(r.left() + 4, r.center().y());
}

TEST_F(Window, ActiveTabsAreFilledWithTheirColour) {
    struct Case {
        PageControl* pc;
        QColor colour;
    };
    std::vector<Case> cases{{w->pcMain, QColor(255, 0, 0)}, {w->pcTagMain, QColor(255, 0, 0)}};
    if (auto* linkPages = w->findChild<PageControl*>("pcSetReadMain"))
        cases.push_back({linkPages, QColor(0, 0, 255)});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pc->objectName().toStdString());
        // A tab bar is drawn only on the page shown.
        w->pcMain->setActivePage(c.pc == w->pcSetReadMain ? w->tsSetReader : w->tsReadTag);
        QCoreApplication::processEvents();
        EXPECT_TRUE(c.pc->ownerDraw());
        const int active = c.pc->currentIndex();
        ASSERT_GE(active, 0);
        EXPECT_EQ(tabFill(c.pc, active), c.colour);
        const int other = active == 0 ? 1 : 0;
        ASSERT_LT(other, c.pc->count());
        EXPECT_NE(tabFill(c.pc, other), c.colour);
    }
    w->pcMain->setActivePage(w->tsReadTag);
    QCoreApplication::processEvents();
    // The caption of the active tab is drawn in the window colour: some pixel of it shows.
    QTabBar* bar = w->pcMain->tabBar();
    const QImage img = bar->grab().toImage();
    const QRect r = bar->tabRect(w->pcMain->currentIndex());
    const QColor text = bar->palette().color(QPalette::Window);
    bool found = false;
    for (int x = r.left(); x < r.right() && !found; ++x)
        for (int y = r.top(); y < r.bottom() && !found; ++y) found = img.pixelColor(x, y) == text;
    EXPECT_TRUE(found);

    // Without owner drawing the active tab is not filled.
    PageControl plain;
    plain.addSheet(new TabSheet("A"));
    plain.addSheet(new TabSheet("B"));
    plain.setActiveTabColor(QColor(255, 0, 0));
    plain.resize(200, 100);
    plain.show();
    EXPECT_NE(tabFill(&plain, 0), QColor(255, 0, 0));
}

TEST_F(Window, ReadTagPageFitsASmallScreen) {
    w->pcMain->setActivePage(w->tsReadTag);
    QCoreApplication::processEvents();
    const QSize need = w->tsReadTag->minimumSizeHint();
    EXPECT_LE(need.width(), w->tsReadTag->width());
    EXPECT_LE(need.height(), w->tsReadTag->height());
    // The grids take the room that is left.
    EXPECT_GT(w->grdUID->height(), w->tsReadTag->height() / 3);
    EXPECT_GT(w->grdUID->width(), w->tsReadTag->width() / 2);
    EXPECT_EQ(w->pnlBottom->height(), 24);
}

} // namespace
