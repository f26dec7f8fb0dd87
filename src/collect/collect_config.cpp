#include "collect/collect_config.h"

#include "monitor/tag_store.h"
#include "platform/files.h"
#include "platform/settings_store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QStandardPaths>
#include <QTcpServer>
#include <functional>
#include <sys/stat.h>

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
    c.listenAddress = text(kListenAddressKey).value_or(QString()).trimmed();
    if (const auto rotate = text(kRotateKey)) {
        if (const auto r = platform::parseRotation(*rotate))
            c.rotation = *r;
        else
            m.skipped << kRotateKey;
    }
    if (const auto keep = integer(kKeepKey)) {
        if (*keep >= 0 && *keep <= platform::FileRotation::kMostKept)
            c.rotation.keep = *keep;
        else
            m.skipped << kKeepKey;
    }
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

bool parseListen(const QString& text, QString& address, int& port, QString& error) {
    const QString t = text.trimmed();
    address.clear();
    port = 0;
    QString host;
    bool ok = false;
    const int plain = t.toInt(&ok, 10);
    if (ok && !t.startsWith(QLatin1Char('+'))) {
        port = plain;
    } else if (!parseHostPort(t, host, port, error)) {
        return false;
    } else if (port == 0) {
        error = QStringLiteral("\"%1\" names no port ([ADDRESS:]PORT)").arg(t);
        return false;
    }
    if (port < 1 || port > 65535) {
        error = QStringLiteral("\"%1\": port is not 1 ... 65535").arg(t);
        return false;
    }
    if (host == QLatin1String("*")) return true;
    if (!host.isEmpty() && QHostAddress(host).isNull()) {
        error = QStringLiteral("\"%1\" is not an IP address (such as 127.0.0.1 or ::1; * for "
                               "every address)")
                    .arg(host);
        return false;
    }
    address = host;
    return true;
}

QString listenAddressProblem(const QString& text) {
    const QString address = text.trimmed();
    if (address.isEmpty()) return {};
    const QHostAddress a(address);
    if (a.isNull()) return QStringLiteral("Listen address %1 is not an IP address.").arg(address);
    // The system says whether it has the address: a bind on a free port.
    QTcpServer probe;
    if (probe.listen(a, 0) ||
        probe.serverError() != QAbstractSocket::SocketAddressNotAvailableError)
        return {};
    QStringList own;
    for (const QHostAddress& h : QNetworkInterface::allAddresses()) own << h.toString();
    return QStringLiteral("Listen address %1 is not an address of this host (its addresses: %2).")
        .arg(address, own.join(QStringLiteral(", ")));
}

namespace {

// One command-line option, written once: its names (errors name the last), its help, the name
// of its value (none: a switch) and what it does when given, with every value given in order.
struct OptionRow {
    QStringList names;
    const char* help;
    const char* valueName;
    std::function<void(const QStringList& values, const QString& name)> apply;
};

// A value as a decimal number from low to high; else an error naming the option.
std::optional<int> optionNumber(const QString& name, const QString& value, int low, int high,
                                QStringList& errors) {
    const QString t = value.trimmed();
    const auto v = decimalInt(t);
    if (!v || *v < low || *v > high || t.startsWith(QLatin1Char('+'))) {
        errors << QStringLiteral("--%1 \"%2\" is not a number from %3 to %4")
                      .arg(name, t)
                      .arg(low)
                      .arg(high);
        return std::nullopt;
    }
    return v;
}

} // namespace

ParsedOptions parseCollectOptions(const QStringList& args) {
    ParsedOptions out;
    CollectOptions& o = out.options;
    QStringList& errors = out.errors;
    auto on = [](bool& to) { return [&to](const QStringList&, const QString&) { to = true; }; };
    auto text = [](std::optional<QString>& to) {
        return [&to](const QStringList& v, const QString&) { to = v.constLast(); };
    };
    auto number = [&errors](std::optional<int>& to, int low, int high) {
        return [&to, &errors, low, high](const QStringList& v, const QString& name) {
            to = optionNumber(name, v.constLast(), low, high, errors);
        };
    };
    const OptionRow rows[] = {
        {{"h", "help"}, "Shows this help.", nullptr, on(o.help)},
        {{"version"}, "Shows the version.", nullptr, on(o.version)},
        {{"settings"},
         "Settings file to use instead of the window's (KELTA_SETTINGS_FILE, else "
         "~/.config/VANTO/Kelta/LR900.ini).",
         "FILE",
         [&](const QStringList& v, const QString&) { o.settingsFile = v.constLast(); }},
        {{"serial"},
         "Serial ports to monitor, e.g. COM3,COM4 (COMn is the serial map's entry, else "
         "/dev/ttyS<n-1>).",
         "PORTS",
         [&](const QStringList& v, const QString&) {
             QString error;
             o.serialPorts = parseSerialList(v.join(QLatin1Char(',')), error);
             if (!o.serialPorts) errors << QStringLiteral("--serial: ") + error;
         }},
        {{"connect"},
         "Connect to a reader; repeatable or a comma list, up to 20, one port for all (default: "
         "the settings' remote port).",
         "HOST[:PORT]",
         [&](const QStringList& v, const QString&) {
             for (const QString& value : v)
                 for (const QString& item : value.split(QLatin1Char(','), Qt::SkipEmptyParts))
                     o.connect << item.trimmed();
             if (o.connect.isEmpty()) errors << QStringLiteral("--connect: no address");
         }},
        {{"listen"},
         "Readers connect to this port, on this address of the host (default: the settings' "
         "ListenAddress, else every address; * for every address).",
         "[ADDRESS:]PORT",
         [&](const QStringList& v, const QString&) {
             QString address, error;
             int port = 0;
             if (!parseListen(v.constLast(), address, port, error)) {
                 errors << QStringLiteral("--listen: ") + error;
                 return;
             }
             o.listenPort = port;
             if (v.constLast().contains(QLatin1Char(':'))) o.listenAddress = address;
         }},
        {{"auto-save"},
         "Auto-save file (default: the settings' SaveFileName, else ~/Documents/Kelta.csv).",
         "FILE",
         text(o.autoSaveFile)},
        {{"no-auto-save"}, "Writes no auto-save file.", nullptr, on(o.noAutoSave)},
        {{"rotate"},
         "Begins a fresh auto-save file and event log when a file would pass SIZE (with K, M or "
         "G: 100M) or at local midnight (daily); the full one is kept beside it under its "
         "name with date and time (default: the settings' RotateFiles, else off).",
         "SIZE|daily",
         [&](const QStringList& v, const QString&) {
             QString error;
             if (const auto r = platform::parseRotation(v.constLast(), &error))
                 o.rotation = *r;
             else
                 errors << QStringLiteral("--rotate: ") + error;
         }},
        {{"keep"},
         "Old files of each kept when rotating; older ones are deleted (default: the settings' "
         "KeepFiles, else 30).",
         "N",
         number(o.keep, 0, platform::FileRotation::kMostKept)},
        {{"event-log"},
         "Event log of absent and returned tags of the window's selection (default: the "
         "settings' EvenLogFile, else ~/Documents/log.csv).",
         "FILE",
         text(o.eventLogFile)},
        {{"log-mode"},
         "Downloads a reader's stored tag log instead of live reports.",
         nullptr,
         on(o.logMode)},
        {{"log-reader"},
         "Reader asked for its log in --log-mode (default 0).",
         "ID",
         [&](const QStringList& v, const QString& name) {
             if (const auto id = optionNumber(name, v.constLast(), 0, 9999, errors))
                 o.logReaderId = *id;
         }},
        {{"tag-timeout"},
         "Seconds a selected tag may stay silent (default 10).",
         "SECONDS",
         number(o.tagTimeoutSeconds, 1, 86400)},
        {{"mqtt"},
         "Publishes to this MQTT broker (default: the settings' MQTT values; port 1883, 8883 "
         "usual with TLS).",
         "HOST[:PORT]",
         text(o.mqttBroker)},
        {{"no-mqtt"}, "Publishes nothing, whatever the settings say.", nullptr, on(o.noMqtt)},
        {{"mqtt-site"}, "Site name, second topic level.", "NAME", text(o.mqttSite)},
        {{"mqtt-prefix"}, "First topic level(s), e.g. plant/rfid.", "PREFIX", text(o.mqttPrefix)},
        {{"mqtt-client-id"},
         "Client ID (default: the installation's).",
         "ID",
         text(o.mqttClientId)},
        {{"mqtt-user"}, "User name for the broker.", "NAME", text(o.mqttUser)},
        {{"mqtt-password-file"},
         "File whose first line is the broker password.",
         "FILE",
         text(o.mqttPasswordFile)},
        {{"mqtt-ca"}, "CA certificate (PEM); turns TLS on.", "FILE", text(o.mqttCaFile)},
        {{"mqtt-cert"}, "Client certificate (with --mqtt-key).", "FILE", text(o.mqttCertFile)},
        {{"mqtt-key"}, "Key of the client certificate.", "FILE", text(o.mqttKeyFile)},
        {{"mqtt-queue"},
         "Messages kept while the broker is away (default 10000).",
         "N",
         number(o.mqttQueue, static_cast<int>(publish::kMinQueueBound),
                static_cast<int>(publish::kMaxQueueBound))},
    };

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Runs tag monitoring without a window: the run the window would start from the same "
        "settings file, or the links given below. Records go to the auto-save file (on unless "
        "--no-auto-save), the event log and, when configured, an MQTT broker. Link changes and "
        "failures are written to standard error, a summary to standard output at the end. "
        "SIGINT or SIGTERM ends the run: ports restored and closed, files complete. SIGUSR1 "
        "writes the table of the links to standard error; the summary ends with it."));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QList<QCommandLineOption> options;
    for (const OptionRow& row : rows)
        options << QCommandLineOption(row.names, QString::fromUtf8(row.help),
                                      row.valueName ? QString::fromUtf8(row.valueName) : QString());
    p.addOptions(options);
    out.helpText = p.helpText();
    if (!p.parse(args)) {
        errors << p.errorText();
        return out;
    }
    if (!p.positionalArguments().isEmpty())
        errors << QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().first());
    for (qsizetype i = 0; i < options.size(); ++i)
        if (p.isSet(options[i])) rows[i].apply(p.values(options[i]), rows[i].names.constLast());

    const int kinds =
        (o.serialPorts ? 1 : 0) + (o.connect.isEmpty() ? 0 : 1) + (o.listenPort ? 1 : 0);
    if (kinds > 1) errors << QStringLiteral("--serial, --connect and --listen exclude each other");
    if (o.autoSaveFile && o.noAutoSave)
        errors << QStringLiteral("--auto-save and --no-auto-save exclude each other");
    if (o.mqttBroker && o.noMqtt)
        errors << QStringLiteral("--mqtt and --no-mqtt exclude each other");
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
    if (o.listenAddress) run.listenAddress = *o.listenAddress;
    if (o.rotation) {
        const int keep = run.rotation.keep;
        run.rotation = *o.rotation;
        run.rotation.keep = keep;
    }
    if (o.keep) run.rotation.keep = *o.keep;
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
    struct stat st {};
    if (o.mqttPasswordFile &&
        ::stat(QFile::encodeName(*o.mqttPasswordFile).constData(), &st) == 0 &&
        (st.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        // A secret others may read is no secret: it is not used.
        errors << QStringLiteral("--mqtt-password-file: %1 can be read by group or others (mode "
                                 "%2); make it private first: chmod 600 %1")
                      .arg(*o.mqttPasswordFile)
                      .arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
    } else if (o.mqttPasswordFile) {
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
