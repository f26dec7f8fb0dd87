// The "Read TAG" page: link choice, function strip, the tag views.
#include "app/controls_readtag.h"
#include "app/controls_shell.h"
#include "monitor/tag_store.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kelta {

namespace {

template <class T> T* named(T* w, const QString& name) {
    w->setObjectName(name);
    return w;
}

QLabel* label(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QLineEdit* edit(const char* name, const QString& text, QWidget* parent, int width = 0) {
    auto* e = named(new QLineEdit(text, parent), QLatin1String(name));
    if (width > 0) e->setFixedWidth(width);
    return e;
}

Memo* memo(const char* name, QWidget* parent) {
    return named(new Memo(parent), QLatin1String(name));
}

QVBoxLayout* vbox(QWidget* w, int margin = 4) {
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(margin, margin, margin, margin);
    l->setSpacing(4);
    return l;
}

QHBoxLayout* hbox(QWidget* w, int margin = 4) {
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(margin, margin, margin, margin);
    l->setSpacing(4);
    return l;
}

// A panel used only to hold other controls: no frame, no caption.
Panel* holder(const char* name, QWidget* parent) {
    auto* p = named(new Panel({}, parent), QLatin1String(name));
    p->setFrameStyle(QFrame::NoFrame);
    return p;
}

void buildComSheet(ReadTagControls& c) {
    auto* grid = new QGridLayout(c.tsCOM);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(4);
    QCheckBox** boxes[] = {&c.chkCOM01, &c.chkCOM02, &c.chkCOM03, &c.chkCOM04, &c.chkCOM05,
                           &c.chkCOM06, &c.chkCOM07, &c.chkCOM08, &c.chkCOM09, &c.chkCOM10,
                           &c.chkCOM11, &c.chkCOM12, &c.chkCOM13, &c.chkCOM14, &c.chkCOM15,
                           &c.chkCOM16, &c.chkCOM17, &c.chkCOM18, &c.chkCOM19, &c.chkCOM20,
                           &c.chkCOM21, &c.chkCOM22, &c.chkCOM23, &c.chkCOM24, &c.chkCOM25,
                           &c.chkCOM26, &c.chkCOM27, &c.chkCOM28, &c.chkCOM29, &c.chkCOM30};
    constexpr int kRows = 5;
    for (int n = 1; n <= 30; ++n) {
        auto* b = new QCheckBox(QStringLiteral("COM%1").arg(n), c.tsCOM);
        b->setObjectName(QStringLiteral("chkCOM%1").arg(n, 2, 10, QLatin1Char('0')));
        setTag(b, n);
        *boxes[n - 1] = b;
        grid->addWidget(b, (n - 1) % kRows, (n - 1) / kRows);
    }
    grid->setRowStretch(kRows, 1);
    grid->setColumnStretch(30 / kRows, 1);
}

void buildNetSheet(ReadTagControls& c) {
    auto* page = vbox(c.tsNET, 2);
    c.pnlTcpServerSet = holder("pnlTcpServerSet", c.tsNET);
    auto* set = new QGridLayout(c.pnlTcpServerSet);
    set->setContentsMargins(6, 4, 6, 4);
    set->setHorizontalSpacing(6);
    set->setVerticalSpacing(3);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(label(QStringLiteral("Destination Port :"), c.pnlTcpServerSet));
    c.edtTcpRemotePort = edit("edtTcpRemotePort", QStringLiteral("4001"), c.pnlTcpServerSet, 70);
    portRow->addWidget(c.edtTcpRemotePort);
    portRow->addStretch(1);
    set->addLayout(portRow, 0, 0, 1, 8);

    QCheckBox** boxes[] = {&c.chkIP01, &c.chkIP02, &c.chkIP03, &c.chkIP04, &c.chkIP05,
                           &c.chkIP06, &c.chkIP07, &c.chkIP08, &c.chkIP09, &c.chkIP10,
                           &c.chkIP11, &c.chkIP12, &c.chkIP13, &c.chkIP14, &c.chkIP15,
                           &c.chkIP16, &c.chkIP17, &c.chkIP18, &c.chkIP19, &c.chkIP20};
    QLineEdit** edits[] = {&c.edIP01, &c.edIP02, &c.edIP03, &c.edIP04, &c.edIP05,
                           &c.edIP06, &c.edIP07, &c.edIP08, &c.edIP09, &c.edIP10,
                           &c.edIP11, &c.edIP12, &c.edIP13, &c.edIP14, &c.edIP15,
                           &c.edIP16, &c.edIP17, &c.edIP18, &c.edIP19, &c.edIP20};
    constexpr int kRows = 5;
    for (int n = 1; n <= 20; ++n) {
        const QString num = QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
        auto* b = named(new QCheckBox(c.pnlTcpServerSet), QStringLiteral("chkIP") + num);
        setTag(b, n);
        // Design-time addresses: .101 … .110, the same ten again for 11 … 20.
        auto* e = named(new QLineEdit(QStringLiteral("192.168.1.%1").arg(100 + (n - 1) % 10 + 1),
                                      c.pnlTcpServerSet),
                        QStringLiteral("edIP") + num);
        setTag(e, n);
        e->setFixedWidth(130);
        *boxes[n - 1] = b;
        *edits[n - 1] = e;
        const int row = 1 + (n - 1) % kRows;
        const int col = 2 * ((n - 1) / kRows);
        set->addWidget(b, row, col);
        set->addWidget(e, row, col + 1);
    }
    set->setColumnStretch(8, 1);
    set->setRowStretch(kRows + 1, 1);
    page->addWidget(c.pnlTcpServerSet, 1);

    c.PnlTcpServerView = holder("PnlTcpServerView", c.tsNET);
    auto* view = vbox(c.PnlTcpServerView, 0);
    c.moTcpServer = memo("moTcpServer", c.PnlTcpServerView);
    c.moTcpServer->setReadOnly(true);
    c.moTcpServer->hide();
    view->addWidget(c.moTcpServer);
    c.PnlTcpServerView->hide();
    page->addWidget(c.PnlTcpServerView, 1);
}

void buildNetServerSheet(ReadTagControls& c) {
    auto* page = vbox(c.tsNetServer, 2);
    c.pnlTcpClient = holder("pnlTcpClient", c.tsNetServer);
    auto* row = hbox(c.pnlTcpClient);
    row->addWidget(label(QStringLiteral("Local Listen Port :"), c.pnlTcpClient));
    c.edtListenPort = edit("edtListenPort", QStringLiteral("4001"), c.pnlTcpClient, 70);
    row->addWidget(c.edtListenPort);
    row->addStretch(1);
    page->addWidget(c.pnlTcpClient);
    c.MemoClient0 = memo("MemoClient0", c.tsNetServer);
    c.MemoClient0->setReadOnly(true);
    page->addWidget(c.MemoClient0, 1);
    c.MemoClient1 = memo("MemoClient1", c.tsNetServer);
    c.MemoClient1->hide();
    page->addWidget(c.MemoClient1);
}

void buildUdpSheet(ReadTagControls& c) {
    auto* page = new QGridLayout(c.tsUDP);
    page->setContentsMargins(8, 6, 8, 6);
    page->addWidget(label(QStringLiteral("Local Listen Port :"), c.tsUDP), 0, 0);
    c.edLocalPort = edit("edLocalPort", QStringLiteral("4001"), c.tsUDP, 70);
    page->addWidget(c.edLocalPort, 0, 1);
    page->addWidget(label(QStringLiteral("Destination Port :"), c.tsUDP), 1, 0);
    c.edDesPort = edit("edDesPort", QStringLiteral("4001"), c.tsUDP, 70);
    page->addWidget(c.edDesPort, 1, 1);
    c.MemoUDP = memo("MemoUDP", c.tsUDP);
    c.MemoUDP->hide();
    page->addWidget(c.MemoUDP, 2, 0, 1, 3);
    page->setColumnStretch(2, 1);
    page->setRowStretch(3, 1);
}

void buildFunctionStrip(ReadTagControls& c, QWidget* parent) {
    c.pnlFun = named(new Panel({}, parent), QStringLiteral("pnlFun"));
    auto* strip = new QGridLayout(c.pnlFun);
    strip->setContentsMargins(6, 6, 6, 6);
    strip->setHorizontalSpacing(6);
    strip->setVerticalSpacing(6);

    c.btnStart = named(new QPushButton(QStringLiteral("Start"), c.pnlFun), "btnStart");
    c.btnClear = named(new QPushButton(QStringLiteral("Clear"), c.pnlFun), "btnClear");
    c.btnExit01 = named(new QPushButton(QStringLiteral("Exit"), c.pnlFun), "btnExit01");
    strip->addWidget(c.btnStart, 0, 0);
    strip->addWidget(c.btnClear, 0, 1);
    strip->addWidget(c.btnExit01, 0, 2);

    auto* logRow = new QHBoxLayout;
    logRow->addWidget(label(QStringLiteral("Reader ID\uFF1A"), c.pnlFun));
    c.edtLogID = edit("edtLogID", QStringLiteral("0001"), c.pnlFun, 60);
    logRow->addWidget(c.edtLogID);
    c.btnTagLog = named(new QPushButton(QStringLiteral("TAG Log"), c.pnlFun), "btnTagLog");
    logRow->addWidget(c.btnTagLog, 1);
    strip->addLayout(logRow, 1, 0, 1, 3);

    c.Panel15 = named(new Panel({}, c.pnlFun), "Panel15");
    auto* p15 = new QGridLayout(c.Panel15);
    p15->setContentsMargins(6, 4, 6, 4);
    p15->setHorizontalSpacing(6);
    c.shComm = named(new Shape(c.Panel15), "shComm");
    p15->addWidget(c.shComm, 0, 0, 2, 1, Qt::AlignCenter);
    p15->addWidget(label(QStringLiteral("TAG ID:"), c.Panel15), 0, 1);
    c.edtTagID = edit("edtTagID", QString(16, QLatin1Char('0')), c.Panel15);
    c.edtTagID->setMinimumWidth(170);
    p15->addWidget(c.edtTagID, 0, 2);
    p15->addWidget(label(QStringLiteral("TAG Count:"), c.Panel15), 1, 1);
    c.pnlTagCount = named(new Panel(QStringLiteral("0"), c.Panel15), "pnlTagCount");
    c.pnlTagCount->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    c.pnlTagCount->setMinimumHeight(22);
    p15->addWidget(c.pnlTagCount, 1, 2);
    p15->setColumnStretch(2, 1);
    strip->addWidget(c.Panel15, 2, 0, 1, 3);

    c.gboxRSSI = named(new QGroupBox(QStringLiteral("RSSI Filter:"), c.pnlFun), "gboxRSSI");
    auto* rssi = hbox(c.gboxRSSI);
    c.sbRSSI = named(new QScrollBar(Qt::Horizontal, c.gboxRSSI), "sbRSSI");
    c.sbRSSI->setRange(0, 255);
    c.sbRSSI->setPageStep(10);
    c.sbRSSI->setMinimumWidth(120);
    c.pnRSSI = named(new Panel(QStringLiteral("0"), c.gboxRSSI), "pnRSSI");
    c.pnRSSI->setFixedWidth(40);
    c.btnRSSI = named(new QPushButton(QStringLiteral("RSSI"), c.gboxRSSI), "btnRSSI");
    rssi->addWidget(c.sbRSSI, 1);
    rssi->addWidget(c.pnRSSI);
    rssi->addWidget(c.btnRSSI);
    c.gboxRSSI->hide();
    strip->addWidget(c.gboxRSSI, 3, 0, 1, 3);

    auto* hiddenRow = new QHBoxLayout;
    c.pnlTamper = named(new Panel(QStringLiteral("Tamper Alarm"), c.pnlFun), "pnlTamper");
    c.btnTemperReset = named(new QPushButton(QStringLiteral("Reset"), c.pnlFun), "btnTemperReset");
    c.pnl_ReceiveCount1 =
        named(new Panel(QStringLiteral("ReceiveCount :"), c.pnlFun), "pnl_ReceiveCount1");
    c.pnl_ReceiveError1 =
        named(new Panel(QStringLiteral("ReceiveError :"), c.pnlFun), "pnl_ReceiveError1");
    for (QWidget* w : std::initializer_list<QWidget*>{c.pnlTamper, c.btnTemperReset,
                                                      c.pnl_ReceiveCount1, c.pnl_ReceiveError1}) {
        hiddenRow->addWidget(w);
        w->hide();
    }
    strip->addLayout(hiddenRow, 4, 0, 1, 3);
    strip->setRowStretch(5, 1);
}

StringGrid* tagGrid(const char* name, QWidget* parent, const QStringList& headers,
                    const QList<int>& widths) {
    auto* g = named(new StringGrid(parent), QLatin1String(name));
    g->setDefaultColWidth(60);
    g->setDefaultRowHeight(20);
    resetTagGrid(g, headers, widths);
    return g;
}

void buildViewAllSheet(ReadTagControls& c) {
    auto* page = hbox(c.tsViewAllTag, 2);

    c.gbSelTag = named(
        new QGroupBox(QStringLiteral("Select TAG ID (Double Click)"), c.tsViewAllTag), "gbSelTag");
    c.gbSelTag->setFixedWidth(340);
    auto* sel = vbox(c.gbSelTag, 4);
    c.pnlSel = holder("pnlSel", c.gbSelTag);
    auto* lists = hbox(c.pnlSel, 0);
    c.lvTag = named(new QListWidget(c.pnlSel), "lvTag");
    c.lvSel = named(new QListWidget(c.pnlSel), "lvSel");
    for (auto* lv : {c.lvTag, c.lvSel}) {
        lv->setSortingEnabled(true);
        // Every caption is one 16-digit UID: laying 10,000 items out needs no measuring.
        lv->setUniformItemSizes(true);
        lv->setSelectionMode(QAbstractItemView::SingleSelection);
        lists->addWidget(lv, 1);
    }
    sel->addWidget(c.pnlSel, 1);

    c.pnlSel_Bottom = holder("pnlSel_Bottom", c.gbSelTag);
    auto* filter = new QGridLayout(c.pnlSel_Bottom);
    filter->setContentsMargins(0, 0, 0, 0);
    filter->addWidget(label(QStringLiteral("Tag ID Filter :"), c.pnlSel_Bottom), 0, 0);
    c.edtTagFilter = edit("edtTagFilter", {}, c.pnlSel_Bottom);
    filter->addWidget(c.edtTagFilter, 0, 1);
    c.chk01 = named(new QCheckBox(QStringLiteral("Standard TAG"), c.pnlSel_Bottom), "chk01");
    c.chk02 = named(new QCheckBox(QStringLiteral("One Temperature"), c.pnlSel_Bottom), "chk02");
    c.chk03 = named(new QCheckBox(QStringLiteral("Two Temperature"), c.pnlSel_Bottom), "chk03");
    // "&&" shows one ampersand instead of marking a shortcut.
    c.chk04 =
        named(new QCheckBox(QStringLiteral("Temperature && Humidity"), c.pnlSel_Bottom), "chk04");
    filter->addWidget(c.chk01, 1, 0);
    filter->addWidget(c.chk02, 1, 1);
    filter->addWidget(c.chk03, 2, 0);
    filter->addWidget(c.chk04, 2, 1);
    c.pnlSel_Bottom->hide();
    sel->addWidget(c.pnlSel_Bottom);
    page->addWidget(c.gbSelTag);

    auto* grids = new QVBoxLayout;
    grids->setSpacing(0);
    c.grdUID = tagGrid("grdUID", c.tsViewAllTag, grdUIDHeaders(), grdUIDWidths());
    c.grdUID_LOG = tagGrid("grdUID_LOG", c.tsViewAllTag, grdUIDLogHeaders(), grdUIDLogWidths());
    c.grdUID_LOG->hide();
    grids->addWidget(c.grdUID, 1);
    grids->addWidget(c.grdUID_LOG, 1);
    page->addLayout(grids, 1);
}

void buildViewSelSheet(ReadTagControls& c) {
    auto* page = vbox(c.tsViewSelTag, 2);
    c.grdSel = tagGrid("grdSel", c.tsViewSelTag, grdSelHeaders(), grdSelWidths());
    page->addWidget(c.grdSel, 1);

    QWidget* p = c.tsViewSelTag;
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(label(QStringLiteral("TAG timeout\uFF1A"), p));
    c.edtTagTimeout = edit("edtTagTimeout", QStringLiteral("10"), p, 50);
    setTag(c.edtTagTimeout, 10);
    row->addWidget(c.edtTagTimeout);
    row->addWidget(label(QStringLiteral("sec"), p));
    row->addSpacing(20);
    row->addWidget(label(QStringLiteral("log file\uFF1A"), p));
    c.edtEvenLogFile = edit("edtEvenLogFile", defaultLogFileName(), p);
    c.edtEvenLogFile->setMinimumWidth(320);
    row->addWidget(c.edtEvenLogFile, 1);
    c.btnFile = named(new QPushButton(QStringLiteral("..."), p), "btnFile");
    c.btnFile->setFixedWidth(32);
    row->addWidget(c.btnFile);

    c.btnSave = named(new QPushButton(QStringLiteral("Save"), p), "btnSave");
    c.edNo = edit("edNo", QStringLiteral("1"), p, 40);
    c.pnlTime = named(new Panel(QStringLiteral("0.0"), p), "pnlTime");
    c.pnCount = named(new Panel(QStringLiteral("0"), p), "pnCount");
    c.chbAllTags = named(new QCheckBox(QStringLiteral("All tags"), p), "chbAllTags");
    c.edFile2 = edit("edFile2", defaultSaveFileName(), p);
    for (QWidget* w : std::initializer_list<QWidget*>{c.btnSave, c.edNo, c.pnlTime, c.pnCount,
                                                      c.chbAllTags, c.edFile2}) {
        row->addWidget(w);
        w->hide();
    }
    row->addStretch(1);
    page->addLayout(row);
}

} // namespace

QStringList grdUIDHeaders() {
    return monitor::liveColumnKeys();
}

QStringList grdUIDLogHeaders() {
    return monitor::logColumnKeys();
}

QStringList grdSelHeaders() {
    return monitor::selectionColumnKeys();
}

QList<int> grdUIDWidths() {
    return {60, 118, 35, 32, 52, 61, 44, 49, 45, 59, 53, 43, 43, 108, 47, 113, 45, 37, 44, 465};
}

QList<int> grdUIDLogWidths() {
    return {60, 117, 36,  32, 52,  61, 44, 49, 45,  60,  52,
            44, 42,  109, 46, 114, 44, 38, 40, 125, 232, 103};
}

QList<int> grdSelWidths() {
    return {60, 118, 35,  32, 52,  61, 44, 49, 45,  59, 53,
            43, 43,  108, 47, 113, 45, 37, 44, 160, 117};
}

void resetTagGrid(StringGrid* grid, const QStringList& headers, const QList<int>& widths) {
    if (!grid) return;
    grid->setRowCount(1);
    grid->setColCount(static_cast<int>(headers.size()));
    for (int col = 0; col < headers.size(); ++col) {
        grid->setCell(col, 0, headers[col]);
        if (col < widths.size()) grid->setColWidth(col, widths[col]);
    }
    grid->flush();
}

void buildReadTagPage(ReadTagControls& c, TabSheet* page) {
    auto* layout = vbox(page, 2);

    auto* top = new QHBoxLayout;
    top->setSpacing(4);
    c.pcTagMain = named(new PageControl(page), "pcTagMain");
    c.tsCOM = named(new TabSheet(QStringLiteral("COM")), "tsCOM");
    c.tsNET = named(new TabSheet(QStringLiteral("TCP Server")), "tsNET");
    c.tsNetServer = named(new TabSheet(QStringLiteral("TCP Client")), "tsNetServer");
    c.tsUDP = named(new TabSheet(QStringLiteral("UDP")), "tsUDP");
    for (auto* s : {c.tsCOM, c.tsNET, c.tsNetServer, c.tsUDP}) c.pcTagMain->addSheet(s);
    buildComSheet(c);
    buildNetSheet(c);
    buildNetServerSheet(c);
    buildUdpSheet(c);
    top->addWidget(c.pcTagMain, 3);
    buildFunctionStrip(c, page);
    top->addWidget(c.pnlFun, 2);
    layout->addLayout(top);

    c.pcReadTag = named(new PageControl(page), "pcReadTag");
    c.tsViewAllTag = named(new TabSheet(QStringLiteral("View All TAG")), "tsViewAllTag");
    c.tsViewSelTag = named(new TabSheet(QStringLiteral("View Select TAG")), "tsViewSelTag");
    c.tsLinks = named(new TabSheet(QStringLiteral("Links")), "tsLinks");
    c.pcReadTag->addSheet(c.tsViewAllTag);
    c.pcReadTag->addSheet(c.tsViewSelTag);
    c.pcReadTag->addSheet(c.tsLinks);
    buildViewAllSheet(c);
    buildViewSelSheet(c);
    // The rows come from the run controller's Links view.
    c.grdLinks = named(new QTableView(c.tsLinks), "grdLinks");
    vbox(c.tsLinks, 2)->addWidget(c.grdLinks, 1);
    layout->addWidget(c.pcReadTag, 1);
}

} // namespace kelta
