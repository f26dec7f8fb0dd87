#pragma once
// Identity and version of a reader: model code, serial number and reader ID, the model
// table, the clock, the firmware name and version, reset and initial.

#include "reader/proto/commands/payload.h"

#include <string>
#include <string_view>

namespace kelta::reader::cmd {

inline constexpr std::uint16_t kModelCode = 0x0001;
inline constexpr std::uint16_t kReaderId = 0x0002;
inline constexpr std::uint16_t kVersion = 0x0003;
inline constexpr std::uint16_t kReset = 0x000F;
inline constexpr std::uint16_t kClock = 0x8001;

// Answer to 0x0001 (at least 8 bytes): model code, serial number, reader ID.
struct ModelAnswer {
    std::uint16_t model = 0;
    std::uint32_t serial = 0;
    std::uint16_t readerId = 0;
};
std::optional<ModelAnswer> DecodeModelAnswer(Answer d);

// Settings pages of the "Set Reader" page a model may show.
enum Page : unsigned {
    kPageAes = 1u << 0,
    kPageAdmin = 1u << 1,
    kPageGuest = 1u << 2,
    kPageZigBee = 1u << 3,
    kPageDiDo = 1u << 4,
    kPageParameter = 1u << 5,
    kPageBtExciter = 1u << 6,
    kPageExciter = 1u << 7,
};

struct ReaderModel {
    std::uint16_t code;
    const char* name;
    unsigned pages;   // Page bits made visible
    Page activePage;  // the page made active
    bool modulePorts; // the module-port group is shown
    bool setsClock;   // the reader's clock is set after identification
};
// The model of a code; nullptr for a code that names no reader.
const ReaderModel* FindModel(std::uint16_t code);
std::span<const ReaderModel> ModelTable();

// 0x8001: year (2), month, day, hour, minute, second, 0.
struct ClockTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
Bytes EncodeClock(const ClockTime& t);

// Answer to 0x0003 (at least 16 bytes): name from byte 0 up to the first zero (at most 12
// characters) and the version number of bytes 12-13.
struct VersionAnswer {
    std::string name;
    std::uint16_t version = 0;
};
std::optional<VersionAnswer> DecodeVersion(Answer d);

// 0x0002 query answer (at least 8 bytes), and the write: serial (4), reader ID (2), 00 00.
struct ReaderIdentity {
    std::uint32_t serial = 0;
    std::uint16_t readerId = 0;
};
std::optional<ReaderIdentity> DecodeReaderIdentity(Answer d);
Bytes EncodeReaderIdentity(const ReaderIdentity& id);

// 0x000F: serial (4), 00 00 00, then 01 reset or 02 initial (reader or parameters).
enum class ResetKind : std::uint8_t { Reset = 0x01, Initial = 0x02 };
Bytes EncodeReset(std::uint32_t serial, ResetKind kind);

// The number of a text read as hexadecimal / decimal, or the fallback when it is not one.
std::uint32_t HexNumberOr(std::string_view text, std::uint32_t fallback);
long long DecimalOr(std::string_view text, long long fallback);

} // namespace kelta::reader::cmd
