#include "monitor/monitor_engine.h"

#include "monitor/proto/monitor_frame.h"
#include "monitor/proto/report_decoder.h"
#include "monitor/tag_store.h"
#include "platform/timings.h"
#include "platform/translation.h"

#include <QLocale>

namespace kelta::monitor {

namespace {

// Links open: ten settling steps of 50 ms before the announcement; two after it.
constexpr int kSettleSteps = 10;
constexpr int kAnnouncedSteps = 2;
// How often a run with a selection looks for tags gone silent.
constexpr int kSweepMs = 100;
// A tag-log request's answer is looked for after the reader's time to send a block (the
// pause after the request and the serial line's wait for bytes).
constexpr int kLogAnswerMs = static_cast<int>(
    2 * timing::kLoopSleepMs + timing::kSerialPollAttempts * timing::kSerialPollSleepMs);

// Tag-log requests in a row answered by nothing, after which the readers count as done.
constexpr int kLogQuietRequests = 3;

QString recordCount(std::uint64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(n));
}

int portNumber(std::string_view name) {
    int n = 0;
    for (const char c : name)
        if (c >= '0' && c <= '9') n = n * 10 + (c - '0');
    return n;
}

} // namespace

MonitorEngine::MonitorEngine(TagStore& store, MonitorEvents& events)
    : store_(store), events_(events),
      serial_([this](DecodeMode mode, std::string_view portName, std::span<const std::uint8_t> f) {
          return serialFrame(mode, portName, f);
      }),
      net_(store, events) {
    // Frames still held when the run is to end are not decoded.
    serial_.setKeepGoing([this] { return receiving(); });
    net_.setKeepGoing([this] { return phase_ != Phase::Idle && !stopping_; });
    net_.setOnSettled([this] {
        if (phase_ == Phase::Opening) settle();
    });
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

    phaseTimer_.setSingleShot(true);
    connect(&phaseTimer_, &QTimer::timeout, this, [this] {
        if (phase_ == Phase::Opening)
            settle();
        else if (phase_ == Phase::Settling)
            announce();
        else if (phase_ == Phase::Announced)
            beginReceiving();
    });
    connect(&statusTimer_, &QTimer::timeout, this, [this] { statusTick(); });
    connect(&sweepTimer_, &QTimer::timeout, this, [this] { sweepTick(); });
    logTimer_.setSingleShot(true);
    connect(&logTimer_, &QTimer::timeout, this, [this] { logTick(); });
    connect(&reopenTimer_, &QTimer::timeout, this, [this] { reopenTick(); });
}

MonitorEngine::~MonitorEngine() {
    *alive_ = false;
    if (running()) {
        // Whoever listened may be going too: the end is not reported.
        phase_ = Phase::Idle;
        CloseMonitorLinks();
        store_.closeFiles();
    }
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

void MonitorEngine::prepareStore(const RunConfig& config) {
    store_.setSelection(config.selectedTags);
    store_.clear(liveColumnKeys(), logColumnKeys(), selectionColumnKeys());
    store_.setCurrentTable(config.mode == DecodeMode::Log ? &store_.logTable()
                                                          : &store_.liveTable());
}

bool MonitorEngine::serialFrame(DecodeMode mode, std::string_view portName,
                                std::span<const std::uint8_t> frame) {
    LinkCounters& counters = serial_.counters(portNumber(portName));
    CountingSink sink(store_, counters);
    const bool r = SplitReportBlock(mode, LinkKind::Serial, portName, frame, sink);
    if (!r) ++counters.framesRejected;
    return r;
}

bool MonitorEngine::start(const RunConfig& config) {
    if (running()) stop();
    const auto alive = alive_;
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

    phase_ = Phase::Opening;
    stopping_ = false;
    OpenMonitorLinks();
    if (!*alive) return false;
    if (!linksOpened_) {
        // Nothing can reach this run: it ends at once, and says why.
        events_.linksFailed(openFailure_);
        if (!*alive) return false;
        stop();
        return false;
    }
    if (phase_ != Phase::Opening) return phase_ != Phase::Idle; // stopped meanwhile
    if (config_.linkMode == RunConfig::kOutgoingTcp && !net_.outgoingSettled())
        phaseTimer_.start(static_cast<int>(timing::scaled(timing::kConnectTimeoutMs)));
    else
        settle();
    return true;
}

void MonitorEngine::settle() {
    phase_ = Phase::Settling;
    phaseTimer_.start(static_cast<int>(timing::kOpenLinksSettleMs) * kSettleSteps);
}

void MonitorEngine::announce() {
    const auto alive = alive_;
    writeFrame(linkModeAnnouncement(config_.linkMode == RunConfig::kOutgoingTcp));
    if (!*alive || phase_ != Phase::Settling) return;
    phase_ = Phase::Announced;
    phaseTimer_.start(static_cast<int>(timing::kOpenLinksSettleMs) * kAnnouncedSteps);
}

void MonitorEngine::beginReceiving() {
    const auto alive = alive_;
    store_.resetCounters();
    runStartTime_ = QDateTime::currentDateTime();
    phase_ = Phase::Running;
    events_.runStarted();
    if (!*alive || !receiving()) return;
    // The first status at once, so that whoever waits for the run sees it going.
    statusTick();
    if (!*alive || !receiving()) return;
    if (statusIntervalMs_ > 0) statusTimer_.start(statusIntervalMs_);
    if (!store_.selection().isEmpty()) sweepTimer_.start(kSweepMs);
    if (config_.serial())
        reopenTimer_.start(static_cast<int>(timing::scaled(timing::kSerialReopenCheckMs)));
    if (config_.mode == DecodeMode::Log) {
        logAwaiting_ = false;
        quietLogRequests_ = 0;
        logProgressShown_ = false;
        reportLogProgress();
        if (!*alive || !receiving()) return;
        logTimer_.start(static_cast<int>(timing::kTagLogIdleMs));
    }
    // What came while the run settled is read now, and from here on as it arrives.
    if (config_.serial())
        serial_.startDelivering(config_.mode);
    else
        net_.startServing(config_.mode);
}

void MonitorEngine::statusTick() {
    if (!receiving()) return;
    ++passes_;
    reportStatus();
}

void MonitorEngine::reportStatus() {
    const auto alive = alive_;
    const qint64 seconds = runStartTime_.secsTo(QDateTime::currentDateTime());
    events_.passStarted(statusText(store_.acceptedRecordCount(), seconds));
    if (!*alive || !receiving()) return;
    const CellTable* t = store_.currentTable();
    events_.passEnded(t ? t->rows() - 1 : -1);
}

void MonitorEngine::sweepTick() {
    if (!receiving() || store_.selection().isEmpty()) return;
    const auto alive = alive_;
    events_.beforeSweep();
    if (!*alive || !receiving()) return;
    store_.absenceSweep();
}

void MonitorEngine::logTick() {
    if (!receiving()) return;
    if (logAwaiting_) {
        // A request that brought records is followed by the next one at once; one that
        // brought nothing gives the reader time for its next block.
        logAwaiting_ = false;
        const bool answered = store_.acceptedRecordCount() != recordsAtRequest_;
        quietLogRequests_ = answered ? 0 : quietLogRequests_ + 1;
        logTimer_.start(static_cast<int>(answered ? timing::kLoopSleepMs : timing::kTagLogIdleMs));
        reportLogProgress();
        return;
    }
    recordsAtRequest_ = store_.acceptedRecordCount();
    writeFrame(tagLogCommand(config_.logReaderId));
    logAwaiting_ = true;
    logTimer_.start(kLogAnswerMs);
}

void MonitorEngine::reportLogProgress() {
    const std::uint64_t records = store_.acceptedRecordCount();
    const bool finished = quietLogRequests_ >= kLogQuietRequests;
    if (logProgressShown_ && records == loggedRecords_ && finished == loggedFinished_) return;
    logProgressShown_ = true;
    loggedRecords_ = records;
    loggedFinished_ = finished;
    Progress p;
    p.done = static_cast<long long>(records);
    p.finished = finished;
    p.total = finished ? p.done : 0;
    const int lang = currentLanguageIndex();
    p.step = finished
                 ? Translate(lang, QStringLiteral("TAG Log: %1 records, the reader sent no more"))
                       .arg(recordCount(records))
                 : Translate(lang, QStringLiteral("TAG Log: %1 records")).arg(recordCount(records));
    events_.tagLogProgress(p);
}

void MonitorEngine::reopenTick() {
    if (!receiving()) return;
    serial_.reopenLostPorts();
    serial_.drainResting();
}

void MonitorEngine::stop() {
    if (phase_ == Phase::Idle || stopping_) return;
    const auto alive = alive_;
    // The last status shows what the run ends with.
    if (receiving()) reportStatus();
    if (!*alive || phase_ == Phase::Idle || stopping_) return;
    stopping_ = true;
    phaseTimer_.stop();
    statusTimer_.stop();
    sweepTimer_.stop();
    logTimer_.stop();
    reopenTimer_.stop();
    serial_.stopDelivering();
    endedHealthAt_ = QDateTime::currentDateTime();
    endedHealth_ = linkHealth();
    CloseMonitorLinks();
    if (!*alive) return;
    store_.closeFiles();
    store_.saveSelectionFile();
    phase_ = Phase::Idle;
    stopping_ = false;
    events_.runEnded();
}

bool MonitorEngine::OpenMonitorLinks() {
    CloseMonitorLinks();
    net_.highestReaderConnection = 0;
    net_.startedConnections = 0;
    net_.connectedReaders = 0;
    net_.highestAcceptedReader = 0;
    serial_.setHighestSerialPort(0);
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
    return true;
}

void MonitorEngine::CloseMonitorLinks() {
    serial_.stopDelivering();
    net_.CloseNetworkLinks();
    serial_.CloseSerialLinks(config_.linkMode == RunConfig::kSerial);
    net_.highestReaderConnection = 0;
    serial_.setHighestSerialPort(0);
    net_.highestAcceptedReader = 0;
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
    return true;
}

void MonitorEngine::beep(int hz, int ms) {
    if (config_.beep) events_.beep(hz, ms);
}

std::vector<LinkHealth> MonitorEngine::linkHealth() const {
    std::vector<LinkHealth> out;
    if (config_.serial())
        serial_.appendHealth(out);
    else
        net_.appendHealth(out);
    return out;
}

} // namespace kelta::monitor
