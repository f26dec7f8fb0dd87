#pragma once
// Byte-level frames of a simulated reader: what it sends (report, tag-log and answer frames)
// and what it receives (monitoring and tag commands without checksum, requests with CRC).
// Written independently of the utility's own frame code, so the two can be checked against
// each other. No Qt here.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kelta::sim {

using Bytes = std::vector<std::uint8_t>;
using Uid = std::array<std::uint8_t, 8>;

inline constexpr std::uint8_t kToReader = 0x05;
inline constexpr std::uint8_t kFromReader = 0x06;
inline constexpr std::uint16_t kFlagReaderId = 0x0800;
inline constexpr std::uint16_t kFlagExtension = 0x0400;
inline constexpr std::uint16_t kFlagCrc = 0x0001; // request frames end in a CRC
inline constexpr std::uint16_t kTypeLive = 0x6040;
inline constexpr std::uint16_t kTypeLiveAlt = 0x6042;
inline constexpr std::uint16_t kTypeLog = 0x8061;
inline constexpr std::uint16_t kCodeAnnouncement = 0x6011;
inline constexpr std::uint16_t kCodeSetup = 0x6030;
inline constexpr std::size_t kMaxFrame = 1024;

// CRC-16, reflected polynomial 0x8408, initial value 0, no final XOR ("123456789" -> 0x2189).
std::uint16_t crc16(std::span<const std::uint8_t> bytes);

void putU16(Bytes& out, std::uint16_t v);
std::uint16_t getU16(std::span<const std::uint8_t> b, std::size_t at);

// Header of a reader-to-system frame: flags, optional reader ID and optional 4 extra bytes.
struct HeaderOptions {
    bool withReaderId = true;
    std::uint16_t readerId = 1;
    bool withExtension = false;
    std::array<std::uint8_t, 4> extension{0x11, 0x22, 0x33, 0x44};
    std::uint16_t baseFlags = 0x0000; // further flag bits, not examined by the utility
};

// 06 len flags code [id] [ext] body; len counts every byte after the length field.
Bytes encodeReaderFrame(std::uint16_t code, const HeaderOptions& h,
                        std::span<const std::uint8_t> body);
// An answer to a request: data followed by two trailing bytes (a CRC over bytes 1..data end).
Bytes encodeAnswer(std::uint16_t code, const HeaderOptions& h, std::span<const std::uint8_t> data);

struct GpsFix {
    std::uint8_t lonDeg = 121, lonMin = 30, lonSec = 15, lonHund = 50;
    char lonHemisphere = 'E';
    std::uint8_t latDeg = 25, latMin = 2, latSec = 40, latHund = 7;
    char latHemisphere = 'N';
    std::uint16_t value1 = 0, value2 = 0;
};

// One tag report as the reader forwards it.
struct TagReading {
    std::uint16_t readerId = 1;
    std::uint8_t version = 0x10;
    std::uint8_t packet = 0;
    std::uint8_t model = 0x10;
    std::uint8_t keyNo = 0;
    std::uint8_t group = 0;
    Uid uid{};
    std::uint8_t rssi = 60;
    std::uint8_t lqi = 80;
    std::uint8_t state = 0;
    std::uint8_t battery = 100;
    std::uint8_t isnH = 0;
    std::uint8_t isnL = 0;
    std::uint16_t d1 = 0;
    std::uint16_t d2 = 0;
    std::optional<GpsFix> gps;
};

// The tag record: 26 bytes, or 41 with the GPS block (offsets 26-39) and one pad byte.
Bytes encodeTagRecord(const TagReading& r);
Bytes encodeGpsBlock(const GpsFix& g); // 14 bytes
// A live report frame: the reader ID travels in the header (flag 0x0800), the record from
// its offset 2 on is the body.
Bytes encodeLiveFrame(const TagReading& r, std::uint16_t type, HeaderOptions h);

struct LogEntry {
    std::uint16_t year = 2026;
    std::uint8_t month = 1, day = 1, hour = 0, minute = 0, second = 0;
    TagReading tag; // its GPS fix, when set, fills the log record's GPS block
    std::uint16_t status = 1;
};

inline constexpr std::size_t kLogRecordSize = 56;
Bytes encodeLogRecord(const LogEntry& e);
// A tag-log frame: 4 unused bytes, the sequence number of the first record, 2 unused bytes,
// then the 56-byte records.
Bytes encodeLogFrame(std::uint16_t firstSequence, std::span<const LogEntry> entries,
                     const HeaderOptions& h);

// A frame received from the utility.
struct ReceivedFrame {
    Bytes raw;                // the whole frame from the start byte
    std::uint16_t length = 0; // length field
    std::uint16_t flags = 0;
    std::uint16_t code = 0;
    std::optional<std::uint16_t> readerId;
    Bytes data;          // after the header; without the CRC of a request
    bool hasCrc = false; // flag 0x0001: a reader request
    bool crcOk = false;
    std::uint16_t crc = 0; // as received, high byte first
};

// Cuts the byte stream from the utility into frames (start byte 0x05, length-driven).
// Bytes before a start byte and start bytes with an impossible length are skipped.
class FrameCollector {
public:
    void feed(std::span<const std::uint8_t> bytes, std::vector<ReceivedFrame>& out);
    void clear() { buf_.clear(); }
    std::size_t skippedBytes() const { return skipped_; }
    std::size_t pendingBytes() const { return buf_.size(); }

private:
    Bytes buf_;
    std::size_t skipped_ = 0;
};

ReceivedFrame parseFrame(std::span<const std::uint8_t> frame);

} // namespace kelta::sim
