#pragma once
// Collects the answer frames of one tag exchange from the bytes of the link.
//
// Bytes before a start byte 0x06 are skipped. From the start byte on, bytes are stored;
// once more than 6 are held the length L (bytes 1-2) is known and the frame is complete at
// L + 3 bytes. A complete frame with the expected command code is accepted; one with another
// code is dropped, always the same way, and collecting goes on with the next byte. A frame
// that would not fit the 1024-byte buffer is dropped, and so is a start byte whose length
// cannot hold the flags and the code (the bytes after it are looked at again).
//
// The assembler lives for a whole exchange: a frame split over several reads of one attempt is
// completed, and the bytes that follow an accepted frame in the same read wait for the next
// attempt (the tag's answer may arrive in the same read as the reader's acknowledgement). Each
// attempt starts clean of a partial frame left by the one before.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelta::tag {

class TagAnswerAssembler {
public:
    static constexpr std::size_t kBufferSize = 1024;

    explicit TagAnswerAssembler(std::uint16_t command = 0) : command_(command) {}

    // Everything forgotten: the partial frame and the bytes kept after an accepted frame.
    void reset();
    // A new receive attempt, possibly for another code: the accepted answer and a partial
    // frame are dropped; the bytes kept after an accepted frame stay.
    void startAttempt(std::uint16_t command);

    // Feeds the kept bytes, then `bytes`; stops at the first accepted answer and keeps the
    // rest of the bytes. Returns accepted().
    bool feed(std::span<const std::uint8_t> bytes);

    bool accepted() const { return accepted_; }
    bool inFrame() const { return inFrame_; }
    std::size_t framesDropped() const { return dropped_; }
    std::size_t keptBytes() const { return kept_.size(); }

    // Data count of the accepted answer: L - 4, two less with flag 0x0800 (never below 0).
    std::uint16_t answerLength() const { return answerLength_; }
    // The bytes from the header end to the frame end at the start, zero behind them.
    const std::array<std::uint8_t, kBufferSize>& answerData() const { return answerData_; }
    // Header (7 bytes, +2 with flag 0x0800, +4 with flag 0x0400) and data of the accepted
    // answer; empty before acceptance.
    std::span<const std::uint8_t> header() const;
    std::span<const std::uint8_t> data() const;

private:
    bool feedByte(std::uint8_t b);
    void restart() {
        position_ = 0;
        inFrame_ = false;
    }

    std::uint16_t command_;
    std::array<std::uint8_t, kBufferSize> buf_{};
    std::size_t position_ = 0;
    bool inFrame_ = false;
    bool accepted_ = false;
    std::size_t dropped_ = 0;
    std::vector<std::uint8_t> kept_;
    std::uint16_t answerLength_ = 0;
    std::array<std::uint8_t, kBufferSize> answerData_{};
    std::size_t headerLength_ = 0;
    std::size_t frameLength_ = 0;
};

} // namespace kelta::tag
