#pragma once
// Where tag records are published: the broker, the names the topics are built from, the
// credentials and TLS files, and the bound of the queue that holds messages while the broker
// is away. Read from the settings file; off unless configured.

#include <QString>
#include <QStringList>
#include <cstddef>

namespace kelta::platform {
class SettingsStore;
}

namespace kelta::publish {

struct PublishConfig {
    bool enabled = false;
    QString host;
    int port = 1883; // 8883 is the usual port with TLS
    QString site = QStringLiteral("site");
    QString topicPrefix = QStringLiteral("kelta");
    QString clientId; // per installation, see defaultClientId
    int qos = 1;
    QString userName; // empty: no user name or password is sent
    QString password;
    QString caFile;   // non-empty turns TLS on
    QString certFile; // client certificate and its key, both or neither
    QString keyFile;
    std::size_t queueBound = 10000; // messages held while the broker is away
    int keepAliveSeconds = 30;
};

// Names of the values in the settings file.
namespace keys {
inline const QString kEnabled = QStringLiteral("MQTTENABLED");
inline const QString kHost = QStringLiteral("MQTTHOST");
inline const QString kPort = QStringLiteral("MQTTPORT");
inline const QString kSite = QStringLiteral("MQTTSITE");
inline const QString kPrefix = QStringLiteral("MQTTPREFIX");
inline const QString kClientId = QStringLiteral("MQTTCLIENTID");
inline const QString kUser = QStringLiteral("MQTTUSER");
inline const QString kPassword = QStringLiteral("MQTTPASSWORD");
inline const QString kCaFile = QStringLiteral("MQTTCAFILE");
inline const QString kCertFile = QStringLiteral("MQTTCERTFILE");
inline const QString kKeyFile = QStringLiteral("MQTTKEYFILE");
inline const QString kQueue = QStringLiteral("MQTTQUEUE");
} // namespace keys

inline constexpr std::size_t kMinQueueBound = 1;
inline constexpr std::size_t kMaxQueueBound = 1000000;

// The configuration and what was wrong with the values read. A value that cannot be used is
// named in `problems` and its default kept; publishing is turned off when the broker itself
// cannot be used (no host, a port outside 1..65535, a certificate without its key), so that a
// broken configuration never silently publishes somewhere else.
struct PublishConfigRead {
    PublishConfig config;
    QStringList problems;
};

PublishConfigRead readPublishConfig(const platform::SettingsStore& store);

// Checks a configuration (from the settings file or from options) the same way; returns the
// problems and turns publishing off when the broker cannot be used.
QStringList validatePublishConfig(PublishConfig& config);

// "kelta-<host name>-<8 random hex digits>": made once per installation and then stored, so
// that the broker sees the same client across restarts and two installations never share one.
QString defaultClientId();

// The stored client ID; when there is none, a new one is made, written to the store and
// returned.
QString ensureClientId(platform::SettingsStore& store);

} // namespace kelta::publish
