#pragma once
// Collects the answer frame of one reader request from the bytes of the link.
//
// Bytes before the start byte 0x06 are skipped. From the start byte on, bytes are stored;
// once more than 6 are stored the length N (bytes 1-2) is known and the frame is complete at
// N + 3 bytes. A complete frame with the expected command code is accepted; one with another
// code is dropped and the collector hunts for the next start byte. A collection reaching
// 1024 bytes is dropped the same way. After acceptance every further byte is ignored until
// reset().

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kelta::reader {

class AnswerCollector {
public:
    static constexpr std::size_t kBufferSize = 1024;

    explicit AnswerCollector(std::uint16_t command) : command_(command) {}

    // Back to hunting, with the answer store cleared; optionally for another command code.
    void reset();
    void reset(std::uint16_t command);

    // Feeds one byte; returns true when this byte completed an accepted answer.
    bool feed(std::uint8_t byte);
    // Feeds the bytes of one read in order and stops at an accepted answer, ignoring the
    // rest of the read. Returns accepted().
    bool feed(std::span<const std::uint8_t> bytes);

    bool synchronised() const { return synchronised_; }
    bool accepted() const { return accepted_; }
    std::uint16_t command() const { return command_; }

    // Data count of the accepted answer: N - 4, two less with flag 0x0800 (never below 0);
    // 0 before acceptance.
    std::uint16_t answerLength() const { return answerLength_; }
    // The data bytes (header end to frame end) at the start, zero behind them.
    const std::array<std::uint8_t, kBufferSize>& answerData() const { return answerData_; }
    // Header (7 bytes, +2 with flag 0x0800, +4 with flag 0x0400, at most the frame) and data
    // bytes of the accepted answer, for the trace fields; empty before acceptance.
    std::span<const std::uint8_t> header() const;
    std::span<const std::uint8_t> data() const;

private:
    void dropCollection();

    std::uint16_t command_;
    std::array<std::uint8_t, kBufferSize> buffer_{};
    std::size_t position_ = 0;
    bool synchronised_ = false;
    bool accepted_ = false;
    std::uint16_t answerLength_ = 0;
    std::array<std::uint8_t, kBufferSize> answerData_{};
    std::size_t headerLength_ = 0;
    std::size_t frameLength_ = 0;
};

} // namespace kelta::reader
