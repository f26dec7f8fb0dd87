#pragma once
// The messages published for a monitoring run: one JSON object per accepted tag record and one
// per absence or return of a selected tag, and the topics they go to. Pure: values in, bytes
// out; the engine fills the plain structs below from what it shows in its grids.

#include "monitor/proto/tag_record.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

namespace kelta::publish {

inline constexpr int kMessageSchema = 1;

// The link a record came over.
enum class LinkType { Serial, TcpClient, TcpServer };

struct LinkInfo {
    LinkType type = LinkType::Serial;
    QString name; // "COM3", or the peer as "host:port"
};

// One accepted record: the grid's cells by column name, in grid order.
struct TagMessage {
    QString readerId;
    QString uid;
    LinkInfo link;
    std::vector<std::pair<QString, QString>> fields;
    // The sensor texts shown in D_1H and D_2H, when the record carried readable sensor values.
    std::vector<std::pair<QString, QString>> sensors;
    // What the texts were made from, written as the message's "values".
    monitor::TagValues values;
    QDateTime received;     // local time; written with its offset from UTC
    bool logRecord = false; // from a reader's stored tag log rather than a live report
};

// A selected tag that stayed silent longer than the time-out (Absent), or that was heard again
// after that (Returned).
struct PresenceEvent {
    enum class Kind { Absent, Returned };
    Kind kind = Kind::Absent;
    QString uid;
    QString readerId; // may be empty: the reader last heard is not always known
    QString rssi;
    QString lqi;
    QDateTime lastSeen;
    QDateTime at;
    qint64 silentMs = 0;
    std::uint8_t rssiValue = 0;
    std::uint8_t lqiValue = 0;
};

// The collector's or the window's own state on <prefix>/<site>/status, retained. The broker
// itself publishes the offline one (the last will) when the connection ends without a
// goodbye; `since` is then unknown and left out.
struct SiteStatus {
    bool online = false;
    QDateTime since;
    QString program; // "kelta-collect", "kelta-utility"
    QString version;
    QString clientId;
};

// A reader heard during the run, on <prefix>/<site>/reader/<ID>/status, retained.
struct ReaderStatus {
    enum class State { Connected, Lost, Reconnecting };
    QString readerId;
    State state = State::Connected;
    LinkInfo link;
    QDateTime lastReport;
    quint64 records = 0; // accepted from it during the run
};

// The message input for a decoded record: every display text under the live (or log) grid's
// column name, the sensor texts of D_1H and D_2H that hold readings, and the typed values.
TagMessage tagMessageFromRecord(const monitor::DecodedTagRecord& record, monitor::DecodeMode mode,
                                const LinkInfo& link, const QDateTime& received);

// "2026-12-08T14:03:07.250+01:00": local time with its offset, milliseconds kept.
QString isoTimeWithZone(const QDateTime& t);

QByteArray tagMessageJson(const TagMessage& m);
QByteArray presenceEventJson(const PresenceEvent& e);
QByteArray siteStatusJson(const SiteStatus& s);
QByteArray readerStatusJson(const ReaderStatus& s);

// A name made safe as one topic level: '/', '+', '#', control characters and NUL become '_'
// (they would split the level or turn the topic into a filter); an empty name becomes "_".
QString topicLevel(const QString& name);
// A prefix may have several levels ("plant/kelta"): each level is made safe on its own, empty
// levels are dropped.
QString topicPrefixLevels(const QString& prefix);

// <prefix>/<site>/reader/<reader ID>/tag/<UID>
QByteArray tagTopic(const QString& prefix, const QString& site, const QString& readerId,
                    const QString& uid);
// <prefix>/<site>/event
QByteArray eventTopic(const QString& prefix, const QString& site);
// <prefix>/<site>/status
QByteArray statusTopic(const QString& prefix, const QString& site);
// <prefix>/<site>/reader/<reader ID>/status
QByteArray readerStatusTopic(const QString& prefix, const QString& site, const QString& readerId);

// The version the status message names (the programs' version).
QString programVersion();

} // namespace kelta::publish
