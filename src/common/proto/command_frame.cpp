#include "common/proto/command_frame.h"

namespace kelta::frame {

std::uint16_t CalcCrc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t reg = 0;
    for (const std::uint8_t b : bytes) {
        reg ^= b;
        for (int i = 0; i < 8; ++i) {
            if (reg & 1u)
                reg = static_cast<std::uint16_t>((reg >> 1) ^ 0x8408u);
            else
                reg = static_cast<std::uint16_t>(reg >> 1);
        }
    }
    return reg;
}

namespace {
void putWord(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}
} // namespace

std::optional<std::vector<std::uint8_t>> BuildCommandFrame(const CommandFrameOptions& options,
                                                           std::span<const std::uint8_t> payload) {
    if (payload.size() > options.maxPayload) return std::nullopt;
    const bool withId = options.readerId.has_value();
    const std::size_t length =
        2 + 2 + (withId ? 2 : 0) + payload.size() + (options.withCrc ? 2 : 0);

    std::vector<std::uint8_t> frame;
    frame.reserve(length + 3);
    frame.push_back(kCommandStart);
    putWord(frame, static_cast<std::uint16_t>(length));
    putWord(frame,
            withId ? static_cast<std::uint16_t>(options.flags | kFlagReaderId) : options.flags);
    putWord(frame, options.command);
    if (withId) putWord(frame, *options.readerId);
    frame.insert(frame.end(), payload.begin(), payload.end());
    if (options.withCrc) putWord(frame, CalcCrc16(std::span(frame).subspan(1)));
    return frame;
}

} // namespace kelta::frame
