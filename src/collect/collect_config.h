#pragma once
// What a collector run is made of: the run the window would start from the same settings
// file, and the command-line options that override parts of it. Pure: values in, values out;
// the settings file is read into StoredSettings by storedSettings().

#include "monitor/run_config.h"
#include "publish/publish_config.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace kelta::platform {
class SettingsStore;
}

namespace kelta::collect {

// One stored value: its text, and its number when it reads as a 32-bit decimal integer.
struct StoredValue {
    QString text;
    std::optional<int> integer;
};
using StoredSettings = QHash<QString, StoredValue>;

StoredSettings storedSettings(const platform::SettingsStore& store);
// A value as the settings file would hold it (tests and options).
StoredValue storedText(const QString& text);

// The check boxes and address rows the window has: settings beyond them are not part of its
// runs.
inline constexpr int kWindowSerialPorts = 30;
inline constexpr int kWindowAddressRows = 20;

// What the window shows before any setting is restored.
struct RunDefaults {
    QString autoSaveFile;  // <Documents>/Kelta.csv
    QString eventLogFile;  // <Documents>/log.csv
    QStringList selection; // the selection file's UIDs
    int tagTimeoutSeconds = 10;
};
RunDefaults systemRunDefaults();
// The selection file's UIDs, blank lines skipped (as the window loads it).
QStringList readSelectionFile(const QString& path);

struct MappedRun {
    monitor::RunConfig config;
    QStringList skipped; // values that could not be read as their type and kept the default
};

// The run the window starts with these settings restored: its link kind (PAGE), checked
// ports and address rows, remote and listening ports, auto-save and event-log names and the
// auto-save switch, the selection. And the collector's own values: the listening address
// (ListenAddress), the rotation of the files (RotateFiles: "daily", a size such as "10M", or
// "off") and the old files kept (KeepFiles).
MappedRun runConfigFromSettings(const StoredSettings& values, const RunDefaults& defaults);

// The command line.
struct CollectOptions {
    QString settingsFile; // empty: the window's settings file
    std::optional<std::vector<int>> serialPorts;
    QStringList connect; // HOST or HOST:PORT
    std::optional<int> listenPort;
    std::optional<QString> listenAddress;           // given with --listen ADDRESS:PORT
    std::optional<platform::FileRotation> rotation; // --rotate, with the default keep count
    std::optional<int> keep;
    std::optional<QString> autoSaveFile;
    bool noAutoSave = false;
    std::optional<QString> eventLogFile;
    bool logMode = false;
    int logReaderId = 0;
    std::optional<int> tagTimeoutSeconds;

    bool noMqtt = false;
    std::optional<QString> mqttBroker; // HOST or HOST:PORT
    std::optional<QString> mqttSite, mqttPrefix, mqttClientId, mqttUser, mqttPasswordFile;
    std::optional<QString> mqttCaFile, mqttCertFile, mqttKeyFile;
    std::optional<int> mqttQueue;

    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    CollectOptions options;
    QStringList errors;
    QString helpText;
};
// args[0] is the program name.
ParsedOptions parseCollectOptions(const QStringList& args);

// "COM3,COM4", "3, 4" -> {3, 4}; ports 1 ... 32. Errors name the bad item.
std::optional<std::vector<int>> parseSerialList(const QString& text, QString& error);
// "host", "host:4001", "[::1]:4001": host and port (0 when none given).
bool parseHostPort(const QString& text, QString& host, int& port, QString& error);
// "4001", "127.0.0.1:4001", "[::1]:4001", "*:4001": the port, and the address when one is
// given ("*" gives an empty one: every address). The address must be an IP address.
bool parseListen(const QString& text, QString& address, int& port, QString& error);
// Why the listening server cannot bind `address` on this host (a clear text naming it and the
// host's addresses), or an empty text when it can or the address is empty (every address).
QString listenAddressProblem(const QString& address);

// Settings names of the collector's own values.
inline const QString kListenAddressKey = QStringLiteral("ListenAddress");
inline const QString kRotateKey = QStringLiteral("RotateFiles");
inline const QString kKeepKey = QStringLiteral("KeepFiles");

// The options laid over the mapped run and the stored publishing configuration; errors for
// options that contradict each other or the engine (several link kinds, different remote
// ports, more addresses than rows). A password file (first line) that group or others may
// read is refused.
QStringList applyOptions(const CollectOptions& options, monitor::RunConfig& run,
                         publish::PublishConfig& publishing);

} // namespace kelta::collect
