#include "reader-sim/sim_frames.h"

#include <algorithm>

namespace kelta::sim {

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t reg = 0;
    for (std::uint8_t b : bytes) {
        reg ^= b;
        for (int i = 0; i < 8; ++i)
            reg = (reg & 1u) ? static_cast<std::uint16_t>((reg >> 1) ^ 0x8408u)
                             : static_cast<std::uint16_t>(reg >> 1);
    }
    return reg;
}

void putU16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

std::uint16_t getU16(std::span<const std::uint8_t> b, std::size_t at) {
    if (at + 1 >= b.size()) return 0;
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

namespace {

Bytes header(std::uint16_t code, const HeaderOptions& h) {
    Bytes f;
    f.reserve(64);
    f.push_back(kFromReader);
    putU16(f, 0); // length, patched at the end
    std::uint16_t flags = h.baseFlags;
    if (h.withReaderId) flags |= kFlagReaderId;
    if (h.withExtension) flags |= kFlagExtension;
    putU16(f, flags);
    putU16(f, code);
    if (h.withReaderId) putU16(f, h.readerId);
    if (h.withExtension) f.insert(f.end(), h.extension.begin(), h.extension.end());
    return f;
}

void patchLength(Bytes& f) {
    const auto n = static_cast<std::uint16_t>(f.size() - 3);
    f[1] = static_cast<std::uint8_t>(n >> 8);
    f[2] = static_cast<std::uint8_t>(n & 0xFF);
}

} // namespace

Bytes encodeReaderFrame(std::uint16_t code, const HeaderOptions& h,
                        std::span<const std::uint8_t> body) {
    Bytes f = header(code, h);
    f.insert(f.end(), body.begin(), body.end());
    patchLength(f);
    return f;
}

Bytes encodeAnswer(std::uint16_t code, const HeaderOptions& h, std::span<const std::uint8_t> data) {
    Bytes f = header(code, h);
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(0);
    f.push_back(0);
    patchLength(f);
    const std::uint16_t c = crc16(std::span(f).subspan(1, f.size() - 3));
    f[f.size() - 2] = static_cast<std::uint8_t>(c >> 8);
    f[f.size() - 1] = static_cast<std::uint8_t>(c & 0xFF);
    return f;
}

Bytes encodeGpsBlock(const GpsFix& g) {
    Bytes b{g.lonDeg, g.lonMin, g.lonSec, g.lonHund, static_cast<std::uint8_t>(g.lonHemisphere),
            g.latDeg, g.latMin, g.latSec, g.latHund, static_cast<std::uint8_t>(g.latHemisphere)};
    putU16(b, g.value1);
    putU16(b, g.value2);
    return b;
}

Bytes encodeTagRecord(const TagReading& r) {
    Bytes b;
    b.reserve(41);
    putU16(b, r.readerId);
    b.push_back(0);
    b.push_back(r.version);
    b.push_back(r.packet);
    b.push_back(r.model);
    b.push_back(r.keyNo);
    b.push_back(r.group);
    b.insert(b.end(), r.uid.begin(), r.uid.end());
    b.push_back(r.rssi);
    b.push_back(r.lqi);
    b.push_back(r.state);
    b.push_back(r.battery);
    b.push_back(r.isnH);
    b.push_back(r.isnL);
    putU16(b, r.d1);
    putU16(b, r.d2);
    if (r.gps) {
        const Bytes g = encodeGpsBlock(*r.gps);
        b.insert(b.end(), g.begin(), g.end());
        b.push_back(0); // the GPS block is read only from records of 41 bytes or more
    }
    return b;
}

Bytes encodeLiveFrame(const TagReading& r, std::uint16_t type, HeaderOptions h) {
    h.readerId = r.readerId;
    const Bytes rec = encodeTagRecord(r);
    return encodeReaderFrame(type, h, std::span(rec).subspan(2));
}

Bytes encodeLogRecord(const LogEntry& e) {
    Bytes b;
    b.reserve(kLogRecordSize);
    b.push_back(e.tag.gps ? 1 : 0);
    putU16(b, e.year);
    b.insert(b.end(), {e.month, e.day, e.hour, e.minute, e.second});
    TagReading plain = e.tag;
    plain.gps.reset();
    const Bytes rec = encodeTagRecord(plain);
    b.insert(b.end(), rec.begin(), rec.end());
    const Bytes g = encodeGpsBlock(e.tag.gps.value_or(GpsFix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    b.insert(b.end(), g.begin(), g.end());
    b.insert(b.end(), 6, 0);
    putU16(b, e.status);
    return b;
}

Bytes encodeLogFrame(std::uint16_t firstSequence, std::span<const LogEntry> entries,
                     const HeaderOptions& h) {
    Bytes body{0, 0, 0, 0};
    putU16(body, firstSequence);
    body.push_back(0);
    body.push_back(0);
    for (const LogEntry& e : entries) {
        const Bytes rec = encodeLogRecord(e);
        body.insert(body.end(), rec.begin(), rec.end());
    }
    return encodeReaderFrame(kTypeLog, h, body);
}

ReceivedFrame parseFrame(std::span<const std::uint8_t> frame) {
    ReceivedFrame f;
    f.raw.assign(frame.begin(), frame.end());
    f.length = getU16(frame, 1);
    f.flags = getU16(frame, 3);
    f.code = getU16(frame, 5);
    std::size_t pos = 7;
    std::size_t end = frame.size();
    f.hasCrc = (f.flags & kFlagCrc) != 0;
    if (f.hasCrc && end >= pos + 2) {
        end -= 2;
        f.crc = getU16(frame, end);
        f.crcOk = crc16(frame.subspan(1, end - 1)) == f.crc;
    }
    if ((f.flags & kFlagReaderId) && pos + 2 <= end) {
        f.readerId = getU16(frame, pos);
        pos += 2;
    }
    if (pos < end)
        f.data.assign(frame.begin() + static_cast<std::ptrdiff_t>(pos),
                      frame.begin() + static_cast<std::ptrdiff_t>(end));
    return f;
}

void FrameCollector::feed(std::span<const std::uint8_t> bytes, std::vector<ReceivedFrame>& out) {
    buf_.insert(buf_.end(), bytes.begin(), bytes.end());
    std::size_t pos = 0;
    while (pos < buf_.size()) {
        if (buf_[pos] != kToReader) {
            ++pos;
            ++skipped_;
            continue;
        }
        if (buf_.size() - pos < 3) break;
        const std::size_t n = getU16(buf_, pos + 1);
        // Flags and code at least; a frame never exceeds the utility's 1024-byte buffer.
        if (n < 4 || n + 3 > kMaxFrame) {
            ++pos;
            ++skipped_;
            continue;
        }
        if (buf_.size() - pos < n + 3) break;
        out.push_back(parseFrame(std::span(buf_).subspan(pos, n + 3)));
        pos += n + 3;
    }
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos));
}

} // namespace kelta::sim
