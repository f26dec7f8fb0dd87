// Fuzz entry for the serial report-frame assembler. The first input byte seeds the read
// boundaries; the rest is what the port delivers. The frames of one feed must equal those of a
// byte-wise feed, of arbitrary reads, and of a plain reference scan of the whole stream; a
// pause longer than the stale limit must behave as a fresh start.
#include "fuzz_support.h"
#include "monitor/proto/frame_assembler.h"
#include "platform/timings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace {

using kelta::fuzz::Frames;
using kelta::fuzz::Require;
using kelta::monitor::SerialFrameAssembler;

constexpr std::uint8_t kStart = 0x06;

// What the assembler must find: from each start byte whose length field can be a frame, the
// frame of that length; any other start byte is skipped by one byte.
Frames ReferenceFrames(std::span<const std::uint8_t> s) {
    Frames out;
    std::size_t pos = 0;
    while (pos < s.size()) {
        if (s[pos] != kStart) {
            ++pos;
            continue;
        }
        if (s.size() - pos < 3) break;
        const std::size_t length = kelta::fuzz::Be16At(s, pos + 1);
        if (length < kelta::monitor::kMinFrameLength ||
            length + 3 > SerialFrameAssembler::kBufferSize) {
            ++pos;
            continue;
        }
        if (s.size() - pos < length + 3) break;
        out.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(pos),
                         s.begin() + static_cast<std::ptrdiff_t>(pos + length + 3));
        pos += length + 3;
    }
    return out;
}

Frames Assemble(const std::vector<std::span<const std::uint8_t>>& reads, std::uint32_t stepMs) {
    Frames frames;
    SerialFrameAssembler a([&frames](std::span<const std::uint8_t> f) {
        // Every delivered frame: start byte, a length field that can be a frame, and exactly
        // that many bytes behind it.
        Require(f.size() >= 3 && f[0] == kStart);
        const std::size_t length = kelta::fuzz::Be16At(f, 1);
        Require(length >= kelta::monitor::kMinFrameLength);
        Require(length + 3 == f.size() && f.size() <= SerialFrameAssembler::kBufferSize);
        frames.emplace_back(f.begin(), f.end());
    });
    std::uint32_t now = 0xFFFFFF00u; // crosses the wrap of the tick on the way
    for (const auto& r : reads) {
        const std::size_t before = frames.size();
        const std::size_t delivered = a.feed(r, now);
        Require(delivered == frames.size() - before);
        Require(a.pending() < SerialFrameAssembler::kBufferSize);
        now += stepMs;
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Two frames of the largest size fit; longer inputs only cost time (byte-wise feeding).
    if (size == 0 || size > 2200) return 0;
    const std::uint8_t control = data[0];
    const kelta::fuzz::ExactCopy copy(std::span<const std::uint8_t>(data + 1, size - 1));
    const auto stream = copy.span();

    const Frames expected = ReferenceFrames(stream);
    Require(Assemble({stream}, 0) == expected);
    Require(Assemble(kelta::fuzz::ByteReads(stream), 1) == expected);
    Require(Assemble(kelta::fuzz::Reads(stream, control, 1 + control % 97), 7) == expected);

    // A pause above the stale limit in the middle: the part before it and the part after it
    // are assembled as if each were the whole stream.
    const std::size_t cut = stream.empty() ? 0 : control % (stream.size() + 1);
    const auto head = stream.first(cut);
    const auto tail = stream.subspan(cut);
    Frames parts;
    SerialFrameAssembler a(
        [&parts](std::span<const std::uint8_t> f) { parts.emplace_back(f.begin(), f.end()); });
    a.feed(head, 1000);
    const bool partial = a.pending() > 0;
    Require(!a.expire(999 + kelta::timing::kPartialFrameStaleMs));
    Require(a.expire(1000 + kelta::timing::kPartialFrameStaleMs) == partial);
    a.feed(tail, 1000 + kelta::timing::kPartialFrameStaleMs);
    Frames separate = ReferenceFrames(head);
    const Frames after = ReferenceFrames(tail);
    separate.insert(separate.end(), after.begin(), after.end());
    Require(parts == separate);
    return 0;
}
