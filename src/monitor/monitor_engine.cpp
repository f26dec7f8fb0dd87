#include "monitor/monitor_engine.h"

#include "monitor/proto/monitor_frame.h"
#include "monitor/proto/report_decoder.h"
#include "monitor/tag_store.h"
#include "platform/clock.h"
#include "platform/timings.h"
#include "platform/wait_pump.h"

namespace kelta::monitor {

MonitorEngine::MonitorEngine(TagStore& store, MonitorEvents& events)
    : store_(store), events_(events),
      serial_(
          [this](DecodeMode mode, std::string_view portName, std::span<const std::uint8_t> f) {
              return SplitReportBlock(mode, LinkKind::Serial, portName, f, store_,
                                      [] { PumpEvents(); });
          },
          [] { PumpEvents(); }),
      net_(store, events) {
    // Frames still held when the run is to end are not decoded: it ends within its pass.
    serial_.setKeepGoing([this] { return keepGoing(); });
    net_.setKeepGoing([this] { return keepGoing(); });
    // What the files say goes to whoever listened to the store before, and to the events.
    previousNoticeHook_ = store_.fileNoticeHook();
    store_.setFileNoticeHook([this](const QString& notice) {
        if (previousNoticeHook_) previousNoticeHook_(notice);
        events_.fileFailure(notice);
    });
    store_.setRecordHook(
        [this](const DecodedTagRecord& record, DecodeMode mode, const QDateTime& received) {
            events_.recordAccepted(record, mode, originOf(record), received);
        });
    store_.setPresenceHook([this](const PresenceChange& c) { events_.presenceChanged(c); });
}

MonitorEngine::~MonitorEngine() {
    *alive_ = false;
    store_.setFileNoticeHook(std::move(previousNoticeHook_));
    store_.setRecordHook({});
    store_.setPresenceHook({});
}

RecordOrigin MonitorEngine::originOf(const DecodedTagRecord& record) const {
    RecordOrigin o;
    o.linkMode = config_.linkMode;
    const QString link = QString::fromStdString(record.link);
    if (config_.linkMode == RunConfig::kOutgoingTcp)
        o.link = link + QLatin1Char(':') + QString::number(config_.remotePort);
    else if (config_.linkMode == RunConfig::kListeningTcp)
        o.link = link;
    else
        o.link = QStringLiteral("COM") + QString::number(link.toInt());
    return o;
}

bool MonitorEngine::keepGoing() const {
    return !stopRequested_ && !programClosing() && (!keepGoing_ || keepGoing_());
}

QString MonitorEngine::statusText(std::uint64_t acceptedRecords, std::int64_t seconds) {
    return QStringLiteral("      %1 / %2 sec")
        .arg(static_cast<qulonglong>(acceptedRecords), 10, 10, QLatin1Char('0'))
        .arg(static_cast<qlonglong>(seconds), 8, 10, QLatin1Char('0'));
}

void MonitorEngine::setConfig(const RunConfig& config) {
    config_ = config;
    for (int n = 1; n <= SerialLinks::kHighestPort; ++n)
        serial_.setPortChecked(n, config_.serialPorts[static_cast<std::size_t>(n)]);
    net_.setConfig(config_);
}

void MonitorEngine::run(const RunConfig& config) {
    const auto alive = alive_;
    // As the window's Start does: the tables emptied, one selection row per selected tag, and
    // the records go to the table of the run's mode.
    store_.setSelection(config.selectedTags);
    store_.clear(liveColumnKeys(), logColumnKeys(), selectionColumnKeys());
    store_.setCurrentTable(config.mode == DecodeMode::Log ? &store_.logTable()
                                                          : &store_.liveTable());
    open(config);
    if (!*alive) return;
    if (!linksOpened_) {
        // Nothing can reach this run: it ends at once, and says why.
        events_.linksFailed(openFailure_);
        finish();
        return;
    }
    announce();
    if (!*alive) return;
    loop();
    if (!*alive) return;
    finish();
}

QString MonitorEngine::open(const RunConfig& config) {
    running_ = true;
    stopRequested_ = false;
    passes_ = 0;
    setConfig(config);
    store_.setAutoSave(config.autoSave);
    store_.setAutoSavePath(config.autoSaveFile);
    store_.setEventLogPath(config.eventLogFile);
    store_.setRotation(config.rotation);
    store_.setSelection(config.selectedTags);
    store_.setTagTimeout(config.tagTimeoutSeconds);
    QString saveName = config.autoSaveFile;
    if (config.autoSave)
        saveName = store_.prepareAutoSaveFile();
    else
        store_.notePreviousAutoSaveFile({}, {});
    config_.autoSaveFile = saveName;
    OpenMonitorLinks();
    return saveName;
}

void MonitorEngine::announce() {
    const auto alive = alive_;
    writeFrame(linkModeAnnouncement(config_.linkMode == RunConfig::kOutgoingTcp));
    PumpEvents();
    WaitPump(timing::kOpenLinksSettleMs, 2);
    PumpEvents();
    if (!*alive) return;
    store_.resetCounters();
    runStartTime_ = QDateTime::currentDateTime();
}

void MonitorEngine::loop() {
    const auto alive = alive_;
    const DecodeMode mode = config_.mode;
    bool previousPoll = false;

    // A stop asked for while the run was starting ends it before the first pass.
    while (keepGoing()) {
        ++passes_;
        const qint64 seconds = runStartTime_.secsTo(QDateTime::currentDateTime());
        events_.passStarted(statusText(store_.acceptedRecordCount(), seconds));

        if (mode == DecodeMode::Log) {
            // A pass that found nothing waits before the next request: the reader needs the
            // time to send its next block.
            if (!previousPoll) {
                platform::sleepMs(timing::kTagLogIdleMs);
                PumpEvents();
                if (!*alive) return;
            }
            writeFrame(tagLogCommand(config_.logReaderId));
            PumpEvents();
            platform::sleepMs(timing::kLoopSleepMs);
            PumpEvents();
            if (!*alive) return;
        }

        previousPoll = PollMonitorLinks(mode);
        if (!*alive) return;

        if (!store_.selection().isEmpty()) {
            events_.beforeSweep();
            store_.absenceSweep();
        }

        const CellTable* t = store_.currentTable();
        events_.passEnded(t ? t->rows() - 1 : -1);

        platform::sleepMs(timing::kLoopSleepMs);
        PumpEvents();
        if (!*alive) return;
    }
}

void MonitorEngine::finish() {
    const auto alive = alive_;
    CloseMonitorLinks();
    if (!*alive) return;
    store_.closeFiles();
    store_.saveSelectionFile();
    running_ = false;
}

bool MonitorEngine::OpenMonitorLinks() {
    CloseMonitorLinks();
    net_.highestReaderConnection = 0;
    net_.startedConnections = 0;
    net_.connectedReaders = 0;
    net_.highestAcceptedReader = 0;
    serial_.setHighestSerialPort(0);
    pollCursor_ = 0;
    linksOpened_ = true;
    openFailure_.clear();
    if (config_.linkMode == RunConfig::kOutgoingTcp || config_.linkMode == RunConfig::kListeningTcp)
        linksOpened_ = net_.OpenNetworkLinks(config_.linkMode);
    else {
        serial_.OpenSerialLinks();
        for (int n = 1; n <= SerialLinks::kHighestPort; ++n)
            if (serial_.isOpen(n)) events_.serialOpened(n);
    }
    if (!linksOpened_) {
        openFailure_ = net_.listenFailure();
        return false;
    }
    WaitPump(timing::kOpenLinksSettleMs, 10);
    PumpEvents();
    return true;
}

void MonitorEngine::CloseMonitorLinks() {
    net_.CloseNetworkLinks();
    serial_.CloseSerialLinks(config_.linkMode == RunConfig::kSerial);
    net_.highestReaderConnection = 0;
    serial_.setHighestSerialPort(0);
    net_.highestAcceptedReader = 0;
    PumpEvents();
}

bool MonitorEngine::PollMonitorLinks(DecodeMode mode) {
    if (config_.linkMode == RunConfig::kOutgoingTcp || config_.linkMode == RunConfig::kListeningTcp)
        return net_.PollNetworkLink(mode, pollCursor_);
    return serial_.PollSerialLink(mode, pollCursor_);
}

void MonitorEngine::writeFrame(std::span<const std::uint8_t> frame) {
    if (config_.linkMode == RunConfig::kOutgoingTcp || config_.linkMode == RunConfig::kListeningTcp)
        net_.WriteNetworkLinks(frame);
    else
        serial_.WriteSerialLinks(frame);
}

bool MonitorEngine::SendMonitorCommand(std::uint16_t flags, std::uint16_t command, int readerId,
                                       std::span<const std::uint8_t> data) {
    const auto frame = BuildMonitorCommand(flags, command, readerId, data);
    if (!frame) return false;
    writeFrame(*frame);
    PumpEvents();
    return true;
}

void MonitorEngine::beep(int hz, int ms) {
    if (config_.beep) events_.beep(hz, ms);
}

} // namespace kelta::monitor
