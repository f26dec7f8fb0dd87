#include "reader/proto/commands/identity.h"

#include "common/proto/hex_text.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace kelta::reader::cmd {

namespace {

constexpr unsigned kSecure = kPageAes | kPageAdmin | kPageGuest;
constexpr unsigned kLr900A = kSecure | kPageZigBee | kPageDiDo | kPageParameter;

constexpr std::array<ReaderModel, 14> kModels{{
    {0x8462, "PD10-A", kPageZigBee, kPageZigBee, false, false},
    {0x8471, "PD10-B", kSecure, kPageGuest, false, false},
    {0x8472, "PD10-B", kSecure, kPageGuest, false, false},
    {0x8441, "VNKDBT-E1", kSecure | kPageBtExciter, kPageBtExciter, false, false},
    {0x8451, "KR310-E1", kSecure | kPageExciter, kPageExciter, false, false},
    {0x8401, "LR900-B", kSecure | kPageZigBee | kPageParameter, kPageGuest, true, true},
    {0x8402, "LR900-A", kLr900A, kPageGuest, true, true},
    {0x8403, "LR900-AB", kLr900A, kPageGuest, true, true},
    {0x8407, "LR900-ABW", kLr900A, kPageGuest, true, true},
    {0x840B, "LR900-ABR", kLr900A, kPageGuest, true, true},
    {0x840F, "LR900-ABG", kLr900A, kPageGuest, true, true},
    {0x8411, "VNKD610-1A", kSecure, kPageGuest, false, false},
    {0x8421, "VNKD610-2U", kSecure, kPageGuest, false, false},
    {0x8431, "VNKD610-CF", kSecure, kPageGuest, false, false},
}};

} // namespace

std::span<const ReaderModel> ModelTable() {
    return kModels;
}

const ReaderModel* FindModel(std::uint16_t code) {
    const auto it = std::find_if(kModels.begin(), kModels.end(),
                                 [code](const ReaderModel& m) { return m.code == code; });
    return it == kModels.end() ? nullptr : &*it;
}

std::optional<ModelAnswer> DecodeModelAnswer(Answer d) {
    if (d.size() < 8) return std::nullopt;
    return ModelAnswer{Be16(d, 0), Be32(d, 2), Be16(d, 6)};
}

Bytes EncodeClock(const ClockTime& t) {
    Bytes out(8, 0);
    PutBe16(out, 0, static_cast<std::uint16_t>(t.year));
    const int rest[] = {t.month, t.day, t.hour, t.minute, t.second};
    for (std::size_t i = 0; i < 5; ++i) out[2 + i] = static_cast<std::uint8_t>(rest[i]);
    return out;
}

std::optional<VersionAnswer> DecodeVersion(Answer d) {
    if (d.size() < 16) return std::nullopt;
    VersionAnswer v;
    v.version = Be16(d, 12);
    // Byte 12 ends the name at the latest.
    for (std::size_t i = 0; i < 12 && d[i] != 0; ++i) v.name.push_back(static_cast<char>(d[i]));
    return v;
}

std::optional<ReaderIdentity> DecodeReaderIdentity(Answer d) {
    if (d.size() < 8) return std::nullopt;
    return ReaderIdentity{Be32(d, 0), Be16(d, 4)};
}

Bytes EncodeReaderIdentity(const ReaderIdentity& id) {
    Bytes out(8, 0);
    PutBe32(out, 0, id.serial);
    PutBe16(out, 4, id.readerId);
    return out;
}

Bytes EncodeReset(std::uint32_t serial, ResetKind kind) {
    Bytes out(8, 0);
    PutBe32(out, 0, serial);
    out[7] = static_cast<std::uint8_t>(kind);
    return out;
}

std::uint32_t HexNumberOr(std::string_view text, std::uint32_t fallback) {
    text = hex::TrimBlanks(text);
    if (text.empty() || text.size() > 8) return fallback;
    std::uint32_t v = 0;
    for (const char c : text) {
        const int digit = hex::HexDigitValue(c);
        if (digit < 0) return fallback;
        v = v << 4 | static_cast<std::uint32_t>(digit);
    }
    return v;
}

long long DecimalOr(std::string_view text, long long fallback) {
    text = hex::TrimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return fallback;
    return v;
}

} // namespace kelta::reader::cmd
