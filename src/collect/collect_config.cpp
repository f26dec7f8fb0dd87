#include "collect/collect_config.h"

#include "monitor/tag_store.h"
#include "platform/files.h"
#include "platform/settings_store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace kelta::collect {

namespace {

using monitor::RunConfig;

std::optional<int> decimalInt(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return v;
}

// A port text as the window's port fields take it: its decimal number when that is a port,
// else 4001.
int portOf(const QString& text) {
    const auto v = decimalInt(text.trimmed());
    return v && *v >= 1 && *v <= 65535 ? *v : 4001;
}

QString documentsFile(const QString& name) {
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) docs = QDir::homePath();
    return QDir(docs).filePath(name);
}

} // namespace

StoredValue storedText(const QString& text) {
    return StoredValue{text, decimalInt(text)};
}

StoredSettings storedSettings(const platform::SettingsStore& store) {
    StoredSettings out;
    for (const QString& name : store.valueNames()) {
        StoredValue v;
        v.text = store.readString(name);
        try {
            v.integer = store.readInteger(name);
        } catch (const platform::SettingsTypeError&) {
        }
        out.insert(name, v);
    }
    return out;
}

QStringList readSelectionFile(const QString& path) {
    QStringList uids;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return uids;
    while (!f.atEnd()) {
        QString line = QString::fromUtf8(f.readLine());
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
        if (!line.isEmpty()) uids << line;
    }
    return uids;
}

RunDefaults systemRunDefaults() {
    RunDefaults d;
    d.autoSaveFile = documentsFile(QStringLiteral("Kelta.csv"));
    d.eventLogFile = documentsFile(QStringLiteral("log.csv"));
    d.selection = readSelectionFile(monitor::TagStore::selectionFilePath());
    return d;
}

MappedRun runConfigFromSettings(const StoredSettings& values, const RunDefaults& defaults) {
    MappedRun m;
    RunConfig& c = m.config;
    // A value present but not a number is skipped, as the window skips it.
    auto integer = [&](const QString& name) -> std::optional<int> {
        const auto it = values.constFind(name);
        if (it == values.constEnd()) return std::nullopt;
        if (!it->integer) m.skipped << name;
        return it->integer;
    };
    auto text = [&](const QString& name) -> std::optional<QString> {
        const auto it = values.constFind(name);
        if (it == values.constEnd()) return std::nullopt;
        return it->text;
    };

    // The window opens on the outgoing-connection page; PAGE chooses another.
    c.linkMode = RunConfig::kOutgoingTcp;
    if (const auto page = integer(QStringLiteral("PAGE")))
        c.linkMode = *page == 0   ? RunConfig::kOutgoingTcp
                     : *page == 2 ? RunConfig::kListeningTcp
                                  : RunConfig::kSerial;
    for (int n = 1; n <= kWindowSerialPorts; ++n) {
        const auto on = integer(QStringLiteral("COM%1").arg(n));
        c.serialPorts[static_cast<std::size_t>(n)] = on && *on == 1;
    }
    for (int n = 1; n <= kWindowAddressRows; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const auto on = integer(QStringLiteral("NET%1").arg(n));
        c.addressChecked[i] = on && *on == 1;
        c.addresses[i] = text(QStringLiteral("IP%1").arg(n))
                             .value_or(QStringLiteral("192.168.1.%1").arg(100 + n));
    }
    c.remotePort = portOf(text(QStringLiteral("TcpRemotePort")).value_or(QString()));
    c.listenPort = portOf(text(QStringLiteral("ListenPort")).value_or(QString()));

    c.autoSaveFile = text(QStringLiteral("SaveFileName")).value_or(defaults.autoSaveFile);
    c.eventLogFile = text(QStringLiteral("EvenLogFile")).value_or(defaults.eventLogFile);
    if (const auto on = integer(QStringLiteral("AutoSaveFile"))) c.autoSave = *on != 0;
    c.selectedTags = defaults.selection;
    c.tagTimeoutSeconds = defaults.tagTimeoutSeconds < 1 ? 1 : defaults.tagTimeoutSeconds;
    return m;
}

std::optional<std::vector<int>> parseSerialList(const QString& text, QString& error) {
    std::vector<int> ports;
    for (QString item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        item = item.trimmed();
        QString digits = item;
        if (digits.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) digits = digits.mid(3);
        const auto n = decimalInt(digits);
        if (!n || *n < 1 || *n > RunConfig::kSlots - 1 || digits.startsWith(QLatin1Char('+'))) {
            error = QStringLiteral("serial port \"%1\" is not COM1 ... COM%2")
                        .arg(item)
                        .arg(RunConfig::kSlots - 1);
            return std::nullopt;
        }
        if (std::find(ports.begin(), ports.end(), *n) == ports.end()) ports.push_back(*n);
    }
    if (ports.empty()) {
        error = QStringLiteral("no serial port named");
        return std::nullopt;
    }
    return ports;
}

bool parseHostPort(const QString& text, QString& host, int& port, QString& error) {
    const QString t = text.trimmed();
    port = 0;
    QString portText;
    bool hasPort = false;
    if (t.startsWith(QLatin1Char('['))) {
        const int close = t.indexOf(QLatin1Char(']'));
        if (close < 0) {
            error = QStringLiteral("\"%1\": ']' missing").arg(t);
            return false;
        }
        host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) {
                error = QStringLiteral("\"%1\" is not HOST:PORT").arg(t);
                return false;
            }
            portText = rest.mid(1);
            hasPort = true;
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        host = t.section(QLatin1Char(':'), 0, 0);
        portText = t.section(QLatin1Char(':'), 1);
        hasPort = true;
    } else {
        host = t; // a plain IPv6 address has no port
    }
    if (host.isEmpty()) {
        error = QStringLiteral("\"%1\" names no host").arg(t);
        return false;
    }
    if (hasPort) {
        const auto p = decimalInt(portText);
        if (!p || *p < 1 || *p > 65535 || portText.startsWith(QLatin1Char('+'))) {
            error = QStringLiteral("\"%1\": port is not 1 ... 65535").arg(t);
            return false;
        }
        port = *p;
    }
    return true;
}

ParsedOptions parseCollectOptions(const QStringList& args) {
    ParsedOptions out;
    CollectOptions& o = out.options;
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Runs tag monitoring without a window: the run the window would start from the same "
        "settings file, or the links given below. Records go to the auto-save file (on unless "
        "--no-auto-save), the event log and, when configured, an MQTT broker. Link changes and "
        "failures are written to standard error, a summary to standard output at the end. "
        "SIGINT or SIGTERM ends the run: ports restored and closed, files complete."));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the version."));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Settings file to use instead of the window's (KELTA_SETTINGS_FILE, else "
                       "~/.config/VANTO/Kelta/LR900.ini)."),
        QStringLiteral("FILE"));
    const QCommandLineOption serial(
        QStringLiteral("serial"),
        QStringLiteral("Serial ports to monitor, e.g. COM3,COM4 (COMn is the serial map's "
                       "entry, else /dev/ttyS<n-1>)."),
        QStringLiteral("PORTS"));
    const QCommandLineOption connect(
        QStringLiteral("connect"),
        QStringLiteral("Connect to a reader; repeatable or a comma list, up to 20, one port for "
                       "all (default: the settings' remote port)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Readers connect to this port."),
                                    QStringLiteral("PORT"));
    const QCommandLineOption autoSave(
        QStringLiteral("auto-save"),
        QStringLiteral("Auto-save file (default: the settings' SaveFileName, else "
                       "~/Documents/Kelta.csv)."),
        QStringLiteral("FILE"));
    const QCommandLineOption noAutoSave(QStringLiteral("no-auto-save"),
                                        QStringLiteral("Writes no auto-save file."));
    const QCommandLineOption eventLog(
        QStringLiteral("event-log"),
        QStringLiteral(
            "Event log of absent and returned tags of the window's selection (default: the "
            "settings' EvenLogFile, else ~/Documents/log.csv)."),
        QStringLiteral("FILE"));
    const QCommandLineOption logMode(
        QStringLiteral("log-mode"),
        QStringLiteral("Downloads a reader's stored tag log instead of live reports."));
    const QCommandLineOption logReader(
        QStringLiteral("log-reader"),
        QStringLiteral("Reader asked for its log in --log-mode (default 0)."),
        QStringLiteral("ID"));
    const QCommandLineOption timeout(
        QStringLiteral("tag-timeout"),
        QStringLiteral("Seconds a selected tag may stay silent (default 10)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption mqtt(
        QStringLiteral("mqtt"),
        QStringLiteral("Publishes to this MQTT broker (default: the settings' MQTT values; "
                       "port 1883, 8883 usual with TLS)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption noMqtt(
        QStringLiteral("no-mqtt"), QStringLiteral("Publishes nothing, whatever the settings say."));
    const QCommandLineOption mqttSite(QStringLiteral("mqtt-site"),
                                      QStringLiteral("Site name, second topic level."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption mqttPrefix(QStringLiteral("mqtt-prefix"),
                                        QStringLiteral("First topic level(s), e.g. plant/rfid."),
                                        QStringLiteral("PREFIX"));
    const QCommandLineOption mqttClientId(
        QStringLiteral("mqtt-client-id"),
        QStringLiteral("Client ID (default: the installation's)."), QStringLiteral("ID"));
    const QCommandLineOption mqttUser(QStringLiteral("mqtt-user"),
                                      QStringLiteral("User name for the broker."),
                                      QStringLiteral("NAME"));
    const QCommandLineOption mqttPasswordFile(
        QStringLiteral("mqtt-password-file"),
        QStringLiteral("File whose first line is the broker password."), QStringLiteral("FILE"));
    const QCommandLineOption mqttCa(QStringLiteral("mqtt-ca"),
                                    QStringLiteral("CA certificate (PEM); turns TLS on."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption mqttCert(QStringLiteral("mqtt-cert"),
                                      QStringLiteral("Client certificate (with --mqtt-key)."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption mqttKey(QStringLiteral("mqtt-key"),
                                     QStringLiteral("Key of the client certificate."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption mqttQueue(
        QStringLiteral("mqtt-queue"),
        QStringLiteral("Messages kept while the broker is away (default 10000)."),
        QStringLiteral("N"));
    p.addOptions(
        {help,         version,  settings,         serial,  connect,  listen,  autoSave, noAutoSave,
         eventLog,     logMode,  logReader,        timeout, mqtt,     noMqtt,  mqttSite, mqttPrefix,
         mqttClientId, mqttUser, mqttPasswordFile, mqttCa,  mqttCert, mqttKey, mqttQueue});
    out.helpText = p.helpText();
    if (!p.parse(args)) {
        out.errors << p.errorText();
        return out;
    }
    if (!p.positionalArguments().isEmpty())
        out.errors
            << QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().first());
    o.help = p.isSet(help);
    o.version = p.isSet(version);

    auto number = [&](const QCommandLineOption& opt, int low, int high) -> std::optional<int> {
        if (!p.isSet(opt)) return std::nullopt;
        const QString t = p.value(opt).trimmed();
        const auto v = decimalInt(t);
        if (!v || *v < low || *v > high || t.startsWith(QLatin1Char('+'))) {
            out.errors << QStringLiteral("--%1 \"%2\" is not a number from %3 to %4")
                              .arg(opt.names().constLast(), t)
                              .arg(low)
                              .arg(high);
            return std::nullopt;
        }
        return v;
    };
    auto textOf = [&](const QCommandLineOption& opt) -> std::optional<QString> {
        if (!p.isSet(opt)) return std::nullopt;
        return p.value(opt);
    };

    o.settingsFile = p.value(settings);
    if (p.isSet(serial)) {
        QString error;
        o.serialPorts = parseSerialList(p.values(serial).join(QLatin1Char(',')), error);
        if (!o.serialPorts) out.errors << QStringLiteral("--serial: ") + error;
    }
    for (const QString& v : p.values(connect))
        for (const QString& item : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
            o.connect << item.trimmed();
    if (p.isSet(connect) && o.connect.isEmpty())
        out.errors << QStringLiteral("--connect: no address");
    o.listenPort = number(listen, 1, 65535);
    o.autoSaveFile = textOf(autoSave);
    o.noAutoSave = p.isSet(noAutoSave);
    o.eventLogFile = textOf(eventLog);
    o.logMode = p.isSet(logMode);
    if (const auto id = number(logReader, 0, 9999)) o.logReaderId = *id;
    o.tagTimeoutSeconds = number(timeout, 1, 86400);
    o.noMqtt = p.isSet(noMqtt);
    o.mqttBroker = textOf(mqtt);
    o.mqttSite = textOf(mqttSite);
    o.mqttPrefix = textOf(mqttPrefix);
    o.mqttClientId = textOf(mqttClientId);
    o.mqttUser = textOf(mqttUser);
    o.mqttPasswordFile = textOf(mqttPasswordFile);
    o.mqttCaFile = textOf(mqttCa);
    o.mqttCertFile = textOf(mqttCert);
    o.mqttKeyFile = textOf(mqttKey);
    o.mqttQueue = number(mqttQueue, static_cast<int>(publish::kMinQueueBound),
                         static_cast<int>(publish::kMaxQueueBound));

    const int kinds =
        (o.serialPorts ? 1 : 0) + (o.connect.isEmpty() ? 0 : 1) + (o.listenPort ? 1 : 0);
    if (kinds > 1)
        out.errors << QStringLiteral("--serial, --connect and --listen exclude each other");
    if (o.autoSaveFile && o.noAutoSave)
        out.errors << QStringLiteral("--auto-save and --no-auto-save exclude each other");
    if (o.mqttBroker && o.noMqtt)
        out.errors << QStringLiteral("--mqtt and --no-mqtt exclude each other");
    return out;
}

QStringList applyOptions(const CollectOptions& o, RunConfig& run, publish::PublishConfig& pub) {
    QStringList errors;
    if (o.serialPorts) {
        run.linkMode = RunConfig::kSerial;
        run.serialPorts.fill(false);
        for (const int n : *o.serialPorts) run.serialPorts[static_cast<std::size_t>(n)] = true;
    }
    if (!o.connect.isEmpty()) {
        run.linkMode = RunConfig::kOutgoingTcp;
        if (o.connect.size() > kWindowAddressRows)
            errors << QStringLiteral("--connect: at most %1 readers").arg(kWindowAddressRows);
        run.addressChecked.fill(false);
        run.addresses.fill(QString());
        int port = 0;
        int row = 0;
        for (const QString& item : o.connect) {
            QString host, error;
            int p = 0;
            if (!parseHostPort(item, host, p, error)) {
                errors << QStringLiteral("--connect: ") + error;
                continue;
            }
            if (p != 0 && port != 0 && p != port)
                errors << QStringLiteral(
                              "--connect: every reader must use the same port (%1 and %2)")
                              .arg(port)
                              .arg(p);
            if (p != 0) port = p;
            if (++row > kWindowAddressRows) continue;
            run.addresses[static_cast<std::size_t>(row)] = host;
            run.addressChecked[static_cast<std::size_t>(row)] = true;
        }
        if (port != 0) run.remotePort = port;
    }
    if (o.listenPort) {
        run.linkMode = RunConfig::kListeningTcp;
        run.listenPort = *o.listenPort;
    }
    // Without a window nobody would see the records otherwise: the collector saves them.
    run.autoSave = !o.noAutoSave;
    if (o.autoSaveFile) run.autoSaveFile = *o.autoSaveFile;
    if (o.eventLogFile) run.eventLogFile = *o.eventLogFile;
    if (o.logMode) {
        run.mode = monitor::DecodeMode::Log;
        run.logReaderId = o.logReaderId;
    }
    if (o.tagTimeoutSeconds) run.tagTimeoutSeconds = *o.tagTimeoutSeconds;
    run.beep = false;

    if (o.mqttBroker) {
        QString host, error;
        int p = 0;
        if (parseHostPort(*o.mqttBroker, host, p, error)) {
            pub.enabled = true;
            pub.host = host;
            if (p != 0) pub.port = p;
        } else {
            errors << QStringLiteral("--mqtt: ") + error;
        }
    }
    if (o.mqttSite) pub.site = *o.mqttSite;
    if (o.mqttPrefix) pub.topicPrefix = *o.mqttPrefix;
    if (o.mqttClientId) pub.clientId = *o.mqttClientId;
    if (o.mqttUser) pub.userName = *o.mqttUser;
    if (o.mqttPasswordFile) {
        QFile f(*o.mqttPasswordFile);
        if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QString line = QString::fromUtf8(f.readLine());
            while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            pub.password = line;
        } else {
            errors << QStringLiteral("--mqtt-password-file: %1 cannot be read")
                          .arg(*o.mqttPasswordFile);
        }
    }
    if (o.mqttCaFile) pub.caFile = *o.mqttCaFile;
    if (o.mqttCertFile) pub.certFile = *o.mqttCertFile;
    if (o.mqttKeyFile) pub.keyFile = *o.mqttKeyFile;
    if (o.mqttQueue) pub.queueBound = static_cast<std::size_t>(*o.mqttQueue);
    if (o.noMqtt) pub.enabled = false;
    return errors;
}

} // namespace kelta::collect
