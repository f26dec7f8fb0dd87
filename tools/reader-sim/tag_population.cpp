#include "reader-sim/tag_population.h"

#include <cmath>

namespace kelta::sim {

std::string uidHex(const Uid& uid) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : uid) {
        s += digits[b >> 4];
        s += digits[b & 0xF];
    }
    return s;
}

bool parseUid(const std::string& text, Uid& out) {
    if (text.size() != 16) return false;
    for (std::size_t i = 0; i < 8; ++i) {
        int v = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            const char c = text[2 * i + k];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else
                return false;
            v = v * 16 + d;
        }
        out[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

namespace {

int draw(std::mt19937& rng, int lo, int hi) {
    if (hi < lo) hi = lo;
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

std::uint8_t clampByte(int v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Sensor words for a temperature around 20-30 C, laid out by selector (bits 15-14 of D_1).
void sensorWords(int sel, std::mt19937& rng, std::uint16_t& d1, std::uint16_t& d2) {
    const double t = 20.0 + draw(rng, 0, 1000) / 100.0;
    switch (sel) {
    case 2: { // 0.01 C steps from -40 C; D_2 a humidity count
        const auto r1 = static_cast<std::uint16_t>(std::lround((t + 40.0) * 100.0)) & 0x3FFF;
        d1 = static_cast<std::uint16_t>(0x8000 | r1);
        d2 = static_cast<std::uint16_t>(draw(rng, 1200, 1800));
        break;
    }
    case 0: { // 1/32 C steps, 14-bit two's complement
        const auto r = static_cast<std::uint16_t>(std::lround(t * 32.0)) & 0x1FFF;
        d1 = r;
        d2 = static_cast<std::uint16_t>(std::lround((t - 1.5) * 32.0)) & 0x1FFF;
        break;
    }
    case 3: { // half-kelvin hundredths
        const auto r1 = static_cast<std::uint16_t>(std::lround((t * 100.0 + 27315.0) / 2.0));
        d1 = static_cast<std::uint16_t>(0xC000 | (r1 & 0x3FFF));
        d2 = static_cast<std::uint16_t>(std::lround(((t + 1.0) * 100.0 + 27315.0) / 2.0));
        break;
    }
    default: { // a counter shown as four decimal digits
        const int v = draw(rng, 0, 9999);
        d1 = 0x4000;
        d2 = static_cast<std::uint16_t>(((v / 1000) << 12) | (((v / 100) % 10) << 8) |
                                        (((v / 10) % 10) << 4) | (v % 10));
        break;
    }
    }
}

} // namespace

TagPopulation::TagPopulation(const PopulationOptions& opts, std::uint32_t seed)
    : opts_(opts), rng_(seed) {
    const int count = opts.count < 0 ? 0 : opts.count;
    tags_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        TagProfile& t = tags_[static_cast<std::size_t>(i)];
        if (static_cast<std::size_t>(i) < opts.uids.size()) {
            t.uid = opts.uids[static_cast<std::size_t>(i)];
        } else {
            bool zero = true;
            do {
                zero = true;
                for (auto& b : t.uid) {
                    const int hiDigit = draw(rng_, 0, opts.uidHexLetters ? 15 : 9);
                    const int loDigit = draw(rng_, 0, opts.uidHexLetters ? 15 : 9);
                    b = static_cast<std::uint8_t>(hiDigit << 4 | loDigit);
                    if (b) zero = false;
                }
            } while (zero);
        }
        const bool sensor =
            opts.sensors == SensorMix::All || (opts.sensors == SensorMix::Mixed && i % 2 == 1);
        if (!opts.versions.empty()) {
            t.version = opts.versions[static_cast<std::size_t>(i) % opts.versions.size()];
        } else {
            t.version = static_cast<std::uint8_t>(draw(rng_, 1, 3) << 4 | draw(rng_, 0, 9));
        }
        if (sensor) {
            // Sensor values are decoded for version "10" tags; other versions keep raw words.
            if (opts.versions.empty()) t.version = 0x10;
            t.sensorSelector = (opts.sensors == SensorMix::All ? i : i / 2) % 4;
            t.model = static_cast<std::uint8_t>(0x11 + 0x10 * (i % 3));
        } else {
            t.model = static_cast<std::uint8_t>(0x10 * (1 + i % 3));
        }
        t.keyNo = static_cast<std::uint8_t>(i % 4);
        t.group = static_cast<std::uint8_t>(1 + i % 8);
        t.battery = clampByte(draw(rng_, 60, 100));
        t.isn = static_cast<std::uint16_t>(draw(rng_, 0, 0xFFFF));
        if (opts.gps) {
            GpsFix g;
            g.lonDeg = clampByte(draw(rng_, 0, 179));
            g.lonMin = clampByte(draw(rng_, 0, 59));
            g.lonSec = clampByte(draw(rng_, 0, 59));
            g.lonHund = clampByte(draw(rng_, 0, 99));
            g.lonHemisphere = (i % 2) ? 'W' : 'E';
            g.latDeg = clampByte(draw(rng_, 0, 89));
            g.latMin = clampByte(draw(rng_, 0, 59));
            g.latSec = clampByte(draw(rng_, 0, 59));
            g.latHund = clampByte(draw(rng_, 0, 99));
            g.latHemisphere = (i % 3 == 0) ? 'S' : 'N';
            g.value1 = static_cast<std::uint16_t>(draw(rng_, 0, 400));
            g.value2 = static_cast<std::uint16_t>(draw(rng_, 0, 12));
            t.gps = g;
        }
    }
}

TagReading TagPopulation::reading(TagProfile& t, std::uint16_t readerId) {
    TagReading r;
    r.readerId = readerId;
    r.version = t.version;
    r.packet = t.packet++;
    r.model = t.model;
    r.keyNo = t.keyNo;
    r.group = t.group;
    r.uid = t.uid;
    r.rssi = clampByte(draw(rng_, opts_.rssiMin, opts_.rssiMax));
    r.lqi = clampByte(draw(rng_, opts_.lqiMin, opts_.lqiMax));
    r.state = 0;
    r.battery = t.battery;
    ++t.isn;
    r.isnH = static_cast<std::uint8_t>(t.isn >> 8);
    r.isnL = static_cast<std::uint8_t>(t.isn & 0xFF);
    if (t.sensorSelector >= 0) {
        sensorWords(t.sensorSelector, rng_, r.d1, r.d2);
    } else {
        r.d1 = static_cast<std::uint16_t>(draw(rng_, 0, 0xFFFF));
        r.d2 = static_cast<std::uint16_t>(draw(rng_, 0, 0xFFFF));
    }
    r.gps = t.gps;
    return r;
}

TagReading TagPopulation::nextReading(std::uint16_t readerId) {
    if (tags_.empty()) return TagReading{};
    TagProfile& t = tags_[next_ % tags_.size()];
    next_ = (next_ + 1) % tags_.size();
    return reading(t, readerId);
}

std::vector<LogEntry> TagPopulation::makeLog(int n, std::uint16_t readerId) {
    static const std::uint16_t statuses[] = {1, 2, 3, 4, 5, 6, 7, 39, 49, 97, 98, 8};
    std::vector<LogEntry> log;
    if (tags_.empty() || n <= 0) return log;
    log.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        LogEntry e;
        const int secs = 8 * 3600 + i;
        e.day = static_cast<std::uint8_t>(1 + (secs / 86400) % 28);
        e.hour = static_cast<std::uint8_t>((secs / 3600) % 24);
        e.minute = static_cast<std::uint8_t>((secs / 60) % 60);
        e.second = static_cast<std::uint8_t>(secs % 60);
        e.tag = reading(tags_[static_cast<std::size_t>(i) % tags_.size()], readerId);
        e.status = statuses[static_cast<std::size_t>(i) % std::size(statuses)];
        log.push_back(e);
    }
    return log;
}

} // namespace kelta::sim
