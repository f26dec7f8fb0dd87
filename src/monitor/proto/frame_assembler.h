#pragma once
// Reassembly of report frames (06, length L big-endian, L body bytes) from link reads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

namespace kelta::monitor {

// The smallest length field of a frame: flags and type.
inline constexpr std::size_t kMinFrameLength = 4;

// One per serial port. Hunts for 0x06, stores from there, reads L from bytes 1-2 and delivers
// the frame at L + 3 bytes. A 0x06 inside a body is data. A start byte whose L cannot be a
// frame (below kMinFrameLength, or L + 3 beyond the buffer) is a false start: it is skipped
// and the hunt goes on at the byte after it, so noise in front of a report costs nothing of
// the report. A partial frame survives from one read to the next, but is dropped when no byte
// arrived for timing::kPartialFrameStaleMs.
class SerialFrameAssembler {
public:
    static constexpr std::size_t kBufferSize = 1024;
    using FrameHandler = std::function<void(std::span<const std::uint8_t> frame)>;

    explicit SerialFrameAssembler(FrameHandler onFrame) : onFrame_(std::move(onFrame)) {}

    // Feeds the bytes of one read received at nowMs (32-bit millisecond tick, may wrap).
    // Complete frames go to the handler in order; returns how many were delivered.
    std::size_t feed(std::span<const std::uint8_t> bytes, std::uint32_t nowMs);
    // Drops a partial frame whose last byte is older than the stale limit; true if dropped.
    bool expire(std::uint32_t nowMs);
    // Back to hunting with a cleared buffer (port opened, input overflow).
    void reset();

    bool assembling() const { return position_ >= 0; }
    // Bytes of the partial frame held, 0 while hunting.
    std::size_t pending() const { return position_ > 0 ? static_cast<std::size_t>(position_) : 0; }
    // The length field L last read during the latest feed(), 0 when none was read.
    std::size_t lastLengthField() const { return lastLength_; }
    // Start bytes skipped because their length field could not be a frame.
    std::uint64_t falseStarts() const { return falseStarts_; }

private:
    // One byte; returns true when it completed a frame.
    bool step(std::uint8_t b, std::uint32_t nowMs);

    FrameHandler onFrame_;
    std::array<std::uint8_t, kBufferSize> buffer_{};
    int position_ = -1;
    std::uint32_t lastByteTick_ = 0;
    std::size_t lastLength_ = 0;
    std::uint64_t falseStarts_ = 0;
};

// One per TCP connection. Network reads do not follow frame bounds: a frame may be split
// over reads, and a read may start in the middle of one. take() puts the carried bytes in
// front of the read and returns only whole frames, the incomplete last one is carried.
//
// Where frames end: from the first 0x06, a frame is the start byte, the length L at the two
// following bytes and L more bytes. A start byte whose L is below 4 (no room for flags and
// type) or whose frame would exceed kMaxFrame is a false start: it is skipped and the search
// goes on at the next 0x06. Bytes between frames that are not a start byte are dropped. The
// returned block is the complete frames back to back, each starting with 0x06; when the
// bytes run out inside a frame (or inside its length field), that frame from its start byte
// on is carried, so the carry is always shorter than kMaxFrame.
class StreamCarry {
public:
    static constexpr std::size_t kMaxFrame = 1024 + 3;

    std::vector<std::uint8_t> take(std::span<const std::uint8_t> read);
    void clear() { carry_.clear(); }
    std::size_t carried() const { return carry_.size(); }
    // Bytes take() has dropped as noise between frames and false starts, since construction.
    std::uint64_t skipped() const { return skipped_; }

private:
    std::vector<std::uint8_t> carry_;
    std::uint64_t skipped_ = 0;
};

// Calls fn for each frame of a block of whole frames back to back (what StreamCarry::take()
// returns), in order; stops early when fn returns false.
void ForEachFrame(std::span<const std::uint8_t> block,
                  const std::function<bool(std::span<const std::uint8_t> frame)>& fn);

} // namespace kelta::monitor
