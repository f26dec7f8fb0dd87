#pragma once
// The battery-powered exciter (block FF FE 03 08): exciter ID, power-off settings, reader
// mode, send times and delay, the auto-off battery level; the battery query (0x603C) and the
// battery tables.

#include "reader/proto/commands/payload.h"

namespace kelta::reader::cmd {

inline constexpr std::uint16_t kBattery = 0x603C;

struct BtExciterSettings {
    std::uint16_t exciterId = 1;
    std::uint16_t powerOffSeconds = 30;
    std::uint8_t powerOffFlags = 0; // bit 0 reader auto off, bit 1 press-key auto off
    std::uint8_t readerMode = 1;    // 1 exciter detect, 2 normal reader, 3 exciter only
    std::uint8_t sendTimes = 1;
    std::uint8_t sendDelay = 0;   // units of 10 ms
    std::uint8_t batteryCode = 0; // auto-off battery level as a battery code
};
Bytes EncodeBtExciterRead();
Bytes EncodeBtExciterWrite(const BtExciterSettings& s);
std::optional<BtExciterSettings> DecodeBtExciter(Answer d); // at least 16 bytes

// Reader-mode code of a list item when the settings are written, and when only the exciter
// ID is written (item 2 then sends 0).
std::uint8_t ReaderModeCode(int item);
std::uint8_t ReaderModeCodeForIdWrite(int item);
// List item of a reader-mode code: 2 -> 1, 3 -> 2, anything else -> 0.
int ReaderModeItem(std::uint8_t code);

// Battery code to percent (100, 90, ..., 10, 5, 0).
int BatteryPercent(std::uint8_t code);
// Percent to battery code, with the position the level snaps to. Above 100: code 0 and the
// position unchanged.
struct BatteryLevel {
    std::uint8_t code = 0;
    int snapped = 0;
};
BatteryLevel BatteryCodeOf(int percent);

// Answer to the battery query (at least 8 bytes): the battery code in byte 1.
std::optional<int> DecodeBatteryPercent(Answer d);

} // namespace kelta::reader::cmd
