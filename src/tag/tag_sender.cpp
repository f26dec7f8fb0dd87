#include "tag/tag_sender.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "platform/wait_pump.h"
#include "platform/clock.h"
#include "platform/timings.h"
#include "reader/link_state.h"
#include "reader/proto/reader_frame.h"
#include "reader/reader_link.h"
#include "tag/proto/tag_frame.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

namespace kelta::tag {

namespace {

using reader::LinkKind;
using reader::LinkState;

bool stillHere(const QPointer<TfrmModule>& w) {
    return w && !programClosing();
}

// One try on the serial port: purge, write, let the line take it; the try succeeds once the
// driver took any byte, and gives up after a second of refusals.
bool trySerial(const QPointer<TfrmModule>& w, LinkState& link,
               std::span<const std::uint8_t> frame) {
    const std::uint32_t start = platform::tickMs();
    for (;;) {
        if (!link.comHandle || !link.comHandle->isOpen()) return false;
        link.comHandle->purge(platform::Purge::Both);
        const auto written = link.comHandle->write(frame);
        PumpEvents();
        WaitPump(timing::kTagSendMinWaitMs, 1);
        if (!stillHere(w)) return false;
        if (written && *written > 0) return true;
        WaitPump(timing::kTagSendRetryMs, 1);
        if (!stillHere(w)) return false;
        if (platform::ticksSince(start) > timing::kTagSendTryLimitMs) return false;
    }
}

// One try on a TCP connection: sent once it is connected; a second without a connection
// that takes the bytes fails the try. `socket` is looked up again after every wait, since
// the link may be closed or lose its peer while the window processes events.
template <class SocketOf>
bool tryTcp(const QPointer<TfrmModule>& w, SocketOf socketOf, std::span<const std::uint8_t> frame) {
    const std::uint32_t start = platform::tickMs();
    for (;;) {
        QTcpSocket* s = socketOf();
        if (s && s->state() == QAbstractSocket::ConnectedState) {
            const qint64 sent = s->write(reinterpret_cast<const char*>(frame.data()),
                                         static_cast<qint64>(frame.size()));
            if (sent > 0) s->flush();
            PumpEvents();
            WaitPump(timing::kTagSendMinWaitMs, 1);
            if (!stillHere(w)) return false;
            if (sent > 0) return true;
        }
        WaitPump(timing::kTagSendRetryMs, 1);
        if (!stillHere(w)) return false;
        if (platform::ticksSince(start) > timing::kTagSendTryLimitMs) return false;
    }
}

} // namespace

bool SendTagCommand(TfrmModule& window, LinkState& link, std::uint16_t command,
                    std::span<const std::uint8_t> payload, int readerId, bool display,
                    std::uint16_t flags) {
    const auto frame = BuildTagCommandFrame(command, payload, readerId, flags);
    if (!frame) {
        // Longer than the frame buffer: refused before anything reaches the link.
        const QString text = Translate(currentLanguageIndex(), QStringLiteral("Command Error."));
        window.pnlTagMsg->setText(text);
        setHint(window.pnlTagMsg, text);
        return false;
    }
    if (display)
        window.edSend->setText(QString::fromStdString(reader::TraceText(payload.size(), *frame)));
    if (flags & kTagCommandFlags) link.clearAnswer();

    QPointer<TfrmModule> w(&window);
    for (int attempt = 0; attempt < timing::kTagSendTries; ++attempt) {
        if (attempt > 0) {
            WaitPump(timing::kTagSendRetryMs, 1);
            if (!stillHere(w)) return false;
        }
        bool ok = false;
        switch (reader::activeLinkKind(window)) {
        case LinkKind::Serial:
            ok = trySerial(w, link, *frame);
            break;
        case LinkKind::TcpServer:
            if (!link.clientSocket) break;
            ok = tryTcp(
                w, [&link]() -> QTcpSocket* { return link.clientConn.data(); }, *frame);
            break;
        case LinkKind::TcpClient:
            ok = tryTcp(
                w,
                [&link, w]() -> QTcpSocket* {
                    if (!w || !w->ServerSocket->isListening()) return nullptr;
                    return link.serverPeer.data();
                },
                *frame);
            break;
        }
        if (ok) return true;
        if (!stillHere(w)) return false;
    }
    return false;
}

bool SendTagCommand(TfrmModule& window, LinkState& link, std::uint16_t command,
                    const std::uint8_t* payload, int payloadLength, int readerId, bool display,
                    std::uint16_t flags) {
    if (payloadLength < 0 || (payloadLength > 0 && !payload)) payloadLength = 0;
    return SendTagCommand(
        window, link, command,
        std::span<const std::uint8_t>(payload, static_cast<std::size_t>(payloadLength)), readerId,
        display, flags);
}

} // namespace kelta::tag
