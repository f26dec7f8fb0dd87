#pragma once
// What a monitoring run knows about each of its links, as a value a view can copy: its name,
// the readers heard on it, whether it is open, and the counters kept on the road of a record
// (nothing is counted anywhere else). MonitorEngine::linkHealth() gives one per link of the
// run; it is cheap enough to be asked several times a second.

#include "monitor/proto/tag_record.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kelta::monitor {

// Records per second over the last minute: counts[s % 60] holds second s for the 60 seconds
// up to the newest one counted. A record costs a comparison and an increment; a second in
// which nothing came is cleared by the next record or skipped by the reader.
struct SecondRing {
    static constexpr int kSeconds = 60;
    std::array<std::uint32_t, kSeconds> counts{};
    std::int64_t newest = -1; // the second counts[newest % 60] belongs to; -1: none yet

    void bump(std::int64_t second) {
        if (newest < 0 || second - newest >= kSeconds) {
            counts.fill(0);
            newest = second;
        } else {
            while (newest < second) counts[static_cast<std::size_t>(++newest % kSeconds)] = 0;
        }
        // A second older than the newest (it cannot come from a steady clock) counts there.
        ++counts[static_cast<std::size_t>(newest % kSeconds)];
    }
    // The 60 whole seconds before `now`, oldest first: the last value is second now - 1.
    std::array<std::uint32_t, kSeconds> lastMinute(std::int64_t now) const {
        std::array<std::uint32_t, kSeconds> out{};
        for (int i = 0; i < kSeconds; ++i) {
            const std::int64_t s = now - kSeconds + i;
            if (s >= 0 && newest >= 0 && s <= newest && newest - s < kSeconds)
                out[static_cast<std::size_t>(i)] = counts[static_cast<std::size_t>(s % kSeconds)];
        }
        return out;
    }
};

// Whole seconds of the steady clock, the time base of the per-second counts.
inline std::int64_t steadySecond() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct LinkHealth {
    enum class State {
        Open,         // receiving
        Connecting,   // an outgoing connection being made (the first time, or by the watchdog)
        Reconnecting, // lost; the next attempt is at nextAttempt
        Lost,         // closed (a serial device gone, looked for again once a second; a
                      // listening reader that hung up)
        PortInUse,    // the listening port is taken: the run could not start
    };

    // "COM3" for a serial port, "host:port" for an outgoing connection, "address:port" for a
    // reader connected to the listening server, ":4001" for the listening server itself.
    QString name;
    State state = State::Open;
    QDateTime nextAttempt; // Reconnecting only
    QStringList readerIds; // reader IDs of the records accepted on the link, in order heard
    std::uint64_t records = 0;        // accepted into the store
    std::uint64_t framesRejected = 0; // whole frames that gave no record
    // Dropped unread: a flood (serial), noise and false starts between frames and the partial
    // frame of a connection that closed (TCP).
    std::uint64_t bytesDiscarded = 0;
    QDateTime lastReport; // when its last record was accepted; null before one
    QDateTime since;      // when the link's counting began (its opening, or its connection)
    // Records accepted in each of the 60 whole seconds before the moment asked, oldest first.
    std::array<std::uint32_t, SecondRing::kSeconds> lastMinute{};

    // Records accepted in the last whole second.
    std::uint32_t recordsPerSecond() const { return lastMinute.back(); }
};

// "open", "connecting", "reconnecting in 3 s", "lost", "port in use" (English; the window
// translates the words and fills in the seconds itself).
QString linkStateText(const LinkHealth& h, const QDateTime& now);
// Seconds until the next attempt of a Reconnecting link, rounded up; 0 for the others.
qint64 secondsToNextAttempt(const LinkHealth& h, const QDateTime& now);
// The time since the last report, or since the link began counting when none came.
qint64 silentMs(const LinkHealth& h, const QDateTime& now);
// Silent longer than the watchdog's 15 s (scaled as the watchdog is).
bool linkSilent(const LinkHealth& h, const QDateTime& now);
// The age of the last report as text: "4 s", "-" before one.
QString reportAgeText(const LinkHealth& h, const QDateTime& now);
// Every link of a run as a text table, one line per link under a header line, columns padded
// to their widest cell; a silent link has "silent" after its age. "(no links)" when empty.
QString linkHealthTable(const std::vector<LinkHealth>& links, const QDateTime& now);

// The counters of one link, kept where its records are decoded.
struct LinkCounters {
    std::uint64_t records = 0;
    std::uint64_t framesRejected = 0;
    std::uint64_t bytesDiscarded = 0;
    qint64 lastReportMs = 0; // QDateTime::currentMSecsSinceEpoch() of the last record; 0: none
    qint64 sinceMs = 0;      // when counting began (clear()); 0: never cleared
    SecondRing perSecond;
    std::vector<std::string> readerIds;

    void clear() {
        *this = LinkCounters{};
        sinceMs = QDateTime::currentMSecsSinceEpoch();
    }
    void noteReader(const std::string& id) {
        // Readers are few per link and mostly the same: the last one is looked at first.
        if (!readerIds.empty() && readerIds.back() == id) return;
        for (const auto& r : readerIds)
            if (r == id) return;
        readerIds.push_back(id);
    }
    void fill(LinkHealth& h, std::int64_t nowSecond = steadySecond()) const {
        h.records = records;
        h.framesRejected = framesRejected;
        h.bytesDiscarded = bytesDiscarded;
        if (lastReportMs) h.lastReport = QDateTime::fromMSecsSinceEpoch(lastReportMs);
        if (sinceMs) h.since = QDateTime::fromMSecsSinceEpoch(sinceMs);
        h.lastMinute = perSecond.lastMinute(nowSecond);
        for (const auto& r : readerIds) h.readerIds << QString::fromStdString(r);
    }
};

// Counts what passes on to the store for one link.
class CountingSink final : public TagRecordSink {
public:
    CountingSink(TagRecordSink& inner, LinkCounters& counters)
        : inner_(inner), counters_(counters) {}
    bool hasCurrentTagGrid() const override { return inner_.hasCurrentTagGrid(); }
    void PostTagRecord(const DecodedTagRecord& record, DecodeMode mode) override {
        ++counters_.records;
        counters_.noteReader(record.readerId);
        counters_.lastReportMs = QDateTime::currentMSecsSinceEpoch();
        counters_.perSecond.bump(steadySecond());
        inner_.PostTagRecord(record, mode);
    }

private:
    TagRecordSink& inner_;
    LinkCounters& counters_;
};

} // namespace kelta::monitor
