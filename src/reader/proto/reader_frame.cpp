#include "reader/proto/reader_frame.h"

#include <cstdio>

namespace kelta::reader {

std::optional<std::vector<std::uint8_t>> BuildReaderRequest(std::uint16_t command, int readerId,
                                                            std::span<const std::uint8_t> payload) {
    return frame::BuildCommandFrame({.flags = kRequestFlags,
                                     .command = command,
                                     .readerId = frame::PositiveReaderId(readerId),
                                     .withCrc = true,
                                     .maxPayload = kMaxRequestPayload},
                                    payload);
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
        text.push_back(' ');
    }
    return text;
}

std::string TraceText(std::size_t payloadLength, std::span<const std::uint8_t> frame) {
    char head[48];
    std::snprintf(head, sizeof head, "[%02zu,%02zu] ", payloadLength, frame.size());
    return head + HexBytes(frame);
}

} // namespace kelta::reader
