// The history store: what it keeps of each tag (the newest samples, exactly as posted), its
// two bounds, and that the total drops the oldest samples of all tags first.

#include "monitor/tag_history.h"

#include <QDateTime>
#include <QTimeZone>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

using kelta::monitor::DataShown;
using kelta::monitor::HistorySample;
using kelta::monitor::SensorKind;
using kelta::monitor::SensorSlot;
using kelta::monitor::TagHistory;
using kelta::monitor::TagValues;

TagValues tagValues(TagHistory::Uid uid) {
    TagValues v;
    for (int i = 0; i < 8; ++i)
        v.uid[static_cast<std::size_t>(i)] = std::uint8_t(uid >> (56 - 8 * i));
    return v;
}

// Sample n of a tag: values that differ from sample to sample; every third one without
// readings when `mixed`, the others with one of the reading layouts the decoder makes.
TagValues sampleValues(TagHistory::Uid uid, int n, bool sensors, bool mixed) {
    TagValues v = tagValues(uid);
    v.rssi = static_cast<std::uint8_t>(n * 7 + 1);
    v.battery = static_cast<std::uint8_t>(255 - n % 256);
    if (!sensors || (mixed && n % 3 == 0)) {
        v.dataShown = n % 2 ? DataShown::Raw : DataShown::None;
        return v;
    }
    v.dataShown = DataShown::Sensors;
    switch (n % 3) {
    case 0: // temperature and humidity
        v.sensorCount = 2;
        v.sensors[0] = {SensorSlot::D1H, SensorKind::Temperature, -40.0f + 0.01f * float(n)};
        v.sensors[1] = {SensorSlot::D2H, SensorKind::Humidity, 100.0f / float(n + 3)};
        break;
    case 1: // one probe, in the second slot
        v.sensorCount = 1;
        v.sensors[0] = {SensorSlot::D2H, SensorKind::Temperature, -0.03125f * float(n)};
        break;
    default: // a counter
        v.sensorCount = 1;
        v.sensors[0] = {SensorSlot::D2H, SensorKind::Counter, float(n % 10000)};
        break;
    }
    return v;
}

HistorySample expected(const TagValues& v, qint64 msecs) {
    HistorySample s;
    s.msecs = msecs;
    s.rssi = v.rssi;
    s.battery = v.battery;
    if (v.dataShown == DataShown::Sensors) {
        s.sensorCount = v.sensorCount;
        s.sensors = v.sensors;
    }
    return s;
}

void expectSame(const HistorySample& a, const HistorySample& b, const char* where, int i) {
    EXPECT_EQ(a.msecs, b.msecs) << where << " #" << i;
    EXPECT_EQ(a.rssi, b.rssi) << where << " #" << i;
    EXPECT_EQ(a.battery, b.battery) << where << " #" << i;
    ASSERT_EQ(a.sensorCount, b.sensorCount) << where << " #" << i;
    for (std::size_t k = 0; k < a.sensorCount; ++k) {
        EXPECT_EQ(a.sensors[k].slot, b.sensors[k].slot) << where << " #" << i;
        EXPECT_EQ(a.sensors[k].kind, b.sensors[k].kind) << where << " #" << i;
        // Bit for bit: the value the decoder computed, not one close to it.
        EXPECT_EQ(std::memcmp(&a.sensors[k].value, &b.sensors[k].value, 4), 0)
            << where << " #" << i << ": " << a.sensors[k].value << " vs " << b.sensors[k].value;
    }
}

void expectHolds(const TagHistory& h, TagHistory::Uid uid, const std::deque<HistorySample>& want,
                 const char* where) {
    const std::vector<HistorySample> got = h.samples(uid);
    ASSERT_EQ(got.size(), want.size()) << where;
    for (std::size_t i = 0; i < got.size(); ++i) expectSame(got[i], want[i], where, int(i));
}

TEST(TagHistory, KeepsTheNewestSamplesOfEachTagAsPosted) {
    struct Case {
        const char* name;
        int perTag, posted;
        bool sensors, mixed;
    };
    const Case cases[] = {
        {"fewer than the bound", 2000, 150, false, false},
        {"plain, many blocks over", 2000, 5000, false, false},
        {"readings, many blocks over", 2000, 5000, true, false},
        {"layouts changing", 100, 1000, true, true},
        {"a bound of one", 1, 10, true, true},
    };
    for (const Case& c : cases) {
        TagHistory h({c.perTag, std::size_t{1} << 30});
        const TagHistory::Uid a = 0x0123456789ABCDEFull, b = 0xFEDCBA9876543210ull;
        std::deque<HistorySample> wantA, wantB;
        for (int n = 0; n < c.posted; ++n) {
            const qint64 t = 1'700'000'000'000 + 250 * qint64(n);
            const TagValues va = sampleValues(a, n, c.sensors, c.mixed);
            const TagValues vb = sampleValues(b, n + 1, !c.sensors, c.mixed);
            h.add(va, t);
            h.add(vb, t + 1);
            wantA.push_back(expected(va, t));
            wantB.push_back(expected(vb, t + 1));
            if (int(wantA.size()) > c.perTag) wantA.pop_front(), wantB.pop_front();
        }
        expectHolds(h, a, wantA, c.name);
        expectHolds(h, b, wantB, c.name);
        EXPECT_EQ(h.added(a), std::uint64_t(c.posted)) << c.name;
        EXPECT_EQ(h.sampleCount(), wantA.size() + wantB.size()) << c.name;
        EXPECT_EQ(h.droppedForCap(), 0u) << c.name;

        // Reading on from a serial gives the samples from there; an older serial gives all held.
        std::vector<HistorySample> tail;
        const std::uint64_t from = h.added(a) - 3;
        EXPECT_EQ(h.visit(a, from, [&](const HistorySample& s) { tail.push_back(s); }),
                  std::max(from, h.added(a) - h.count(a)));
        ASSERT_EQ(tail.size(), std::min<std::size_t>(3, wantA.size())) << c.name;
        for (std::size_t i = 0; i < tail.size(); ++i)
            expectSame(tail[i], wantA[wantA.size() - tail.size() + i], c.name, int(i));
        std::size_t all = 0;
        EXPECT_EQ(h.visit(a, 0, [&](const HistorySample&) { ++all; }), h.added(a) - h.count(a));
        EXPECT_EQ(all, wantA.size()) << c.name;
    }
}

TEST(TagHistory, TimesOfAnySpanAndOrderReadBackExactly) {
    TagHistory h;
    const TagHistory::Uid uid = 42;
    // Months apart (past the 32-bit offsets of a block), backwards (a clock set back), the
    // same millisecond twice, and the epoch itself.
    const qint64 day = 86'400'000;
    const std::vector<qint64> times{1'800'000'000'000,
                                    1'800'000'000'000 + 60 * day,
                                    1'800'000'000'000 + 61 * day,
                                    1'800'000'000'000 - 30 * day,
                                    1'800'000'000'000 - 30 * day,
                                    0,
                                    1'800'000'000'001};
    std::deque<HistorySample> want;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const TagValues v = sampleValues(uid, int(i), true, true);
        h.add(v, times[i]);
        want.push_back(expected(v, times[i]));
    }
    expectHolds(h, uid, want, "times");

    // Stamps as a store makes them: the same one for many records, then the next; the same
    // time of day on another day, or at another offset, is another instant.
    TagHistory stamped;
    const QDateTime local = QDateTime::currentDateTime();
    const QDateTime utc(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC);
    const std::vector<QDateTime> stamps{local,
                                        local,
                                        local.addMSecs(1),
                                        local.addDays(1),
                                        utc,
                                        QDateTime(utc.date(), utc.time(), Qt::OffsetFromUTC, 3600),
                                        QDateTime(utc.date(), utc.time(), Qt::OffsetFromUTC, -7200),
                                        utc.toTimeZone(QTimeZone("Europe/Berlin")),
                                        utc.addSecs(3600).toTimeZone(QTimeZone("Europe/Berlin")),
                                        local};
    for (const QDateTime& at : stamps) stamped.add(tagValues(uid), at);
    const std::vector<HistorySample> got = stamped.samples(uid);
    ASSERT_EQ(got.size(), stamps.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].msecs, stamps[i].toMSecsSinceEpoch()) << i;
}

TEST(TagHistory, TheTotalDropsTheOldestSamplesOfAllTagsFirst) {
    const std::size_t blocks = 40;
    const std::size_t cap = blocks * TagHistory::blockBytes() + 4 * TagHistory::kTagBytes;
    // A per-tag bound out of the way: only the total drops samples here.
    TagHistory h({1'000'000, cap});
    std::map<TagHistory::Uid, std::deque<HistorySample>> want;
    const auto post = [&](TagHistory::Uid uid, int n, qint64 t) {
        const TagValues v = sampleValues(uid, n, false, false);
        h.add(v, t);
        want[uid].push_back(expected(v, t));
        while (want[uid].size() > h.count(uid)) want[uid].pop_front();
        ASSERT_LE(h.bytesUsed(), cap);
    };
    // An old tag first, then three that keep reporting.
    const TagHistory::Uid old = 1;
    for (int n = 0; n < 500; ++n) post(old, n, n);
    const std::vector<TagHistory::Uid> busy{2, 3, 4};
    std::uint64_t postedBusy = 0;
    for (int n = 0; h.count(old) > 0; ++n) {
        ASSERT_LT(n, 100000);
        for (TagHistory::Uid uid : busy) {
            post(uid, n, 1'000'000 + 10 * n + qint64(uid));
            ++postedBusy;
            if (h.count(old) == 0) break;
            std::size_t heldBusy = 0;
            for (TagHistory::Uid b : busy) heldBusy += h.count(b);
            ASSERT_EQ(heldBusy, postedBusy)
                << "a newer tag lost samples while older ones were held";
        }
    }
    EXPECT_EQ(h.droppedForCap(), 500u);
    // From here the busy tags drop their own oldest, evenly: none loses much more than the
    // others (one block of samples at most), and each keeps its newest in order.
    for (int n = 0; n < 5000; ++n)
        for (TagHistory::Uid uid : busy) post(uid, n, 2'000'000 + 10 * n + qint64(uid));
    EXPECT_GT(h.droppedForCap(), 500u);
    const std::size_t perBlock = TagHistory::kBlockDataBytes / 6;
    for (TagHistory::Uid uid : busy) {
        EXPECT_NEAR(double(h.count(uid)), double(h.count(busy[0])), double(perBlock)) << uid;
        EXPECT_GT(h.added(uid), h.count(uid)) << uid;
        expectHolds(h, uid, want[uid], "busy tag");
    }
    EXPECT_GE(h.bytesUsed() + TagHistory::blockBytes() * 2, cap) << "the cap is used, not wasted";

    h.clear();
    EXPECT_EQ(h.tagCount(), 0u);
    EXPECT_EQ(h.sampleCount(), 0u);
    EXPECT_EQ(h.bytesReserved(), 0u);
}

// The bounds of the window's history: 10,000 tags of 2,000 samples each. Samples without
// readings all fit; with readings the total holds and the newest of every tag stay.
TEST(TagHistory, TenThousandTagsOfTwoThousandSamplesStayWithinTheCap) {
    for (const bool sensors : {false, true}) {
        TagHistory h;
        const std::size_t cap = h.limits().capBytes;
        std::vector<TagValues> values;
        for (int tag = 0; tag < 10000; ++tag)
            values.push_back(sampleValues(0x5000000000000000ull + tag, tag, sensors, false));
        for (int n = 0; n < 2000; ++n)
            for (int tag = 0; tag < 10000; ++tag) {
                TagValues& v = values[std::size_t(tag)];
                v.rssi = static_cast<std::uint8_t>(n);
                h.add(v, 1'700'000'000'000 + 1000 * qint64(n) + tag);
            }
        EXPECT_LE(h.bytesUsed(), cap) << sensors;
        EXPECT_LE(h.bytesReserved(), cap + 64 * TagHistory::blockBytes()) << sensors;
        EXPECT_EQ(h.tagCount(), 10000u);
        if (!sensors) {
            EXPECT_EQ(h.sampleCount(), 20'000'000u);
            EXPECT_EQ(h.droppedForCap(), 0u);
        } else {
            EXPECT_GT(h.droppedForCap(), 0u);
            EXPECT_EQ(h.sampleCount() + h.droppedForCap(), 20'000'000u);
        }
        // Every tag still has its newest sample, whatever was dropped.
        for (int tag = 0; tag < 10000; tag += 997) {
            const auto held = h.samples(0x5000000000000000ull + tag);
            ASSERT_FALSE(held.empty()) << tag;
            EXPECT_EQ(held.back().rssi, std::uint8_t(1999 % 256)) << tag;
            EXPECT_EQ(held.back().msecs, 1'700'000'000'000 + 1000 * 1999 + tag) << tag;
        }
    }
}

TEST(TagHistory, UidTextsReadAsTheGridsShowThem) {
    EXPECT_EQ(TagHistory::uidText(0x00000000000012ABull), "00000000000012AB");
    EXPECT_EQ(TagHistory::parseUid("00000000000012ab"), 0x12ABull);
    EXPECT_EQ(TagHistory::uidOf({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}),
              0x0123456789ABCDEFull);
    for (const char* bad : {"", "12AB", "+000000000000012", "0x00000000000012", "00000000000012AG",
                            "000000000000012AB"})
        EXPECT_FALSE(TagHistory::parseUid(bad).has_value()) << bad;
}

} // namespace
