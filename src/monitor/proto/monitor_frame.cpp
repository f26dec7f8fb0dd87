#include "monitor/proto/monitor_frame.h"

namespace kelta::monitor {

namespace {

// Every builder below stays far under the data limit.
std::vector<std::uint8_t> build(std::uint16_t flags, std::uint16_t command, int readerId,
                                std::span<const std::uint8_t> data) {
    return *BuildMonitorCommand(flags, command, readerId, data);
}

} // namespace

std::optional<std::vector<std::uint8_t>> BuildMonitorCommand(std::uint16_t flags,
                                                             std::uint16_t command, int readerId,
                                                             std::span<const std::uint8_t> data) {
    std::optional<std::uint16_t> id;
    if (readerId >= 0) id = static_cast<std::uint16_t>(readerId & 0xFFFF);
    return frame::BuildCommandFrame(
        {.flags = flags, .command = command, .readerId = id, .maxPayload = kMaxCommandData}, data);
}

std::vector<std::uint8_t> linkModeAnnouncement(bool outgoingTcp) {
    const std::array<std::uint8_t, 8> data{
        0x30, static_cast<std::uint8_t>(outgoingTcp ? 0x31 : 0x30), 0, 0, 0, 0, 0, 0};
    return build(0x0000, kLinkModeCode, -1, data);
}

std::vector<std::uint8_t> tagLogCommand(int readerId) {
    const std::array<std::uint8_t, 8> data{0x01, 0x01, 0, 0, 0, 0, 0, 0};
    return build(kTagLogFlags, kTagLogCode, readerId, data);
}

std::array<std::vector<std::uint8_t>, 2> connectionSetupFrames() {
    std::array<std::uint8_t, 29> data{};
    data[0] = 0xFF;
    data[1] = 0xFF;
    data[2] = 0x01;
    data[3] = 0x00;
    data[4] = 0x01;
    data[13] = 0x33; // after eight zero bytes; fifteen zero bytes follow
    return {build(0x0000, kSettingsWriteCode, -1, data),
            build(0x0000, kSettingsWriteCode, 0, data)};
}

std::vector<std::uint8_t> rssiFilterCommand(std::uint8_t threshold) {
    std::array<std::uint8_t, 32> data{};
    data[0] = 0xFF;
    data[1] = 0xFF;
    data[2] = 0x01;
    data[3] = 0x11;
    data[4] = 0x01;
    data[14] = threshold; // after eight zero bytes and one more zero
    return build(0x0000, kSettingsWriteCode, -1, data);
}

} // namespace kelta::monitor
