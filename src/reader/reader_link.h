#pragma once
// The configuration link to one reader: opened on the kind chosen in the link settings
// (serial port, outgoing TCP connection, or the listening server that one reader connects
// to), the exchange of one request for one answer, and the executor behind every reader
// button with its three attempts, status texts and beep. It knows the window only through a
// LinkView: the settings it reads and the texts it shows.
//
// Everything runs on the window's thread. The waits pump the window's events, so socket
// events, timers and clicks run nested inside an exchange; every wait gives up as soon as the
// program is closing or the view's window (or this object) has gone.

#include "reader/link_state.h"
#include "reader/link_view.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class QTcpSocket;

namespace kelta::reader {

// linkMode of a kind: 1 serial, 0 outgoing TCP, 2 listening TCP.
int linkModeOf(LinkKind kind);

// The port number of a cbxCom text: the digits after the first "M" of its upper-case form
// ("com7" -> 7); 1 when no digits follow.
int comNumberFromText(const QString& text);
// A TCP port typed by the user: its decimal value, 4001 when it is not a number in 1..65535.
int portFromText(const QString& text);
class ReaderLink : public QObject {
    Q_OBJECT
public:
    using BeepFn = std::function<void(int hz, int ms)>;

    // `view` must outlive this object. `listener` is the server the listening link listens
    // on (shared with the monitoring links, which take its connections while no configuration
    // page is shown); its new connections are connected to this object.
    ReaderLink(LinkView& view, QTcpServer* listener);
    ~ReaderLink() override; // drops the link without waiting

    LinkState& state() { return state_; }
    LinkView& view() const { return *view_; }
    QTcpServer* listener() const { return listener_.data(); }
    const LinkState& state() const { return state_; }

    // With forceReopen false and the link open: true at once. Otherwise closes everything,
    // stores the link settings and opens the link of the active link page.
    bool OpenLink(bool forceReopen);
    // Closes the serial port (its settings restored), the outgoing client and the listening
    // server with its peer. Always true.
    bool CloseLinks();

    // One request and its answer on the open link; true when an answer with the request's
    // command code was accepted (answerData / answerLength then hold it). A payload longer
    // than the checksum can cover is refused and nothing is sent.
    bool ReaderExchange(std::uint16_t command, std::span<const std::uint8_t> payload, int readerId);
    bool ReaderExchange(std::uint16_t command, const std::uint8_t* payload, int readerId,
                        int payloadLength);

    // The executor of the reader buttons: opens the link (fresh when freshLink, closed again
    // afterwards), up to three attempts, texts in both message panels, beep.
    bool ExecReaderCommand(bool freshLink, std::uint16_t command, int payloadLength,
                           const std::uint8_t* payload);
    bool ExecReaderCommand(bool freshLink, std::uint16_t command,
                           std::span<const std::uint8_t> payload = {});

    // The beep of the executor (success 1000 Hz / 10 ms, failure 300 / 300); by default the
    // tone, when the settings' beep switch is on.
    void setBeep(BeepFn beep) { beep_ = std::move(beep); }
    // Called when the listening link is opened, to forget the monitoring side's accepted
    // readers and their counters (set by the monitoring links).
    void setListenReset(std::function<void()> reset) { listenReset_ = std::move(reset); }

    // Socket events of the configuration link.
    void ClientSocketConnect(QTcpSocket* socket);
    void ClientSocketDisconnect(QTcpSocket* socket);
    void ClientSocketError(QTcpSocket* socket);
    void ServerSocketClientConnect(QTcpSocket* socket);
    void ServerSocketClientDisconnect(QTcpSocket* socket);

    // Whether this object still exists, and its view, held by every running exchange: after a
    // pump the check reads only this, never the object that may have gone meanwhile.
    struct Life {
        bool on = true;
        LinkView* view = nullptr;
    };
    using Alive = std::shared_ptr<Life>;

private:
    // After a pump: false when the work must stop (closing, window or this object gone).
    static bool goOn(const Alive& alive);
    void onNewConnection();
    void storeLinkSettings(const LinkSettings& settings);
    bool openSerial(const Alive& alive, const LinkSettings& settings);
    bool openTcpClient(const Alive& alive, const LinkSettings& settings);
    bool openListener(const Alive& alive, const LinkSettings& settings);
    bool waitForPeer(const Alive& alive, const QPointer<QTcpSocket>& peer);
    bool sendAnnouncement(bool outgoingTcp);
    bool exchangeSerial(const Alive& alive, std::span<const std::uint8_t> frame,
                        std::uint16_t command, bool& accepted);
    bool exchangeTcp(const Alive& alive, std::span<const std::uint8_t> frame, std::uint16_t command,
                     bool listening, bool& accepted);
    void dropLinkQuietly();

    LinkView* view_;
    QPointer<QTcpServer> listener_;
    LinkState state_;
    BeepFn beep_;
    std::function<void()> listenReset_;
    QList<QPointer<QTcpSocket>> extraPeers_; // accepted from other addresses, not used
    Alive alive_ = std::make_shared<Life>();
};

} // namespace kelta::reader
