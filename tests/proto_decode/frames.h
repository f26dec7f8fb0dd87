#pragma once
// Builders of report frames and log blocks for the decoding tests, and a sink that keeps what
// it receives.

#include "monitor/proto/report_decoder.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace testframes {

using Bytes = std::vector<std::uint8_t>;

struct Gps {
    std::uint8_t lonDeg = 121, lonMin = 30, lonSec = 15, lonHs = 25;
    char lonHemi = 'E';
    std::uint8_t latDeg = 25, latMin = 2, latSec = 3, latHs = 4;
    char latHemi = 'N';
    std::uint16_t value1 = 300, value2 = 7;
};

// Fields of one tag record; the defaults make a record every test accepts.
struct Tag {
    std::uint16_t readerId = 7;
    std::uint8_t version = 0x30;
    std::uint8_t packet = 0xA5;
    std::uint8_t model = 0x21;
    std::uint8_t keyNo = 0x0C;
    std::uint8_t group = 0xFE;
    std::uint64_t uid = 0x0102030405060708ULL;
    std::uint8_t rssi = 50, lqi = 60, state = 0x81, battery = 99, isnH = 0x3C, isnL = 0xC3;
    std::uint16_t d1 = 0x1234, d2 = 0xABCD;
    std::optional<Gps> gps;
};

// Appends bytes one by one (a range insert of a short list trips a false GCC bounds warning).
inline void Add(Bytes& b, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t x : bytes) b.push_back(x);
}

inline void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}

inline Bytes GpsBlock(const Gps& g) {
    Bytes b{g.lonDeg, g.lonMin, g.lonSec, g.lonHs, static_cast<std::uint8_t>(g.lonHemi),
            g.latDeg, g.latMin, g.latSec, g.latHs, static_cast<std::uint8_t>(g.latHemi)};
    Put16(b, g.value1);
    Put16(b, g.value2);
    return b;
}

// Tag record offsets 0-25, plus the GPS block and one spare byte when the tag has one.
inline Bytes Record(const Tag& t) {
    Bytes b;
    Put16(b, t.readerId);
    Add(b, {0x00, t.version, t.packet, t.model, t.keyNo, t.group});
    for (int shift = 56; shift >= 0; shift -= 8)
        b.push_back(static_cast<std::uint8_t>(t.uid >> shift));
    Add(b, {t.rssi, t.lqi, t.state, t.battery, t.isnH, t.isnL});
    Put16(b, t.d1);
    Put16(b, t.d2);
    if (t.gps) {
        const Bytes g = GpsBlock(*t.gps);
        b.insert(b.end(), g.begin(), g.end());
        b.push_back(0x00);
    }
    return b;
}

// A frame: start byte, length, flags, type, then body.
inline Bytes Frame(std::uint16_t type, std::uint16_t flags, const Bytes& body) {
    Bytes b{0x06};
    Put16(b, static_cast<std::uint16_t>(4 + body.size()));
    Put16(b, flags);
    Put16(b, type);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline const Bytes kExtraHeader{0xEE, 0xEE, 0xEE, 0xEE};

// Live report: the reader ID goes after the type with flag 0x0800; without it the ID bytes
// are left out (the reader did not send them).
inline Bytes LiveFrame(const Tag& t, std::uint16_t flags = 0x0800, std::uint16_t type = 0x6040) {
    const Bytes rec = Record(t);
    Bytes body;
    if (flags & 0x0800) body.insert(body.end(), rec.begin(), rec.begin() + 2);
    if (flags & 0x0400) body.insert(body.end(), kExtraHeader.begin(), kExtraHeader.end());
    body.insert(body.end(), rec.begin() + 2, rec.end());
    return Frame(type, flags, body);
}

struct LogEntry {
    Tag tag;
    std::uint16_t year = 2024;
    std::uint8_t month = 3, day = 5, hour = 7, minute = 8, second = 9;
    std::uint16_t status = 1;
    std::optional<Gps> gps;
};

inline Bytes LogRecord(const LogEntry& e) {
    Bytes b{static_cast<std::uint8_t>(e.gps ? 1 : 0)};
    Put16(b, e.year);
    Add(b, {e.month, e.day, e.hour, e.minute, e.second});
    Tag t = e.tag;
    t.gps.reset();
    const Bytes rec = Record(t);
    b.insert(b.end(), rec.begin(), rec.end());
    const Bytes g = GpsBlock(e.gps.value_or(Gps{}));
    b.insert(b.end(), g.begin(), g.end());
    b.resize(54, 0x00);
    Put16(b, e.status);
    return b;
}

// Log payload: 4 unused bytes, the first sequence number, 2 unused bytes, then the records.
inline Bytes LogPayload(std::uint16_t sequence, const std::vector<LogEntry>& entries) {
    Bytes b{0x11, 0x22, 0x33, 0x44};
    Put16(b, sequence);
    Add(b, {0x55, 0x66});
    for (const auto& e : entries) {
        const Bytes r = LogRecord(e);
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

inline Bytes LogFrame(const Bytes& payload, std::uint16_t flags = 0x0800) {
    Bytes body;
    if (flags & 0x0800) Add(body, {0x00, 0x07});
    if (flags & 0x0400) body.insert(body.end(), kExtraHeader.begin(), kExtraHeader.end());
    body.insert(body.end(), payload.begin(), payload.end());
    return Frame(0x8061, flags, body);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct CollectingSink : kelta::monitor::TagRecordSink {
    bool grid = true;
    std::vector<kelta::monitor::DecodedTagRecord> records;
    std::vector<kelta::monitor::DecodeMode> modes;
    bool hasCurrentTagGrid() const override { return grid; }
    void PostTagRecord(const kelta::monitor::DecodedTagRecord& r,
                       kelta::monitor::DecodeMode mode) override {
        records.push_back(r);
        modes.push_back(mode);
    }
};

} // namespace testframes
