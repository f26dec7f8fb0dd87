#pragma once
// Helpers shared by the fuzz entries: a check that traps (so libFuzzer and the replay both
// stop on the input), a copy of a byte range into its own exactly-sized allocation (so the
// address sanitizer sees every read past its end), the split of an input into control bytes
// and a stream (an answer target's code and read seed among them), the checks every accepted
// answer frame passes, read boundaries derived from the input, and a plain scan for report
// frames.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
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

inline std::uint16_t Be16At(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}

// Two report frames of the largest size fit; longer stream inputs only cost time (byte-wise
// feeding) and are not used.
inline constexpr std::size_t kLongestStream = 2200;

// An input taken as `head` control bytes (read boundaries, an expected code, ...) and the
// stream behind them, the stream in an exactly-sized copy. An input shorter than its control
// bytes or longer than `longest` is not usable.
class StreamInput {
public:
    StreamInput(const std::uint8_t* data, std::size_t size, std::size_t head,
                std::size_t longest = std::numeric_limits<std::size_t>::max())
        : usable_(size >= head && size <= longest), head_(data, usable_ ? head : 0),
          stream_(usable_ ? std::span<const std::uint8_t>(data + head, size - head)
                          : std::span<const std::uint8_t>()) {}
    bool usable() const { return usable_; }
    std::uint8_t control(std::size_t i) const { return head_[i]; }
    std::uint16_t control16(std::size_t i) const { return Be16At(head_, i); }
    std::span<const std::uint8_t> stream() const { return stream_.span(); }

private:
    bool usable_;
    std::span<const std::uint8_t> head_;
    ExactCopy stream_;
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

// The input of an answer target: the command code expected in the first two bytes, a byte
// seeding the read boundaries, then what the link delivers.
class AnswerInput : public StreamInput {
public:
    AnswerInput(const std::uint8_t* data, std::size_t size) : StreamInput(data, size, 3) {}
    std::uint16_t code() const { return control16(0); }
    std::uint8_t readSeed() const { return control(2); }

    // What `run` gives for the stream in one read, required to be the same for reads of one
    // byte each and for reads of 1 up to 1 + seed % `spread` bytes.
    template <class Run> auto sameForAnyReads(const Run& run, std::size_t spread) const {
        const auto whole = run(std::vector<std::span<const std::uint8_t>>{stream()});
        Require(run(ByteReads(stream())) == whole);
        Require(run(Reads(stream(), readSeed(), 1 + readSeed() % spread)) == whole);
        return whole;
    }
};

// An accepted answer as one frame (header then data), checked: start byte, a declared length
// that is its size, shorter than the answer buffer of `bufferSize`, the expected code, and a
// data count within the bytes behind the header.
inline std::vector<std::uint8_t> AnswerFrame(std::span<const std::uint8_t> header,
                                             std::span<const std::uint8_t> data,
                                             std::size_t answerLength, std::uint16_t code,
                                             std::size_t bufferSize) {
    std::vector<std::uint8_t> frame(header.begin(), header.end());
    frame.insert(frame.end(), data.begin(), data.end());
    Require(frame.size() >= 7 && frame[0] == 0x06);
    Require(Be16At(frame, 1) + 3u == frame.size());
    Require(frame.size() < bufferSize);
    Require(Be16At(frame, 5) == code);
    Require(answerLength <= frame.size() - 7);
    return frame;
}

using Frames = std::vector<std::vector<std::uint8_t>>;

// What a report-frame assembler must find in a stream, by the plainest scan: from each start
// byte whose length field gives a frame of minLength to largest bytes in all (start byte and
// length field included), the frame of that length; any other start byte is skipped by one
// byte. `unfinished` counts the bytes from the start byte of an incomplete last frame on.
struct Scan {
    Frames frames;
    std::size_t unfinished = 0;
};

inline Scan ScanFrames(std::span<const std::uint8_t> s, std::size_t minLength,
                       std::size_t largest) {
    constexpr std::uint8_t kStart = 0x06;
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
        const std::size_t frameSize = Be16At(s, pos + 1) + 3u;
        if (frameSize < minLength || frameSize > largest) {
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

} // namespace kelta::fuzz
