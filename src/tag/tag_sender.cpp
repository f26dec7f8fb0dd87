#include "tag/tag_sender.h"

#include "platform/clock.h"
#include "platform/timings.h"
#include "platform/translation.h"
#include "platform/wait_pump.h"
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

// The link still exists and its window has not gone, and the program is not closing.
struct StillHere {
    QPointer<reader::ReaderLink> link;
    std::shared_ptr<const bool> viewAlive;
    bool operator()() const {
        return link && *viewAlive && link->view().present() && !programClosing();
    }
};

// One try on the serial port: purge, write, let the line take it; the try succeeds once the
// driver took any byte, and gives up after a second of refusals.
bool trySerial(const StillHere& stillHere, LinkState& link, std::span<const std::uint8_t> frame) {
    const std::uint32_t start = platform::tickMs();
    for (;;) {
        if (!link.comHandle || !link.comHandle->isOpen()) return false;
        link.comHandle->purge(platform::Purge::Both);
        const auto written = link.comHandle->write(frame);
        PumpEvents();
        WaitPump(timing::kTagSendMinWaitMs, 1);
        if (!stillHere()) return false;
        if (written && *written > 0) return true;
        WaitPump(timing::kTagSendRetryMs, 1);
        if (!stillHere()) return false;
        if (platform::ticksSince(start) > timing::kTagSendTryLimitMs) return false;
    }
}

// One try on a TCP connection: sent once it is connected; a second without a connection
// that takes the bytes fails the try. `socket` is looked up again after every wait, since
// the link may be closed or lose its peer while the window processes events.
template <class SocketOf>
bool tryTcp(const StillHere& stillHere, SocketOf socketOf, std::span<const std::uint8_t> frame) {
    const std::uint32_t start = platform::tickMs();
    for (;;) {
        QTcpSocket* s = socketOf();
        if (s && s->state() == QAbstractSocket::ConnectedState) {
            const qint64 sent = s->write(reinterpret_cast<const char*>(frame.data()),
                                         static_cast<qint64>(frame.size()));
            if (sent > 0) s->flush();
            PumpEvents();
            WaitPump(timing::kTagSendMinWaitMs, 1);
            if (!stillHere()) return false;
            if (sent > 0) return true;
        }
        WaitPump(timing::kTagSendRetryMs, 1);
        if (!stillHere()) return false;
        if (platform::ticksSince(start) > timing::kTagSendTryLimitMs) return false;
    }
}

} // namespace

bool SendTagCommand(reader::ReaderLink& readerLink, std::uint16_t command,
                    std::span<const std::uint8_t> payload, int readerId, bool display,
                    std::uint16_t flags) {
    reader::LinkView& view = readerLink.view();
    LinkState& link = readerLink.state();
    const auto frame = BuildTagCommandFrame(command, payload, readerId, flags);
    if (!frame) {
        // Longer than the frame buffer: refused before anything reaches the link.
        const QString text = Translate(currentLanguageIndex(), QStringLiteral("Command Error."));
        view.setMessage(reader::MessagePanel::Tag, text);
        view.setMessageHint(reader::MessagePanel::Tag, text);
        return false;
    }
    if (display)
        view.setTrace(reader::TraceField::TagSend,
                      QString::fromStdString(reader::TraceText(payload.size(), *frame)));
    if (flags & kTagCommandFlags) link.clearAnswer();

    const StillHere stillHere{&readerLink, view.lifetime()};
    for (int attempt = 0; attempt < timing::kTagSendTries; ++attempt) {
        if (attempt > 0) {
            WaitPump(timing::kTagSendRetryMs, 1);
            if (!stillHere()) return false;
        }
        bool ok = false;
        switch (view.linkSettings().kind) {
        case LinkKind::Serial:
            ok = trySerial(stillHere, link, *frame);
            break;
        case LinkKind::TcpServer:
            if (!link.clientSocket) break;
            ok = tryTcp(
                stillHere, [&link]() -> QTcpSocket* { return link.clientConn.data(); }, *frame);
            break;
        case LinkKind::TcpClient:
            ok = tryTcp(
                stillHere,
                [&link, &stillHere]() -> QTcpSocket* {
                    if (!stillHere.link) return nullptr;
                    const QTcpServer* server = stillHere.link->listener();
                    if (!server || !server->isListening()) return nullptr;
                    return link.serverPeer.data();
                },
                *frame);
            break;
        }
        if (ok) return true;
        if (!stillHere()) return false;
    }
    return false;
}

bool SendTagCommand(reader::ReaderLink& link, std::uint16_t command, const std::uint8_t* payload,
                    int payloadLength, int readerId, bool display, std::uint16_t flags) {
    if (payloadLength < 0 || (payloadLength > 0 && !payload)) payloadLength = 0;
    return SendTagCommand(
        link, command,
        std::span<const std::uint8_t>(payload, static_cast<std::size_t>(payloadLength)), readerId,
        display, flags);
}

} // namespace kelta::tag
