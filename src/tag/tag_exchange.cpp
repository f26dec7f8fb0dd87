#include "tag/tag_exchange.h"

#include "platform/clock.h"
#include "platform/timings.h"
#include "platform/translation.h"
#include "platform/wait_pump.h"
#include "reader/proto/reader_frame.h"
#include "reader/reader_link.h"
#include "tag/proto/commands/exciter.h"
#include "tag/proto/tag_frame.h"
#include "tag/tag_sender.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <termios.h>

namespace kelta::tag {

namespace {

using reader::LinkKind;
using reader::MessagePanel;
using reader::TraceField;

constexpr int kBeepOkHz = 1000, kBeepOkMs = 10;
constexpr int kBeepFailHz = 300, kBeepFailMs = 300;
const char* const kCountdown = "Seting TAG......";

QString translated(const char* text) {
    return Translate(currentLanguageIndex(), QString::fromLatin1(text));
}

QString hexText(std::span<const std::uint8_t> bytes) {
    return QString::fromStdString(reader::HexBytes(bytes));
}

void showVerdict(reader::LinkView& view, MessagePanel panel, const QString& text) {
    view.setMessage(panel, text);
    view.setMessageHint(panel, text);
}

} // namespace

TagExchange::TagExchange(reader::ReaderLink& link)
    : link_(&link), view_(&link.view()), viewAlive_(link.view().lifetime()) {
    *alive_ = Life{true, link_, view_, viewAlive_};
    beep_ = [this](int hz, int ms) {
        if (viewHere() && view_->linkSettings().beep) platform::tone(hz, ms);
    };
}

TagExchange::~TagExchange() {
    alive_->on = false;
}

std::span<const std::uint8_t> TagExchange::answerData() const {
    if (!link_) return {};
    return link_->state().answerData;
}

bool TagExchange::viewHere() const {
    return *viewAlive_ && view_->present();
}

bool TagExchange::goOn(const Alive& alive) {
    return alive->on && alive->link && *alive->viewAlive && alive->view->present() &&
           !programClosing();
}

// ---------------------------------------------------------------------------------------------
// One receive attempt.

bool TagExchange::pollOnce() {
    reader::LinkState& s = link_->state();
    QTcpSocket* socket = nullptr;
    switch (view_->linkSettings().kind) {
    case LinkKind::Serial: {
        if (!s.comHandle) return false;
        const auto queued = s.comHandle->queuedInput();
        if (!queued) return true;
        if (*queued > static_cast<int>(timing::kSerialDiscardAbove)) {
            s.comHandle->purge(platform::Purge::Input);
        } else if (*queued > 0) {
            if (const auto bytes = s.comHandle->read(static_cast<std::size_t>(*queued)))
                assembler_.feed(*bytes);
        }
        return true;
    }
    case LinkKind::TcpServer:
        if (!s.clientSocket) return false;
        socket = s.clientConn.data();
        break;
    case LinkKind::TcpClient:
        if (!link_->listener() || !link_->listener()->isListening()) return false;
        socket = s.serverPeer.data();
        break;
    }
    if (socket && socket->state() == QAbstractSocket::ConnectedState &&
        socket->bytesAvailable() > 0) {
        const QByteArray b = socket->readAll();
        assembler_.feed(std::span(reinterpret_cast<const std::uint8_t*>(b.constData()),
                                  static_cast<std::size_t>(b.size())));
    }
    return true;
}

void TagExchange::storeAnswer() {
    reader::LinkState& s = link_->state();
    s.answerData = assembler_.answerData();
    s.answerLength = assembler_.answerLength();
    const QString header = hexText(assembler_.header());
    const QString whole = header + hexText(assembler_.data());
    view_->setTrace(TraceField::RecvHeader, header);
    view_->setTrace(TraceField::TagRecv, whole);
    view_->setTraceHint(TraceField::TagRecv, whole);
}

bool TagExchange::ReceiveTagAnswer(std::uint16_t code) {
    const Alive alive = alive_;
    if (!goOn(alive)) return false;
    link_->state().clearAnswer();
    assembler_.startAttempt(code);
    WaitPump(timing::kTagReceiveStartMs, 1);
    if (!goOn(alive)) return false;
    const std::uint32_t start = platform::tickMs();
    // Bytes kept from the read that brought the previous answer come first.
    if (assembler_.keptBytes() > 0 && assembler_.feed({})) {
        storeAnswer();
        return true;
    }
    for (;;) {
        if (!pollOnce()) return false;
        if (assembler_.accepted()) {
            storeAnswer();
            return true;
        }
        // A partial frame is not the end of the attempt: its rest may come in the next read.
        QThread::msleep(timing::kExchangePollSleepMs);
        PumpEvents();
        if (!goOn(alive)) return false;
        if (platform::ticksSince(start) > timing::kTagReceiveMs) return false;
    }
}

// ---------------------------------------------------------------------------------------------
// The executors.

void TagExchange::begin() {
    view_->setControlsEnabled(false);
    PumpEvents();
    if (!viewHere()) return;
    view_->setMessageHint(MessagePanel::Reader, QString());
    view_->setMessageHint(MessagePanel::Tag, QString());
    view_->setMessage(MessagePanel::Reader, translated("Connecting ......"));
    view_->setMessage(MessagePanel::Tag, translated("Connecting ......"));
    view_->setMessageHint(MessagePanel::Reader, translated("Select Function"));
    view_->setMessageHint(MessagePanel::Tag, translated("Select Function"));
    view_->clearTraces();
}

void TagExchange::finish(bool written) {
    if (beep_) {
        if (written)
            beep_(kBeepOkHz, kBeepOkMs);
        else
            beep_(kBeepFailHz, kBeepFailMs);
    }
    if (!viewHere()) return;
    view_->clearStatus();
    view_->setControlsEnabled(true);
    view_->setMessage(MessagePanel::Reader, view_->messageHint(MessagePanel::Reader));
    view_->setMessage(MessagePanel::Tag, view_->messageHint(MessagePanel::Tag));
}

int TagExchange::secondsPassed(std::uint32_t start) const {
    return static_cast<int>(platform::ticksSince(start) / timing::scaled(timing::kTagSecondMs));
}

void TagExchange::countdown(std::uint32_t start) {
    const int left = timing::kTagWaitSeconds - secondsPassed(start);
    view_->setMessage(MessagePanel::Tag, QString::fromLatin1(kCountdown) + QString::number(left));
}

void TagExchange::waitForSetAnswer(std::uint16_t code, std::span<const std::uint8_t> payload,
                                   int readerId) {
    const Alive alive = alive_;
    const std::uint32_t pause = timing::scaled(timing::kTagPassPauseMs);
    const std::uint32_t start = platform::tickMs();
    while (secondsPassed(start) < timing::kTagWaitSeconds) {
        countdown(start);
        if (ReceiveTagAnswer(code)) {
            showVerdict(*view_, MessagePanel::Tag, translated("Command Ok."));
            answered_ = true;
            return;
        }
        if (!goOn(alive)) return;
        WaitPump(pause, 1);
        if (!goOn(alive)) return;
        countdown(start);
        WaitPump(pause, 1);
        if (!goOn(alive)) return;
        // A resend on the serial line purges it: what was collected is gone with it.
        if (view_->linkSettings().kind == LinkKind::Serial) assembler_.reset();
        SendTagCommand(*link_, code, payload, readerId, false, kTagCommandFlags);
        if (!goOn(alive)) return;
        PumpEvents();
        QThread::msleep(timing::kTagPassSleepMs);
    }
    showVerdict(*view_, MessagePanel::Tag, translated("Command Error."));
}

void TagExchange::waitForGetAnswers(std::uint16_t code) {
    const Alive alive = alive_;
    const std::uint32_t pause = timing::scaled(timing::kTagPassPauseMs);
    const std::uint32_t start = platform::tickMs();
    bool acknowledged = false;
    while (secondsPassed(start) < timing::kTagWaitSeconds && !answered_) {
        countdown(start);
        if (!acknowledged) {
            if (ReceiveTagAnswer(code)) {
                showVerdict(*view_, MessagePanel::Tag, translated("Command Ok."));
                acknowledged = true;
            }
        } else if (ReceiveTagAnswer(code)) {
            answered_ = true;
        }
        if (!goOn(alive)) return;
        WaitPump(pause, 1);
        if (!goOn(alive)) return;
        countdown(start);
        WaitPump(pause, 1);
        if (!goOn(alive)) return;
        if (!answered_) {
            PumpEvents();
            QThread::msleep(timing::kTagPassSleepMs);
        }
    }
    if (!answered_) showVerdict(*view_, MessagePanel::Tag, translated("Command Error."));
}

bool TagExchange::RunTagSet(bool freshLink, std::uint16_t code, int answerMode, int count,
                            const std::uint8_t* payload) {
    if (count < 0 || (count > 0 && !payload)) count = 0;
    return RunTagSet(freshLink, code, answerMode,
                     std::span<const std::uint8_t>(payload, static_cast<std::size_t>(count)));
}

bool TagExchange::RunTagGet(bool freshLink, std::uint16_t code, int count,
                            const std::uint8_t* payload) {
    if (count < 0 || (count > 0 && !payload)) count = 0;
    return RunTagGet(freshLink, code,
                     std::span<const std::uint8_t>(payload, static_cast<std::size_t>(count)));
}

namespace {
struct BusyFlag {
    TagExchange::Alive alive;
    reader::ReaderLink* link;
    ~BusyFlag() {
        if (alive->on && link) link->state().exchangeBusy = false;
    }
};
} // namespace

bool TagExchange::RunTagSet(bool freshLink, std::uint16_t code, int answerMode,
                            std::span<const std::uint8_t> payload) {
    return run(freshLink, code, payload, [this, code, payload, answerMode](int readerId) {
        if (answerMode > 1) waitForSetAnswer(code, payload, readerId);
    });
}

bool TagExchange::RunTagGet(bool freshLink, std::uint16_t code,
                            std::span<const std::uint8_t> payload) {
    return run(freshLink, code, payload, [this, code](int) { waitForGetAnswers(code); });
}

// Both executors: open, write, wait as the command needs, close when fresh, report.
bool TagExchange::run(bool freshLink, std::uint16_t code, std::span<const std::uint8_t> payload,
                      const std::function<void(int readerId)>& wait) {
    answered_ = false;
    const Alive alive = alive_;
    if (!goOn(alive)) return false;
    const reader::WaitCursor cursor(*view_);
    begin();
    if (!goOn(alive)) return false;

    bool written = false;
    if (!link_->OpenLink(freshLink)) {
        if (!goOn(alive)) return false;
        view_->setMessage(MessagePanel::Reader, QStringLiteral("Connect Error !"));
        showVerdict(*view_, MessagePanel::Tag, QStringLiteral("Connect Error !"));
    } else {
        if (!goOn(alive)) return false;
        const int readerId = view_->linkSettings().readerId;
        view_->setMessage(MessagePanel::Tag, QString::fromLatin1(kCountdown));
        view_->clearTraces();
        link_->state().exchangeBusy = true;
        const BusyFlag busy{alive, link_.data()};
        assembler_.reset();
        written = SendTagCommand(*link_, code, payload, readerId, true, kTagCommandFlags);
        if (!goOn(alive)) return false;
        if (written)
            wait(readerId);
        else
            WaitPump(timing::kTagSendFailPauseMs, 1);
        if (!goOn(alive)) return false;
        assembler_.reset(); // a partial frame does not outlive its exchange
        if (freshLink) link_->CloseLinks();
        if (!goOn(alive)) return false;
    }
    finish(written);
    return written;
}

// ---------------------------------------------------------------------------------------------
// The exciter frame.

bool TagExchange::ExchangeExciterFrame(std::span<const std::uint8_t> payload, int& position) {
    const Alive alive = alive_;
    position = 0;
    if (!goOn(alive) || payload.size() < 2) return false;
    auto& port = link_->state().comHandle;
    if (!port || !port->isOpen()) return false;
    const std::vector<std::uint8_t> frame = exciter::BuildExciterFrame(payload);
    if (!port->write(frame)) return false;
    // Let the frame leave the line before the input is cleared: flushing the output queue
    // would cut it on a real port.
    ::tcdrain(port->nativeHandle());
    port->purge(platform::Purge::Input);

    exciter::AnswerAssembler answer;
    const std::uint32_t start = platform::tickMs();
    for (;;) {
        WaitPump(timing::kExciterPollMs, 1);
        if (!goOn(alive)) return false;
        auto& p = link_->state().comHandle;
        if (!p) return false;
        if (const auto queued = p->queuedInput()) {
            if (*queued > timing::kExciterDiscardAbove) {
                p->purge(platform::Purge::Input);
            } else if (*queued > 0) {
                if (const auto bytes = p->read(static_cast<std::size_t>(*queued))) {
                    for (const std::uint8_t b : *bytes) {
                        if (answer.feed(b) != exciter::AnswerAssembler::State::Collecting) break;
                    }
                }
            }
        }
        position = static_cast<int>(answer.count());
        if (answer.state() != exciter::AnswerAssembler::State::Collecting)
            return answer.state() == exciter::AnswerAssembler::State::Good;
        if (platform::ticksSince(start) > timing::kExciterAnswerMs) return false;
    }
}

} // namespace kelta::tag
