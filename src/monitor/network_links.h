#pragma once
// The network links of a monitoring run: outgoing TCP connections to up to 20 readers (one per
// checked address row, all on the run's remote port), and the run's own listening server that
// up to 64 readers connect to. Opening, closing, writing and polling, the watchdog that remakes
// a silent outgoing connection, and the socket events as far as they serve monitoring (an
// outgoing connection may be claimed by whoever runs the engine, see MonitorEvents).
//
// Everything runs on one thread, driven by the sockets' signals and timers of its own. Once the
// run receives (startServing), a connection's readyRead queues it; the queue is served in
// turn, at most kServeChunk bytes of one connection at a time, so one reader sending as fast
// as TCP allows cannot starve the others. Each connection keeps the bytes of an incomplete
// last frame and puts them in front of its next read, so frames split or merged by TCP arrive
// whole, once. A connection that closes, resets or fails is read to the end of what this host
// holds before it is dropped. Unread input a connection may hold is capped (kReadBufferCap):
// beyond it the socket stops reading and TCP holds the sender back.
//
// An outgoing connection that the reader resets or closes (or that cannot be made) is made
// again after 1 s, then 2, 4 and at most 8 s while the attempts bring no data; the 15 s
// watchdog remains for connections that stay up but silent.
//
// The listening server reads every connection, several from one address included (readers
// behind one serial-to-Ethernet box or NAT). A connection from an address replaces an older
// one from it when the older one has closed, or when it stayed silent for the watchdog's
// 15 s while the newer one delivers: that is a reader that came back.

#include "monitor/link_health.h"
#include "monitor/monitor_events.h"
#include "monitor/proto/frame_assembler.h"
#include "monitor/proto/tag_record.h"
#include "monitor/run_config.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace kelta::monitor {

class NetworkLinks : public QObject {
public:
    // Outgoing slots 0 ... 32 (only rows 1 ... 20 exist), accepted slots 0 ... 64 (1 ... 64 used).
    static constexpr int kReaderSlots = 33;
    static constexpr int kHighestReaderSlot = 32;
    static constexpr int kAcceptedSlots = 65;
    static constexpr int kHighestAcceptedSlot = 64;
    // Input a connection may hold unread; beyond it the socket stops reading and TCP holds the
    // sender back, so a reader that is not served cannot make the program grow without bound.
    static constexpr qint64 kReadBufferCap = 4 * 1024 * 1024;
    // Bytes of one connection decoded in one turn of the serving queue.
    static constexpr qint64 kServeChunk = 64 * 1024;
    // After each of the two setup frames sent on a new outgoing connection.
    static constexpr std::uint32_t kSetupFrameGapMs = 10;
    // How often the listening side looks for older connections of an address to retire.
    static constexpr std::uint32_t kRetireCheckMs = 1000;

    NetworkLinks(TagRecordSink& sink, MonitorEvents& events);
    ~NetworkLinks() override; // drops every connection without waiting
    NetworkLinks(const NetworkLinks&) = delete;
    NetworkLinks& operator=(const NetworkLinks&) = delete;

    // The run's link kind, addresses and ports (taken by the next open).
    void setConfig(const RunConfig& config);
    // linkMode 0: outgoing connections (started; outgoingSettled() says when every one has
    // been made), 2: listening server. False when the listening port cannot be had
    // (listenFailure() says why).
    bool OpenNetworkLinks(int linkMode);
    // Every outgoing connection started by the open has been made, or one was claimed.
    bool outgoingSettled() const { return connectedReaders >= startedConnections || claimed_; }
    // Called when outgoingSettled() becomes true.
    void setOnSettled(std::function<void()> fn) { onSettled_ = std::move(fn); }
    // Why the last opening of the listening server failed, for the user; empty when it did not.
    QString listenFailure() const { return listenFailure_; }
    // The listening server of the monitoring runs.
    QTcpServer& server() { return *server_; }
    // Closes the outgoing connections and the listening server, whatever the link kind.
    void CloseNetworkLinks();
    // One frame to every connected reader of the current link kind; send errors are ignored.
    void WriteNetworkLinks(std::span<const std::uint8_t> frame);
    // From now on the connections are read as their bytes arrive, each whole frame going to
    // the report splitter on its own (in `mode`); what they already hold is read first. The
    // watchdog of the outgoing connections starts here.
    void startServing(DecodeMode mode);
    void stopServing();
    // Called after a turn of the serving queue in which a frame gave a record.
    void setOnRecords(std::function<void()> fn) { onRecords_ = std::move(fn); }
    // False once the run is to end: frames still read are not decoded.
    void setKeepGoing(std::function<bool()> fn) { keepGoing_ = std::move(fn); }
    // One entry per outgoing row or accepted reader of the run (and the listening port when
    // it could not be had); a listening reader that hung up stays as lost until a connection
    // from its address is accepted again.
    void appendHealth(std::vector<LinkHealth>& out) const;

    // Socket events of the outgoing connections.
    void ClientSocket1Connect(QTcpSocket* socket);
    void ClientSocket1Connecting(QTcpSocket* socket);
    void ClientSocket1Disconnect(QTcpSocket* socket);
    void ClientSocket1Error(QTcpSocket* socket);
    // Events of ServerSocket's connections taken on the Read TAG page.
    void ServerSocketClientConnect(QTcpSocket* socket);
    void ServerSocketClientDisconnect(QTcpSocket* socket);

    // Forgets the accepted readers (the listening configuration link is being opened).
    void resetAccepted();

    // Tables (tests and diagnostics).
    QTcpSocket* readerConnection(int slot) const;
    QTcpSocket* acceptedReader(int slot) const;
    std::uint32_t lastDataTick(int slot) const;
    // An outgoing slot waiting to be connected again, and the wait of its next attempt.
    bool reconnectPending(int slot) const;
    std::uint32_t reconnectDelayMs(int slot) const;
    // Bytes of an incomplete frame held for an outgoing / accepted slot.
    std::size_t carriedOutgoing(int slot) const;
    std::size_t carriedAccepted(int slot) const;
    // Connections refused because all 64 accepted slots were taken.
    int refusedAccepts() const { return refusedAccepts_; }
    // Bytes dropped as noise or with a closed connection's partial frame since the open,
    // over every connection of the run (those gone included).
    std::uint64_t discardedBytes() const { return discardedTotal_; }

    // Counters reset by OpenMonitorLinks and CloseMonitorLinks.
    int highestReaderConnection = 0;
    int startedConnections = 0;
    int connectedReaders = 0;
    int highestAcceptedReader = 0;

private:
    using Alive = std::shared_ptr<bool>;
    struct Accepted {
        QPointer<QTcpSocket> socket;
        QString address;
        QString line; // its line in MemoClient0: address:port
        StreamCarry carry;
        std::uint64_t order = 0; // later connections have higher numbers
        std::uint32_t lastDataTick = 0;
        bool delivered = false;
        bool queued = false;
        LinkCounters counters;
    };
    struct Reconnect {
        bool pending = false;
        std::uint32_t since = 0; // when the connection was lost
        std::uint32_t waitMs = 0;
        int step = 0; // back-off: 1 s << step, at most kReconnectLongestMs
    };
    // One outgoing row's timers and counters.
    struct Row {
        QTimer reconnect; // single shot: the next attempt of a lost connection
        QTimer watchdog;  // single shot: when the connection would have been silent 15 s
        bool queued = false;
        LinkCounters counters;
    };
    // A connection waiting for its turn: an outgoing row (accepted == false) or an accepted
    // slot, and the socket it had when queued.
    struct Ready {
        bool accepted = false;
        int slot = 0;
        QPointer<QTcpSocket> socket;
    };

    void openOutgoing();
    void openListening();
    void startConnection(int slot);
    void scheduleReconnect(QTcpSocket* socket);
    // The wait of a lost connection is over: it is made again.
    void reconnectNow(int slot);
    // The watchdog of an outgoing row: a connection silent for 15 s is dropped and made again.
    void watchdogFired(int slot);
    void armWatchdog(int slot, std::uint32_t ms);
    void noteSettled();
    // Queues a connection for its turn; serveQueue() serves one chunk of each in turn.
    void queueOutgoing(int slot);
    void queueAccepted(int slot);
    void serveQueue();
    // Reads one chunk (or everything, `all`) of a connection and decodes it; true when the
    // connection holds more.
    bool serveOutgoing(int slot, bool all);
    bool serveAccepted(int slot, bool all);
    // Older connections of an address that stayed silent while a newer one delivers.
    void retireSuperseded();
    void destroyConnection(int slot);
    // The incomplete frame held for an outgoing row has no continuation: counted, dropped.
    void dropOutgoingCarry(int slot);
    void onNewConnection();
    void clearAccepted(int slot);
    bool readAndSplit(QTcpSocket* s, StreamCarry& carry, const QString& name, qint64 maxBytes,
                      LinkCounters& counters);
    bool keepGoing() const { return !keepGoing_ || keepGoing_(); }
    int remotePort() const;

    TagRecordSink& sink_;
    MonitorEvents& events_;
    RunConfig config_;
    int mode_ = RunConfig::kSerial;
    QTcpServer* server_;
    // An outgoing connection was claimed by the engine's user: the open stops waiting.
    bool claimed_ = false;

    std::array<QPointer<QTcpSocket>, kReaderSlots> readerConnections_{};
    std::array<std::uint32_t, kReaderSlots> lastDataTick_{};
    std::array<StreamCarry, kReaderSlots> outgoingCarry_{};
    std::array<Reconnect, kReaderSlots> reconnect_{};
    std::array<Row, kReaderSlots> rows_;
    // Between opening and closing the outgoing connections of a run.
    bool outgoingActive_ = false;
    QString listenFailure_;
    std::uint64_t acceptOrder_ = 0;
    std::array<Accepted, kAcceptedSlots> acceptedReaders_{};
    // Every connection taken from ServerSocket during the run, recorded or not, so that the
    // end of the run closes all of them.
    std::vector<QPointer<QTcpSocket>> acceptedAll_;
    int refusedAccepts_ = 0;
    // Readers of the listening server that hung up, with their counts (at most 64).
    struct Departed {
        QString line;
        LinkCounters counters;
    };
    std::vector<Departed> departed_;
    std::uint64_t discardedTotal_ = 0;
    std::function<bool()> keepGoing_;
    std::function<void()> onSettled_;
    std::function<void()> onRecords_;
    bool serving_ = false;
    DecodeMode decodeMode_ = DecodeMode::Live;
    std::vector<Ready> ready_;
    bool servePosted_ = false;
    bool recordsInTurn_ = false;
    QTimer retireTimer_;
    QTimer serveTimer_;
    Alive alive_ = std::make_shared<bool>(true);
};

} // namespace kelta::monitor
