#pragma once
// Hex text typed by the user (keys, PINs, tag IDs) to bytes. Never throws: a pair that is
// not hexadecimal is reported so the handler can name its field and send nothing.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelta::hex {

struct HexPairs {
    std::vector<std::uint8_t> bytes;
    bool ok = true;
    std::size_t badPair = 0; // index of the first pair that is not hexadecimal, when !ok
};

// The byte count is half the length of the text with surrounding blanks removed (rounded
// down); byte i is the pair of characters at offsets 2i and 2i+1 of the untrimmed text.
// A pair is hexadecimal when both of its characters are hex digits (either case).
HexPairs ParseHexPairs(std::string_view text);

// The text with surrounding blanks (spaces, tabs, control characters) removed.
std::string_view TrimBlanks(std::string_view text);

// Value of one hex digit, or -1.
int HexDigitValue(char c);

} // namespace kelta::hex
