#pragma once
// ZigBee group ID (0x6051) and ZigBee mode (0x6050).

#include "reader/proto/commands/payload.h"

namespace kelta::reader::cmd {

inline constexpr std::uint16_t kZigbeeGroup = 0x6051;
inline constexpr std::uint16_t kZigbeeMode = 0x6050;

// Write: group ID (2) and six zero bytes. Answer: the group ID, at least 2 bytes.
Bytes EncodeZigbeeGroup(std::uint16_t groupId);
std::optional<std::uint16_t> DecodeZigbeeGroup(Answer d);

// Mode item: 0 coordinator, 1 router. Write: the item and seven zero bytes; answer: byte 0.
Bytes EncodeZigbeeMode(std::uint8_t item);
std::optional<std::uint8_t> DecodeZigbeeMode(Answer d);

} // namespace kelta::reader::cmd
