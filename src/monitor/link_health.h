#pragma once
// What a monitoring run knows about each of its links, as a value a view can copy: its name,
// the readers heard on it, whether it is open, and the counters kept on the road of a record
// (nothing is counted anywhere else). MonitorEngine::linkHealth() gives one per link of the
// run; it is cheap enough to be asked several times a second.

#include "monitor/proto/tag_record.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

namespace kelta::monitor {

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
    std::uint64_t bytesDiscarded = 0; // dropped as a flood (serial) or beyond the memory cap
    QDateTime lastReport;             // when its last record was accepted; null before one
};

// The counters of one link, kept where its records are decoded.
struct LinkCounters {
    std::uint64_t records = 0;
    std::uint64_t framesRejected = 0;
    std::uint64_t bytesDiscarded = 0;
    qint64 lastReportMs = 0; // QDateTime::currentMSecsSinceEpoch() of the last record; 0: none
    std::vector<std::string> readerIds;

    void clear() { *this = LinkCounters{}; }
    void noteReader(const std::string& id) {
        // Readers are few per link and mostly the same: the last one is looked at first.
        if (!readerIds.empty() && readerIds.back() == id) return;
        for (const auto& r : readerIds)
            if (r == id) return;
        readerIds.push_back(id);
    }
    void fill(LinkHealth& h) const {
        h.records = records;
        h.framesRejected = framesRejected;
        h.bytesDiscarded = bytesDiscarded;
        if (lastReportMs) h.lastReport = QDateTime::fromMSecsSinceEpoch(lastReportMs);
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
        inner_.PostTagRecord(record, mode);
    }

private:
    TagRecordSink& inner_;
    LinkCounters& counters_;
};

} // namespace kelta::monitor
