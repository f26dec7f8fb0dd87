#include "monitor/proto/frame_assembler.h"

#include "platform/timings.h"

#include <algorithm>

namespace kelta::monitor {

namespace {
constexpr std::uint8_t kReportStart = 0x06;
}

bool SerialFrameAssembler::expire(std::uint32_t nowMs) {
    if (position_ <= 0) return false;
    // Unsigned difference: correct across the wrap of the 32-bit tick.
    const std::uint32_t idle = nowMs - lastByteTick_;
    if (idle < timing::kPartialFrameStaleMs) return false;
    reset();
    return true;
}

void SerialFrameAssembler::reset() {
    position_ = -1;
    buffer_.fill(0);
}

bool SerialFrameAssembler::step(std::uint8_t b, std::uint32_t nowMs) {
    if (position_ < 0) {
        if (b != kReportStart) return false;
        position_ = 0;
        buffer_.fill(0);
    }
    buffer_[static_cast<std::size_t>(position_)] = b;
    ++position_;
    lastByteTick_ = nowMs;
    if (position_ == 3) {
        const std::size_t length = (static_cast<std::size_t>(buffer_[1]) << 8) | buffer_[2];
        if (length < kMinFrameLength || length + 3 > kBufferSize) {
            // False start: hunt again from the byte after it (the two length bytes may hold
            // the real start byte).
            const std::uint8_t again[2] = {buffer_[1], buffer_[2]};
            reset();
            ++falseStarts_;
            bool done = false;
            for (const std::uint8_t a : again) done = step(a, nowMs) || done;
            return done;
        }
    }
    if (position_ > 3) {
        lastLength_ = (static_cast<std::size_t>(buffer_[1]) << 8) | buffer_[2];
        if (static_cast<std::size_t>(position_) == lastLength_ + 3) {
            if (onFrame_)
                onFrame_(std::span<const std::uint8_t>(buffer_).first(
                    static_cast<std::size_t>(position_)));
            reset();
            return true;
        }
    }
    if (static_cast<std::size_t>(position_) >= kBufferSize) reset();
    return false;
}

std::size_t SerialFrameAssembler::feed(std::span<const std::uint8_t> bytes, std::uint32_t nowMs) {
    expire(nowMs);
    lastLength_ = 0;
    std::size_t delivered = 0;
    for (const std::uint8_t b : bytes)
        if (step(b, nowMs)) ++delivered;
    return delivered;
}

void ForEachFrame(std::span<const std::uint8_t> block,
                  const std::function<bool(std::span<const std::uint8_t> frame)>& fn) {
    std::size_t pos = 0;
    while (pos + 3 <= block.size()) {
        const std::size_t size =
            ((static_cast<std::size_t>(block[pos + 1]) << 8) | block[pos + 2]) + 3;
        if (pos + size > block.size()) break;
        if (!fn(block.subspan(pos, size))) break;
        pos += size;
    }
}

// The read is appended to the carry in place, and only the bytes used up are removed from its
// front: fed a byte at a time, a frame costs a byte per read, not a copy of all carried so far.
std::vector<std::uint8_t> StreamCarry::take(std::span<const std::uint8_t> read) {
    carry_.insert(carry_.end(), read.begin(), read.end());
    const std::vector<std::uint8_t>& bytes = carry_;
    const std::size_t size = bytes.size();

    std::vector<std::uint8_t> block;
    std::size_t pos = 0;
    std::size_t used = size; // everything, unless an incomplete frame is kept
    while (pos < size) {
        const auto start =
            std::find(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.end(), kReportStart);
        if (start == bytes.end()) break; // nothing but noise left
        pos = static_cast<std::size_t>(start - bytes.begin());
        if (size - pos < 3) {
            used = pos; // length field not yet here
            break;
        }
        const std::size_t frameSize =
            ((static_cast<std::size_t>(bytes[pos + 1]) << 8) | bytes[pos + 2]) + 3;
        if (frameSize < kMinFrameLength + 3 || frameSize > kMaxFrame) {
            ++pos; // false start
            continue;
        }
        if (size - pos < frameSize) {
            used = pos;
            break;
        }
        block.insert(block.end(), start, start + static_cast<std::ptrdiff_t>(frameSize));
        pos += frameSize;
    }
    carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(used));
    // What was used up and is not in a frame was noise.
    skipped_ += used - block.size();
    return block;
}

} // namespace kelta::monitor
