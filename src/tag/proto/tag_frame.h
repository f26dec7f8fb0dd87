#pragma once
// Tag command frame sent through the reader: like the reader request but without flag
// 0x0001 and without a checksum.

#include "common/proto/command_frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kelta::tag {

inline constexpr std::uint8_t kTagFrameStart = 0x05;
inline constexpr std::uint16_t kTagCommandFlags = 0x8000; // flags the executors pass
inline constexpr std::uint16_t kFlagReaderId = 0x0800;
inline constexpr std::uint16_t kLinkAnnouncementCode = 0x6011;
// The frame is assembled in 1024 bytes: 9 header bytes (with ID) leave 1015 for the payload.
inline constexpr std::size_t kMaxTagPayload = 1015;

// 05, length (payload + 4, + 2 with ID), flags (| 0x0800 when readerId > 0), code,
// [reader ID, low 16 bits], payload. A payload over kMaxTagPayload is refused.
std::optional<std::vector<std::uint8_t>> BuildTagCommandFrame(std::uint16_t command,
                                                              std::span<const std::uint8_t> payload,
                                                              int readerId, std::uint16_t flags);

// Announcement written when the configuration link opens: code 0x6011, flags 0, no ID, data
// "0","1" on an outgoing TCP link and "0","0" otherwise, then six zero bytes.
std::vector<std::uint8_t> linkAnnouncementFrame(bool outgoingTcp);

} // namespace kelta::tag
