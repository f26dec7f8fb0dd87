#pragma once
// Publishing during a monitoring run: what the engine reports (accepted records with their
// link, absences and returns) turned into messages for the broker. Both the window and the
// collector own one: they read its configuration from the settings file at the start of a
// run, hand it what their MonitorEvents receive, and stop it at the end. Messages about the
// broker arrive on the thread that made this object, never on the publisher's threads.

#include "monitor/link_health.h"
#include "monitor/monitor_events.h"
#include "publish/mqtt_publisher.h"
#include "publish/publish_config.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QTimer;

namespace kelta::platform {
class SettingsStore;
}

namespace kelta::publish {

// The link of a record as a message names it.
LinkInfo linkInfoOf(const monitor::RecordOrigin& origin);
// An absence or return as a message carries it.
PresenceEvent presenceEventOf(const monitor::PresenceChange& change);

class RunPublishing {
public:
    // state, text: one call per change of the broker's state, and once for a configuration
    // that cannot be used.
    using MessageFn = std::function<void(BrokerState state, const QString& text)>;

    RunPublishing();
    ~RunPublishing();
    RunPublishing(const RunPublishing&) = delete;
    RunPublishing& operator=(const RunPublishing&) = delete;

    // The configuration stored in the settings file; when publishing is on and no client ID
    // is stored, one is made for this installation and stored.
    static PublishConfigRead readConfig(platform::SettingsStore& store);

    void setMessageHandler(MessageFn fn) { message_ = std::move(fn); }
    // The program the status messages name ("kelta-collect", "kelta-utility").
    void setProgram(const QString& program) { program_ = program; }
    // Where the state of the run's links is read (MonitorEngine::linkHealth), once a second
    // while publishing: a reader's status follows the state of the link it was heard on.
    using HealthFn = std::function<std::vector<monitor::LinkHealth>()>;
    void setLinkHealthSource(HealthFn fn) { health_ = std::move(fn); }
    // Starts publishing when the configuration is on; the problems found in it (if any) are
    // given as one message first. False when publishing stays off.
    bool start(const PublishConfig& config, const QStringList& problems = {});
    bool active() const { return publisher_ != nullptr; }

    void record(const monitor::DecodedTagRecord& record, monitor::DecodeMode mode,
                const monitor::RecordOrigin& origin, const QDateTime& received);
    void presence(const monitor::PresenceChange& change);

    // Every reader heard is published as lost (the run lets go of its links), then queued
    // messages get up to `drain` to reach a connected broker, then the publisher says
    // "offline" and disconnects. The counters stay readable afterwards.
    void stop(std::chrono::milliseconds drain = std::chrono::milliseconds(2000));
    PublishCounters counters() const;
    QString brokerName() const { return brokerName_; }

    // A reader's status goes out on every change of its state and, while its records flow,
    // at most once in this interval.
    static constexpr qint64 kReaderStatusIntervalMs = 10000;

private:
    struct Reader {
        ReaderStatus status;
        qint64 sentAtMs = 0; // monotonic; 0: never sent
        bool changed = false;
    };
    void deliver(BrokerState state, const QString& text);
    void pollHealth();
    void sendReader(Reader& r, qint64 nowMs);

    QObject context_; // messages are queued to its thread
    MessageFn message_;
    std::unique_ptr<MqttPublisher> publisher_;
    PublishCounters last_;
    QString brokerName_;
    QString program_ = QStringLiteral("kelta-utility");
    HealthFn health_;
    std::map<QString, Reader> readers_;
    QTimer* healthTimer_ = nullptr;
};

} // namespace kelta::publish
