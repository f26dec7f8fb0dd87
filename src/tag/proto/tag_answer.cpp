#include "tag/proto/tag_answer.h"

#include <algorithm>

namespace kelta::tag {

namespace {

constexpr std::uint8_t kStart = 0x06;
constexpr std::uint16_t kFlagReaderId = 0x0800;
constexpr std::uint16_t kFlagExtra = 0x0400;
constexpr std::size_t kMinLength = 4; // flags and code

} // namespace

void TagAnswerAssembler::reset() {
    restart();
    kept_.clear();
    accepted_ = false;
    answerLength_ = 0;
    answerData_.fill(0);
    headerLength_ = frameLength_ = 0;
}

void TagAnswerAssembler::startAttempt(std::uint16_t command) {
    // A partial frame left by the last attempt is dropped: a stray start byte with a plausible
    // length would otherwise swallow this attempt's answer.
    restart();
    command_ = command;
    accepted_ = false;
    answerLength_ = 0;
    answerData_.fill(0);
    headerLength_ = frameLength_ = 0;
}

bool TagAnswerAssembler::feed(std::span<const std::uint8_t> bytes) {
    if (accepted_) {
        kept_.insert(kept_.end(), bytes.begin(), bytes.end());
        return true;
    }
    std::vector<std::uint8_t> in;
    in.swap(kept_);
    in.insert(in.end(), bytes.begin(), bytes.end());
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (feedByte(in[i])) {
            kept_.assign(in.begin() + static_cast<std::ptrdiff_t>(i + 1), in.end());
            return true;
        }
    }
    return false;
}

bool TagAnswerAssembler::feedByte(std::uint8_t b) {
    if (!inFrame_) {
        if (b != kStart) return false;
        inFrame_ = true;
        position_ = 0;
    }
    buf_[position_++] = b;
    if (position_ == kBufferSize) { // longer than the buffer: dropped
        ++dropped_;
        restart();
        return false;
    }
    if (position_ < 7) return false;
    const std::size_t length = static_cast<std::size_t>(buf_[1]) << 8 | buf_[2];
    if (length < kMinLength || length + 3 >= kBufferSize) {
        // No frame fits this length: look again at the bytes after the start byte.
        ++dropped_;
        const std::vector<std::uint8_t> again(
            buf_.begin() + 1, buf_.begin() + static_cast<std::ptrdiff_t>(position_));
        restart();
        for (const std::uint8_t a : again) feedByte(a); // six bytes cannot complete a frame
        return false;
    }
    if (position_ != length + 3) return false;

    const std::size_t frameLength = position_;
    const std::uint16_t flags = static_cast<std::uint16_t>(buf_[3] << 8 | buf_[4]);
    const std::uint16_t code = static_cast<std::uint16_t>(buf_[5] << 8 | buf_[6]);
    restart();
    if (code != command_) {
        ++dropped_;
        return false;
    }
    std::size_t header = 7;
    long count = static_cast<long>(length) - 4;
    if (flags & kFlagReaderId) {
        header += 2;
        count -= 2;
    }
    if (flags & kFlagExtra) header += 4;
    header = std::min(header, frameLength);
    answerLength_ = static_cast<std::uint16_t>(std::max(0L, count));
    answerData_.fill(0);
    std::copy(buf_.begin() + static_cast<std::ptrdiff_t>(header),
              buf_.begin() + static_cast<std::ptrdiff_t>(frameLength), answerData_.begin());
    headerLength_ = header;
    frameLength_ = frameLength;
    accepted_ = true;
    return true;
}

std::span<const std::uint8_t> TagAnswerAssembler::header() const {
    if (!accepted_) return {};
    return {buf_.data(), headerLength_};
}

std::span<const std::uint8_t> TagAnswerAssembler::data() const {
    if (!accepted_) return {};
    return {buf_.data() + headerLength_, frameLength_ - headerLength_};
}

} // namespace kelta::tag
