#pragma once
// Controls of the "Read TAG" page, named as the handlers use them.

#include "app/controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>

namespace kelta {

struct ReadTagControls {
    // Link choice.
    PageControl* pcTagMain = nullptr;
    TabSheet* tsCOM = nullptr;
    // tag = number
    QCheckBox* chkCOM01 = nullptr;
    QCheckBox* chkCOM02 = nullptr;
    QCheckBox* chkCOM03 = nullptr;
    QCheckBox* chkCOM04 = nullptr;
    QCheckBox* chkCOM05 = nullptr;
    QCheckBox* chkCOM06 = nullptr;
    QCheckBox* chkCOM07 = nullptr;
    QCheckBox* chkCOM08 = nullptr;
    QCheckBox* chkCOM09 = nullptr;
    QCheckBox* chkCOM10 = nullptr;
    QCheckBox* chkCOM11 = nullptr;
    QCheckBox* chkCOM12 = nullptr;
    QCheckBox* chkCOM13 = nullptr;
    QCheckBox* chkCOM14 = nullptr;
    QCheckBox* chkCOM15 = nullptr;
    QCheckBox* chkCOM16 = nullptr;
    QCheckBox* chkCOM17 = nullptr;
    QCheckBox* chkCOM18 = nullptr;
    QCheckBox* chkCOM19 = nullptr;
    QCheckBox* chkCOM20 = nullptr;
    QCheckBox* chkCOM21 = nullptr;
    QCheckBox* chkCOM22 = nullptr;
    QCheckBox* chkCOM23 = nullptr;
    QCheckBox* chkCOM24 = nullptr;
    QCheckBox* chkCOM25 = nullptr;
    QCheckBox* chkCOM26 = nullptr;
    QCheckBox* chkCOM27 = nullptr;
    QCheckBox* chkCOM28 = nullptr;
    QCheckBox* chkCOM29 = nullptr;
    QCheckBox* chkCOM30 = nullptr;
    TabSheet* tsNET = nullptr;
    Panel* pnlTcpServerSet = nullptr; // address rows while idle
    QLineEdit* edtTcpRemotePort = nullptr;
    // tag = number
    QCheckBox* chkIP01 = nullptr;
    QLineEdit* edIP01 = nullptr;
    QCheckBox* chkIP02 = nullptr;
    QLineEdit* edIP02 = nullptr;
    QCheckBox* chkIP03 = nullptr;
    QLineEdit* edIP03 = nullptr;
    QCheckBox* chkIP04 = nullptr;
    QLineEdit* edIP04 = nullptr;
    QCheckBox* chkIP05 = nullptr;
    QLineEdit* edIP05 = nullptr;
    QCheckBox* chkIP06 = nullptr;
    QLineEdit* edIP06 = nullptr;
    QCheckBox* chkIP07 = nullptr;
    QLineEdit* edIP07 = nullptr;
    QCheckBox* chkIP08 = nullptr;
    QLineEdit* edIP08 = nullptr;
    QCheckBox* chkIP09 = nullptr;
    QLineEdit* edIP09 = nullptr;
    QCheckBox* chkIP10 = nullptr;
    QLineEdit* edIP10 = nullptr;
    QCheckBox* chkIP11 = nullptr;
    QLineEdit* edIP11 = nullptr;
    QCheckBox* chkIP12 = nullptr;
    QLineEdit* edIP12 = nullptr;
    QCheckBox* chkIP13 = nullptr;
    QLineEdit* edIP13 = nullptr;
    QCheckBox* chkIP14 = nullptr;
    QLineEdit* edIP14 = nullptr;
    QCheckBox* chkIP15 = nullptr;
    QLineEdit* edIP15 = nullptr;
    QCheckBox* chkIP16 = nullptr;
    QLineEdit* edIP16 = nullptr;
    QCheckBox* chkIP17 = nullptr;
    QLineEdit* edIP17 = nullptr;
    QCheckBox* chkIP18 = nullptr;
    QLineEdit* edIP18 = nullptr;
    QCheckBox* chkIP19 = nullptr;
    QLineEdit* edIP19 = nullptr;
    QCheckBox* chkIP20 = nullptr;
    QLineEdit* edIP20 = nullptr;
    Panel* PnlTcpServerView = nullptr; // connected readers while a run is active
    Memo* moTcpServer = nullptr;       // hidden
    TabSheet* tsNetServer = nullptr;
    Panel* pnlTcpClient = nullptr; // listening port while idle
    QLineEdit* edtListenPort = nullptr;
    Memo* MemoClient0 = nullptr;
    Memo* MemoClient1 = nullptr; // hidden
    TabSheet* tsUDP = nullptr;   // tab hidden at creation
    QLineEdit* edLocalPort = nullptr;
    QLineEdit* edDesPort = nullptr;
    Memo* MemoUDP = nullptr; // hidden

    // Function strip.
    Panel* pnlFun = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnClear = nullptr;
    QPushButton* btnExit01 = nullptr;
    QPushButton* btnTagLog = nullptr;
    QLineEdit* edtLogID = nullptr;
    Panel* Panel15 = nullptr;
    Shape* shComm = nullptr;
    QLineEdit* edtTagID = nullptr;
    Panel* pnlTagCount = nullptr;
    Panel* pnlTamper = nullptr;            // hidden
    QPushButton* btnTemperReset = nullptr; // hidden
    QGroupBox* gboxRSSI = nullptr;         // hidden; shown while a run is active
    QScrollBar* sbRSSI = nullptr;
    Panel* pnRSSI = nullptr;
    QPushButton* btnRSSI = nullptr;
    Panel* pnl_ReceiveCount1 = nullptr; // hidden
    Panel* pnl_ReceiveError1 = nullptr; // hidden

    // Views.
    PageControl* pcReadTag = nullptr;
    TabSheet* tsViewAllTag = nullptr;
    QGroupBox* gbSelTag = nullptr; // "Select TAG ID (Double Click)"
    Panel* pnlSel = nullptr;
    QListWidget* lvTag = nullptr;
    QListWidget* lvSel = nullptr;
    Panel* pnlSel_Bottom = nullptr; // hidden filter panel
    QLineEdit* edtTagFilter = nullptr;
    QCheckBox* chk01 = nullptr;
    QCheckBox* chk02 = nullptr;
    QCheckBox* chk03 = nullptr;
    QCheckBox* chk04 = nullptr;
    StringGrid* grdUID = nullptr;
    StringGrid* grdUID_LOG = nullptr; // hidden
    TabSheet* tsViewSelTag = nullptr;
    StringGrid* grdSel = nullptr;
    QLineEdit* edtTagTimeout = nullptr;
    QLineEdit* edtEvenLogFile = nullptr;
    QPushButton* btnFile = nullptr;
    QPushButton* btnSave = nullptr;  // hidden
    QLineEdit* edNo = nullptr;       // hidden
    Panel* pnlTime = nullptr;        // hidden
    Panel* pnCount = nullptr;        // hidden
    QCheckBox* chbAllTags = nullptr; // hidden
    QLineEdit* edFile2 = nullptr;    // hidden
    TabSheet* tsLinks = nullptr;     // "Links": one row per link of the run
    QTableView* grdLinks = nullptr;
};

// Column headers and start widths of the tag grids.
inline constexpr int kGrdUIDCols = 20;
inline constexpr int kGrdUIDLogCols = 22;
inline constexpr int kGrdSelCols = 21;
QStringList grdUIDHeaders();
QStringList grdUIDLogHeaders();
QStringList grdSelHeaders();
QList<int> grdUIDWidths();
QList<int> grdUIDLogWidths();
QList<int> grdSelWidths();
// Sets `grid` to `headers.size()` columns with the header row only (every data row dropped),
// writing the headers and the column widths.
void resetTagGrid(StringGrid* grid, const QStringList& headers, const QList<int>& widths);

// Creates the page's controls inside `page` and records them in `c`.
void buildReadTagPage(ReadTagControls& c, TabSheet* page);

} // namespace kelta
