// kelta-collect: a monitoring run without a window (see --help).
#include "collect/collect_config.h"
#include "collect/collector.h"
#include "kelta/version.h"
#include "platform/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <cstdio>

using namespace kelta;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelta-collect"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELTA_VERSION));
    QTextStream err(stderr);
    QTextStream out(stdout);

    const collect::ParsedOptions parsed = collect::parseCollectOptions(app.arguments());
    const collect::CollectOptions& o = parsed.options;
    if (o.help) {
        out << parsed.helpText;
        return 0;
    }
    if (o.version) {
        out << "kelta-collect " << KELTA_VERSION << '\n';
        return 0;
    }
    if (!parsed.errors.isEmpty()) {
        for (const QString& e : parsed.errors) err << "kelta-collect: " << e << '\n';
        err << "Try kelta-collect --help.\n";
        return 2;
    }

    // The window's settings file, or the one named.
    const QString path = o.settingsFile.isEmpty() ? platform::settingsFilePath() : o.settingsFile;
    if (!o.settingsFile.isEmpty() && !QFileInfo::exists(path)) {
        err << "kelta-collect: settings file " << QDir::toNativeSeparators(path)
            << " does not exist\n";
        return 2;
    }
    if (const QString refusal = platform::settingsFileRefusal(path); !refusal.isEmpty()) {
        err << "kelta-collect: " << refusal << '\n';
        return 1;
    }
    auto store = platform::SettingsStore::openAt(path, false);
    if (!store && QFileInfo::exists(path)) {
        err << "kelta-collect: settings file " << QDir::toNativeSeparators(path)
            << " cannot be read\n";
        return 1;
    }

    collect::MappedRun mapped = collect::runConfigFromSettings(
        store ? collect::storedSettings(*store) : collect::StoredSettings{},
        collect::systemRunDefaults());
    if (!mapped.skipped.isEmpty())
        err << "kelta-collect: settings " << mapped.skipped.join(QStringLiteral(", "))
            << " could not be read and kept the default\n";

    publish::PublishConfigRead publishing;
    if (store && !o.noMqtt) publishing = publish::RunPublishing::readConfig(*store);
    const QStringList errors = collect::applyOptions(o, mapped.config, publishing.config);
    if (!errors.isEmpty()) {
        for (const QString& e : errors) err << "kelta-collect: " << e << '\n';
        return 2;
    }
    // Options may have turned publishing on, or changed it: checked once more as a whole.
    if (o.mqttBroker || o.mqttCaFile || o.mqttCertFile || o.mqttKeyFile || o.mqttQueue)
        for (const QString& p : publish::validatePublishConfig(publishing.config))
            if (!publishing.problems.contains(p)) publishing.problems << p;
    if (publishing.config.enabled && publishing.config.clientId.isEmpty())
        publishing.config.clientId =
            store ? publish::ensureClientId(*store) : publish::defaultClientId();

    const monitor::RunConfig& run = mapped.config;
    if (run.linkMode == monitor::RunConfig::kListeningTcp) {
        if (const QString problem = collect::listenAddressProblem(run.listenAddress);
            !problem.isEmpty()) {
            err << "kelta-collect: " << problem << '\n';
            return 2;
        }
    }
    bool anyLink = false;
    for (int n = 1; n < monitor::RunConfig::kSlots; ++n)
        anyLink = anyLink || (run.serial() ? run.serialPorts[static_cast<std::size_t>(n)]
                                           : run.addressChecked[static_cast<std::size_t>(n)]);
    if (run.linkMode == monitor::RunConfig::kListeningTcp) anyLink = true;
    if (!anyLink) {
        err << "kelta-collect: nothing to monitor: "
            << (run.serial() ? "no serial port is checked in the settings (--serial COM1,COM2)"
                             : "no reader address is checked in the settings (--connect HOST)")
            << '\n';
        return 2;
    }

    collect::Collector collector(err);
    collect::StopSignals stopSignals([&](int signal) { collector.onSignal(signal); });
    const int rc = collector.run(run, publishing.config, publishing.problems);
    out << collect::summaryText(collector.summary());
    out.flush();
    return rc;
}
