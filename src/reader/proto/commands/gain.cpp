#include "reader/proto/commands/gain.h"

#include <algorithm>

namespace kelta::reader::cmd {

std::uint8_t GainCode(int position) {
    if (position < 1 || position > kGainPositions) position = kGainPositions;
    return kGainCodes[static_cast<std::size_t>(position - 1)];
}

int GainPosition(std::uint8_t code) {
    const auto it = std::find(kGainCodes.begin(), kGainCodes.end(), code);
    return it == kGainCodes.end() ? kGainPositions : static_cast<int>(it - kGainCodes.begin()) + 1;
}

Bytes EncodeGainRead() {
    return EncodeBlockRead(HeaderOf(Block::Gain), kGainBlockConstant);
}

Bytes EncodeGainWrite(int position) {
    std::array<std::uint8_t, kGainCodeOffset - kBlockValueOffset + 1> area{};
    area.back() = GainCode(position);
    return EncodeBlockWrite(HeaderOf(Block::Gain), kGainBlockConstant, area);
}

std::optional<int> DecodeGainPosition(Answer d) {
    if (d.size() < kBlockAnswerMin) return std::nullopt;
    return GainPosition(d[kGainAnswerByte]);
}

} // namespace kelta::reader::cmd
