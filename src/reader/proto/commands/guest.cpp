#include "reader/proto/commands/guest.h"

#include <algorithm>

namespace kelta::reader::cmd {

std::uint8_t SendModeCode(int item) {
    return item >= 0 && item < static_cast<int>(kSendModeCodes.size())
               ? kSendModeCodes[static_cast<std::size_t>(item)]
               : kSendModeCodes[0];
}

int SendModeItem(std::uint8_t code) {
    const auto it = std::find(kSendModeCodes.begin(), kSendModeCodes.end(), code);
    return it == kSendModeCodes.end() ? 0 : static_cast<int>(it - kSendModeCodes.begin());
}

namespace {

// The value area of a guest write: send mode at 0, RSSI at 1, mask at 2 (offsets 13-15).
Bytes guestWrite(GuestItem item, std::size_t at, std::uint8_t value) {
    std::array<std::uint8_t, 3> area{};
    area[at] = value;
    return EncodeBlockWrite(HeaderOf(Block::Guest, static_cast<std::uint8_t>(item)), {}, area);
}

} // namespace

Bytes EncodeGuestRead(GuestItem item) {
    return EncodeBlockRead(HeaderOf(Block::Guest, static_cast<std::uint8_t>(item)));
}

Bytes EncodeGuestSendMode(int item) {
    return guestWrite(GuestItem::SendMode, 0, SendModeCode(item));
}

Bytes EncodeGuestRssi(std::uint8_t limit) {
    return guestWrite(GuestItem::RssiFilter, 1, limit);
}

Bytes EncodeGuestVersions(std::uint8_t mask) {
    return guestWrite(GuestItem::VersionFilter, 2, static_cast<std::uint8_t>(mask & 0x07));
}

std::optional<GuestAnswer> DecodeGuest(Answer d) {
    if (d.size() < kBlockAnswerMin) return std::nullopt;
    return GuestAnswer{d[0], d[1], d[2]};
}

} // namespace kelta::reader::cmd
