#pragma once
// Command frames sent to readers by the monitoring links. No checksum.

#include "common/proto/command_frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kelta::monitor {

inline constexpr std::uint8_t kCommandStart = 0x05;
inline constexpr std::uint16_t kFlagReaderId = 0x0800;
inline constexpr std::uint16_t kLinkModeCode = 0x6011;
inline constexpr std::uint16_t kTagLogCode = 0x8061;
inline constexpr std::uint16_t kTagLogFlags = 0x8000;
inline constexpr std::uint16_t kSettingsWriteCode = 0x6030;
// Like every frame to a reader, at most 1024 bytes: 9 header bytes with the ID.
inline constexpr std::size_t kMaxCommandData = 1015;

// 05, L (n + 4, n + 6 with ID), flags (| 0x0800 with ID), code, [ID], data. The ID field
// (low 16 bits) is present when readerId is 0 or more. Data over kMaxCommandData is refused.
std::optional<std::vector<std::uint8_t>> BuildMonitorCommand(std::uint16_t flags,
                                                             std::uint16_t command, int readerId,
                                                             std::span<const std::uint8_t> data);

// 0x6011 with data "0","1" for outgoing TCP connections, "0","0" for serial and listening
// links, then six zero bytes; flags 0, no ID. 15 bytes.
std::vector<std::uint8_t> linkModeAnnouncement(bool outgoingTcp);

// Tag-log request: flags 0x8000, code 0x8061, the reader ID (low 16 bits; a negative value
// sends no ID field), data 01 01 and six zero bytes.
std::vector<std::uint8_t> tagLogCommand(int readerId);

// The two 0x6030 frames sent to a reader when an outgoing connection comes up: the same 29
// data bytes, the first without ID (36 bytes), the second with flag 0x0800 and ID 0 (38).
std::array<std::vector<std::uint8_t>, 2> connectionSetupFrames();

// RSSI filter: flags 0, code 0x6030, no ID, 32 data bytes with the threshold at data byte
// 14. 39 bytes.
std::vector<std::uint8_t> rssiFilterCommand(std::uint8_t threshold);

} // namespace kelta::monitor
