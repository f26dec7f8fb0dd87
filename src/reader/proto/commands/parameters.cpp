#include "reader/proto/commands/parameters.h"

namespace kelta::reader::cmd {

Bytes EncodeOutputParameters(const OutputParameters& p) {
    Bytes out(8, 0);
    out[0] = p.outputMode;
    out[1] = static_cast<std::uint8_t>(p.outputPorts & 0x7F);
    out[2] = p.logType;
    out[3] = p.gpsPeriod;
    out[4] = static_cast<std::uint8_t>(p.recordModes & 0x07);
    PutBe16(out, 5, p.heartbeat);
    out[7] = p.zigbeeDataLoss ? 1 : 0;
    return out;
}

std::optional<OutputParameters> DecodeOutputParameters(Answer d) {
    if (d.size() < kParameterAnswerMin) return std::nullopt;
    OutputParameters p;
    p.outputMode = At(d, 0);
    p.outputPorts = static_cast<std::uint8_t>(At(d, 1) & 0x7F);
    p.logType = At(d, 2);
    p.gpsPeriod = At(d, 3);
    p.recordModes = static_cast<std::uint8_t>(At(d, 4) & 0x07);
    p.heartbeat = Be16(d, 5);
    p.zigbeeDataLoss = At(d, 7) >= 1;
    return p;
}

Bytes EncodeSeconds(std::uint16_t seconds) {
    Bytes out(8, 0);
    PutBe16(out, 0, seconds);
    return out;
}

std::optional<std::uint16_t> DecodeSeconds(Answer d) {
    if (d.size() < kParameterAnswerMin) return std::nullopt;
    return Be16(d, 0);
}

Bytes EncodeLogFilter(std::uint8_t item) {
    Bytes out(8, 0);
    out[0] = item;
    return out;
}

std::optional<std::uint8_t> DecodeLogFilter(Answer d) {
    if (d.size() < kParameterAnswerMin) return std::nullopt;
    return d[0];
}

} // namespace kelta::reader::cmd
