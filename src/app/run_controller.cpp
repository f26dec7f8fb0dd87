#include "app/run_controller.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "app/links_view.h"
#include "app/progress_panel.h"
#include "app/tag_tables.h"
#include "monitor/proto/monitor_frame.h"
#include "monitor/tag_store.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/timings.h"
#include "reader/link_state.h"
#include "reader/reader_link.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QLocale>
#include <QScreen>
#include <QTimer>

namespace kelta::monitor {

namespace {

const QString kStart = QStringLiteral("Start");
const QString kStop = QStringLiteral("Stop");
const QString kSelectFunction = QStringLiteral("Select Function");

// Colour values are 0x00BBGGRR: 0xFFFF yellow, 0xFF red.
const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

// The text read as a decimal number; nullopt when it is not one.
std::optional<long long> decimalOf(const QString& text) {
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok, 10);
    if (!ok) return std::nullopt;
    return v;
}

// A port field shows the port used: its decimal number when that is a port (1 ... 65535),
// else 4001.
void normalisePort(QLineEdit* edit) {
    if (!edit) return;
    const auto v = decimalOf(edit->text());
    edit->setText(QString::number(v && *v >= 1 && *v <= 65535 ? *v : 4001));
}

void setEnabled(QWidget* w, bool on) {
    if (w) w->setEnabled(on);
}

void moveInto(QWidget* child, QWidget* holder) {
    if (!child || !holder || child->parentWidget() == holder) return;
    if (QLayout* l = holder->layout())
        l->addWidget(child);
    else
        child->setParent(holder);
    child->show();
}

void fitToWorkArea(QWidget& window) {
    window.move(0, 0);
    window.setWindowState(Qt::WindowNoState);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window.setGeometry(screen->availableGeometry());
}

} // namespace

RunController::RunController(TfrmModule& window, reader::LinkState& link, TagTables& tables,
                             CloseLinksFn closeLinks)
    : QObject(&window), w_(window), link_(link), tables_(tables),
      closeLinks_(std::move(closeLinks)), engine_(tables.store(), *this) {
    // The busy timer belongs to the run; it keeps the name the window's handlers know it by.
    busy_.setParent(this);
    busy_.setObjectName(QStringLiteral("tmrBusy"));
    busy_.setInterval(static_cast<int>(timing::kBusyTimerMs));
    buildControlTables();
    connectHandlers();
    publishing_.setProgram(QStringLiteral("kelta-utility"));
    publishing_.setLinkHealthSource([this] { return engine_.linkHealth(); });
    // What the broker says is shown where the file notices are.
    publishing_.setMessageHandler([this](publish::BrokerState, const QString& text) {
        if (w_.sbMain) w_.sbMain->setPanelText(1, text);
    });
    // The window's status follows a run ten times a second.
    engine_.setStatusIntervalMs(100);
    if (w_.grdLinks && w_.tsLinks)
        links_ = std::make_unique<LinksView>(*w_.grdLinks, *w_.tsLinks, engine_);
    // The first page was shown before this object existed, so its show handler never ran:
    // give pcMain the tag that handler sets, or connect events would take the configuration
    // role on the Read TAG page.
    if (w_.pcMain && w_.pcMain->activePage() == w_.tsReadTag) setTag(w_.pcMain, 2);
    // The listening configuration link takes ServerSocket over: the accepted monitoring readers
    // are forgotten.
    if (w_.readerLink) {
        const std::weak_ptr<bool> alive = alive_;
        w_.readerLink->setListenReset([this, alive] {
            if (alive.expired() || !*alive.lock()) return;
            engine_.networkLinks().resetAccepted();
            engine_.networkLinks().highestAcceptedReader = 0;
        });
    }
}

RunController::~RunController() {
    *alive_ = false;
    // A run still going ends with the window (its end steps need the controls no more).
    if (engine_.running()) engine_.stop();
    if (w_.readerLink) w_.readerLink->setListenReset({});
    w_.removeEventFilter(this);
    if (w_.pnlSel) w_.pnlSel->removeEventFilter(this);
}

void RunController::buildControlTables() {
    // Each check box or edit at the index equal to its tag; names "chkCOM", "chkIP" or "edIP"
    // followed by two characters.
    auto place = [](auto& table, QObject* control, const QString& prefix) {
        const QString name = control->objectName();
        if (!name.startsWith(prefix) || name.size() != prefix.size() + 2) return;
        const int t = tagOf(control);
        if (t >= 0 && t <= 31) table[static_cast<std::size_t>(t)] = control;
    };
    std::array<QObject*, 33> com{}, ip{}, ed{};
    for (QCheckBox* b : w_.findChildren<QCheckBox*>()) {
        place(com, b, QStringLiteral("chkCOM"));
        place(ip, b, QStringLiteral("chkIP"));
    }
    for (QLineEdit* e : w_.findChildren<QLineEdit*>()) place(ed, e, QStringLiteral("edIP"));
    for (std::size_t i = 0; i < 33; ++i) {
        chkCOM_[i] = qobject_cast<QCheckBox*>(com[i]);
        chkIP_[i] = qobject_cast<QCheckBox*>(ip[i]);
        edIP_[i] = qobject_cast<QLineEdit*>(ed[i]);
    }
}

RunConfig RunController::configFromControls() const {
    RunConfig c;
    c.linkMode = link_.linkMode;
    for (std::size_t i = 1; i < RunConfig::kSlots; ++i) {
        c.serialPorts[i] = chkCOM_[i] && chkCOM_[i]->isChecked();
        c.addressChecked[i] = chkIP_[i] && chkIP_[i]->isChecked();
        if (edIP_[i]) c.addresses[i] = edIP_[i]->text();
    }
    const auto port = [](const QLineEdit* e) {
        const auto v = e ? decimalOf(e->text()) : std::nullopt;
        return v && *v >= 1 && *v <= 65535 ? static_cast<int>(*v) : 4001;
    };
    c.remotePort = port(w_.edtTcpRemotePort);
    c.listenPort = port(w_.edtListenPort);
    c.mode = tagOf(w_.btnTagLog) == 1 ? DecodeMode::Log : DecodeMode::Live;
    if (const auto v = w_.edtLogID ? decimalOf(w_.edtLogID->text()) : std::nullopt;
        v && *v >= INT32_MIN && *v <= INT32_MAX)
        c.logReaderId = static_cast<int>(*v);
    c.autoSave = w_.chbAutoSave && w_.chbAutoSave->isChecked();
    if (w_.edtSaveFile) c.autoSaveFile = w_.edtSaveFile->text();
    if (w_.edtEvenLogFile) c.eventLogFile = w_.edtEvenLogFile->text();
    if (w_.lvSel)
        for (int i = 0; i < w_.lvSel->count(); ++i) c.selectedTags << w_.lvSel->item(i)->text();
    c.tagTimeoutSeconds = tables_.store().tagTimeout();
    c.beep = w_.cbxBeep && w_.cbxBeep->isChecked();
    return c;
}

QCheckBox* RunController::chkCOM(int n) const {
    return n >= 0 && n < 33 ? chkCOM_[static_cast<std::size_t>(n)] : nullptr;
}
QCheckBox* RunController::chkIP(int n) const {
    return n >= 0 && n < 33 ? chkIP_[static_cast<std::size_t>(n)] : nullptr;
}
QLineEdit* RunController::edIP(int n) const {
    return n >= 0 && n < 33 ? edIP_[static_cast<std::size_t>(n)] : nullptr;
}

void RunController::connectHandlers() {
    connect(w_.btnStart, &QPushButton::clicked, this, [this] { btnStartClick(w_.btnStart); });
    connect(w_.btnTagLog, &QPushButton::clicked, this, [this] { btnTagLogClick(); });
    connect(&busy_, &QTimer::timeout, this, [this] { tmrBusyTimer(); });
    connect(w_.cbxBeep, &QCheckBox::clicked, this, [this] { cbxBeepClick(); });
    connect(w_.tsReadTag, &TabSheet::shown, this, [this] { tsReadTagShow(); });
    connect(w_.tsSetReader, &TabSheet::shown, this, [this] { tsSetReaderShow(); });
    connect(w_.tsSetTAG, &TabSheet::shown, this, [this] { tsSetTAGShow(); });
    w_.pnlSel->installEventFilter(this);
    // Closing the window during a run: the run ends first, then the window closes.
    w_.installEventFilter(this);

    tables_.setSendMonitorCommand([this](std::uint16_t flags, std::uint16_t command, int readerId,
                                         std::span<const std::uint8_t> data) {
        return SendMonitorCommand(flags, command, readerId, data);
    });
    tables_.setRunStartTimeHook([this](const QDateTime& t) { engine_.setRunStartTime(t); });
    tables_.setStopRunHook([this] { stopRun(); });
}

bool RunController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == w_.pnlSel && event->type() == QEvent::Resize) {
        pnlSelResize();
    } else if (watched == &w_ && event->type() == QEvent::Close && runActive()) {
        // The run ends with its end steps (links closed, files closed, selection file
        // written) before the window closes.
        stopRun();
    }
    return QObject::eventFilter(watched, event);
}

QString RunController::runState() const {
    return state_ == RunState::Starting || state_ == RunState::Running ? kStop : kStart;
}

void RunController::setState(RunState state) {
    state_ = state;
    if (links_) links_->setRunActive(state != RunState::Idle);
    // The caption and hint of btnStart show the state; they are never read back.
    const QString& caption = runState();
    setHint(w_.btnStart, caption);
    setCaption(w_.btnStart, Translate(currentLanguageIndex(), caption));
    const bool idle = state == RunState::Idle;
    // Stop stays available while a run starts or runs; nothing more can be clicked while it
    // ends.
    setEnabled(w_.btnStart, state != RunState::Stopping);
    setEnabled(w_.btnClear, state != RunState::Stopping);
    for (QWidget* c : std::initializer_list<QWidget*>{w_.btnFile, w_.pcTagMain, w_.btnTagLog,
                                                      w_.btnExit01, w_.pnlSel_Bottom})
        setEnabled(c, idle);
    setEnabled(w_.pnlFun, idle || state == RunState::Running);
    if (idle || state == RunState::Stopping) {
        if (w_.gboxRSSI) w_.gboxRSSI->hide();
        busy_.stop();
    } else if (!busy_.isActive()) {
        busy_.start();
    }
}

void RunController::btnTagLogClick() {
    if (state_ != RunState::Idle) return;
    setTag(w_.btnTagLog, 1);
    btnStartClick(nullptr);
}

void RunController::btnStartClick(QObject* sender) {
    if (state_ == RunState::Starting || state_ == RunState::Running) {
        stopRun();
        return;
    }
    // A run ending cannot start another one.
    if (state_ != RunState::Idle) return;
    startRun(sender);
}

void RunController::stopRun() {
    if (state_ != RunState::Starting && state_ != RunState::Running) return;
    setState(RunState::Stopping);
    // Synchronous: runEnded has done the end steps when it returns.
    engine_.stop();
}

void RunController::startRun(QObject* sender) {
    const auto alive = alive_;
    startFailure_.clear();
    engine_.resetPassCount();
    setState(RunState::Starting);

    tables_.btnClearClick();
    if (!*alive) return;

    if (!sender) {
        w_.grdUID->hide();
        w_.grdUID_LOG->show();
        tables_.setCurrentTagGrid(w_.grdUID_LOG);
    } else {
        setTag(w_.btnTagLog, 0);
        w_.grdUID_LOG->hide();
        w_.grdUID->show();
        tables_.setCurrentTagGrid(w_.grdUID);
    }

    TabSheet* page = w_.pcTagMain->activePage();
    int mode = 1;
    TabSheet* linkPage = w_.tsComPort;
    if (page == w_.tsNET) {
        mode = 0;
        linkPage = w_.tsTcpServer;
    } else if (page == w_.tsNetServer) {
        mode = 2;
        linkPage = w_.tsTcpClient;
    }
    link_.linkMode = mode;
    if (w_.pcSetReadMain && linkPage) w_.pcSetReadMain->setActivePage(linkPage);

    storeStartSettings();
    if (auto store = platform::SettingsStore::open(false)) {
        const auto publishing = publish::RunPublishing::readConfig(*store);
        publishing_.start(publishing.config, publishing.problems);
    }
    // The log reader ID: edtLogID as a decimal number, 0 when it is not one.
    if (const auto v = decimalOf(w_.edtLogID->text()); !v || *v < INT32_MIN || *v > INT32_MAX)
        w_.edtLogID->setText(QStringLiteral("0"));
    const RunConfig config = configFromControls();

    setCaption(w_.pnlTime, QStringLiteral("0.0"));
    setCaption(w_.pnCount, QStringLiteral("0"));
    setTag(w_.pnCount, 0);

    w_.gboxRSSI->show();
    // The auto-save file is made ready (the previous one moved aside) and the links opened;
    // the run goes on in the event loop.
    if (!engine_.start(config)) {
        if (!*alive) return;
        // No reader can reach this run (its listening port is taken): it has ended, and the
        // status bar says why.
        w_.sbMain->setPanelText(0, startFailure_ + QStringLiteral(" The run was stopped."));
        BeepIfEnabled(300, 300);
        return;
    }
    setTag(w_.pnlTamper, 0);
    w_.pnlTamper->hide();
    w_.btnTemperReset->hide();
}

void RunController::runStarted() {
    if (state_ == RunState::Starting) setState(RunState::Running);
}

void RunController::linksFailed(const QString& reason) {
    startFailure_ = reason;
}

void RunController::runEnded() {
    endRun();
}

void RunController::passStarted(const QString& status) {
    w_.sbMain->setPanelText(0, status);
}

void RunController::passEnded(int tagRows) {
    if (tagRows >= 0 && tables_.currentTagGrid())
        setCaption(w_.pnlTagCount, QString::number(tagRows));
}

void RunController::beforeSweep() {
    tables_.store().setTagTimeout(tables_.normaliseTagTimeout());
}

void RunController::recordAccepted(const DecodedTagRecord& record, DecodeMode mode,
                                   const RecordOrigin& origin, const QDateTime& received) {
    // A tag log holds what a reader stored long ago: only live records are history.
    if (mode == DecodeMode::Live) history_.add(record.values, received);
    publishing_.record(record, mode, origin, received);
}

void RunController::presenceChanged(const PresenceChange& change) {
    publishing_.presence(change);
}

void RunController::tagLogProgress(const Progress& progress) {
    if (!w_.progressPanel) return;
    const auto alive = alive_;
    w_.progressPanel->show(progress, [this, alive] {
        if (*alive) cancelTagLog();
    });
}

void RunController::cancelTagLog() {
    if (state_ != RunState::Starting && state_ != RunState::Running) return;
    const auto alive = alive_;
    stopRun();
    if (!*alive || !w_.sbMain) return;
    // The last status stays, with what the cancel left.
    const QString cancelled =
        Translate(currentLanguageIndex(), QStringLiteral("TAG Log cancelled after %1 records."))
            .arg(QLocale(QLocale::English)
                     .toString(static_cast<qulonglong>(tables_.store().acceptedRecordCount())));
    w_.sbMain->setPanelText(0, w_.sbMain->panelText(0) + QStringLiteral("  ") + cancelled);
}

void RunController::endRun() {
    // The engine has closed the links and files; the views show the last records.
    if (w_.progressPanel) w_.progressPanel->end();
    setState(RunState::Stopping);
    tables_.flushViews();
    publishing_.stop();
    setTag(w_.btnTagLog, 0);
    setTag(w_.pnlTamper, 0);
    w_.pnlTamper->hide();
    w_.btnTemperReset->hide();
    setState(RunState::Idle);
}

void RunController::storeStartSettings() {
    auto store = platform::SettingsStore::open(true);
    if (!store) return;
    w_.edtTagFilter->setText(w_.edtTagFilter->text().trimmed());
    normalisePort(w_.edLocalPort);
    normalisePort(w_.edDesPort);
    normalisePort(w_.edtListenPort);
    normalisePort(w_.edtTcpRemotePort);
    if (w_.edtLisPort) w_.edtLisPort->setText(w_.edtListenPort->text());
    remotePortText_ = w_.edtTcpRemotePort->text();

    store->holdWrites();
    store->writeInteger(QStringLiteral("PAGE"), link_.linkMode);
    store->writeString(QStringLiteral("TagFilterUID"), w_.edtTagFilter->text());
    store->writeString(QStringLiteral("TcpRemotePort"), w_.edtTcpRemotePort->text());
    store->writeString(QStringLiteral("LocalPort"), w_.edLocalPort->text());
    store->writeString(QStringLiteral("DesPort"), w_.edDesPort->text());
    store->writeString(QStringLiteral("ListenPort"), w_.edtListenPort->text());
    for (int n = 1; n <= 32; ++n)
        if (QCheckBox* b = chkCOM(n))
            store->writeInteger(QStringLiteral("COM%1").arg(n), b->isChecked() ? 1 : 0);
    for (int n = 1; n <= 32; ++n)
        if (QCheckBox* b = chkIP(n))
            store->writeInteger(QStringLiteral("NET%1").arg(n), b->isChecked() ? 1 : 0);
    for (int n = 1; n <= 32; ++n)
        if (QLineEdit* e = edIP(n)) store->writeString(QStringLiteral("IP%1").arg(n), e->text());
    store->commit();
}

bool RunController::OpenMonitorLinks() {
    // The port fields are numbers from here on, 4001 for anything else.
    normalisePort(w_.edtTcpRemotePort);
    normalisePort(w_.edtListenPort);
    RunConfig c = configFromControls();
    engine_.setConfig(c);
    return engine_.OpenMonitorLinks();
}

void RunController::CloseMonitorLinks() {
    engine_.CloseMonitorLinks();
}

void RunController::writeFrame(std::span<const std::uint8_t> frame) {
    engine_.writeFrame(frame);
}

bool RunController::SendMonitorCommand(std::uint16_t flags, std::uint16_t command, int readerId,
                                       std::span<const std::uint8_t> data) {
    return engine_.SendMonitorCommand(flags, command, readerId, data);
}

void RunController::BeepIfEnabled(int hz, int ms) {
    if (w_.cbxBeep && w_.cbxBeep->isChecked()) platform::tone(hz, ms);
}

void RunController::beep(int hz, int ms) {
    BeepIfEnabled(hz, ms);
}

// --- What the links report -------------------------------------------------------------------

bool RunController::readTagPageShown() const {
    return w_.pcMain && w_.pcMain->activePage() == w_.tsReadTag;
}

void RunController::outgoingOpening() {
    if (w_.moTcpServer) w_.moTcpServer->clearLines();
}

void RunController::outgoingConnecting(int) {
    if (w_.PnlTcpServerView && w_.PnlTcpServerView->isHidden()) {
        w_.PnlTcpServerView->show();
        if (w_.pnlTcpServerSet) w_.pnlTcpServerSet->hide();
    }
}

bool RunController::claimConnection(QTcpSocket* socket) {
    // On the setting pages a connection made serves the configuration link.
    const TabSheet* page = w_.pcMain ? w_.pcMain->activePage() : nullptr;
    const int tag = tagOf(w_.pcMain);
    const bool settingPage = page == w_.tsSetReader || tag == 1 || page == w_.tsSetTAG || tag == 0;
    if (!settingPage && page == w_.tsReadTag) return false;
    link_.clientConn = socket;
    link_.linkOpen = true;
    return true;
}

void RunController::outgoingConnected(int, const QString& address, quint16 port) {
    const QString portText = QString::number(port);
    const QString line =
        QStringLiteral("Connected:") + address + QStringLiteral(" Port:") + portText;
    if (w_.moTcpServer && w_.moTcpServer->indexOfLine(line) < 0) w_.moTcpServer->addLine(line);
    if (w_.edtTcpServerIP) w_.edtTcpServerIP->setText(address);
    if (w_.edtTcpServerPort) w_.edtTcpServerPort->setText(portText);
}

void RunController::outgoingLost(QTcpSocket* socket) {
    if (link_.clientSocket && link_.clientConn == socket) link_.clientConn = nullptr;
    link_.linkOpen = false;
}

void RunController::outgoingDropped(QTcpSocket* socket) {
    if (socket && link_.clientConn == socket) link_.clientConn = nullptr;
}

void RunController::outgoingError(QTcpSocket*) {
    link_.linkOpen = false;
}

void RunController::outgoingClosing() {
    if (w_.PnlTcpServerView) w_.PnlTcpServerView->hide();
    if (w_.pnlTcpServerSet) w_.pnlTcpServerSet->show();
}

void RunController::listeningOpening(int port) {
    if (w_.pnlTcpClient) w_.pnlTcpClient->hide();
    if (w_.MemoClient1) w_.MemoClient1->clearLines();
    if (w_.MemoClient0) {
        w_.MemoClient0->clearLines();
        w_.MemoClient0->show();
    }
    // The configuration link's server gives the port up to the run's.
    if (w_.ServerSocket && w_.ServerSocket->isListening()) w_.ServerSocket->close();
    if (w_.edtLisPort && w_.edtListenPort) w_.edtLisPort->setText(w_.edtListenPort->text());
    w_.serverSocketPort = static_cast<quint16>(port);
}

bool RunController::takesConnections() {
    return readTagPageShown();
}

void RunController::readerAccepting(const QString& address) {
    if (w_.edtTcpClientIP) w_.edtTcpClientIP->setText(address);
}

void RunController::removeMemoLine(const QString& line) {
    // MemoClient0 lists each connection as address:port, MemoClient1 its bare address on the
    // same line number.
    if (!w_.MemoClient0 || line.isEmpty()) return;
    const int index = w_.MemoClient0->indexOfLine(line);
    if (index < 0) return;
    w_.MemoClient0->deleteLine(index);
    if (w_.MemoClient1 && index < w_.MemoClient1->lineCount()) w_.MemoClient1->deleteLine(index);
}

void RunController::readerReplaced(const QString& line) {
    removeMemoLine(line);
}

void RunController::readerAccepted(const QString& address, quint16 port) {
    const QString line = address + QLatin1Char(':') + QString::number(port);
    if (w_.MemoClient0 && w_.MemoClient0->indexOfLine(line) < 0) {
        w_.MemoClient0->addLine(line);
        if (w_.MemoClient1) w_.MemoClient1->addLine(address);
    }
}

void RunController::readerLost(const QString& line) {
    if (readTagPageShown()) removeMemoLine(line);
}

void RunController::fileFailure(const QString&) {
    // The tag tables show the file notice in the status bar as the store changes it.
}

void RunController::networkClosed() {
    if (w_.pnlTcpClient) w_.pnlTcpClient->show();
    if (w_.MemoClient1) w_.MemoClient1->clearLines();
    if (w_.MemoClient0) {
        w_.MemoClient0->clearLines();
        w_.MemoClient0->hide();
    }
}

void RunController::cbxBeepClick() {
    if (w_.pnlBeep) w_.pnlBeep->setFocus();
}

void RunController::pnlSelResize() {
    if (w_.pnlSel && w_.lvTag) w_.lvTag->setFixedWidth(w_.pnlSel->width() / 2);
}

void RunController::tmrBusyTimer() {
    if (tagOf(&busy_) == 1) {
        setTag(&busy_, 0);
        w_.shComm->setBrushColor(kYellow);
        w_.pnlTamper->setColor(kRed);
    } else {
        setTag(&busy_, 1);
        w_.shComm->setBrushColor(kRed);
        w_.pnlTamper->setColor(kYellow);
    }

    // A reader connected to the configuration server while no exchange runs: what it sends
    // unasked is thrown away.
    if (!link_.exchangeBusy && w_.pcMain->activePage() == w_.tsSetReader && w_.ServerSocket &&
        w_.ServerSocket->isListening() && link_.serverPeer &&
        link_.serverPeer->state() == QAbstractSocket::ConnectedState) {
        link_.serverPeer->readAll();
    }
}

bool RunController::closeLinks() {
    return closeLinks_ ? closeLinks_() : true;
}

void RunController::tsReadTagShow() {
    fitToWorkArea(w_);
    if (!runActive()) busy_.stop();
    closeLinks();
    setTag(w_.pcMain, 2);
}

void RunController::tsSetReaderShow() {
    const auto alive = alive_;
    if (w_.tag() == 1) {
        setCaption(w_.pnMsg, kSelectFunction);
        setCaption(w_.pnlTagMsg, kSelectFunction);
        for (Panel* p :
             {w_.pnReaderTypeName, w_.pnReaderSn, w_.pnReaderName, w_.pnReaderId, w_.pnReaderVer})
            setCaption(p, QString());
        setEnabled(w_.pcSetRead, false);
        setTag(w_.btnScanReader, 0);
        for (TabSheet* t : {w_.ts_ZigBee, w_.ts_DiDo, w_.ts_BtE, w_.ts_KR310E1, w_.ts_parameter})
            if (t) w_.pcSetRead->setTabShown(t, false);
        for (QWidget* b : std::initializer_list<QWidget*>{
                 w_.btnReset, w_.btnInitial, w_.btnID_GET, w_.btnID_SET, w_.btnGuestMode_SET,
                 w_.btnGuestMode_GET, w_.btnGuestRssi_SET, w_.btnGuestRssi_GET,
                 w_.btnModulePort_SET, w_.btnModulePort_GET, w_.btnGuestVer_SET, w_.btnGuestVer_GET,
                 w_.butGainLevel_SET, w_.btnGainLevel_GET})
            setEnabled(b, false);
    }
    // A run ends before a configuration page takes the links: the two never nest.
    stopRun();
    moveInto(w_.pcSetReadMain, w_.pnlSetReaderM);
    if (w_.pcSetRead && w_.ts_Guest) w_.pcSetRead->setActivePage(w_.ts_Guest);
    busy_.stop();
    closeLinks();
    if (!*alive) return;
    setTag(w_.pcMain, 1);
}

void RunController::tsSetTAGShow() {
    const auto alive = alive_;
    stopRun();
    setCaption(w_.pnMsg, kSelectFunction);
    setCaption(w_.pnlTagMsg, kSelectFunction);
    moveInto(w_.pcSetReadMain, w_.pnlSetTagM);
    if (w_.pcSetTag && w_.tsTagGuest) w_.pcSetTag->setActivePage(w_.tsTagGuest);
    busy_.stop();
    closeLinks();
    if (!*alive) return;
    setTag(w_.pcMain, 0);
}

} // namespace kelta::monitor
