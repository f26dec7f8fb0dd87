#pragma once
// The network links of a monitoring run (outgoing TCP connections to readers, and the
// listening server readers connect to). Not built yet: a run on those link kinds opens
// nothing, writes nothing and polls nothing, so its loop goes round without receiving.

#include "monitor/proto/tag_record.h"

#include <cstdint>
#include <span>

namespace kelta::monitor {

class NetworkLinks {
public:
    // linkMode 0: outgoing connections, 2: listening server.
    void OpenNetworkLinks(int /*linkMode*/) {}
    void CloseNetworkLinks() {}
    void WriteNetworkLinks(std::span<const std::uint8_t> /*frame*/) {}
    bool PollNetworkLink(DecodeMode /*mode*/, int& /*pollCursor*/) { return false; }

    // Counters reset by OpenMonitorLinks and CloseMonitorLinks.
    int highestReaderConnection = 0;
    int startedConnections = 0;
    int connectedReaders = 0;
    int highestAcceptedReader = 0;
};

} // namespace kelta::monitor
