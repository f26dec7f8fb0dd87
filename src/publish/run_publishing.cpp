#include "publish/run_publishing.h"

#include "monitor/run_config.h"
#include "platform/settings_store.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>

namespace kelta::publish {

LinkInfo linkInfoOf(const monitor::RecordOrigin& origin) {
    LinkInfo l;
    switch (origin.linkMode) {
    case monitor::RunConfig::kOutgoingTcp:
        l.type = LinkType::TcpClient;
        break;
    case monitor::RunConfig::kListeningTcp:
        l.type = LinkType::TcpServer;
        break;
    default:
        l.type = LinkType::Serial;
        break;
    }
    l.name = origin.link;
    return l;
}

PresenceEvent presenceEventOf(const monitor::PresenceChange& c) {
    PresenceEvent e;
    e.kind = c.returned ? PresenceEvent::Kind::Returned : PresenceEvent::Kind::Absent;
    e.uid = c.uid;
    e.readerId = c.readerId;
    e.rssi = c.rssi;
    e.lqi = c.lqi;
    e.rssiValue = c.rssiValue;
    e.lqiValue = c.lqiValue;
    e.lastSeen = c.lastSeen;
    e.at = c.at;
    e.silentMs = c.silentMs;
    return e;
}

namespace {

qint64 monotonicMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed() + 1; // never 0, the mark of "never sent"
}

ReaderStatus::State stateOf(monitor::LinkHealth::State s) {
    switch (s) {
    case monitor::LinkHealth::State::Open:
        return ReaderStatus::State::Connected;
    case monitor::LinkHealth::State::Connecting:
    case monitor::LinkHealth::State::Reconnecting:
        return ReaderStatus::State::Reconnecting;
    case monitor::LinkHealth::State::Lost:
    case monitor::LinkHealth::State::PortInUse:
        break;
    }
    return ReaderStatus::State::Lost;
}

} // namespace

RunPublishing::RunPublishing() = default;

RunPublishing::~RunPublishing() {
    stop(std::chrono::milliseconds(0));
}

PublishConfigRead RunPublishing::readConfig(platform::SettingsStore& store) {
    PublishConfigRead read = readPublishConfig(store);
    // Validation gives a passing ID when none is stored: the installation keeps its own.
    if (read.config.enabled && store.readString(keys::kClientId).trimmed().isEmpty())
        read.config.clientId = ensureClientId(store);
    return read;
}

void RunPublishing::deliver(BrokerState state, const QString& text) {
    if (message_) message_(state, text);
}

bool RunPublishing::start(const PublishConfig& config, const QStringList& problems) {
    stop(std::chrono::milliseconds(0));
    last_ = {};
    if (!problems.isEmpty())
        deliver(BrokerState::Stopped,
                QStringLiteral("MQTT settings: %1%2")
                    .arg(problems.join(QStringLiteral("; ")),
                         config.enabled ? QString() : QStringLiteral("; publishing is off")));
    if (!config.enabled) return false;
    auto publisher = std::make_unique<MqttPublisher>(config);
    publisher->setProgram(program_);
    brokerName_ = QString::fromStdString(publisher->brokerName());
    // The publisher calls from its own threads (its threads end in stop(), before this
    // object does): the text is handed to this object's thread. A call still queued when this
    // object ends is dropped with the context.
    publisher->setStatusCallback([this](BrokerState state, const std::string& text) {
        const QString t = QString::fromStdString(text);
        QMetaObject::invokeMethod(
            &context_, [this, state, t] { deliver(state, t); }, Qt::QueuedConnection);
    });
    if (!publisher->start()) return false;
    publisher_ = std::move(publisher);
    readers_.clear();
    if (!healthTimer_) {
        healthTimer_ = new QTimer(&context_);
        QObject::connect(healthTimer_, &QTimer::timeout, &context_, [this] { pollHealth(); });
    }
    healthTimer_->start(1000);
    return true;
}

void RunPublishing::sendReader(Reader& r, qint64 nowMs) {
    const PublishConfig& c = publisher_->config();
    publisher_->publishStatus(readerStatusTopic(c.topicPrefix, c.site, r.status.readerId),
                              readerStatusJson(r.status));
    r.sentAtMs = nowMs;
    r.changed = false;
}

void RunPublishing::pollHealth() {
    if (!publisher_) return;
    const qint64 now = monotonicMs();
    if (health_) {
        for (const monitor::LinkHealth& h : health_()) {
            const ReaderStatus::State state = stateOf(h.state);
            for (const QString& id : h.readerIds) {
                const auto it = readers_.find(id);
                // A reader heard on several links follows the link it was heard on last. A
                // reader on the listening server is named by its address in the records and
                // by address:port among the links.
                if (it == readers_.end()) continue;
                const QString& link = it->second.status.link.name;
                if (h.name != link && !h.name.startsWith(link + QLatin1Char(':'))) continue;
                if (it->second.status.state != state) {
                    it->second.status.state = state;
                    sendReader(it->second, now);
                }
            }
        }
    }
    // Records that came since the last message, once the interval has passed.
    for (auto& [id, r] : readers_)
        if (r.changed && now - r.sentAtMs >= kReaderStatusIntervalMs) sendReader(r, now);
}

void RunPublishing::record(const monitor::DecodedTagRecord& record, monitor::DecodeMode mode,
                           const monitor::RecordOrigin& origin, const QDateTime& received) {
    if (!publisher_) return;
    const TagMessage m = tagMessageFromRecord(record, mode, linkInfoOf(origin), received);
    publisher_->publishTag(m);

    Reader& r = readers_[m.readerId];
    const bool newState = r.sentAtMs == 0 || r.status.state != ReaderStatus::State::Connected ||
                          r.status.link.name != m.link.name;
    r.status.readerId = m.readerId;
    r.status.state = ReaderStatus::State::Connected;
    r.status.link = m.link;
    r.status.lastReport = received;
    ++r.status.records;
    r.changed = true;
    const qint64 now = monotonicMs();
    if (newState || now - r.sentAtMs >= kReaderStatusIntervalMs) sendReader(r, now);
}

void RunPublishing::presence(const monitor::PresenceChange& change) {
    if (!publisher_) return;
    publisher_->publishEvent(presenceEventOf(change));
}

void RunPublishing::stop(std::chrono::milliseconds drain) {
    if (!publisher_) return;
    if (healthTimer_) healthTimer_->stop();
    // The run has let go of its links: no reader stays "connected" on the broker.
    const qint64 now = monotonicMs();
    for (auto& [id, r] : readers_) {
        r.status.state = ReaderStatus::State::Lost;
        sendReader(r, now);
    }
    publisher_->stop(drain);
    last_ = publisher_->counters();
    publisher_.reset();
}

PublishCounters RunPublishing::counters() const {
    return publisher_ ? publisher_->counters() : last_;
}

} // namespace kelta::publish
