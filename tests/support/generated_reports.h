#pragma once
// A wide set of report blocks for tests that check every decoded record: generated live and
// log frames (every sensor selector, versions and models with and without sensors, raw values
// near zero and the sign bit, GPS in all four hemispheres, valid and invalid log times) and the
// report decoder's fuzz corpus, split in both modes as its fuzz target does. Deterministic: the
// same records in the same order on every run.

#include "proto_decode/frames.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kelta::test {

using namespace testframes;
using kelta::monitor::DecodedTagRecord;
using kelta::monitor::DecodeMode;

// One block and the mode it is split in.
struct Input {
    DecodeMode mode;
    Bytes block;
};

inline Gps RandomGps(std::mt19937& rng) {
    auto byte = [&] { return static_cast<std::uint8_t>(rng() & 0xFF); };
    static const char kLon[] = {'E', 'W', 'w', 'e', 'X'};
    static const char kLat[] = {'N', 'S', 's', 'n', 0};
    Gps g;
    g.lonDeg = static_cast<std::uint8_t>(rng() % 181);
    g.lonMin = static_cast<std::uint8_t>(rng() % 60);
    g.lonSec = static_cast<std::uint8_t>(rng() % 60);
    g.lonHs = static_cast<std::uint8_t>(rng() % 100);
    g.lonHemi = kLon[rng() % 5];
    g.latDeg = static_cast<std::uint8_t>(rng() % 91);
    g.latMin = static_cast<std::uint8_t>(rng() % 60);
    g.latSec = static_cast<std::uint8_t>(rng() % 60);
    g.latHs = static_cast<std::uint8_t>(rng() % 100);
    g.latHemi = kLat[rng() % 5];
    if (rng() % 8 == 0) g.lonMin = byte(); // out-of-range bytes are shown as they are
    g.value1 = static_cast<std::uint16_t>(rng());
    g.value2 = static_cast<std::uint16_t>(rng());
    return g;
}

inline Tag RandomTag(std::mt19937& rng, unsigned n) {
    static const std::uint8_t kVersions[] = {0x10, 0x10, 0x10, 0x19, 0x25, 0x39};
    static const std::uint8_t kModels[] = {0x01, 0x05, 0x09, 0x21, 0x10, 0x0B, 0xA1, 0x99, 0x3A};
    Tag t;
    t.readerId = static_cast<std::uint16_t>(1 + rng() % 9999);
    t.version = kVersions[rng() % 6];
    t.packet = static_cast<std::uint8_t>(rng());
    t.model = kModels[rng() % 9];
    t.keyNo = static_cast<std::uint8_t>(rng());
    t.group = static_cast<std::uint8_t>(rng());
    t.uid = (std::uint64_t{rng()} << 32) | rng() | 1;
    t.rssi = static_cast<std::uint8_t>(1 + rng() % 255);
    t.lqi = static_cast<std::uint8_t>(21 + rng() % 235);
    t.state = static_cast<std::uint8_t>(rng());
    t.battery = static_cast<std::uint8_t>(rng());
    t.isnH = static_cast<std::uint8_t>(rng());
    t.isnL = static_cast<std::uint8_t>(rng());
    // Every selector in turn, raw values anywhere in their range; some near the sign bit and
    // zero, where rounding and negative values show.
    const std::uint16_t sel = static_cast<std::uint16_t>((n % 4) << 14);
    std::uint16_t r1 = static_cast<std::uint16_t>(rng() & 0x3FFF);
    std::uint16_t r2 = static_cast<std::uint16_t>(rng());
    if (n % 5 == 0) r1 = static_cast<std::uint16_t>(rng() % 8);
    if (n % 7 == 0) r2 = static_cast<std::uint16_t>(n % 3 == 0 ? 0 : 0x2000 + rng() % 8);
    if (n % 11 == 0) r1 = static_cast<std::uint16_t>(4000 + rng() % 3); // about 0 °C
    if ((n % 4) == 1 && n % 3 == 0) r2 = static_cast<std::uint16_t>(0x1000 * (rng() % 10) + 0x0987);
    t.d1 = static_cast<std::uint16_t>(sel | r1);
    t.d2 = r2;
    if (rng() % 2) t.gps = RandomGps(rng);
    return t;
}

inline std::vector<Input> GeneratedInputs() {
    std::mt19937 rng(20261209);
    std::vector<Input> inputs;
    for (unsigned n = 0; n < 1200; ++n)
        inputs.push_back({DecodeMode::Live, LiveFrame(RandomTag(rng, n))});
    for (unsigned n = 0; n < 300; ++n) {
        std::vector<LogEntry> entries;
        for (unsigned k = 0; k < 4; ++k) {
            LogEntry e;
            e.tag = RandomTag(rng, n * 4 + k);
            e.year = static_cast<std::uint16_t>(rng() % 3 ? 2000 + rng() % 60 : rng());
            e.month = static_cast<std::uint8_t>(rng() % 3 ? 1 + rng() % 12 : rng());
            e.day = static_cast<std::uint8_t>(1 + rng() % 31);
            e.hour = static_cast<std::uint8_t>(rng() % 24);
            e.minute = static_cast<std::uint8_t>(rng() % 60);
            e.second = static_cast<std::uint8_t>(rng() % 60);
            e.status = static_cast<std::uint16_t>(rng() % 2 ? rng() % 100 : rng());
            if (rng() % 2) e.gps = RandomGps(rng);
            entries.push_back(e);
        }
        inputs.push_back(
            {DecodeMode::Log, LogFrame(LogPayload(static_cast<std::uint16_t>(rng()), entries))});
    }
    return inputs;
}

// The fuzz corpus of the report decoder, split in both modes as its fuzz target does.
inline std::vector<Input> CorpusInputs() {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(
             std::filesystem::path(KELTA_SOURCE_DIR) / "fuzz/corpus/fuzz_report"))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<Input> inputs;
    for (const auto& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (s.empty()) continue;
        const Bytes block(s.begin() + 1, s.end());
        inputs.push_back({DecodeMode::Live, block});
        inputs.push_back({DecodeMode::Log, block});
    }
    return inputs;
}

inline std::vector<DecodedTagRecord> DecodeAll(const std::vector<Input>& inputs) {
    CollectingSink sink;
    for (const Input& in : inputs)
        kelta::monitor::SplitReportBlock(in.mode, kelta::monitor::LinkKind::Serial, "03", in.block,
                                         sink);
    return sink.records;
}

// Both sets, generated first.
inline std::vector<DecodedTagRecord> DecodedWideSet() {
    std::vector<Input> inputs = GeneratedInputs();
    const std::vector<Input> corpus = CorpusInputs();
    inputs.insert(inputs.end(), corpus.begin(), corpus.end());
    return DecodeAll(inputs);
}

} // namespace kelta::test
