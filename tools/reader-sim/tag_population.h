#pragma once
// The tags a simulated reader hears: identities, versions, models with and without sensors,
// GPS, and the RSSI/LQI ranges of their reports. Deterministic for a given seed.

#include "reader-sim/sim_frames.h"

#include <random>
#include <string>
#include <vector>

namespace kelta::sim {

enum class SensorMix {
    None,  // models whose second hex digit is 0: no sensor values
    Mixed, // every other tag carries sensors
    All,   // every tag carries sensors
};

struct PopulationOptions {
    int count = 10;
    std::vector<Uid> uids;              // given identities first; the rest are drawn
    bool uidHexLetters = false;         // drawn identities may contain the digits A-F
    std::vector<std::uint8_t> versions; // cycled; empty: drawn from 0x10-0x19, 0x20-0x29, 0x30-0x39
    SensorMix sensors = SensorMix::None;
    bool gps = false;               // every tag reports a GPS block
    int rssiMin = 30, rssiMax = 90; // accepted reports need RSSI >= 1
    int lqiMin = 40, lqiMax = 110;  // and LQI >= 21
};

struct TagProfile {
    Uid uid{};
    std::uint8_t version = 0x10;
    std::uint8_t model = 0x10;
    std::uint8_t keyNo = 0;
    std::uint8_t group = 0;
    std::uint8_t battery = 100;
    int sensorSelector = -1; // 0..3 (bits 15-14 of D_1), -1: none
    std::optional<GpsFix> gps;
    std::uint16_t isn = 0; // report counter of the tag
    std::uint8_t packet = 0;
};

std::string uidHex(const Uid& uid); // 16 upper-case hex digits
bool parseUid(const std::string& text, Uid& out);

class TagPopulation {
public:
    TagPopulation(const PopulationOptions& opts, std::uint32_t seed);

    const std::vector<TagProfile>& tags() const { return tags_; }
    std::vector<TagProfile>& tags() { return tags_; }
    // The next report, tags taken in turn; advances the tag's counters.
    TagReading nextReading(std::uint16_t readerId);
    // A stored log of n records from these tags, one per second from 2026/01/01 08:00:00,
    // status codes in turn.
    std::vector<LogEntry> makeLog(int n, std::uint16_t readerId);

private:
    TagReading reading(TagProfile& t, std::uint16_t readerId);
    PopulationOptions opts_;
    std::mt19937 rng_;
    std::vector<TagProfile> tags_;
    std::size_t next_ = 0;
};

} // namespace kelta::sim
