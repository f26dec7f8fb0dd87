#pragma once
// Writes one tag command frame on the configuration link of the active link page, with up to
// five tries. Used by the tag executors and by the link announcement sent when a link opens.

#include <cstdint>
#include <span>

namespace kelta::reader {
class ReaderLink;
}

namespace kelta::tag {

// command and payload as sent; readerId > 0 adds its low 16 bits and flag 0x0800; display
// shows the frame's trace in the tag send field; flags is the word before the ID bit is added (bit
// 0x8000 clears the answer store first, as an answer will be awaited). True when one try wrote
// the frame. A payload too long for the frame is refused ("Command Error." in the tag panel) and
// nothing is sent. The link's settings tell which of its connections the frame goes on.
bool SendTagCommand(reader::ReaderLink& link, std::uint16_t command,
                    std::span<const std::uint8_t> payload, int readerId, bool display,
                    std::uint16_t flags);
bool SendTagCommand(reader::ReaderLink& link, std::uint16_t command, const std::uint8_t* payload,
                    int payloadLength, int readerId, bool display, std::uint16_t flags);

} // namespace kelta::tag
