#include "monitor/tag_history.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kelta::monitor {

namespace {

enum : std::uint8_t { kPlain = 0, kWithSensors = 1 };
// Bytes per sample: time offset (4), RSSI, battery; then the readings' kinds and slots (1)
// and two values (4 + 4).
constexpr std::size_t kPlainStride = 6;
constexpr std::size_t kSensorStride = 15;
constexpr std::size_t kBlocksPerSlab = 64;

constexpr std::size_t strideOf(std::uint8_t kind) {
    return kind == kWithSensors ? kSensorStride : kPlainStride;
}
constexpr std::uint16_t capacityOf(std::uint8_t kind) {
    return static_cast<std::uint16_t>(TagHistory::kBlockDataBytes / strideOf(kind));
}

// Count in bits 0-1, kinds in bits 2-3 and 4-5, slots in bits 6 and 7.
std::uint8_t packReadings(const TagValues& v) {
    const unsigned n = std::min<unsigned>(v.sensorCount, 2);
    unsigned info = n;
    for (unsigned i = 0; i < n; ++i) {
        info |= (static_cast<unsigned>(v.sensors[i].kind) & 3u) << (2 + 2 * i);
        if (v.sensors[i].slot == SensorSlot::D2H) info |= 1u << (6 + i);
    }
    return static_cast<std::uint8_t>(info);
}

} // namespace

struct TagHistory::Block {
    qint64 base = 0; // time of the first sample; the samples hold offsets from it
    std::int32_t next = -1;
    std::uint16_t count = 0;
    std::uint8_t kind = kPlain;
    std::uint8_t data[kBlockDataBytes];
};

std::size_t TagHistory::blockBytes() {
    return sizeof(Block);
}

TagHistory::TagHistory() : TagHistory(Limits{}) {}

TagHistory::TagHistory(Limits limits) : limits_(limits) {
    if (limits_.perTag < 1) limits_.perTag = 1;
}

TagHistory::~TagHistory() = default;

TagHistory::Uid TagHistory::uidOf(const std::array<std::uint8_t, 8>& bytes) {
    Uid uid = 0;
    for (std::uint8_t b : bytes) uid = (uid << 8) | b;
    return uid;
}

std::optional<TagHistory::Uid> TagHistory::parseUid(const QString& text) {
    if (text.size() != 16) return std::nullopt;
    bool ok = false;
    const Uid uid = text.toULongLong(&ok, 16);
    // toULongLong accepts a sign or a 0x prefix; a UID is digits only.
    for (QChar c : text)
        if (!c.isDigit() && !(c.toUpper() >= QLatin1Char('A') && c.toUpper() <= QLatin1Char('F')))
            return std::nullopt;
    if (!ok) return std::nullopt;
    return uid;
}

QString TagHistory::uidText(Uid uid) {
    return QStringLiteral("%1").arg(uid, 16, 16, QLatin1Char('0')).toUpper();
}

TagHistory::Block& TagHistory::block(std::int32_t index) const {
    const auto i = static_cast<std::size_t>(index);
    return slabs_[i / kBlocksPerSlab][i % kBlocksPerSlab];
}

const TagHistory::Tag* TagHistory::find(Uid uid) const {
    const auto it = index_.constFind(uid);
    return it == index_.constEnd() ? nullptr : &tags_[*it];
}

std::uint32_t TagHistory::tagIndex(Uid uid) {
    const auto it = index_.constFind(uid);
    if (it != index_.constEnd()) return *it;
    const auto i = static_cast<std::uint32_t>(tags_.size());
    tags_.push_back(Tag{uid});
    index_.insert(uid, i);
    return i;
}

std::size_t TagHistory::bytesUsed() const {
    return blocksInUse_ * blockBytes() + tags_.size() * kTagBytes;
}

std::size_t TagHistory::bytesReserved() const {
    return slabs_.size() * kBlocksPerSlab * blockBytes() + tags_.size() * kTagBytes;
}

std::int32_t TagHistory::allocateBlock() {
    const std::size_t tagBytes = tags_.size() * kTagBytes;
    // One block is always allowed, so a record is never lost for want of room.
    while (blocksInUse_ > 0 && (blocksInUse_ + 1) * blockBytes() + tagBytes > limits_.capBytes)
        if (!dropOldestBlock()) break;
    if (free_.empty()) {
        const std::size_t first = slabs_.size() * kBlocksPerSlab;
        slabs_.emplace_back(new Block[kBlocksPerSlab]);
        for (std::size_t i = kBlocksPerSlab; i-- > 0;)
            free_.push_back(static_cast<std::int32_t>(first + i));
    }
    const std::int32_t index = free_.back();
    free_.pop_back();
    ++blocksInUse_;
    return index;
}

void TagHistory::freeBlock(std::int32_t index) {
    free_.push_back(index);
    --blocksInUse_;
}

void TagHistory::dropHeadBlock(Tag& t) {
    const Block& h = block(t.head);
    const std::uint32_t remaining = h.count - t.headSkip;
    t.size -= remaining;
    samples_ -= remaining;
    const std::int32_t next = h.next;
    freeBlock(t.head);
    t.head = next;
    t.headSkip = 0;
    if (next < 0) t.tail = -1;
}

void TagHistory::noteOldest(std::uint32_t tag) {
    oldest_.push_back({block(tags_[tag].head).base, tag});
    std::push_heap(oldest_.begin(), oldest_.end(),
                   [](const OldestEntry& a, const OldestEntry& b) { return a.base > b.base; });
}

bool TagHistory::dropOldestBlock() {
    const auto later = [](const OldestEntry& a, const OldestEntry& b) { return a.base > b.base; };
    while (!oldest_.empty()) {
        std::pop_heap(oldest_.begin(), oldest_.end(), later);
        const OldestEntry e = oldest_.back();
        oldest_.pop_back();
        Tag& t = tags_[e.tag];
        if (t.head < 0) continue;
        if (block(t.head).base != e.base) {
            // The head this entry named was dropped for the per-tag bound: the next head
            // takes its place in the order.
            noteOldest(e.tag);
            continue;
        }
        const std::size_t before = t.size;
        dropHeadBlock(t);
        droppedForCap_ += before - t.size;
        if (t.head >= 0) noteOldest(e.tag);
        return true;
    }
    return false;
}

void TagHistory::add(const TagValues& v, qint64 msecs) {
    const std::uint32_t ti = tagIndex(uidOf(v.uid));
    const std::uint8_t kind =
        v.dataShown == DataShown::Sensors && v.sensorCount > 0 ? kWithSensors : kPlain;
    bool fresh = tags_[ti].tail < 0;
    if (!fresh) {
        const Block& b = block(tags_[ti].tail);
        const qint64 offset = msecs - b.base;
        fresh = b.kind != kind || b.count == capacityOf(kind) ||
                offset < std::numeric_limits<std::int32_t>::min() ||
                offset > std::numeric_limits<std::int32_t>::max();
    }
    if (fresh) {
        // Making room may drop blocks of this tag too.
        const std::int32_t nb = allocateBlock();
        Block& b = block(nb);
        b.base = msecs;
        b.next = -1;
        b.count = 0;
        b.kind = kind;
        Tag& t = tags_[ti];
        if (t.tail >= 0) {
            block(t.tail).next = nb;
            t.tail = nb;
        } else {
            t.head = t.tail = nb;
            t.headSkip = 0;
            noteOldest(ti);
        }
    }
    Tag& t = tags_[ti];
    Block& b = block(t.tail);
    std::uint8_t* p = b.data + std::size_t{b.count} * strideOf(kind);
    const auto offset = static_cast<std::int32_t>(msecs - b.base);
    std::memcpy(p, &offset, 4);
    p[4] = v.rssi;
    p[5] = v.battery;
    if (kind == kWithSensors) {
        p[6] = packReadings(v);
        std::memcpy(p + 7, &v.sensors[0].value, 4);
        std::memcpy(p + 11, &v.sensors[1].value, 4);
    }
    ++b.count;
    ++t.size;
    ++t.added;
    ++samples_;
    if (t.size > static_cast<std::uint32_t>(limits_.perTag)) {
        ++t.headSkip;
        --t.size;
        --samples_;
        if (t.headSkip == block(t.head).count) dropHeadBlock(t);
    }
}

void TagHistory::add(const TagValues& values, const QDateTime& at) {
    // The date and the time of day are read as held; comparing two local times, or turning
    // one into UTC, asks the time zone each time (microseconds).
    const Qt::TimeSpec zoneKind = at.timeSpec();
    if (zoneKind == Qt::TimeZone) return add(values, at.toMSecsSinceEpoch());
    const qint64 day = at.date().toJulianDay();
    const int ms = at.time().msecsSinceStartOfDay();
    const int offset = zoneKind == Qt::OffsetFromUTC ? at.offsetFromUtc() : 0;
    if (day != lastStampDay_ || ms != lastStampMs_ || zoneKind != lastStampSpec_ ||
        offset != lastStampOffset_) {
        lastStampDay_ = day;
        lastStampMs_ = ms;
        lastStampSpec_ = zoneKind;
        lastStampOffset_ = offset;
        lastStampMsecs_ = at.toMSecsSinceEpoch();
    }
    add(values, lastStampMsecs_);
}

template <class Fn> void TagHistory::forEach(const Tag& t, std::uint64_t skip, Fn&& fn) const {
    std::uint32_t first = t.headSkip;
    for (std::int32_t bi = t.head; bi >= 0;) {
        const Block& b = block(bi);
        const std::uint32_t held = b.count - first;
        if (skip >= held) {
            skip -= held;
        } else {
            const std::size_t stride = strideOf(b.kind);
            for (std::uint32_t i = first + static_cast<std::uint32_t>(skip); i < b.count; ++i) {
                const std::uint8_t* p = b.data + std::size_t{i} * stride;
                HistorySample s;
                std::int32_t offset = 0;
                std::memcpy(&offset, p, 4);
                s.msecs = b.base + offset;
                s.rssi = p[4];
                s.battery = p[5];
                if (b.kind == kWithSensors) {
                    const unsigned info = p[6];
                    s.sensorCount = static_cast<std::uint8_t>(info & 3u);
                    for (unsigned k = 0; k < s.sensorCount; ++k) {
                        SensorReading& r = s.sensors[k];
                        r.kind = static_cast<SensorKind>((info >> (2 + 2 * k)) & 3u);
                        r.slot = (info >> (6 + k)) & 1u ? SensorSlot::D2H : SensorSlot::D1H;
                        std::memcpy(&r.value, p + 7 + 4 * k, 4);
                    }
                }
                fn(s);
            }
            skip = 0;
        }
        first = 0;
        bi = b.next;
    }
}

std::size_t TagHistory::count(Uid uid) const {
    const Tag* t = find(uid);
    return t ? t->size : 0;
}

std::uint64_t TagHistory::added(Uid uid) const {
    const Tag* t = find(uid);
    return t ? t->added : 0;
}

std::uint64_t TagHistory::visit(Uid uid, std::uint64_t from,
                                const std::function<void(const HistorySample&)>& fn) const {
    const Tag* t = find(uid);
    if (!t) return 0;
    const std::uint64_t oldest = t->added - t->size;
    const std::uint64_t start = std::max(from, oldest);
    if (start < t->added) forEach(*t, start - oldest, fn);
    return start;
}

std::vector<HistorySample> TagHistory::samples(Uid uid) const {
    std::vector<HistorySample> out;
    if (const Tag* t = find(uid)) {
        out.reserve(t->size);
        forEach(*t, 0, [&out](const HistorySample& s) { out.push_back(s); });
    }
    return out;
}

void TagHistory::clear() {
    // Swapped with empty ones, so that the memory goes back too.
    std::vector<Tag>().swap(tags_);
    QHash<Uid, std::uint32_t>().swap(index_);
    std::vector<std::unique_ptr<Block[]>>().swap(slabs_);
    std::vector<std::int32_t>().swap(free_);
    std::vector<OldestEntry>().swap(oldest_);
    blocksInUse_ = 0;
    samples_ = 0;
    droppedForCap_ = 0;
}

} // namespace kelta::monitor
