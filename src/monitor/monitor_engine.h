#pragma once
// A monitoring run without a window: the links of the run's kind, driven by their own socket
// notifiers and signals, every report handed to the tag store as it is read, the absence
// sweep, the tag-log requests and the end of the run. Whoever runs it gives it a RunConfig,
// listens through MonitorEvents and stops it; start() and stop() return at once, the run
// itself goes on in the event loop of the thread that started it.
//
// A run goes through its phases on timers: the links are opened (outgoing connections get up
// to 10 s to be made), settle for 500 ms, the link-mode announcement goes to every reader,
// and 100 ms later the run receives (MonitorEvents::runStarted, the counters and the run's
// start time begin there). Bytes that came before are read then.

#include "monitor/link_health.h"
#include "monitor/monitor_events.h"
#include "monitor/network_links.h"
#include "monitor/run_config.h"
#include "monitor/serial_links.h"
#include "monitor/tag_store.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kelta::monitor {

class MonitorEngine : public QObject {
public:
    enum class Phase {
        Idle,
        Opening,   // outgoing connections being made
        Settling,  // links open, before the announcement
        Announced, // the announcement sent, before the run receives
        Running,
    };

    MonitorEngine(TagStore& store, MonitorEvents& events);
    ~MonitorEngine() override; // a run still going is stopped
    MonitorEngine(const MonitorEngine&) = delete;
    MonitorEngine& operator=(const MonitorEngine&) = delete;

    // The store as a run without a window starts it: the tables emptied, one selection row per
    // selected tag, records going to the table of the run's mode. (The window does this with
    // its own controls.)
    void prepareStore(const RunConfig& config);

    // Starts a run: the store takes the file names, selection and time-out; the auto-save file
    // is made ready (an old one moved aside); the links are opened, and the phases follow on
    // timers. False when the run cannot receive anything (its listening port taken): it has
    // ended already (linksFailed and runEnded were reported, openFailure() says why).
    bool start(const RunConfig& config);
    // Ends the run at once: frames still held are not decoded; links closed (serial ports
    // given their settings back), files closed, selection file written, runEnded reported.
    // Nothing waits. Safe to call from inside any of the engine's own events.
    void stop();

    Phase phase() const { return phase_; }
    bool running() const { return phase_ != Phase::Idle; }
    bool receiving() const { return phase_ == Phase::Running && !stopping_; }
    bool linksOpened() const { return linksOpened_; }
    QString openFailure() const { return openFailure_; }
    // The auto-save file of the run (the name used after the previous one was moved aside).
    QString autoSaveName() const { return config_.autoSaveFile; }

    // How often the status (passStarted/passEnded) is reported while the run receives; 0:
    // only once, when it begins. 100 ms unless set.
    void setStatusIntervalMs(int ms) { statusIntervalMs_ = ms; }

    // One frame to every open link of the run's kind.
    void writeFrame(std::span<const std::uint8_t> frame);
    // Builds one monitoring command frame and writes it once to every open monitoring link;
    // false when the data do not fit a frame.
    bool SendMonitorCommand(std::uint16_t flags, std::uint16_t command, int readerId,
                            std::span<const std::uint8_t> data);
    void beep(int hz, int ms);

    // Links of the run by themselves (diagnostics and tests): opened without the phases.
    bool OpenMonitorLinks();
    void CloseMonitorLinks();

    // Status text of the run: six spaces, "0000000042 / 00000125 sec".
    static QString statusText(std::uint64_t acceptedRecords, std::int64_t seconds);

    // Every link of the run as it stands: cheap, read-only, on the engine's thread.
    std::vector<LinkHealth> linkHealth() const;
    // The links of the last run as they stood when it ended, taken before they were closed
    // (afterwards linkHealth() knows them no more), and when that was; empty before a run.
    const std::vector<LinkHealth>& endedLinkHealth() const { return endedHealth_; }
    QDateTime endedLinkHealthTime() const { return endedHealthAt_; }

    const RunConfig& config() const { return config_; }
    // The configuration before a run (the window's page choice may change its link kind).
    void setConfig(const RunConfig& config);
    SerialLinks& serialLinks() { return serial_; }
    NetworkLinks& networkLinks() { return net_; }
    TagStore& store() { return store_; }
    QDateTime runStartTime() const { return runStartTime_; }
    void setRunStartTime(const QDateTime& t) { runStartTime_ = t; }
    // Status reports of the current (or last) run; the first comes when the run receives.
    std::uint64_t passCount() const { return passes_; }
    void resetPassCount() { passes_ = 0; }

    // The link of an accepted record, as MonitorEvents::recordAccepted names it.
    RecordOrigin originOf(const DecodedTagRecord& record) const;

private:
    void settle();
    void announce();
    void beginReceiving();
    void statusTick();
    void reportStatus();
    void sweepTick();
    void logTick();
    void reportLogProgress();
    void reopenTick();
    bool serialFrame(DecodeMode mode, std::string_view portName,
                     std::span<const std::uint8_t> frame);

    TagStore& store_;
    MonitorEvents& events_;
    RunConfig config_;
    SerialLinks serial_;
    NetworkLinks net_;
    Phase phase_ = Phase::Idle;
    bool stopping_ = false;
    QDateTime runStartTime_;
    bool linksOpened_ = true;
    QString openFailure_;
    // The store's file-notice hook before this engine forwarded it to its events.
    TagStore::FileNoticeHook previousNoticeHook_;
    std::uint64_t passes_ = 0;
    std::vector<LinkHealth> endedHealth_;
    QDateTime endedHealthAt_;
    int statusIntervalMs_ = 100;
    QTimer phaseTimer_; // single shot: the end of the open wait, of the settling waits
    QTimer statusTimer_;
    QTimer sweepTimer_;
    QTimer logTimer_;          // single shot: the next tag-log request, or the look after one
    QTimer reopenTimer_;       // serial devices lost or not there at Start, looked for again
    bool logAwaiting_ = false; // a tag-log request sent, its answer looked for next
    std::uint64_t recordsAtRequest_ = 0;
    int quietLogRequests_ = 0;        // tag-log requests in a row that brought nothing
    std::uint64_t loggedRecords_ = 0; // what the last tag-log progress said
    bool loggedFinished_ = false;
    bool logProgressShown_ = false;
    // Cleared by the destructor: a handler further up learns that the engine is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kelta::monitor
