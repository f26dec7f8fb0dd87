#pragma once
// A monitoring run without a window: the links of the run's kind, the loop that serves them
// and hands every report to the tag store, the absence sweep, the tag-log requests and the
// end of the run. Whoever runs it gives it a RunConfig, listens through MonitorEvents and may
// ask it to stop; a window does its own steps between the phases (open, announce, loop,
// finish), a program without one calls run().
//
// The waits let the event loop run (platform/wait_pump.h), so socket signals, timers and a
// window's clicks run nested inside them; every wait gives up when programClosing() is set.

#include "monitor/monitor_events.h"
#include "monitor/network_links.h"
#include "monitor/run_config.h"
#include "monitor/serial_links.h"
#include "monitor/tag_store.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace kelta::monitor {

class MonitorEngine {
public:
    MonitorEngine(TagStore& store, MonitorEvents& events);
    ~MonitorEngine();
    MonitorEngine(const MonitorEngine&) = delete;
    MonitorEngine& operator=(const MonitorEngine&) = delete;

    // The whole run: the store cleared (its records going to the table of the run's mode),
    // open, announce, loop until stop() or programClosing(), finish.
    void run(const RunConfig& config);

    // Phases of a run. open(): the store takes the file names, selection and time-out; the
    // auto-save file is made ready, an old one moved aside (returns the name used); the links
    // are opened (linksOpened() says whether the run can receive anything).
    QString open(const RunConfig& config);
    // False after an open() whose links cannot receive anything (the listening port taken):
    // openFailure() says why, and the run is to end at once.
    bool linksOpened() const { return linksOpened_; }
    QString openFailure() const { return openFailure_; }
    // The link-mode announcement to every reader, and the settling wait after it; the
    // counters and the run's start time begin here.
    void announce();
    // Passes until stop() or programClosing(). `keepGoing` (optional) is asked as well.
    void loop();
    // Links closed, files closed, selection file written.
    void finish();

    // Asks the loop to end after its pass; frames still held are not decoded.
    void stop() { stopRequested_ = true; }
    bool stopRequested() const { return stopRequested_; }
    bool running() const { return running_; }
    // Another condition the run keeps going on (a window's Start button still saying Stop).
    void setKeepGoing(std::function<bool()> fn) { keepGoing_ = std::move(fn); }

    // Links of the run; false when its listening port cannot be had.
    bool OpenMonitorLinks();
    void CloseMonitorLinks();
    bool PollMonitorLinks(DecodeMode mode);
    // One frame to every open link of the run's kind.
    void writeFrame(std::span<const std::uint8_t> frame);
    // Builds one monitoring command frame and writes it once to every open monitoring link;
    // false when the data do not fit a frame.
    bool SendMonitorCommand(std::uint16_t flags, std::uint16_t command, int readerId,
                            std::span<const std::uint8_t> data);
    void beep(int hz, int ms);

    // Status text of the loop: six spaces, "0000000042 / 00000125 sec".
    static QString statusText(std::uint64_t acceptedRecords, std::int64_t seconds);

    const RunConfig& config() const { return config_; }
    // The configuration before a run (the window's page choice may change its link kind).
    void setConfig(const RunConfig& config);
    SerialLinks& serialLinks() { return serial_; }
    NetworkLinks& networkLinks() { return net_; }
    TagStore& store() { return store_; }
    int pollCursor() const { return pollCursor_; }
    void resetPollCursor() { pollCursor_ = 0; }
    QDateTime runStartTime() const { return runStartTime_; }
    void setRunStartTime(const QDateTime& t) { runStartTime_ = t; }
    std::uint64_t passCount() const { return passes_; }
    void resetPassCount() { passes_ = 0; }

    // The link of an accepted record, as MonitorEvents::recordAccepted names it.
    RecordOrigin originOf(const DecodedTagRecord& record) const;

private:
    bool keepGoing() const;

    TagStore& store_;
    MonitorEvents& events_;
    RunConfig config_;
    SerialLinks serial_;
    NetworkLinks net_;
    std::function<bool()> keepGoing_;
    int pollCursor_ = 0;
    QDateTime runStartTime_;
    bool stopRequested_ = false;
    bool running_ = false;
    bool linksOpened_ = true;
    QString openFailure_;
    // The store's file-notice hook before this engine forwarded it to its events.
    TagStore::FileNoticeHook previousNoticeHook_;
    std::uint64_t passes_ = 0;
    // Cleared by the destructor: a loop suspended in a wait learns that the engine is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kelta::monitor
