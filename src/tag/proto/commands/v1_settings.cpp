#include "tag/proto/commands/v1_settings.h"

#include "common/proto/hex_text.h"

#include <algorithm>

namespace kelta::tag::v1 {

namespace {

constexpr CommandEntry kCommands[] = {
    {Command::ActiveTime, 'w', '@', 1},  {Command::ActiveTimeGet, 'r', '@', 3},
    {Command::ActiveCount, 'w', 'A', 1}, {Command::ActiveCountGet, 'r', 'A', 3},
    {Command::Receiver, 'w', 'C', 1},    {Command::ReceiverGet, 'r', 'C', 3},
    {Command::Beep, 'B', 0x00, 1},       {Command::LedR, 'L', 0x02, 1},
    {Command::LedG, 'L', 0x01, 1},
};

} // namespace

const CommandEntry& entryOf(Command c) {
    for (const CommandEntry& e : kCommands)
        if (e.command == c) return e;
    return kCommands[0];
}

v3::Encoded Encode(std::string_view tagId, Command c, std::uint8_t value) {
    v3::Encoded e;
    e.bytes.assign(kSize, 0);
    // Trimmed of blanks, then cut into pairs.
    const hex::HexPairs id = hex::ParseHexPairs(hex::TrimBlanks(tagId));
    if (!id.ok) {
        e.error = v3::Field::TagId;
        return e;
    }
    std::copy_n(id.bytes.begin(), std::min<std::size_t>(8, id.bytes.size()), e.bytes.begin());
    const CommandEntry& entry = entryOf(c);
    e.bytes[8] = entry.op;
    e.bytes[9] = entry.selector;
    e.bytes[10] = value;
    return e;
}

} // namespace kelta::tag::v1
