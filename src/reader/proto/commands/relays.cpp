#include "reader/proto/commands/relays.h"

namespace kelta::reader::cmd {

namespace {
constexpr std::uint8_t kOn = '1';
constexpr std::uint8_t kOff = '0';
} // namespace

Bytes EncodeRelay(int relay, bool on) {
    Bytes out(8, 0);
    out[0] = relay == 0 ? kOff : kOn;
    out[1] = on ? kOn : kOff;
    return out;
}

std::optional<RelayStates> DecodeRelays(Answer d) {
    if (d.size() < kRelayAnswerMin) return std::nullopt;
    return RelayStates{d[0] == kOn, d[1] == kOn};
}

std::optional<DigitalInputs> DecodeDigitalInputs(Answer d) {
    if (d.size() < 8) return std::nullopt;
    DigitalInputs in;
    for (std::size_t i = 0; i < 4; ++i) in.high[i] = d[i] == kOn;
    return in;
}

} // namespace kelta::reader::cmd
