#include "app/settag/settag_page.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "app/window_link_view.h"
#include "platform/timings.h"
#include "platform/wait_pump.h"
#include "reader/reader_link.h"
#include "tag/proto/commands/exciter.h"
#include "tag/tag_exchange.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>

namespace kelta {

namespace {

using tag::v3::Encoded;
using tag::v3::Field;
using tag::v3::Setting;
using tag::v3::Target;

constexpr int kBeepOkHz = 1000, kBeepOkMs = 10;
constexpr int kBeepFailHz = 300, kBeepFailMs = 300;

QString translated(const char* text) {
    return Translate(currentLanguageIndex(), QString::fromLatin1(text));
}

std::string latin1(const QLineEdit* e) {
    return e->text().toLatin1().toStdString();
}

std::uint8_t position(const QScrollBar* bar) {
    return static_cast<std::uint8_t>(bar->value());
}

const char* fieldName(Field f) {
    switch (f) {
    case Field::TagId:
        return "TAG ID";
    case Field::Pin:
        return "PIN";
    case Field::Cid:
        return "CID";
    case Field::Key:
        return "KEY";
    }
    return "TAG ID";
}

template <class F> void onClick(QPushButton* b, SetTagPage* p, F f) {
    QObject::connect(b, &QPushButton::clicked, p, [p, f] { (p->*f)(); });
}
template <class F> void onChange(QScrollBar* s, SetTagPage* p, F f) {
    QObject::connect(s, &QScrollBar::valueChanged, p, [p, f] { (p->*f)(); });
}

} // namespace

SetTagPage::SetTagPage(TfrmModule& window, reader::ReaderLink& link)
    : w_(&window), exchange_(std::make_unique<tag::TagExchange>(link)) {
    connectControls();
}

SetTagPage::~SetTagPage() = default;

void SetTagPage::connectControls() {
    TfrmModule& w = *w_;
    onClick(w.btTagActivTimeV3_SET, this, &SetTagPage::btTagActivTimeV3_SETClick);
    onClick(w.btTagActivCountV3_SET, this, &SetTagPage::btTagActivCountV3_SETClick);
    onClick(w.btTagReceiveCountV3_SET, this, &SetTagPage::btTagReceiveCountV3_SETClick);
    onClick(w.btnGSensor00_SET, this, &SetTagPage::btnGSensor00_SETClick);
    onClick(w.btnGSensor01_SET, this, &SetTagPage::btnGSensor01_SETClick);
    onClick(w.btnGSensor02_SET, this, &SetTagPage::btnGSensor02_SETClick);
    onClick(w.btnGSensor03_SET, this, &SetTagPage::btnGSensor03_SETClick);
    onClick(w.btnGSensor04_SET, this, &SetTagPage::btnGSensor04_SETClick);
    onClick(w.btnGSensor05_SET, this, &SetTagPage::btnGSensor05_SETClick);
    onClick(w.btTagBeepV3_SET, this, &SetTagPage::btTagBeepV3_SETClick);
    onClick(w.btTagLedRV3_SET, this, &SetTagPage::btTagLedRV3_SETClick);
    onClick(w.btTagLedGV3_SET, this, &SetTagPage::btTagLedGV3_SETClick);
    onClick(w.btTagAdmainUid, this, &SetTagPage::btTagAdmainUidClick);
    onClick(w.btIdModeSet, this, &SetTagPage::btIdModeSetClick);
    onClick(w.btAesModeSet, this, &SetTagPage::btAesModeSetClick);
    onClick(w.btTagSelectKey, this, &SetTagPage::btTagSelectKeyClick);
    onClick(w.btSetKey, this, &SetTagPage::btSetKeyClick);

    onClick(w.btTagActivTimeV3_GET, this, &SetTagPage::btTagActivTimeV3_GETClick);
    onClick(w.btTagActivCountV3_GET, this, &SetTagPage::btTagActivCountV3_GETClick);
    onClick(w.btTagReceiveCountV3_GET, this, &SetTagPage::btTagReceiveCountV3_GETClick);
    onClick(w.btnGSensor00_GET, this, &SetTagPage::btnGSensor00_GETClick);
    onClick(w.btnGSensor01_GET, this, &SetTagPage::btnGSensor01_GETClick);
    onClick(w.btnGSensor02_GET, this, &SetTagPage::btnGSensor02_GETClick);
    onClick(w.btnGSensor03_GET, this, &SetTagPage::btnGSensor03_GETClick);
    onClick(w.btnGSensor04_GET, this, &SetTagPage::btnGSensor04_GETClick);
    onClick(w.btnGSensor05_GET, this, &SetTagPage::btnGSensor05_GETClick);
    onClick(w.butTagVer_GET, this, &SetTagPage::butTagVer_GETClick);

    onChange(w.sbTagGuestActiveMode, this, &SetTagPage::sbTagGuestActiveModeChange);
    onChange(w.sbTagGuestActiveCnt, this, &SetTagPage::sbTagGuestActiveCntChange);
    onChange(w.sbTagGuestReceiveCnt, this, &SetTagPage::sbTagGuestReceiveCntChange);
    onChange(w.sbTag_GSensor00, this, &SetTagPage::sbTag_GSensor00Change);
    onChange(w.sbTag_GSensor01, this, &SetTagPage::sbTag_GSensor01Change);
    onChange(w.sbTag_GSensor02, this, &SetTagPage::sbTag_GSensor02Change);
    onChange(w.sbTag_GSensor03, this, &SetTagPage::sbTag_GSensor03Change);
    onChange(w.sbTag_GSensor04, this, &SetTagPage::sbTag_GSensor04Change);
    onChange(w.sbTag_GSensor05, this, &SetTagPage::sbTag_GSensor05Change);
    onChange(w.sbTagBeep, this, &SetTagPage::sbTagBeepChange);
    onChange(w.sbTagLedR, this, &SetTagPage::sbTagLedRChange);
    onChange(w.sbTagLedG, this, &SetTagPage::sbTagLedGChange);

    onClick(w.btV1TagActMode, this, &SetTagPage::btV1TagActModeClick);
    onClick(w.btV1TagActModeGet, this, &SetTagPage::btV1TagActModeGetClick);
    onClick(w.btV1TagActCnt, this, &SetTagPage::btV1TagActCntClick);
    onClick(w.btV1TagActCntGet, this, &SetTagPage::btV1TagActCntGetClick);
    onClick(w.btV1TagReceiver, this, &SetTagPage::btV1TagReceiverClick);
    onClick(w.btV1TagReceiverGet, this, &SetTagPage::btV1TagReceiverGetClick);
    onClick(w.btV1TagBeep, this, &SetTagPage::btV1TagBeepClick);
    onClick(w.btV1TagLedR, this, &SetTagPage::btV1TagLedRClick);
    onClick(w.btV1TagLedG, this, &SetTagPage::btV1TagLedGClick);
    onChange(w.sbV1TagActMode, this, &SetTagPage::sbV1TagActModeChange);
    onChange(w.sbV1TagActCnt, this, &SetTagPage::sbV1TagActCntChange);
    onChange(w.sbV1TagReceiver, this, &SetTagPage::sbV1TagReceiverChange);
    onChange(w.sbV1TagBeep, this, &SetTagPage::sbV1TagBeepChange);
    onChange(w.sbV1TagLedR, this, &SetTagPage::sbV1TagLedRChange);
    onChange(w.sbV1TagLedG, this, &SetTagPage::sbV1TagLedGChange);

    onClick(w.btnSetExciter, this, &SetTagPage::btnSetExciterClick);
    onChange(w.sbExciterID, this, &SetTagPage::sbExciterIDChange);
    onChange(w.sbExciterDelay, this, &SetTagPage::sbExciterDelayChange);
}

// ---------------------------------------------------------------------------------------------
// Shared steps.

Target SetTagPage::target(const std::string& tagId, const std::string& pin) const {
    const int mode = w_->cmbSelectIdmode->currentIndex();
    return {static_cast<std::uint8_t>(mode < 0 ? 0 : mode), tagId, pin};
}

// A field that is not hexadecimal: nothing is sent, both panels name the field.
bool SetTagPage::refuse(const Encoded& payload) {
    if (payload.ok()) return false;
    const QString text =
        Translate(currentLanguageIndex(), QString::fromLatin1(fieldName(*payload.error)) +
                                              QStringLiteral(" is not hexadecimal."));
    w_->pnMsg->setText(text);
    w_->pnlTagMsg->setText(text);
    setHint(w_->pnlTagMsg, text);
    exchange_->beep(kBeepFailHz, kBeepFailMs);
    return true;
}

// A write counts as done only when the answer it waited for came.
void SetTagPage::runWrite(const Encoded& payload) {
    if (refuse(payload)) return;
    const QPointer<TfrmModule> w = w_;
    const bool written =
        exchange_->RunTagSet(true, tag::v3::kWriteCode, tag::v3::kWriteAnswerMode, payload.bytes);
    if (!w || !written) return;
    w->pnMsg->setText(exchange_->answered() ? translated("Command Ok.")
                                            : translated("Command Error."));
}

void SetTagPage::writeSetting(Setting s, const QScrollBar* bar) {
    const std::string id = latin1(w_->edTagID), pin = latin1(w_->edTagGuestPin);
    runWrite(tag::v3::EncodeSettingWrite(target(id, pin), s, position(bar)));
}

void SetTagPage::writeAdmin(const std::function<Encoded(const Target&)>& encode,
                            QLineEdit* pinEdit) {
    const std::string id = latin1(w_->edTagID), pin = latin1(pinEdit);
    runWrite(encode(target(id, pin)));
}

void SetTagPage::readSetting(Setting s, QScrollBar* bar, void (SetTagPage::*redraw)()) {
    const std::string id = latin1(w_->edTagID), pin = latin1(w_->edTagGuestPin);
    const Encoded payload = tag::v3::EncodeSettingRead(target(id, pin), s);
    if (refuse(payload)) return;
    const QPointer<TfrmModule> w = w_;
    if (!exchange_->RunTagGet(false, tag::v3::kReadCode, payload.bytes) || !w) return;
    const auto& answer = exchange_->answerData();
    bool ok = false;
    if (s == Setting::Version) {
        if (const auto text = tag::v3::DecodeVersionAnswer(answer)) {
            w->pnlTagVer_GET->setText(QString::fromLatin1(text->c_str()));
            ok = true;
        }
    } else if (const auto value = tag::v3::DecodeSettingAnswer(answer, s)) {
        bar->setValue(*value); // clamped to the bar's range; its text follows
        if (redraw) (this->*redraw)();
        ok = true;
    }
    w->pnMsg->setText(ok ? translated("Command Ok.") : translated("Command Error !"));
    w->pnlMain->setEnabled(true);
}

void SetTagPage::runV1(tag::v1::Command c, const QScrollBar* bar) {
    const Encoded payload = tag::v1::Encode(latin1(w_->edTagID), c, position(bar));
    if (refuse(payload)) return;
    const QPointer<TfrmModule> w = w_;
    const int mode = tag::v1::entryOf(c).answerMode;
    if (!exchange_->RunTagSet(true, tag::v1::kCode, mode, payload.bytes) || !w) return;
    // A wait that ran out is no success.
    if (mode > 1 && !exchange_->answered()) {
        w->pnMsg->setText(translated("Command Error."));
        return;
    }
    w->pnMsg->setText(translated("Command Ok."));
    w->pnlTagMsg->setText(translated("Command Ok."));
}

// ---------------------------------------------------------------------------------------------
// V3 handlers.

void SetTagPage::btTagActivTimeV3_SETClick() {
    writeSetting(Setting::ActiveTime, w_->sbTagGuestActiveMode);
}
void SetTagPage::btTagActivCountV3_SETClick() {
    writeSetting(Setting::ActiveCount, w_->sbTagGuestActiveCnt);
}
void SetTagPage::btTagReceiveCountV3_SETClick() {
    writeSetting(Setting::ReceiveCount, w_->sbTagGuestReceiveCnt);
}
void SetTagPage::btnGSensor00_SETClick() {
    writeSetting(Setting::GSensor00, w_->sbTag_GSensor00);
}
void SetTagPage::btnGSensor01_SETClick() {
    writeSetting(Setting::GSensor01, w_->sbTag_GSensor01);
}
void SetTagPage::btnGSensor02_SETClick() {
    writeSetting(Setting::GSensor02, w_->sbTag_GSensor02);
}
void SetTagPage::btnGSensor03_SETClick() {
    writeSetting(Setting::GSensor03, w_->sbTag_GSensor03);
}
void SetTagPage::btnGSensor04_SETClick() {
    writeSetting(Setting::GSensor04, w_->sbTag_GSensor04);
}
void SetTagPage::btnGSensor05_SETClick() {
    writeSetting(Setting::GSensor05, w_->sbTag_GSensor05);
}
void SetTagPage::btTagBeepV3_SETClick() {
    writeSetting(Setting::Beep, w_->sbTagBeep);
}
void SetTagPage::btTagLedRV3_SETClick() {
    writeSetting(Setting::LedR, w_->sbTagLedR);
}
void SetTagPage::btTagLedGV3_SETClick() {
    writeSetting(Setting::LedG, w_->sbTagLedG);
}

void SetTagPage::btTagAdmainUidClick() {
    const std::array<std::string, 4> cid{latin1(w_->edTagAdmainUid1), latin1(w_->edTagAdmainUid2),
                                         latin1(w_->edTagAdmainUid3), latin1(w_->edTagAdmainUid4)};
    writeAdmin(
        [&cid](const Target& t) {
            return tag::v3::EncodeCid(t, {cid[0], cid[1], cid[2], cid[3]});
        },
        w_->edTagAdmainPin);
}
void SetTagPage::btIdModeSetClick() {
    const int mode = std::max(0, w_->cmbIdModeSet->currentIndex());
    writeAdmin([mode](const Target& t) { return tag::v3::EncodeIdMode(t, mode); },
               w_->edTagAdmainPin);
}
void SetTagPage::btAesModeSetClick() {
    const bool on = w_->cmbAesMode->currentIndex() == 1;
    writeAdmin([on](const Target& t) { return tag::v3::EncodeAesMode(t, on); }, w_->edTagAdmainPin);
}
void SetTagPage::btTagSelectKeyClick() {
    const int key = std::max(0, w_->cmbTagSelectKey->currentIndex());
    writeAdmin([key](const Target& t) { return tag::v3::EncodeSelectKey(t, key); },
               w_->edTagAdmainPin);
}
void SetTagPage::btSetKeyClick() {
    const int slot = std::max(0, w_->cbKeyNo->currentIndex());
    const std::string key = latin1(w_->edKey);
    writeAdmin([slot, &key](const Target& t) { return tag::v3::EncodeKey(t, slot, key); },
               w_->edPinNo);
}

void SetTagPage::btTagActivTimeV3_GETClick() {
    readSetting(Setting::ActiveTime, w_->sbTagGuestActiveMode,
                &SetTagPage::sbTagGuestActiveModeChange);
}
void SetTagPage::btTagActivCountV3_GETClick() {
    readSetting(Setting::ActiveCount, w_->sbTagGuestActiveCnt, nullptr);
}
void SetTagPage::btTagReceiveCountV3_GETClick() {
    readSetting(Setting::ReceiveCount, w_->sbTagGuestReceiveCnt, nullptr);
}
void SetTagPage::btnGSensor00_GETClick() {
    readSetting(Setting::GSensor00, w_->sbTag_GSensor00, nullptr);
}
void SetTagPage::btnGSensor01_GETClick() {
    readSetting(Setting::GSensor01, w_->sbTag_GSensor01, &SetTagPage::sbTag_GSensor01Change);
}
void SetTagPage::btnGSensor02_GETClick() {
    readSetting(Setting::GSensor02, w_->sbTag_GSensor02, nullptr);
}
void SetTagPage::btnGSensor03_GETClick() {
    readSetting(Setting::GSensor03, w_->sbTag_GSensor03, nullptr);
}
void SetTagPage::btnGSensor04_GETClick() {
    readSetting(Setting::GSensor04, w_->sbTag_GSensor04, nullptr);
}
void SetTagPage::btnGSensor05_GETClick() {
    readSetting(Setting::GSensor05, w_->sbTag_GSensor05, nullptr);
}
void SetTagPage::butTagVer_GETClick() {
    readSetting(Setting::Version, nullptr, nullptr);
}

namespace {
void showTimeCode(QLineEdit* e, const QScrollBar* bar) {
    const std::string_view t = tag::v3::TimeCodeText(bar->value());
    e->setText(QString::fromLatin1(t.data(), static_cast<qsizetype>(t.size())));
}
void showDecimal(QLineEdit* e, const QScrollBar* bar) {
    e->setText(QString::number(bar->value()));
}
void showTenths(QLineEdit* e, const QScrollBar* bar) {
    e->setText(QString::fromStdString(tag::v3::TenthsText(bar->value())));
}
} // namespace

void SetTagPage::sbTagGuestActiveModeChange() {
    showTimeCode(w_->edTagGuestActivMode, w_->sbTagGuestActiveMode);
}
void SetTagPage::sbTagGuestActiveCntChange() {
    showDecimal(w_->edTagGuestActivCnt, w_->sbTagGuestActiveCnt);
}
void SetTagPage::sbTagGuestReceiveCntChange() {
    showDecimal(w_->edTagGuestReceiveCnt, w_->sbTagGuestReceiveCnt);
}
void SetTagPage::sbTag_GSensor00Change() {
    showDecimal(w_->edTag_GSensor00, w_->sbTag_GSensor00);
}
void SetTagPage::sbTag_GSensor01Change() {
    showTimeCode(w_->edTag_GSensor01, w_->sbTag_GSensor01);
}
void SetTagPage::sbTag_GSensor02Change() {
    showDecimal(w_->edTag_GSensor02, w_->sbTag_GSensor02);
}
void SetTagPage::sbTag_GSensor03Change() {
    showDecimal(w_->edTag_GSensor03, w_->sbTag_GSensor03);
}
void SetTagPage::sbTag_GSensor04Change() {
    showDecimal(w_->edTag_GSensor04, w_->sbTag_GSensor04);
}
void SetTagPage::sbTag_GSensor05Change() {
    showDecimal(w_->edTag_GSensor05, w_->sbTag_GSensor05);
}
void SetTagPage::sbTagBeepChange() {
    showTenths(w_->edTagBeep, w_->sbTagBeep);
}
void SetTagPage::sbTagLedRChange() {
    showTenths(w_->edTagLedR, w_->sbTagLedR);
}
void SetTagPage::sbTagLedGChange() {
    showTenths(w_->edTagLedG, w_->sbTagLedG);
}

// ---------------------------------------------------------------------------------------------
// V1 handlers.

void SetTagPage::btV1TagActModeClick() {
    runV1(tag::v1::Command::ActiveTime, w_->sbV1TagActMode);
}
void SetTagPage::btV1TagActModeGetClick() {
    runV1(tag::v1::Command::ActiveTimeGet, w_->sbV1TagActMode);
}
void SetTagPage::btV1TagActCntClick() {
    runV1(tag::v1::Command::ActiveCount, w_->sbV1TagActCnt);
}
void SetTagPage::btV1TagActCntGetClick() {
    runV1(tag::v1::Command::ActiveCountGet, w_->sbV1TagActCnt);
}
void SetTagPage::btV1TagReceiverClick() {
    runV1(tag::v1::Command::Receiver, w_->sbV1TagReceiver);
}
void SetTagPage::btV1TagReceiverGetClick() {
    runV1(tag::v1::Command::ReceiverGet, w_->sbV1TagReceiver);
}
void SetTagPage::btV1TagBeepClick() {
    runV1(tag::v1::Command::Beep, w_->sbV1TagBeep);
}
void SetTagPage::btV1TagLedRClick() {
    runV1(tag::v1::Command::LedR, w_->sbV1TagLedR);
}
void SetTagPage::btV1TagLedGClick() {
    runV1(tag::v1::Command::LedG, w_->sbV1TagLedG);
}
void SetTagPage::sbV1TagActModeChange() {
    showTimeCode(w_->edV1TagActMode, w_->sbV1TagActMode);
}
void SetTagPage::sbV1TagActCntChange() {
    showDecimal(w_->edV1TagActCnt, w_->sbV1TagActCnt);
}
void SetTagPage::sbV1TagReceiverChange() {
    showDecimal(w_->edV1TagReceiver, w_->sbV1TagReceiver);
}
void SetTagPage::sbV1TagBeepChange() {
    showTenths(w_->edV1TagBeep, w_->sbV1TagBeep);
}
void SetTagPage::sbV1TagLedRChange() {
    showTenths(w_->edV1TagLedR, w_->sbV1TagLedR);
}
void SetTagPage::sbV1TagLedGChange() {
    showTenths(w_->edV1TagLedG, w_->sbV1TagLedG);
}

// ---------------------------------------------------------------------------------------------
// Exciter page.

void SetTagPage::btnSetExciterClick() {
    const QPointer<TfrmModule> w = w_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    w->pnlMain->setEnabled(false);
    w->pnMsg->setText(translated("Connecting ......"));
    PumpEvents();
    if (!w || programClosing()) {
        QApplication::restoreOverrideCursor();
        return;
    }

    if (activeLinkKind(*w) != reader::LinkKind::Serial) {
        // Exciter frames travel on a serial line only: nothing is sent over TCP.
        w->pnMsg->setText(translated("The exciter is set over a serial (COM) link."));
        exchange_->beep(kBeepFailHz, kBeepFailMs);
    } else if (!exchange_->link() || !exchange_->link()->OpenLink(false)) {
        if (w) w->pnMsg->setText(QStringLiteral("Connect Error !"));
    } else {
        const auto steps = tag::exciter::ExciterSteps(
            w->sbExciterDelay->value(), w->pnExciterID->text().toLatin1().toStdString(),
            w->chkExciterEn->isChecked());
        bool ok = true;
        for (std::size_t i = 0; i < steps.size() && ok; ++i) {
            if (i > 0) WaitPump(timing::kExciterStepGapMs, 1);
            if (!w || programClosing()) break;
            int count = 0;
            ok = exchange_->ExchangeExciterFrame(steps[i], count) &&
                 count == static_cast<int>(tag::exciter::kAnswerBytes);
        }
        if (!w || programClosing()) {
            QApplication::restoreOverrideCursor();
            return;
        }
        if (ok) {
            exchange_->beep(kBeepOkHz, kBeepOkMs);
            w->pnMsg->setText(translated("Command Ok."));
        } else {
            exchange_->beep(kBeepFailHz, kBeepFailMs);
            w->pnMsg->setText(QStringLiteral("Command Error !"));
        }
    }
    if (w) {
        if (w->sbMain->panelCount() > 0) w->sbMain->setPanelText(0, QString());
        w->pnlMain->setEnabled(true);
    }
    QApplication::restoreOverrideCursor();
}

void SetTagPage::sbExciterIDChange() {
    w_->pnExciterID->setText(
        QStringLiteral("%1").arg(w_->sbExciterID->value(), 4, 16, QLatin1Char('0')).toUpper());
}

void SetTagPage::sbExciterDelayChange() {
    w_->pnExciterDelay->setText(QString::number(w_->sbExciterDelay->value() * 10));
}

} // namespace kelta
