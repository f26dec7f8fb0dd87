#pragma once
// One decoded tag report as the tag tables show it, and the interface through which the
// decoder hands accepted records to them.

#include <string>

namespace kelta::monitor {

// Decoding mode of a monitoring run: live reports, or a reader's stored tag log.
enum class DecodeMode { Live = 0, Log = 1 };

// Display texts of one accepted record (UTF-8). The log fields are empty in live mode; gps is
// empty when the record carries no GPS block.
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
    // The record's bytes as upper-case hex digit pairs.
    std::string hex;
    // The link it came over as the link names it: the serial port's two digits ("03") or the
    // network peer's address.
    std::string link;
};

// Receiver of accepted records: the tag tables.
class TagRecordSink {
public:
    virtual ~TagRecordSink() = default;
    // False while no grid receives records; the decoder then rejects every record.
    virtual bool hasCurrentTagGrid() const = 0;
    virtual void PostTagRecord(const DecodedTagRecord& record, DecodeMode mode) = 0;
};

} // namespace kelta::monitor
