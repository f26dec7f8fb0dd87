// Fuzz entry for the per-connection carry-over of TCP reads and the frame walk over its blocks.
// The first input byte seeds the read boundaries; the rest is the byte stream of one
// connection. Whatever the boundaries, the frames handed on must be those of a reference scan
// of the whole stream, each with its declared length, and the carry must stay below one frame.
#include "fuzz_support.h"
#include "monitor/proto/frame_assembler.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace {

using kelta::fuzz::Frames;
using kelta::fuzz::Require;
using kelta::monitor::StreamCarry;

constexpr std::uint8_t kStart = 0x06;

struct Scan {
    Frames frames;
    std::size_t unfinished = 0; // bytes from the start byte of an incomplete last frame on
};

Scan ReferenceScan(std::span<const std::uint8_t> s) {
    Scan out;
    std::size_t pos = 0;
    while (pos < s.size()) {
        if (s[pos] != kStart) {
            ++pos;
            continue;
        }
        if (s.size() - pos < 3) {
            out.unfinished = s.size() - pos;
            break;
        }
        const std::size_t frameSize = kelta::fuzz::Be16At(s, pos + 1) + 3u;
        if (frameSize < kelta::monitor::kMinFrameLength + 3 || frameSize > StreamCarry::kMaxFrame) {
            ++pos;
            continue;
        }
        if (s.size() - pos < frameSize) {
            out.unfinished = s.size() - pos;
            break;
        }
        out.frames.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(pos),
                                s.begin() + static_cast<std::ptrdiff_t>(pos + frameSize));
        pos += frameSize;
    }
    return out;
}

Frames Carry(const std::vector<std::span<const std::uint8_t>>& reads, std::size_t& carried) {
    Frames frames;
    StreamCarry carry;
    for (const auto& r : reads) {
        const std::vector<std::uint8_t> taken = carry.take(r);
        const kelta::fuzz::ExactCopy block(taken);
        std::size_t walked = 0;
        kelta::monitor::ForEachFrame(block.span(), [&](std::span<const std::uint8_t> f) {
            Require(f.size() >= 7 && f[0] == kStart);
            Require(kelta::fuzz::Be16At(f, 1) + 3u == f.size() &&
                    f.size() <= StreamCarry::kMaxFrame);
            frames.emplace_back(f.begin(), f.end());
            walked += f.size();
            return true;
        });
        // The block is whole frames back to back: the walk covers all of it.
        Require(walked == taken.size());
        Require(carry.carried() < StreamCarry::kMaxFrame);
    }
    carried = carry.carried();
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Two frames of the largest size fit; longer inputs only cost time (byte-wise feeding).
    if (size == 0 || size > 2200) return 0;
    const std::uint8_t control = data[0];
    const kelta::fuzz::ExactCopy copy(std::span<const std::uint8_t>(data + 1, size - 1));
    const auto stream = copy.span();
    const Scan expected = ReferenceScan(stream);

    const std::vector<std::vector<std::span<const std::uint8_t>>> splits = {
        {stream},
        kelta::fuzz::ByteReads(stream),
        kelta::fuzz::Reads(stream, control, 1 + control % 61),
        kelta::fuzz::Reads(stream, control ^ 0x5Au, 1500),
    };
    for (const auto& reads : splits) {
        std::size_t carried = 0;
        Require(Carry(reads, carried) == expected.frames);
        Require(carried == expected.unfinished);
    }

    // The walk stops where the frame function asks it to.
    const std::vector<std::uint8_t> whole = StreamCarry().take(stream);
    std::size_t calls = 0;
    const std::size_t stopAfter = control % 4;
    kelta::monitor::ForEachFrame(whole, [&](std::span<const std::uint8_t>) {
        ++calls;
        return calls <= stopAfter;
    });
    Require(calls == std::min(expected.frames.size(), stopAfter + 1));
    return 0;
}
