#include "reader/proto/commands/payload.h"

#include <algorithm>

namespace kelta::reader::cmd {

std::uint8_t At(Answer d, std::size_t i) {
    return i < d.size() ? d[i] : 0;
}

std::uint16_t Be16(Answer d, std::size_t at) {
    return static_cast<std::uint16_t>(At(d, at) << 8 | At(d, at + 1));
}

std::uint32_t Be32(Answer d, std::size_t at) {
    return static_cast<std::uint32_t>(Be16(d, at)) << 16 | Be16(d, at + 2);
}

void PutBe16(Bytes& out, std::size_t at, std::uint16_t v) {
    if (out.size() < at + 2) out.resize(at + 2);
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v);
}

void PutBe32(Bytes& out, std::size_t at, std::uint32_t v) {
    PutBe16(out, at, static_cast<std::uint16_t>(v >> 16));
    PutBe16(out, at + 2, static_cast<std::uint16_t>(v));
}

BlockHeader HeaderOf(Block block, std::uint8_t arg) {
    switch (block) {
    case Block::KeySlot:
        return {{0xFF, 0xFC, arg, 0x0F, 0x01}};
    case Block::AdminKeys:
        return {{0xFF, 0xFE, 0x02, 0x00, 0x01}};
    case Block::Guest:
        return {{0xFF, 0xFF, 0x01, arg, 0x01}};
    case Block::Gain:
        return {{0xFF, 0xFD, 0x03, 0xBB, 0x01}};
    case Block::BtExciter:
        return {{0xFF, 0xFE, 0x03, 0x08, 0x01}};
    }
    return {};
}

namespace {

Bytes encodeBlock(std::size_t size, const BlockHeader& header, const Key8& accessKey) {
    Bytes out(size, 0);
    std::copy(header.bytes.begin(), header.bytes.end(), out.begin());
    std::copy(accessKey.begin(), accessKey.end(), out.begin() + kBlockKeyOffset);
    return out;
}

} // namespace

Bytes EncodeBlockRead(const BlockHeader& header, const Key8& accessKey) {
    return encodeBlock(kBlockReadBytes, header, accessKey);
}

Bytes EncodeBlockWrite(const BlockHeader& header, const Key8& accessKey,
                       std::span<const std::uint8_t> valueArea) {
    Bytes out = encodeBlock(kBlockWriteBytes, header, accessKey);
    const std::size_t n = std::min<std::size_t>(valueArea.size(), 16);
    std::copy_n(valueArea.begin(), n, out.begin() + kBlockValueOffset);
    return out;
}

} // namespace kelta::reader::cmd
