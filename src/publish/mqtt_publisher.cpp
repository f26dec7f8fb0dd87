#include "publish/mqtt_publisher.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <utility>
#include <vector>

namespace kelta::publish {

namespace {

std::once_flag libraryInit;

std::string errorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    return mosquitto_strerror(rc);
}

} // namespace

MqttPublisher::MqttPublisher(PublishConfig config)
    : config_(std::move(config)), host_(config_.host.toStdString()),
      clientId_(config_.clientId.toStdString()), user_(config_.userName.toStdString()),
      password_(config_.password.toStdString()), ca_(config_.caFile.toStdString()),
      cert_(config_.certFile.toStdString()), key_(config_.keyFile.toStdString()) {}

MqttPublisher::~MqttPublisher() {
    stop();
}

void MqttPublisher::setStatusCallback(StatusFn fn) {
    status_ = std::move(fn);
}

void MqttPublisher::setUnreachableAfter(std::chrono::milliseconds after) {
    unreachableAfter_ = after;
}

void MqttPublisher::setProgram(const QString& program) {
    program_ = program;
}

QByteArray MqttPublisher::siteStatus(bool online, bool since) const {
    SiteStatus s;
    s.online = online;
    if (since) s.since = QDateTime::currentDateTime();
    s.program = program_;
    s.version = programVersion();
    s.clientId = config_.clientId;
    return siteStatusJson(s);
}

std::string MqttPublisher::brokerName() const {
    return host_ + ':' + std::to_string(config_.port);
}

void MqttPublisher::notify(BrokerState state, const std::string& message) {
    if (status_) status_(state, message);
}

bool MqttPublisher::configureClient(std::string& error) {
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = MOSQ_ERR_SUCCESS;
    if (!user_.empty()) {
        rc = mosquitto_username_pw_set(mosq_, user_.c_str(),
                                       password_.empty() ? nullptr : password_.c_str());
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "user name refused: " + errorText(rc);
            return false;
        }
    }
    if (!ca_.empty()) {
        rc = mosquitto_tls_set(mosq_, ca_.c_str(), nullptr, cert_.empty() ? nullptr : cert_.c_str(),
                               key_.empty() ? nullptr : key_.c_str(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "TLS files refused (" + ca_ + (cert_.empty() ? "" : ", " + cert_) +
                    "): " + errorText(rc);
            return false;
        }
    }
    // The broker says "offline" for us when the connection ends without a goodbye.
    const QByteArray will = siteStatus(false, false);
    rc = mosquitto_will_set(mosq_, statusTopic_.constData(), static_cast<int>(will.size()),
                            will.constData(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = "last will refused: " + errorText(rc);
        return false;
    }
    // The loop runs on a thread of ours while others publish.
    mosquitto_threaded_set(mosq_, true);
    mosquitto_max_inflight_messages_set(mosq_, static_cast<unsigned>(kInFlightWindow));
    mosquitto_connect_callback_set(mosq_, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(mosq_, &MqttPublisher::onPublish);
    mosquitto_log_callback_set(mosq_, &MqttPublisher::onLog);
    return true;
}

bool MqttPublisher::start() {
    {
        std::lock_guard lock(mutex_);
        if (running_) return true;
    }
    if (!config_.enabled) {
        notify(BrokerState::Stopped, "MQTT publishing is off");
        return false;
    }
    std::call_once(libraryInit, [] { mosquitto_lib_init(); });
    statusTopic_ = publish::statusTopic(config_.topicPrefix, config_.site);
    mosq_ = mosquitto_new(clientId_.empty() ? nullptr : clientId_.c_str(), true, this);
    if (!mosq_) {
        notify(BrokerState::Stopped,
               "MQTT publishing to " + brokerName() + " cannot start: " + std::strerror(errno));
        return false;
    }
    std::string error;
    if (!configureClient(error)) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
        notify(BrokerState::Stopped,
               "MQTT publishing to " + brokerName() + " cannot start: " + error);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        running_ = true;
        stopping_ = false;
        connected_ = false;
        state_ = BrokerState::Connecting;
        downSince_ = std::chrono::steady_clock::now();
    }
    pump_ = std::thread([this] { pumpLoop(); });
    network_ = std::thread([this] { networkLoop(); });
    return true;
}

void MqttPublisher::stop(std::chrono::milliseconds drain) {
    {
        std::unique_lock lock(mutex_);
        if (!running_) return;
        if (drain.count() > 0)
            wake_.wait_for(lock, drain, [this] {
                return queue_.empty() && counters_.inFlight == 0 && pendingStatus_.empty() &&
                       statusMids_.empty();
            });
        stopping_ = true;
    }
    wake_.notify_all();
    pump_.join();
    network_.join();
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    std::lock_guard lock(mutex_);
    running_ = false;
    connected_ = false;
    state_ = BrokerState::Stopped;
}

bool MqttPublisher::publish(QByteArray topic, QByteArray payload) {
    {
        std::lock_guard lock(mutex_);
        if (!running_ || stopping_) return false;
        queue_.push_back(Message{std::move(topic), std::move(payload)});
        ++counters_.enqueued;
        if (queue_.size() > config_.queueBound) {
            queue_.pop_front();
            ++counters_.dropped;
        }
        counters_.queued = queue_.size();
    }
    wake_.notify_all();
    return true;
}

bool MqttPublisher::publishTag(const TagMessage& m) {
    return publish(tagTopic(config_.topicPrefix, config_.site, m.readerId, m.uid),
                   tagMessageJson(m));
}

bool MqttPublisher::publishEvent(const PresenceEvent& e) {
    return publish(eventTopic(config_.topicPrefix, config_.site), presenceEventJson(e));
}

bool MqttPublisher::publishStatus(const QByteArray& topic, const QByteArray& payload) {
    {
        std::lock_guard lock(mutex_);
        if (!running_ || stopping_) return false;
        pendingStatus_[topic] = payload;
    }
    wake_.notify_all();
    return true;
}

bool MqttPublisher::sendStatuses(std::unique_lock<std::mutex>& lock) {
    auto handOver = [&](const QByteArray& topic, const QByteArray& payload) {
        ++statusHandOvers_;
        lock.unlock();
        int mid = 0;
        const int rc =
            mosquitto_publish(mosq_, &mid, topic.constData(), static_cast<int>(payload.size()),
                              payload.constData(), 1, true);
        lock.lock();
        --statusHandOvers_;
        if (rc == MOSQ_ERR_SUCCESS) {
            // Its acknowledgement may already have come while the lock was let go.
            const auto early = std::find(earlyAcks_.begin(), earlyAcks_.end(), mid);
            if (early != earlyAcks_.end())
                earlyAcks_.erase(early);
            else
                statusMids_.insert(mid);
        }
        settleEarlyAcks();
        return rc;
    };
    if (announce_) {
        announce_ = false;
        const int rc = handOver(statusTopic_, siteStatus(true, true));
        if (rc != MOSQ_ERR_SUCCESS) {
            announce_ = true;
            return false;
        }
    }
    while (connected_ && !pendingStatus_.empty() && !stopping_) {
        auto node = pendingStatus_.extract(pendingStatus_.begin());
        const int rc = handOver(node.key(), node.mapped());
        if (rc == MOSQ_ERR_SUCCESS) continue;
        // A newer status for the topic may have come meanwhile; it wins.
        pendingStatus_.insert(std::move(node));
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_CONN_LOST ||
            rc == MOSQ_ERR_NOMEM)
            return false;
        pendingStatus_.erase(pendingStatus_.begin()); // refused for good: not retried
    }
    return true;
}

void MqttPublisher::settleEarlyAcks() {
    if (statusHandOvers_ > 0) return;
    for (const int mid : earlyAcks_) {
        if (statusMids_.erase(mid)) continue;
        if (counters_.inFlight > 0) --counters_.inFlight;
        ++counters_.acknowledged;
    }
    earlyAcks_.clear();
}

PublishCounters MqttPublisher::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

std::uint64_t MqttPublisher::failedAttempts() const {
    std::lock_guard lock(mutex_);
    return failedAttempts_;
}

bool MqttPublisher::pauseUnlessStopping(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, pause, [this] { return stopping_; });
    return !stopping_;
}

void MqttPublisher::networkLoop() {
    bool haveSocket = false;
    bool initialised = false; // the library holds the broker's name and port
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
        }
        int rc = MOSQ_ERR_SUCCESS;
        if (!haveSocket) {
            // The name lookup and the connect start here, never in the caller's thread.
            // Reconnecting keeps the messages not yet acknowledged, to be sent again.
            rc = initialised ? mosquitto_reconnect_async(mosq_)
                             : mosquitto_connect_async(mosq_, host_.c_str(), config_.port,
                                                       config_.keepAliveSeconds);
            haveSocket = rc == MOSQ_ERR_SUCCESS;
            initialised = initialised || haveSocket;
        }
        if (haveSocket) {
            rc = mosquitto_loop(mosq_, 100, 1);
            if (rc == MOSQ_ERR_SUCCESS) continue;
            haveSocket = false;
        }
        // Connect failed, connection lost, TLS or protocol failure: a pause, then again.
        std::chrono::milliseconds pause;
        {
            const std::string error = errorText(rc);
            std::lock_guard lock(mutex_);
            if (connected_) {
                connected_ = false;
                downSince_ = std::chrono::steady_clock::now();
            }
            // What the library logged during the attempt says more than its error code.
            lastError_ = attemptError_.empty() ? error : attemptError_;
            attemptError_.clear();
            ++failedAttempts_;
            pause = retryPause_;
            retryPause_ = std::min(retryPause_ * 2, std::chrono::milliseconds(30000));
        }
        wake_.notify_all();
        if (!pauseUnlessStopping(pause)) break;
    }
    if (haveSocket) {
        bool connected = false;
        {
            std::lock_guard lock(mutex_);
            connected = connected_;
        }
        if (connected) {
            // "offline" from us: the broker drops the last will on a clean goodbye.
            const QByteArray offline = siteStatus(false, true);
            int mid = 0;
            if (mosquitto_publish(mosq_, &mid, statusTopic_.constData(),
                                  static_cast<int>(offline.size()), offline.constData(), 1,
                                  true) == MOSQ_ERR_SUCCESS) {
                {
                    std::lock_guard lock(mutex_);
                    statusMids_.insert(mid);
                }
                for (int i = 0; i < 20 && mosquitto_loop(mosq_, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
                    std::lock_guard lock(mutex_);
                    if (statusMids_.count(mid) == 0) break;
                }
            }
        }
        // A clean goodbye, so that the broker does not take the end for a lost connection.
        mosquitto_disconnect(mosq_);
        for (int i = 0; i < 5 && mosquitto_loop(mosq_, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
    }
}

BrokerState MqttPublisher::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void MqttPublisher::pumpLoop() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(mutex_);

    std::vector<std::pair<BrokerState, std::string>> notes;
    auto flushNotes = [&] {
        if (notes.empty()) return;
        auto out = std::move(notes);
        notes.clear();
        lock.unlock();
        for (const auto& [state, text] : out) notify(state, text);
        lock.lock();
    };
    auto checkUnreachable = [&] {
        if (connected_ || state_ == BrokerState::Unreachable || state_ == BrokerState::Refused)
            return;
        if (Clock::now() - downSince_ < unreachableAfter_) return;
        state_ = BrokerState::Unreachable;
        std::string text = "MQTT broker " + brokerName() + " cannot be reached";
        if (!lastError_.empty()) text += " (" + lastError_ + ")";
        text += "; up to " + std::to_string(config_.queueBound) +
                " messages are kept and sent when it is back, monitoring goes on";
        notes.emplace_back(state_, text);
    };

    std::uint64_t droppedSeen = counters_.dropped;
    while (!stopping_) {
        // The status of the site and the readers goes before the records.
        if (connected_ && (announce_ || !pendingStatus_.empty())) sendStatuses(lock);
        // Hand queued messages to the network while the broker is there.
        while (connected_ && !queue_.empty() && counters_.inFlight < kInFlightWindow &&
               !stopping_) {
            Message m = std::move(queue_.front());
            queue_.pop_front();
            counters_.queued = queue_.size();
            ++counters_.inFlight;
            lock.unlock();
            int mid = 0;
            const int rc = mosquitto_publish(mosq_, &mid, m.topic.constData(),
                                             static_cast<int>(m.payload.size()),
                                             m.payload.constData(), config_.qos, false);
            lock.lock();
            if (rc == MOSQ_ERR_SUCCESS) {
                ++counters_.published;
                continue;
            }
            --counters_.inFlight;
            if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_ERRNO || rc == MOSQ_ERR_CONN_LOST ||
                rc == MOSQ_ERR_NOMEM) {
                // Back to the head of the queue, to go when the broker is back.
                queue_.push_front(std::move(m));
                if (queue_.size() > config_.queueBound) {
                    queue_.pop_front();
                    ++counters_.dropped;
                }
                counters_.queued = queue_.size();
                break;
            }
            ++counters_.rejected;
            notes.emplace_back(state_, "MQTT message to " + m.topic.toStdString() +
                                           " refused: " + errorText(rc));
        }

        if (connectRefusal_ != 0 && state_ != BrokerState::Refused) {
            state_ = BrokerState::Refused;
            notes.emplace_back(state_, "MQTT broker " + brokerName() + " refused the client: " +
                                           mosquitto_connack_string(connectRefusal_) +
                                           "; messages are kept, monitoring goes on");
        } else if (connected_ && state_ != BrokerState::Connected) {
            state_ = BrokerState::Connected;
            notes.emplace_back(state_, "MQTT broker " + brokerName() + " connected");
        } else if (!connected_ && lostPending_) {
            lostPending_ = false;
            state_ = BrokerState::Connecting;
            notes.emplace_back(state_, "MQTT broker " + brokerName() + " lost (" +
                                           errorText(lostReason_) + "), reconnecting");
        }
        checkUnreachable();
        if (counters_.dropped != droppedSeen && !overflowReported_) {
            overflowReported_ = true;
            notes.emplace_back(state_, "MQTT queue full (" + std::to_string(config_.queueBound) +
                                           " messages): the oldest are dropped and counted");
        }
        droppedSeen = counters_.dropped;
        // The overflow is reported again only after the queue has emptied once.
        if (connected_ && queue_.empty()) overflowReported_ = false;
        flushNotes();
        if (stopping_) break;
        const bool canSend =
            connected_ && ((!queue_.empty() && counters_.inFlight < kInFlightWindow) || announce_ ||
                           !pendingStatus_.empty());
        if (!canSend) wake_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void MqttPublisher::onConnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    {
        std::lock_guard lock(p->mutex_);
        if (rc == 0) {
            p->connected_ = true;
            p->announce_ = true;
            p->connectRefusal_ = 0;
            p->lastError_.clear();
            p->retryPause_ = std::chrono::milliseconds(1000);
        } else {
            p->connectRefusal_ = rc;
            ++p->counters_.refusals;
        }
    }
    p->wake_.notify_all();
}

void MqttPublisher::onDisconnect(mosquitto*, void* self, int rc) {
    auto* p = static_cast<MqttPublisher*>(self);
    {
        std::lock_guard lock(p->mutex_);
        const bool was = p->connected_;
        p->connected_ = false;
        if (was) {
            p->downSince_ = std::chrono::steady_clock::now();
            if (rc != 0 && !p->stopping_) {
                p->lostPending_ = true;
                p->lostReason_ = rc;
            }
        }
    }
    p->wake_.notify_all();
}

void MqttPublisher::onPublish(mosquitto*, void* self, int mid) {
    auto* p = static_cast<MqttPublisher*>(self);
    {
        std::lock_guard lock(p->mutex_);
        if (p->statusMids_.erase(mid) == 0) {
            if (p->statusHandOvers_ > 0) {
                // Perhaps the status being handed over: sorted out once its ID is known.
                p->earlyAcks_.push_back(mid);
            } else {
                if (p->counters_.inFlight > 0) --p->counters_.inFlight;
                ++p->counters_.acknowledged;
            }
        }
    }
    p->wake_.notify_all();
}

void MqttPublisher::onLog(mosquitto*, void* self, int level, const char* text) {
    if (!(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) || !text) return;
    auto* p = static_cast<MqttPublisher*>(self);
    std::lock_guard lock(p->mutex_);
    p->attemptError_ = text;
}

} // namespace kelta::publish
