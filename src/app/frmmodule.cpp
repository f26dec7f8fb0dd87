#include "app/frmmodule.h"

#include "app/history_charts.h"
#include "app/progress_panel.h"
#include "app/run_controller.h"
#include "app/setreader/set_reader_handlers.h"
#include "app/settag/settag_page.h"
#include "app/startup.h"
#include "app/tag_tables.h"
#include "app/window_link_view.h"
#include "platform/clock.h"
#include "platform/wait_pump.h"
#include "reader/reader_link.h"
#include "tag/tag_exchange.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

namespace kelta {

namespace {

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
    setProgramClosing(false);
    platform::setBeepSound([] { QApplication::beep(); });
    buildControls();
    prepareWindow();
    createSubsystems();
    FormCreate(*this);
}

// A close that reaches the window is final (a running monitoring run holds the close back
// until its end steps are done): every wait and exchange in progress gives up at once.
void TfrmModule::closeEvent(QCloseEvent* event) {
    setProgramClosing(true);
    FormClose(*this);
    event->accept();
}

void TfrmModule::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow(*this);
    }
}

void TfrmModule::createSubsystems() {
    progressPanel = std::make_unique<ProgressPanel>(*this, *this);
    linkView = std::make_unique<WindowLinkView>(*this);
    readerLink = std::make_unique<reader::ReaderLink>(*linkView, ServerSocket);
    tagTables = std::make_unique<monitor::TagTables>(*this, readerLink->state());
    runController = std::make_unique<monitor::RunController>(
        *this, readerLink->state(), *tagTables, [this] { return readerLink->CloseLinks(); });
    readerLink->setBeep([this](int hz, int ms) { runController->BeepIfEnabled(hz, ms); });
    setReader = std::make_unique<SetReaderHandlers>(*this);
    setTagPage = std::make_unique<SetTagPage>(*this, *readerLink);
    setTagPage->exchange().setBeep([this](int hz, int ms) {
        if (runController) runController->BeepIfEnabled(hz, ms);
    });
    historyCharts = std::make_unique<HistoryCharts>(*this, runController->history());
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
    PageControl* linkPages = pcSetReadMain;
    if (pcTagMain->sheetCount() > 0) pcTagMain->setActivePage(pcTagMain->sheet(0));
    pcTagMain->setActivePage(tsCOM);
    pcTagMain->setTabShown(tsUDP, false);
    linkPages->setTabShown(tsUdpServer, false);
    linkPages->setOwnerDraw(true);
    linkPages->setActiveTabColor(QColor(0, 0, 255));
    pcMain->setOwnerDraw(true);
    pcMain->setActiveTabColor(QColor(255, 0, 0));
    pcTagMain->setOwnerDraw(true);
    pcTagMain->setActiveTabColor(QColor(255, 0, 0));

    // 3. First pages.
    pcMain->setActivePage(tsReadTag);
    pcReadTag->setActivePage(tsViewAllTag);
    showPage(pcSetRead, ts_Guest);
    showPage(linkPages, tsComPort);
    pcTagMain->setActivePage(tsNET);

    // 4. Type boxes checked, beep off.
    for (auto* b : {chk01, chk02, chk03, chk04}) b->setChecked(true);
    cbxBeep->setChecked(false);
}

} // namespace kelta
