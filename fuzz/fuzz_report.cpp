// Fuzz entry for the tag report splitter and record decoder. The first input byte picks the
// mode order and the sequence number; the rest is the received block. The sink checks what
// every accepted record must look like and traps on anything else.
#include "monitor/proto/report_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

using kelta::monitor::DecodedTagRecord;
using kelta::monitor::DecodeMode;

bool AllOf(const std::string& s, const char* allowed) {
    return s.find_first_not_of(allowed) == std::string::npos;
}

void Require(bool ok) {
    if (!ok) __builtin_trap();
}

struct CheckingSink : kelta::monitor::TagRecordSink {
    DecodeMode expected = DecodeMode::Live;
    bool fromSplit = true; // split log records are exactly 56 bytes
    long accepted = 0;
    bool hasCurrentTagGrid() const override { return true; }
    void PostTagRecord(const DecodedTagRecord& r, DecodeMode mode) override {
        ++accepted;
        Require(mode == expected);
        Require(r.uid.size() == 16 && AllOf(r.uid, "0123456789ABCDEF") && !AllOf(r.uid, "0"));
        Require(r.readerId.size() == 4 && AllOf(r.readerId, "0123456789") && r.readerId != "0000");
        Require(r.tagVer.size() == 2 && r.tagVer[0] >= '1' && r.tagVer[0] <= '3' &&
                AllOf(r.tagVer, "0123456789"));
        Require(r.packet.size() == 8 && AllOf(r.packet, "01"));
        Require(r.sState.size() == 8 && AllOf(r.sState, "01"));
        // The texts are exactly those made from the typed values.
        DecodedTagRecord again;
        kelta::monitor::RenderTagTexts(r.values, again);
        Require(again.readerId == r.readerId && again.uid == r.uid && again.rssi == r.rssi &&
                again.lqi == r.lqi && again.d1h == r.d1h && again.d1l == r.d1l &&
                again.d2h == r.d2h && again.d2l == r.d2l && again.gps == r.gps &&
                again.logDateTime == r.logDateTime && again.logStatus == r.logStatus);
        Require(r.values.sensorCount <= 2 &&
                (r.values.sensorCount > 0) ==
                    (r.values.dataShown == kelta::monitor::DataShown::Sensors));
        Require(r.hex.size() % 2 == 0 && r.hex.size() <= 1024 && AllOf(r.hex, "0123456789ABCDEF"));
        if (mode == DecodeMode::Log) {
            Require(!fromSplit || r.hex.size() == 112);
            Require(!r.index.empty() && r.logDateTime.size() >= 19 && !r.logStatus.empty());
        } else {
            Require(r.hex.size() >= 52);
            Require(std::stoi(r.lqi) >= 21 && std::stoi(r.rssi) >= 1);
            Require(r.index.empty() && r.logDateTime.empty() && r.logStatus.empty());
        }
    }
};

void SplitChecked(DecodeMode mode, std::span<const std::uint8_t> block) {
    CheckingSink sink;
    sink.expected = mode;
    long handed = 0;
    const bool any = kelta::monitor::SplitReportBlock(
        mode, kelta::monitor::LinkKind::Network, "127.0.0.1", block, sink, [&handed] { ++handed; });
    Require(any == (handed > 0));
    Require(sink.accepted <= handed);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> block(data + 1, size - 1);
    const DecodeMode first = (control & 1) ? DecodeMode::Log : DecodeMode::Live;
    const DecodeMode second = (control & 1) ? DecodeMode::Live : DecodeMode::Log;
    SplitChecked(first, block);
    SplitChecked(second, block);

    // The record decoder on its own, on the block taken as one record.
    const auto record = block.first(std::min(block.size(), kelta::monitor::kMaxRecordBytes));
    std::string hex;
    kelta::monitor::AppendHexText(hex, record);
    CheckingSink sink;
    sink.expected = first;
    sink.fromSplit = false;
    const bool accepted =
        kelta::monitor::DecodeTagRecord(first, control, "fuzz", record, hex, sink);
    Require(accepted == (sink.accepted == 1));
    return 0;
}
