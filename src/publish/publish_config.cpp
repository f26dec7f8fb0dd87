#include "publish/publish_config.h"

#include "platform/settings_store.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>

namespace kelta::publish {

namespace {

// An integer value, or `fallback` with a problem noted when it is present but not a number.
int readIntOr(const platform::SettingsStore& store, const QString& name, int fallback,
              QStringList& problems) {
    if (!store.hasValue(name)) return fallback;
    try {
        return store.readInteger(name);
    } catch (const platform::SettingsTypeError&) {
        problems << QStringLiteral("%1 is not a number: \"%2\"").arg(name, store.readString(name));
        return fallback;
    }
}

QString readTrimmed(const platform::SettingsStore& store, const QString& name) {
    return store.readString(name).trimmed();
}

} // namespace

QStringList validatePublishConfig(PublishConfig& c) {
    QStringList problems;
    if (!c.enabled) return problems;
    bool usable = true;
    if (c.host.trimmed().isEmpty()) {
        problems << QStringLiteral("%1 is empty: no broker to publish to").arg(keys::kHost);
        usable = false;
    }
    if (c.port < 1 || c.port > 65535) {
        problems << QStringLiteral("%1 %2 is not a port (1..65535)").arg(keys::kPort).arg(c.port);
        c.port = PublishConfig{}.port;
        usable = false;
    }
    if (c.certFile.isEmpty() != c.keyFile.isEmpty()) {
        problems << QStringLiteral("%1 and %2 go together: give both or neither")
                        .arg(keys::kCertFile, keys::kKeyFile);
        usable = false;
    }
    if (!c.certFile.isEmpty() && c.caFile.isEmpty()) {
        problems
            << QStringLiteral("a client certificate needs TLS: %1 is empty").arg(keys::kCaFile);
        usable = false;
    }
    for (const QString* f : {&c.caFile, &c.certFile, &c.keyFile}) {
        if (!f->isEmpty() && !QFileInfo(*f).isReadable()) {
            problems << QStringLiteral("cannot read %1").arg(*f);
            usable = false;
        }
    }
    if (c.userName.isEmpty() && !c.password.isEmpty()) {
        problems << QStringLiteral("%1 is set but %2 is empty").arg(keys::kPassword, keys::kUser);
        usable = false;
    }
    if (c.qos < 0 || c.qos > 2) {
        problems << QStringLiteral("QoS %1 is not 0, 1 or 2; 1 is used").arg(c.qos);
        c.qos = 1;
    }
    if (c.queueBound < kMinQueueBound || c.queueBound > kMaxQueueBound) {
        const std::size_t b = c.queueBound < kMinQueueBound ? kMinQueueBound : kMaxQueueBound;
        problems << QStringLiteral("%1 %2 is outside %3..%4; %5 is used")
                        .arg(keys::kQueue)
                        .arg(c.queueBound)
                        .arg(kMinQueueBound)
                        .arg(kMaxQueueBound)
                        .arg(b);
        c.queueBound = b;
    }
    if (c.site.trimmed().isEmpty()) c.site = PublishConfig{}.site;
    if (c.topicPrefix.trimmed().isEmpty()) c.topicPrefix = PublishConfig{}.topicPrefix;
    if (c.clientId.isEmpty()) c.clientId = defaultClientId();
    if (!usable) {
        c.enabled = false;
        problems << QStringLiteral("publishing is off");
    }
    return problems;
}

PublishConfigRead readPublishConfig(const platform::SettingsStore& store) {
    PublishConfigRead r;
    PublishConfig& c = r.config;
    c.enabled = readIntOr(store, keys::kEnabled, 0, r.problems) != 0;
    c.host = readTrimmed(store, keys::kHost);
    c.port = readIntOr(store, keys::kPort, c.port, r.problems);
    if (store.hasValue(keys::kSite)) c.site = readTrimmed(store, keys::kSite);
    if (store.hasValue(keys::kPrefix)) c.topicPrefix = readTrimmed(store, keys::kPrefix);
    c.clientId = readTrimmed(store, keys::kClientId);
    c.userName = store.readString(keys::kUser);
    c.password = store.readString(keys::kPassword);
    c.caFile = readTrimmed(store, keys::kCaFile);
    c.certFile = readTrimmed(store, keys::kCertFile);
    c.keyFile = readTrimmed(store, keys::kKeyFile);
    const int bound = readIntOr(store, keys::kQueue, static_cast<int>(c.queueBound), r.problems);
    // A negative bound is as unusable as a huge one: clamp it through validation.
    c.queueBound = bound < 0 ? 0 : static_cast<std::size_t>(bound);
    r.problems << validatePublishConfig(c);
    return r;
}

QString defaultClientId() {
    // Client IDs of up to 23 characters are accepted by every broker: the host name is
    // shortened to 8 letters, digits or dashes.
    QString host;
    for (const QChar ch : QSysInfo::machineHostName()) {
        if (host.size() == 8) break;
        if ((ch.isLetterOrNumber() && ch.unicode() < 128) || ch == QLatin1Char('-'))
            host += ch.toLower();
    }
    if (host.isEmpty()) host = QStringLiteral("host");
    const quint32 random = QRandomGenerator::system()->generate();
    return QStringLiteral("kelta-%1-%2").arg(host).arg(random, 8, 16, QLatin1Char('0'));
}

QString ensureClientId(platform::SettingsStore& store) {
    QString id = store.readString(keys::kClientId).trimmed();
    if (!id.isEmpty()) return id;
    id = defaultClientId();
    store.writeString(keys::kClientId, id);
    return id;
}

} // namespace kelta::publish
