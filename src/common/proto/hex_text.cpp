#include "common/proto/hex_text.h"

namespace kelta::hex {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string_view TrimBlanks(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

HexPairs ParseHexPairs(std::string_view text) {
    HexPairs result;
    const std::size_t count = TrimBlanks(text).size() / 2;
    result.bytes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        // The untrimmed text is at least as long as the trimmed one, so every pair exists.
        const int hi = HexDigitValue(text[2 * i]);
        const int lo = HexDigitValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            result.ok = false;
            result.badPair = i;
            result.bytes.clear();
            return result;
        }
        result.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return result;
}

} // namespace kelta::hex
