#pragma once
// Commands for first-generation (V1) tags: a 16-byte payload with code 0x6034. Offsets 0-7
// the tag ID (hex pairs as typed), 8 the operation letter, 9 the setting selector, 10 the
// value, 11-15 zero.

#include "tag/proto/commands/v3_settings.h"

#include <cstdint>
#include <string_view>

namespace kelta::tag::v1 {

inline constexpr std::uint16_t kCode = 0x6034;
inline constexpr std::size_t kSize = 16;

enum class Command {
    ActiveTime,
    ActiveTimeGet,
    ActiveCount,
    ActiveCountGet,
    Receiver,
    ReceiverGet,
    Beep,
    LedR,
    LedG
};

struct CommandEntry {
    Command command;
    std::uint8_t op;       // 'w' write, 'r' read, 'B' beep, 'L' LED
    std::uint8_t selector; // '@', 'A', 'C'; LED 2 red, 1 green
    int answerMode;        // 1: done when written; 3: waits for the answer
};

const CommandEntry& entryOf(Command c);

// The tag ID is trimmed of blanks, then cut into pairs; one that is not hexadecimal gives
// error Field::TagId.
v3::Encoded Encode(std::string_view tagId, Command c, std::uint8_t value);

} // namespace kelta::tag::v1
