#pragma once
// Helpers of the simulator tests: cutting the reader's byte stream into frames by their
// length fields, and reading a loopback socket while the simulator runs on its thread.

#include "reader-sim/sim_host.h"

#include <QByteArray>
#include <QTcpSocket>
#include <cstdint>
#include <vector>

namespace kelta::sim::test {

struct Cut {
    std::vector<QByteArray> frames; // each from its 0x06 to its declared end
    int skipped = 0;                // bytes outside frames
    QByteArray rest;                // an incomplete frame at the end
};

inline Cut cutFrames(const QByteArray& in) {
    Cut c;
    qsizetype pos = 0;
    while (pos < in.size()) {
        if (static_cast<std::uint8_t>(in[pos]) != 0x06) {
            ++c.skipped;
            ++pos;
            continue;
        }
        if (in.size() - pos < 3) break;
        const int n =
            (static_cast<std::uint8_t>(in[pos + 1]) << 8) | static_cast<std::uint8_t>(in[pos + 2]);
        if (in.size() - pos < n + 3) break;
        c.frames.push_back(in.mid(pos, n + 3));
        pos += n + 3;
    }
    c.rest = in.mid(pos);
    return c;
}

inline int u16(const QByteArray& b, int at) {
    return (static_cast<std::uint8_t>(b[at]) << 8) | static_cast<std::uint8_t>(b[at + 1]);
}

inline std::uint8_t u8(const QByteArray& b, int at) {
    return static_cast<std::uint8_t>(b[at]);
}

inline QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// Reads from the socket until cond(all bytes so far) holds or the time is up.
template <class Cond> bool readUntil(QTcpSocket& s, QByteArray& all, Cond cond, int timeoutMs) {
    return SimHost::waitUntil(
        [&] {
            if (s.bytesAvailable() > 0) all += s.readAll();
            return cond(all);
        },
        timeoutMs);
}

} // namespace kelta::sim::test
