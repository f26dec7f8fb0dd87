#include "monitor/network_links.h"

#include "monitor/proto/monitor_frame.h"
#include "monitor/proto/report_decoder.h"
#include "platform/clock.h"
#include "platform/timings.h"
#include "platform/wait_pump.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>

namespace kelta::monitor {

namespace {

// A port number; 4001 when it is outside 1 ... 65535.
int usablePort(int port) {
    return port >= 1 && port <= 65535 ? port : 4001;
}

// The address as text, an IPv4 address seen through a dual-stack socket in its plain form.
QString addressText(const QHostAddress& a) {
    bool v4 = false;
    const quint32 ip = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip).toString() : a.toString();
}

bool connected(const QTcpSocket* s) {
    return s && s->state() == QAbstractSocket::ConnectedState;
}

// Without waiting; the object goes through the event loop because it may be in one of its own
// signals further up the stack.
void dropSocket(QTcpSocket* s, QObject* receiver) {
    if (!s) return;
    s->disconnect(receiver);
    s->abort();
    s->deleteLater();
}

} // namespace

NetworkLinks::NetworkLinks(TagRecordSink& sink, MonitorEvents& events)
    : sink_(sink), events_(events), server_(new QTcpServer(this)) {
    server_->setObjectName(QStringLiteral("monitorServer"));
    const std::uint32_t now = platform::tickMs();
    lastDataTick_.fill(now);
    connect(server_, &QTcpServer::newConnection, this, &NetworkLinks::onNewConnection);
}

NetworkLinks::~NetworkLinks() {
    *alive_ = false;
    for (auto& s : readerConnections_) {
        if (s) events_.outgoingDropped(s.data());
        dropSocket(s.data(), this);
    }
    for (auto& s : acceptedAll_) dropSocket(s.data(), this);
}

void NetworkLinks::setConfig(const RunConfig& config) {
    config_ = config;
}

int NetworkLinks::remotePort() const {
    return usablePort(config_.remotePort);
}

// -------------------------------------------------------------------------------------------
// Opening.

bool NetworkLinks::OpenNetworkLinks(int linkMode) {
    mode_ = linkMode;
    listenFailure_.clear();
    if (linkMode == 0)
        openOutgoing();
    else if (linkMode == 2)
        openListening();
    return listenFailure_.isEmpty();
}

void NetworkLinks::openOutgoing() {
    const Alive alive = alive_;
    claimed_ = false;
    events_.outgoingOpening();
    for (int k = 1; k <= kHighestReaderSlot; ++k) {
        QTcpSocket* s = readerConnections_[static_cast<std::size_t>(k)];
        if (connected(s)) s->close();
        destroyConnection(k);
        lastDataTick_[static_cast<std::size_t>(k)] = platform::tickMs();
    }
    reconnect_.fill({});
    outgoingActive_ = true;

    for (int k = 0; k <= kHighestReaderSlot; ++k) {
        if (!config_.addressChecked[static_cast<std::size_t>(k)]) continue;
        startConnection(k);
        if (!*alive) return;
        lastDataTick_[static_cast<std::size_t>(k)] = platform::tickMs();
        highestReaderConnection = k;
        ++startedConnections;
    }

    const std::uint32_t start = platform::tickMs();
    const std::uint32_t limit = timing::scaled(timing::kConnectTimeoutMs);
    while (connectedReaders < startedConnections && !claimed_) {
        if (platform::ticksSince(start) >= limit) break;
        PumpEvents();
        if (!*alive || programClosing()) return;
        // A reader that refused the first attempt may be there for the next one.
        if (!reconnectDue(alive)) return;
        platform::sleepMs(timing::kPumpSleepMs);
    }
}

void NetworkLinks::openListening() {
    const int port = usablePort(config_.listenPort);
    events_.listeningOpening(port);
    resetAccepted();
    if (server_->isListening()) server_->close();
    const QString address = config_.listenAddress.trimmed();
    if (server_->listen(address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(address),
                        static_cast<quint16>(port)))
        return;
    // Without its port no reader can reach the run: whoever runs it tells the user and ends it.
    if (!address.isEmpty() &&
        server_->serverError() == QAbstractSocket::SocketAddressNotAvailableError)
        listenFailure_ =
            QStringLiteral("Listen address %1 is not an address of this host.").arg(address);
    else if (server_->serverError() == QAbstractSocket::AddressInUseError)
        listenFailure_ = QStringLiteral("Listen port %1 is in use by another program.").arg(port);
    else
        listenFailure_ = QStringLiteral("Listen port %1 cannot be opened: %2.")
                             .arg(port)
                             .arg(server_->errorString());
}

void NetworkLinks::startConnection(int slot) {
    const std::size_t i = static_cast<std::size_t>(slot);
    if (slot < 1 || slot >= kReaderSlots) return;
    const int port = remotePort();
    const QString host = config_.addresses[i].trimmed();

    auto* s = new QTcpSocket(this);
    // The row travels with the socket as its "tag", as the window's controls carry theirs.
    s->setProperty("tag", slot);
    s->setProperty("address", host);
    s->setReadBufferSize(kReadBufferCap);
    readerConnections_[i] = s;
    outgoingCarry_[i].clear();
    // A new attempt replaces one that was waiting (the watchdog's, or a reconnection).
    reconnect_[i].pending = false;
    connect(s, &QTcpSocket::connected, this, [this, s] { ClientSocket1Connect(s); });
    connect(s, &QTcpSocket::disconnected, this, [this, s] { ClientSocket1Disconnect(s); });
    connect(s, &QAbstractSocket::errorOccurred, this, [this, s] { ClientSocket1Error(s); });
    connect(s, &QAbstractSocket::stateChanged, this, [this, s](QAbstractSocket::SocketState st) {
        if (st == QAbstractSocket::HostLookupState || st == QAbstractSocket::ConnectingState)
            ClientSocket1Connecting(s);
    });
    s->connectToHost(host, static_cast<quint16>(port));
}

void NetworkLinks::scheduleReconnect(QTcpSocket* socket) {
    // Only a monitoring connection of a running run, and only the one its slot holds.
    if (!outgoingActive_ || !socket || !events_.takesConnections() || !keepGoing()) return;
    if (socket->state() != QAbstractSocket::UnconnectedState &&
        socket->state() != QAbstractSocket::ClosingState)
        return;
    const int slot = socket->property("tag").toInt();
    if (slot < 1 || slot > kHighestReaderSlot) return;
    const std::size_t i = static_cast<std::size_t>(slot);
    if (readerConnections_[i] != socket) return;
    Reconnect& r = reconnect_[i];
    if (r.pending) return;
    const std::uint32_t longest = timing::kReconnectLongestMs;
    const std::uint32_t wait = std::min(timing::kReconnectFirstMs << r.step, longest);
    r.pending = true;
    r.since = platform::tickMs();
    r.waitMs = timing::scaled(wait);
    if ((timing::kReconnectFirstMs << r.step) < longest) ++r.step;
}

bool NetworkLinks::reconnectDue(const Alive& alive) {
    if (!outgoingActive_) return true;
    for (int k = 1; k <= kHighestReaderSlot; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        Reconnect& r = reconnect_[i];
        if (!r.pending || platform::ticksSince(r.since) < r.waitMs) continue;
        r.pending = false;
        destroyConnection(k);
        startConnection(k);
        lastDataTick_[i] = platform::tickMs();
        PumpEvents();
        if (!*alive) return false;
    }
    return true;
}

void NetworkLinks::destroyConnection(int slot) {
    const std::size_t i = static_cast<std::size_t>(slot);
    QTcpSocket* s = readerConnections_[i];
    readerConnections_[i] = nullptr;
    outgoingCarry_[i].clear();
    if (s) events_.outgoingDropped(s);
    dropSocket(s, this);
}

// -------------------------------------------------------------------------------------------
// Closing.

bool NetworkLinks::settleSteps(const Alive& alive) {
    for (int i = 0; i < kCloseSteps; ++i) {
        platform::sleepMs(kCloseStepMs);
        PumpEvents();
        if (!*alive) return false;
        if (programClosing()) break;
    }
    return true;
}

void NetworkLinks::CloseNetworkLinks() {
    const Alive alive = alive_;
    const int mode = mode_;
    // The connections closed now are not made again.
    outgoingActive_ = false;
    reconnect_.fill({});
    if (mode == 0) {
        events_.outgoingClosing();
        for (int k = 1; k <= kHighestReaderSlot; ++k) {
            QTcpSocket* s = readerConnections_[static_cast<std::size_t>(k)];
            if (!connected(s)) continue;
            s->close();
            PumpEvents();
            if (!*alive) return;
        }
        lastDataTick_.fill(platform::tickMs());
        if (!settleSteps(alive)) return;
    }

    for (int k = 1; k <= kHighestReaderSlot; ++k) destroyConnection(k);

    if (mode == 2) {
        server_->close();
        if (!settleSteps(alive)) return;
        for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
            QTcpSocket* s = acceptedReaders_[static_cast<std::size_t>(k)].socket;
            if (connected(s)) s->close();
        }
    }

    events_.networkClosed();
    server_->close();
    resetAccepted();
    // Connections no longer in a slot (replaced by a newer one from the same address) end too.
    for (auto& s : acceptedAll_) dropSocket(s.data(), this);
    acceptedAll_.clear();
}

void NetworkLinks::resetAccepted() {
    for (int k = 0; k < kAcceptedSlots; ++k) clearAccepted(k);
}

void NetworkLinks::clearAccepted(int slot) {
    acceptedReaders_[static_cast<std::size_t>(slot)] = Accepted{};
}

void NetworkLinks::retireSuperseded() {
    const int highest = std::min(highestAcceptedReader, kHighestAcceptedSlot);
    const std::uint32_t silence = timing::scaled(timing::kWatchdogMs);
    for (int k = 1; k <= highest; ++k) {
        Accepted& old = acceptedReaders_[static_cast<std::size_t>(k)];
        if (!old.socket || platform::ticksSince(old.lastDataTick) < silence) continue;
        bool replaced = false;
        for (int j = 1; j <= highest && !replaced; ++j) {
            const Accepted& other = acceptedReaders_[static_cast<std::size_t>(j)];
            replaced = j != k && other.socket && other.address == old.address &&
                       other.order > old.order && other.delivered;
        }
        if (!replaced) continue;
        QTcpSocket* s = old.socket;
        events_.readerLost(old.line);
        clearAccepted(k);
        dropSocket(s, this);
    }
}

// -------------------------------------------------------------------------------------------
// Writing and polling.

void NetworkLinks::WriteNetworkLinks(std::span<const std::uint8_t> frame) {
    const Alive alive = alive_;
    const auto* data = reinterpret_cast<const char*>(frame.data());
    const auto size = static_cast<qint64>(frame.size());
    if (mode_ == 0) {
        for (int k = 1; k <= highestReaderConnection && k <= kHighestReaderSlot; ++k) {
            QTcpSocket* s = readerConnections_[static_cast<std::size_t>(k)];
            if (!connected(s)) continue;
            s->write(data, size);
            s->flush();
            PumpEvents();
            if (!*alive) return;
        }
    } else if (mode_ == 2) {
        for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
            QTcpSocket* s = acceptedReaders_[static_cast<std::size_t>(k)].socket;
            if (!connected(s)) continue;
            s->write(data, size);
            s->flush();
        }
    }
}

bool NetworkLinks::readAndSplit(QTcpSocket* s, StreamCarry& carry, const QString& name,
                                DecodeMode mode) {
    const QByteArray bytes = s->read(s->bytesAvailable());
    const std::vector<std::uint8_t> block = carry.take(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size())));
    if (block.empty()) return false;
    const std::string linkName = name.toStdString();
    // Frame by frame: a frame of another type is dropped alone, not with the reports read
    // together with it.
    bool result = false;
    ForEachFrame(block, [&](std::span<const std::uint8_t> frame) {
        if (!keepGoing()) return false;
        result = SplitReportBlock(mode, LinkKind::Network, linkName, frame, sink_,
                                  [] { PumpEvents(); }) ||
                 result;
        return true;
    });
    return result;
}

bool NetworkLinks::PollNetworkLink(DecodeMode mode, int& pollCursor) {
    const Alive alive = alive_;
    if (mode_ == 2) {
        const int highest = std::min(highestAcceptedReader, kHighestAcceptedSlot);
        ++pollCursor;
        if (pollCursor > highest) pollCursor = 1;
        auto waiting = [this](int k, bool mustBeConnected) {
            const QTcpSocket* s = acceptedReaders_[static_cast<std::size_t>(k)].socket;
            return s && (!mustBeConnected || connected(s)) && s->bytesAvailable() > 0;
        };
        int found = 0;
        for (int k = pollCursor; k <= highest && !found; ++k)
            if (waiting(k, true)) found = k;
        for (int k = 1; k <= highest && !found; ++k)
            if (waiting(k, false)) found = k;
        if (!found) {
            retireSuperseded();
            return false;
        }
        pollCursor = found;
        // Every connection with bytes waiting is served, the one found first.
        bool result = false;
        for (int i = 0; i < highest && keepGoing(); ++i) {
            const int k = (found - 1 + i) % highest + 1;
            if (!waiting(k, false)) continue;
            Accepted& a = acceptedReaders_[static_cast<std::size_t>(k)];
            a.lastDataTick = platform::tickMs();
            a.delivered = true;
            result = readAndSplit(a.socket, a.carry, a.address, mode) || result;
            if (!*alive) return result;
        }
        retireSuperseded();
        return result;
    }
    if (mode_ != 0) return false;

    const int highest = std::min(highestReaderConnection, kHighestReaderSlot);
    if (!reconnectDue(alive)) return false;
    // Watchdog: a connection silent for 15 s (or never made) is dropped and made again; one
    // that was lost waits for its own attempt instead.
    const std::uint32_t limit = timing::scaled(timing::kWatchdogMs);
    for (int k = 1; k <= highest; ++k) {
        const std::size_t i = static_cast<std::size_t>(k);
        if (!readerConnections_[i] || reconnect_[i].pending) continue;
        if (platform::ticksSince(lastDataTick_[i]) < limit) continue;
        lastDataTick_[i] = platform::tickMs();
        PumpEvents();
        if (!*alive) return false;
        if (QTcpSocket* s = readerConnections_[i]) s->close();
        destroyConnection(k);
        PumpEvents();
        if (!*alive) return false;
        startConnection(k);
        lastDataTick_[i] = platform::tickMs();
        PumpEvents();
        if (!*alive) return false;
    }

    ++pollCursor;
    if (pollCursor > highest) pollCursor = 1;
    auto waiting = [this](int k) {
        const QTcpSocket* s = readerConnections_[static_cast<std::size_t>(k)];
        return connected(s) && s->bytesAvailable() > 0;
    };
    int found = 0;
    for (int k = pollCursor; k <= highest && !found; ++k)
        if (waiting(k)) found = k;
    for (int k = 1; k <= highest && !found; ++k)
        if (waiting(k)) found = k;
    if (!found) return false;
    pollCursor = found;
    bool result = false;
    for (int j = 0; j < highest && keepGoing(); ++j) {
        const int k = (found - 1 + j) % highest + 1;
        if (!waiting(k)) continue;
        const std::size_t i = static_cast<std::size_t>(k);
        QTcpSocket* s = readerConnections_[i];
        const QString name = s->property("address").toString();
        result = readAndSplit(s, outgoingCarry_[i], name, mode) || result;
        if (!*alive) return result;
        lastDataTick_[i] = platform::tickMs();
        // Data came: the next loss is tried again after the shortest wait.
        reconnect_[i].step = 0;
    }
    return result;
}

// -------------------------------------------------------------------------------------------
// Events of the outgoing connections.

void NetworkLinks::ClientSocket1Connect(QTcpSocket* socket) {
    if (!socket) return;
    if (events_.claimConnection(socket)) {
        claimed_ = true;
        return;
    }

    const Alive alive = alive_;
    const QPointer<QTcpSocket> s(socket);
    events_.outgoingConnected(socket->property("tag").toInt(), addressText(socket->peerAddress()),
                              socket->peerPort());
    PumpEvents();
    if (!*alive) return;
    ++connectedReaders;
    PumpEvents();
    if (!*alive) return;

    for (const auto& frame : connectionSetupFrames()) {
        if (!connected(s)) break;
        s->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
        s->flush();
        WaitPump(kSetupFrameGapMs, 1);
        PumpEvents();
        if (!*alive) return;
    }
    PumpEvents();
}

void NetworkLinks::ClientSocket1Connecting(QTcpSocket* socket) {
    events_.outgoingConnecting(socket->property("tag").toInt());
}

void NetworkLinks::ClientSocket1Disconnect(QTcpSocket* socket) {
    events_.outgoingLost(socket);
    scheduleReconnect(socket);
    // The incomplete frame of a closed connection has no continuation.
    const int slot = socket->property("tag").toInt();
    if (slot >= 0 && slot < kReaderSlots &&
        readerConnections_[static_cast<std::size_t>(slot)] == socket)
        outgoingCarry_[static_cast<std::size_t>(slot)].clear();
}

void NetworkLinks::ClientSocket1Error(QTcpSocket* socket) {
    // No error is raised: a connection that could not be made is tried again after a wait.
    events_.outgoingError(socket);
    scheduleReconnect(socket);
}

// -------------------------------------------------------------------------------------------
// Events of the listening server.

void NetworkLinks::onNewConnection() {
    // A window on its setting pages leaves them waiting.
    if (!events_.takesConnections()) return;
    while (QTcpSocket* s = server_->nextPendingConnection()) {
        ServerSocketClientConnect(s);
        if (!events_.takesConnections()) break;
    }
}

void NetworkLinks::ServerSocketClientConnect(QTcpSocket* socket) {
    if (!socket) return;
    const Alive alive = alive_;
    const QPointer<QTcpSocket> guard(socket);
    socket->setReadBufferSize(kReadBufferCap);
    connect(socket, &QTcpSocket::disconnected, this, [this, guard] {
        if (guard) ServerSocketClientDisconnect(guard);
    });
    // Errors of an accepted connection are swallowed; a loss shows as its disconnect.
    connect(socket, &QAbstractSocket::errorOccurred, this, [] {});
    acceptedAll_.erase(std::remove(acceptedAll_.begin(), acceptedAll_.end(), nullptr),
                       acceptedAll_.end());
    acceptedAll_.push_back(guard);

    const QString address = addressText(socket->peerAddress());
    const QString line = address + QLatin1Char(':') + QString::number(socket->peerPort());
    events_.readerAccepting(address);

    // A reader connecting again from the same address replaces its older connection when
    // that one has closed; one still open may be another reader behind the same address
    // (it is replaced later only if it stays silent while this one delivers).
    for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
        Accepted& a = acceptedReaders_[static_cast<std::size_t>(k)];
        if (a.address != address || connected(a.socket)) continue;
        QTcpSocket* old = a.socket;
        events_.readerReplaced(a.line);
        clearAccepted(k);
        dropSocket(old, this);
    }
    PumpEvents();
    if (!*alive) return;
    if (!guard) return;

    auto freeSlot = [this] {
        for (int k = 1; k <= kHighestAcceptedSlot; ++k)
            if (!acceptedReaders_[static_cast<std::size_t>(k)].socket) return k;
        return 0;
    };
    if (!freeSlot()) {
        // No room: a connection that would never be read is closed at once.
        ++refusedAccepts_;
        dropSocket(socket, this);
        return;
    }

    events_.readerAccepted(address, socket->peerPort());
    PumpEvents();
    if (!*alive) return;
    if (!guard) {
        events_.readerReplaced(line);
        return;
    }

    // Taken while the window processed messages: the next free one.
    const int slot = freeSlot();
    if (!slot) {
        ++refusedAccepts_;
        events_.readerReplaced(line);
        dropSocket(socket, this);
        return;
    }
    Accepted& free = acceptedReaders_[static_cast<std::size_t>(slot)];
    free.socket = socket;
    free.address = address;
    free.line = line;
    free.carry.clear();
    free.order = ++acceptOrder_;
    free.lastDataTick = platform::tickMs();
    free.delivered = false;
    if (slot > highestAcceptedReader) highestAcceptedReader = slot;
    PumpEvents();
}

void NetworkLinks::ServerSocketClientDisconnect(QTcpSocket* socket) {
    if (!socket) return;
    // Only this connection's own line goes: a newer connection from the same address keeps
    // its line.
    for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
        Accepted& a = acceptedReaders_[static_cast<std::size_t>(k)];
        if (a.socket != socket) continue;
        events_.readerLost(a.line);
        clearAccepted(k);
    }
    dropSocket(socket, this);
}

// -------------------------------------------------------------------------------------------
// Tables.

QTcpSocket* NetworkLinks::readerConnection(int slot) const {
    return slot >= 0 && slot < kReaderSlots ? readerConnections_[static_cast<std::size_t>(slot)]
                                            : nullptr;
}

QTcpSocket* NetworkLinks::acceptedReader(int slot) const {
    return slot >= 0 && slot < kAcceptedSlots
               ? acceptedReaders_[static_cast<std::size_t>(slot)].socket.data()
               : nullptr;
}

std::uint32_t NetworkLinks::lastDataTick(int slot) const {
    return slot >= 0 && slot < kReaderSlots ? lastDataTick_[static_cast<std::size_t>(slot)] : 0;
}

bool NetworkLinks::reconnectPending(int slot) const {
    return slot >= 0 && slot < kReaderSlots && reconnect_[static_cast<std::size_t>(slot)].pending;
}

std::uint32_t NetworkLinks::reconnectDelayMs(int slot) const {
    return slot >= 0 && slot < kReaderSlots ? reconnect_[static_cast<std::size_t>(slot)].waitMs : 0;
}

std::size_t NetworkLinks::carriedOutgoing(int slot) const {
    return slot >= 0 && slot < kReaderSlots
               ? outgoingCarry_[static_cast<std::size_t>(slot)].carried()
               : 0;
}

std::size_t NetworkLinks::carriedAccepted(int slot) const {
    return slot >= 0 && slot < kAcceptedSlots
               ? acceptedReaders_[static_cast<std::size_t>(slot)].carry.carried()
               : 0;
}

} // namespace kelta::monitor
