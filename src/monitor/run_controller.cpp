#include "monitor/run_controller.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "app/wait_pump.h"
#include "monitor/proto/monitor_frame.h"
#include "monitor/proto/report_decoder.h"
#include "monitor/tag_tables.h"
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

// A port field shows the port used: its number when that is a port, else 4001.
void normalisePort(QLineEdit* edit) {
    if (edit) NetworkLinks::normalisePortField(edit);
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
    : w_(window), link_(link), tables_(tables), closeLinks_(std::move(closeLinks)),
      serial_(
          [this](DecodeMode mode, std::string_view portName, std::span<const std::uint8_t> f) {
              return SplitReportBlock(mode, LinkKind::Serial, portName, f, tables_,
                                      [] { PumpEvents(); });
          },
          [] { PumpEvents(); }),
      net_(
          window, link, tables, [this](int n) { return chkIP(n); },
          [this](int n) { return edIP(n); }) {
    buildControlTables();
    connectHandlers();
    // Frames still held when Stop is clicked are not decoded: the run ends within its pass.
    const auto running = [this] {
        return runState() == kStop && !closePending_ && !programClosing();
    };
    serial_.setKeepGoing(running);
    net_.setKeepGoing(running);
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
            net_.resetAccepted();
            net_.highestAcceptedReader = 0;
        });
    }
}

RunController::~RunController() {
    *alive_ = false;
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
    for (int n = 1; n <= SerialLinks::kHighestPort; ++n)
        serial_.setCheckBox(n, chkCOM_[static_cast<std::size_t>(n)]);
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
    connect(w_.tmrBusy, &QTimer::timeout, this, [this] { tmrBusyTimer(); });
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
    tables_.setRunStartTimeHook([this](const QDateTime& t) { runStartTime_ = t; });
    tables_.setStopRunHook([this] { btnStartClick(nullptr); });
}

bool RunController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == w_.pnlSel && event->type() == QEvent::Resize) {
        pnlSelResize();
    } else if (watched == &w_ && event->type() == QEvent::Close && active_) {
        // The loop is suspended somewhere below this event: let it run its end steps (links
        // closed, files closed, selection file written) and close the window afterwards.
        event->ignore();
        closePending_ = true;
        if (runState() == kStop) btnStartClick(nullptr);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

QString RunController::runState() const {
    return hintOf(w_.btnStart);
}

QString RunController::statusText(std::uint64_t acceptedRecords, std::int64_t seconds) {
    return QStringLiteral("      %1 / %2 sec")
        .arg(static_cast<qulonglong>(acceptedRecords), 10, 10, QLatin1Char('0'))
        .arg(static_cast<qlonglong>(seconds), 8, 10, QLatin1Char('0'));
}

void RunController::btnTagLogClick() {
    setEnabled(w_.btnExit01, false);
    setEnabled(w_.pnlFun, false);
    PumpEvents();
    setTag(w_.btnTagLog, 1);
    setEnabled(w_.btnTagLog, false);
    PumpEvents();
    btnStartClick(nullptr);
}

void RunController::btnStartClick(QObject* sender) {
    setEnabled(w_.btnExit01, false);
    setEnabled(w_.pnlFun, false);
    setEnabled(w_.btnTagLog, false);
    if (runState() == kStop) {
        requestStop();
        return;
    }
    // A run still running its end steps cannot start another one inside itself.
    if (active_) return;
    startRun(sender);
}

void RunController::requestStop() {
    if (w_.gboxRSSI) w_.gboxRSSI->hide();
    setEnabled(w_.btnStart, false);
    setEnabled(w_.btnClear, false);
    setHint(w_.btnStart, kStart);
    setCaption(w_.btnStart, Translate(currentLanguageIndex(), kStart));
}

void RunController::startRun(QObject* sender) {
    active_ = true;
    passes_ = 0;
    const auto alive = alive_;

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

    setHint(w_.btnStart, kStop);
    setCaption(w_.btnStart, Translate(currentLanguageIndex(), kStop));

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
    prepareAutoSaveFile();

    setCaption(w_.pnlTime, QStringLiteral("0.0"));
    setCaption(w_.pnCount, QStringLiteral("0"));
    setTag(w_.pnCount, 0);

    const bool opened = OpenMonitorLinks();
    if (!*alive) return;
    if (!opened) {
        // No reader can reach this run (its listening port is taken): it ends at once, and
        // the status bar says why.
        const QString why = net_.listenFailure();
        requestStop();
        endRun();
        if (!*alive) return;
        w_.sbMain->setPanelText(0, why + QStringLiteral(" The run was stopped."));
        BeepIfEnabled(300, 300);
        return;
    }

    w_.gboxRSSI->show();
    setEnabled(w_.pnlFun, true);
    setEnabled(w_.pcTagMain, false);
    setEnabled(w_.btnFile, false);
    setEnabled(w_.pnlSel_Bottom, false);
    w_.tmrBusy->start();

    writeFrame(linkModeAnnouncement(mode == 0));
    PumpEvents();
    WaitPump(timing::kOpenLinksSettleMs, 2);
    PumpEvents();
    if (!*alive) return;

    setTag(w_.pnlTamper, 0);
    w_.pnlTamper->hide();
    w_.btnTemperReset->hide();
    tables_.resetCounters();
    runStartTime_ = QDateTime::currentDateTime();

    runLoop();
}

void RunController::runLoop() {
    const auto alive = alive_;
    const DecodeMode mode = tagOf(w_.btnTagLog) == 1 ? DecodeMode::Log : DecodeMode::Live;

    // The log reader ID: edtLogID as a decimal number, 0 when it is not one.
    int logReaderId = 0;
    if (const auto v = decimalOf(w_.edtLogID->text()); v && *v >= INT32_MIN && *v <= INT32_MAX)
        logReaderId = static_cast<int>(*v);
    else
        w_.edtLogID->setText(QStringLiteral("0"));
    bool previousPoll = false;

    // A close of the window asked for while the run was starting ends it before the first pass.
    while (runState() == kStop && !programClosing() && !closePending_) {
        ++passes_;
        const qint64 seconds = runStartTime_.secsTo(QDateTime::currentDateTime());
        w_.sbMain->setPanelText(0, statusText(tables_.acceptedRecordCount(), seconds));

        if (mode == DecodeMode::Log) {
            // A pass that found nothing waits before the next request: the reader needs the
            // time to send its next block.
            if (!previousPoll) {
                platform::sleepMs(timing::kTagLogIdleMs);
                PumpEvents();
                if (!*alive) return;
            }
            writeFrame(tagLogCommand(logReaderId));
            PumpEvents();
            platform::sleepMs(timing::kLoopSleepMs);
            PumpEvents();
            if (!*alive) return;
        }

        previousPoll = PollMonitorLinks(mode);
        if (!*alive) return;

        if (w_.lvSel->count() > 0) tables_.absenceSweep();

        if (StringGrid* g = tables_.currentTagGrid())
            setCaption(w_.pnlTagCount, QString::number(g->rowCount() - 1));

        platform::sleepMs(timing::kLoopSleepMs);
        PumpEvents();
        if (!*alive) return;
    }
    endRun();
}

void RunController::endRun() {
    const auto alive = alive_;
    CloseMonitorLinks();
    w_.tmrBusy->stop();
    PumpEvents();
    if (!*alive) return;

    tables_.closeFiles();
    tables_.saveSelectionFile();
    tables_.flushViews();

    w_.tmrBusy->stop();
    setTag(w_.btnTagLog, 0);
    setEnabled(w_.btnTagLog, true);
    if (runState() == kStop) requestStop(); // ended by the program closing, not by a click
    setHint(w_.btnStart, kStart);
    for (QWidget* c :
         std::initializer_list<QWidget*>{w_.btnFile, w_.pcTagMain, w_.btnStart, w_.btnClear,
                                         w_.btnExit01, w_.pnlFun, w_.pnlSel_Bottom})
        setEnabled(c, true);
    setTag(w_.pnlTamper, 0);
    w_.pnlTamper->hide();
    w_.btnTemperReset->hide();
    active_ = false;

    if (closePending_) {
        closePending_ = false;
        QPointer<TfrmModule> window(&w_);
        QTimer::singleShot(0, &w_, [window] {
            if (window) window->close();
        });
    }
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

void RunController::prepareAutoSaveFile() {
    if (!w_.chbAutoSave->isChecked()) {
        tables_.notePreviousAutoSaveFile({}, {});
        return;
    }
    const QString path = w_.edtSaveFile->text();
    // A folder that cannot be made does not send the records to another file: the name stays
    // and the first line that cannot be written is shown as such.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir(folder).exists()) platform::createFolders(folder);
    // The run starts a fresh file with its header; the previous run's file is kept beside it
    // under a name with its date and time.
    QString error;
    const QString kept = platform::moveAside(path, &error);
    tables_.notePreviousAutoSaveFile(kept, error);
}

bool RunController::OpenMonitorLinks() {
    CloseMonitorLinks();
    net_.highestReaderConnection = 0;
    net_.startedConnections = 0;
    net_.connectedReaders = 0;
    net_.highestAcceptedReader = 0;
    serial_.setHighestSerialPort(0);
    pollCursor_ = 0;
    bool opened = true;
    if (link_.linkMode == 0 || link_.linkMode == 2)
        opened = net_.OpenNetworkLinks(link_.linkMode);
    else
        serial_.OpenSerialLinks();
    if (!opened) return false;
    WaitPump(timing::kOpenLinksSettleMs, 10);
    PumpEvents();
    return true;
}

void RunController::CloseMonitorLinks() {
    net_.CloseNetworkLinks();
    serial_.CloseSerialLinks(link_.linkMode == 1);
    net_.highestReaderConnection = 0;
    serial_.setHighestSerialPort(0);
    net_.highestAcceptedReader = 0;
    PumpEvents();
}

bool RunController::PollMonitorLinks(DecodeMode mode) {
    if (link_.linkMode == 0 || link_.linkMode == 2) return net_.PollNetworkLink(mode, pollCursor_);
    return serial_.PollSerialLink(mode, pollCursor_);
}

void RunController::writeFrame(std::span<const std::uint8_t> frame) {
    if (link_.linkMode == 0 || link_.linkMode == 2)
        net_.WriteNetworkLinks(frame);
    else
        serial_.WriteSerialLinks(frame);
}

bool RunController::SendMonitorCommand(std::uint16_t flags, std::uint16_t command, int readerId,
                                       std::span<const std::uint8_t> data) {
    const auto frame = BuildMonitorCommand(flags, command, readerId, data);
    if (!frame) return false;
    writeFrame(*frame);
    PumpEvents();
    return true;
}

void RunController::BeepIfEnabled(int hz, int ms) {
    if (w_.cbxBeep && w_.cbxBeep->isChecked()) platform::tone(hz, ms);
}

void RunController::cbxBeepClick() {
    if (w_.pnlBeep) w_.pnlBeep->setFocus();
}

void RunController::pnlSelResize() {
    if (w_.pnlSel && w_.lvTag) w_.lvTag->setFixedWidth(w_.pnlSel->width() / 2);
}

void RunController::tmrBusyTimer() {
    if (tagOf(w_.tmrBusy) == 1) {
        setTag(w_.tmrBusy, 0);
        w_.shComm->setBrushColor(kYellow);
        w_.pnlTamper->setColor(kRed);
    } else {
        setTag(w_.tmrBusy, 1);
        w_.shComm->setBrushColor(kRed);
        w_.pnlTamper->setColor(kYellow);
    }

    // A reader connected to the configuration server while no exchange runs: what it sends
    // unasked is thrown away.
    if (!link_.exchangeBusy && w_.pcMain->activePage() == w_.tsSetReader && w_.ServerSocket &&
        w_.ServerSocket->isListening() && link_.serverPeer &&
        link_.serverPeer->state() == QAbstractSocket::ConnectedState) {
        link_.serverPeer->readAll();
        PumpEvents();
    }
}

bool RunController::closeLinks() {
    return closeLinks_ ? closeLinks_() : true;
}

void RunController::tsReadTagShow() {
    fitToWorkArea(w_);
    PumpEvents();
    w_.tmrBusy->stop();
    closeLinks();
    PumpEvents();
    setTag(w_.pcMain, 2);
}

void RunController::tsSetReaderShow() {
    const auto alive = alive_;
    PumpEvents();
    if (!*alive) return;
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
    PumpEvents();
    if (!*alive) return;
    if (runState() == kStop) btnStartClick(nullptr);
    PumpEvents();
    if (!*alive) return;
    moveInto(w_.pcSetReadMain, w_.pnlSetReaderM);
    if (w_.pcSetRead && w_.ts_Guest) w_.pcSetRead->setActivePage(w_.ts_Guest);
    w_.tmrBusy->stop();
    closeLinks();
    PumpEvents();
    if (!*alive) return;
    setTag(w_.pcMain, 1);
    PumpEvents();
}

void RunController::tsSetTAGShow() {
    const auto alive = alive_;
    if (runState() == kStop) btnStartClick(nullptr);
    PumpEvents();
    if (!*alive) return;
    setCaption(w_.pnMsg, kSelectFunction);
    setCaption(w_.pnlTagMsg, kSelectFunction);
    moveInto(w_.pcSetReadMain, w_.pnlSetTagM);
    if (w_.pcSetTag && w_.tsTagGuest) w_.pcSetTag->setActivePage(w_.tsTagGuest);
    w_.tmrBusy->stop();
    closeLinks();
    PumpEvents();
    if (!*alive) return;
    setTag(w_.pcMain, 0);
    PumpEvents();
}

} // namespace kelta::monitor
