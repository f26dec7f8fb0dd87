#include "reader/proto/commands/tag_database.h"

#include "common/proto/hex_text.h"

#include <algorithm>
#include <cstdio>

namespace kelta::reader::cmd {

Bytes EncodeTagDbWrite(std::uint32_t record, std::string_view uidText) {
    std::string text(uidText.substr(0, 16));
    text.resize(16, '0');
    Bytes out(16, 0);
    PutBe32(out, 0, record);
    out[4] = 0x01;
    for (std::size_t i = 0; i < 8; ++i) {
        const int hi = hex::HexDigitValue(text[14 - 2 * i]);
        const int lo = hex::HexDigitValue(text[15 - 2 * i]);
        out[8 + i] = hi < 0 || lo < 0 ? 0 : static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return out;
}

Bytes EncodeTagDbDelete(std::uint32_t record) {
    Bytes out(8, 0);
    PutBe32(out, 0, record);
    out[4] = 0x01;
    out[6] = 0xAA;
    out[7] = 0x55;
    return out;
}

BlockRange TagDbBlocks(long long from, long long to) {
    // Records below 1 lie in the first block.
    return {std::max(1LL, (from - 1) / kTagDbBlockRecords + 1), (to - 1) / kTagDbBlockRecords + 1};
}

Bytes EncodeTagDbRead(long long block) {
    Bytes out(8, 0);
    PutBe32(out, 0, static_cast<std::uint32_t>(kTagDbBlockRecords * (block - 1) + 1));
    out[4] = kTagDbBlockRecords;
    return out;
}

std::vector<TagDbRecord> DecodeTagDbBlock(Answer d) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::vector<TagDbRecord> out;
    const long long first = static_cast<std::int32_t>(Be32(d, 0));
    for (std::size_t k = 1; k <= kTagDbBlockRecords; ++k) {
        TagDbRecord r;
        r.number = first + static_cast<long long>(k) - 1;
        for (std::size_t i = 0; i < 8; ++i) {
            const std::uint8_t b = At(d, 8 * k + 7 - i);
            r.uid.push_back(kDigits[b >> 4]);
            r.uid.push_back(kDigits[b & 0x0F]);
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::string TagDbLine(const TagDbRecord& r) {
    char head[32];
    std::snprintf(head, sizeof head, "[%04lld]", r.number);
    return r.empty() ? std::string(head) : std::string(head) + " " + r.uid;
}

} // namespace kelta::reader::cmd
