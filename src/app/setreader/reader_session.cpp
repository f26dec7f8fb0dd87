#include "app/setreader/reader_session.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "app/setreader/set_reader_handlers.h"
#include "common/proto/hex_text.h"
#include "platform/wait_pump.h"
#include "reader/proto/commands/identity.h"
#include "reader/reader_link.h"

namespace kelta {

QString tr(const char* english) {
    return Translate(currentLanguageIndex(), QString::fromLatin1(english));
}

long long decimalOf(const QLineEdit* edit, long long fallback) {
    return reader::cmd::DecimalOr(edit->text().toStdString(), fallback);
}

ReaderSession::ReaderSession(SetReaderHandlers& h) : w(h.w_), alive_(h.alive_), window_(&h.w_) {
    w.pnlMain->setEnabled(false);
    PumpEvents();
}

ReaderSession::~ReaderSession() {
    if (!*alive_ || !window_) return;
    w.pnlMain->setEnabled(true);
    PumpEvents();
}

bool ReaderSession::alive() const {
    return *alive_ && window_ && !programClosing();
}

std::optional<reader::cmd::Answer>
ReaderSession::exec(std::uint16_t command, std::span<const std::uint8_t> payload, bool freshLink) {
    if (!alive() || !w.readerLink) return std::nullopt;
    reader::ReaderLink* link = w.readerLink.get();
    const bool accepted = link->ExecReaderCommand(freshLink, command, payload);
    if (!accepted || !alive() || w.readerLink.get() != link) return std::nullopt;
    const auto& s = link->state();
    return reader::cmd::Answer(s.answerData.data(), s.answerLength);
}

void ReaderSession::ok() {
    message(tr("Command Ok."));
}

void ReaderSession::error() {
    message(tr("Command Error."));
}

void ReaderSession::cancelled() {
    message(tr("Command Cancelled."));
}

std::unique_ptr<reader::StepProgress> ReaderSession::progress(long long total) {
    if (!alive() || !w.readerLink) return nullptr;
    return std::make_unique<reader::StepProgress>(w.readerLink->view(), total);
}

void ReaderSession::message(const QString& text) {
    if (alive()) w.pnMsg->setText(text);
}

std::optional<std::vector<std::uint8_t>> ReaderSession::keyField(QLineEdit* edit,
                                                                 const char* fieldName) {
    const QByteArray text = edit->text().toLatin1();
    hex::HexPairs pairs = hex::ParseHexPairs(std::string_view(text.constData(), text.size()));
    if (pairs.ok) return std::move(pairs.bytes);
    message(Translate(currentLanguageIndex(), QStringLiteral("%1 is not hexadecimal (pair %2).")
                                                  .arg(QLatin1String(fieldName))
                                                  .arg(pairs.badPair + 1)));
    return std::nullopt;
}

} // namespace kelta
