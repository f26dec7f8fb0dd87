#include "reader-sim/sim_reader_state.h"

#include "reader-sim/reader_sim.h"

#include <algorithm>

namespace kelta::sim {

namespace {

constexpr std::uint16_t kCodes[] = {0x0001, 0x0002, 0x0003, 0x000F, 0x8001, 0x6051, 0x6050,
                                    0x6012, 0x6013, 0x6020, 0x601A, 0x601B, 0x601C, 0x601D,
                                    0x8051, 0x8052, 0x8053, 0x6030, 0x6031, 0x603C};

constexpr std::uint8_t kOne = '1', kZero = '0';
// What a reader answers when it refuses a request: too short to be read.
const Bytes kRefused{0x00, 0x00};

std::uint32_t be32(const Bytes& d, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | (at + i < d.size() ? d[at + i] : 0);
    return v;
}

void putU32(Bytes& out, std::uint32_t v) {
    putU16(out, static_cast<std::uint16_t>(v >> 16));
    putU16(out, static_cast<std::uint16_t>(v));
}

Bytes padded(Bytes b, std::size_t n) {
    b.resize(std::max(b.size(), n), 0);
    return b;
}

} // namespace

std::span<const std::uint16_t> simStateCodes() {
    return kCodes;
}

SimReaderState::SimReaderState(ReaderIdentityConfig identity) : identity_(std::move(identity)) {
    restoreDefaults();
}

void SimReaderState::restoreDefaults() {
    const std::uint16_t id = reader_ ? reader_->config().readerId : s_.readerId;
    const std::optional<Bytes> clock = s_.lastClock;
    const int resets = s_.resets, initials = s_.initials;
    s_ = ReaderSettings{};
    s_.readerId = id;
    s_.lastClock = clock;
    s_.resets = resets;
    s_.initials = initials;
    s_.inputs = identity_.inputs;
    s_.parameters = {{0x601A, {0x01, 0x7F, 0x00, 0x03, 0x01, 0x00, 0x3C, 0x00}},
                     {0x601B, {0x00, 0x1E, 0, 0, 0, 0, 0, 0}},
                     {0x601C, {0x00, 0x1E, 0, 0, 0, 0, 0, 0}},
                     {0x601D, {0x00, 0, 0, 0, 0, 0, 0, 0}}};
}

void SimReaderState::install(ReaderSim& reader) {
    reader_ = &reader;
    s_.readerId = reader.config().readerId;
    for (const std::uint16_t code : kCodes)
        reader.setRequestHandler(code, [this](const ReceivedFrame& f) { return answer(f); });
}

std::optional<Bytes> SimReaderState::answer(const ReceivedFrame& f) {
    const Bytes& d = f.data;
    Bytes out;
    switch (f.code) {
    case 0x0001: // model code, serial number, reader ID
        putU16(out, identity_.model);
        putU32(out, identity_.serial);
        putU16(out, s_.readerId);
        return out;
    case 0x0002: // reader ID: query, or a write for this reader's serial number
        if (d.size() >= 6) {
            if (be32(d, 0) != identity_.serial) return kRefused;
            s_.readerId = static_cast<std::uint16_t>(d[4] << 8 | d[5]);
            if (reader_) reader_->setReaderId(s_.readerId);
        }
        putU32(out, identity_.serial);
        putU16(out, s_.readerId);
        return padded(out, 8);
    case 0x0003: { // firmware name (12) and version
        out.assign(identity_.firmware.begin(),
                   identity_.firmware.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(
                                                    12, identity_.firmware.size())));
        out.resize(12, 0);
        putU16(out, identity_.version);
        return padded(out, 16);
    }
    case 0x000F: // reset (01) or initial (02): the defaults come back
        if (d.size() < 8) return kRefused;
        (d[7] == 0x01 ? s_.resets : s_.initials)++;
        restoreDefaults();
        return Bytes{};
    case 0x8001:
        if (d.size() < 8) return kRefused;
        s_.lastClock = Bytes(d.begin(), d.begin() + 8);
        return *s_.lastClock;
    case 0x6051:
        if (d.size() >= 2) s_.zigbeeGroup = static_cast<std::uint16_t>(d[0] << 8 | d[1]);
        putU16(out, s_.zigbeeGroup);
        return out;
    case 0x6050:
        if (!d.empty()) s_.zigbeeMode = d[0];
        return padded({s_.zigbeeMode}, 8);
    case 0x6012:
        if (d.size() >= 2) s_.relays[d[0] == kOne ? 1 : 0] = d[1] == kOne;
        return padded({s_.relays[0] ? kOne : kZero, s_.relays[1] ? kOne : kZero}, 8);
    case 0x6013:
        for (const bool in : s_.inputs) out.push_back(in ? kOne : kZero);
        return padded(out, 8);
    case 0x6020:
        if (d.size() >= 2) s_.modulePorts = {d[0], d[1]};
        return padded({s_.modulePorts[0], s_.modulePorts[1]}, 8);
    case 0x601A:
    case 0x601B:
    case 0x601C:
    case 0x601D:
        if (!d.empty()) s_.parameters[f.code] = padded(d, 8);
        return s_.parameters[f.code];
    case 0x8051:
        return tagDbWrite(d);
    case 0x8052:
        return tagDbRead(d);
    case 0x8053:
        return tagDbDelete(d);
    case 0x6030:
    case 0x6031:
        return block(f);
    case 0x603C:
        return padded({0x00, s_.batteryCode}, 8);
    }
    return std::nullopt;
}

std::optional<Bytes> SimReaderState::block(const ReceivedFrame& f) {
    const Bytes d = padded(f.data, 32);
    const bool write = f.code == 0x6030 && f.data.size() >= 32;
    if (f.data.size() < 16) return kRefused;
    const std::array<std::uint8_t, 8> key{d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12]};
    const std::uint8_t* value = d.data() + 13;
    Bytes out(16, 0);
    if (d[0] == 0xFF && d[1] == 0xFC) { // key slot 1-8
        if (key != identity_.accessKey || d[2] < 1 || d[2] > 8) return kRefused;
        auto& slot = s_.aesKeys[d[2] - 1u];
        if (write) std::copy_n(value, 16, slot.begin());
        std::copy(slot.begin(), slot.end(), out.begin());
    } else if (d[0] == 0xFF && d[1] == 0xFE && d[2] == 0x02) { // administrator key selection
        if (key != identity_.accessKey) return kRefused;
        if (write) s_.adminMask = value[0];
        out[0] = s_.adminMask;
    } else if (d[0] == 0xFF && d[1] == 0xFE && d[2] == 0x03 && d[3] == 0x08) { // BT exciter
        if (write) std::copy_n(value, s_.btExciter.size(), s_.btExciter.begin());
        std::copy(s_.btExciter.begin(), s_.btExciter.end(), out.begin());
    } else if (d[0] == 0xFF && d[1] == 0xFF) { // guest: one item per write
        if (write) {
            if (d[3] == 0x00) s_.sendMode = value[0];
            if (d[3] == 0x11) s_.rssiLimit = value[1];
            if (d[3] == 0x22) s_.versionMask = value[2];
        }
        out[0] = s_.sendMode;
        out[1] = s_.rssiLimit;
        out[2] = s_.versionMask;
    } else if (d[0] == 0xFF && d[1] == 0xFD) { // radio gain, with its constant
        if (key != kSimGainConstant) return kRefused;
        if (write) s_.gainCode = value[11];
        out[11] = s_.gainCode;
    } else {
        return kRefused;
    }
    return out;
}

std::optional<Bytes> SimReaderState::tagDbRead(const Bytes& d) const {
    if (d.size() < 5) return kRefused;
    const std::uint32_t first = be32(d, 0);
    const std::uint32_t count = std::min<std::uint32_t>(d[4], 10);
    if (first < 1 || first > static_cast<std::uint32_t>(identity_.tagDbSize)) return Bytes{};
    Bytes out;
    putU32(out, first);
    out.resize(8, 0);
    for (std::uint32_t k = 0; k < count; ++k) {
        const auto it = s_.tagDb.find(first + k);
        for (std::size_t i = 0; i < 8; ++i)
            out.push_back(it == s_.tagDb.end() ? 0xFF : it->second[i]);
    }
    return out;
}

std::optional<Bytes> SimReaderState::tagDbWrite(const Bytes& d) {
    if (d.size() < 16) return kRefused;
    const std::uint32_t record = be32(d, 0);
    if (record < 1 || record > static_cast<std::uint32_t>(identity_.tagDbSize)) return kRefused;
    std::array<std::uint8_t, 8> uid{};
    std::copy(d.begin() + 8, d.begin() + 16, uid.begin());
    s_.tagDb[record] = uid;
    return Bytes(d.begin(), d.begin() + 8);
}

std::optional<Bytes> SimReaderState::tagDbDelete(const Bytes& d) {
    if (d.size() < 8 || d[6] != 0xAA || d[7] != 0x55) return kRefused;
    const std::uint32_t record = be32(d, 0);
    if (record == 0)
        s_.tagDb.clear();
    else
        s_.tagDb.erase(record);
    return Bytes(d.begin(), d.begin() + 8);
}

} // namespace kelta::sim
