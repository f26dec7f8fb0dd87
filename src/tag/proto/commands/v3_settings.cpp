#include "tag/proto/commands/v3_settings.h"

#include "common/proto/hex_text.h"

#include <algorithm>

namespace kelta::tag::v3 {

namespace {

constexpr std::size_t kIdAt = 1, kIdBytes = 8;
constexpr std::size_t kPinAt = 14, kPinBytes = 8;
constexpr std::size_t kValueAt = 22;
constexpr std::size_t kCidEditBytes = 2;
constexpr std::size_t kKeyBytes = 16;
constexpr std::uint8_t kAdminGroup = 0x01;
constexpr std::uint8_t kKeyItem = 0x0F;

constexpr SettingEntry kSettings[] = {
    {Setting::ActiveTime, 0x01, 0x00, true},   {Setting::ActiveCount, 0x01, 0x11, true},
    {Setting::ReceiveCount, 0x01, 0x33, true}, {Setting::GSensor00, 0x02, 0x00, true},
    {Setting::GSensor01, 0x02, 0x11, true},    {Setting::GSensor02, 0x02, 0x22, true},
    {Setting::GSensor03, 0x02, 0x33, true},    {Setting::GSensor04, 0x02, 0x44, true},
    {Setting::GSensor05, 0x02, 0x55, true},    {Setting::Beep, 0x0F, 0x00, false},
    {Setting::LedR, 0x0F, 0x11, false},        {Setting::LedG, 0x0F, 0x22, false},
    {Setting::Version, 0x03, 0x0F, true},
};

constexpr std::string_view kTimeCodes[] = {
    "0.01 Sec", "0.02 Sec", "0.04 Sec", "0.06 Sec", "0.08 Sec", "0.15 Sec", "0.3 Sec",
    "0.6 Sec",  "1.2 Sec",  "2.5 Sec",  "3 Sec",    "4 Sec",    "5 Sec",    "10 Sec",
    "20 Sec",   "40 Sec",   "60 Sec",   "120 Sec",  "300 Sec",  "600 Sec",
};

// Converts the hex pairs of `text` into at most `room` bytes at `at`; false when a pair is
// not hexadecimal.
bool putHex(std::vector<std::uint8_t>& out, std::size_t at, std::size_t room,
            std::string_view text) {
    const hex::HexPairs pairs = hex::ParseHexPairs(text);
    if (!pairs.ok) return false;
    const std::size_t n = std::min(room, pairs.bytes.size());
    std::copy_n(pairs.bytes.begin(), n, out.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
}

// The settings class and the version read pad the tag ID with zeros to 16 digits first.
std::string paddedId(std::string_view id) {
    std::string s(id);
    s += "0000000000000000";
    s.resize(16);
    return s;
}

// Bytes 0-21: addressing mode, tag ID, 0xFF, class, group, item, 0x01, PIN.
Encoded header(const Target& t, std::size_t size, CommandClass cls, std::uint8_t group,
               std::uint8_t item) {
    Encoded e;
    e.bytes.assign(size, 0);
    e.bytes[0] = t.addressingMode;
    // The ID and the PIN are trimmed of blanks before they are cut into pairs: typed with a
    // blank before or after its digits, an ID is the same ID (the settings class pads first).
    const std::string padded = paddedId(t.tagId);
    const std::string_view id =
        hex::TrimBlanks(cls == CommandClass::Settings ? std::string_view(padded) : t.tagId);
    if (!putHex(e.bytes, kIdAt, kIdBytes, id)) {
        e.error = Field::TagId;
        return e;
    }
    e.bytes[9] = 0xFF;
    e.bytes[10] = static_cast<std::uint8_t>(cls);
    e.bytes[11] = group;
    e.bytes[12] = item;
    e.bytes[13] = 0x01;
    if (!putHex(e.bytes, kPinAt, kPinBytes, hex::TrimBlanks(t.pin))) e.error = Field::Pin;
    return e;
}

Encoded admin(const Target& t, AdminItem item, std::size_t at, std::uint8_t value) {
    Encoded e = header(t, kWriteSize, CommandClass::Administration, kAdminGroup,
                       static_cast<std::uint8_t>(item));
    if (e.ok()) e.bytes[at] = value;
    return e;
}

bool answerBelongs(std::span<const std::uint8_t> a, const SettingEntry& e) {
    return a.size() > 24 && a[17] == e.item && a[20] == 0xFF && a[21] == 0xFF && a[22] == e.group;
}

} // namespace

const SettingEntry& entryOf(Setting s) {
    for (const SettingEntry& e : kSettings)
        if (e.setting == s) return e;
    return kSettings[0];
}

Encoded EncodeSettingWrite(const Target& t, Setting s, std::uint8_t value) {
    const SettingEntry& entry = entryOf(s);
    Encoded e = header(t, kWriteSize, CommandClass::Settings, entry.group, entry.item);
    if (e.ok()) e.bytes[writeOffset(s)] = value;
    return e;
}

Encoded EncodeSettingRead(const Target& t, Setting s) {
    const SettingEntry& entry = entryOf(s);
    return header(t, kReadSize, CommandClass::Settings, entry.group, entry.item);
}

Encoded EncodeCid(const Target& t, const std::array<std::string_view, 4>& cidTexts) {
    Encoded e = header(t, kWriteSize, CommandClass::Administration, kAdminGroup,
                       static_cast<std::uint8_t>(AdminItem::Cid));
    if (!e.ok()) return e;
    for (std::size_t i = 0; i < cidTexts.size(); ++i) {
        if (!putHex(e.bytes, kValueAt + i * kCidEditBytes, kCidEditBytes, cidTexts[i])) {
            e.error = Field::Cid;
            return e;
        }
    }
    return e;
}

Encoded EncodeIdMode(const Target& t, int modeIndex) {
    return admin(t, AdminItem::IdMode, 30, static_cast<std::uint8_t>(0x30 + modeIndex));
}

Encoded EncodeAesMode(const Target& t, bool on) {
    return admin(t, AdminItem::AesMode, 31, on ? 0x32 : 0x30);
}

Encoded EncodeSelectKey(const Target& t, int keyIndex) {
    return admin(t, AdminItem::SelectKey, 32, static_cast<std::uint8_t>(keyIndex));
}

Encoded EncodeKey(const Target& t, int slot, std::string_view keyText) {
    Encoded e = header(t, kWriteSize, CommandClass::Key, static_cast<std::uint8_t>(slot), kKeyItem);
    if (e.ok() && !putHex(e.bytes, kValueAt, kKeyBytes, keyText)) e.error = Field::Key;
    return e;
}

std::optional<std::uint8_t> DecodeSettingAnswer(std::span<const std::uint8_t> answer, Setting s) {
    const SettingEntry& e = entryOf(s);
    if (s == Setting::Version || !answerBelongs(answer, e)) return std::nullopt;
    const std::size_t at = answerOffset(s);
    if (at >= answer.size()) return std::nullopt;
    return answer[at];
}

std::optional<std::string> DecodeVersionAnswer(std::span<const std::uint8_t> answer) {
    if (!answerBelongs(answer, entryOf(Setting::Version))) return std::nullopt;
    std::string text;
    for (std::size_t i = 24; i < 40 && i < answer.size() && answer[i] != 0; ++i)
        text.push_back(static_cast<char>(answer[i]));
    return text;
}

std::string_view TimeCodeText(int code) {
    if (code < 1 || code > static_cast<int>(std::size(kTimeCodes))) return {};
    return kTimeCodes[code - 1];
}

std::string TenthsText(int position) {
    std::string s = std::to_string(position / 10);
    if (position % 10 != 0) s += "." + std::to_string(position % 10);
    return s + " Sec ";
}

} // namespace kelta::tag::v3
