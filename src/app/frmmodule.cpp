#include "app/frmmodule.h"

#include <QGuiApplication>
#include <QScreen>

namespace kelta {

namespace {

// The link pages of the configuration link are built by their own page builder; the window
// reaches them only once they exist, so a builder still in progress leaves them alone.
template <class C> TabSheet* udpServerSheet(C& c) {
    if constexpr (requires { c.tsUdpServer; })
        return c.tsUdpServer;
    else
        return nullptr;
}
template <class C> PageControl* setReadMain(C& c) {
    if constexpr (requires { c.pcSetReadMain; })
        return c.pcSetReadMain;
    else
        return nullptr;
}
template <class C> TabSheet* comPortSheet(C& c) {
    if constexpr (requires { c.tsComPort; })
        return c.tsComPort;
    else
        return nullptr;
}
template <class C> PageControl* setReadPages(C& c) {
    if constexpr (requires { c.pcSetRead; })
        return c.pcSetRead;
    else
        return nullptr;
}
template <class C> TabSheet* guestSheet(C& c) {
    if constexpr (requires { c.ts_Guest; })
        return c.ts_Guest;
    else
        return nullptr;
}

void showPage(PageControl* pc, TabSheet* sheet) {
    if (pc && sheet) pc->setActivePage(sheet);
}

} // namespace

TfrmModule::TfrmModule(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmModule"));
    setWindowTitle(QStringLiteral("Kelta Utility_LR900 V0114 2014-04-28"));
    QFont f(QStringLiteral("Arial"));
    f.setBold(true);
    f.setPixelSize(13);
    setFont(f);
    buildControls();
    prepareWindow();
}

TfrmModule::~TfrmModule() = default;

void TfrmModule::buildControls() {
    buildShell(*this, this);
    buildReadTagPage(*this, tsReadTag);
    buildSetReaderPage(*this, tsSetReader);
    buildSetTagPage(*this, tsSetTAG);
}

void TfrmModule::prepareWindow() {
    // 1. Tag 0; top-left corner of the work area, sized to it.
    setTag(this, 0);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());

    // 2. First page of pcTagMain, then tsCOM; UDP tabs hidden; owner-drawn tabs.
    PageControl* linkPages = setReadMain(*this);
    if (pcTagMain->sheetCount() > 0) pcTagMain->setActivePage(pcTagMain->sheet(0));
    pcTagMain->setActivePage(tsCOM);
    pcTagMain->setTabShown(tsUDP, false);
    if (linkPages && udpServerSheet(*this)) linkPages->setTabShown(udpServerSheet(*this), false);
    if (linkPages) {
        linkPages->setOwnerDraw(true);
        linkPages->setActiveTabColor(QColor(0, 0, 255));
    }
    pcMain->setOwnerDraw(true);
    pcMain->setActiveTabColor(QColor(255, 0, 0));
    pcTagMain->setOwnerDraw(true);
    pcTagMain->setActiveTabColor(QColor(255, 0, 0));

    // 3. First pages.
    pcMain->setActivePage(tsReadTag);
    pcReadTag->setActivePage(tsViewAllTag);
    showPage(setReadPages(*this), guestSheet(*this));
    showPage(linkPages, comPortSheet(*this));
    pcTagMain->setActivePage(tsNET);

    // 4. Type boxes checked, beep off.
    for (auto* b : {chk01, chk02, chk03, chk04}) b->setChecked(true);
    cbxBeep->setChecked(false);
}

} // namespace kelta
