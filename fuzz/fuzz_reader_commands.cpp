// Fuzz entry for the decoders of the reader command catalogue. The input is an answer's data,
// in an allocation of exactly its size, so every read past its end is caught. Every decoder
// runs on it; values taken from the input are encoded and decoded back, and a block read must
// give back the value area a block write carried.
#include "fuzz_support.h"
#include "reader/proto/commands/bt_exciter.h"
#include "reader/proto/commands/gain.h"
#include "reader/proto/commands/guest.h"
#include "reader/proto/commands/identity.h"
#include "reader/proto/commands/keys.h"
#include "reader/proto/commands/module_ports.h"
#include "reader/proto/commands/parameters.h"
#include "reader/proto/commands/relays.h"
#include "reader/proto/commands/tag_database.h"
#include "reader/proto/commands/zigbee.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace {

using kelta::fuzz::Require;
namespace cmd = kelta::reader::cmd;

bool UpperHex(const std::string& s) {
    return s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// Byte i of the input, 0 behind its end: values for the round trips.
struct Source {
    std::span<const std::uint8_t> d;
    std::uint8_t u8(std::size_t i) const { return i < d.size() ? d[i] : 0; }
    std::uint16_t u16(std::size_t i) const {
        return static_cast<std::uint16_t>(u8(i) << 8 | u8(i + 1));
    }
    std::uint32_t u32(std::size_t i) const {
        return static_cast<std::uint32_t>(u16(i)) << 16 | u16(i + 2);
    }
};

// The answer of a block read carrying the value area of a block write.
cmd::Bytes AnswerOfWrite(const cmd::Bytes& write) {
    Require(write.size() == cmd::kBlockWriteBytes);
    return cmd::Bytes(write.begin() + cmd::kBlockValueOffset, write.end());
}

void DecodeEverything(cmd::Answer d) {
    const bool block = d.size() >= cmd::kBlockAnswerMin;
    Require(cmd::DecodeBtExciter(d).has_value() == block);
    Require(cmd::DecodeGuest(d).has_value() == block);
    Require(cmd::DecodeAdminKeys(d).has_value() == block);
    if (const auto key = cmd::DecodeAesKey(d))
        Require(std::equal(key->begin(), key->end(), d.begin()));
    if (const auto p = cmd::DecodeGainPosition(d)) Require(*p >= 1 && *p <= cmd::kGainPositions);
    if (const auto b = cmd::DecodeBatteryPercent(d)) Require(*b >= 0 && *b <= 100);
    cmd::DecodeModelAnswer(d);
    cmd::DecodeReaderIdentity(d);
    if (const auto v = cmd::DecodeVersion(d)) {
        Require(v->name.size() <= 12 && v->name.find('\0') == std::string::npos);
    }
    cmd::DecodeModulePorts(d);
    if (const auto p = cmd::DecodeOutputParameters(d)) {
        Require(p->outputPorts <= 0x7F && p->recordModes <= 0x07);
    }
    cmd::DecodeSeconds(d);
    cmd::DecodeLogFilter(d);
    cmd::DecodeRelays(d);
    cmd::DecodeDigitalInputs(d);
    cmd::DecodeZigbeeGroup(d);
    cmd::DecodeZigbeeMode(d);

    const auto records = cmd::DecodeTagDbBlock(d);
    Require(records.size() == static_cast<std::size_t>(cmd::kTagDbBlockRecords));
    for (std::size_t k = 0; k < records.size(); ++k) {
        Require(records[k].number == records[0].number + static_cast<long long>(k));
        Require(records[k].uid.size() == 16 && UpperHex(records[k].uid));
        const std::string line = cmd::TagDbLine(records[k]);
        Require(line.front() == '[' && line.find(']') != std::string::npos);
        Require(records[k].empty() == (line.find(' ') == std::string::npos));
    }
}

void RoundTrips(const Source& in) {
    const cmd::ModulePorts ports{in.u8(0), in.u8(1)};
    const auto ports2 = cmd::DecodeModulePorts(cmd::EncodeModulePorts(ports));
    Require(ports2 && ports2->port1 == ports.port1 && ports2->port2 == ports.port2);

    cmd::OutputParameters out;
    out.outputMode = in.u8(2);
    out.outputPorts = in.u8(3) & 0x7F;
    out.logType = in.u8(4);
    out.gpsPeriod = in.u8(5);
    out.recordModes = in.u8(6) & 0x07;
    out.heartbeat = in.u16(7);
    out.zigbeeDataLoss = in.u8(9) & 1;
    const auto out2 = cmd::DecodeOutputParameters(cmd::EncodeOutputParameters(out));
    Require(out2 && out2->outputMode == out.outputMode && out2->outputPorts == out.outputPorts &&
            out2->logType == out.logType && out2->gpsPeriod == out.gpsPeriod &&
            out2->recordModes == out.recordModes && out2->heartbeat == out.heartbeat &&
            out2->zigbeeDataLoss == out.zigbeeDataLoss);

    Require(cmd::DecodeSeconds(cmd::EncodeSeconds(in.u16(10))) == in.u16(10));
    Require(cmd::DecodeLogFilter(cmd::EncodeLogFilter(in.u8(12))) == in.u8(12));
    Require(cmd::DecodeZigbeeGroup(cmd::EncodeZigbeeGroup(in.u16(13))) == in.u16(13));
    Require(cmd::DecodeZigbeeMode(cmd::EncodeZigbeeMode(in.u8(15))) == in.u8(15));

    const cmd::ReaderIdentity id{in.u32(16), in.u16(20)};
    const auto id2 = cmd::DecodeReaderIdentity(cmd::EncodeReaderIdentity(id));
    Require(id2 && id2->serial == id.serial && id2->readerId == id.readerId);

    // Block writes and the reads that answer with their value area.
    cmd::BtExciterSettings bt;
    bt.exciterId = in.u16(22);
    bt.powerOffSeconds = in.u16(24);
    bt.powerOffFlags = in.u8(26);
    bt.readerMode = in.u8(27);
    bt.sendTimes = in.u8(28);
    bt.sendDelay = in.u8(29);
    bt.batteryCode = in.u8(30);
    const auto bt2 = cmd::DecodeBtExciter(AnswerOfWrite(cmd::EncodeBtExciterWrite(bt)));
    Require(bt2 && bt2->exciterId == bt.exciterId && bt2->powerOffSeconds == bt.powerOffSeconds &&
            bt2->powerOffFlags == bt.powerOffFlags && bt2->readerMode == bt.readerMode &&
            bt2->sendTimes == bt.sendTimes && bt2->sendDelay == bt.sendDelay &&
            bt2->batteryCode == bt.batteryCode);

    const int position = 1 + in.u8(31) % cmd::kGainPositions;
    Require(cmd::DecodeGainPosition(AnswerOfWrite(cmd::EncodeGainWrite(position))) == position);

    const auto rssi = cmd::DecodeGuest(AnswerOfWrite(cmd::EncodeGuestRssi(in.u8(32))));
    Require(rssi && rssi->rssiLimit == in.u8(32));
    const auto versions = cmd::DecodeGuest(AnswerOfWrite(cmd::EncodeGuestVersions(in.u8(33))));
    Require(versions && versions->versionMask == (in.u8(33) & 0x07));
    const int item = in.u8(34) % 3;
    const auto mode = cmd::DecodeGuest(AnswerOfWrite(cmd::EncodeGuestSendMode(item)));
    Require(mode && cmd::SendModeItem(mode->sendModeCode) == item);

    cmd::AesKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = in.u8(35 + i);
    const cmd::Key8 access = cmd::ToKey8(in.d.subspan(std::min<std::size_t>(in.d.size(), 51)));
    const auto key2 =
        cmd::DecodeAesKey(AnswerOfWrite(cmd::EncodeAesKeyWrite(1 + in.u8(59) % 8, access, key)));
    Require(key2 && *key2 == key);
    Require(cmd::DecodeAdminKeys(AnswerOfWrite(cmd::EncodeAdminKeysWrite(access, in.u8(60)))) ==
            in.u8(60));

    // Ten tag database writes make the answer of one block read.
    const std::uint32_t first = in.u32(61) & 0x7FFFFFFF;
    cmd::Bytes answer(8 + 8 * cmd::kTagDbBlockRecords, 0);
    cmd::PutBe32(answer, 0, first);
    std::string uids[cmd::kTagDbBlockRecords];
    for (int k = 0; k < cmd::kTagDbBlockRecords; ++k) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        for (std::size_t i = 0; i < 16; ++i)
            uids[k].push_back(kDigits[in.u8(65 + 16 * static_cast<std::size_t>(k) + i) & 0x0F]);
        const cmd::Bytes write =
            cmd::EncodeTagDbWrite(first + static_cast<std::uint32_t>(k), uids[k]);
        Require(cmd::Be32(write, 0) == first + static_cast<std::uint32_t>(k));
        std::copy(write.begin() + 8, write.end(), answer.begin() + 8 * (k + 1));
    }
    const auto records = cmd::DecodeTagDbBlock(answer);
    for (int k = 0; k < cmd::kTagDbBlockRecords; ++k) {
        Require(records[static_cast<std::size_t>(k)].uid == uids[k]);
        Require(records[static_cast<std::size_t>(k)].number == static_cast<long long>(first) + k);
    }

    // Numbers typed as text.
    char text[16];
    std::snprintf(text, sizeof text, "%X", in.u32(0));
    Require(cmd::HexNumberOr(text, 7) == in.u32(0));
    std::snprintf(text, sizeof text, " %d ", static_cast<std::int32_t>(in.u32(4)));
    Require(cmd::DecimalOr(text, 7) == static_cast<std::int32_t>(in.u32(4)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kelta::fuzz::ExactCopy copy(std::span<const std::uint8_t>(data, size));
    DecodeEverything(copy.span());
    // The same answer at every shorter length: decoders must stay inside each.
    for (std::size_t n = 0; n < std::min<std::size_t>(size, 24); ++n)
        DecodeEverything(kelta::fuzz::ExactCopy(copy.span().first(n)).span());
    RoundTrips(Source{copy.span()});

    // Text from the input through the text readers: never a throw, a fallback when not a number.
    const std::string text(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 40));
    const std::uint32_t hexValue = cmd::HexNumberOr(text, 0xDEADBEEF);
    const bool foreign = std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > ' ' && !std::isxdigit(u);
    });
    if (foreign) Require(hexValue == 0xDEADBEEF);
    cmd::DecimalOr(text, -1);
    return 0;
}
