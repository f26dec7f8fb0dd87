#pragma once
// The four parameter blocks of the LR900 family: output and logging (0x601A), the forced
// record interval (0x601B), the tag exit time-out (0x601C) and the log filter mode (0x601D).

#include "reader/proto/commands/payload.h"

namespace kelta::reader::cmd {

inline constexpr std::uint16_t kParamOutput = 0x601A;
inline constexpr std::uint16_t kParamRecordTime = 0x601B;
inline constexpr std::uint16_t kParamExitTimeout = 0x601C;
inline constexpr std::uint16_t kParamLogFilter = 0x601D;
inline constexpr std::array<std::uint16_t, 4> kParameterCodes{kParamOutput, kParamRecordTime,
                                                              kParamExitTimeout, kParamLogFilter};

struct OutputParameters {
    std::uint8_t outputMode = 0;
    std::uint8_t outputPorts = 0; // bits 0-6
    std::uint8_t logType = 0;
    std::uint8_t gpsPeriod = 0;
    std::uint8_t recordModes = 0; // bits 0-2
    std::uint16_t heartbeat = 0;  // 0: no alive packets
    bool zigbeeDataLoss = false;
};
Bytes EncodeOutputParameters(const OutputParameters& p);
std::optional<OutputParameters> DecodeOutputParameters(Answer d);

// 0x601B and 0x601C: a 16-bit number of seconds. 0x601D: the filter-mode item.
Bytes EncodeSeconds(std::uint16_t seconds);
std::optional<std::uint16_t> DecodeSeconds(Answer d);
Bytes EncodeLogFilter(std::uint8_t item);
std::optional<std::uint8_t> DecodeLogFilter(Answer d);

// Every parameter answer needs at least one byte.
inline constexpr std::size_t kParameterAnswerMin = 1;

} // namespace kelta::reader::cmd
