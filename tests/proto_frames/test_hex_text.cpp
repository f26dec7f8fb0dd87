#include "common/proto/hex_text.h"

#include <gtest/gtest.h>

using kelta::hex::ParseHexPairs;

TEST(HexText, PairsOfTheUntrimmedTextCountedFromTheTrimmedLength) {
    struct Case {
        const char* text;
        std::vector<std::uint8_t> bytes;
        bool ok;
        std::size_t badPair;
    };
    const Case cases[] = {
        {"7D41A09C3E5B2F86", {0x7D, 0x41, 0xA0, 0x9C, 0x3E, 0x5B, 0x2F, 0x86}, true, 0},
        {"abC", {0xAB}, true, 0}, // odd length: the last digit has no pair
        {"", {}, true, 0},        // nothing to send is not an error
        {"12 ", {0x12}, true, 0}, // trailing blank only shortens the count
        {" 12", {}, false, 0},    // pairs come from the untrimmed text: " 1"
        {"12G4", {}, false, 1},   // the pair that fails is named
        {"0x12", {}, false, 0},   // no prefix: "0x" is not a hex pair
    };
    for (const Case& c : cases) {
        const auto r = ParseHexPairs(c.text);
        EXPECT_EQ(r.ok, c.ok) << c.text;
        EXPECT_EQ(r.bytes, c.bytes) << c.text;
        if (!c.ok) {
            EXPECT_EQ(r.badPair, c.badPair) << c.text;
        }
    }
}
