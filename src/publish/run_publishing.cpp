#include "publish/run_publishing.h"

#include "monitor/run_config.h"
#include "platform/settings_store.h"

#include <QMetaObject>

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
    return true;
}

void RunPublishing::record(const monitor::DecodedTagRecord& record, monitor::DecodeMode mode,
                           const monitor::RecordOrigin& origin, const QDateTime& received) {
    if (!publisher_) return;
    publisher_->publishTag(tagMessageFromRecord(record, mode, linkInfoOf(origin), received));
}

void RunPublishing::presence(const monitor::PresenceChange& change) {
    if (!publisher_) return;
    publisher_->publishEvent(presenceEventOf(change));
}

void RunPublishing::stop(std::chrono::milliseconds drain) {
    if (!publisher_) return;
    publisher_->stop(drain);
    last_ = publisher_->counters();
    publisher_.reset();
}

PublishCounters RunPublishing::counters() const {
    return publisher_ ? publisher_->counters() : last_;
}

} // namespace kelta::publish
