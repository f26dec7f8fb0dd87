#pragma once
// Module ports (0x6020): the modules fitted in the reader's two module slots.

#include "reader/proto/commands/payload.h"

namespace kelta::reader::cmd {

inline constexpr std::uint16_t kModulePorts = 0x6020;

struct ModulePorts {
    std::uint8_t port1 = 0; // 0 none, 1 Wi-Fi, 2 Bluetooth, 3 GPRS
    std::uint8_t port2 = 0; // 0 none, 1 Wi-Fi, 2 Bluetooth
};
Bytes EncodeModulePorts(const ModulePorts& p);
std::optional<ModulePorts> DecodeModulePorts(Answer d); // at least 8 bytes

} // namespace kelta::reader::cmd
