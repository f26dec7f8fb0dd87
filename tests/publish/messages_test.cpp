// Message and topic building.
#include "publish/messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

monitor::DecodedTagRecord sampleRecord() {
    monitor::DecodedTagRecord r;
    r.readerId = "0042";
    r.uid = "0123456789ABCDEF";
    r.rssi = "187";
    r.lqi = "55";
    r.tagVer = "10";
    r.packet = "00100001";
    r.model = "21";
    r.keyNo = "03";
    r.group = "0A";
    r.sState = "10000001";
    r.battery = "33";
    r.isnH = "7F";
    r.isnL = "01";
    r.d1h = "3C";
    r.d1l = "4D";
    r.d2h = "5E";
    r.d2l = "6F";
    r.gps = "";
    r.index = "17";
    r.logDateTime = "2026/12/08 13:01:02";
    r.logStatus = "New TAG Entry";
    return r;
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
    struct Case {
        const char* name;
        const char* d1h;
        const char* d2h;
        bool sensors;
        const char* sensor1; // nullptr: not present
    };
    const Case cases[] = {
        {"raw hex bytes", "3C", "5E", false, nullptr},
        {"no data fields", "", "", false, nullptr},
        {"two temperatures", "23.50 C / 74.30 F", "-5.25 C / 22.55 F", true, "23.50 C / 74.30 F"},
        {"temperature and humidity", "21.00 C / 69.80 F", "45.12%", true, "21.00 C / 69.80 F"},
        {"counter only", "", "0815", true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        monitor::DecodedTagRecord r = sampleRecord();
        r.d1h = c.d1h;
        r.d2h = c.d2h;
        const TagMessage m = tagMessageFromRecord(r, monitor::DecodeMode::Live,
                                                  LinkInfo{LinkType::Serial, "COM7"}, {});
        const QJsonObject o = parse(tagMessageJson(m));
        EXPECT_EQ(o.contains("sensors"), c.sensors);
        const QJsonObject s = o.value("sensors").toObject();
        if (c.sensors) {
            EXPECT_EQ(s.value("D_2H").toString().toStdString(), c.d2h);
        }
        EXPECT_EQ(s.contains("D_1H"), c.sensor1 != nullptr);
        if (c.sensor1) {
            EXPECT_EQ(s.value("D_1H").toString().toStdString(), c.sensor1);
        }
        // The grid cell keeps the text either way.
        EXPECT_EQ(o.value("fields").toObject().value("D_2H").toString().toStdString(), c.d2h);
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
