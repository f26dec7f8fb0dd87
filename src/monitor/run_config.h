#pragma once
// Everything a monitoring run needs to know, as one value: the window fills it from its
// controls when Start is clicked, a program without a window from its settings and options.

#include "monitor/proto/tag_record.h"
#include "platform/files.h"

#include <QString>
#include <QStringList>
#include <array>

namespace kelta::monitor {

struct RunConfig {
    // Link kinds, as the settings file stores them ("PAGE").
    static constexpr int kOutgoingTcp = 0;
    static constexpr int kSerial = 1;
    static constexpr int kListeningTcp = 2;
    static constexpr int kSlots = 33; // index = port number or address row, 0 unused

    int linkMode = kSerial;
    // Serial ports to open, by number (1 ... 32).
    std::array<bool, kSlots> serialPorts{};
    // Outgoing connections: the address of each row and whether the row is checked.
    std::array<QString, kSlots> addresses{};
    std::array<bool, kSlots> addressChecked{};
    int remotePort = 4001; // of every outgoing connection
    int listenPort = 4001; // of the listening server
    QString listenAddress; // the address it binds: an IP address of this host; empty: every one

    DecodeMode mode = DecodeMode::Live; // live reports, or a reader's stored tag log
    int logReaderId = 0;                // the reader asked for its log

    bool autoSave = false;
    QString autoSaveFile;
    QString eventLogFile;
    platform::FileRotation rotation; // of the auto-save file and the event log; off by default
    QStringList selectedTags;
    int tagTimeoutSeconds = 1;
    bool beep = false;

    bool serial() const { return linkMode != kOutgoingTcp && linkMode != kListeningTcp; }
};

} // namespace kelta::monitor
