// The typed record and the texts made from it. Over a wide set of inputs (the report fuzz
// corpus and generated frames of every sensor selector, model, version and GPS hemisphere,
// live and log) the texts must stay exactly those of tests/data/decoded_texts.txt, written by
// the decoder before it had a typed record, and every typed value must equal what its text
// shows.
#include "support/generated_reports.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace kelta::monitor;
using namespace testframes;
namespace fs = std::filesystem;

namespace {

// Every text of a record on one line, tab-separated (the hex text aside: it is the bytes).
std::string TextLine(const DecodedTagRecord& r) {
    const std::string* texts[] = {
        &r.readerId, &r.uid,   &r.rssi,   &r.lqi,     &r.tagVer, &r.packet,      &r.model,
        &r.keyNo,    &r.group, &r.sState, &r.battery, &r.isnH,   &r.isnL,        &r.d1h,
        &r.d1l,      &r.d2h,   &r.d2l,    &r.gps,     &r.index,  &r.logDateTime, &r.logStatus};
    std::string line;
    for (const std::string* t : texts) {
        if (!line.empty()) line += '\t';
        line += *t;
    }
    return line;
}

fs::path GoldenFile() {
    return fs::path(KELTA_SOURCE_DIR) / "tests/data/decoded_texts.txt";
}

} // namespace

TEST(TypedRecord, TextsStayThoseOfTheDecoderBeforeIt) {
    const std::vector<DecodedTagRecord> records = kelta::test::DecodedWideSet();
    ASSERT_GT(records.size(), 2000u);

    // KELTA_WRITE_DECODED_TEXTS=1 writes the file anew (only after checking every change).
    if (std::getenv("KELTA_WRITE_DECODED_TEXTS")) {
        std::ofstream out(GoldenFile(), std::ios::binary);
        for (const auto& r : records) out << TextLine(r) << '\n';
        GTEST_SKIP() << "written " << GoldenFile();
    }
    std::ifstream in(GoldenFile(), std::ios::binary);
    ASSERT_TRUE(in) << GoldenFile();
    std::vector<std::string> golden;
    for (std::string l; std::getline(in, l);) golden.push_back(l);
    ASSERT_EQ(golden.size(), records.size());
    int shown = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string line = TextLine(records[i]);
        if (line != golden[i] && shown++ < 10)
            ADD_FAILURE() << "record " << i << "\n  now: " << line << "\n  was: " << golden[i];
    }
    EXPECT_EQ(shown, 0);
}

namespace {

unsigned long FromText(const std::string& text, int base) {
    std::size_t used = 0;
    const unsigned long v = std::stoul(text, &used, base);
    EXPECT_EQ(used, text.size()) << text;
    return v;
}

std::string HexOfUid(const std::array<std::uint8_t, 8>& uid) {
    std::string s;
    AppendHexText(s, uid);
    return s;
}

// The number a sensor text shows and the text after it: "23.50 C / 74.30 F" -> "23.50".
std::string ShownNumber(const std::string& text) {
    return text.substr(0, text.find_first_of(" %"));
}

// The parts of one coordinate of the GPS text: "+121°30'15.25"" -> decimal degrees.
double ShownDegrees(const std::string& part) {
    char sign = 0;
    int d = 0, m = 0, s = 0, hs = 0;
    EXPECT_EQ(std::sscanf(part.c_str(), "%c%d\xC2\xB0%d'%d.%d\"", &sign, &d, &m, &s, &hs), 5)
        << part;
    const double v = d + m / 60.0 + (s + hs / 100.0) / 3600.0;
    return sign == '-' ? -v : v;
}

} // namespace

TEST(TypedRecord, ValuesAreWhatTheTextsShow) {
    const std::vector<DecodedTagRecord> records = kelta::test::DecodedWideSet();
    ASSERT_GT(records.size(), 2000u);
    std::size_t readings[3] = {}, fixes = 0, negative = 0, validLogTimes = 0, invalidLogTimes = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const DecodedTagRecord& r = records[i];
        const TagValues& v = r.values;
        SCOPED_TRACE(testing::Message() << "record " << i << ": " << r.hex);
        EXPECT_EQ(FromText(r.readerId, 10), v.readerId);
        EXPECT_EQ(r.uid, HexOfUid(v.uid));
        EXPECT_EQ(FromText(r.rssi, 10), v.rssi);
        EXPECT_EQ(FromText(r.lqi, 10), v.lqi);
        EXPECT_EQ(FromText(r.battery, 10), v.battery);
        EXPECT_EQ(FromText(r.tagVer, 16), v.tagVersion);
        EXPECT_EQ(FromText(r.model, 16), v.model);
        EXPECT_EQ(FromText(r.keyNo, 16), v.keyNo);
        EXPECT_EQ(FromText(r.group, 16), v.group);
        EXPECT_EQ(FromText(r.packet, 2), v.packet);
        EXPECT_EQ(FromText(r.sState, 2), v.state);
        EXPECT_EQ(FromText(r.isnH, 16), v.isnH);
        EXPECT_EQ(FromText(r.isnL, 16), v.isnL);

        // Each D text is either a raw byte, a reading, or empty, and the readings are exactly
        // the sensor texts.
        const std::string* d[] = {&r.d1h, &r.d1l, &r.d2h, &r.d2l};
        switch (v.dataShown) {
        case DataShown::None:
            for (const std::string* t : d) EXPECT_EQ(*t, "");
            EXPECT_EQ(v.sensorCount, 0);
            break;
        case DataShown::Raw:
            for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(FromText(*d[k], 16), v.data[k]);
            EXPECT_EQ(v.sensorCount, 0);
            break;
        case DataShown::Sensors: {
            EXPECT_EQ(r.d1l + r.d2l, "");
            ASSERT_GE(v.sensorCount, 1);
            std::string shown[2];
            for (std::size_t k = 0; k < v.sensorCount; ++k) {
                const SensorReading& s = v.sensors[k];
                const std::string& text = s.slot == SensorSlot::D1H ? r.d1h : r.d2h;
                ++readings[static_cast<int>(s.kind)];
                negative += s.value < 0;
                shown[s.slot == SensorSlot::D1H ? 0 : 1] = text;
                switch (s.kind) {
                case SensorKind::Temperature:
                    EXPECT_NE(text.find(" C / "), std::string::npos) << text;
                    EXPECT_EQ(ShownNumber(text), SensorValueText(s)) << text;
                    break;
                case SensorKind::Humidity:
                    EXPECT_EQ(text.back(), '%') << text;
                    EXPECT_EQ(ShownNumber(text), SensorValueText(s)) << text;
                    break;
                case SensorKind::Counter:
                    EXPECT_EQ(FromText(text, 10), static_cast<unsigned long>(s.value)) << text;
                    EXPECT_EQ(FromText(SensorValueText(s), 10), FromText(text, 10));
                    break;
                }
            }
            // A text without a reading behind it is empty.
            EXPECT_EQ(r.d1h, shown[0]);
            EXPECT_EQ(r.d2h, shown[1]);
            break;
        }
        }

        if (v.gps) {
            ++fixes;
            const std::size_t comma = r.gps.find(',');
            ASSERT_NE(comma, std::string::npos) << r.gps;
            EXPECT_DOUBLE_EQ(v.gps->longitude.decimalDegrees(),
                             ShownDegrees(r.gps.substr(0, comma)));
            const std::string rest = r.gps.substr(comma + 1);
            const std::size_t c2 = rest.find(',');
            EXPECT_DOUBLE_EQ(v.gps->latitude.decimalDegrees(), ShownDegrees(rest.substr(0, c2)));
            const std::size_t c3 = rest.find(',', c2 + 1);
            EXPECT_EQ(FromText(rest.substr(c2 + 1, c3 - c2 - 1), 10), v.gps->value1);
            EXPECT_EQ(FromText(rest.substr(c3 + 1), 10), v.gps->value2);
        } else {
            EXPECT_EQ(r.gps, "");
        }

        EXPECT_EQ(v.log, !r.logDateTime.empty());
        if (v.log) {
            EXPECT_EQ(FromText(r.index, 10), v.index);
            // "yyyy/mm/dd hh:nn:ss" and its ISO form name the same moment, when it is one.
            std::string iso = r.logDateTime;
            for (char& c : iso) c = c == '/' ? '-' : c == ' ' ? 'T' : c;
            if (v.logTime.valid()) {
                ++validLogTimes;
                EXPECT_EQ(LogTimeIso(v.logTime), iso);
            } else {
                ++invalidLogTimes;
                EXPECT_EQ(LogTimeIso(v.logTime), "");
            }
            EXPECT_EQ(r.logStatus, LogStatusText(v.logStatus));
        }
    }
    // The set reaches every kind of value.
    EXPECT_GT(readings[static_cast<int>(SensorKind::Temperature)], 100u);
    EXPECT_GT(readings[static_cast<int>(SensorKind::Humidity)], 50u);
    EXPECT_GT(readings[static_cast<int>(SensorKind::Counter)], 10u);
    EXPECT_GT(negative, 50u);
    EXPECT_GT(fixes, 500u);
    EXPECT_GT(validLogTimes, 100u);
    EXPECT_GT(invalidLogTimes, 10u);
}

TEST(TypedRecord, GpsDegreesAndLogTimes) {
    struct AngleCase {
        GpsAngle angle;
        double degrees;
    };
    for (const AngleCase& c : {AngleCase{{121, 30, 15, 25, false}, 121.50423611111111},
                               AngleCase{{121, 30, 15, 25, true}, -121.50423611111111},
                               AngleCase{{0, 0, 0, 1, true}, -1.0 / 360000.0},
                               AngleCase{{25, 2, 10, 50, false}, 25.036250000000000}})
        EXPECT_NEAR(c.angle.decimalDegrees(), c.degrees, 1e-12);

    struct TimeCase {
        LogTime time;
        const char* iso;
    };
    for (const TimeCase& c :
         {TimeCase{{2024, 2, 29, 23, 59, 59}, "2024-02-29T23:59:59"},
          TimeCase{{2023, 2, 29, 0, 0, 0}, ""},
          TimeCase{{2000, 2, 29, 0, 0, 0}, "2000-02-29T00:00:00"},
          TimeCase{{1900, 2, 29, 0, 0, 0}, ""}, TimeCase{{2024, 4, 31, 0, 0, 0}, ""},
          TimeCase{{2024, 13, 1, 0, 0, 0}, ""}, TimeCase{{2024, 0, 1, 0, 0, 0}, ""},
          TimeCase{{2024, 1, 1, 24, 0, 0}, ""}, TimeCase{{65535, 1, 1, 0, 0, 0}, ""},
          TimeCase{{0, 1, 1, 0, 0, 0}, ""}})
        EXPECT_EQ(LogTimeIso(c.time), c.iso) << c.iso;
}
