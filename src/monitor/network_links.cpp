#include "monitor/network_links.h"

#include "monitor/proto/monitor_frame.h"
#include "monitor/proto/report_decoder.h"
#include "platform/clock.h"
#include "platform/timings.h"

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
    for (int k = 1; k < kReaderSlots; ++k) {
        Row& r = rows_[static_cast<std::size_t>(k)];
        r.reconnect.setSingleShot(true);
        r.watchdog.setSingleShot(true);
        connect(&r.reconnect, &QTimer::timeout, this, [this, k] { reconnectNow(k); });
        connect(&r.watchdog, &QTimer::timeout, this, [this, k] { watchdogFired(k); });
    }
    retireTimer_.setInterval(static_cast<int>(timing::scaled(kRetireCheckMs)));
    connect(&retireTimer_, &QTimer::timeout, this, [this] { retireSuperseded(); });
    serveTimer_.setSingleShot(true);
    serveTimer_.setInterval(0);
    connect(&serveTimer_, &QTimer::timeout, this, [this] { serveQueue(); });
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
    discardedTotal_ = 0;
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
        rows_[static_cast<std::size_t>(k)].counters.clear();
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
    // A reader that refuses the first attempt may be there for the next one: the reconnect
    // timers go on while the run waits (MonitorEngine, up to 10 s) for all of them.
}

void NetworkLinks::noteSettled() {
    if (outgoingSettled() && onSettled_) onSettled_();
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
    rows_[i].reconnect.stop();
    connect(s, &QTcpSocket::connected, this, [this, s] { ClientSocket1Connect(s); });
    connect(s, &QTcpSocket::disconnected, this, [this, s] { ClientSocket1Disconnect(s); });
    connect(s, &QAbstractSocket::errorOccurred, this, [this, s] { ClientSocket1Error(s); });
    connect(s, &QAbstractSocket::stateChanged, this, [this, s](QAbstractSocket::SocketState st) {
        if (st == QAbstractSocket::HostLookupState || st == QAbstractSocket::ConnectingState)
            ClientSocket1Connecting(s);
    });
    connect(s, &QIODevice::readyRead, this, [this, slot] { queueOutgoing(slot); });
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
    rows_[i].reconnect.start(static_cast<int>(r.waitMs));
}

void NetworkLinks::reconnectNow(int slot) {
    const std::size_t i = static_cast<std::size_t>(slot);
    Reconnect& r = reconnect_[i];
    if (!outgoingActive_ || !r.pending) return;
    r.pending = false;
    destroyConnection(slot);
    startConnection(slot);
    lastDataTick_[i] = platform::tickMs();
    if (serving_) armWatchdog(slot, timing::scaled(timing::kWatchdogMs));
}

void NetworkLinks::armWatchdog(int slot, std::uint32_t ms) {
    rows_[static_cast<std::size_t>(slot)].watchdog.start(static_cast<int>(ms));
}

void NetworkLinks::watchdogFired(int slot) {
    const std::size_t i = static_cast<std::size_t>(slot);
    if (!serving_ || !outgoingActive_ || !readerConnections_[i]) return;
    // One that was lost waits for its own attempt; the watchdog looks again after it.
    const std::uint32_t limit = timing::scaled(timing::kWatchdogMs);
    if (reconnect_[i].pending) {
        armWatchdog(slot, limit);
        return;
    }
    const std::uint32_t silent = platform::ticksSince(lastDataTick_[i]);
    if (silent < limit) {
        armWatchdog(slot, limit - silent);
        return;
    }
    // Silent for 15 s (or never made): dropped and made again.
    lastDataTick_[i] = platform::tickMs();
    if (QTcpSocket* s = readerConnections_[i]) s->close();
    destroyConnection(slot);
    startConnection(slot);
    lastDataTick_[i] = platform::tickMs();
    armWatchdog(slot, limit);
}

void NetworkLinks::dropOutgoingCarry(int slot) {
    const std::size_t i = static_cast<std::size_t>(slot);
    rows_[i].counters.bytesDiscarded += outgoingCarry_[i].carried();
    discardedTotal_ += outgoingCarry_[i].carried();
    outgoingCarry_[i].clear();
}

void NetworkLinks::destroyConnection(int slot) {
    const std::size_t i = static_cast<std::size_t>(slot);
    QTcpSocket* s = readerConnections_[i];
    readerConnections_[i] = nullptr;
    dropOutgoingCarry(slot);
    if (s) events_.outgoingDropped(s);
    dropSocket(s, this);
}

// -------------------------------------------------------------------------------------------
// Closing.

void NetworkLinks::CloseNetworkLinks() {
    const Alive alive = alive_;
    const int mode = mode_;
    stopServing();
    // The connections closed now are not made again.
    outgoingActive_ = false;
    reconnect_.fill({});
    for (Row& r : rows_) {
        r.reconnect.stop();
        r.watchdog.stop();
    }
    retireTimer_.stop();
    if (mode == 0) {
        events_.outgoingClosing();
        for (int k = 1; k <= kHighestReaderSlot; ++k) {
            QTcpSocket* s = readerConnections_[static_cast<std::size_t>(k)];
            if (!connected(s)) continue;
            s->close();
            if (!*alive) return;
        }
        lastDataTick_.fill(platform::tickMs());
    }

    for (int k = 1; k <= kHighestReaderSlot; ++k) destroyConnection(k);

    if (mode == 2) {
        server_->close();
        for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
            QTcpSocket* s = acceptedReaders_[static_cast<std::size_t>(k)].socket;
            if (connected(s)) s->close();
            if (!*alive) return;
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
    departed_.clear();
}

void NetworkLinks::clearAccepted(int slot) {
    acceptedReaders_[static_cast<std::size_t>(slot)] = Accepted{};
}

void NetworkLinks::retireSuperseded() {
    const int highest = std::min(highestAcceptedReader, kHighestAcceptedSlot);
    const std::uint32_t silence = timing::scaled(timing::kWatchdogMs);
    bool several = false;
    for (int k = 1; k <= highest; ++k) {
        Accepted& old = acceptedReaders_[static_cast<std::size_t>(k)];
        if (!old.socket) continue;
        bool replaced = false;
        for (int j = 1; j <= highest && !replaced; ++j) {
            const Accepted& other = acceptedReaders_[static_cast<std::size_t>(j)];
            if (j == k || !other.socket || other.address != old.address) continue;
            several = true;
            replaced = other.order > old.order && other.delivered;
        }
        if (!replaced || platform::ticksSince(old.lastDataTick) < silence) continue;
        QTcpSocket* s = old.socket;
        events_.readerLost(old.line);
        clearAccepted(k);
        dropSocket(s, this);
    }
    // Only an address with several connections has one to retire.
    if (!several) retireTimer_.stop();
}

// -------------------------------------------------------------------------------------------
// Writing and serving.

void NetworkLinks::WriteNetworkLinks(std::span<const std::uint8_t> frame) {
    const auto* data = reinterpret_cast<const char*>(frame.data());
    const auto size = static_cast<qint64>(frame.size());
    if (mode_ == 0) {
        for (int k = 1; k <= highestReaderConnection && k <= kHighestReaderSlot; ++k) {
            QTcpSocket* s = readerConnections_[static_cast<std::size_t>(k)];
            if (!connected(s)) continue;
            s->write(data, size);
            s->flush();
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
                                qint64 maxBytes, LinkCounters& counters) {
    const qint64 available = s->bytesAvailable();
    const QByteArray bytes = s->read(maxBytes > 0 ? std::min(available, maxBytes) : available);
    const std::uint64_t skippedBefore = carry.skipped();
    const std::vector<std::uint8_t> block = carry.take(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      static_cast<std::size_t>(bytes.size())));
    const std::uint64_t skipped = carry.skipped() - skippedBefore;
    counters.bytesDiscarded += skipped;
    discardedTotal_ += skipped;
    if (block.empty()) return false;
    const std::string linkName = name.toStdString();
    CountingSink sink(sink_, counters);
    // Frame by frame: a frame of another type is dropped alone, not with the reports read
    // together with it.
    bool result = false;
    ForEachFrame(block, [&](std::span<const std::uint8_t> frame) {
        if (!keepGoing()) return false;
        const bool r = SplitReportBlock(decodeMode_, LinkKind::Network, linkName, frame, sink);
        if (!r) ++counters.framesRejected;
        result = r || result;
        return true;
    });
    if (result) recordsInTurn_ = true;
    return result;
}

void NetworkLinks::startServing(DecodeMode mode) {
    decodeMode_ = mode;
    serving_ = true;
    const std::uint32_t limit = timing::scaled(timing::kWatchdogMs);
    if (mode_ == 0) {
        for (int k = 1; k <= std::min(highestReaderConnection, kHighestReaderSlot); ++k) {
            if (!readerConnections_[static_cast<std::size_t>(k)]) continue;
            const std::uint32_t silent = platform::ticksSince(lastDataTick_[static_cast<std::size_t>(k)]);
            armWatchdog(k, silent < limit ? limit - silent : 0);
            queueOutgoing(k);
        }
    } else if (mode_ == 2) {
        for (int k = 1; k <= kHighestAcceptedSlot; ++k) queueAccepted(k);
    }
}

void NetworkLinks::stopServing() {
    serving_ = false;
    serveTimer_.stop();
    servePosted_ = false;
    for (const Ready& r : ready_) {
        if (r.accepted)
            acceptedReaders_[static_cast<std::size_t>(r.slot)].queued = false;
        else
            rows_[static_cast<std::size_t>(r.slot)].queued = false;
    }
    ready_.clear();
    for (Row& r : rows_) r.watchdog.stop();
}

void NetworkLinks::queueOutgoing(int slot) {
    if (!serving_ || slot < 1 || slot > kHighestReaderSlot) return;
    Row& row = rows_[static_cast<std::size_t>(slot)];
    QTcpSocket* s = readerConnections_[static_cast<std::size_t>(slot)];
    if (row.queued || !s || s->bytesAvailable() <= 0) return;
    row.queued = true;
    ready_.push_back({false, slot, s});
    if (!servePosted_) {
        servePosted_ = true;
        serveTimer_.start();
    }
}

void NetworkLinks::queueAccepted(int slot) {
    if (!serving_ || slot < 1 || slot > kHighestAcceptedSlot) return;
    Accepted& a = acceptedReaders_[static_cast<std::size_t>(slot)];
    if (a.queued || !a.socket || a.socket->bytesAvailable() <= 0) return;
    a.queued = true;
    ready_.push_back({true, slot, a.socket});
    if (!servePosted_) {
        servePosted_ = true;
        serveTimer_.start();
    }
}

void NetworkLinks::serveQueue() {
    servePosted_ = false;
    const Alive alive = alive_;
    // One turn: a chunk of every connection queued when it began; those with more are queued
    // again behind the ones that became ready meanwhile.
    std::vector<Ready> turn;
    turn.swap(ready_);
    recordsInTurn_ = false;
    for (const Ready& r : turn) {
        if (!serving_) break;
        const std::size_t i = static_cast<std::size_t>(r.slot);
        bool more = false;
        if (r.accepted) {
            acceptedReaders_[i].queued = false;
            if (acceptedReaders_[i].socket != r.socket) continue;
            more = serveAccepted(r.slot, false);
            if (!*alive) return;
            if (more) queueAccepted(r.slot);
        } else {
            rows_[i].queued = false;
            if (readerConnections_[i] != r.socket) continue;
            more = serveOutgoing(r.slot, false);
            if (!*alive) return;
            if (more) queueOutgoing(r.slot);
        }
    }
    if (recordsInTurn_ && onRecords_) onRecords_();
}

bool NetworkLinks::serveOutgoing(int slot, bool all) {
    const std::size_t i = static_cast<std::size_t>(slot);
    QTcpSocket* s = readerConnections_[i];
    if (!s || s->bytesAvailable() <= 0 || !keepGoing()) return false;
    const QString name = s->property("address").toString();
    readAndSplit(s, outgoingCarry_[i], name, all ? 0 : kServeChunk, rows_[i].counters);
    lastDataTick_[i] = platform::tickMs();
    // Data came: the next loss is tried again after the shortest wait.
    reconnect_[i].step = 0;
    s = readerConnections_[i];
    return s && s->bytesAvailable() > 0;
}

bool NetworkLinks::serveAccepted(int slot, bool all) {
    Accepted& a = acceptedReaders_[static_cast<std::size_t>(slot)];
    if (!a.socket || a.socket->bytesAvailable() <= 0 || !keepGoing()) return false;
    a.lastDataTick = platform::tickMs();
    a.delivered = true;
    readAndSplit(a.socket, a.carry, a.address, all ? 0 : kServeChunk, a.counters);
    return a.socket && a.socket->bytesAvailable() > 0;
}

// -------------------------------------------------------------------------------------------
// Events of the outgoing connections.

void NetworkLinks::ClientSocket1Connect(QTcpSocket* socket) {
    if (!socket) return;
    if (events_.claimConnection(socket)) {
        claimed_ = true;
        noteSettled();
        return;
    }

    const Alive alive = alive_;
    const QPointer<QTcpSocket> s(socket);
    events_.outgoingConnected(socket->property("tag").toInt(), addressText(socket->peerAddress()),
                              socket->peerPort());
    if (!*alive) return;
    ++connectedReaders;

    // The two setup frames, the second after the first one's gap.
    const auto frames = connectionSetupFrames();
    const auto send = [](QTcpSocket* to, const std::vector<std::uint8_t>& f) {
        if (!connected(to)) return;
        to->write(reinterpret_cast<const char*>(f.data()), static_cast<qint64>(f.size()));
        to->flush();
    };
    send(s, frames[0]);
    QTimer::singleShot(static_cast<int>(kSetupFrameGapMs), s.data(),
                       [s, send, f = frames[1]] { send(s, f); });
    noteSettled();
}

void NetworkLinks::ClientSocket1Connecting(QTcpSocket* socket) {
    events_.outgoingConnecting(socket->property("tag").toInt());
}

void NetworkLinks::ClientSocket1Disconnect(QTcpSocket* socket) {
    const int slot = socket->property("tag").toInt();
    const bool own = slot >= 1 && slot < kReaderSlots &&
                     readerConnections_[static_cast<std::size_t>(slot)] == socket;
    // What this host already holds of a connection that closed is read before it goes.
    if (own && serving_) {
        const Alive alive = alive_;
        serveOutgoing(slot, true);
        if (!*alive) return;
    }
    events_.outgoingLost(socket);
    scheduleReconnect(socket);
    // The incomplete frame of a closed connection has no continuation.
    if (own) dropOutgoingCarry(slot);
}

void NetworkLinks::ClientSocket1Error(QTcpSocket* socket) {
    const int slot = socket->property("tag").toInt();
    if (serving_ && slot >= 1 && slot < kReaderSlots &&
        readerConnections_[static_cast<std::size_t>(slot)] == socket) {
        const Alive alive = alive_;
        serveOutgoing(slot, true);
        if (!*alive) return;
    }
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
    connect(socket, &QIODevice::readyRead, this, [this, guard] {
        if (!guard) return;
        for (int k = 1; k <= kHighestAcceptedSlot; ++k)
            if (acceptedReaders_[static_cast<std::size_t>(k)].socket == guard) {
                queueAccepted(k);
                return;
            }
    });
    acceptedAll_.erase(std::remove(acceptedAll_.begin(), acceptedAll_.end(), nullptr),
                       acceptedAll_.end());
    acceptedAll_.push_back(guard);

    const QString address = addressText(socket->peerAddress());
    const QString line = address + QLatin1Char(':') + QString::number(socket->peerPort());
    events_.readerAccepting(address);
    // A reader back from this address replaces what was kept of its lost connections.
    const QString prefix = address + QLatin1Char(':');
    departed_.erase(std::remove_if(departed_.begin(), departed_.end(),
                                   [&](const Departed& d) { return d.line.startsWith(prefix); }),
                    departed_.end());

    // A reader connecting again from the same address replaces its older connection when
    // that one has closed; one still open may be another reader behind the same address
    // (it is replaced later only if it stays silent while this one delivers).
    bool sameAddress = false;
    for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
        Accepted& a = acceptedReaders_[static_cast<std::size_t>(k)];
        if (a.address != address) continue;
        if (connected(a.socket)) {
            sameAddress = true;
            continue;
        }
        QTcpSocket* old = a.socket;
        events_.readerReplaced(a.line);
        clearAccepted(k);
        dropSocket(old, this);
    }
    if (!*alive) return;
    if (!guard) return;

    auto freeSlot = [this] {
        for (int k = 1; k <= kHighestAcceptedSlot; ++k)
            if (!acceptedReaders_[static_cast<std::size_t>(k)].socket) return k;
        return 0;
    };
    const int slot = freeSlot();
    if (!slot) {
        // No room: a connection that would never be read is closed at once.
        ++refusedAccepts_;
        dropSocket(socket, this);
        return;
    }

    events_.readerAccepted(address, socket->peerPort());
    if (!*alive) return;
    if (!guard) {
        events_.readerReplaced(line);
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
    free.queued = false;
    free.counters.clear();
    if (slot > highestAcceptedReader) highestAcceptedReader = slot;
    if (sameAddress && !retireTimer_.isActive()) retireTimer_.start();
    // Bytes that came with the connection.
    queueAccepted(slot);
}

void NetworkLinks::ServerSocketClientDisconnect(QTcpSocket* socket) {
    if (!socket) return;
    const Alive alive = alive_;
    // Only this connection's own line goes: a newer connection from the same address keeps
    // its line. What this host already holds of it is read first.
    for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
        Accepted& a = acceptedReaders_[static_cast<std::size_t>(k)];
        if (a.socket != socket) continue;
        if (serving_) {
            serveAccepted(k, true);
            if (!*alive) return;
        }
        // The reader stays listed as lost, with its counts, until it connects again.
        if (departed_.size() >= static_cast<std::size_t>(kHighestAcceptedSlot))
            departed_.erase(departed_.begin());
        departed_.push_back({a.line, a.counters});
        events_.readerLost(a.line);
        clearAccepted(k);
    }
    dropSocket(socket, this);
}

void NetworkLinks::appendHealth(std::vector<LinkHealth>& out) const {
    if (mode_ == 0 && outgoingActive_) {
        for (int k = 1; k <= std::min(highestReaderConnection, kHighestReaderSlot); ++k) {
            const std::size_t i = static_cast<std::size_t>(k);
            if (!config_.addressChecked[i]) continue;
            LinkHealth h;
            h.name = config_.addresses[i].trimmed() + QLatin1Char(':') +
                     QString::number(remotePort());
            const QTcpSocket* s = readerConnections_[i];
            if (reconnect_[i].pending) {
                h.state = LinkHealth::State::Reconnecting;
                const qint64 left = static_cast<qint64>(reconnect_[i].waitMs) -
                                    platform::ticksSince(reconnect_[i].since);
                h.nextAttempt = QDateTime::currentDateTime().addMSecs(std::max<qint64>(0, left));
            } else if (connected(s)) {
                h.state = LinkHealth::State::Open;
            } else if (s && s->state() != QAbstractSocket::UnconnectedState) {
                h.state = LinkHealth::State::Connecting;
            } else {
                h.state = LinkHealth::State::Lost;
            }
            rows_[i].counters.fill(h);
            out.push_back(std::move(h));
        }
    } else if (mode_ == 2) {
        if (!listenFailure_.isEmpty()) {
            LinkHealth h;
            h.name = QLatin1Char(':') + QString::number(usablePort(config_.listenPort));
            h.state = LinkHealth::State::PortInUse;
            out.push_back(std::move(h));
            return;
        }
        for (int k = 1; k <= kHighestAcceptedSlot; ++k) {
            const Accepted& a = acceptedReaders_[static_cast<std::size_t>(k)];
            if (!a.socket) continue;
            LinkHealth h;
            h.name = a.line;
            h.state = connected(a.socket) ? LinkHealth::State::Open : LinkHealth::State::Lost;
            a.counters.fill(h);
            out.push_back(std::move(h));
        }
        for (const Departed& d : departed_) {
            LinkHealth h;
            h.name = d.line;
            h.state = LinkHealth::State::Lost;
            d.counters.fill(h);
            out.push_back(std::move(h));
        }
    }
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
