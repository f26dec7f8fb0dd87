#include "monitor/proto/frame_assembler.h"
#include "platform/timings.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using kelta::monitor::SerialFrameAssembler;
using kelta::monitor::StreamCarry;

namespace {

// Report frame 06, L, then a body of L bytes starting with flags 00 00 and type 60 40.
Bytes report(std::size_t bodyLength, std::uint8_t fill) {
    Bytes f{0x06, static_cast<std::uint8_t>(bodyLength >> 8),
            static_cast<std::uint8_t>(bodyLength)};
    Bytes body(bodyLength, fill);
    if (bodyLength >= 4) {
        body[0] = 0x00;
        body[1] = 0x00;
        body[2] = 0x60;
        body[3] = 0x40;
    }
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct Collected {
    std::vector<Bytes> frames;
    SerialFrameAssembler assembler{
        [this](std::span<const std::uint8_t> f) { frames.emplace_back(f.begin(), f.end()); }};
};

} // namespace

TEST(SerialFrameAssembler, TwoFramesInOneFeedWithDataStartBytes) {
    Collected c;
    const Bytes a{0x06, 0x00, 0x04, 0x06, 0x06, 0x06, 0x06}; // 0x06 in a body is data
    const Bytes b{0x06, 0x00, 0x04, 0xE1, 0xE2, 0xE3, 0xE4};
    EXPECT_EQ(c.assembler.feed(concat({{0x00, 0x11, 0xFF}, a, b}), 100), 2u);
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.frames[0], a);
    EXPECT_EQ(c.frames[1], b);
    EXPECT_FALSE(c.assembler.assembling());
    EXPECT_EQ(c.assembler.lastLengthField(), 4u);
}

TEST(SerialFrameAssembler, FrameStraddlingFeedsAtEveryCut) {
    const Bytes frame = report(30, 0x5A);
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        Collected c;
        EXPECT_EQ(c.assembler.feed(std::span(frame).first(cut), 1000), 0u);
        EXPECT_EQ(c.assembler.pending(), cut);
        EXPECT_EQ(c.assembler.feed(std::span(frame).subspan(cut), 1150), 1u) << cut;
        ASSERT_EQ(c.frames.size(), 1u);
        EXPECT_EQ(c.frames[0], frame);
    }
}

TEST(SerialFrameAssembler, StalePartialDroppedAcrossTickWrap) {
    const Bytes frame = report(10, 0x21);
    const std::uint32_t limit = kelta::timing::kPartialFrameStaleMs;
    const std::uint32_t start = 0xFFFFFFF0u; // the tick wraps during the gap

    Collected fresh;
    fresh.assembler.feed(std::span(frame).first(5), start);
    EXPECT_FALSE(fresh.assembler.expire(start + limit - 1));
    fresh.assembler.feed(std::span(frame).subspan(5), start + limit - 1);
    EXPECT_EQ(fresh.frames.size(), 1u);

    Collected stale;
    stale.assembler.feed(std::span(frame).first(5), start);
    // Rest arrives too late: dropped, and the remainder has no start byte.
    EXPECT_EQ(stale.assembler.feed(std::span(frame).subspan(5), start + limit), 0u);
    EXPECT_TRUE(stale.frames.empty());
    EXPECT_FALSE(stale.assembler.assembling());
    // A new frame in the same late read is still taken after the dropped partial.
    stale.assembler.feed(std::span(frame).first(5), start);
    stale.assembler.feed(frame, start + 5000);
    EXPECT_EQ(stale.frames.size(), 1u);

    // Each byte renews the partial frame's age.
    Collected trickle;
    for (std::size_t i = 0; i < frame.size(); ++i)
        trickle.assembler.feed(std::span(frame).subspan(i, 1), start + std::uint32_t(i) * 150);
    EXPECT_EQ(trickle.frames.size(), 1u);
}

TEST(SerialFrameAssembler, FalseStartsAreSkippedAndTheHuntGoesOnAtTheNextByte) {
    const Bytes a = report(30, 0x41);
    struct Case {
        const char* what;
        Bytes noise;
    };
    const Case cases[] = {
        {"length 0", {0x06, 0x00, 0x00}},
        {"length 2", {0x06, 0x00, 0x02}},
        {"length 3", {0x06, 0x00, 0x03}},
        {"beyond the buffer", {0x06, 0xFF, 0xFF}},
        {"length 1022", {0x06, 0x03, 0xFE}},
        // The real start byte hides in the false start's length field.
        {"start in the length field", {0x06, 0xFF, 0x06}},
        {"two false starts in a row", {0x06, 0x06, 0xFF, 0xFF}},
    };
    for (const Case& k : cases) {
        const Bytes stream = concat({k.noise, a, a});
        // Whole, and byte by byte: the same frames, once each.
        Collected whole;
        EXPECT_EQ(whole.assembler.feed(stream, 0), 2u) << k.what;
        Collected bytewise;
        for (const std::uint8_t b : stream) bytewise.assembler.feed(std::span(&b, 1), 0);
        for (Collected* c : {&whole, &bytewise}) {
            ASSERT_EQ(c->frames.size(), 2u) << k.what;
            EXPECT_EQ(c->frames[0], a) << k.what;
            EXPECT_EQ(c->frames[1], a) << k.what;
            EXPECT_GE(c->assembler.falseStarts(), 1u) << k.what;
        }
    }
}

TEST(SerialFrameAssembler, LengthLimits) {
    Collected c;
    // Length 0 is no frame: skipped at once, nothing delivered.
    Bytes zero{0x06, 0x00, 0x00};
    zero.resize(1024, 0x11);
    c.assembler.feed(zero, 0);
    EXPECT_TRUE(c.frames.empty());
    EXPECT_FALSE(c.assembler.assembling());

    // The longest deliverable frame is 1024 bytes (L = 1021); L = 1022 is dropped.
    const Bytes longest = report(1021, 0x33);
    c.assembler.feed(longest, 0);
    ASSERT_EQ(c.frames.size(), 1u);
    EXPECT_EQ(c.frames[0], longest);
    c.assembler.feed(report(1022, 0x33), 0);
    EXPECT_EQ(c.frames.size(), 1u);

    c.assembler.feed(std::span(longest).first(100), 0);
    c.assembler.reset();
    EXPECT_EQ(c.assembler.pending(), 0u);
    c.assembler.feed(std::span(longest).subspan(100), 0);
    EXPECT_EQ(c.frames.size(), 1u);
}

TEST(StreamCarry, SplitAcrossReadsDeliveredOnceAtEveryCut) {
    const Bytes a = report(20, 0xA1);
    const Bytes b = report(9, 0xB2);
    const Bytes stream = concat({a, b});
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        StreamCarry carry;
        const Bytes first = carry.take(std::span(stream).first(cut));
        const Bytes second = carry.take(std::span(stream).subspan(cut));
        EXPECT_EQ(concat({first, second}), stream) << cut;
        EXPECT_EQ(carry.carried(), 0u);
        // Only whole frames are handed on: the first block is a, a+b or empty.
        EXPECT_TRUE(first.empty() || first == a || first == stream) << cut;
    }
}

TEST(StreamCarry, GarbageAndFalseStartsBetweenFrames) {
    const Bytes a = report(12, 0x01);
    const Bytes b = report(8, 0x02);
    StreamCarry carry;
    // Noise before, between (including a start byte with length 0 and one with a length
    // beyond any frame) and after the frames.
    const Bytes read =
        concat({{0x11, 0x22}, a, {0x06, 0x00, 0x00, 0x33}, {0x06, 0xFF, 0xFF}, b, {0x44, 0x55}});
    EXPECT_EQ(carry.take(read), concat({a, b}));
    EXPECT_EQ(carry.carried(), 0u);

    // A read that starts in the middle of a frame finds the next frame.
    EXPECT_EQ(carry.take(concat({std::vector(a.begin() + 5, a.end()), b})), b);
}

TEST(StreamCarry, CarryCapAndClear) {
    StreamCarry carry;
    const Bytes longest = report(StreamCarry::kMaxFrame - 3, 0x07);
    EXPECT_TRUE(carry.take(std::span(longest).first(longest.size() - 1)).empty());
    EXPECT_EQ(carry.carried(), longest.size() - 1);
    EXPECT_EQ(carry.take(std::span(longest).last(1)), longest);

    // One past the largest frame is never waited for.
    const Bytes tooLong = report(StreamCarry::kMaxFrame - 2, 0x07);
    EXPECT_TRUE(carry.take(tooLong).empty());
    EXPECT_EQ(carry.carried(), 0u);

    // A closed connection forgets its partial frame.
    const Bytes a = report(10, 0x0A);
    carry.take(std::span(a).first(6));
    carry.clear();
    EXPECT_TRUE(carry.take(std::span(a).subspan(6)).empty());

    // Many small reads never grow the carry beyond one frame.
    const Bytes stream = concat({a, a, a, a});
    Bytes out;
    for (const std::uint8_t byte : stream) {
        const Bytes got = carry.take(std::span(&byte, 1));
        out.insert(out.end(), got.begin(), got.end());
        EXPECT_LT(carry.carried(), a.size());
    }
    EXPECT_EQ(out, stream);
}
