#include "tag/proto/commands/exciter.h"

#include "common/proto/hex_text.h"

namespace kelta::tag::exciter {

namespace {

constexpr std::uint8_t kDelaySetting = 0x06, kIdHighSetting = 0x07, kIdLowSetting = 0x08,
                       kEnableSetting = 0x09;

// Two hex digits of the caption from `at`, 0 when they are missing or not hexadecimal.
std::uint8_t captionByte(std::string_view caption, std::size_t at) {
    if (caption.size() < at + 2) return 0;
    const int hi = hex::HexDigitValue(caption[at]);
    const int lo = hex::HexDigitValue(caption[at + 1]);
    if (hi < 0 || lo < 0) return 0;
    return static_cast<std::uint8_t>(hi * 16 + lo);
}

} // namespace

std::uint8_t ExciterChecksum(std::span<const std::uint8_t> bytes) {
    std::uint8_t x = 0;
    for (const std::uint8_t b : bytes) x ^= b;
    return x;
}

std::vector<std::uint8_t> BuildExciterFrame(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> f;
    f.reserve(payload.size() + 4);
    f.push_back(kStart);
    f.push_back(static_cast<std::uint8_t>(payload.size() - 2));
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(ExciterChecksum(f));
    f.push_back(kEnd);
    return f;
}

std::array<std::array<std::uint8_t, 3>, 4> ExciterSteps(int delay, std::string_view idCaption,
                                                        bool enabled) {
    return {{{kRequest, kDelaySetting, static_cast<std::uint8_t>(delay)},
             {kRequest, kIdHighSetting, captionByte(idCaption, 0)},
             {kRequest, kIdLowSetting, captionByte(idCaption, 2)},
             {kRequest, kEnableSetting, static_cast<std::uint8_t>(enabled ? 1 : 0)}}};
}

AnswerAssembler::State AnswerAssembler::feed(std::uint8_t byte) {
    if (state_ != State::Collecting) return state_;
    buf_[position_++] = byte;
    const std::size_t held = position_;
    if (position_ == kBufferSize) position_ = 0;
    if (byte == kEnd && held >= 6 && buf_[0] == kStart && buf_[1] == held - 6) {
        const auto before = std::span<const std::uint8_t>(buf_.data(), held - 2);
        state_ = buf_[held - 2] == ExciterChecksum(before) ? State::Good : State::BadChecksum;
    }
    return state_;
}

} // namespace kelta::tag::exciter
