#pragma once
// One decoded tag report: its typed values, the display texts made from them, and the
// interface through which the decoder hands accepted records to the tag tables.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kelta::monitor {

// Decoding mode of a monitoring run: live reports, or a reader's stored tag log.
enum class DecodeMode { Live = 0, Log = 1 };

// What the four D bytes of a record hold.
enum class DataShown : std::uint8_t {
    None,    // the model has no data digit: the D texts are empty
    Raw,     // four hex texts of the bytes as received
    Sensors, // readings (below); D_1L and D_2L are empty
};

enum class SensorKind : std::uint8_t { Temperature, Humidity, Counter };
// The grid column a reading is shown in.
enum class SensorSlot : std::uint8_t { D1H, D2H };

struct SensorReading {
    SensorSlot slot = SensorSlot::D1H;
    SensorKind kind = SensorKind::Temperature;
    // Degrees Celsius, percent relative humidity, or the count: single precision, as computed
    // from the raw value. A text shows it to two decimals (a count without any).
    float value = 0.0f;
};

// One GPS coordinate as received: degrees, minutes, seconds and hundredths of a second, and
// the hemisphere (west or south is negative). The bytes are not range-checked.
struct GpsAngle {
    std::uint8_t degrees = 0, minutes = 0, seconds = 0, hundredths = 0;
    bool negative = false;
    // Signed decimal degrees of exactly the parts above.
    double decimalDegrees() const;
};

struct GpsFix {
    GpsAngle longitude, latitude;
    std::uint16_t value1 = 0, value2 = 0;
};

// The time a reader stored with a log record, in the reader's own clock (no zone).
struct LogTime {
    std::uint16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // A real calendar date (years 1-9999) and time of day; a reader may store anything.
    bool valid() const;
};

// The typed values of one accepted record; every display text is made from them.
struct TagValues {
    std::uint16_t readerId = 0;
    std::uint8_t tagVersion = 0;
    std::uint8_t packet = 0; // bits
    std::uint8_t model = 0;
    std::uint8_t keyNo = 0;
    std::uint8_t group = 0;
    std::array<std::uint8_t, 8> uid{};
    std::uint8_t rssi = 0;
    std::uint8_t lqi = 0;
    std::uint8_t state = 0; // bits
    std::uint8_t battery = 0;
    std::uint8_t isnH = 0;
    std::uint8_t isnL = 0;
    std::array<std::uint8_t, 4> data{}; // D_1H, D_1L, D_2H, D_2L as received
    DataShown dataShown = DataShown::None;
    std::uint8_t sensorCount = 0; // readings in sensors, in slot order
    std::array<SensorReading, 2> sensors{};
    std::optional<GpsFix> gps;
    // Log records only.
    bool log = false;
    std::uint16_t index = 0;
    LogTime logTime;
    std::uint16_t logStatus = 0;
};

// Display texts of one accepted record (UTF-8), made from its values by RenderTagTexts. The log
// fields are empty in live mode; gps is empty when the record carries no GPS block.
struct DecodedTagRecord {
    std::string readerId; // "0000" pattern
    std::string uid;      // 16 upper-case hex digits
    std::string rssi;
    std::string lqi;
    std::string tagVer; // 2 hex digits
    std::string packet; // 8 binary digits
    std::string model;
    std::string keyNo;
    std::string group;
    std::string sState; // 8 binary digits
    std::string battery;
    std::string isnH;
    std::string isnL;
    std::string d1h; // raw hex or sensor text
    std::string d1l;
    std::string d2h;
    std::string d2l;
    std::string gps;
    // Log mode only.
    std::string index;       // sequence number
    std::string logDateTime; // "yyyy/mm/dd hh:nn:ss"
    std::string logStatus;
    // What the texts above were made from.
    TagValues values;
    // The record's bytes as upper-case hex digit pairs.
    std::string hex;
    // The link it came over as the link names it: the serial port's two digits ("03") or the
    // network peer's address.
    std::string link;
};

// Writes every display text of `values` into `out` (all but hex and link), the one place
// where the grids', the files' and the messages' texts are made.
void RenderTagTexts(const TagValues& values, DecodedTagRecord& out);

// "2024-03-05T07:08:09" (no zone: the reader's clock), empty when the time is not valid().
std::string LogTimeIso(const LogTime& t);
// The value of a sensor reading exactly as its text shows it: "23.50", "-0.03", "0042" for a
// count read as 42 is written "42".
std::string SensorValueText(const SensorReading& reading);

// Receiver of accepted records: the tag tables.
class TagRecordSink {
public:
    virtual ~TagRecordSink() = default;
    // False while no grid receives records; the decoder then rejects every record.
    virtual bool hasCurrentTagGrid() const = 0;
    virtual void PostTagRecord(const DecodedTagRecord& record, DecodeMode mode) = 0;
};

} // namespace kelta::monitor
