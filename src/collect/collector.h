#pragma once
// The collector: one monitoring run without a window. It listens to the engine (link changes
// and failures as time-stamped lines on standard error, records counted per reader, records
// and presence events handed to publishing), ends the run on SIGINT or SIGTERM and prints a
// summary at the end.

#include "monitor/monitor_engine.h"
#include "monitor/monitor_events.h"
#include "monitor/run_config.h"
#include "monitor/tag_store.h"
#include "publish/run_publishing.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QTextStream>
#include <cstdint>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace kelta::collect {

// SIGINT, SIGTERM and SIGUSR1 turned into a call on the event loop's thread: the handler only
// writes a byte into a pipe that a socket notifier watches.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int signal)> onSignal);
    ~StopSignals(); // the default handlers are back
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    bool installed() const { return notifier_ != nullptr; }

private:
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

struct CollectSummary {
    std::int64_t seconds = 0;
    std::uint64_t records = 0;
    QMap<QString, std::uint64_t> recordsPerReader;
    std::uint64_t reconnects = 0;
    std::uint64_t discardedBytes = 0;
    QString autoSaveFile;            // empty when not saved
    std::uint64_t autoSaveLines = 0; // in every auto-save file of the run
    std::uint64_t rotations = 0;     // files rotated (auto-save file and event log)
    bool publishing = false;
    QString broker;
    publish::PublishCounters published;
    // Every link of the run as it stood when the run ended (before its links were closed).
    std::vector<monitor::LinkHealth> links;
    QDateTime linksAt;
};
QString summaryText(const CollectSummary& s);

class Collector : public monitor::MonitorEvents {
public:
    explicit Collector(QTextStream& err);
    ~Collector() override;

    // The whole run: publishing started, the engine started, the application's event loop
    // run until the run ends (stop(), a signal), publishing stopped. Returns 0, or 1 when the
    // run could not receive anything (its listening port taken).
    int run(const monitor::RunConfig& config, const publish::PublishConfig& publishing,
            const QStringList& publishProblems = {});
    // The start of run(): false when the run ended at once.
    bool start(const monitor::RunConfig& config, const publish::PublishConfig& publishing,
               const QStringList& publishProblems = {});
    // Ends the run at once (links closed, files complete); the event loop of run() returns.
    void stop();
    bool running() const { return engine_.running(); }
    CollectSummary summary() const;
    monitor::MonitorEngine& engine() { return engine_; }
    // The table of the run's links as they stand, on standard error (SIGUSR1).
    void printLinks();
    // What a signal does: SIGUSR1 prints the links, the others end the run.
    void onSignal(int signal);

    // One line on standard error: local time stamp, then the text.
    void note(const QString& text);

    // MonitorEvents.
    void runEnded() override;
    void passStarted(const QString& status) override;
    void serialOpened(int port) override;
    void outgoingConnecting(int row) override;
    void outgoingConnected(int row, const QString& address, quint16 port) override;
    void outgoingLost(QTcpSocket* socket) override;
    void outgoingError(QTcpSocket* socket) override;
    void listeningOpening(int port) override;
    void readerAccepted(const QString& address, quint16 port) override;
    void readerReplaced(const QString& address) override;
    void readerLost(const QString& address) override;
    void fileFailure(const QString& message) override;
    void linksFailed(const QString& reason) override;
    void recordAccepted(const monitor::DecodedTagRecord& record, monitor::DecodeMode mode,
                        const monitor::RecordOrigin& origin, const QDateTime& received) override;
    void presenceChanged(const monitor::PresenceChange& change) override;

private:
    void firstPass();
    QString rowAddress(int row) const;

    QTextStream& err_;
    monitor::TagStore store_;
    monitor::MonitorEngine engine_{store_, *this};
    publish::RunPublishing publishing_;
    monitor::RunConfig config_;
    bool firstPassDone_ = false;
    QSet<int> serialSeen_;
    QSet<int> rowsSeen_;
    QSet<QString> readersSeen_;
    QMap<QString, std::uint64_t> perReader_;
    std::uint64_t reconnects_ = 0;
    std::uint64_t discardedBytes_ = 0;
    bool publishingOn_ = false;
    bool linksFailed_ = false;
    bool fileTrouble_ = false;
    QDateTime started_;
    QDateTime ended_;
};

} // namespace kelta::collect
