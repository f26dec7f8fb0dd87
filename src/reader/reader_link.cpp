#include "reader/reader_link.h"

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/timings.h"
#include "platform/translation.h"
#include "platform/wait_pump.h"
#include "reader/proto/answer_collector.h"
#include "reader/proto/reader_frame.h"
#include "tag/proto/tag_frame.h"
#include "tag/tag_sender.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <array>
#include <vector>

namespace kelta::reader {

namespace {

constexpr int kSerialQueueBytes = 2048; // driver queues of the link's serial port
constexpr int kDefaultPort = 4001;
constexpr int kBeepOkHz = 1000, kBeepOkMs = 10;
constexpr int kBeepFailHz = 300, kBeepFailMs = 300;

QString translated(const char* text) {
    return Translate(currentLanguageIndex(), QString::fromLatin1(text));
}

QString hexText(std::span<const std::uint8_t> bytes) {
    return QString::fromStdString(HexBytes(bytes));
}

// Clears exchangeBusy on every way out, unless the link itself has gone.
struct BusyGuard {
    ReaderLink::Alive alive;
    LinkState& state;
    ~BusyGuard() {
        if (alive->on) state.exchangeBusy = false;
    }
};

// The peer's address equals the address typed in the edit (an IPv4 peer seen through a
// dual-stack listener compares as its IPv4 address).
bool sameAddress(const QHostAddress& peer, const QString& typed) {
    const QHostAddress want(typed.trimmed());
    if (want.isNull()) return false;
    return peer.isEqual(want, QHostAddress::TolerantConversion);
}

void dropSocket(QTcpSocket* s) {
    if (!s) return;
    s->disconnect();
    s->abort();
    s->deleteLater();
}

} // namespace

int linkModeOf(LinkKind kind) {
    switch (kind) {
    case LinkKind::TcpServer:
        return 0;
    case LinkKind::TcpClient:
        return 2;
    case LinkKind::Serial:
        break;
    }
    return 1;
}

int comNumberFromText(const QString& text) {
    const QString up = text.toUpper();
    const qsizetype m = up.indexOf(QLatin1Char('M'));
    const QString rest = m < 0 ? up : up.mid(m + 1);
    qsizetype digits = 0;
    while (digits < rest.size() && rest[digits] >= QLatin1Char('0') &&
           rest[digits] <= QLatin1Char('9'))
        ++digits;
    bool ok = false;
    const int n = rest.left(digits).toInt(&ok, 10);
    return ok ? n : 1;
}

int portFromText(const QString& text) {
    bool ok = false;
    const int port = text.trimmed().toInt(&ok, 10);
    return ok && port >= 1 && port <= 65535 ? port : kDefaultPort;
}

// ---------------------------------------------------------------------------------------------

ReaderLink::ReaderLink(LinkView& view, QTcpServer* listener) : view_(&view), listener_(listener) {
    alive_->view = view_;
    beep_ = [this](int hz, int ms) {
        if (view_->present() && view_->linkSettings().beep) platform::tone(hz, ms);
    };
    if (listener) connect(listener, &QTcpServer::newConnection, this, &ReaderLink::onNewConnection);
}

ReaderLink::~ReaderLink() {
    alive_->on = false;
    dropLinkQuietly();
}

bool ReaderLink::goOn(const Alive& alive) {
    return alive->on && alive->view->present() && !programClosing();
}

// Without waiting: used when this object goes away.
void ReaderLink::dropLinkQuietly() {
    state_.linkOpen = false;
    if (state_.comHandle) {
        if (state_.savedTimeouts) state_.comHandle->restoreState(*state_.savedTimeouts);
        state_.comHandle->close();
    }
    state_.comHandle.reset();
    state_.savedTimeouts.reset();
    if (state_.clientSocket) dropSocket(state_.clientSocket.release());
    state_.clientConn = nullptr;
    if (listener_ && state_.serverPeer) listener_->close();
    dropSocket(state_.serverPeer.data());
    state_.serverPeer = nullptr;
    for (const QPointer<QTcpSocket>& s : extraPeers_) dropSocket(s.data());
    extraPeers_.clear();
}

// ---------------------------------------------------------------------------------------------
// Socket events.

void ReaderLink::ClientSocketConnect(QTcpSocket* socket) {
    state_.clientConn = socket;
    state_.linkOpen = true;
}

void ReaderLink::ClientSocketDisconnect(QTcpSocket* socket) {
    if (state_.clientSocket && state_.clientConn == socket) state_.clientConn = nullptr;
    state_.linkOpen = false;
}

void ReaderLink::ClientSocketError(QTcpSocket*) {
    // The error is swallowed: no dialog, the link just counts as closed.
    state_.linkOpen = false;
}

void ReaderLink::onNewConnection() {
    // On the Read TAG page the connections belong to the monitoring links.
    if (!listener_ || !view_->present() || !view_->linkSettings().settingPageShown) return;
    while (QTcpSocket* s = listener_->nextPendingConnection()) ServerSocketClientConnect(s);
}

void ReaderLink::ServerSocketClientConnect(QTcpSocket* socket) {
    if (!socket || !view_->present()) return;
    QPointer<QTcpSocket> guard(socket);
    connect(socket, &QTcpSocket::disconnected, this, [this, guard] {
        if (guard) ServerSocketClientDisconnect(guard);
    });
    // Errors of an accepted connection are swallowed; a loss shows as its disconnect.
    connect(socket, &QAbstractSocket::errorOccurred, this, [] {});
    if (sameAddress(socket->peerAddress(), view_->linkSettings().clientIp)) {
        if (state_.serverPeer && state_.serverPeer != socket) extraPeers_.append(state_.serverPeer);
        state_.serverPeer = socket;
        state_.linkOpen = true;
    } else {
        extraPeers_.append(guard);
    }
}

void ReaderLink::ServerSocketClientDisconnect(QTcpSocket* socket) {
    if (socket && socket == state_.serverPeer) {
        state_.serverPeer = nullptr;
        state_.linkOpen = false;
        socket->close();
        socket->deleteLater();
        return;
    }
    // A reader the link does not use left: forget it.
    extraPeers_.removeAll(QPointer<QTcpSocket>(socket));
    extraPeers_.removeAll(QPointer<QTcpSocket>());
    if (socket) socket->deleteLater();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing.

bool ReaderLink::CloseLinks() {
    const Alive alive = alive_;
    state_.linkOpen = false;

    try {
        if (state_.comHandle) {
            if (state_.savedTimeouts) state_.comHandle->restoreState(*state_.savedTimeouts);
            state_.comHandle->close();
        }
    } catch (...) {
    }

    try {
        if (state_.clientConn && state_.clientConn->state() == QAbstractSocket::ConnectedState)
            state_.clientConn->close();
        if (state_.clientSocket && state_.clientSocket->state() == QAbstractSocket::ConnectedState)
            state_.clientSocket->close();
    } catch (...) {
    }
    WaitPump(timing::kAfterSocketCloseMs, 1);
    if (!alive->on) return true;
    if (state_.clientSocket) dropSocket(state_.clientSocket.release());

    try {
        if (listener_) listener_->close();
        dropSocket(state_.serverPeer.data());
        for (const QPointer<QTcpSocket>& s : extraPeers_) dropSocket(s.data());
        extraPeers_.clear();
    } catch (...) {
    }
    state_.serverPeer = nullptr;

    state_.comHandle.reset();
    state_.savedTimeouts.reset();
    state_.clientSocket.reset();
    state_.clientConn = nullptr;
    state_.linkOpen = false;
    PumpEvents();
    return true;
}

void ReaderLink::storeLinkSettings(const LinkSettings& settings) {
    try {
        auto store = platform::SettingsStore::open(true);
        if (!store) return;
        store->holdWrites();
        store->writeString(QStringLiteral("SETSERTCPIP"), settings.serverIp);
        store->writeString(QStringLiteral("SETSERTCPPort"), settings.serverPort);
        store->writeString(QStringLiteral("SETCOMPORT"), settings.comText);
        store->writeInteger(QStringLiteral("PAGE"), state_.linkMode);
        store->commit();
    } catch (...) {
        // The settings are a convenience; the link opens without them.
    }
}

bool ReaderLink::sendAnnouncement(bool tcp) {
    // Code 0x6011, flags 0, no ID, no trace: "0" and the link digit, then six zero bytes.
    const std::array<std::uint8_t, 8> data{
        '0', static_cast<std::uint8_t>(tcp ? '1' : '0'), 0, 0, 0, 0, 0, 0};
    return tag::SendTagCommand(*this, tag::kLinkAnnouncementCode, data, -1, false, 0x0000);
}

bool ReaderLink::OpenLink(bool forceReopen) {
    if (!forceReopen && state_.linkOpen) return true;
    const Alive alive = alive_;
    if (!view_->present()) return false;

    CloseLinks();
    if (!goOn(alive)) return false;

    LinkSettings settings = view_->linkSettings();
    const LinkKind kind = settings.kind;
    view_->showLinkKind(kind);
    state_.linkMode = linkModeOf(kind);
    // The port field shows the port the link will use (4001 for text that is not a port).
    if (kind == LinkKind::TcpServer) {
        const int port = portFromText(settings.serverPort);
        view_->showServerPort(port);
        settings.serverPort = QString::number(port);
    }
    storeLinkSettings(settings);

    bool result = false;
    try {
        switch (kind) {
        case LinkKind::Serial:
            result = openSerial(alive, settings);
            break;
        case LinkKind::TcpServer:
            result = openTcpClient(alive, settings);
            break;
        case LinkKind::TcpClient:
            result = openListener(alive, settings);
            break;
        }
    } catch (...) {
        result = false;
    }
    if (!goOn(alive)) return false;
    PumpEvents();
    if (!goOn(alive)) return false;
    return result;
}

bool ReaderLink::openSerial(const Alive& alive, const LinkSettings& settings) {
    auto port = std::make_unique<platform::SerialPort>();
    if (!port->open(comNumberFromText(settings.comText))) return false;
    state_.savedTimeouts = port->saveState();
    // Reads never wait: the line settings put VMIN and VTIME at 0, and only queued bytes are
    // ever read.
    port->applyLineSettings(settings.baudText);
    port->setQueueSizes(kSerialQueueBytes, kSerialQueueBytes);
    port->purge(platform::Purge::Both);
    state_.comHandle = std::move(port);
    state_.linkOpen = true;
    PumpEvents();
    if (!goOn(alive)) return false;
    sendAnnouncement(false);
    if (!goOn(alive)) return false;
    WaitPump(timing::kAnnouncementGapMs, 1);
    if (!goOn(alive)) return false;
    sendAnnouncement(false);
    return goOn(alive);
}

bool ReaderLink::openTcpClient(const Alive& alive, const LinkSettings& settings) {
    state_.clientConn = nullptr;
    auto* s = new QTcpSocket;
    state_.clientSocket.reset(s);
    connect(s, &QTcpSocket::connected, this, [this, s] { ClientSocketConnect(s); });
    connect(s, &QTcpSocket::disconnected, this, [this, s] { ClientSocketDisconnect(s); });
    connect(s, &QAbstractSocket::errorOccurred, this, [this, s] { ClientSocketError(s); });
    const int port = portFromText(settings.serverPort);
    s->connectToHost(settings.serverIp.trimmed(), static_cast<quint16>(port));

    return waitForPeer(alive, state_.clientConn);
}

bool ReaderLink::openListener(const Alive& alive, const LinkSettings& settings) {
    if (!listener_) return false;
    listener_->close();
    dropSocket(state_.serverPeer.data());
    state_.serverPeer = nullptr;
    if (listenReset_) listenReset_();
    const int port = portFromText(settings.listenPort);
    view_->showListenPort(port);
    if (!listener_->listen(QHostAddress::Any, static_cast<quint16>(port))) return false;

    return waitForPeer(alive, state_.serverPeer);
}

// Waits up to the connect time-out for the socket events to set `peer`; then the link is
// open and announces itself once (both TCP kinds send "0","1").
bool ReaderLink::waitForPeer(const Alive& alive, const QPointer<QTcpSocket>& peer) {
    const std::uint32_t start = platform::tickMs();
    const std::uint32_t limit = timing::scaled(timing::kConnectTimeoutMs);
    for (;;) {
        PumpEvents();
        if (!goOn(alive)) return false;
        if (peer) break;
        QThread::msleep(timing::kConnectPollSleepMs);
        if (platform::ticksSince(start) > limit) break;
    }
    if (!peer) return false;
    state_.linkOpen = true;
    sendAnnouncement(true);
    return goOn(alive);
}

// ---------------------------------------------------------------------------------------------
// The exchange.

namespace {

void storeAnswer(LinkState& state, LinkView& view, const AnswerCollector& col) {
    view.setTrace(TraceField::RecvHeader, hexText(col.header()));
    view.setTrace(TraceField::RecvData, hexText(col.data()));
    state.answerData = col.answerData();
    state.answerLength = col.answerLength();
}

} // namespace

bool ReaderLink::ReaderExchange(std::uint16_t command, const std::uint8_t* payload, int readerId,
                                int payloadLength) {
    if (payloadLength < 0 || (payloadLength > 0 && !payload)) {
        state_.clearAnswer();
        return false;
    }
    return ReaderExchange(
        command, std::span<const std::uint8_t>(payload, static_cast<std::size_t>(payloadLength)),
        readerId);
}

bool ReaderLink::ReaderExchange(std::uint16_t command, std::span<const std::uint8_t> payload,
                                int readerId) {
    const Alive alive = alive_;
    state_.clearAnswer();
    if (!view_->present()) return false;
    const auto frame = BuildReaderRequest(command, readerId, payload);
    if (!frame) return false; // longer than the checksum covers: nothing is sent
    view_->setTrace(TraceField::ReaderSend,
                    QString::fromStdString(TraceText(payload.size(), *frame)));

    bool accepted = false;
    try {
        switch (view_->linkSettings().kind) {
        case LinkKind::Serial:
            exchangeSerial(alive, *frame, command, accepted);
            break;
        case LinkKind::TcpServer:
            exchangeTcp(alive, *frame, command, false, accepted);
            break;
        case LinkKind::TcpClient:
            exchangeTcp(alive, *frame, command, true, accepted);
            break;
        }
    } catch (...) {
        accepted = false;
    }
    if (!goOn(alive)) return false;
    WaitPump(timing::kAfterExchangeMs, 1);
    PumpEvents();
    if (!goOn(alive)) return false;
    return accepted;
}

bool ReaderLink::exchangeSerial(const Alive& alive, std::span<const std::uint8_t> frame,
                                std::uint16_t command, bool& accepted) {
    if (!state_.comHandle) return false;
    state_.comHandle->purge(platform::Purge::Both);
    state_.comHandle->write(frame);
    WaitPump(timing::kAfterWriteMs, 1);
    if (!goOn(alive)) return false;

    AnswerCollector col(command);
    const std::uint32_t start = platform::tickMs();
    for (;;) {
        if (!state_.comHandle) return false; // closed while the window processed events
        if (const auto queued = state_.comHandle->queuedInput()) {
            if (*queued > static_cast<int>(timing::kSerialDiscardAbove)) {
                state_.comHandle->purge(platform::Purge::Input);
            } else if (*queued > 0) {
                if (const auto bytes = state_.comHandle->read(static_cast<std::size_t>(*queued)))
                    col.feed(std::span<const std::uint8_t>(*bytes));
            }
        }
        // A read that ends inside the answer does not end the attempt:
        // the rest of the frame may come in a later read, as in the tag exchange.
        if (col.accepted()) break;
        QThread::msleep(timing::kExchangePollSleepMs);
        PumpEvents();
        if (!goOn(alive)) return false;
        if (platform::ticksSince(start) > timing::kAnswerTimeoutMs) break;
    }
    if (col.accepted()) storeAnswer(state_, *view_, col);
    accepted = col.accepted();
    return true;
}

bool ReaderLink::exchangeTcp(const Alive& alive, std::span<const std::uint8_t> frame,
                             std::uint16_t command, bool listening, bool& accepted) {
    if (listening ? !state_.serverPeer : !state_.clientSocket) return false;
    // Looked up on every pass: the peer may leave, or the link close, while events run.
    auto connection = [this, alive, listening]() -> QTcpSocket* {
        if (!alive->on || !alive->view->present()) return nullptr;
        QTcpSocket* s = nullptr;
        if (listening)
            s = listener_ && listener_->isListening() ? state_.serverPeer.data() : nullptr;
        else
            s = state_.clientConn.data();
        return s && s->state() == QAbstractSocket::ConnectedState ? s : nullptr;
    };

    WaitPump(timing::kAfterWriteMs, 1);
    if (!goOn(alive)) return false;

    AnswerCollector col(command);
    bool sent = false;
    const std::uint32_t start = platform::tickMs();
    for (;;) {
        if (QTcpSocket* s = connection()) {
            if (!sent) {
                s->readAll(); // whatever the reader said before this request
                PumpEvents();
                if (!goOn(alive)) return false;
                if ((s = connection())) {
                    const qint64 n = s->write(reinterpret_cast<const char*>(frame.data()),
                                              static_cast<qint64>(frame.size()));
                    s->flush();
                    sent = n > 0;
                }
            } else if (s->bytesAvailable() > 0) {
                const QByteArray bytes = s->readAll();
                col.feed(std::span<const std::uint8_t>(
                    reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                    static_cast<std::size_t>(bytes.size())));
            }
        }
        // A read that ends inside the answer does not end the attempt:
        // the rest of the frame may come in a later read, as in the tag exchange.
        if (col.accepted()) break;
        QThread::msleep(timing::kExchangePollSleepMs);
        PumpEvents();
        if (!goOn(alive)) return false;
        if (platform::ticksSince(start) > timing::kAnswerTimeoutMs) break;
    }
    if (col.accepted()) storeAnswer(state_, *view_, col);
    accepted = col.accepted();
    return true;
}

// ---------------------------------------------------------------------------------------------
// The executor.

bool ReaderLink::ExecReaderCommand(bool freshLink, std::uint16_t command, int payloadLength,
                                   const std::uint8_t* payload) {
    const bool valid = payloadLength >= 0 && (payloadLength == 0 || payload);
    return ExecReaderCommand(
        freshLink, command,
        valid ? std::span<const std::uint8_t>(payload, static_cast<std::size_t>(payloadLength))
              : std::span<const std::uint8_t>{});
}

bool ReaderLink::ExecReaderCommand(bool freshLink, std::uint16_t command,
                                   std::span<const std::uint8_t> payload) {
    const Alive alive = alive_;
    if (!view_->present() || programClosing()) return false;
    LinkView& v = *view_;
    const WaitCursor cursor(v);
    const auto show = [&v](MessagePanel panel, const QString& text) { v.setMessage(panel, text); };
    const auto hint = [&v](MessagePanel panel, const QString& text) {
        v.setMessageHint(panel, text);
    };
    constexpr MessagePanel reader = MessagePanel::Reader;
    constexpr MessagePanel tagPanel = MessagePanel::Tag;

    v.setControlsEnabled(false);
    PumpEvents();
    if (!goOn(alive)) return false;
    hint(reader, QString());
    hint(tagPanel, QString());

    show(reader, translated("Connecting ......"));
    show(tagPanel, translated("Connecting ......"));
    hint(reader, translated("Select Function"));
    hint(tagPanel, translated("Select Function"));
    v.clearTraces();

    bool ok = false;
    if (payload.size() > kMaxRequestPayload) {
        // The checksum cannot cover it: refused before the link is touched.
        hint(reader, translated("Command Error."));
        hint(tagPanel, translated("Command Error."));
    } else if (!OpenLink(freshLink)) {
        if (!goOn(alive)) return false;
        show(reader, QStringLiteral("Connect Error !"));
        hint(reader, QStringLiteral("Connect Error !"));
        hint(tagPanel, QStringLiteral("Connect Error !"));
    } else {
        if (!goOn(alive)) return false;
        const int readerId = v.linkSettings().readerId;
        state_.exchangeBusy = true;
        const BusyGuard busy{alive, state_};
        PumpEvents();
        if (!goOn(alive)) return false;
        for (int attempt = 1; attempt <= timing::kReaderAttempts; ++attempt) {
            v.clearTraces();
            if (ReaderExchange(command, payload, readerId)) {
                show(reader, translated("Command Ok."));
                hint(reader, translated("Command Ok."));
                ok = true;
                break;
            }
            if (!goOn(alive)) return false;
            const QString count = QString::number(attempt) + QStringLiteral("/3 ]");
            const bool clientGone = v.linkSettings().kind == LinkKind::TcpServer &&
                                    (!state_.clientSocket || state_.clientSocket->state() !=
                                                                 QAbstractSocket::ConnectedState);
            if (clientGone) {
                show(reader, QStringLiteral("Connect Error !  [ ") + count);
                hint(reader, QStringLiteral("Connect Error !"));
            } else {
                show(reader, QStringLiteral("Command Error !  [ ") + count);
                hint(reader, QStringLiteral("Command Error !"));
            }
            // A cancelled operation tries no more: the exchange that ran has ended.
            if (v.cancelRequested()) break;
            WaitPump(timing::kBetweenAttemptsMs, 2);
            PumpEvents();
            if (!goOn(alive)) return false;
        }
        if (freshLink) {
            CloseLinks();
            if (!goOn(alive)) return false;
        }
    }

    if (beep_) {
        if (ok)
            beep_(kBeepOkHz, kBeepOkMs);
        else
            beep_(kBeepFailHz, kBeepFailMs);
    }
    if (!goOn(alive)) return false;

    state_.exchangeBusy = false;
    PumpEvents();
    if (!goOn(alive)) return false;
    v.clearStatus();
    show(reader, v.messageHint(reader));
    show(tagPanel, v.messageHint(tagPanel));
    return ok;
}

} // namespace kelta::reader
