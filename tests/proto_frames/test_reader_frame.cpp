#include "reader/proto/reader_frame.h"
#include "tag/proto/tag_frame.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes ascii(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

} // namespace

TEST(ReaderCrc, MatchesIndependentCheckValue) {
    // Check value of this CRC parameter set, computed independently of this code.
    EXPECT_EQ(kelta::reader::CalcCrc16(ascii("123456789")), 0x2189);
    EXPECT_EQ(kelta::reader::CalcCrc16({}), 0x0000);
}

struct RequestCase {
    const char* name;
    std::uint16_t command;
    int readerId;
    Bytes payload;
    Bytes expected;
};

class ReaderRequest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(ReaderRequest, BytesOnTheWire) {
    const auto& c = GetParam();
    const auto frame = kelta::reader::BuildReaderRequest(c.command, c.readerId, c.payload);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(*frame, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ReaderRequest,
    ::testing::Values(
        RequestCase{"NoId", 0x0003, -1, {}, {0x05, 0x00, 0x06, 0x80, 0x01, 0x00, 0x03, 0x7E, 0xB1}},
        // ID 0 means "no ID field", like any value of 0 or less.
        RequestCase{
            "IdZero", 0x0003, 0, {}, {0x05, 0x00, 0x06, 0x80, 0x01, 0x00, 0x03, 0x7E, 0xB1}},
        RequestCase{"IdOne",
                    0x0003,
                    1,
                    {},
                    {0x05, 0x00, 0x08, 0x88, 0x01, 0x00, 0x03, 0x00, 0x01, 0x0F, 0xBF}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReaderRequest, LayoutWithIdAndPayload) {
    const Bytes payload{0xAA, 0xBB, 0xCC};
    // The ID is cut to its low 16 bits.
    const auto frame = kelta::reader::BuildReaderRequest(0x6031, 0x1000C, payload);
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(frame->size(), 11u + payload.size());
    const Bytes head(frame->begin(), frame->begin() + 12);
    EXPECT_EQ(head,
              (Bytes{0x05, 0x00, 0x0B, 0x88, 0x01, 0x60, 0x31, 0x00, 0x0C, 0xAA, 0xBB, 0xCC}));
    const auto crc = kelta::reader::CalcCrc16(std::span(*frame).subspan(1, frame->size() - 3));
    EXPECT_EQ((*frame)[12], crc >> 8);
    EXPECT_EQ((*frame)[13], crc & 0xFF);
}

TEST(ReaderRequest, PayloadLimit) {
    const Bytes ok(247, 0x5A);
    const Bytes tooLong(248, 0x5A);
    for (int id : {-1, 7}) {
        const auto frame = kelta::reader::BuildReaderRequest(0x0010, id, ok);
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(frame->size(), (id > 0 ? 11u : 9u) + 247u);
        const std::size_t length = ((*frame)[1] << 8) | (*frame)[2];
        EXPECT_EQ(length + 3, frame->size());
        EXPECT_FALSE(kelta::reader::BuildReaderRequest(0x0010, id, tooLong).has_value());
    }
}

TEST(TraceTexts, FormatOfSentFrames) {
    const auto frame = kelta::reader::BuildReaderRequest(0x0003, -1, {});
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(kelta::reader::TraceText(0, *frame), "[00,09] 05 00 06 80 01 00 03 7E B1 ");
    EXPECT_EQ(kelta::reader::HexBytes(Bytes{0x00, 0x0A, 0xFF}), "00 0A FF ");
    EXPECT_EQ(kelta::reader::HexBytes({}), "");
    // Counts above two digits are not cut.
    const Bytes big(120, 0);
    EXPECT_EQ(kelta::reader::TraceText(113, big).substr(0, 11), "[113,120] 0");
}

TEST(TagFrame, FortyBytePayload) {
    Bytes payload(40);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i + 1);

    const auto plain = kelta::tag::BuildTagCommandFrame(0x7011, payload, 0, 0x8000);
    ASSERT_TRUE(plain.has_value());
    ASSERT_EQ(plain->size(), 47u);
    EXPECT_EQ(Bytes(plain->begin(), plain->begin() + 7),
              (Bytes{0x05, 0x00, 0x2C, 0x80, 0x00, 0x70, 0x11}));
    EXPECT_EQ(Bytes(plain->begin() + 7, plain->end()), payload);
    EXPECT_EQ(kelta::reader::TraceText(payload.size(), *plain).substr(0, 8), "[40,47] ");

    const auto withId = kelta::tag::BuildTagCommandFrame(0x7011, payload, 1, 0x8000);
    ASSERT_TRUE(withId.has_value());
    ASSERT_EQ(withId->size(), 49u);
    EXPECT_EQ(Bytes(withId->begin(), withId->begin() + 9),
              (Bytes{0x05, 0x00, 0x2E, 0x88, 0x00, 0x70, 0x11, 0x00, 0x01}));
    EXPECT_EQ(Bytes(withId->begin() + 9, withId->end()), payload);
    EXPECT_EQ(kelta::reader::TraceText(payload.size(), *withId).substr(0, 8), "[40,49] ");
}

TEST(TagFrame, PayloadLimitAndLength) {
    const Bytes ok(1015, 0x11);
    const Bytes tooLong(1016, 0x11);
    for (int id : {-5, 300}) {
        const auto frame = kelta::tag::BuildTagCommandFrame(0x1234, ok, id, 0x8000);
        ASSERT_TRUE(frame.has_value());
        EXPECT_LE(frame->size(), 1024u);
        const std::size_t length = ((*frame)[1] << 8) | (*frame)[2];
        EXPECT_EQ(length + 3, frame->size());
        EXPECT_FALSE(kelta::tag::BuildTagCommandFrame(0x1234, tooLong, id, 0x8000).has_value());
    }
}

TEST(TagFrame, LinkAnnouncement) {
    EXPECT_EQ(kelta::tag::linkAnnouncementFrame(false),
              (Bytes{0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, 0x30, 0x30, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(kelta::tag::linkAnnouncementFrame(true),
              (Bytes{0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, 0x30, 0x31, 0, 0, 0, 0, 0, 0}));
}
