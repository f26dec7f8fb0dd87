#include "reader/proto/commands/zigbee.h"

namespace kelta::reader::cmd {

Bytes EncodeZigbeeGroup(std::uint16_t groupId) {
    Bytes out(8, 0);
    PutBe16(out, 0, groupId);
    return out;
}

std::optional<std::uint16_t> DecodeZigbeeGroup(Answer d) {
    if (d.size() < 2) return std::nullopt;
    return Be16(d, 0);
}

Bytes EncodeZigbeeMode(std::uint8_t item) {
    Bytes out(8, 0);
    out[0] = item;
    return out;
}

std::optional<std::uint8_t> DecodeZigbeeMode(Answer d) {
    if (d.empty()) return std::nullopt;
    return d[0];
}

} // namespace kelta::reader::cmd
