#pragma once
// The lines a simulated reader talks on: a listening TCP socket, an outgoing TCP connection
// and a pseudo-terminal registered in the serial device map. Loopback only.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace kelta::sim {

class SimTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isPeerConnected() const = 0;
    // Hands bytes to the line; false when they were not taken (no peer, a full queue).
    virtual bool write(const QByteArray& bytes) = 0;
    // Abrupt loss of the line: a TCP reset, a pseudo-terminal hang-up.
    virtual void reset() = 0;
    // An orderly close (TCP FIN); on a pseudo-terminal the same as reset().
    virtual void closePeer() = 0;
    virtual QString description() const = 0;

signals:
    void bytesReceived(const QByteArray& bytes);
    void peerConnected();
    void peerDisconnected();
};

// Listens on a loopback address (127.0.0.1 unless told otherwise); the utility connects. A
// newer connection replaces an older one.
class TcpServerTransport : public SimTransport {
    Q_OBJECT
public:
    explicit TcpServerTransport(QObject* parent = nullptr);
    ~TcpServerTransport() override;
    bool listen(quint16 port); // 0: ephemeral
    // On a given address of the loopback block 127.0.0.0/8; false for any other address.
    bool listen(quint16 port, const QString& address);
    quint16 port() const;
    bool isPeerConnected() const override;
    bool write(const QByteArray& bytes) override;
    void reset() override;
    void closePeer() override;
    QString description() const override;

private:
    void onNewConnection();
    QTcpServer* server_;
    QPointer<QTcpSocket> peer_;
    QString address_ = QStringLiteral("127.0.0.1");
};

// Connects to the utility's listening port on 127.0.0.1, from 127.0.0.1 or from another
// loopback address chosen with setLocalAddress (so that many readers have distinct addresses).
class TcpClientTransport : public SimTransport {
    Q_OBJECT
public:
    explicit TcpClientTransport(QObject* parent = nullptr);
    ~TcpClientTransport() override;
    void connectTo(quint16 port);
    void reconnect();
    // After a lost connection, connect again after ms (negative: only when asked).
    void setAutoReconnect(int ms) { autoReconnectMs_ = ms; }
    // The loopback address connections are made from; false (and unchanged) for any other.
    bool setLocalAddress(const QString& address);
    quint16 localPort() const; // of the current connection, 0 when none
    quint16 port() const { return port_; }
    bool isPeerConnected() const override;
    bool write(const QByteArray& bytes) override;
    void reset() override;
    void closePeer() override;
    QString description() const override;

private:
    void makeSocket();
    QTcpSocket* socket_ = nullptr;
    QTimer* retry_;
    quint16 port_ = 0;
    int autoReconnectMs_ = -1;
    QString localAddress_;
};

// A pseudo-terminal whose slave is linked as COMn in the serial device map (the folder named
// by KELTA_SERIAL_MAP). A second slave descriptor stays open so that the master never sees a
// hang-up while the utility closes and reopens the port.
class PtyTransport : public SimTransport {
    Q_OBJECT
public:
    explicit PtyTransport(QObject* parent = nullptr);
    ~PtyTransport() override;
    bool open(int comNumber);
    void close();  // hang-up and removal of the link
    bool reopen(); // a new pseudo-terminal under the same COM name
    int comNumber() const { return com_; }
    QString slavePath() const { return slavePath_; }
    QString linkPath() const { return linkPath_; }
    static QString serialMapDir();
    bool isPeerConnected() const override { return master_ >= 0; }
    bool write(const QByteArray& bytes) override;
    void reset() override { close(); }
    void closePeer() override { close(); }
    QString description() const override;

private:
    void onReadable();
    void flushPending();
    int master_ = -1;
    int keeper_ = -1;
    int com_ = 0;
    QString slavePath_;
    QString linkPath_;
    QByteArray pending_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;
};

} // namespace kelta::sim
