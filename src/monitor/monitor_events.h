#pragma once
// What a monitoring run tells whoever runs it: the window shows it in its controls, a program
// without a window prints it. Every call comes on the engine's thread, from inside the run
// (its waits let events through, so a call may come from a socket signal). Each has a default
// that does nothing.

#include "monitor/proto/tag_record.h"
#include "platform/progress.h"

#include <QDateTime>
#include <QString>
#include <cstdint>

class QTcpSocket;

namespace kelta::monitor {

// The link an accepted record came over: the run's link kind (RunConfig::kSerial, ...) and
// "COM3" for a serial port, "host:port" for an outgoing connection, the peer address for a
// reader connected to the listening server.
struct RecordOrigin {
    int linkMode = 1;
    QString link;
};

// A selected tag that stayed silent past the time-out (absent), or that was heard again
// after that (returned), as the event log records it.
struct PresenceChange {
    bool returned = false;
    QString uid;
    QString readerId; // the reader that heard it last; empty when it was never heard
    QString rssi;
    QString lqi;
    QDateTime lastSeen;
    QDateTime at;
    qint64 silentMs = 0;
    // rssi and lqi as numbers (0 and 0 before the tag was first heard).
    std::uint8_t rssiValue = 0;
    std::uint8_t lqiValue = 0;
};

class MonitorEvents {
public:
    virtual ~MonitorEvents() = default;

    // The run receives: links open, announcement sent, counters started (the first status
    // follows at once).
    virtual void runStarted() {}
    // The run has ended, however it ended (stop(), a listening port not had): links closed,
    // serial ports restored, files closed, selection file written.
    virtual void runEnded() {}

    // The status text, reported on a timer while the run receives ("      0000000042 /
    // 00000125 sec"), and the number of rows of the table records go to.
    virtual void passStarted(const QString& status) { (void)status; }
    // tagRows is -1 while no table takes records.
    virtual void passEnded(int tagRows) { (void)tagRows; }
    // Before each absence sweep (a run with a selection): the last moment to change the
    // store's time-out.
    virtual void beforeSweep() {}

    // Serial ports opened for the run.
    virtual void serialOpened(int port) { (void)port; }

    // Outgoing connections: being made (the first time a row tries), made, lost.
    virtual void outgoingOpening() {}
    virtual void outgoingConnecting(int row) { (void)row; }
    virtual void outgoingConnected(int row, const QString& address, quint16 port) {
        (void)row, (void)address, (void)port;
    }
    virtual void outgoingLost(QTcpSocket* socket) { (void)socket; }
    // The run lets go of a connection (closed, remade by the watchdog, end of the run).
    virtual void outgoingDropped(QTcpSocket* socket) { (void)socket; }
    virtual void outgoingError(QTcpSocket* socket) { (void)socket; }
    virtual void outgoingClosing() {}
    // A connection that has just been made is taken by someone else (the window's
    // configuration link on its setting pages); true keeps it out of the run.
    virtual bool claimConnection(QTcpSocket* socket) {
        (void)socket;
        return false;
    }

    // The listening server and the readers that connect to it.
    virtual void listeningOpening(int port) { (void)port; }
    // False while the run leaves its connections to someone else (a window on its setting
    // pages): new readers wait, and a lost outgoing connection is not made again.
    virtual bool takesConnections() { return true; }
    // Every connection is a reader of its own, listed as "address:port" (`line`), several from
    // one address included. Accepting: a connection from `address` is being taken. Replaced:
    // the reader of `line` is gone for good (closed and superseded, or refused for want of
    // room). Lost: the reader of `line` closed, or stayed silent while a newer one from its
    // address delivers.
    virtual void readerAccepting(const QString& address) { (void)address; }
    virtual void readerReplaced(const QString& line) { (void)line; }
    virtual void readerAccepted(const QString& address, quint16 port) { (void)address, (void)port; }
    virtual void readerLost(const QString& line) { (void)line; }
    // All network links closed.
    virtual void networkClosed() {}

    // A record accepted into the store, with its link and the time it was stamped with.
    virtual void recordAccepted(const DecodedTagRecord& record, DecodeMode mode,
                                const RecordOrigin& origin, const QDateTime& received) {
        (void)record, (void)mode, (void)origin, (void)received;
    }
    // An absence or return of a selected tag, once per event-log line.
    virtual void presenceChanged(const PresenceChange& change) { (void)change; }

    // The run cannot receive anything (its listening port is taken): `reason` says why, as
    // "Listen port 4001 is in use by another program."; the run ends at once.
    virtual void linksFailed(const QString& reason) { (void)reason; }

    // What the run's files say changed: a file that cannot be written (with the lines lost so
    // far), written again, the selection file, the previous auto-save file kept aside; empty
    // when all is well again (TagStore::fileNotice()). Lines lost are also reported on stderr
    // once per run when the files close.
    virtual void fileFailure(const QString& message) { (void)message; }
    // A run of the stored tag log: the records received so far (done; the total is not
    // known), when that count changes, and `finished` once the readers stop sending (a few
    // requests in a row answered by nothing; records that come later start it again).
    virtual void tagLogProgress(const Progress& progress) { (void)progress; }

    // A tone when the run's beep is on.
    virtual void beep(int hz, int ms) { (void)hz, (void)ms; }
};

} // namespace kelta::monitor
