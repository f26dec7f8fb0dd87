#include "monitor/proto/monitor_frame.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
namespace km = kelta::monitor;

namespace {

Bytes withZeros(Bytes head, std::size_t zeros) {
    head.insert(head.end(), zeros, 0x00);
    return head;
}

Bytes setupData() {
    Bytes d = withZeros({0xFF, 0xFF, 0x01, 0x00, 0x01}, 8);
    d.push_back(0x33);
    return withZeros(d, 15);
}

} // namespace

TEST(MonitorFrame, LinkModeAnnouncement) {
    EXPECT_EQ(km::linkModeAnnouncement(true),
              (Bytes{0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, 0x30, 0x31, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(km::linkModeAnnouncement(false),
              (Bytes{0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, 0x30, 0x30, 0, 0, 0, 0, 0, 0}));
}

TEST(MonitorFrame, TagLogCommandCarriesTheId) {
    EXPECT_EQ(km::tagLogCommand(0x1234), (Bytes{0x05, 0x00, 0x0E, 0x88, 0x00, 0x80, 0x61, 0x12,
                                                0x34, 0x01, 0x01, 0, 0, 0, 0, 0, 0}));
    // ID 0 is still sent: here only a negative value means "no ID".
    EXPECT_EQ(km::tagLogCommand(0), (Bytes{0x05, 0x00, 0x0E, 0x88, 0x00, 0x80, 0x61, 0x00, 0x00,
                                           0x01, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(km::tagLogCommand(-1),
              (Bytes{0x05, 0x00, 0x0C, 0x80, 0x00, 0x80, 0x61, 0x01, 0x01, 0, 0, 0, 0, 0, 0}));
}

TEST(MonitorFrame, ConnectionSetupFrames) {
    const auto frames = km::connectionSetupFrames();
    Bytes first{0x05, 0x00, 0x21, 0x00, 0x00, 0x60, 0x30};
    Bytes second{0x05, 0x00, 0x23, 0x08, 0x00, 0x60, 0x30, 0x00, 0x00};
    const Bytes data = setupData();
    ASSERT_EQ(data.size(), 29u);
    first.insert(first.end(), data.begin(), data.end());
    second.insert(second.end(), data.begin(), data.end());
    EXPECT_EQ(frames[0].size(), 36u);
    EXPECT_EQ(frames[1].size(), 38u);
    EXPECT_EQ(frames[0], first);
    EXPECT_EQ(frames[1], second);
}

TEST(MonitorFrame, RssiFilterCommand) {
    Bytes expected =
        withZeros({0x05, 0x00, 0x24, 0x00, 0x00, 0x60, 0x30, 0xFF, 0xFF, 0x01, 0x11, 0x01}, 9);
    expected.push_back(0xC8);
    expected = withZeros(expected, 17);
    const auto frame = km::rssiFilterCommand(200);
    EXPECT_EQ(frame.size(), 39u);
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(frame[7 + 14], 200);
}

TEST(MonitorFrame, GeneralBuilderLengthAndLimit) {
    const Bytes data(1015, 0x42);
    const auto withId = km::BuildMonitorCommand(0x8000, 0x1111, 0x10005, data);
    ASSERT_TRUE(withId.has_value());
    EXPECT_EQ(withId->size(), 1024u);
    EXPECT_EQ(Bytes(withId->begin(), withId->begin() + 9),
              (Bytes{0x05, 0x03, 0xFD, 0x88, 0x00, 0x11, 0x11, 0x00, 0x05}));
    EXPECT_FALSE(km::BuildMonitorCommand(0, 0x1111, -1, Bytes(1016, 0)).has_value());
    const auto empty = km::BuildMonitorCommand(0x0001, 0x2222, -3, {});
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(*empty, (Bytes{0x05, 0x00, 0x04, 0x00, 0x01, 0x22, 0x22}));
}
