#pragma once
// The one builder of every frame the system sends to a reader (start byte 0x05): reader
// requests (with CRC), tag commands and monitoring commands (without).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kelta::frame {

inline constexpr std::uint8_t kCommandStart = 0x05;
inline constexpr std::uint8_t kAnswerStart = 0x06;
inline constexpr std::uint16_t kFlagReaderId = 0x0800;
inline constexpr std::uint16_t kFlagExtraHeader = 0x0400;
// Every frame to a reader is assembled in 1024 bytes.
inline constexpr std::size_t kMaxFrameBytes = 1024;

// CRC-16 of the reader link. Parameters: width 16, polynomial 0x1021 processed reflected
// (0x8408, shifting right), initial register 0, input and output reflected, no final XOR.
// Check value 0x2189 for the ASCII bytes "123456789". Frames carry it high byte first.
std::uint16_t CalcCrc16(std::span<const std::uint8_t> bytes);

struct CommandFrameOptions {
    std::uint16_t flags = 0;
    std::uint16_t command = 0;
    // Present: flag 0x0800 is added and the low 16 bits follow the command code. Callers
    // decide from their own rule (reader and tag commands: ID > 0; monitoring: ID >= 0).
    std::optional<std::uint16_t> readerId;
    // Reader requests end in the CRC over every byte after the start byte.
    bool withCrc = false;
    // Largest payload the caller's frame kind accepts.
    std::size_t maxPayload = kMaxFrameBytes - 9;
};

// 05, length (big-endian, bytes after the length field), flags, code, [ID], payload, [CRC].
// A payload over options.maxPayload is refused.
std::optional<std::vector<std::uint8_t>> BuildCommandFrame(const CommandFrameOptions& options,
                                                           std::span<const std::uint8_t> payload);

// The reader ID rule of reader requests and tag commands: a value of 0 or less sends none.
inline std::optional<std::uint16_t> PositiveReaderId(int readerId) {
    if (readerId <= 0) return std::nullopt;
    return static_cast<std::uint16_t>(readerId & 0xFFFF);
}

} // namespace kelta::frame
