#pragma once
// Publishes messages to an MQTT broker without ever making its caller wait: publish() only puts
// the message into a bounded queue; a pump thread hands queued messages to the client library
// while the broker is connected, and a network thread runs the library's loop: it sends them,
// resends what was not acknowledged, and reconnects after every failure with a growing pause
// (1 s doubling up to 30 s). The library's own loop thread is not used: it ends for good after
// a TLS or protocol failure, and publishing would then never resume. While the broker is away
// the queue holds up to `queueBound` messages; beyond that the oldest are dropped and counted.
//
// Status: the connection carries a retained last will on <prefix>/<site>/status saying
// "offline"; each connection first publishes "online" there (retained), and a clean stop
// publishes "offline" itself before saying goodbye (the broker drops the will then). Other
// retained status messages (publishStatus) keep only the latest per topic until the broker
// takes them; none of them counts among the messages of the counters.

#include "publish/messages.h"
#include "publish/publish_config.h"

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;

namespace kelta::publish {

enum class BrokerState {
    Stopped,    // not started, stopped, or publishing off
    Connecting, // first attempt, or reconnecting after a loss
    Connected,
    Unreachable, // no connection for a while; messages are queued
    Refused,     // the broker answered but refused the client (credentials, client ID)
};

struct PublishCounters {
    std::uint64_t enqueued = 0;     // accepted by publish()
    std::uint64_t published = 0;    // handed to the network
    std::uint64_t acknowledged = 0; // confirmed by the broker (or sent, at QoS 0)
    std::uint64_t dropped = 0;      // oldest messages pushed out of a full queue
    std::uint64_t rejected = 0;     // refused by the client library (topic or size)
    std::uint64_t refusals = 0;     // connections the broker refused (CONNACK)
    std::size_t queued = 0;         // waiting now, not yet handed to the network
    std::size_t inFlight = 0;       // handed, not yet acknowledged
};

class MqttPublisher {
public:
    // Called on the pump thread (by start() itself when it cannot start), never while the
    // publisher holds its lock: a window must hand the text over to its own thread (a queued
    // signal or QMetaObject::invokeMethod). One call per change of state, not per attempt.
    using StatusFn = std::function<void(BrokerState state, const std::string& message)>;

    explicit MqttPublisher(PublishConfig config);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    void setStatusCallback(StatusFn fn); // before start()
    // The program the status messages name ("kelta-collect"); before start().
    void setProgram(const QString& program);
    // How long without a connection before the one "cannot be reached" message; 5 s.
    void setUnreachableAfter(std::chrono::milliseconds after); // before start()

    // Starts the worker threads; returns at once. False (with a status message) when the
    // configuration is off or the client library refuses it (TLS files, for instance).
    bool start();
    // Waits up to `drain` for queued and unacknowledged messages to reach the broker while it
    // is connected, then disconnects and ends the threads; what was not sent stays counted as
    // queued or in flight. May wait for a name lookup in progress to end.
    void stop(std::chrono::milliseconds drain = std::chrono::milliseconds(0));

    // Queues one message; never waits for the network. False when not started.
    bool publish(QByteArray topic, QByteArray payload);
    bool publishTag(const TagMessage& message);
    bool publishEvent(const PresenceEvent& event);
    // A retained status message at QoS 1; replaces one for the same topic not yet sent.
    // False when not started.
    bool publishStatus(const QByteArray& topic, const QByteArray& payload);

    PublishCounters counters() const;
    // Connection attempts that failed (name lookup, refused, TLS, broker refusal); each is
    // followed by a pause and another attempt.
    std::uint64_t failedAttempts() const;
    BrokerState state() const;
    const PublishConfig& config() const { return config_; }
    // "host:port" as the messages name the broker.
    std::string brokerName() const;

    // Largest number of messages handed to the network and not yet acknowledged.
    static constexpr std::size_t kInFlightWindow = 64;

private:
    struct Message {
        QByteArray topic;
        QByteArray payload;
    };

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    void pumpLoop();
    void networkLoop();
    // Waits `pause` or until stop; false when stopping.
    bool pauseUnlessStopping(std::chrono::milliseconds pause);
    void notify(BrokerState state, const std::string& message);
    bool configureClient(std::string& error);
    // since: the state starts now (not for the last will, written before the connection).
    QByteArray siteStatus(bool online, bool since) const;
    // Hands the online announcement and the pending status messages to the library; called
    // with the lock held, which it lets go around each hand-over. False when the connection
    // is gone.
    bool sendStatuses(std::unique_lock<std::mutex>& lock);
    // Classifies acknowledgements whose message ID was not yet known when they came.
    void settleEarlyAcks();

    const PublishConfig config_;
    std::string host_, clientId_, user_, password_, ca_, cert_, key_;
    StatusFn status_;
    std::chrono::milliseconds unreachableAfter_{5000};

    mosquitto* mosq_ = nullptr;
    std::thread pump_;
    std::thread network_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Message> queue_;
    QString program_ = QStringLiteral("kelta-utility");
    QByteArray statusTopic_;
    std::map<QByteArray, QByteArray> pendingStatus_; // topic -> latest payload
    bool announce_ = false;                          // "online" due on this connection
    std::set<int> statusMids_;                       // status messages not yet acknowledged
    int statusHandOvers_ = 0;    // status messages being handed to the library right now
    std::vector<int> earlyAcks_; // acknowledgements that came during such a hand-over
    PublishCounters counters_;
    BrokerState state_ = BrokerState::Stopped;
    bool running_ = false;
    bool stopping_ = false;
    bool connected_ = false;
    bool everConnected_ = false;
    int connectRefusal_ = 0;   // last CONNACK refusal code, 0 none
    int lostReason_ = 0;       // rc of the last unexpected disconnect, 0 none
    bool lostPending_ = false; // a loss not yet reported
    bool overflowReported_ = false;
    std::uint64_t failedAttempts_ = 0;
    std::chrono::milliseconds retryPause_{1000}; // next pause after a failure
    std::string lastError_;                      // why the last connection attempt failed
    std::string attemptError_; // error line the library logged during the current attempt
    std::chrono::steady_clock::time_point downSince_;
};

} // namespace kelta::publish
