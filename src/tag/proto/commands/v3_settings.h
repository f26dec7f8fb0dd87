#pragma once
// Commands for current-generation (V3) tags, relayed through the reader: writes (code 0x6032,
// 40-byte payload) and reads (code 0x6033, 24-byte payload), in three classes. The tables of
// settings, administration items, time codes and value texts are written here once.
//
// Payload: 0 addressing mode, 1-8 tag ID, 9 0xFF, 10 class, 11 group / 0x01 / key slot,
// 12 item, 13 0x01, 14-21 PIN, 22-37 value area (writes), 38-39 zero (writes).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelta::tag::v3 {

inline constexpr std::uint16_t kWriteCode = 0x6032;
inline constexpr std::uint16_t kReadCode = 0x6033;
inline constexpr std::size_t kWriteSize = 40;
inline constexpr std::size_t kReadSize = 24;
inline constexpr int kWriteAnswerMode = 3; // writes wait for the reader's answer

enum class CommandClass : std::uint8_t { Settings = 0xFF, Administration = 0xFE, Key = 0xFC };

// The text field whose hex digits could not be converted.
enum class Field { TagId, Pin, Cid, Key };

// A payload, or the field that stopped it (then nothing is to be sent).
struct Encoded {
    std::vector<std::uint8_t> bytes;
    std::optional<Field> error;
    bool ok() const { return !error; }
};

// The tag addressed: addressing mode (0 UID, 1 CID), the tag ID text and the PIN text as the
// window holds them (blanks before and after the digits are trimmed before the pairs are cut).
struct Target {
    std::uint8_t addressingMode = 0;
    std::string_view tagId;
    std::string_view pin;
};

// Settings class: one value per command.
enum class Setting {
    ActiveTime,
    ActiveCount,
    ReceiveCount,
    GSensor00,
    GSensor01,
    GSensor02,
    GSensor03,
    GSensor04,
    GSensor05,
    Beep,
    LedR,
    LedG,
    Version, // read only: the firmware version text
};

struct SettingEntry {
    Setting setting;
    std::uint8_t group;
    std::uint8_t item;
    bool readable;
};

const SettingEntry& entryOf(Setting s);
// The value's index within its group: the repeated hex digit of the item (0x33 -> 3).
inline std::size_t itemIndex(std::uint8_t item) {
    return item & 0x0F;
}
// Offset of the written value in the payload, and of the read value in the answer data.
inline std::size_t writeOffset(Setting s) {
    return 22 + itemIndex(entryOf(s).item);
}
inline std::size_t answerOffset(Setting s) {
    return 24 + itemIndex(entryOf(s).item);
}

// Administration class (group byte 0x01), all writes.
enum class AdminItem : std::uint8_t { Cid = 0x08, IdMode = 0x88, AesMode = 0x99, SelectKey = 0xAA };

Encoded EncodeSettingWrite(const Target& t, Setting s, std::uint8_t value);
// Reads: bytes 0-21 with group and item of the setting; the version read included.
Encoded EncodeSettingRead(const Target& t, Setting s);

// CID: four texts of four hex digits, two bytes each at offsets 22-29.
Encoded EncodeCid(const Target& t, const std::array<std::string_view, 4>& cidTexts);
// Written mode byte 0x30 + index: 0 "CID MODE", 1 "UID MODE".
Encoded EncodeIdMode(const Target& t, int modeIndex);
// 0x30 off, 0x32 on.
Encoded EncodeAesMode(const Target& t, bool on);
// 0..7 KEY-1..KEY-8, 8 KEY-G.
Encoded EncodeSelectKey(const Target& t, int keyIndex);
// Key class: slot 0..7 at offset 11, item 0x0F, the 16 key bytes at offsets 22-37.
Encoded EncodeKey(const Target& t, int slot, std::string_view keyText);

// The value of a read setting: answer byte 17 is the item, 20 and 21 are 0xFF, 22 is the
// group; nullopt when the answer does not belong to the setting.
std::optional<std::uint8_t> DecodeSettingAnswer(std::span<const std::uint8_t> answer, Setting s);
// The version text: the 16 bytes from answer offset 24 up to the first zero byte.
std::optional<std::string> DecodeVersionAnswer(std::span<const std::uint8_t> answer);

// Texts beside the scroll bars.
// Time code 1..20 ("0.01 Sec" ... "600 Sec"); empty for another code.
std::string_view TimeCodeText(int code);
// Position times 0.1 in its shortest form and " Sec ": 1 -> "0.1 Sec ", 10 -> "1 Sec ".
std::string TenthsText(int position);

} // namespace kelta::tag::v3
