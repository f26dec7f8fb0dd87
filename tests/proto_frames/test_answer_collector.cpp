#include "reader/proto/answer_collector.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using kelta::reader::AnswerCollector;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Answer frame 06, N, flags, code, then the given rest (extension bytes and data).
Bytes answer(std::uint16_t flags, std::uint16_t code, const Bytes& rest) {
    const std::size_t n = 4 + rest.size();
    Bytes f{0x06,
            static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n),
            static_cast<std::uint8_t>(flags >> 8),
            static_cast<std::uint8_t>(flags),
            static_cast<std::uint8_t>(code >> 8),
            static_cast<std::uint8_t>(code)};
    f.insert(f.end(), rest.begin(), rest.end());
    return f;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes spanBytes(std::span<const std::uint8_t> s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

struct FlagCase {
    const char* name;
    std::uint16_t flags;
    Bytes rest;
    std::uint16_t answerLength;
    Bytes header;
    Bytes data;
};

class CollectorFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(CollectorFlags, HeaderDataAndLength) {
    const auto& c = GetParam();
    AnswerCollector col(0x6031);
    EXPECT_TRUE(col.feed(concat({0x00, 0x13, 0x05}, answer(c.flags, 0x6031, c.rest))));
    EXPECT_TRUE(col.accepted());
    EXPECT_TRUE(col.synchronised());
    EXPECT_EQ(col.answerLength(), c.answerLength);
    EXPECT_EQ(spanBytes(col.header()), c.header);
    EXPECT_EQ(spanBytes(col.data()), c.data);
    Bytes stored(col.answerData().begin(), col.answerData().begin() + c.data.size());
    EXPECT_EQ(stored, c.data);
    for (std::size_t i = c.data.size(); i < col.answerData().size(); ++i)
        ASSERT_EQ(col.answerData()[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CollectorFlags,
    ::testing::Values(
        FlagCase{"Plain",
                 0x8001,
                 {0x11, 0x22, 0x33, 0xC1, 0xC2},
                 5,
                 {0x06, 0x00, 0x09, 0x80, 0x01, 0x60, 0x31},
                 {0x11, 0x22, 0x33, 0xC1, 0xC2}},
        FlagCase{"ReaderId",
                 0x8801,
                 {0x00, 0x0C, 0x11, 0x22, 0x33, 0xC1, 0xC2},
                 5,
                 {0x06, 0x00, 0x0B, 0x88, 0x01, 0x60, 0x31, 0x00, 0x0C},
                 {0x11, 0x22, 0x33, 0xC1, 0xC2}},
        // The four extension bytes stay counted in answerLength but are not data.
        FlagCase{"Extension",
                 0x0401,
                 {0xE1, 0xE2, 0xE3, 0xE4, 0x11, 0x22},
                 6,
                 {0x06, 0x00, 0x0A, 0x04, 0x01, 0x60, 0x31, 0xE1, 0xE2, 0xE3, 0xE4},
                 {0x11, 0x22}},
        // Header longer than the frame: nothing underflows, no data, length not below 0.
        FlagCase{"ShortWithId", 0x0800, {}, 0, {0x06, 0x00, 0x04, 0x08, 0x00, 0x60, 0x31}, {}},
        FlagCase{"ShortWithExtension",
                 0x0400,
                 {0x01, 0x02},
                 2,
                 {0x06, 0x00, 0x06, 0x04, 0x00, 0x60, 0x31, 0x01, 0x02},
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnswerCollector, OtherCodeFirstThenTheRightOne) {
    AnswerCollector col(0x0003);
    const Bytes wrong = answer(0x8001, 0x0004, {0xAA, 0xBB});
    const Bytes right = answer(0x8001, 0x0003, {0x01, 0x02, 0x03});

    // Dropped at its end: unsynchronised again, nothing stored.
    EXPECT_FALSE(col.feed(wrong));
    EXPECT_FALSE(col.synchronised());
    EXPECT_FALSE(col.accepted());
    EXPECT_EQ(col.answerLength(), 0);

    EXPECT_TRUE(col.feed(right));
    EXPECT_EQ(col.answerLength(), 3);
    EXPECT_EQ(spanBytes(col.data()), (Bytes{0x01, 0x02, 0x03}));

    // Both in one read gives the same answer.
    AnswerCollector once(0x0003);
    EXPECT_TRUE(once.feed(concat(wrong, right)));
    EXPECT_EQ(spanBytes(once.data()), (Bytes{0x01, 0x02, 0x03}));
}

TEST(AnswerCollector, RestOfTheReadIsIgnoredAfterAcceptance) {
    AnswerCollector col(0x0003);
    const Bytes first = answer(0x8001, 0x0003, {0x01});
    ASSERT_TRUE(col.feed(concat(first, answer(0x8001, 0x0003, {0x02, 0x02}))));
    EXPECT_EQ(spanBytes(col.data()), (Bytes{0x01}));
    EXPECT_FALSE(col.feed(std::uint8_t{0x06}));
    EXPECT_EQ(spanBytes(col.data()), (Bytes{0x01}));

    col.reset(0x0005);
    EXPECT_FALSE(col.accepted());
    EXPECT_EQ(col.answerLength(), 0);
    EXPECT_EQ(col.answerData()[0], 0);
    EXPECT_TRUE(col.feed(answer(0x8001, 0x0005, {0x07})));
}

TEST(AnswerCollector, SplitFeedStaysSynchronisedUntilComplete) {
    AnswerCollector col(0x0003);
    const Bytes frame = concat({0x77, 0x88}, answer(0x8001, 0x0003, {0x10, 0x20, 0x30, 0x40}));
    for (std::size_t cut = 0; cut < frame.size(); ++cut) {
        col.reset();
        EXPECT_FALSE(col.feed(std::span(frame).first(cut)));
        EXPECT_EQ(col.synchronised(), cut > 2) << cut;
        EXPECT_TRUE(col.feed(std::span(frame).subspan(cut))) << cut;
        EXPECT_EQ(col.answerLength(), 4);
    }
}

TEST(AnswerCollector, LengthBelowFourNeverCompletes) {
    for (std::uint8_t n = 0; n < 4; ++n) {
        AnswerCollector col(0x0003);
        // A frame declaring N < 4 with the right code, followed by more noise bytes.
        Bytes bytes{0x06, 0x00, n, 0x80, 0x01, 0x00, 0x03};
        bytes.resize(100, 0x00);
        EXPECT_FALSE(col.feed(bytes)) << int(n);
        EXPECT_TRUE(col.synchronised());
    }
}

TEST(AnswerCollector, DroppedAtBufferEnd) {
    AnswerCollector col(0x0003);
    // N = 1021 would end exactly at 1024 bytes, which the collection never reaches.
    Bytes big{0x06, 0x03, 0xFD, 0x80, 0x01, 0x00, 0x03};
    big.resize(1023, 0x06);
    EXPECT_FALSE(col.feed(big));
    EXPECT_TRUE(col.synchronised());
    EXPECT_FALSE(col.feed(std::uint8_t{0x06})); // 1024th byte: dropped
    EXPECT_FALSE(col.synchronised());
    // Hunting again; a good answer afterwards is taken.
    EXPECT_TRUE(col.feed(concat({0x01, 0x02}, answer(0x8001, 0x0003, {0x09}))));
    EXPECT_EQ(spanBytes(col.data()), (Bytes{0x09}));

    // The longest answer that fits: N = 1020, 1016 data bytes.
    AnswerCollector longest(0x0003);
    Bytes data(1016);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i | 1);
    EXPECT_TRUE(longest.feed(answer(0x8001, 0x0003, data)));
    EXPECT_EQ(longest.answerLength(), 1016);
    EXPECT_EQ(spanBytes(longest.data()), data);
}
