#pragma once
// Report traffic the test writes itself: live report frames of a few tags with values that
// change from frame to frame, so that two runs fed the same list must record the same rows.
// Also a pseudo-terminal registered as COMn in the serial device map.

#include "platform/pty_pair.h"
#include "reader-sim/sim_frames.h"
#include "support/test_env.h"

#include <QFile>
#include <QString>
#include <cstdint>
#include <vector>

namespace kelta::test {

inline sim::Uid uidOf(std::uint16_t n) {
    return {0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            0x00,
            static_cast<std::uint8_t>(n >> 8),
            static_cast<std::uint8_t>(n)};
}

// `count` report frames of frame type `type` from reader `readerId`, cycling through `tags`
// tags (UIDs 0x1000 + i); RSSI, battery and sensor values vary with the frame number.
inline std::vector<sim::Bytes> reportsOfType(std::uint16_t type, int count, int tags,
                                             std::uint16_t readerId = 7) {
    std::vector<sim::Bytes> out;
    for (int i = 0; i < count; ++i) {
        sim::TagReading r;
        r.readerId = readerId;
        r.uid = uidOf(static_cast<std::uint16_t>(0x1000 + i % tags));
        r.rssi = static_cast<std::uint8_t>(30 + i % 50);
        r.lqi = static_cast<std::uint8_t>(90 - i % 40);
        r.battery = static_cast<std::uint8_t>(100 - i % 7);
        r.packet = static_cast<std::uint8_t>(i % 2);
        r.state = static_cast<std::uint8_t>(i % 4);
        r.isnH = static_cast<std::uint8_t>(i / 256);
        r.isnL = static_cast<std::uint8_t>(i % 256);
        r.d1 = static_cast<std::uint16_t>(1000 + 3 * i);
        r.d2 = static_cast<std::uint16_t>(2000 + 5 * i);
        sim::HeaderOptions h;
        h.readerId = readerId;
        out.push_back(sim::encodeLiveFrame(r, type, h));
    }
    return out;
}

// `count` live report frames (see reportsOfType).
inline std::vector<sim::Bytes> liveReports(int count, int tags, std::uint16_t readerId = 7) {
    return reportsOfType(sim::kTypeLive, count, tags, readerId);
}

// Report frames of a type that gives no record (0x6041): each is a frame the run rejects.
inline std::vector<sim::Bytes> rejectedReports(int count, std::uint16_t readerId = 7) {
    return reportsOfType(0x6041, count, 1, readerId);
}

// The frames as one byte stream.
inline sim::Bytes joined(const std::vector<sim::Bytes>& frames) {
    sim::Bytes out;
    for (const auto& f : frames) out.insert(out.end(), f.begin(), f.end());
    return out;
}

// A pseudo-terminal registered as COMn for the life of the object.
class MappedPty {
public:
    explicit MappedPty(int n) : link_(serialMapDir() + QStringLiteral("/COM%1").arg(n)) {
        QFile::remove(link_);
        QFile::link(pty_.slavePath(), link_);
    }
    ~MappedPty() { QFile::remove(link_); }
    PtyPair& pty() { return pty_; }

private:
    PtyPair pty_;
    QString link_;
};

} // namespace kelta::test
