// The simulator's frames against their byte layout, and the collector of incoming frames.

#include "reader-sim/sim_frames.h"
#include "reader-sim/tag_population.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace kelta::sim;

namespace {

Bytes bytesOf(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
    return b;
}

TagReading sampleReading() {
    TagReading r;
    r.readerId = 0x0102;
    r.version = 0x25;
    r.packet = 0x81;
    r.model = 0x21;
    r.keyNo = 0x03;
    r.group = 0x04;
    r.uid = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56};
    r.rssi = 77;
    r.lqi = 21;
    r.state = 0xA5;
    r.battery = 99;
    r.isnH = 0xBE;
    r.isnL = 0xEF;
    r.d1 = 0x8000 + 6500;
    r.d2 = 0x1234;
    return r;
}

} // namespace

TEST(SimCrc, MatchesKnownVectors) {
    const std::string check = "123456789";
    EXPECT_EQ(crc16(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
              0x2189);
    // Request 0x0003 without and with reader ID 1: the CRC covers bytes 1 .. end of payload.
    const Bytes a = bytesOf({0x00, 0x06, 0x80, 0x01, 0x00, 0x03});
    EXPECT_EQ(crc16(a), 0x7EB1);
    const Bytes b = bytesOf({0x00, 0x08, 0x88, 0x01, 0x00, 0x03, 0x00, 0x01});
    EXPECT_EQ(crc16(b), 0x0FBF);
    EXPECT_EQ(crc16({}), 0x0000);
}

TEST(SimFrames, AnswerHeaderVariants) {
    const Bytes data = bytesOf({0xAA, 0xBB, 0xCC});
    HeaderOptions plain;
    plain.withReaderId = false;
    const Bytes a = encodeAnswer(0x0003, plain, data);
    // 06, length, flags, code, data, two trailing bytes.
    ASSERT_EQ(a.size(), 7u + 3 + 2);
    EXPECT_EQ(a[0], 0x06);
    EXPECT_EQ(getU16(a, 1), a.size() - 3);
    EXPECT_EQ(getU16(a, 3), 0x0000);
    EXPECT_EQ(getU16(a, 5), 0x0003);
    EXPECT_EQ(Bytes(a.begin() + 7, a.begin() + 10), data);
    EXPECT_EQ(getU16(a, 10), crc16(std::span(a).subspan(1, 9)));

    HeaderOptions both;
    both.readerId = 0x1234;
    both.withExtension = true;
    const Bytes b = encodeAnswer(0x0041, both, data);
    ASSERT_EQ(b.size(), 7u + 2 + 4 + 3 + 2);
    EXPECT_EQ(getU16(b, 3), 0x0C00);
    EXPECT_EQ(getU16(b, 7), 0x1234);
    EXPECT_EQ(Bytes(b.begin() + 9, b.begin() + 13), bytesOf({0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(Bytes(b.begin() + 13, b.begin() + 16), data);
}

TEST(SimFrames, LiveFrameCarriesRecordAfterHeader) {
    const TagReading r = sampleReading();
    HeaderOptions h;
    const Bytes f = encodeLiveFrame(r, kTypeLive, h);
    // 06 len 0800 6040 id, then the record from its offset 2: 24 bytes.
    ASSERT_EQ(f.size(), 9u + 24);
    EXPECT_EQ(getU16(f, 1), 30);
    EXPECT_EQ(getU16(f, 3), 0x0800);
    EXPECT_EQ(getU16(f, 5), 0x6040);
    // The header ID and the body form the record as the utility reassembles it.
    Bytes rec(f.begin() + 7, f.end());
    ASSERT_EQ(rec.size(), 26u);
    EXPECT_EQ(getU16(rec, 0), 0x0102);
    EXPECT_EQ(rec[2], 0);
    EXPECT_EQ(rec[3], 0x25);
    EXPECT_EQ(rec[4], 0x81);
    EXPECT_EQ(rec[5], 0x21);
    EXPECT_EQ(rec[6], 0x03);
    EXPECT_EQ(rec[7], 0x04);
    EXPECT_EQ(uidHex(Uid{rec[8], rec[9], rec[10], rec[11], rec[12], rec[13], rec[14], rec[15]}),
              "1234567890123456");
    EXPECT_EQ(rec[16], 77);
    EXPECT_EQ(rec[17], 21);
    EXPECT_EQ(rec[18], 0xA5);
    EXPECT_EQ(rec[19], 99);
    EXPECT_EQ(rec[20], 0xBE);
    EXPECT_EQ(rec[21], 0xEF);
    EXPECT_EQ(getU16(rec, 22), 0x8000 + 6500);
    EXPECT_EQ(getU16(rec, 24), 0x1234);

    // Four extra header bytes sit between the ID and the body; type 0x6042.
    h.withExtension = true;
    const Bytes g = encodeLiveFrame(r, kTypeLiveAlt, h);
    ASSERT_EQ(g.size(), f.size() + 4);
    EXPECT_EQ(getU16(g, 3), 0x0C00);
    EXPECT_EQ(getU16(g, 5), 0x6042);
    EXPECT_EQ(Bytes(g.begin() + 13, g.end()), Bytes(f.begin() + 9, f.end()));
}

TEST(SimFrames, GpsRecordIsLongEnoughAndLaidOut) {
    TagReading r = sampleReading();
    GpsFix g;
    g.lonDeg = 121;
    g.lonMin = 5;
    g.lonSec = 6;
    g.lonHund = 7;
    g.lonHemisphere = 'W';
    g.latDeg = 23;
    g.latMin = 1;
    g.latSec = 2;
    g.latHund = 3;
    g.latHemisphere = 'S';
    g.value1 = 300;
    g.value2 = 9;
    r.gps = g;
    const Bytes rec = encodeTagRecord(r);
    ASSERT_GE(rec.size(), 41u); // the GPS block is read only from 41 bytes on
    EXPECT_EQ(Bytes(rec.begin() + 26, rec.begin() + 40),
              bytesOf({121, 5, 6, 7, 'W', 23, 1, 2, 3, 'S', 0x01, 0x2C, 0x00, 0x09}));
}

TEST(SimFrames, LogFrameLayoutAndRecords) {
    std::vector<LogEntry> entries(3);
    for (int i = 0; i < 3; ++i) {
        entries[i].tag = sampleReading();
        entries[i].year = 2026;
        entries[i].month = 12;
        entries[i].day = 8;
        entries[i].hour = 13;
        entries[i].minute = 14;
        entries[i].second = static_cast<std::uint8_t>(15 + i);
        entries[i].status = static_cast<std::uint16_t>(39 + i);
    }
    entries[1].tag.gps = GpsFix{};
    HeaderOptions h;
    h.readerId = 7;
    h.withExtension = true;
    const Bytes f = encodeLogFrame(0xFFFE, entries, h);
    EXPECT_EQ(getU16(f, 5), 0x8061);
    EXPECT_EQ(getU16(f, 1), f.size() - 3);
    const std::size_t payloadAt = 7 + 2 + 4;
    const Bytes payload(f.begin() + static_cast<std::ptrdiff_t>(payloadAt), f.end());
    ASSERT_EQ(payload.size(), 8u + 3 * 56);
    EXPECT_EQ(getU16(payload, 4), 0xFFFE);
    for (int i = 0; i < 3; ++i) {
        const auto rec = std::span(payload).subspan(8 + 56 * static_cast<std::size_t>(i), 56);
        EXPECT_EQ(rec[0], i == 1 ? 1 : 0) << i;
        EXPECT_EQ(getU16(rec, 1), 2026);
        EXPECT_EQ(rec[3], 12);
        EXPECT_EQ(rec[4], 8);
        EXPECT_EQ(rec[5], 13);
        EXPECT_EQ(rec[6], 14);
        EXPECT_EQ(rec[7], 15 + i);
        EXPECT_EQ(getU16(rec, 8), 0x0102); // embedded tag record: reader ID first
        EXPECT_EQ(rec[8 + 3], 0x25);
        EXPECT_EQ(getU16(rec, 54), 39 + i);
    }
    // The GPS block of the second record, at log offsets 34-47.
    const auto rec1 = std::span(payload).subspan(8 + 56, 56);
    EXPECT_EQ(rec1[34], GpsFix{}.lonDeg);
    EXPECT_EQ(rec1[34 + 4], 'E');
}

TEST(SimCollector, FindsFramesAmidGarbageSplitAndMerged) {
    const Bytes req = bytesOf({0x05, 0x00, 0x08, 0x88, 0x01, 0x00, 0x03, 0x00, 0x01, 0x0F, 0xBF});
    const Bytes ann =
        bytesOf({0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, 0x30, 0x31, 0, 0, 0, 0, 0, 0});
    Bytes stream = bytesOf({0x00, 0x42, 0x05, 0x00, 0x01}); // garbage, a start byte with length 1
    stream.insert(stream.end(), req.begin(), req.end());
    stream.insert(stream.end(), ann.begin(), ann.end());
    stream.insert(stream.end(), req.begin(), req.end());

    // Fed one byte at a time and all at once, the same frames come out.
    for (bool oneByOne : {true, false}) {
        FrameCollector c;
        std::vector<ReceivedFrame> out;
        if (oneByOne) {
            for (std::uint8_t b : stream) c.feed(std::span(&b, 1), out);
        } else {
            c.feed(stream, out);
        }
        ASSERT_EQ(out.size(), 3u) << oneByOne;
        EXPECT_TRUE(out[0].hasCrc);
        EXPECT_TRUE(out[0].crcOk);
        EXPECT_EQ(out[0].code, 0x0003);
        EXPECT_EQ(out[0].readerId, 1);
        EXPECT_TRUE(out[0].data.empty());
        EXPECT_FALSE(out[1].hasCrc);
        EXPECT_EQ(out[1].code, 0x6011);
        EXPECT_EQ(out[1].flags, 0x0000);
        EXPECT_FALSE(out[1].readerId);
        EXPECT_EQ(out[1].data, bytesOf({0x30, 0x31, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(out[1].raw, ann);
        EXPECT_EQ(c.pendingBytes(), 0u);
        EXPECT_EQ(c.skippedBytes(), 5u);
    }
}

TEST(SimCollector, FlagsDamagedCrcAndKeepsPayload) {
    Bytes req = bytesOf({0x05, 0x00, 0x07, 0x80, 0x01, 0x00, 0x41, 0x7F, 0x00, 0x00});
    const std::uint16_t c = crc16(std::span(req).subspan(1, 7));
    req[8] = static_cast<std::uint8_t>(c >> 8);
    req[9] = static_cast<std::uint8_t>(c);
    FrameCollector col;
    std::vector<ReceivedFrame> out;
    col.feed(req, out);
    req[9] ^= 0x01;
    col.feed(req, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0].crcOk);
    EXPECT_EQ(out[0].data, bytesOf({0x7F}));
    EXPECT_FALSE(out[1].crcOk);
    EXPECT_TRUE(out[1].hasCrc);
}

TEST(SimPopulation, DefaultsPassTheUtilitysAcceptanceRules) {
    PopulationOptions o;
    o.count = 200;
    o.sensors = SensorMix::Mixed;
    TagPopulation pop(o, 42);
    std::set<std::string> uids;
    for (const TagProfile& t : pop.tags()) {
        const std::string u = uidHex(t.uid);
        uids.insert(u);
        EXPECT_EQ(u.find_first_of("ABCDEF"), std::string::npos) << u;
        EXPECT_NE(u, std::string(16, '0'));
        const int hi = t.version >> 4, lo = t.version & 0xF;
        EXPECT_TRUE(hi >= 1 && hi <= 3 && lo <= 9) << int(t.version);
        const int modelLow = t.model & 0xF;
        if (t.sensorSelector >= 0) {
            EXPECT_EQ(t.version, 0x10);
            EXPECT_GT(modelLow, 0);
            EXPECT_LE(modelLow, 9);
        } else {
            EXPECT_EQ(modelLow, 0);
        }
    }
    EXPECT_GT(uids.size(), 190u); // drawn identities practically never repeat
    for (int i = 0; i < 1000; ++i) {
        const TagReading r = pop.nextReading(5);
        EXPECT_EQ(r.readerId, 5);
        EXPECT_GE(r.rssi, 1);
        EXPECT_GE(r.lqi, 21);
    }
}

TEST(SimPopulation, SensorWordsReadAsPlausibleTemperatures) {
    PopulationOptions o;
    o.count = 4;
    o.sensors = SensorMix::All;
    TagPopulation pop(o, 7);
    std::set<int> selectors;
    for (int i = 0; i < 40; ++i) {
        const TagReading r = pop.nextReading(1);
        const int sel = r.d1 >> 14;
        selectors.insert(sel);
        const int r1 = r.d1 & 0x3FFF;
        double t = 25;
        if (sel == 2) t = r1 * 0.01 - 40;
        if (sel == 0) t = ((r1 & 0x2000) ? r1 - 16384 : r1) * 0.03125;
        if (sel == 3) t = (r1 * 2 - 27315) * 0.01;
        EXPECT_GE(t, 19.0) << sel;
        EXPECT_LE(t, 31.0) << sel;
        if (sel == 1) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%04X", r.d2);
            EXPECT_EQ(std::string(buf).find_first_of("ABCDEF"), std::string::npos);
        }
    }
    EXPECT_EQ(selectors, (std::set<int>{0, 1, 2, 3}));
}

TEST(SimPopulation, GivenAndHexUidsSeededAndLog) {
    PopulationOptions o;
    o.count = 30;
    o.uids = {Uid{0, 0, 0, 0, 0, 0, 0, 0xA1}};
    o.uidHexLetters = true;
    o.gps = true;
    TagPopulation a(o, 9), b(o, 9);
    EXPECT_EQ(uidHex(a.tags()[0].uid), "00000000000000A1");
    bool letters = false;
    for (std::size_t i = 0; i < a.tags().size(); ++i) {
        EXPECT_EQ(a.tags()[i].uid, b.tags()[i].uid);
        EXPECT_TRUE(a.tags()[i].gps.has_value());
        letters |= uidHex(a.tags()[i].uid).find_first_of("ABCDEF") != std::string::npos;
    }
    EXPECT_TRUE(letters);

    const auto log = a.makeLog(25, 3);
    ASSERT_EQ(log.size(), 25u);
    EXPECT_EQ(log[0].status, 1);
    EXPECT_EQ(log[7].status, 39);
    EXPECT_EQ(log[11].status, 8); // a code without a text of its own
    EXPECT_EQ(log[0].hour, 8);
    EXPECT_EQ(log[24].second, 24);
    EXPECT_EQ(log[24].tag.readerId, 3);
}
