#pragma once
// The "Read TAG" page's side of a monitoring run: Start/Stop and "TAG Log" fill a RunConfig
// from the controls and start the monitoring engine, whose run goes on in the window's event
// loop (the click handler returns at once); what the engine reports (status texts, links,
// readers) is shown in the controls. The run's state is one value owned here (RunState); the
// Start/Stop caption, the controls enabled and the busy timer follow it. Whatever way a run
// ends (Stop, a page change, the window closing, a listening port taken), its end steps are
// the same. Also the busy timer with its blinking indicator, the optional beep and the
// page-show handlers of pcMain.

#include "monitor/monitor_engine.h"
#include "monitor/monitor_events.h"
#include "monitor/network_links.h"
#include "monitor/proto/tag_record.h"
#include "monitor/run_config.h"
#include "monitor/serial_links.h"
#include "monitor/tag_history.h"
#include "publish/run_publishing.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class QCheckBox;
class QLineEdit;

namespace kelta {
class TfrmModule;
class StringGrid;
namespace reader {
struct LinkState;
}
} // namespace kelta

namespace kelta::monitor {

class LinksView;
class TagTables;

enum class RunState { Idle, Starting, Running, Stopping };

class RunController : public QObject, public MonitorEvents {
public:
    // Closes the configuration link (the reader link's CloseLinks).
    using CloseLinksFn = std::function<bool()>;

    // Connects the handlers it owns to the window's controls and hooks itself into the tag
    // tables (monitoring commands, run start time, stopping a run).
    RunController(TfrmModule& window, reader::LinkState& link, TagTables& tables,
                  CloseLinksFn closeLinks = {});
    ~RunController() override;
    RunController(const RunController&) = delete;
    RunController& operator=(const RunController&) = delete;

    RunState state() const { return state_; }
    // "Stop" while a run is starting or running, "Start" otherwise: what btnStart says.
    QString runState() const;
    // True from the start of a run to the end of its last step.
    bool runActive() const { return state_ != RunState::Idle; }

    // Handlers. sender is null when another handler calls (no sender).
    void btnStartClick(QObject* sender);
    void btnTagLogClick();
    void tmrBusyTimer();
    void cbxBeepClick();
    void tsReadTagShow();
    void tsSetReaderShow();
    void tsSetTAGShow();
    void pnlSelResize();

    // Links of the run (the port fields normalised first). False when the run cannot receive
    // anything: its listening port cannot be had (MonitorEngine::openFailure()).
    bool OpenMonitorLinks();
    void CloseMonitorLinks();

    // Builds one monitoring command frame and writes it once to every open monitoring link;
    // false when the data do not fit a frame.
    bool SendMonitorCommand(std::uint16_t flags, std::uint16_t command, int readerId,
                            std::span<const std::uint8_t> data);
    // The system beep, only when cbxBeep is checked (success 1000 Hz/10 ms, failure 300/300).
    void BeepIfEnabled(int hz, int ms);

    // Status-bar text of the loop: six spaces, "0000000042 / 00000125 sec".
    static QString statusText(std::uint64_t acceptedRecords, std::int64_t seconds) {
        return MonitorEngine::statusText(acceptedRecords, seconds);
    }

    // The run's configuration as the controls give it now.
    RunConfig configFromControls() const;

    MonitorEngine& engine() { return engine_; }
    SerialLinks& serialLinks() { return engine_.serialLinks(); }
    NetworkLinks& networkLinks() { return engine_.networkLinks(); }
    QDateTime runStartTime() const { return engine_.runStartTime(); }
    void setRunStartTime(const QDateTime& t) { engine_.setRunStartTime(t); }
    // The remote port text of the outgoing monitoring connections, taken at Start.
    QString remotePortText() const { return remotePortText_; }
    void setRemotePortText(const QString& text) { remotePortText_ = text; }
    // Status reports of the current (or last) run; the first comes when it receives.
    std::uint64_t passCount() const { return engine_.passCount(); }
    // The blinking indicator's timer, running while a run is active.
    QTimer& busyTimer() { return busy_; }

    // MonitorEvents.
    void runStarted() override;
    void runEnded() override;
    void linksFailed(const QString& reason) override;
    void passStarted(const QString& status) override;
    void passEnded(int tagRows) override;
    void beforeSweep() override;
    void outgoingOpening() override;
    void outgoingConnecting(int row) override;
    void outgoingConnected(int row, const QString& address, quint16 port) override;
    void outgoingLost(QTcpSocket* socket) override;
    void outgoingDropped(QTcpSocket* socket) override;
    void outgoingError(QTcpSocket* socket) override;
    void outgoingClosing() override;
    bool claimConnection(QTcpSocket* socket) override;
    void listeningOpening(int port) override;
    bool takesConnections() override;
    void readerAccepting(const QString& address) override;
    void readerReplaced(const QString& line) override;
    void readerAccepted(const QString& address, quint16 port) override;
    void readerLost(const QString& line) override;
    void networkClosed() override;
    void fileFailure(const QString& notice) override;
    void beep(int hz, int ms) override;
    void recordAccepted(const DecodedTagRecord& record, DecodeMode mode, const RecordOrigin& origin,
                        const QDateTime& received) override;
    void presenceChanged(const PresenceChange& change) override;
    void tagLogProgress(const Progress& progress) override;
    // Publishing of the run's records, off unless the settings file configures it.
    publish::RunPublishing& publishing() { return publishing_; }
    // The Links tab's rows (null without the tab).
    LinksView* linksView() const { return links_.get(); }
    // Recent samples of every tag of the live runs (kept from one run to the next), for the
    // history charts.
    TagHistory& history() { return history_; }

    // Control tables, each at the index equal to the control's tag (0 ... 31).
    QCheckBox* chkCOM(int n) const;
    QCheckBox* chkIP(int n) const;
    QLineEdit* edIP(int n) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startRun(QObject* sender);
    // The run's end steps, on runEnded.
    void endRun();
    void stopRun();
    // Cancel or Esc during a tag-log run: the run stops, and the status bar says so.
    void cancelTagLog();
    void setState(RunState state);
    void storeStartSettings();
    void writeFrame(std::span<const std::uint8_t> frame);
    void buildControlTables();
    void connectHandlers();
    bool closeLinks();
    bool readTagPageShown() const;
    void removeMemoLine(const QString& line);

    TfrmModule& w_;
    reader::LinkState& link_;
    TagTables& tables_;
    CloseLinksFn closeLinks_;
    QTimer busy_;
    MonitorEngine engine_;
    publish::RunPublishing publishing_;
    std::unique_ptr<LinksView> links_;
    TagHistory history_;

    std::array<QCheckBox*, 33> chkCOM_{};
    std::array<QCheckBox*, 33> chkIP_{};
    std::array<QLineEdit*, 33> edIP_{};

    QString remotePortText_ = QStringLiteral("4001");
    RunState state_ = RunState::Idle;
    // Why the last run could not start (its listening port taken); empty otherwise.
    QString startFailure_;
    // Cleared by the destructor: a callback of the reader link learns that this is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kelta::monitor
