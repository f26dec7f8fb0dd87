// Fuzz entry for the tag command catalogues and the hex text they take. The input is cut at
// its first zero bytes into a tag ID text, a PIN text and a key text; the whole input is also
// taken as a tag answer, in an allocation of exactly its size. Payloads must keep their size
// and layout whatever the texts, carry the texts' bytes when accepted, and name the field
// that stopped them otherwise; the answer decoders must stay inside the answer.
#include "common/proto/hex_text.h"
#include "fuzz_support.h"
#include "tag/proto/commands/v1_settings.h"
#include "tag/proto/commands/v3_settings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kelta::fuzz::Require;
namespace v3 = kelta::tag::v3;
namespace v1 = kelta::tag::v1;

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes of a text's hex pairs (count from the text without surrounding blanks), or
// nullopt when a pair is not hexadecimal.
std::optional<std::vector<std::uint8_t>> Pairs(std::string_view text) {
    std::size_t a = 0, b = text.size();
    while (a < b && static_cast<unsigned char>(text[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(text[b - 1]) <= ' ') --b;
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < (b - a) / 2; ++i) {
        const int hi = Digit(text[2 * i]), lo = Digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

// The text without the blanks around it: tag IDs and PINs are trimmed before their pairs are cut.
std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

void CheckHexText(std::string_view text) {
    const kelta::hex::HexPairs p = kelta::hex::ParseHexPairs(text);
    const auto expected = Pairs(text);
    Require(p.ok == expected.has_value());
    if (p.ok) {
        Require(p.bytes == *expected);
    } else {
        Require(Digit(text[2 * p.badPair]) < 0 || Digit(text[2 * p.badPair + 1]) < 0);
        Require(Pairs(text.substr(0, 2 * p.badPair)).has_value());
    }
}

// Bytes `at`.. of a payload hold the text's pairs (at most `room`) and zeros behind them.
void RequireHexAt(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t room,
                  std::string_view text) {
    auto pairs = Pairs(text);
    Require(pairs.has_value());
    pairs->resize(room, 0);
    Require(
        std::equal(pairs->begin(), pairs->end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)));
}

std::string Padded(std::string_view id) {
    std::string s(id);
    s += "0000000000000000";
    s.resize(16);
    return s;
}

void CheckHeader(const v3::Encoded& e, const v3::Target& t, std::size_t size, bool padded) {
    Require(e.bytes.size() == size);
    const std::string id(Trimmed(padded ? Padded(t.tagId) : std::string(t.tagId)));
    if (!Pairs(id)) {
        Require(e.error == v3::Field::TagId);
        return;
    }
    Require(e.bytes[0] == t.addressingMode && e.bytes[9] == 0xFF && e.bytes[13] == 0x01);
    RequireHexAt(e.bytes, 1, 8, id);
    const std::string_view pin = Trimmed(t.pin);
    if (!Pairs(pin)) {
        Require(e.error == v3::Field::Pin);
        return;
    }
    RequireHexAt(e.bytes, 14, 8, pin);
}

constexpr v3::Setting kAllSettings[] = {
    v3::Setting::ActiveTime, v3::Setting::ActiveCount, v3::Setting::ReceiveCount,
    v3::Setting::GSensor00,  v3::Setting::GSensor01,   v3::Setting::GSensor02,
    v3::Setting::GSensor03,  v3::Setting::GSensor04,   v3::Setting::GSensor05,
    v3::Setting::Beep,       v3::Setting::LedR,        v3::Setting::LedG,
    v3::Setting::Version,
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kelta::fuzz::ExactCopy copy(std::span<const std::uint8_t>(data, size));
    const auto answer = copy.span();
    for (const v3::Setting s : kAllSettings) {
        if (const auto v = v3::DecodeSettingAnswer(answer, s)) {
            Require(s != v3::Setting::Version && v3::answerOffset(s) < answer.size());
            Require(*v == answer[v3::answerOffset(s)]);
            Require(answer[17] == v3::entryOf(s).item && answer[22] == v3::entryOf(s).group);
        }
    }
    if (const auto text = v3::DecodeVersionAnswer(answer)) {
        Require(text->size() <= 16 && text->find('\0') == std::string::npos);
        Require(
            std::equal(text->begin(), text->end(), answer.begin() + 24,
                       [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));
    }

    // Texts: tag ID, PIN, key, each up to the next zero byte.
    const std::string_view all(reinterpret_cast<const char*>(answer.data()), answer.size());
    std::string_view fields[3];
    std::string_view rest = all;
    for (auto& f : fields) {
        const std::size_t end = std::min(rest.find('\0'), rest.size());
        f = rest.substr(0, end);
        rest = rest.substr(std::min(end + 1, rest.size()));
        CheckHexText(f);
    }
    CheckHexText(all);
    const std::uint8_t control = size ? data[0] : 0;
    const v3::Target t{static_cast<std::uint8_t>(control & 1), fields[0], fields[1]};
    const v3::Setting s = kAllSettings[control % std::size(kAllSettings)];

    const v3::Encoded write = v3::EncodeSettingWrite(t, s, control);
    CheckHeader(write, t, v3::kWriteSize, true);
    if (write.ok()) {
        Require(write.bytes[v3::writeOffset(s)] == control);
        Require(write.bytes[38] == 0 && write.bytes[39] == 0);
    }
    CheckHeader(v3::EncodeSettingRead(t, s), t, v3::kReadSize, true);

    const v3::Encoded key = v3::EncodeKey(t, control % 8, fields[2]);
    CheckHeader(key, t, v3::kWriteSize, false);
    if (key.ok()) RequireHexAt(key.bytes, 22, 16, fields[2]);
    if (Pairs(Trimmed(t.tagId)) && Pairs(Trimmed(t.pin)))
        Require(key.ok() == Pairs(fields[2]).has_value());

    const std::string_view cid = fields[2].substr(0, std::min<std::size_t>(fields[2].size(), 4));
    const v3::Encoded cidWrite = v3::EncodeCid(t, {cid, cid, cid, cid});
    CheckHeader(cidWrite, t, v3::kWriteSize, false);
    if (cidWrite.ok())
        for (std::size_t i = 0; i < 4; ++i) RequireHexAt(cidWrite.bytes, 22 + 2 * i, 2, cid);
    CheckHeader(v3::EncodeIdMode(t, control % 2), t, v3::kWriteSize, false);
    CheckHeader(v3::EncodeAesMode(t, control & 2), t, v3::kWriteSize, false);
    CheckHeader(v3::EncodeSelectKey(t, control % 9), t, v3::kWriteSize, false);

    const auto command = static_cast<v1::Command>(control % 9);
    const v3::Encoded old = v1::Encode(fields[0], command, control);
    Require(old.bytes.size() == v1::kSize);
    Require(old.ok() == Pairs(Trimmed(fields[0])).has_value());
    if (old.ok()) {
        RequireHexAt(old.bytes, 0, 8, Trimmed(fields[0]));
        Require(old.bytes[8] == v1::entryOf(command).op && old.bytes[10] == control);
    }

    // The texts beside the scroll bars, for any position a control may report.
    const int position = static_cast<std::int8_t>(control) * 37;
    v3::TimeCodeText(position);
    const std::string tenths = v3::TenthsText(position);
    Require(tenths.size() > 5 && tenths.substr(tenths.size() - 5) == " Sec ");
    return 0;
}
