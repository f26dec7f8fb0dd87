#include "frames.h"

#include <gtest/gtest.h>
#include <string>

using namespace kelta::monitor;
using namespace testframes;

namespace {

struct Outcome {
    bool handedOn = false;
    int pumps = 0;
    CollectingSink sink;
    std::size_t count() const { return sink.records.size(); }
    const DecodedTagRecord& at(std::size_t i) const { return sink.records.at(i); }
};

Outcome Split(DecodeMode mode, const Bytes& block, bool grid = true) {
    Outcome o;
    o.sink.grid = grid;
    o.handedOn = SplitReportBlock(mode, LinkKind::Serial, "03", block, o.sink, [&o] { ++o.pumps; });
    return o;
}
Outcome Live(const Bytes& block) {
    return Split(DecodeMode::Live, block);
}
Outcome Log(const Bytes& block) {
    return Split(DecodeMode::Log, block);
}

bool LiveAccepts(const Tag& t) {
    return Live(LiveFrame(t)).count() == 1;
}

std::string HexOf(const Bytes& b) {
    std::string s;
    AppendHexText(s, b);
    return s;
}

} // namespace

TEST(LiveSplit, StartTestsOfTheBlock) {
    const Bytes good = LiveFrame(Tag{});
    EXPECT_EQ(Live(good).count(), 1u);
    EXPECT_EQ(Live(LiveFrame(Tag{}, 0x0800, 0x6042)).count(), 1u);

    Bytes badStart = good;
    badStart[0] = 0x05;
    Bytes badType = LiveFrame(Tag{}, 0x0800, 0x6041);
    Bytes logType = LiveFrame(Tag{}, 0x0800, 0x8061);
    for (const Bytes& b :
         {badStart, badType, logType, Bytes(good.begin(), good.begin() + 7), Bytes{}}) {
        const Outcome o = Live(b);
        EXPECT_FALSE(o.handedOn);
        EXPECT_EQ(o.count(), 0u);
        EXPECT_EQ(o.pumps, 0);
    }
}

TEST(LiveSplit, ReaderIdFlagAndSkippedHeaderBytes) {
    Tag t;
    t.readerId = 1234;
    const Bytes rec = Record(t);

    const Outcome withId = Live(LiveFrame(t, 0x0800));
    ASSERT_EQ(withId.count(), 1u);
    EXPECT_EQ(withId.at(0).readerId, "1234");
    EXPECT_EQ(withId.at(0).hex, HexOf(rec));

    // The four bytes of 0x0400 are not part of the record, with or without the reader ID.
    const Outcome both = Live(LiveFrame(t, 0x0C00));
    ASSERT_EQ(both.count(), 1u);
    EXPECT_EQ(both.at(0).hex, HexOf(rec));
    EXPECT_EQ(both.at(0).uid, "0102030405060708");

    // Without 0x0800 the record starts with tag data: here it is 24 bytes, too short.
    const Outcome noId = Live(LiveFrame(t, 0x0000));
    EXPECT_TRUE(noId.handedOn);
    EXPECT_EQ(noId.count(), 0u);
    EXPECT_EQ(noId.pumps, 1);
}

TEST(LiveSplit, RecordIsCappedAt512Bytes) {
    Bytes body = Record(Tag{});
    body.resize(600, 0x5A);
    const Outcome o = Live(Frame(0x6040, 0x0800, body));
    ASSERT_EQ(o.count(), 1u);
    EXPECT_EQ(o.at(0).hex.size(), 2u * 512u);
    EXPECT_EQ(o.at(0).hex.substr(0, 52), HexOf(Record(Tag{})));
}

TEST(LiveSplit, RejectedRecordDoesNotEndTheBlock) {
    Tag a, bad, c;
    a.uid = 0xA1;
    bad.lqi = 20;
    c.uid = 0xC3;
    const Outcome o = Live(Concat({LiveFrame(a), LiveFrame(bad), LiveFrame(c)}));
    EXPECT_TRUE(o.handedOn);
    EXPECT_EQ(o.pumps, 3);
    ASSERT_EQ(o.count(), 2u);
    EXPECT_EQ(o.at(0).uid, "00000000000000A1");
    EXPECT_EQ(o.at(1).uid, "00000000000000C3");
}

TEST(LiveSplit, FramesAfterTheFirst) {
    Tag a, b;
    b.uid = 0x99;
    // A later frame of a wrong type is skipped; its start byte is not checked.
    Bytes second = LiveFrame(b);
    second[0] = 0x00;
    const Outcome o = Live(Concat({LiveFrame(a), LiveFrame(a, 0x0800, 0x6041), second}));
    ASSERT_EQ(o.count(), 2u);
    EXPECT_EQ(o.at(1).uid, "0000000000000099");

    // A frame of length 0 ends the block.
    const Outcome stop =
        Live(Concat({LiveFrame(a), Bytes{0x06, 0, 0, 0, 0, 0, 0, 0}, LiveFrame(b)}));
    EXPECT_EQ(stop.count(), 1u);
}

TEST(LiveSplit, LengthFieldsPointingPastTheBlock) {
    const Bytes three = Concat({LiveFrame(Tag{}), LiveFrame(Tag{}), LiveFrame(Tag{})});
    const std::size_t frame = LiveFrame(Tag{}).size();
    // Every prefix: only complete frames are decoded, never a partial one.
    for (std::size_t n = 0; n <= three.size(); ++n) {
        const Bytes cut(three.begin(), three.begin() + static_cast<long>(n));
        EXPECT_EQ(Live(cut).count(), n / frame) << "prefix " << n;
    }
    // A length of 0xFFFF on an 8-byte block: nothing is read, nothing is decoded.
    EXPECT_FALSE(Live(Bytes{0x06, 0xFF, 0xFF, 0x08, 0x00, 0x60, 0x40, 0x00}).handedOn);
    // A tiny frame whose reader ID lies past the block reads zeros there.
    const Outcome tiny = Live(Bytes{0x06, 0x00, 0x05, 0x08, 0x00, 0x60, 0x40, 0x12});
    EXPECT_TRUE(tiny.handedOn);
    EXPECT_EQ(tiny.count(), 0u);
}

TEST(DecodeRecord, AcceptanceBounds) {
    auto with = [](auto set) {
        Tag t;
        set(t);
        return LiveAccepts(t);
    };
    EXPECT_FALSE(with([](Tag& t) { t.lqi = 20; }));
    EXPECT_TRUE(with([](Tag& t) { t.lqi = 21, t.rssi = 1; }));
    EXPECT_FALSE(with([](Tag& t) { t.rssi = 0; }));
    for (std::uint16_t id : {0, 10000, 0xFFFF})
        EXPECT_FALSE(with([id](Tag& t) { t.readerId = id; }));
    for (std::uint16_t id : {1, 9999}) EXPECT_TRUE(with([id](Tag& t) { t.readerId = id; }));
    for (std::uint8_t v : {0x10, 0x25, 0x39}) EXPECT_TRUE(with([v](Tag& t) { t.version = v; }));
    for (std::uint8_t v : {0x1A, 0x40, 0x09, 0x00, 0x3F})
        EXPECT_FALSE(with([v](Tag& t) { t.version = v; })) << int(v);
    // UID: any non-zero digits pass, letters included; all zero fails.
    EXPECT_TRUE(with([](Tag& t) { t.uid = 0xA1; }));
    EXPECT_TRUE(with([](Tag& t) { t.uid = 0xFFFFFFFFFFFFFFFFULL; }));
    EXPECT_TRUE(with([](Tag& t) { t.uid = 0x1000000000000000ULL; }));
    EXPECT_FALSE(with([](Tag& t) { t.uid = 0; }));
}

TEST(DecodeRecord, LengthAndGridChecks) {
    CollectingSink sink;
    const Bytes rec = Record(Tag{});
    const Bytes hex(rec.size() * 2, '0');
    const std::string_view h(reinterpret_cast<const char*>(hex.data()), hex.size());
    EXPECT_TRUE(DecodeTagRecord(DecodeMode::Live, 1, "x", rec, h, sink));
    EXPECT_FALSE(DecodeTagRecord(DecodeMode::Live, 1, "x", std::span(rec).first(25), h, sink));
    // A 26-byte tag record is too short for log mode, which needs the whole 56 bytes.
    EXPECT_FALSE(DecodeTagRecord(DecodeMode::Log, 1, "x", rec, h, sink));
    sink.grid = false;
    EXPECT_FALSE(DecodeTagRecord(DecodeMode::Live, 1, "x", rec, h, sink));
    EXPECT_EQ(sink.records.size(), 1u);

    const Outcome noGrid = Split(DecodeMode::Live, LiveFrame(Tag{}), false);
    EXPECT_TRUE(noGrid.handedOn);
    EXPECT_EQ(noGrid.pumps, 1);
    EXPECT_EQ(noGrid.count(), 0u);
}

TEST(DecodeRecord, FieldTexts) {
    Tag t;
    t.model = 0x20; // sensor digit 0: no D texts
    t.uid = 0x00A1B2C3D4E5F6FFULL;
    t.rssi = 200;
    t.battery = 5;
    const Outcome o = Live(LiveFrame(t));
    ASSERT_EQ(o.count(), 1u);
    const DecodedTagRecord& r = o.at(0);
    EXPECT_EQ(r.readerId, "0007");
    EXPECT_EQ(r.uid, "00A1B2C3D4E5F6FF");
    EXPECT_EQ(r.tagVer, "30");
    EXPECT_EQ(r.packet, "10100101");
    EXPECT_EQ(r.model, "20");
    EXPECT_EQ(r.keyNo, "0C");
    EXPECT_EQ(r.group, "FE");
    EXPECT_EQ(r.rssi, "200");
    EXPECT_EQ(r.lqi, "60");
    EXPECT_EQ(r.sState, "10000001");
    EXPECT_EQ(r.battery, "5");
    EXPECT_EQ(r.isnH, "3C");
    EXPECT_EQ(r.isnL, "C3");
    EXPECT_EQ(r.d1h + r.d1l + r.d2h + r.d2l, "");
    EXPECT_EQ(r.gps, "");
    EXPECT_EQ(r.index + r.logDateTime + r.logStatus, "");
    EXPECT_EQ(r.hex, "0007003"
                     "0A5200CFE00A1B2C3D4E5F6FFC83C81053CC3"
                     "1234ABCD");
}

namespace {
struct SensorCase {
    std::uint8_t version, model;
    std::uint16_t d1, d2;
    const char *d1h, *d1l, *d2h, *d2l;
};
} // namespace

TEST(DecodeRecord, SensorTexts) {
    const SensorCase cases[] = {
        // sel 2: temperature and humidity
        {0x10, 0x01, 0x8000 + 6500, 1000, "25.00 C / 77.00 F", "", "33.70%", ""},
        // sel 0: bit 13 makes the value negative
        {0x10, 0x01, 0x2000, 800, "-256.00 C / -428.80 F", "", "25.00 C / 77.00 F", ""},
        // sel 3: hundredths of a kelvin times two
        {0x10, 0x05, 0xC000 + 14915, 14915, "25.15 C / 77.27 F", "", "25.15 C / 77.27 F", ""},
        {0x10, 0x05, 0xC000, 14915, "", "", "25.15 C / 77.27 F", ""},
        {0x10, 0x05, 0xC000 + 14915, 0, "FA", "43", "00", "00"}, // no result: raw hex
        // sel 1: a counter, only when all four digits are decimal
        {0x10, 0x09, 0x4000, 0x1234, "", "", "1234", ""},
        {0x10, 0x09, 0x4000, 0x12A4, "40", "00", "12", "A4"},
        // only version 10 with a decimal model carries sensors
        {0x20, 0x01, 0x8000 + 6500, 1000, "99", "64", "03", "E8"},
        {0x10, 0xA1, 0x8000 + 6500, 1000, "99", "64", "03", "E8"},
        // second model digit 0 or a letter: no D texts at all
        {0x10, 0x10, 0x8000 + 6500, 1000, "", "", "", ""},
        {0x10, 0x0B, 0x8000 + 6500, 1000, "", "", "", ""},
    };
    for (const SensorCase& c : cases) {
        Tag t;
        t.version = c.version;
        t.model = c.model;
        t.d1 = c.d1;
        t.d2 = c.d2;
        const Outcome o = Live(LiveFrame(t));
        ASSERT_EQ(o.count(), 1u);
        const DecodedTagRecord& r = o.at(0);
        SCOPED_TRACE(testing::Message() << std::hex << "d1=" << c.d1 << " d2=" << c.d2);
        EXPECT_EQ(r.d1h, c.d1h);
        EXPECT_EQ(r.d1l, c.d1l);
        EXPECT_EQ(r.d2h, c.d2h);
        EXPECT_EQ(r.d2l, c.d2l);
    }
}

TEST(DecodeRecord, GpsText) {
    Tag t;
    t.gps = Gps{};
    Outcome o = Live(LiveFrame(t));
    ASSERT_EQ(o.count(), 1u);
    EXPECT_EQ(o.at(0).gps, "+121\u00B030'15.25\",+25\u00B002'03.04\",300,7");

    t.gps->lonHemi = 'w';
    t.gps->latHemi = 'S';
    t.gps->value1 = 65535;
    o = Live(LiveFrame(t));
    ASSERT_EQ(o.count(), 1u);
    EXPECT_EQ(o.at(0).gps, "-121\u00B030'15.25\",-25\u00B002'03.04\",65535,7");

    // 40 bytes carry the block but are one short of the length that shows it.
    Bytes rec = Record(t);
    rec.pop_back();
    o = Live(Frame(0x6040, 0x0800, rec));
    ASSERT_EQ(o.count(), 1u);
    EXPECT_EQ(o.at(0).gps, "");
}

TEST(LogSplit, RecordsTexts) {
    LogEntry a, b;
    a.status = 5;
    a.tag.lqi = 0; // no RSSI/LQI bounds in log mode
    a.tag.rssi = 0;
    b.status = 8;
    b.tag.uid = 0xBB;
    b.year = 1999, b.month = 12, b.day = 31, b.hour = 23, b.minute = 59, b.second = 58;
    b.gps = Gps{};
    b.gps->latHemi = 's';
    const Outcome o = Log(LogFrame(LogPayload(0xFFFF, {a, b})));
    ASSERT_EQ(o.count(), 2u);
    EXPECT_EQ(o.sink.modes.at(0), DecodeMode::Log);
    EXPECT_EQ(o.at(0).index, "65535");
    EXPECT_EQ(o.at(1).index, "0"); // 16-bit wrap
    EXPECT_EQ(o.at(0).logDateTime, "2024/03/05 07:08:09");
    EXPECT_EQ(o.at(1).logDateTime, "1999/12/31 23:59:58");
    EXPECT_EQ(o.at(0).logStatus, "Temperature Over range");
    EXPECT_EQ(o.at(1).logStatus, "8");
    EXPECT_EQ(o.at(0).gps, "");
    EXPECT_EQ(o.at(1).gps, "+121\u00B030'15.25\",-25\u00B002'03.04\",300,7");
    EXPECT_EQ(o.at(0).readerId, "0007");
    EXPECT_EQ(o.at(1).uid, "00000000000000BB");
    EXPECT_EQ(o.at(1).hex, HexOf(LogRecord(b)));
    EXPECT_EQ(o.at(1).hex.size(), 112u);
}

TEST(LogSplit, GpsOnlyWithFlagOne) {
    LogEntry e;
    e.gps = Gps{};
    Bytes payload = LogPayload(1, {e});
    ASSERT_EQ(payload[8], 1);
    EXPECT_NE(Log(LogFrame(payload)).at(0).gps, "");
    payload[8] = 2;
    EXPECT_EQ(Log(LogFrame(payload)).at(0).gps, "");
}

TEST(LogSplit, StatusTextsOfOtherCodes) {
    EXPECT_EQ(LogStatusText(39), "DEVICE TAMPER ALARM");
    EXPECT_EQ(LogStatusText(98), "LOG MODULE COMM RESUME");
    EXPECT_EQ(LogStatusText(0), "0");
    EXPECT_EQ(LogStatusText(65535), "65535");
}

TEST(LogSplit, PayloadLengthRule) {
    const LogEntry e;
    const Bytes one = LogPayload(1, {e});
    EXPECT_EQ(Log(LogFrame(one)).count(), 1u);
    EXPECT_EQ(Log(LogFrame(Bytes(one.begin(), one.end() - 1))).count(), 0u); // 8 + 55
    Bytes extra = LogPayload(1, {e, e});
    extra.push_back(0);
    EXPECT_EQ(Log(LogFrame(extra)).count(), 0u);
    EXPECT_EQ(Log(LogFrame(LogPayload(1, {}))).count(), 0u);
    // 9 records fill the 512 bytes; a tenth is beyond the cap and dropped.
    EXPECT_EQ(Log(LogFrame(LogPayload(1, std::vector<LogEntry>(9, e)))).count(), 9u);
    EXPECT_EQ(Log(LogFrame(LogPayload(1, std::vector<LogEntry>(10, e)))).count(), 9u);
}

TEST(LogSplit, FlagBytesDroppedAndMarkers) {
    LogEntry e;
    e.tag.readerId = 42;
    const Bytes payload = LogPayload(3, {e});
    for (std::uint16_t flags : {0x0000, 0x0800, 0x0400, 0x0C00}) {
        const Outcome o = Log(LogFrame(payload, flags));
        ASSERT_EQ(o.count(), 1u) << flags;
        EXPECT_EQ(o.at(0).readerId, "0042"); // the frame's ID bytes (0007) are not used
        EXPECT_EQ(o.at(0).index, "3");
    }
    Bytes badStart = LogFrame(payload);
    badStart[0] = 0x05;
    EXPECT_FALSE(Log(badStart).handedOn);
    // Live frames in log mode and log frames in live mode are skipped.
    EXPECT_FALSE(Log(LiveFrame(Tag{})).handedOn);
    EXPECT_FALSE(Live(LogFrame(payload)).handedOn);
    // A frame with another marker is skipped, the next one is used.
    const Outcome o = Log(Concat({Frame(0x8062, 0x0800, Bytes(70, 1)), LogFrame(payload)}));
    EXPECT_EQ(o.count(), 1u);
}

TEST(LogSplit, RejectedRecordDoesNotEndTheBlock) {
    LogEntry a, bad, c;
    bad.tag.readerId = 0;
    c.tag.uid = 0xCC;
    const Outcome o =
        Log(Concat({LogFrame(LogPayload(10, {a, bad})), LogFrame(LogPayload(20, {c}))}));
    EXPECT_TRUE(o.handedOn);
    EXPECT_EQ(o.pumps, 3);
    ASSERT_EQ(o.count(), 2u);
    EXPECT_EQ(o.at(0).index, "10");
    EXPECT_EQ(o.at(1).index, "20");
    EXPECT_EQ(o.at(1).uid, "00000000000000CC");
}

TEST(LogSplit, PayloadCutAtTheEndOfTheBlock) {
    const LogEntry e;
    const Bytes frame = LogFrame(LogPayload(1, {e, e}));
    // The frame declares two records; a block ending after the first still yields it.
    const std::size_t header = 7 + 2;
    EXPECT_EQ(Log(Bytes(frame.begin(), frame.begin() + header + 8 + 56)).count(), 1u);
    EXPECT_EQ(Log(Bytes(frame.begin(), frame.begin() + header + 8 + 57)).count(), 0u);
    for (std::size_t n = 0; n < frame.size(); ++n) Log(Bytes(frame.begin(), frame.begin() + n));
    // A length of 0xFFFF with a tiny block reads nothing past it.
    EXPECT_FALSE(Log(Bytes{0x06, 0xFF, 0xFF, 0x08, 0x00, 0x80, 0x61}).handedOn);
}
