// The "BT-Exciter" page: battery level, power and exciter parameters, exciter ID, and the
// texts beside its scroll bars.

#include "app/frmmodule.h"
#include "app/setreader/reader_session.h"
#include "app/setreader/set_reader_handlers.h"
#include "platform/wait_pump.h"
#include "reader/proto/commands/bt_exciter.h"
#include "reader/proto/commands/identity.h"

namespace kelta {

namespace {

using namespace reader::cmd;

// Readers take a moment to store a written block.
constexpr std::uint32_t kAfterBlockWriteMs = 5;

QString number4(int v) {
    return QStringLiteral("%1").arg(v, 4, 10, QLatin1Char('0'));
}

// The settings of the page's controls; the exciter ID is "0x" + the edit read as a number.
BtExciterSettings settingsOf(TfrmModule& w) {
    BtExciterSettings s;
    s.exciterId = static_cast<std::uint16_t>(HexNumberOr(w.edExciterID->text().toStdString(), 1));
    s.powerOffSeconds = static_cast<std::uint16_t>(w.sbPoweOffTime->value());
    s.powerOffFlags = static_cast<std::uint8_t>((w.cbxBtAutoPd->isChecked() ? 1 : 0) |
                                                (w.cbxBtKeyPd->isChecked() ? 2 : 0));
    s.readerMode = ReaderModeCode(w.cmbBTReaderMode->currentIndex());
    s.sendTimes = static_cast<std::uint8_t>(w.sbBtExciteCnt->value());
    s.sendDelay = static_cast<std::uint8_t>(w.sbBtExciteDly->value());
    return s;
}

// A block write of this page: a short pause after an accepted answer, then Ok or Error.
void writeBlock(ReaderSession& s, const BtExciterSettings& settings, bool failedIsError) {
    const auto a = s.exec(kBlockWrite, EncodeBtExciterWrite(settings));
    if (!s) return;
    if (!a) {
        if (failedIsError) s.error();
        return;
    }
    WaitPump(kAfterBlockWriteMs, 1);
    if (!s) return;
    if (a->size() < kBlockAnswerMin) return s.error();
    s.ok();
}

} // namespace

void SetReaderHandlers::btGetBtBatteryClick() {
    ReaderSession s(*this);
    if (!s) return;
    w_.pnlBtBattery_NOWLV->clear();
    const auto a = s.exec(kBattery);
    if (!s) return;
    const auto percent = a ? DecodeBatteryPercent(*a) : std::nullopt;
    if (!percent) return s.error();
    w_.pnlBtBattery_NOWLV->setText(QString::number(*percent) + QLatin1Char('%'));
}

void SetReaderHandlers::btGetBtPowerModeClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kBlockRead, EncodeBtExciterRead());
    if (!a) return;
    const auto bt = DecodeBtExciter(*a);
    if (!bt) return s.error();
    w_.cbxBtAutoPd->setChecked(false);
    w_.cbxBtKeyPd->setChecked(false);
    w_.edExciterID->setText(QStringLiteral("%1").arg(bt->exciterId, 4, 16, QLatin1Char('0')));
    w_.sbPoweOffTime->setValue(bt->powerOffSeconds);
    w_.pnBtPowerOffTime->setText(number4(w_.sbPoweOffTime->value()) + QStringLiteral(" Sec"));
    w_.cbxBtAutoPd->setChecked(bt->powerOffFlags & 1);
    w_.cbxBtKeyPd->setChecked(bt->powerOffFlags & 2);
    w_.cmbBTReaderMode->setCurrentIndex(ReaderModeItem(bt->readerMode));
    w_.pnBtExciteCnt->setText(number4(bt->sendTimes));
    w_.sbBtExciteCnt->setValue(bt->sendTimes);
    w_.pnBtExciteDly->setText(number4(bt->sendDelay));
    w_.sbBtExciteDly->setValue(bt->sendDelay);
    w_.sbBtBatteryLV->setValue(BatteryPercent(bt->batteryCode));
    setTag(w_.btExciterIDSet, 1);
    s.ok();
}

void SetReaderHandlers::btSetBtPowerModeClick() {
    ReaderSession s(*this);
    if (!s) return;
    BtExciterSettings settings = settingsOf(w_);
    const BatteryLevel level = BatteryCodeOf(w_.sbBtBatteryLV->value());
    settings.batteryCode = level.code;
    w_.sbBtBatteryLV->setValue(level.snapped);
    writeBlock(s, settings, true);
}

void SetReaderHandlers::btExciterIDSetClick() {
    ReaderSession s(*this);
    if (!s) return;
    if (tagOf(w_.btExciterIDSet) == 0) {
        btGetBtPowerModeClick();
        if (!s) return;
    }
    BtExciterSettings settings = settingsOf(w_);
    settings.readerMode = ReaderModeCodeForIdWrite(w_.cmbBTReaderMode->currentIndex());
    settings.batteryCode = 0;
    writeBlock(s, settings, false);
}

void SetReaderHandlers::sbPoweOffTimeChange() {
    w_.pnBtPowerOffTime->setText(QString::number(w_.sbPoweOffTime->value()) +
                                 QStringLiteral(" Sec"));
}

void SetReaderHandlers::sbBtExciteCntChange() {
    w_.pnBtExciteCnt->setText(QString::number(w_.sbBtExciteCnt->value()));
}

void SetReaderHandlers::sbBtExciteDlyChange() {
    w_.pnBtExciteDly->setText(QString::number(w_.sbBtExciteDly->value()));
}

void SetReaderHandlers::sbBtBatteryLVChange() {
    w_.pnlBtBatteryLV->setText(QString::number(w_.sbBtBatteryLV->value()) + QLatin1Char('%'));
}

} // namespace kelta
