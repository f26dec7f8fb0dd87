// Message and topic building.
#include "publish/messages.h"
#include "support/generated_reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace kelta;
using namespace kelta::publish;

namespace {

QJsonObject parse(const QByteArray& json) {
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(json, &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << json.toStdString();
    return d.object();
}

// A record as the decoder makes it: typed values, texts made from them.
monitor::DecodedTagRecord recordOf(const monitor::TagValues& v) {
    monitor::DecodedTagRecord r;
    r.values = v;
    monitor::RenderTagTexts(v, r);
    return r;
}

monitor::TagValues sampleValues() {
    monitor::TagValues v;
    v.readerId = 42;
    v.uid = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    v.rssi = 187;
    v.lqi = 55;
    v.tagVersion = 0x10;
    v.packet = 0x21;
    v.model = 0x21;
    v.keyNo = 0x03;
    v.group = 0x0A;
    v.state = 0x81;
    v.battery = 33;
    v.isnH = 0x7F;
    v.isnL = 0x01;
    v.data = {0x3C, 0x4D, 0x5E, 0x6F};
    v.dataShown = monitor::DataShown::Raw;
    v.log = true; // the texts of a log record; a live message leaves them out
    v.index = 17;
    v.logTime = {2026, 12, 8, 13, 1, 2};
    v.logStatus = 1;
    return v;
}

monitor::DecodedTagRecord sampleRecord() {
    return recordOf(sampleValues());
}

} // namespace

TEST(PublishMessages, TimeIsWrittenWithItsZone) {
    const QDate day(2026, 12, 8);
    const QTime at(14, 3, 7, 250);
    struct Case {
        QDateTime t;
        const char* text;
    };
    const Case cases[] = {
        {QDateTime(day, at, QTimeZone::utc()), "2026-12-08T14:03:07.250+00:00"},
        {QDateTime(day, at, QTimeZone(5 * 3600 + 30 * 60)), "2026-12-08T14:03:07.250+05:30"},
        {QDateTime(day, at, QTimeZone(-(3 * 3600 + 45 * 60))), "2026-12-08T14:03:07.250-03:45"},
        {QDateTime(day, QTime(0, 0), QTimeZone(-60)), "2026-12-08T00:00:00.000-00:01"},
        {QDateTime(), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const QString text = isoTimeWithZone(c.t);
        EXPECT_EQ(text.toStdString(), c.text);
        // What is written reads back as the same instant.
        if (c.t.isValid()) {
            EXPECT_EQ(QDateTime::fromString(text, Qt::ISODateWithMs).toMSecsSinceEpoch(),
                      c.t.toMSecsSinceEpoch());
        }
    }
    // Local times carry the local offset.
    const QDateTime local = QDateTime::currentDateTime();
    EXPECT_EQ(QDateTime::fromString(isoTimeWithZone(local), Qt::ISODateWithMs).toMSecsSinceEpoch(),
              local.toMSecsSinceEpoch());
}

TEST(PublishMessages, TopicLevelsCannotBeSplitOrTurnedIntoFilters) {
    struct Case {
        QString in;
        const char* level;
    };
    const Case cases[] = {
        {"north", "north"},
        {"a/b", "a_b"},
        {"+", "_"},
        {"floor#2", "floor_2"},
        {"", "_"},
        {QString("x\ny\tz"), "x_y_z"},
        {QString(QChar(0)), "_"},
        {"Zürich", "Zürich"},
        {"with space", "with space"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in.toStdString());
        EXPECT_EQ(topicLevel(c.in).toStdString(), c.level);
    }
    struct PrefixCase {
        const char* in;
        const char* out;
    };
    const PrefixCase prefixes[] = {
        {"kelta", "kelta"},
        {"plant/kelta", "plant/kelta"},
        {"/plant//kelta/", "plant/kelta"},
        {"", "kelta"},
        {"$SYS", "_SYS"},
        {"a+/#b", "a_/_b"},
    };
    for (const PrefixCase& c : prefixes) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(topicPrefixLevels(QString::fromUtf8(c.in)).toStdString(), c.out);
    }
    EXPECT_EQ(tagTopic("kelta", "north/2", "0042", "0123456789ABCDEF").toStdString(),
              "kelta/north_2/reader/0042/tag/0123456789ABCDEF");
    EXPECT_EQ(tagTopic("", "", "", "").toStdString(), "kelta/_/reader/_/tag/_");
    EXPECT_EQ(eventTopic("plant/kelta", "site#1").toStdString(), "plant/kelta/site_1/event");
}

TEST(PublishMessages, RecordFieldsAndSensorTexts) {
    using monitor::SensorKind;
    using monitor::SensorSlot;
    struct Case {
        const char* name;
        monitor::DataShown shown;
        std::vector<monitor::SensorReading> readings;
        const char* d1h;
        const char* d2h;
    };
    const Case cases[] = {
        {"raw hex bytes", monitor::DataShown::Raw, {}, "3C", "5E"},
        {"no data fields", monitor::DataShown::None, {}, "", ""},
        {"two temperatures",
         monitor::DataShown::Sensors,
         {{SensorSlot::D1H, SensorKind::Temperature, 23.5f},
          {SensorSlot::D2H, SensorKind::Temperature, -5.25f}},
         "23.50 C / 74.30 F",
         "-5.25 C / 22.55 F"},
        {"temperature and humidity",
         monitor::DataShown::Sensors,
         {{SensorSlot::D1H, SensorKind::Temperature, 21.0f},
          {SensorSlot::D2H, SensorKind::Humidity, 45.12f}},
         "21.00 C / 69.80 F",
         "45.12%"},
        {"counter only",
         monitor::DataShown::Sensors,
         {{SensorSlot::D2H, SensorKind::Counter, 815.0f}},
         "",
         "0815"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        monitor::TagValues v = sampleValues();
        v.dataShown = c.shown;
        v.sensorCount = static_cast<std::uint8_t>(c.readings.size());
        for (std::size_t i = 0; i < c.readings.size(); ++i) v.sensors[i] = c.readings[i];
        const TagMessage m = tagMessageFromRecord(recordOf(v), monitor::DecodeMode::Live,
                                                  LinkInfo{LinkType::Serial, "COM7"}, {});
        const QJsonObject o = parse(tagMessageJson(m));
        const bool sensors = c.shown == monitor::DataShown::Sensors;
        EXPECT_EQ(o.contains("sensors"), sensors);
        const QJsonObject s = o.value("sensors").toObject();
        if (sensors) {
            EXPECT_EQ(s.value("D_2H").toString().toStdString(), c.d2h);
        }
        EXPECT_EQ(s.contains("D_1H"), sensors && *c.d1h != 0);
        EXPECT_EQ(s.value("D_1H").toString().toStdString(), sensors ? c.d1h : "");
        // The grid cells keep the texts either way.
        const QJsonObject f = o.value("fields").toObject();
        EXPECT_EQ(f.value("D_1H").toString().toStdString(), c.d1h);
        EXPECT_EQ(f.value("D_2H").toString().toStdString(), c.d2h);
        // One typed reading per sensor text, in column order; raw bytes only as data.
        const QJsonObject values = o.value("values").toObject();
        const QJsonArray readings = values.value("sensors").toArray();
        ASSERT_EQ(readings.size(), static_cast<qsizetype>(c.readings.size()));
        for (qsizetype i = 0; i < readings.size(); ++i) {
            const QJsonObject r = readings[i].toObject();
            const QString slot = r.value("slot").toString();
            EXPECT_EQ(
                r.value("value").toDouble(),
                f.value(slot).toString().section(QLatin1Char(' '), 0, 0).remove('%').toDouble())
                << slot.toStdString();
        }
        EXPECT_EQ(values.contains("data"), c.shown == monitor::DataShown::Raw);
        if (c.shown == monitor::DataShown::Raw) {
            EXPECT_EQ(values.value("data").toArray(), QJsonArray({0x3C, 0x4D, 0x5E, 0x6F}));
        }
    }
}

TEST(PublishMessages, LiveAndLogRecordsCarryTheirGridColumns) {
    const monitor::DecodedTagRecord r = sampleRecord();
    const QDateTime at(QDate(2026, 12, 8), QTime(9, 0), QTimeZone::utc());
    struct Case {
        monitor::DecodeMode mode;
        const char* modeText;
        bool logColumns;
    };
    for (const Case& c : {Case{monitor::DecodeMode::Live, "live", false},
                          Case{monitor::DecodeMode::Log, "log", true}}) {
        SCOPED_TRACE(c.modeText);
        const QJsonObject o = parse(tagMessageJson(
            tagMessageFromRecord(r, c.mode, LinkInfo{LinkType::TcpClient, "10.0.0.5:4660"}, at)));
        EXPECT_EQ(o.value("readerId").toString(), "0042");
        EXPECT_EQ(o.value("uid").toString(), "0123456789ABCDEF");
        EXPECT_EQ(o.value("mode").toString(), c.modeText);
        EXPECT_EQ(o.value("received").toString(), "2026-12-08T09:00:00.000+00:00");
        const QJsonObject link = o.value("link").toObject();
        EXPECT_EQ(link.value("kind").toString(), "tcp-client");
        EXPECT_EQ(link.value("address").toString(), "10.0.0.5:4660");
        EXPECT_FALSE(link.contains("port"));

        const QJsonObject f = o.value("fields").toObject();
        const std::pair<const char*, const std::string*> expected[] = {
            {"UID", &r.uid},         {"RSSI", &r.rssi},     {"LQI", &r.lqi},
            {"TagVer", &r.tagVer},   {"Packet", &r.packet}, {"Model", &r.model},
            {"KeyNo", &r.keyNo},     {"Group", &r.group},   {"S_State", &r.sState},
            {"Battery", &r.battery}, {"ISN_H", &r.isnH},    {"ISN_L", &r.isnL},
            {"D_1H", &r.d1h},        {"D_1L", &r.d1l},      {"D_2H", &r.d2h},
            {"D_2L", &r.d2l},        {"ID", &r.readerId},   {"GPS", &r.gps}};
        for (const auto& [name, value] : expected) {
            SCOPED_TRACE(name);
            ASSERT_TRUE(f.contains(name));
            EXPECT_EQ(f.value(name).toString().toStdString(), *value);
        }
        for (const char* logOnly : {"Index", "DateTime", "LOGStatus"})
            EXPECT_EQ(f.contains(logOnly), c.logColumns) << logOnly;
        if (c.logColumns) {
            EXPECT_EQ(f.value("Index").toString(), "17");
            EXPECT_EQ(f.value("DateTime").toString(), "2026/12/08 13:01:02");
            EXPECT_EQ(f.value("LOGStatus").toString(), "New TAG Entry");
        }
    }
}

TEST(PublishMessages, TextsThatNeedEscapingSurviveTheRoundTrip) {
    monitor::DecodedTagRecord r = sampleRecord();
    r.gps = "25°01'02.030\",121°33'44.050\",12,34";
    r.logStatus = "quote \" back\\slash\nnew line\r\ttab";
    r.d1l = std::string("nul") + '\0' + "\x01\x1f\x7f end";
    r.model = "Zürich ½ 日本";
    const QJsonObject f =
        parse(tagMessageJson(tagMessageFromRecord(r, monitor::DecodeMode::Log, {}, {})))
            .value("fields")
            .toObject();
    EXPECT_EQ(f.value("GPS").toString(), QString::fromUtf8(r.gps.c_str()));
    EXPECT_EQ(f.value("LOGStatus").toString().toStdString(), r.logStatus);
    EXPECT_EQ(f.value("D_1L").toString().toStdString(), r.d1l);
    EXPECT_EQ(f.value("Model").toString().toStdString(), r.model);
}

TEST(PublishMessages, FieldsKeepTheirOrder) {
    const TagMessage m =
        tagMessageFromRecord(sampleRecord(), monitor::DecodeMode::Log, {}, QDateTime());
    const QByteArray json = tagMessageJson(m);
    const qsizetype fieldsAt = json.indexOf("\"fields\":");
    ASSERT_GE(fieldsAt, 0);
    qsizetype last = fieldsAt;
    for (const auto& [name, value] : m.fields) {
        const qsizetype at = json.indexOf("\"" + name.toUtf8() + "\":", last);
        EXPECT_GT(at, last) << name.toStdString() << " out of order in " << json.toStdString();
        last = at;
    }
}

TEST(PublishMessages, PresenceEvents) {
    const QDateTime seen(QDate(2026, 12, 8), QTime(10, 0), QTimeZone::utc());
    struct Case {
        PresenceEvent::Kind kind;
        const char* text;
        QString readerId;
        qint64 silentMs;
    };
    const Case cases[] = {
        {PresenceEvent::Kind::Absent, "absent", "0001", 65000},
        {PresenceEvent::Kind::Returned, "returned", "", 125500},
        // The engine may hand the interval with either sign (clock set back): always positive.
        {PresenceEvent::Kind::Returned, "returned", "0002", -4000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PresenceEvent e;
        e.kind = c.kind;
        e.uid = "00000000000000AA";
        e.readerId = c.readerId;
        e.rssi = "120";
        e.lqi = "33";
        e.lastSeen = seen;
        e.at = seen.addMSecs(c.silentMs);
        e.silentMs = c.silentMs;
        const QJsonObject o = parse(presenceEventJson(e));
        EXPECT_EQ(o.value("event").toString().toStdString(), c.text);
        EXPECT_EQ(o.value("uid").toString(), "00000000000000AA");
        EXPECT_EQ(o.contains("readerId"), !c.readerId.isEmpty());
        EXPECT_EQ(o.value("readerId").toString(), c.readerId);
        EXPECT_EQ(o.value("rssi").toString(), "120");
        EXPECT_EQ(o.value("lastSeen").toString(), "2026-12-08T10:00:00.000+00:00");
        EXPECT_EQ(o.value("silentMs").toInteger(), c.silentMs < 0 ? -c.silentMs : c.silentMs);
    }
}

namespace {

// The number at the start of a sensor text: "23.50 C / 74.30 F", "45.12%", "0815".
double shownNumber(const QString& text) {
    QString n = text.section(QLatin1Char(' '), 0, 0);
    if (n.endsWith(QLatin1Char('%'))) n.chop(1);
    bool ok = false;
    const double v = n.toDouble(&ok);
    EXPECT_TRUE(ok) << text.toStdString();
    return v;
}

// One coordinate of the GPS text ("+121°30'15.25"") in decimal degrees.
double shownDegrees(const QString& part) {
    const QStringList p =
        part.mid(1).split(QRegularExpression(QStringLiteral("[°'.\"]")), Qt::SkipEmptyParts);
    EXPECT_EQ(p.size(), 4) << part.toStdString();
    if (p.size() != 4) return 0;
    const double d =
        p[0].toInt() + p[1].toInt() / 60.0 + (p[2].toInt() + p[3].toInt() / 100.0) / 3600.0;
    return part.startsWith(QLatin1Char('-')) ? -d : d;
}

} // namespace

// Over the decoder's wide set of records (every sensor selector, negative temperatures, GPS in
// all four hemispheres, live and log): what "values" says is what "fields" shows.
TEST(PublishMessages, ValuesAreWhatTheFieldsShow) {
    const auto records = test::DecodedWideSet();
    ASSERT_GT(records.size(), 2000u);
    int readings = 0, hemispheres[4] = {};
    for (std::size_t i = 0; i < records.size(); ++i) {
        const monitor::DecodedTagRecord& r = records[i];
        SCOPED_TRACE(testing::Message() << "record " << i << ": " << r.hex);
        const auto mode = r.values.log ? monitor::DecodeMode::Log : monitor::DecodeMode::Live;
        const QJsonObject o = parse(tagMessageJson(tagMessageFromRecord(r, mode, {}, {})));
        ASSERT_EQ(o.value("schema").toInt(), 1);
        const QJsonObject f = o.value("fields").toObject();
        const QJsonObject v = o.value("values").toObject();
        const auto text = [&](const char* column) { return f.value(column).toString(); };
        EXPECT_EQ(v.value("readerId").toInt(), text("ID").toInt());
        EXPECT_EQ(v.value("rssi").toInt(), text("RSSI").toInt());
        EXPECT_EQ(v.value("lqi").toInt(), text("LQI").toInt());
        EXPECT_EQ(v.value("battery").toInt(), text("Battery").toInt());
        EXPECT_EQ(v.value("tagVersion").toInt(), text("TagVer").toInt(nullptr, 16));
        EXPECT_EQ(v.value("model").toInt(), text("Model").toInt(nullptr, 16));
        EXPECT_EQ(v.value("keyNo").toInt(), text("KeyNo").toInt(nullptr, 16));
        EXPECT_EQ(v.value("group").toInt(), text("Group").toInt(nullptr, 16));
        EXPECT_EQ(v.value("packet").toInt(), text("Packet").toInt(nullptr, 2));
        EXPECT_EQ(v.value("state").toInt(), text("S_State").toInt(nullptr, 2));
        EXPECT_EQ(v.value("isn").toInt(), (text("ISN_H") + text("ISN_L")).toInt(nullptr, 16));

        // A reading for every sensor text and none for raw bytes or empty columns.
        const QJsonArray sensors = v.value("sensors").toArray();
        QStringList withReading;
        for (const auto& entry : sensors) {
            const QJsonObject s = entry.toObject();
            const QString slot = s.value("slot").toString();
            withReading << slot;
            ++readings;
            EXPECT_EQ(s.value("value").toDouble(), shownNumber(f.value(slot).toString()))
                << f.value(slot).toString().toStdString();
            const QString kind = s.value("kind").toString();
            const QString unit = s.value("unit").toString();
            if (kind == "temperature") {
                EXPECT_TRUE(f.value(slot).toString().contains(" C / ")) << slot.toStdString();
                EXPECT_EQ(unit, QStringLiteral("\u00B0C"));
            } else if (kind == "humidity") {
                EXPECT_TRUE(f.value(slot).toString().endsWith('%'));
                EXPECT_EQ(unit, "%");
            } else {
                EXPECT_EQ(kind, "counter");
            }
        }
        for (const char* slot : {"D_1H", "D_2H"})
            if (!withReading.contains(slot)) {
                EXPECT_TRUE(text(slot).size() <= 2) << slot << " " << text(slot).toStdString();
            }
        EXPECT_EQ(v.contains("data"), text("D_1L").size() == 2);

        EXPECT_EQ(v.contains("gps"), !text("GPS").isEmpty());
        if (v.contains("gps")) {
            const QStringList parts = text("GPS").split(QLatin1Char(','));
            ASSERT_EQ(parts.size(), 4);
            const QJsonObject g = v.value("gps").toObject();
            const double lon = g.value("longitude").toDouble(),
                         lat = g.value("latitude").toDouble();
            EXPECT_DOUBLE_EQ(lon, shownDegrees(parts[0]));
            EXPECT_DOUBLE_EQ(lat, shownDegrees(parts[1]));
            EXPECT_EQ(g.value("value1").toInt(), parts[2].toInt());
            EXPECT_EQ(g.value("value2").toInt(), parts[3].toInt());
            ++hemispheres[(lon < 0 ? 1 : 0) + (lat < 0 ? 2 : 0)];
        }

        EXPECT_EQ(v.contains("index"), mode == monitor::DecodeMode::Log);
        if (mode == monitor::DecodeMode::Log) {
            EXPECT_EQ(v.value("index").toInt(), text("Index").toInt());
            const QDateTime shown = QDateTime::fromString(text("DateTime"), "yyyy/MM/dd HH:mm:ss");
            if (shown.isValid()) {
                EXPECT_EQ(v.value("logTime").toString(), shown.toString(Qt::ISODate));
            } else {
                EXPECT_TRUE(v.value("logTime").isNull()) << text("DateTime").toStdString();
            }
            const QJsonObject status = v.value("logStatus").toObject();
            EXPECT_EQ(status.value("text").toString(), text("LOGStatus"));
            if (text("LOGStatus").front().isDigit()) {
                EXPECT_EQ(status.value("code").toInt(), text("LOGStatus").toInt());
            }
        }
    }
    EXPECT_GT(readings, 500);
    for (int n : hemispheres) EXPECT_GT(n, 50);
}
