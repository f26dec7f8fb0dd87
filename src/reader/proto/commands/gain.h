#pragma once
// Radio gain (block FF FD): scroll-bar positions 1-13 and the reader's gain codes.

#include "reader/proto/commands/payload.h"

namespace kelta::reader::cmd {

// Gain code of positions 1-13; a code is two bits x 64 + three bits x 8 + three bits.
inline constexpr std::array<std::uint8_t, 13> kGainCodes{0x38, 0x3B, 0x1B, 0x58, 0x1F, 0x7B, 0xBF,
                                                         0x5F, 0x47, 0xD8, 0xDF, 0x87, 0xC7};
inline constexpr int kGainPositions = 13;
// The gain block carries this constant where other blocks carry an access key ("GAINBLK1").
inline constexpr Key8 kGainBlockConstant{0x47, 0x41, 0x49, 0x4E, 0x42, 0x4C, 0x4B, 0x31};
inline constexpr std::size_t kGainCodeOffset = 24; // in the write payload
inline constexpr std::size_t kGainAnswerByte = 11; // in the read answer

// Position outside 1-13: the code of position 13.
std::uint8_t GainCode(int position);
// A code not in the table: position 13.
int GainPosition(std::uint8_t code);

Bytes EncodeGainRead();
Bytes EncodeGainWrite(int position);
std::optional<int> DecodeGainPosition(Answer d);

} // namespace kelta::reader::cmd
