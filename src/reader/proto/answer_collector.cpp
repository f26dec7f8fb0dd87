#include "reader/proto/answer_collector.h"

#include "reader/proto/reader_frame.h"

#include <algorithm>

namespace kelta::reader {

void AnswerCollector::reset() {
    dropCollection();
    accepted_ = false;
    answerLength_ = 0;
    answerData_.fill(0);
    headerLength_ = 0;
    frameLength_ = 0;
}

void AnswerCollector::reset(std::uint16_t command) {
    command_ = command;
    reset();
}

void AnswerCollector::dropCollection() {
    buffer_.fill(0);
    position_ = 0;
    synchronised_ = false;
}

bool AnswerCollector::feed(std::uint8_t byte) {
    if (accepted_) return false;
    if (!synchronised_) {
        if (byte != kAnswerStart) return false;
        synchronised_ = true;
    }
    buffer_[position_++] = byte;
    if (position_ >= kBufferSize) {
        dropCollection();
        return false;
    }
    if (position_ <= 6) return false;

    const std::size_t n = (static_cast<std::size_t>(buffer_[1]) << 8) | buffer_[2];
    if (position_ != n + 3) return false;

    // n + 3 == position_ > 6, so n >= 4 here and the frame lies inside the buffer.
    const std::uint16_t code = static_cast<std::uint16_t>((buffer_[5] << 8) | buffer_[6]);
    if (code != command_) {
        answerLength_ = 0;
        answerData_.fill(0);
        dropCollection();
        return false;
    }

    const std::uint16_t flags = static_cast<std::uint16_t>((buffer_[3] << 8) | buffer_[4]);
    std::size_t length = n - 4;
    std::size_t header = 7;
    if (flags & kFlagReaderId) {
        header += 2;
        length = length >= 2 ? length - 2 : 0;
    }
    if (flags & kFlagExtraHeader) header += 4;

    frameLength_ = position_;
    headerLength_ = std::min(header, frameLength_);
    answerLength_ = static_cast<std::uint16_t>(length);
    answerData_.fill(0);
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(headerLength_),
              buffer_.begin() + static_cast<std::ptrdiff_t>(frameLength_), answerData_.begin());
    accepted_ = true;
    return true;
}

bool AnswerCollector::feed(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
        if (accepted_) break;
        feed(b);
    }
    return accepted_;
}

std::span<const std::uint8_t> AnswerCollector::header() const {
    if (!accepted_) return {};
    return std::span<const std::uint8_t>(buffer_).first(headerLength_);
}

std::span<const std::uint8_t> AnswerCollector::data() const {
    if (!accepted_) return {};
    return std::span<const std::uint8_t>(answerData_).first(frameLength_ - headerLength_);
}

} // namespace kelta::reader
