#pragma once
// AES keys per key slot (block FF FC) and the administrator's key selection (block FF FE).
// Both blocks carry an access key; the reader refuses a wrong one with a short answer.

#include "reader/proto/commands/payload.h"

#include <string_view>

namespace kelta::reader::cmd {

// The access key every reader leaves the factory with (also the hidden fields' preset).
inline constexpr std::string_view kPresetAccessKey = "7D41A09C3E5B2F86";

using AesKey = std::array<std::uint8_t, 16>;

// Slot 1-8. The key bytes given (at most 16) fill the value area from its start.
Bytes EncodeAesKeyWrite(std::uint8_t slot, const Key8& accessKey,
                        std::span<const std::uint8_t> key);
Bytes EncodeAesKeyRead(std::uint8_t slot, const Key8& accessKey);
std::optional<AesKey> DecodeAesKey(Answer d);

// Bit k-1 set: key k may be used.
Bytes EncodeAdminKeysWrite(const Key8& accessKey, std::uint8_t mask);
Bytes EncodeAdminKeysRead(const Key8& accessKey);
std::optional<std::uint8_t> DecodeAdminKeys(Answer d);

// The first eight bytes of a parsed key field, zero-padded.
Key8 ToKey8(std::span<const std::uint8_t> bytes);

} // namespace kelta::reader::cmd
