#pragma once
// What every reader command of the catalogue shares: payload and answer types, bounds-checked
// readers of answer bytes, and the settings block of commands 0x6030 / 0x6031 with the header
// of each block written once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kelta::reader::cmd {

using Bytes = std::vector<std::uint8_t>;
// The data of an accepted answer: answerLength bytes of answerData.
using Answer = std::span<const std::uint8_t>;
using Key8 = std::array<std::uint8_t, 8>;

// Byte i of an answer, 0 behind its end (the answer store is zero-filled behind the data).
std::uint8_t At(Answer d, std::size_t i);
std::uint16_t Be16(Answer d, std::size_t at);
std::uint32_t Be32(Answer d, std::size_t at);
void PutBe16(Bytes& out, std::size_t at, std::uint16_t v);
void PutBe32(Bytes& out, std::size_t at, std::uint32_t v);

inline constexpr std::uint16_t kBlockWrite = 0x6030;
inline constexpr std::uint16_t kBlockRead = 0x6031;
inline constexpr std::size_t kBlockWriteBytes = 32;
inline constexpr std::size_t kBlockReadBytes = 16;
inline constexpr std::size_t kBlockKeyOffset = 5;    // 8-byte access key
inline constexpr std::size_t kBlockValueOffset = 13; // 16-byte value area (writes)
// An answer to a block read or write is complete from 16 bytes on.
inline constexpr std::size_t kBlockAnswerMin = 16;

// The blocks a settings command addresses.
enum class Block { KeySlot, AdminKeys, Guest, Gain, BtExciter };

// Items of the guest block.
enum class GuestItem : std::uint8_t { SendMode = 0x00, RssiFilter = 0x11, VersionFilter = 0x22 };

// Bytes 0-4 of a block payload: selector, block byte 2 and 3, 0x01.
struct BlockHeader {
    std::array<std::uint8_t, 5> bytes;
};
// The header of a block. For the key slot, `arg` is the slot number 1-8; for the guest
// block, the item; otherwise it is not used.
BlockHeader HeaderOf(Block block, std::uint8_t arg = 0);

// A block read (16 bytes) or write (32 bytes): header, access key at offset 5, and for a write
// the value area given (at most 16 bytes) at offset 13. Bytes not given are 0.
Bytes EncodeBlockRead(const BlockHeader& header, const Key8& accessKey = {});
Bytes EncodeBlockWrite(const BlockHeader& header, const Key8& accessKey,
                       std::span<const std::uint8_t> valueArea);

} // namespace kelta::reader::cmd
