#pragma once
// Helpers shared by the fuzz entries: a check that traps (so libFuzzer and the replay both
// stop on the input), a copy of a byte range into its own exactly-sized allocation (so the
// address sanitizer sees every read past its end), and read boundaries derived from the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

namespace kelta::fuzz {

// Names the failed check on stderr, then traps.
inline void Require(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (ok) return;
    std::fprintf(stderr, "check failed: %s:%d\n", file, line);
    std::fflush(stderr);
    __builtin_trap();
}

// The bytes in a fresh heap block of exactly their size.
class ExactCopy {
public:
    explicit ExactCopy(std::span<const std::uint8_t> bytes)
        : size_(bytes.size()), data_(new std::uint8_t[bytes.size() ? bytes.size() : 1]) {
        for (std::size_t i = 0; i < size_; ++i) data_[i] = bytes[i];
    }
    std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

private:
    std::size_t size_;
    std::unique_ptr<std::uint8_t[]> data_;
};

// Cuts `bytes` into reads whose sizes come from a small generator seeded by `seed`: sizes from
// 1 up to `largest`, and now and then an empty read, as a link delivers them.
inline std::vector<std::span<const std::uint8_t>>
Reads(std::span<const std::uint8_t> bytes, std::uint32_t seed, std::size_t largest = 64) {
    std::vector<std::span<const std::uint8_t>> reads;
    std::uint32_t state = seed * 2654435761u + 1u;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        state = state * 1103515245u + 12345u;
        std::size_t n = (state >> 16) % (largest + 1);
        if (n > bytes.size() - pos) n = bytes.size() - pos;
        reads.push_back(bytes.subspan(pos, n));
        pos += n;
    }
    return reads;
}

// The byte-wise split: one read per byte.
inline std::vector<std::span<const std::uint8_t>> ByteReads(std::span<const std::uint8_t> bytes) {
    std::vector<std::span<const std::uint8_t>> reads;
    for (std::size_t i = 0; i < bytes.size(); ++i) reads.push_back(bytes.subspan(i, 1));
    return reads;
}

using Frames = std::vector<std::vector<std::uint8_t>>;

inline std::uint16_t Be16At(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

} // namespace kelta::fuzz
