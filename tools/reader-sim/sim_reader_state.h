#pragma once
// A reader's settings as the simulator keeps them: identity, ZigBee, relays and inputs, keys,
// guest settings, gain, module ports, parameter blocks, the tag database, the BT exciter and
// the battery. Installed on a ReaderSim, it answers every reader request of the "Set
// Reader" page; writes change the store and reads return it. Key-slot and administrator
// blocks need the access key; a wrong key gets a short answer. Reset and initial restore
// the defaults.
//
// Written from the reader's side, independently of the utility's command catalogue.

#include "reader-sim/sim_frames.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kelta::sim {

class ReaderSim;

struct ReaderIdentityConfig {
    std::uint16_t model = 0x8402; // LR900-A
    std::uint32_t serial = 0x00123456;
    std::string firmware = "LR900-SIM"; // at most 12 characters are reported
    std::uint16_t version = 0x0114;
    int tagDbSize = 500; // records 1..size
    std::array<std::uint8_t, 8> accessKey{0x7D, 0x41, 0xA0, 0x9C, 0x3E, 0x5B, 0x2F, 0x86};
    std::array<bool, 4> inputs{true, false, true, false}; // digital inputs
};

// The gain block carries this constant in place of an access key.
inline constexpr std::array<std::uint8_t, 8> kSimGainConstant{'G', 'A', 'I', 'N',
                                                              'B', 'L', 'K', '1'};

struct ReaderSettings {
    std::uint16_t readerId = 1;
    std::uint16_t zigbeeGroup = 1;
    std::uint8_t zigbeeMode = 0;
    std::array<bool, 2> relays{};
    std::array<bool, 4> inputs{};
    std::array<std::array<std::uint8_t, 16>, 8> aesKeys{};
    std::uint8_t adminMask = 0x01;
    std::uint8_t sendMode = '3';
    std::uint8_t rssiLimit = 0;
    std::uint8_t versionMask = 0x07;
    std::uint8_t gainCode = 0xC7;
    std::array<std::uint8_t, 2> modulePorts{};
    std::map<std::uint16_t, Bytes> parameters;                  // 0x601A-0x601D, 8 bytes each
    std::map<std::uint32_t, std::array<std::uint8_t, 8>> tagDb; // record -> bytes as sent
    std::array<std::uint8_t, 9> btExciter{0x00, 0x01, 0x00, 30, 0x00, 1, 1, 0, 29};
    std::uint8_t batteryCode = 35;
    std::optional<Bytes> lastClock; // the 8 bytes of the last clock received
    int resets = 0, initials = 0;
};

class SimReaderState {
public:
    explicit SimReaderState(ReaderIdentityConfig identity = {});

    // Registers a request handler for every command code on the reader (its thread).
    void install(ReaderSim& reader);

    const ReaderIdentityConfig& identity() const { return identity_; }
    ReaderSettings& settings() { return s_; }
    const ReaderSettings& settings() const { return s_; }
    void setModel(std::uint16_t model) { identity_.model = model; }
    void setInputs(std::array<bool, 4> inputs) { s_.inputs = inputs; }
    void restoreDefaults();

    // The answer data for one request; nullopt: no answer. An empty answer is sent bare.
    std::optional<Bytes> answer(const ReceivedFrame& f);

private:
    std::optional<Bytes> block(const ReceivedFrame& f);
    std::optional<Bytes> tagDbRead(const Bytes& d) const;
    std::optional<Bytes> tagDbWrite(const Bytes& d);
    std::optional<Bytes> tagDbDelete(const Bytes& d);

    ReaderIdentityConfig identity_;
    ReaderSettings s_;
    ReaderSim* reader_ = nullptr;
};

// Every code the state answers.
std::span<const std::uint16_t> simStateCodes();

} // namespace kelta::sim
