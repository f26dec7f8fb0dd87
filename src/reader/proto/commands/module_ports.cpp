#include "reader/proto/commands/module_ports.h"

namespace kelta::reader::cmd {

Bytes EncodeModulePorts(const ModulePorts& p) {
    Bytes out(8, 0);
    out[0] = p.port1;
    out[1] = p.port2;
    return out;
}

std::optional<ModulePorts> DecodeModulePorts(Answer d) {
    if (d.size() < 8) return std::nullopt;
    return ModulePorts{d[0], d[1]};
}

} // namespace kelta::reader::cmd
