#include "reader/proto/commands/bt_exciter.h"

namespace kelta::reader::cmd {

namespace {

// Battery code at least `code` reads as `percent`.
struct CodePercent {
    std::uint8_t code;
    int percent;
};
constexpr std::array<CodePercent, 11> kCodeToPercent{{{37, 100},
                                                      {36, 90},
                                                      {35, 80},
                                                      {34, 70},
                                                      {33, 60},
                                                      {32, 50},
                                                      {31, 40},
                                                      {30, 30},
                                                      {29, 20},
                                                      {26, 10},
                                                      {10, 5}}};

// A position up to `upTo` is written as `code` and snaps to `snapped`.
struct PercentCode {
    int upTo;
    std::uint8_t code;
    int snapped;
};
constexpr std::array<PercentCode, 18> kPercentToCode{{{2, 0, 0},
                                                      {5, 10, 5},
                                                      {6, 14, 5},
                                                      {7, 17, 5},
                                                      {8, 20, 5},
                                                      {9, 23, 5},
                                                      {10, 26, 10},
                                                      {13, 27, 10},
                                                      {16, 28, 10},
                                                      {20, 29, 20},
                                                      {30, 30, 30},
                                                      {40, 31, 40},
                                                      {50, 32, 50},
                                                      {60, 33, 60},
                                                      {70, 34, 70},
                                                      {80, 35, 80},
                                                      {90, 36, 90},
                                                      {100, 37, 100}}};

} // namespace

Bytes EncodeBtExciterRead() {
    return EncodeBlockRead(HeaderOf(Block::BtExciter));
}

Bytes EncodeBtExciterWrite(const BtExciterSettings& s) {
    Bytes area(9, 0);
    PutBe16(area, 0, s.exciterId);
    PutBe16(area, 2, s.powerOffSeconds);
    area[4] = s.powerOffFlags;
    area[5] = s.readerMode;
    area[6] = s.sendTimes;
    area[7] = s.sendDelay;
    area[8] = s.batteryCode;
    return EncodeBlockWrite(HeaderOf(Block::BtExciter), {}, area);
}

std::optional<BtExciterSettings> DecodeBtExciter(Answer d) {
    if (d.size() < kBlockAnswerMin) return std::nullopt;
    return BtExciterSettings{Be16(d, 0), Be16(d, 2), d[4], d[5], d[6], d[7], d[8]};
}

std::uint8_t ReaderModeCode(int item) {
    return item == 1 ? 2 : item == 2 ? 3 : 1;
}

std::uint8_t ReaderModeCodeForIdWrite(int item) {
    return item == 0 ? 1 : item == 1 ? 2 : 0;
}

int ReaderModeItem(std::uint8_t code) {
    return code == 2 ? 1 : code == 3 ? 2 : 0;
}

int BatteryPercent(std::uint8_t code) {
    for (const CodePercent& e : kCodeToPercent)
        if (code >= e.code) return e.percent;
    return 0;
}

BatteryLevel BatteryCodeOf(int percent) {
    for (const PercentCode& e : kPercentToCode)
        if (percent <= e.upTo) return {e.code, e.snapped};
    return {0, percent};
}

std::optional<int> DecodeBatteryPercent(Answer d) {
    if (d.size() < 8) return std::nullopt;
    return BatteryPercent(d[1]);
}

} // namespace kelta::reader::cmd
