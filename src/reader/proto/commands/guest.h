#pragma once
// Guest settings (block FF FF): tag send mode, RSSI filter limit and tag version filter.

#include "reader/proto/commands/payload.h"

namespace kelta::reader::cmd {

// Send-mode list items and the codes the reader knows: item 0 "STOP SEND" is "4", item 1
// "AUTO SEND" is "3", item 2 is "1".
inline constexpr std::array<std::uint8_t, 3> kSendModeCodes{'4', '3', '1'};
std::uint8_t SendModeCode(int item);
// The item of a code; a code the list does not know gives item 0.
int SendModeItem(std::uint8_t code);

Bytes EncodeGuestRead(GuestItem item);
Bytes EncodeGuestSendMode(int item);
Bytes EncodeGuestRssi(std::uint8_t limit);
// Bit 0 version 1, bit 1 version 2, bit 2 version 3.
Bytes EncodeGuestVersions(std::uint8_t mask);

// Answer to a guest read (at least 16 bytes): byte 0 send-mode code, 1 RSSI limit, 2 mask.
struct GuestAnswer {
    std::uint8_t sendModeCode = 0;
    std::uint8_t rssiLimit = 0;
    std::uint8_t versionMask = 0;
};
std::optional<GuestAnswer> DecodeGuest(Answer d);

} // namespace kelta::reader::cmd
