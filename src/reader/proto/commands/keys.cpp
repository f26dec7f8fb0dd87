#include "reader/proto/commands/keys.h"

#include <algorithm>

namespace kelta::reader::cmd {

Bytes EncodeAesKeyWrite(std::uint8_t slot, const Key8& accessKey,
                        std::span<const std::uint8_t> key) {
    return EncodeBlockWrite(HeaderOf(Block::KeySlot, slot), accessKey, key);
}

Bytes EncodeAesKeyRead(std::uint8_t slot, const Key8& accessKey) {
    return EncodeBlockRead(HeaderOf(Block::KeySlot, slot), accessKey);
}

std::optional<AesKey> DecodeAesKey(Answer d) {
    if (d.size() < kBlockAnswerMin) return std::nullopt;
    AesKey key{};
    std::copy_n(d.begin(), key.size(), key.begin());
    return key;
}

Bytes EncodeAdminKeysWrite(const Key8& accessKey, std::uint8_t mask) {
    const std::uint8_t value[] = {mask};
    return EncodeBlockWrite(HeaderOf(Block::AdminKeys), accessKey, value);
}

Bytes EncodeAdminKeysRead(const Key8& accessKey) {
    return EncodeBlockRead(HeaderOf(Block::AdminKeys), accessKey);
}

std::optional<std::uint8_t> DecodeAdminKeys(Answer d) {
    if (d.size() < kBlockAnswerMin) return std::nullopt;
    return d[0];
}

Key8 ToKey8(std::span<const std::uint8_t> bytes) {
    Key8 key{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), key.size()), key.begin());
    return key;
}

} // namespace kelta::reader::cmd
