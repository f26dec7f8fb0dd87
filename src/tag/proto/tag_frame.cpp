#include "tag/proto/tag_frame.h"

#include <array>

namespace kelta::tag {

namespace {
void putWord(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}
} // namespace

std::optional<std::vector<std::uint8_t>> BuildTagCommandFrame(std::uint16_t command,
                                                              std::span<const std::uint8_t> payload,
                                                              int readerId, std::uint16_t flags) {
    if (payload.size() > kMaxTagPayload) return std::nullopt;
    const bool withId = readerId > 0;
    const std::size_t length = payload.size() + (withId ? 6 : 4);

    std::vector<std::uint8_t> frame;
    frame.reserve(length + 3);
    frame.push_back(kTagFrameStart);
    putWord(frame, static_cast<std::uint16_t>(length));
    putWord(frame, withId ? static_cast<std::uint16_t>(flags | kFlagReaderId) : flags);
    putWord(frame, command);
    if (withId) putWord(frame, static_cast<std::uint16_t>(readerId & 0xFFFF));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::vector<std::uint8_t> linkAnnouncementFrame(bool outgoingTcp) {
    const std::array<std::uint8_t, 8> data{
        0x30, static_cast<std::uint8_t>(outgoingTcp ? 0x31 : 0x30), 0, 0, 0, 0, 0, 0};
    return *BuildTagCommandFrame(kLinkAnnouncementCode, data, -1, 0x0000);
}

} // namespace kelta::tag
