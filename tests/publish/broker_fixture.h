#pragma once
// A private broker for the publishing tests: the Debian mosquitto binary started on a free
// loopback port with a generated configuration, and a subscriber of the tests' own.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace kelta::test {

inline constexpr const char* kBrokerBinary = "/usr/sbin/mosquitto";
bool brokerAvailable();

// A loopback port nothing listens on right now.
quint16 freeLoopbackPort();

// A throw-away certificate authority with a server certificate for 127.0.0.1 and a client
// certificate, made with the openssl program in `dir`. False when openssl is missing or fails.
struct TestCertificates {
    QString ca, serverCert, serverKey, clientCert, clientKey;
};
bool makeTestCertificates(const QString& dir, TestCertificates& out);

class TestBroker {
public:
    TestBroker();
    ~TestBroker();
    // With a user, anonymous clients are refused and the password file holds that one user.
    void requireLogin(const QString& user, const QString& password);
    // TLS on the listener with this certificate and key; with a CA, clients must show a
    // certificate it signed.
    void useTls(const QString& certFile, const QString& keyFile, const QString& clientCaFile);
    // Starts the broker (on the port of the previous start, if any) and waits until it accepts
    // connections. Its stored state (sessions, queued messages) survives stop() and start().
    bool start();
    // SIGTERM, and waits for the process to end.
    void stop();
    quint16 port() const { return port_; }
    QString log() const { return log_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 port_ = 0;
    QString user_, password_;
    QString cert_, key_, clientCa_;
    QString log_;
};

struct Received {
    std::string topic;
    QByteArray payload;
    bool retained = false;
};

// True for the retained status topics (<prefix>/<site>/status, .../reader/<ID>/status).
bool isStatusTopic(const std::string& topic);

// Checks every message against the JSON Schema of its kind in docs/schema (python3 with its
// jsonschema module, Debian package python3-jsonschema); empty when all pass, else what failed.
std::string schemaProblems(const std::vector<Received>& messages);

// Subscribes to `filter` at QoS 1 with a lasting session, so that what the broker queued for it
// while it was away, or across a broker restart, is delivered when it is back. Every message it
// received is checked against the shipped schemas when it ends (a test failure if one fails).
class TestSubscriber {
public:
    TestSubscriber(quint16 port, const std::string& filter);
    ~TestSubscriber();
    bool subscribed() const { return subscribed_.load(); }
    // The record and event messages; status messages apart.
    std::vector<Received> messages() const;
    std::size_t count() const;
    std::vector<Received> statusMessages() const;
    // Everything received, in order.
    std::vector<Received> all() const;

private:
    static void onConnect(mosquitto*, void* self, int rc);
    static void onSubscribe(mosquitto*, void* self, int, int, const int*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* m);

    mosquitto* mosq_ = nullptr;
    std::string filter_;
    std::atomic<bool> subscribed_{false};
    mutable std::mutex mutex_;
    std::vector<Received> messages_;
};

} // namespace kelta::test
