#pragma once
// The recent history of every tag heard: per tag UID a bounded ring of samples (time, RSSI,
// battery and the sensor readings with their kinds), taken from the typed values of accepted
// records. Two bounds: the samples kept per tag, and a total of bytes across all tags; when
// the total is reached the oldest samples of all tags go first. No window: a chart reads the
// samples it has not shown yet by their serial numbers.
//
// Samples are packed into blocks of 1 KiB taken from a pool: 170 samples of 6 bytes (time
// offset, RSSI, battery) for records without readings, or 68 of 15 bytes with them. Each
// block keeps its own base time, so an offset of 32 bits covers any span. The total is
// enforced a block at a time: the block whose first sample is the oldest of all is dropped.

#include "monitor/proto/tag_record.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kelta::monitor {

// One sample as read back.
struct HistorySample {
    qint64 msecs = 0; // milliseconds since the epoch (UTC)
    std::uint8_t rssi = 0;
    std::uint8_t battery = 0;
    std::uint8_t sensorCount = 0;
    std::array<SensorReading, 2> sensors{};
};

class TagHistory {
public:
    // The 8 UID bytes, first byte most significant.
    using Uid = std::uint64_t;

    struct Limits {
        int perTag = 2000;
        std::size_t capBytes = std::size_t{160} << 20;
    };
    // Bytes one block occupies (samples and header) and the bookkeeping counted per tag.
    static constexpr std::size_t kBlockDataBytes = 1024;
    static constexpr std::size_t kTagBytes = 64;
    static std::size_t blockBytes();

    TagHistory();
    explicit TagHistory(Limits limits);
    ~TagHistory();
    TagHistory(const TagHistory&) = delete;
    TagHistory& operator=(const TagHistory&) = delete;

    // One sample of the tag `values.uid` at `msecs`.
    void add(const TagValues& values, qint64 msecs);
    // The same at a record's stamp. A store stamps many records with one time a millisecond:
    // the conversion to UTC, dear for a local time, is made once per millisecond at most.
    void add(const TagValues& values, const QDateTime& at);

    static Uid uidOf(const std::array<std::uint8_t, 8>& bytes);
    // 16 hex digits (either case); none otherwise.
    static std::optional<Uid> parseUid(const QString& text);
    // 16 upper-case hex digits, as the grids show a UID.
    static QString uidText(Uid uid);

    // Samples held for the tag.
    std::size_t count(Uid uid) const;
    // Samples ever added to the tag: the serial number its next sample gets. The oldest held
    // has the serial added() - count().
    std::uint64_t added(Uid uid) const;
    // Calls fn for every held sample of the tag with a serial of at least `from`, oldest
    // first, and returns the serial of the first one visited (the oldest held when `from` is
    // older than that).
    std::uint64_t visit(Uid uid, std::uint64_t from,
                        const std::function<void(const HistorySample&)>& fn) const;
    // Every held sample of the tag, oldest first.
    std::vector<HistorySample> samples(Uid uid) const;

    const Limits& limits() const { return limits_; }
    std::size_t tagCount() const { return tags_.size(); }
    // Samples held across all tags.
    std::size_t sampleCount() const { return samples_; }
    // Blocks in use and the bookkeeping of the tags: what the cap bounds.
    std::size_t bytesUsed() const;
    // Memory taken from the system for blocks (in use or free) and tags.
    std::size_t bytesReserved() const;
    // Samples dropped to keep within the total (not those over the per-tag bound).
    std::uint64_t droppedForCap() const { return droppedForCap_; }

    // Forgets every tag and gives the memory back.
    void clear();

private:
    struct Block;
    struct Tag {
        Uid uid = 0;
        std::int32_t head = -1;     // oldest block
        std::int32_t tail = -1;     // newest block
        std::uint16_t headSkip = 0; // samples of the head block already dropped
        std::uint32_t size = 0;
        std::uint64_t added = 0;
    };
    struct OldestEntry {
        qint64 base;
        std::uint32_t tag;
    };

    const Tag* find(Uid uid) const;
    std::uint32_t tagIndex(Uid uid);
    Block& block(std::int32_t index) const;
    std::int32_t allocateBlock();
    void freeBlock(std::int32_t index);
    // Drops the block whose first sample is the oldest of all tags; false when none is held.
    bool dropOldestBlock();
    void dropHeadBlock(Tag& t);
    void noteOldest(std::uint32_t tag);
    template <class Fn> void forEach(const Tag& t, std::uint64_t skip, Fn&& fn) const;

    Limits limits_;
    std::vector<Tag> tags_;
    QHash<Uid, std::uint32_t> index_;
    std::vector<std::unique_ptr<Block[]>> slabs_;
    std::vector<std::int32_t> free_;
    std::size_t blocksInUse_ = 0;
    std::size_t samples_ = 0;
    std::uint64_t droppedForCap_ = 0;
    // Min-heap on the base time of each tag's head block; entries of heads since dropped
    // are put right when they come to the top.
    std::vector<OldestEntry> oldest_;
    qint64 lastStampDay_ = -1; // Julian day of the last stamp, and its milliseconds into it
    int lastStampMs_ = -1;
    Qt::TimeSpec lastStampSpec_ = Qt::LocalTime;
    int lastStampOffset_ = 0; // seconds, for a fixed offset
    qint64 lastStampMsecs_ = 0;
};

} // namespace kelta::monitor
