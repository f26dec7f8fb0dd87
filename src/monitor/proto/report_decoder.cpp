#include "monitor/proto/report_decoder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace kelta::monitor {

namespace {

constexpr std::uint16_t kFlagReaderId = 0x0800;    // 2-byte reader ID follows the type
constexpr std::uint16_t kFlagExtraHeader = 0x0400; // 4 further header bytes, skipped
constexpr std::uint16_t kTypeLiveReport = 0x6040;
constexpr std::uint16_t kTypeLiveReportAlt = 0x6042;
constexpr std::uint8_t kStartByte = 0x06;
constexpr std::size_t kFrameHeader = 7;   // start, length, flags, type
constexpr std::size_t kMinTagRecord = 26; // offsets 0-25
constexpr std::size_t kMinGpsRecord = 41; // live records carry GPS from this length on
constexpr std::size_t kLogPayloadHeader = 8;
constexpr std::size_t kLogTagOffset = 8; // tag record inside a log record

// Read-only view of received bytes: every read past the end yields zero, and no read ever
// leaves the storage, whatever the length fields say.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t size() const { return bytes_.size(); }
    std::uint8_t at(std::size_t i) const { return i < bytes_.size() ? bytes_[i] : 0; }
    std::uint16_t be16(std::size_t i) const {
        return static_cast<std::uint16_t>((at(i) << 8) | at(i + 1));
    }
    // The bytes [from, to) that lie inside the view.
    std::span<const std::uint8_t> clipped(std::size_t from, std::size_t to) const {
        to = std::min(to, bytes_.size());
        if (from >= to) return {};
        return bytes_.subspan(from, to - from);
    }

private:
    std::span<const std::uint8_t> bytes_;
};

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Writes the hex text of bytes into out (2 chars per byte) and returns its length.
std::size_t WriteHex(char* out, std::span<const std::uint8_t> bytes) {
    char* p = out;
    for (std::uint8_t b : bytes) {
        *p++ = kHexDigits[b >> 4];
        *p++ = kHexDigits[b & 0x0F];
    }
    return static_cast<std::size_t>(p - out);
}

// A hex digit read as a decimal digit: letters count as 0.
unsigned DecimalDigit(unsigned nibble) {
    return nibble <= 9 ? nibble : 0;
}

// 14-bit two's-complement-like reading: bit 13 set means the value minus 16384.
float SignedQuarterDegrees(unsigned raw) {
    int t = static_cast<int>(raw);
    if (raw & 0x2000) t -= 16384;
    return static_cast<float>(t) * 0.03125f;
}

float KelvinHundredths(unsigned raw) {
    return static_cast<float>(static_cast<int>(raw) * 2 - 27315) * 0.01f;
}

void AddReading(TagValues& v, SensorSlot slot, SensorKind kind, float value) {
    v.sensors[v.sensorCount++] = SensorReading{slot, kind, value};
}

// Sensor readings from D_1 and D_2. Returns false when the values give no result; the raw
// bytes are then shown.
bool DecodeSensors(std::uint16_t d1, std::uint16_t d2, TagValues& v) {
    const unsigned sel = d1 >> 14;
    const unsigned r1 = d1 & 0x3FFFu;
    const unsigned r2 = d2;
    v.sensorCount = 0;
    switch (sel) {
    case 2: {
        const float t = static_cast<float>(r1) * 0.01f - 40.0f;
        const float x = static_cast<float>(r2);
        const float rhLin = x * 0.0405f - x * x * 0.0000028f - 4.0f;
        const float rh = (t - 25.0f) * (0.01f + 0.00008f * x) + rhLin;
        AddReading(v, SensorSlot::D1H, SensorKind::Temperature, t);
        AddReading(v, SensorSlot::D2H, SensorKind::Humidity, rh);
        return true;
    }
    case 0:
        AddReading(v, SensorSlot::D1H, SensorKind::Temperature, SignedQuarterDegrees(r1));
        AddReading(v, SensorSlot::D2H, SensorKind::Temperature, SignedQuarterDegrees(r2));
        return true;
    case 3:
        if (r2 == 0) return false;
        if (r1 > 0) AddReading(v, SensorSlot::D1H, SensorKind::Temperature, KelvinHundredths(r1));
        AddReading(v, SensorSlot::D2H, SensorKind::Temperature, KelvinHundredths(r2));
        return true;
    default: { // 1: a counter shown as 4 digits, only when they are all decimal
        unsigned count = 0;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (d2 >> shift) & 0x0F;
            if (digit > 9) return false;
            count = count * 10 + digit;
        }
        AddReading(v, SensorSlot::D2H, SensorKind::Counter, static_cast<float>(count));
        return true;
    }
    }
}

bool IsLetter(std::uint8_t c, char upper) {
    return c == static_cast<std::uint8_t>(upper) || c == static_cast<std::uint8_t>(upper + 32);
}

GpsAngle AngleAt(const ByteReader& t, std::size_t at, char negativeLetter) {
    return GpsAngle{t.at(at), t.at(at + 1), t.at(at + 2), t.at(at + 3),
                    IsLetter(t.at(at + 4), negativeLetter)};
}

// The GPS block at tag-record offsets 26-39.
GpsFix GpsAt(const ByteReader& t) {
    return GpsFix{AngleAt(t, 26, 'W'), AngleAt(t, 31, 'S'), t.be16(36), t.be16(38)};
}

// Version bytes whose hex digits, read as a decimal number and divided by 10, give 1 to 3:
// 0x10-0x19, 0x20-0x29, 0x30-0x39.
bool VersionAccepted(std::uint8_t ver) {
    const unsigned hi = ver >> 4;
    const unsigned lo = ver & 0x0F;
    return lo <= 9 && hi >= 1 && hi <= 3;
}

} // namespace

void AppendHexText(std::string& out, std::span<const std::uint8_t> bytes) {
    const std::size_t old = out.size();
    out.resize(old + 2 * bytes.size());
    WriteHex(out.data() + old, bytes);
}

std::string LogStatusText(std::uint16_t code) {
    switch (code) {
    case 1:
        return "New TAG Entry";
    case 2:
        return "TAG Timeout";
    case 3:
        return "Temperature Over bound";
    case 4:
        return "Humidity Over bound";
    case 5:
        return "Temperature Over range";
    case 6:
        return "Humidity Over range";
    case 7:
        return "Interval record";
    case 39:
        return "DEVICE TAMPER ALARM";
    case 49:
        return "STEAL ALARM";
    case 97:
        return "LOG MODULE COMM ERROR";
    case 98:
        return "LOG MODULE COMM RESUME";
    default:
        return std::to_string(code);
    }
}

bool DecodeTagRecord(DecodeMode mode, std::uint16_t sequence, std::string_view linkName,
                     std::span<const std::uint8_t> record, std::string_view hex,
                     TagRecordSink& sink) {
    const bool log = mode == DecodeMode::Log;
    if (log && record.size() < kLogRecordBytes) return false;
    if (record.size() < kMinTagRecord || !sink.hasCurrentTagGrid()) return false;

    const ByteReader whole(record);
    const ByteReader t(log ? record.subspan(kLogTagOffset) : record);

    bool uidSet = false;
    for (std::size_t i = 8; i < 16; ++i) uidSet = uidSet || t.at(i) != 0;
    const unsigned readerId = t.be16(0);
    if (!uidSet || readerId < 1 || readerId > 9999 || !VersionAccepted(t.at(3))) return false;
    if (!log && (t.at(16) < 1 || t.at(17) < 21)) return false;

    DecodedTagRecord r;
    TagValues& v = r.values;
    v.readerId = static_cast<std::uint16_t>(readerId);
    v.tagVersion = t.at(3);
    v.packet = t.at(4);
    v.model = t.at(5);
    v.keyNo = t.at(6);
    v.group = t.at(7);
    for (std::size_t i = 0; i < v.uid.size(); ++i) v.uid[i] = t.at(8 + i);
    v.rssi = t.at(16);
    v.lqi = t.at(17);
    v.state = t.at(18);
    v.battery = t.at(19);
    v.isnH = t.at(20);
    v.isnL = t.at(21);
    for (std::size_t i = 0; i < v.data.size(); ++i) v.data[i] = t.at(22 + i);

    const std::uint8_t model = v.model;
    if (DecimalDigit(model & 0x0F) != 0) {
        v.dataShown = DataShown::Raw;
        // Model read as a decimal number is above 0 exactly when its high digit is decimal.
        if (v.tagVersion == 0x10 && (model >> 4) <= 9 && DecodeSensors(t.be16(22), t.be16(24), v))
            v.dataShown = DataShown::Sensors;
        else
            v.sensorCount = 0;
    }

    if (log) {
        v.log = true;
        v.logTime =
            LogTime{whole.be16(1), whole.at(3), whole.at(4), whole.at(5), whole.at(6), whole.at(7)};
        v.index = sequence;
        v.logStatus = whole.be16(54);
        if (whole.at(0) == 1) v.gps = GpsAt(t);
    } else if (record.size() >= kMinGpsRecord) {
        v.gps = GpsAt(t);
    }
    RenderTagTexts(v, r);
    r.hex.assign(hex);
    r.link.assign(linkName);

    sink.PostTagRecord(r, mode);
    return true;
}

namespace {

struct Splitter {
    DecodeMode mode;
    std::string_view linkName;
    TagRecordSink& sink;
    const std::function<void()>& pump;
    bool handedOn = false;
    std::array<char, 2 * kMaxRecordBytes> hex{};

    void decode(std::uint16_t sequence, std::span<const std::uint8_t> record) {
        const std::size_t n = WriteHex(hex.data(), record);
        DecodeTagRecord(mode, sequence, linkName, record, std::string_view(hex.data(), n), sink);
        handedOn = true;
        if (pump) pump();
    }
};

bool IsLiveType(std::uint16_t type) {
    return type == kTypeLiveReport || type == kTypeLiveReportAlt;
}

void SplitLive(Splitter& s, const ByteReader& b) {
    const std::size_t count = b.size();
    if (count <= kFrameHeader || b.at(0) != kStartByte || b.at(5) != 0x60 ||
        (b.at(6) != 0x40 && b.at(6) != 0x42))
        return;
    std::array<std::uint8_t, kMaxRecordBytes> record;
    std::size_t pos = 0;
    std::size_t n = b.be16(1);
    while (n > 0) {
        std::size_t step = 0;
        if (pos + kFrameHeader < count) {
            n = b.be16(pos + 1);
            step = n;
            const std::uint16_t flags = b.be16(pos + 3);
            const std::size_t end = pos + n + 3;
            if (end <= count && IsLiveType(b.be16(pos + 5))) {
                std::size_t len = 0;
                std::size_t start = pos + kFrameHeader;
                if (flags & kFlagReaderId) {
                    record[len++] = b.at(pos + 7);
                    record[len++] = b.at(pos + 8);
                    start += 2;
                }
                if (flags & kFlagExtraHeader) start += 4;
                const auto payload = b.clipped(start, end);
                const std::size_t take = std::min(payload.size(), kMaxRecordBytes - len);
                if (take > 0) std::memcpy(record.data() + len, payload.data(), take);
                len += take;
                s.decode(1, std::span<const std::uint8_t>(record.data(), len));
            }
        }
        pos += step + 3;
        if (pos >= count || pos + kFrameHeader >= count) break;
        n = b.be16(pos + 1);
        if (pos + n + 3 > count) break;
    }
}

void SplitLog(Splitter& s, const ByteReader& b) {
    const std::size_t count = b.size();
    if (b.at(0) != kStartByte) return;
    std::size_t pos = 0;
    std::size_t len = b.be16(1);
    while (len > 0) {
        if (b.at(pos + 5) == 0x80 && b.at(pos + 6) == 0x61) {
            const std::uint16_t flags = b.be16(pos + 3);
            std::size_t start = pos + kFrameHeader;
            if (flags & kFlagReaderId) start += 2;
            if (flags & kFlagExtraHeader) start += 4;
            auto payload = b.clipped(start, pos + len + 3);
            if (payload.size() > kMaxRecordBytes) payload = payload.first(kMaxRecordBytes);
            if (payload.size() >= kLogPayloadHeader + kLogRecordBytes &&
                (payload.size() - kLogPayloadHeader) % kLogRecordBytes == 0) {
                auto sequence = ByteReader(payload).be16(4);
                for (std::size_t at = kLogPayloadHeader; at < payload.size();
                     at += kLogRecordBytes) {
                    s.decode(sequence, payload.subspan(at, kLogRecordBytes));
                    sequence = static_cast<std::uint16_t>(sequence + 1);
                }
            }
        }
        pos += len + 3;
        if (pos >= count) break;
        len = b.be16(pos + 1);
    }
}

} // namespace

bool SplitReportBlock(DecodeMode mode, LinkKind linkKind, std::string_view linkName,
                      std::span<const std::uint8_t> block, TagRecordSink& sink,
                      const std::function<void()>& pump) {
    (void)linkKind;
    Splitter s{mode, linkName, sink, pump};
    const ByteReader bytes(block);
    if (mode == DecodeMode::Log)
        SplitLog(s, bytes);
    else
        SplitLive(s, bytes);
    return s.handedOn;
}

} // namespace kelta::monitor
