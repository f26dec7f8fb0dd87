#pragma once
// Relay outputs (0x6012) and digital inputs (0x6013). The reader speaks ASCII digits: "1"
// on, "0" off.

#include "reader/proto/commands/payload.h"

namespace kelta::reader::cmd {

inline constexpr std::uint16_t kRelay = 0x6012;
inline constexpr std::uint16_t kDigitalInputs = 0x6013;
inline constexpr std::size_t kRelayAnswerMin = 8;

// One relay write: relay number digit ("0" or "1"), state digit, six zero bytes.
Bytes EncodeRelay(int relay, bool on);

struct RelayStates {
    bool do1 = false, do2 = false;
};
std::optional<RelayStates> DecodeRelays(Answer d);

// Four inputs; true when the input reads "1".
struct DigitalInputs {
    std::array<bool, 4> high{};
};
std::optional<DigitalInputs> DecodeDigitalInputs(Answer d);

} // namespace kelta::reader::cmd
