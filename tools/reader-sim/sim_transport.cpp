#include "reader-sim/sim_transport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace kelta::sim {

namespace {

bool isLoopbackV4(const QString& address) {
    const QHostAddress a(address);
    return a.protocol() == QAbstractSocket::IPv4Protocol && (a.toIPv4Address() >> 24) == 127;
}

// Closing with a zero linger time sends a reset instead of an orderly close.
void abortWithReset(QTcpSocket* s) {
    if (!s) return;
    const qintptr fd = s->socketDescriptor();
    if (fd >= 0) {
        linger l{1, 0};
        ::setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    s->abort();
}

} // namespace

// --- TCP server ---------------------------------------------------------------------------

TcpServerTransport::TcpServerTransport(QObject* parent)
    : SimTransport(parent), server_(new QTcpServer(this)) {
    connect(server_, &QTcpServer::newConnection, this, &TcpServerTransport::onNewConnection);
}

TcpServerTransport::~TcpServerTransport() {
    if (peer_) peer_->abort();
}

bool TcpServerTransport::listen(quint16 port) {
    return listen(port, QStringLiteral("127.0.0.1"));
}

bool TcpServerTransport::listen(quint16 port, const QString& address) {
    if (!isLoopbackV4(address)) return false;
    address_ = address;
    return server_->listen(QHostAddress(address), port);
}

quint16 TcpServerTransport::port() const {
    return server_->serverPort();
}

void TcpServerTransport::onNewConnection() {
    while (QTcpSocket* s = server_->nextPendingConnection()) {
        if (peer_) {
            QTcpSocket* old = peer_;
            peer_ = nullptr;
            old->disconnect(this);
            old->abort();
            old->deleteLater();
        }
        peer_ = s;
        connect(s, &QTcpSocket::readyRead, this, [this, s] {
            const QByteArray b = s->readAll();
            if (!b.isEmpty()) emit bytesReceived(b);
        });
        connect(s, &QTcpSocket::disconnected, this, [this, s] {
            if (peer_ == s) {
                peer_ = nullptr;
                emit peerDisconnected();
            }
            s->deleteLater();
        });
        emit peerConnected();
    }
}

bool TcpServerTransport::isPeerConnected() const {
    return peer_ && peer_->state() == QAbstractSocket::ConnectedState;
}

bool TcpServerTransport::write(const QByteArray& bytes) {
    if (!isPeerConnected()) return false;
    const bool ok = peer_->write(bytes) == bytes.size();
    peer_->flush();
    return ok;
}

void TcpServerTransport::reset() {
    if (!peer_) return;
    QTcpSocket* s = peer_;
    peer_ = nullptr;
    s->disconnect(this);
    abortWithReset(s);
    s->deleteLater();
    emit peerDisconnected();
}

void TcpServerTransport::closePeer() {
    if (peer_) peer_->disconnectFromHost();
}

QString TcpServerTransport::description() const {
    return QStringLiteral("tcp-server %1:%2").arg(address_).arg(port());
}

// --- TCP client ---------------------------------------------------------------------------

TcpClientTransport::TcpClientTransport(QObject* parent)
    : SimTransport(parent), retry_(new QTimer(this)) {
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &TcpClientTransport::reconnect);
}

TcpClientTransport::~TcpClientTransport() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

void TcpClientTransport::makeSocket() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    socket_ = new QTcpSocket(this);
    QTcpSocket* s = socket_;
    connect(s, &QTcpSocket::connected, this, [this] { emit peerConnected(); });
    connect(s, &QTcpSocket::readyRead, this, [this, s] {
        const QByteArray b = s->readAll();
        if (!b.isEmpty()) emit bytesReceived(b);
    });
    connect(s, &QTcpSocket::disconnected, this, [this] {
        emit peerDisconnected();
        if (autoReconnectMs_ >= 0) retry_->start(autoReconnectMs_);
    });
    connect(s, &QTcpSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError) {
        // A refused connection never reaches the connected state: try again later.
        if (s->state() == QAbstractSocket::UnconnectedState && autoReconnectMs_ >= 0 &&
            !retry_->isActive())
            retry_->start(autoReconnectMs_);
    });
}

void TcpClientTransport::connectTo(quint16 port) {
    port_ = port;
    reconnect();
}

void TcpClientTransport::reconnect() {
    retry_->stop();
    makeSocket();
    if (!localAddress_.isEmpty()) socket_->bind(QHostAddress(localAddress_), 0);
    socket_->connectToHost(QHostAddress(QHostAddress::LocalHost), port_);
}

bool TcpClientTransport::setLocalAddress(const QString& address) {
    if (!isLoopbackV4(address)) return false;
    localAddress_ = address;
    return true;
}

quint16 TcpClientTransport::localPort() const {
    return isPeerConnected() ? socket_->localPort() : 0;
}

bool TcpClientTransport::isPeerConnected() const {
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool TcpClientTransport::write(const QByteArray& bytes) {
    if (!isPeerConnected()) return false;
    const bool ok = socket_->write(bytes) == bytes.size();
    socket_->flush();
    return ok;
}

void TcpClientTransport::reset() {
    if (!socket_) return;
    const bool was = isPeerConnected();
    QTcpSocket* s = socket_;
    socket_ = nullptr;
    s->disconnect(this);
    abortWithReset(s);
    s->deleteLater();
    if (was) emit peerDisconnected();
    if (autoReconnectMs_ >= 0) retry_->start(autoReconnectMs_);
}

void TcpClientTransport::closePeer() {
    if (socket_) socket_->disconnectFromHost();
}

QString TcpClientTransport::description() const {
    return QStringLiteral("tcp-client 127.0.0.1:%1").arg(port_);
}

// --- Pseudo-terminal ----------------------------------------------------------------------

PtyTransport::PtyTransport(QObject* parent) : SimTransport(parent) {}

PtyTransport::~PtyTransport() {
    close();
}

QString PtyTransport::serialMapDir() {
    const QString env = qEnvironmentVariable("KELTA_SERIAL_MAP");
    if (!env.isEmpty()) return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VANTO/Kelta/serial");
}

bool PtyTransport::open(int comNumber) {
    close();
    if (comNumber < 1) return false;
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t); // no byte is translated, no echo
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    char name[PATH_MAX] = {};
    if (::ttyname_r(slave, name, sizeof name) != 0) {
        ::close(master);
        ::close(slave);
        return false;
    }
    const QString dir = serialMapDir();
    QDir().mkpath(dir);
    const QString link = QDir(dir).filePath(QStringLiteral("COM%1").arg(comNumber));
    const QByteArray linkBytes = QFile::encodeName(link);
    ::unlink(linkBytes.constData()); // a stale entry from an earlier run
    if (::symlink(name, linkBytes.constData()) != 0) {
        ::close(master);
        ::close(slave);
        return false;
    }
    master_ = master;
    keeper_ = slave;
    com_ = comNumber;
    slavePath_ = QString::fromLocal8Bit(name);
    linkPath_ = link;
    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &PtyTransport::onReadable);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &PtyTransport::flushPending);
    emit peerConnected();
    return true;
}

void PtyTransport::close() {
    if (master_ < 0) return;
    delete readNotifier_;
    readNotifier_ = nullptr;
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    // Remove the link only while it still names our slave.
    const QByteArray linkBytes = QFile::encodeName(linkPath_);
    char target[PATH_MAX] = {};
    const ssize_t n = ::readlink(linkBytes.constData(), target, sizeof target - 1);
    if (n > 0 && QString::fromLocal8Bit(target, static_cast<int>(n)) == slavePath_)
        ::unlink(linkBytes.constData());
    ::close(master_);
    ::close(keeper_);
    master_ = keeper_ = -1;
    pending_.clear();
    emit peerDisconnected();
}

bool PtyTransport::reopen() {
    const int com = com_;
    close();
    return open(com);
}

void PtyTransport::onReadable() {
    char buf[4096];
    QByteArray got;
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<int>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break; // EAGAIN: drained; EIO: no slave open (cannot happen while the keeper is open)
    }
    if (!got.isEmpty()) emit bytesReceived(got);
}

bool PtyTransport::write(const QByteArray& bytes) {
    if (master_ < 0) return false;
    // Nobody may be reading the slave: keep at most 64 KiB queued, like a device that drops
    // what its line cannot carry.
    // What is dropped is not reported as written, so the counters stay true.
    if (pending_.size() + bytes.size() > 65536) return false;
    pending_.append(bytes);
    flushPending();
    return true;
}

void PtyTransport::flushPending() {
    while (master_ >= 0 && !pending_.isEmpty()) {
        const ssize_t n =
            ::write(master_, pending_.constData(), static_cast<size_t>(pending_.size()));
        if (n > 0) {
            pending_.remove(0, static_cast<int>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    if (writeNotifier_) writeNotifier_->setEnabled(!pending_.isEmpty());
}

QString PtyTransport::description() const {
    return QStringLiteral("COM%1 -> %2 (%3)").arg(com_).arg(slavePath_, linkPath_);
}

} // namespace kelta::sim
