#include "tag/proto/tag_frame.h"

#include <array>

namespace kelta::tag {

std::optional<std::vector<std::uint8_t>> BuildTagCommandFrame(std::uint16_t command,
                                                              std::span<const std::uint8_t> payload,
                                                              int readerId, std::uint16_t flags) {
    return frame::BuildCommandFrame({.flags = flags,
                                     .command = command,
                                     .readerId = frame::PositiveReaderId(readerId),
                                     .withCrc = false,
                                     .maxPayload = kMaxTagPayload},
                                    payload);
}

std::vector<std::uint8_t> linkAnnouncementFrame(bool outgoingTcp) {
    const std::array<std::uint8_t, 8> data{
        0x30, static_cast<std::uint8_t>(outgoingTcp ? 0x31 : 0x30), 0, 0, 0, 0, 0, 0};
    return *BuildTagCommandFrame(kLinkAnnouncementCode, data, -1, 0x0000);
}

} // namespace kelta::tag
