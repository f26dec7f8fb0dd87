#pragma once
// One run of a Set Reader handler: pnlMain disabled for its time and enabled again on every
// way out, the exchange through the window's configuration link, and the two result texts.

#include "reader/link_view.h"
#include "reader/proto/commands/payload.h"

#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

class QLineEdit;

namespace kelta {

class TfrmModule;
class SetReaderHandlers;

class ReaderSession {
public:
    explicit ReaderSession(SetReaderHandlers& h);
    ~ReaderSession();
    ReaderSession(const ReaderSession&) = delete;
    ReaderSession& operator=(const ReaderSession&) = delete;

    // False once the window or the handlers are gone, or the program is closing: the handler
    // must stop without touching anything.
    bool alive() const;
    explicit operator bool() const { return alive(); }

    // ExecReaderCommand; the answer's data (answerLength bytes) when an answer was accepted.
    std::optional<reader::cmd::Answer>
    exec(std::uint16_t command, std::span<const std::uint8_t> payload = {}, bool freshLink = false);
    void ok();        // "Command Ok."
    void error();     // "Command Error."
    void cancelled(); // "Command Cancelled."

    // How far a handler of `total` steps has come, shown in the view of the window's link
    // until the object goes; null without a link.
    std::unique_ptr<reader::StepProgress> progress(long long total);
    void message(const QString& text);

    // The bytes of a key field, or nullopt after telling the user which field is not
    // hexadecimal (nothing may be sent then).
    std::optional<std::vector<std::uint8_t>> keyField(QLineEdit* edit, const char* fieldName);

    TfrmModule& w;

private:
    std::shared_ptr<bool> alive_;
    QPointer<TfrmModule> window_;
};

// Texts of the window's language.
QString tr(const char* english);
// Decimal number of an edit, or the fallback.
long long decimalOf(const QLineEdit* edit, long long fallback);

} // namespace kelta
