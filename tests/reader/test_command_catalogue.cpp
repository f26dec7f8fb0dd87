// The reader command catalogue against the worked examples: payload bytes of the encoders and
// typed values of the decoders.

#include "reader/proto/commands/bt_exciter.h"
#include "reader/proto/commands/gain.h"
#include "reader/proto/commands/guest.h"
#include "reader/proto/commands/identity.h"
#include "reader/proto/commands/keys.h"
#include "reader/proto/commands/parameters.h"
#include "reader/proto/commands/relays.h"
#include "reader/proto/commands/tag_database.h"

#include <QByteArray>
#include <gtest/gtest.h>

using namespace kelta::reader::cmd;

namespace {

Bytes hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(text);
    return Bytes(b.begin(), b.end());
}

} // namespace

TEST(CommandCatalogue, EncodersGiveTheWorkedExamplesBytes) {
    const Key8 preset = ToKey8(hex("7D41A09C3E5B2F86"));
    const std::uint8_t aes[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                  0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    BtExciterSettings bt;
    bt.exciterId = 0x1A2B;
    bt.powerOffSeconds = 7200;
    bt.powerOffFlags = 3;
    bt.readerMode = 3;
    bt.sendTimes = 30;
    bt.sendDelay = 100;
    bt.batteryCode = BatteryCodeOf(20).code;
    OutputParameters out;
    out.outputMode = 2;
    out.outputPorts = 0x41;
    out.logType = 1;
    out.gpsPeriod = 3;
    out.recordModes = 5;
    out.heartbeat = 0x1234;
    out.zigbeeDataLoss = true;
    struct Case {
        const char* what;
        Bytes payload;
        const char* bytes;
    } cases[] = {
        {"reader ID 0000ABCD / 0012",
         EncodeReaderIdentity(
             {HexNumberOr("0000ABCD", 0), static_cast<std::uint16_t>(DecimalOr("0012", 0))}),
         "0000ABCD000C0000"},
        {"reset", EncodeReset(0x00123456, ResetKind::Reset), "0012345600000001"},
        {"initial", EncodeReset(0x00123456, ResetKind::Initial), "0012345600000002"},
        {"clock", EncodeClock({2026, 12, 8, 23, 59, 7}), "07EA0C08173B0700"},
        {"relay 2 on", EncodeRelay(1, true), "3131000000000000"},
        {"relay 1 off", EncodeRelay(0, false), "3030000000000000"},
        {"AES key slot 3", EncodeAesKeyWrite(3, preset, aes),
         "FFFC030F01"
         "7D41A09C3E5B2F86"
         "00112233445566778899AABBCCDDEEFF"
         "000000"},
        {"AES read slot 8", EncodeAesKeyRead(8, preset),
         "FFFC080F01"
         "7D41A09C3E5B2F86"
         "000000"},
        {"admin mask", EncodeAdminKeysWrite(preset, 0x81),
         "FFFE020001"
         "7D41A09C3E5B2F86"
         "81"
         "000000000000000000000000000000"
         "000000"},
        {"guest mode item 2", EncodeGuestSendMode(2),
         "FFFF010001"
         "0000000000000000"
         "31"
         "000000000000000000000000000000"
         "000000"},
        {"guest RSSI 200", EncodeGuestRssi(200),
         "FFFF011101"
         "0000000000000000"
         "00C8"
         "0000000000000000000000000000"
         "000000"},
        {"guest versions", EncodeGuestVersions(0x05),
         "FFFF012201"
         "0000000000000000"
         "000005"
         "00000000000000000000000000"
         "000000"},
        {"guest read RSSI", EncodeGuestRead(GuestItem::RssiFilter),
         "FFFF011101"
         "0000000000000000"
         "000000"},
        {"gain 13", EncodeGainWrite(13),
         "FFFD03BB01"
         "4741494E424C4B31"
         "0000000000000000000000C7"
         "00000000"
         "000000"},
        {"gain 1", EncodeGainWrite(1),
         "FFFD03BB01"
         "4741494E424C4B31"
         "000000000000000000000038"
         "00000000"
         "000000"},
        {"BT exciter", EncodeBtExciterWrite(bt),
         "FFFE030801"
         "0000000000000000"
         "1A2B1C2003031E641D"
         "00000000000000"
         "000000"},
        {"BT read", EncodeBtExciterRead(),
         "FFFE030801"
         "0000000000000000"
         "000000"},
        {"output parameters", EncodeOutputParameters(out), "0241010305123401"},
        {"tag DB write", EncodeTagDbWrite(7, "0001000112345678"),
         "00000007010000007856341201000100"},
        {"tag DB write, short UID padded", EncodeTagDbWrite(1, "12"),
         "00000001010000000000000000000012"},
        {"tag DB write, pair not hex", EncodeTagDbWrite(1, "G1000000000000FF"),
         "00000001010000" "00FF00000000000000"},
        {"tag DB read block 2", EncodeTagDbRead(2), "0000000B0A000000"},
        {"tag DB delete 9", EncodeTagDbDelete(9), "000000090100AA55"},
        {"tag DB delete all", EncodeTagDbDelete(kTagDbAllRecords), "000000000100AA55"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.payload, hex(c.bytes)) << c.what;
}

TEST(CommandCatalogue, TablesMapBothWays) {
    // Gain: every position goes to its code and back; an unknown code is position 13.
    for (int p = 1; p <= kGainPositions; ++p) EXPECT_EQ(GainPosition(GainCode(p)), p);
    EXPECT_EQ(GainPosition(0xC7), 13);
    EXPECT_EQ(GainPosition(0x00), 13);
    // Send mode: "4" "3" "1"; a code with no item reads as item 0.
    EXPECT_EQ(SendModeItem(SendModeCode(2)), 2);
    EXPECT_EQ(SendModeItem('9'), 0);
    // Battery, both directions.
    struct Battery {
        int percent;
        std::uint8_t code;
        int snapped;
    } writes[] = {{0, 0, 0},    {2, 0, 0},    {3, 10, 5},   {9, 23, 5},     {10, 26, 10},
                  {20, 29, 20}, {21, 30, 30}, {50, 32, 50}, {100, 37, 100}, {101, 0, 101}};
    for (const Battery& b : writes) {
        const BatteryLevel l = BatteryCodeOf(b.percent);
        EXPECT_EQ(l.code, b.code) << b.percent;
        EXPECT_EQ(l.snapped, b.snapped) << b.percent;
    }
    const std::pair<int, int> reads[] = {{37, 100}, {200, 100}, {36, 90}, {29, 20}, {28, 10},
                                         {26, 10},  {25, 5},    {10, 5},  {9, 0}};
    for (auto [code, percent] : reads)
        EXPECT_EQ(BatteryPercent(static_cast<std::uint8_t>(code)), percent) << code;
    // Reader mode: the settings write and the ID-only write differ for item 2.
    EXPECT_EQ(ReaderModeCode(2), 3);
    EXPECT_EQ(ReaderModeCodeForIdWrite(2), 0);
    EXPECT_EQ(ReaderModeItem(ReaderModeCode(1)), 1);
    EXPECT_EQ(ReaderModeItem(7), 0);
}

TEST(CommandCatalogue, DecodersReadTheAnswersAndRefuseShortOnes) {
    const Bytes model = hex("8402001234560007");
    const auto m = DecodeModelAnswer(model);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->model, 0x8402);
    EXPECT_EQ(m->serial, 0x00123456u);
    EXPECT_EQ(m->readerId, 7);
    EXPECT_FALSE(DecodeModelAnswer(Answer(model).first(7)));
    ASSERT_NE(FindModel(0x8402), nullptr);
    EXPECT_STREQ(FindModel(0x8402)->name, "LR900-A");
    EXPECT_TRUE(FindModel(0x8402)->setsClock);
    EXPECT_STREQ(FindModel(0x8471)->name, FindModel(0x8472)->name);
    EXPECT_EQ(FindModel(0x1234), nullptr);

    // The name ends at the first zero or at byte 12, which holds the version's high byte.
    const Bytes version = hex("4C523930302D4100000000000123 0000");
    const auto v = DecodeVersion(version);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->name, "LR900-A");
    EXPECT_EQ(v->version, 0x0123);
    const auto full = DecodeVersion(hex("41424344454647484950515202010000"));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->name, "ABCDEFGHIPQR");
    EXPECT_FALSE(DecodeVersion(Answer(version).first(15)));

    const auto relays = DecodeRelays(hex("3130000000000000"));
    ASSERT_TRUE(relays);
    EXPECT_TRUE(relays->do1);
    EXPECT_FALSE(relays->do2);
    const auto guest = DecodeGuest(hex("31C80200000000000000000000000000"));
    ASSERT_TRUE(guest);
    EXPECT_EQ(SendModeItem(guest->sendModeCode), 2);
    EXPECT_EQ(guest->rssiLimit, 200);
    EXPECT_EQ(guest->versionMask, 2);
    EXPECT_FALSE(DecodeGuest(hex("31C802")));
    EXPECT_EQ(DecodeBatteryPercent(hex("0019000000000000")), 5);
    EXPECT_FALSE(DecodeBatteryPercent(hex("0019")));
    const auto bt = DecodeBtExciter(hex("1A2B1C2003031E6425000000000000000000"));
    ASSERT_TRUE(bt);
    EXPECT_EQ(bt->exciterId, 0x1A2B);
    EXPECT_EQ(bt->powerOffSeconds, 7200);
    EXPECT_EQ(BatteryPercent(bt->batteryCode), 100);

    // One parameter byte is enough; the rest reads as zero.
    const auto p = DecodeOutputParameters(hex("02"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->outputMode, 2);
    EXPECT_EQ(p->heartbeat, 0);
    EXPECT_FALSE(DecodeOutputParameters({}));
}

TEST(CommandCatalogue, TagDatabaseBlocksAndRecords) {
    struct Range {
        long long from, to, first, last;
    } ranges[] = {{1, 500, 1, 50}, {15, 15, 2, 2}, {10, 11, 1, 2}, {0, 1, 1, 1}, {-30, 5, 1, 1}};
    for (const Range& r : ranges) {
        const BlockRange b = TagDbBlocks(r.from, r.to);
        EXPECT_EQ(b.first, r.first) << r.from << ".." << r.to;
        EXPECT_EQ(b.last, r.last) << r.from << ".." << r.to;
    }
    Bytes answer = hex("0000000B0A000000");
    for (int k = 1; k <= 10; ++k) {
        Bytes rec = k == 5 ? hex("7856341201000100") : hex("FFFFFFFFFFFFFFFF");
        answer.insert(answer.end(), rec.begin(), rec.end());
    }
    const auto records = DecodeTagDbBlock(answer);
    ASSERT_EQ(records.size(), 10u);
    EXPECT_EQ(records[0].number, 11);
    EXPECT_EQ(TagDbLine(records[0]), "[0011]");
    EXPECT_EQ(TagDbLine(records[4]), "[0015] 0001000112345678");
}
