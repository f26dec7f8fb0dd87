#pragma once
// Request frame of the reader configuration link, its checksum and the trace texts.

#include "common/proto/command_frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kelta::reader {

inline constexpr std::uint8_t kRequestStart = 0x05;
inline constexpr std::uint8_t kAnswerStart = 0x06;
inline constexpr std::uint16_t kRequestFlags = 0x8001;
inline constexpr std::uint16_t kFlagReaderId = 0x0800;
inline constexpr std::uint16_t kFlagExtraHeader = 0x0400;
// The checksum's byte count is 8 bits wide; length, flags, code and ID take 8 of those 255.
inline constexpr std::size_t kMaxRequestPayload = 247;

using frame::CalcCrc16;

// Request frame: 05, length (big-endian), flags 0x8001 (0x8801 with ID), command code,
// reader ID (only when readerId > 0, its low 16 bits), payload, CRC over offset 1 up to the
// end of the payload. A payload longer than kMaxRequestPayload is refused.
std::optional<std::vector<std::uint8_t>> BuildReaderRequest(std::uint16_t command, int readerId,
                                                            std::span<const std::uint8_t> payload);

// Every byte as two upper-case hex digits and a blank: "05 00 06 ".
std::string HexBytes(std::span<const std::uint8_t> bytes);

// Trace of a sent frame: "[" payload count "," frame length "] " (both at least two digits)
// followed by HexBytes of the frame, e.g. "[00,09] 05 00 06 80 01 00 03 7E B1 ".
std::string TraceText(std::size_t payloadLength, std::span<const std::uint8_t> frame);

} // namespace kelta::reader
