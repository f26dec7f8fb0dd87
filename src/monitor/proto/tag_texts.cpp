// The display texts of a decoded record, made from its typed values: the grids, the auto-save
// and event-log files and the messages' text fields all show these.
#include "monitor/proto/report_decoder.h"
#include "monitor/proto/tag_record.h"

#include <cstdio>

namespace kelta::monitor {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void SetHex2(std::string& out, std::uint8_t b) {
    const char text[2] = {kHexDigits[b >> 4], kHexDigits[b & 0x0F]};
    out.assign(text, 2);
}

void SetBinary8(std::string& out, std::uint8_t b) {
    char text[8];
    for (int i = 0; i < 8; ++i) text[i] = (b & (0x80 >> i)) ? '1' : '0';
    out.assign(text, 8);
}

void SetDecimal(std::string& out, unsigned value) {
    char text[12];
    const int n = std::snprintf(text, sizeof text, "%u", value);
    out.assign(text, static_cast<std::size_t>(n));
}

void SetSensor(std::string& out, const SensorReading& s) {
    char text[64];
    int n = 0;
    switch (s.kind) {
    case SensorKind::Temperature: {
        // Fahrenheit from the single-precision Celsius value.
        const float fahrenheit = s.value * 1.8f + 32.0f;
        n = std::snprintf(text, sizeof text, "%3.2f C / %3.2f F", static_cast<double>(s.value),
                          static_cast<double>(fahrenheit));
        break;
    }
    case SensorKind::Humidity:
        n = std::snprintf(text, sizeof text, "%3.2f%%", static_cast<double>(s.value));
        break;
    case SensorKind::Counter:
        n = std::snprintf(text, sizeof text, "%04u", static_cast<unsigned>(s.value));
        break;
    }
    out.assign(text, static_cast<std::size_t>(n));
}

// Sign, then degrees, U+00B0 DEGREE SIGN (UTF-8), minutes, seconds and hundredths.
std::size_t WriteAngle(char* out, std::size_t room, const GpsAngle& a) {
    return static_cast<std::size_t>(std::snprintf(out, room, "%c%d\xC2\xB0%02d'%02d.%02d\"",
                                                  a.negative ? '-' : '+', a.degrees, a.minutes,
                                                  a.seconds, a.hundredths));
}

void SetGps(std::string& out, const GpsFix& g) {
    char text[128];
    std::size_t n = WriteAngle(text, sizeof text, g.longitude);
    text[n++] = ',';
    n += WriteAngle(text + n, sizeof text - n, g.latitude);
    n += static_cast<std::size_t>(
        std::snprintf(text + n, sizeof text - n, ",%u,%u", unsigned{g.value1}, unsigned{g.value2}));
    out.assign(text, n);
}

} // namespace

double GpsAngle::decimalDegrees() const {
    const double d = degrees + minutes / 60.0 + (seconds + hundredths / 100.0) / 3600.0;
    return negative ? -d : d;
}

bool LogTime::valid() const {
    static const std::uint8_t kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1])
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return false;
    return hour < 24 && minute < 60 && second < 60;
}

std::string LogTimeIso(const LogTime& t) {
    if (!t.valid()) return {};
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u",
                                unsigned{t.year}, unsigned{t.month}, unsigned{t.day},
                                unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
    return std::string(text, static_cast<std::size_t>(n));
}

std::string SensorValueText(const SensorReading& s) {
    char text[32];
    const int n = s.kind == SensorKind::Counter
                      ? std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(s.value))
                      : std::snprintf(text, sizeof text, "%.2f", static_cast<double>(s.value));
    return std::string(text, static_cast<std::size_t>(n));
}

void RenderTagTexts(const TagValues& v, DecodedTagRecord& r) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u", unsigned{v.readerId});
    r.readerId = text;
    r.uid.resize(16);
    for (std::size_t i = 0; i < v.uid.size(); ++i) {
        r.uid[2 * i] = kHexDigits[v.uid[i] >> 4];
        r.uid[2 * i + 1] = kHexDigits[v.uid[i] & 0x0F];
    }
    SetHex2(r.tagVer, v.tagVersion);
    SetBinary8(r.packet, v.packet);
    SetHex2(r.model, v.model);
    SetHex2(r.keyNo, v.keyNo);
    SetHex2(r.group, v.group);
    SetDecimal(r.rssi, v.rssi);
    SetDecimal(r.lqi, v.lqi);
    SetBinary8(r.sState, v.state);
    SetDecimal(r.battery, v.battery);
    SetHex2(r.isnH, v.isnH);
    SetHex2(r.isnL, v.isnL);

    std::string* data[] = {&r.d1h, &r.d1l, &r.d2h, &r.d2l};
    for (std::string* d : data) d->clear();
    switch (v.dataShown) {
    case DataShown::None:
        break;
    case DataShown::Raw:
        for (std::size_t i = 0; i < 4; ++i) SetHex2(*data[i], v.data[i]);
        break;
    case DataShown::Sensors:
        for (std::size_t i = 0; i < v.sensorCount && i < v.sensors.size(); ++i) {
            const SensorReading& s = v.sensors[i];
            SetSensor(s.slot == SensorSlot::D1H ? r.d1h : r.d2h, s);
        }
        break;
    }

    if (v.gps)
        SetGps(r.gps, *v.gps);
    else
        r.gps.clear();
    if (v.log) {
        std::snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", unsigned{v.logTime.year},
                      unsigned{v.logTime.month}, unsigned{v.logTime.day}, unsigned{v.logTime.hour},
                      unsigned{v.logTime.minute}, unsigned{v.logTime.second});
        r.logDateTime = text;
        SetDecimal(r.index, v.index);
        r.logStatus = LogStatusText(v.logStatus);
    } else {
        r.logDateTime.clear();
        r.index.clear();
        r.logStatus.clear();
    }
}

} // namespace kelta::monitor
