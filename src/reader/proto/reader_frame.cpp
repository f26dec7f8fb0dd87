#include "reader/proto/reader_frame.h"

#include <cstdio>

namespace kelta::reader {

std::uint16_t CalcCrc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t reg = 0;
    for (const std::uint8_t b : bytes) {
        reg ^= b;
        for (int i = 0; i < 8; ++i) {
            if (reg & 1u)
                reg = static_cast<std::uint16_t>((reg >> 1) ^ 0x8408u);
            else
                reg = static_cast<std::uint16_t>(reg >> 1);
        }
    }
    return reg;
}

namespace {
void putWord(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
}
} // namespace

std::optional<std::vector<std::uint8_t>> BuildReaderRequest(std::uint16_t command, int readerId,
                                                            std::span<const std::uint8_t> payload) {
    if (payload.size() > kMaxRequestPayload) return std::nullopt;
    const bool withId = readerId > 0;
    const std::size_t length = 2 + 2 + (withId ? 2 : 0) + payload.size() + 2;

    std::vector<std::uint8_t> frame;
    frame.reserve(length + 3);
    frame.push_back(kRequestStart);
    putWord(frame, static_cast<std::uint16_t>(length));
    putWord(frame,
            withId ? static_cast<std::uint16_t>(kRequestFlags | kFlagReaderId) : kRequestFlags);
    putWord(frame, command);
    if (withId) putWord(frame, static_cast<std::uint16_t>(readerId & 0xFFFF));
    frame.insert(frame.end(), payload.begin(), payload.end());
    const std::uint16_t crc = CalcCrc16(std::span(frame).subspan(1));
    putWord(frame, crc);
    return frame;
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
