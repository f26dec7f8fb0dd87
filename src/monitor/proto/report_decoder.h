#pragma once
// Tag report decoding: cutting a block of received bytes into report frames, and turning one
// tag record into display texts. Pure code: bytes in, texts out through a TagRecordSink.

#include "monitor/proto/tag_record.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace kelta::monitor {

// Kind of the link a block came from; passed along, not used by the decoding.
enum class LinkKind { Network = 0, Serial = 1 };

// Largest tag record or log payload taken from one frame.
inline constexpr std::size_t kMaxRecordBytes = 512;
// Size of one stored log record.
inline constexpr std::size_t kLogRecordBytes = 56;

// Cuts one received block into report frames and hands each tag record to DecodeTagRecord.
// pump (may be empty) runs once after every record, accepted or not, so that the window keeps
// processing its events during a long log download. Bytes read past the end of the block read
// as zero. A rejected record does not end the block. Returns true when at least one record was
// handed on.
bool SplitReportBlock(DecodeMode mode, LinkKind linkKind, std::string_view linkName,
                      std::span<const std::uint8_t> block, TagRecordSink& sink,
                      const std::function<void()>& pump = {});

// Checks one tag record (live) or one 56-byte log record (log), builds its texts and posts them
// to the sink. hex is the record as upper-case hex digit pairs. Returns true when the record
// was accepted and posted.
bool DecodeTagRecord(DecodeMode mode, std::uint16_t sequence, std::string_view linkName,
                     std::span<const std::uint8_t> record, std::string_view hex,
                     TagRecordSink& sink);

// Appends the bytes as upper-case hex digit pairs.
void AppendHexText(std::string& out, std::span<const std::uint8_t> bytes);

// Text of a tag-log status code ("New TAG Entry", ..., or the code in decimal).
std::string LogStatusText(std::uint16_t code);

} // namespace kelta::monitor
