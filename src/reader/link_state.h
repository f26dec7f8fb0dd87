#pragma once
// The configuration link's state and answer store: one instance for the program, owned by
// the window and shared by the monitoring run, the reader commands and the tag commands.

#include "platform/serial_port.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace kelta::reader {

// Sockets are released through the event loop: a socket may be dropped from inside a handler
// that one of its own signals started, and deleting it there at once would pull the object
// out from under Qt's signal emission.
struct DeleteLater {
    void operator()(QObject* o) const {
        if (o) o->deleteLater();
    }
};

struct LinkState {
    bool linkOpen = false;
    int linkMode = 0; // 0 outgoing TCP, 1 serial, 2 listening TCP ("PAGE")
    std::unique_ptr<platform::SerialPort> comHandle;       // open serial port of the link
    std::optional<platform::PortState> savedTimeouts;      // port state found at opening
    std::unique_ptr<QTcpSocket, DeleteLater> clientSocket; // outgoing client, owned by the link
    QPointer<QTcpSocket> clientConn;                       // its connected socket
    QPointer<QTcpSocket> serverPeer;                       // the reader accepted by ServerSocket
    bool exchangeBusy = false;
    std::array<std::uint8_t, 1024> answerData{};
    std::uint16_t answerLength = 0;

    void clearAnswer() {
        answerLength = 0;
        answerData.fill(0);
    }
};

} // namespace kelta::reader
