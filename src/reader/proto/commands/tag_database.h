#pragma once
// The reader's tag database: tag identities (8 bytes) addressed by record number, read in
// blocks of ten (0x8052), written one at a time (0x8051) and deleted (0x8053).

#include "reader/proto/commands/payload.h"

#include <string>
#include <string_view>

namespace kelta::reader::cmd {

inline constexpr std::uint16_t kTagDbWrite = 0x8051;
inline constexpr std::uint16_t kTagDbRead = 0x8052;
inline constexpr std::uint16_t kTagDbDelete = 0x8053;
inline constexpr int kTagDbBlockRecords = 10;
inline constexpr std::uint32_t kTagDbAllRecords = 0; // delete: every record

// Write: record (4), 01, 00 00 00, then the UID's eight bytes in reverse order. The UID text
// is padded with "0" to 16 characters; a pair that is not hexadecimal is sent as 0.
Bytes EncodeTagDbWrite(std::uint32_t record, std::string_view uidText);
// Delete: record (4), 01, 00, AA, 55.
Bytes EncodeTagDbDelete(std::uint32_t record);

// Blocks b = (from - 1) / 10 + 1 ... (to - 1) / 10 + 1; block b starts at record 10 (b-1) + 1.
struct BlockRange {
    long long first = 1, last = 0;
};
BlockRange TagDbBlocks(long long from, long long to);
// Read of block b: first record (4), 10, 00 00 00.
Bytes EncodeTagDbRead(long long block);

struct TagDbRecord {
    long long number = 0;
    std::string uid; // 16 upper-case hex digits; all F for an empty record
    bool empty() const { return uid == "FFFFFFFFFFFFFFFF"; }
};
// Answer to a block read: the record number of byte 0-3, then ten records at bytes 8k-8k+7
// (k = 1-10), each shown in reverse byte order. Records the answer does not reach read as 0.
std::vector<TagDbRecord> DecodeTagDbBlock(Answer d);
// The memo line of a record: "[0015] 0001000112345678", or "[0015]" when empty.
std::string TagDbLine(const TagDbRecord& r);

} // namespace kelta::reader::cmd
