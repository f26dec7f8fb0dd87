#include "publish/messages.h"

#include "kelta/version.h"
#include "monitor/proto/report_decoder.h"

#include <QLocale>
#include <QStringList>

namespace kelta::publish {

namespace {

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

const char* linkTypeName(LinkType t) {
    switch (t) {
    case LinkType::Serial:
        return "serial";
    case LinkType::TcpClient:
        return "tcp-client";
    case LinkType::TcpServer:
        return "tcp-server";
    }
    return "serial";
}

const char* sensorKindName(monitor::SensorKind k) {
    switch (k) {
    case monitor::SensorKind::Temperature:
        return "temperature";
    case monitor::SensorKind::Humidity:
        return "humidity";
    case monitor::SensorKind::Counter:
        return "counter";
    }
    return "temperature";
}

// UTF-8 of the units: degree sign U+00B0.
const char* sensorUnit(monitor::SensorKind k) {
    switch (k) {
    case monitor::SensorKind::Temperature:
        return "\xC2\xB0"
               "C";
    case monitor::SensorKind::Humidity:
        return "%";
    case monitor::SensorKind::Counter:
        return "count";
    }
    return "";
}

const char* slotName(monitor::SensorSlot s) {
    return s == monitor::SensorSlot::D1H ? "D_1H" : "D_2H";
}

// A small JSON writer: members in the order given (the grid's column order), texts escaped.
class JsonWriter {
public:
    JsonWriter() { out_.reserve(768); }
    void open() {
        separate();
        out_ += '{';
        first_ = true;
    }
    void close() {
        out_ += '}';
        first_ = false;
    }
    void key(QLatin1String k) {
        separate();
        out_ += '"';
        out_ += QByteArray(k.data(), k.size());
        out_ += "\":";
        first_ = true; // the value follows without a comma
    }
    void key(const QString& k) {
        separate();
        text(k);
        out_ += ':';
        first_ = true;
    }
    void string(QLatin1String k, const QString& v) {
        key(k);
        text(v);
        first_ = false;
    }
    void number(QLatin1String k, qint64 v) {
        key(k);
        out_ += QByteArray::number(v);
        first_ = false;
    }
    // A number already written as JSON ("23.50", "-0.03").
    void literal(QLatin1String k, const QByteArray& json) {
        key(k);
        out_ += json;
        first_ = false;
    }
    void null(QLatin1String k) { literal(k, QByteArrayLiteral("null")); }
    // Shortest text that reads back as the same double.
    void real(QLatin1String k, double v) {
        literal(k, QByteArray::number(v, 'g', QLocale::FloatingPointShortest));
    }
    void openArray(QLatin1String k) {
        key(k);
        out_ += '[';
        first_ = true;
    }
    void closeArray() {
        out_ += ']';
        first_ = false;
    }
    void element(qint64 v) {
        separate();
        out_ += QByteArray::number(v);
        first_ = false;
    }
    void members(QLatin1String k, const std::vector<std::pair<QString, QString>>& pairs) {
        key(k);
        open();
        for (const auto& [name, value] : pairs) {
            key(name);
            text(value);
            first_ = false;
        }
        close();
    }
    QByteArray take() { return std::move(out_); }

private:
    void separate() {
        if (!first_) out_ += ',';
    }
    void text(const QString& v) {
        static const char kHex[] = "0123456789abcdef";
        out_ += '"';
        for (const char c : v.toUtf8()) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (u < 0x20) {
                switch (c) {
                case '\n':
                    out_ += "\\n";
                    break;
                case '\r':
                    out_ += "\\r";
                    break;
                case '\t':
                    out_ += "\\t";
                    break;
                default:
                    out_ += "\\u00";
                    out_ += kHex[u >> 4];
                    out_ += kHex[u & 0x0F];
                }
            } else {
                out_ += c;
            }
        }
        out_ += '"';
    }

    QByteArray out_;
    bool first_ = true;
};

} // namespace

TagMessage tagMessageFromRecord(const monitor::DecodedTagRecord& r, monitor::DecodeMode mode,
                                const LinkInfo& link, const QDateTime& received) {
    TagMessage m;
    m.readerId = fromUtf8(r.readerId);
    m.uid = fromUtf8(r.uid);
    m.link = link;
    m.received = received;
    m.logRecord = mode == monitor::DecodeMode::Log;
    const std::pair<const char*, const std::string*> cells[] = {
        {"UID", &r.uid},        {"RSSI", &r.rssi},       {"LQI", &r.lqi},     {"TagVer", &r.tagVer},
        {"Packet", &r.packet},  {"Model", &r.model},     {"KeyNo", &r.keyNo}, {"Group", &r.group},
        {"S_State", &r.sState}, {"Battery", &r.battery}, {"ISN_H", &r.isnH},  {"ISN_L", &r.isnL},
        {"D_1H", &r.d1h},       {"D_1L", &r.d1l},        {"D_2H", &r.d2h},    {"D_2L", &r.d2l},
        {"ID", &r.readerId}};
    for (const auto& [name, text] : cells)
        m.fields.emplace_back(QLatin1String(name), fromUtf8(*text));
    if (m.logRecord) {
        m.fields.emplace_back(QStringLiteral("Index"), fromUtf8(r.index));
        m.fields.emplace_back(QStringLiteral("DateTime"), fromUtf8(r.logDateTime));
    }
    m.fields.emplace_back(QStringLiteral("GPS"), fromUtf8(r.gps));
    if (m.logRecord) m.fields.emplace_back(QStringLiteral("LOGStatus"), fromUtf8(r.logStatus));
    // The texts of the columns that show a reading (D_2H always, D_1H not always).
    const monitor::TagValues& v = r.values;
    if (v.dataShown == monitor::DataShown::Sensors) {
        for (std::size_t i = 0; i < v.sensorCount && i < v.sensors.size(); ++i) {
            const bool first = v.sensors[i].slot == monitor::SensorSlot::D1H;
            m.sensors.emplace_back(QLatin1String(slotName(v.sensors[i].slot)),
                                   fromUtf8(first ? r.d1h : r.d2h));
        }
    }
    m.values = v;
    return m;
}

QString isoTimeWithZone(const QDateTime& t) {
    if (!t.isValid()) return QString();
    // Qt::ISODateWithMs writes "Z" for UTC and nothing at all for a time without zone: write
    // the offset out always, so that a reader of the message never has to guess the zone.
    // The time is written in its own zone (local time for the clock's times).
    const QDateTime& local = t;
    const int offset = local.offsetFromUtc();
    const int mins = (offset < 0 ? -offset : offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(mins / 60, 2, 10, QLatin1Char('0'))
               .arg(mins % 60, 2, 10, QLatin1Char('0'));
}

namespace {

void writeLink(JsonWriter& w, const LinkInfo& link) {
    w.key(QLatin1String("link"));
    w.open();
    w.string(QLatin1String("kind"), QLatin1String(linkTypeName(link.type)));
    w.string(link.type == LinkType::Serial ? QLatin1String("port") : QLatin1String("address"),
             link.name);
    w.close();
}

void writeAngle(JsonWriter& w, QLatin1String k, const monitor::GpsAngle& a) {
    w.real(k, a.decimalDegrees());
}

// The typed values of a record: numbers where the texts show numbers.
void writeValues(JsonWriter& w, const monitor::TagValues& v) {
    w.key(QLatin1String("values"));
    w.open();
    w.number(QLatin1String("readerId"), v.readerId);
    w.number(QLatin1String("rssi"), v.rssi);
    w.number(QLatin1String("lqi"), v.lqi);
    w.number(QLatin1String("battery"), v.battery);
    w.number(QLatin1String("tagVersion"), v.tagVersion);
    w.number(QLatin1String("model"), v.model);
    w.number(QLatin1String("keyNo"), v.keyNo);
    w.number(QLatin1String("group"), v.group);
    w.number(QLatin1String("packet"), v.packet);
    w.number(QLatin1String("state"), v.state);
    w.number(QLatin1String("isn"), (v.isnH << 8) | v.isnL);
    if (v.dataShown == monitor::DataShown::Raw) {
        w.openArray(QLatin1String("data"));
        for (const std::uint8_t b : v.data) w.element(b);
        w.closeArray();
    }
    w.openArray(QLatin1String("sensors"));
    if (v.dataShown == monitor::DataShown::Sensors) {
        for (std::size_t i = 0; i < v.sensorCount && i < v.sensors.size(); ++i) {
            const monitor::SensorReading& s = v.sensors[i];
            w.open();
            w.string(QLatin1String("slot"), QLatin1String(slotName(s.slot)));
            w.string(QLatin1String("kind"), QLatin1String(sensorKindName(s.kind)));
            // The value as the grid shows it, to its last digit.
            w.literal(QLatin1String("value"), QByteArray::fromStdString(SensorValueText(s)));
            w.string(QLatin1String("unit"), QString::fromUtf8(sensorUnit(s.kind)));
            w.close();
        }
    }
    w.closeArray();
    if (v.gps) {
        w.key(QLatin1String("gps"));
        w.open();
        writeAngle(w, QLatin1String("longitude"), v.gps->longitude);
        writeAngle(w, QLatin1String("latitude"), v.gps->latitude);
        w.number(QLatin1String("value1"), v.gps->value1);
        w.number(QLatin1String("value2"), v.gps->value2);
        w.close();
    }
    if (v.log) {
        w.number(QLatin1String("index"), v.index);
        const std::string time = monitor::LogTimeIso(v.logTime);
        if (time.empty())
            w.null(QLatin1String("logTime"));
        else
            w.string(QLatin1String("logTime"), QString::fromStdString(time));
        w.key(QLatin1String("logStatus"));
        w.open();
        w.number(QLatin1String("code"), v.logStatus);
        w.string(QLatin1String("text"), fromUtf8(monitor::LogStatusText(v.logStatus)));
        w.close();
    }
    w.close();
}

} // namespace

QByteArray tagMessageJson(const TagMessage& m) {
    JsonWriter w;
    w.open();
    w.number(QLatin1String("schema"), kMessageSchema);
    w.string(QLatin1String("readerId"), m.readerId);
    w.string(QLatin1String("uid"), m.uid);
    writeLink(w, m.link);
    w.string(QLatin1String("mode"), m.logRecord ? QStringLiteral("log") : QStringLiteral("live"));
    w.string(QLatin1String("received"), isoTimeWithZone(m.received));
    w.members(QLatin1String("fields"), m.fields);
    if (!m.sensors.empty()) w.members(QLatin1String("sensors"), m.sensors);
    writeValues(w, m.values);
    w.close();
    return w.take();
}

QByteArray presenceEventJson(const PresenceEvent& e) {
    JsonWriter w;
    w.open();
    w.number(QLatin1String("schema"), kMessageSchema);
    w.string(QLatin1String("event"), e.kind == PresenceEvent::Kind::Absent
                                         ? QStringLiteral("absent")
                                         : QStringLiteral("returned"));
    w.string(QLatin1String("uid"), e.uid);
    if (!e.readerId.isEmpty()) w.string(QLatin1String("readerId"), e.readerId);
    w.string(QLatin1String("rssi"), e.rssi);
    w.string(QLatin1String("lqi"), e.lqi);
    w.string(QLatin1String("lastSeen"), isoTimeWithZone(e.lastSeen));
    w.string(QLatin1String("time"), isoTimeWithZone(e.at));
    w.number(QLatin1String("silentMs"), e.silentMs < 0 ? -e.silentMs : e.silentMs);
    w.key(QLatin1String("values"));
    w.open();
    w.number(QLatin1String("rssi"), e.rssiValue);
    w.number(QLatin1String("lqi"), e.lqiValue);
    w.close();
    w.close();
    return w.take();
}

QByteArray siteStatusJson(const SiteStatus& s) {
    JsonWriter w;
    w.open();
    w.number(QLatin1String("schema"), kMessageSchema);
    w.string(QLatin1String("state"),
             s.online ? QStringLiteral("online") : QStringLiteral("offline"));
    if (s.since.isValid()) w.string(QLatin1String("since"), isoTimeWithZone(s.since));
    w.string(QLatin1String("program"), s.program);
    w.string(QLatin1String("version"), s.version);
    w.string(QLatin1String("clientId"), s.clientId);
    w.close();
    return w.take();
}

QByteArray readerStatusJson(const ReaderStatus& s) {
    JsonWriter w;
    w.open();
    w.number(QLatin1String("schema"), kMessageSchema);
    w.string(QLatin1String("readerId"), s.readerId);
    QString state = QStringLiteral("connected");
    if (s.state == ReaderStatus::State::Lost) state = QStringLiteral("lost");
    if (s.state == ReaderStatus::State::Reconnecting) state = QStringLiteral("reconnecting");
    w.string(QLatin1String("state"), state);
    writeLink(w, s.link);
    if (s.lastReport.isValid())
        w.string(QLatin1String("lastReport"), isoTimeWithZone(s.lastReport));
    else
        w.null(QLatin1String("lastReport"));
    w.number(QLatin1String("records"), static_cast<qint64>(s.records));
    w.close();
    return w.take();
}

QString programVersion() {
    return QStringLiteral(KELTA_VERSION);
}

QString topicLevel(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (const QChar ch : name) {
        const bool bad = ch == QLatin1Char('/') || ch == QLatin1Char('+') ||
                         ch == QLatin1Char('#') || ch.unicode() < 0x20 || ch.unicode() == 0x7F;
        out += bad ? QLatin1Char('_') : ch;
    }
    return out.isEmpty() ? QStringLiteral("_") : out;
}

QString topicPrefixLevels(const QString& prefix) {
    QStringList levels;
    for (const QString& level : prefix.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        levels << topicLevel(level);
    if (levels.isEmpty()) return QStringLiteral("kelta");
    // Topics starting with '$' belong to the broker and are refused for publishing.
    if (levels.front().startsWith(QLatin1Char('$'))) levels.front()[0] = QLatin1Char('_');
    return levels.join(QLatin1Char('/'));
}

QByteArray tagTopic(const QString& prefix, const QString& site, const QString& readerId,
                    const QString& uid) {
    return (topicPrefixLevels(prefix) + QLatin1Char('/') + topicLevel(site) +
            QStringLiteral("/reader/") + topicLevel(readerId) + QStringLiteral("/tag/") +
            topicLevel(uid))
        .toUtf8();
}

QByteArray statusTopic(const QString& prefix, const QString& site) {
    return (topicPrefixLevels(prefix) + QLatin1Char('/') + topicLevel(site) +
            QStringLiteral("/status"))
        .toUtf8();
}

QByteArray readerStatusTopic(const QString& prefix, const QString& site, const QString& readerId) {
    return (topicPrefixLevels(prefix) + QLatin1Char('/') + topicLevel(site) +
            QStringLiteral("/reader/") + topicLevel(readerId) + QStringLiteral("/status"))
        .toUtf8();
}

QByteArray eventTopic(const QString& prefix, const QString& site) {
    return (topicPrefixLevels(prefix) + QLatin1Char('/') + topicLevel(site) +
            QStringLiteral("/event"))
        .toUtf8();
}

} // namespace kelta::publish
