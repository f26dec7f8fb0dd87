// Reader identification, reset and initial, serial number, reader ID and version.

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/setreader/reader_session.h"
#include "app/setreader/set_reader_handlers.h"
#include "reader/proto/commands/identity.h"
#include "reader/reader_link.h"

#include <QDateTime>
#include <QTimer>

namespace kelta {

namespace {

using namespace reader::cmd;

// The buttons that stay locked until a reader has been identified.
std::array<QWidget*, 14> lockedButtons(TfrmModule& w) {
    return {w.btnReset,          w.btnInitial,        w.btnID_GET,        w.btnID_SET,
            w.btnGuestMode_SET,  w.btnGuestMode_GET,  w.btnGuestRssi_SET, w.btnGuestRssi_GET,
            w.btnModulePort_SET, w.btnModulePort_GET, w.btnGuestVer_SET,  w.btnGuestVer_GET,
            w.butGainLevel_SET,  w.btnGainLevel_GET};
}

void setButtonsEnabled(TfrmModule& w, bool enabled) {
    for (QWidget* b : lockedButtons(w)) b->setEnabled(enabled);
}

void clearIdentityPanels(TfrmModule& w) {
    for (Panel* p : {w.pnReaderTypeName, w.pnReaderSn, w.pnReaderName, w.pnReaderId, w.pnReaderVer})
        p->clear();
}

// The settings pages of each page bit of the model table.
struct PageSheet {
    Page page;
    TabSheet* TfrmModule::*sheet;
};
constexpr PageSheet kPageSheets[] = {
    {kPageAes, &TfrmModule::ts_Aes128},    {kPageAdmin, &TfrmModule::ts_Adminstor},
    {kPageGuest, &TfrmModule::ts_Guest},   {kPageZigBee, &TfrmModule::ts_ZigBee},
    {kPageDiDo, &TfrmModule::ts_DiDo},     {kPageParameter, &TfrmModule::ts_parameter},
    {kPageBtExciter, &TfrmModule::ts_BtE}, {kPageExciter, &TfrmModule::ts_KR310E1},
};

void showPages(TfrmModule& w, unsigned pages) {
    for (const PageSheet& p : kPageSheets) w.pcSetRead->setTabShown(w.*p.sheet, pages & p.page);
}

void applyModel(TfrmModule& w, const ReaderModel& m) {
    showPages(w, m.pages);
    for (const PageSheet& p : kPageSheets)
        if (p.page == m.activePage) w.pcSetRead->setActivePage(w.*p.sheet);
    w.gbox_ModulePort->setVisible(m.modulePorts);
}

ClockTime localClock() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
}

QString idText(int id) {
    return QStringLiteral("%1").arg(id, 4, 10, QLatin1Char('0'));
}

QString hex4(std::uint32_t v) {
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
}

QString hex8(std::uint32_t v) {
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')).toUpper();
}

void showReaderIdentity(TfrmModule& w, const ReaderIdentity& id) {
    w.edSN->setText(hex8(id.serial));
    w.edID->setText(idText(id.readerId));
}

} // namespace

namespace {

// The steps of Reader Information; a model without a clock or a BT exciter passes its step.
enum ScanStep { kStepModel = 1, kStepClock, kStepVersion, kStepExciter, kScanSteps = kStepExciter };

QString scanStepText(int step) {
    static const char* const names[] = {"Asking the reader's model", "Setting the reader's clock",
                                        "Asking the reader's version", "Reading the BT exciter"};
    return tr("%1 (step %2 of %3)")
        .arg(tr(names[step - 1]))
        .arg(step)
        .arg(static_cast<int>(kScanSteps));
}

} // namespace

void SetReaderHandlers::btnScanReaderClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto progress = s.progress(kScanSteps);
    if (!progress) return;
    const auto step = [&](int n) { return progress->step(n, scanStepText(n)); };
    w_.pcSetRead->setEnabled(false);
    setButtonsEnabled(w_, false);
    clearIdentityPanels(w_);
    setTag(w_.btnScanReader, 0);
    if (!step(kStepModel)) return s.cancelled();
    if (w_.readerLink) w_.readerLink->CloseLinks();
    if (!s) return;

    const auto a = s.exec(kModelCode);
    if (!a) {
        if (progress->cancelled()) s.cancelled();
        return;
    }
    const auto model = DecodeModelAnswer(*a);
    if (!model) return s.error();

    if (w_.runController) w_.runController->busyTimer().start();
    showPages(w_, kPageGuest);
    w_.pcSetRead->setActivePage(w_.ts_Guest);
    const ReaderModel* row = FindModel(model->model);
    if (!row) {
        // No name, no further commands; the user learns which code the reader gave.
        return s.message(tr("Unknown reader model 0x%1").arg(hex4(model->model)));
    }
    applyModel(w_, *row);

    if (!step(kStepClock)) return s.cancelled();
    if (row->setsClock) {
        const Bytes clock = EncodeClock(localClock());
        for (int attempt = 0; attempt < 2 && s && !progress->cancelled(); ++attempt)
            if (s.exec(kClock, clock)) break;
        if (!s) return;
    }

    if (!step(kStepVersion)) return s.cancelled();
    const auto v = s.exec(kVersion);
    if (!v) {
        if (progress->cancelled()) s.cancelled();
        return;
    }
    const auto version = DecodeVersion(*v);
    if (!version) return s.error();
    w_.pnReaderVer->setText(hex4(version->version));
    w_.pnReaderName->setText(QString::fromLatin1(version->name.c_str()));
    w_.pnReaderTypeName->setText(QString::fromLatin1(row->name));
    w_.pnReaderSn->setText(hex8(model->serial));
    const QString id = idText(model->readerId);
    w_.pnReaderId->setText(id);
    for (QLineEdit* e : {w_.edID, w_.edtTxID_00, w_.edtTxID_01, w_.edtTxID_02}) e->setText(id);

    setButtonsEnabled(w_, true);
    w_.pcSetRead->setEnabled(true);
    // The reader is identified from here on; the BT exciter's settings are only read.
    if (w_.pcSetRead->isTabShown(w_.ts_BtE)) {
        if (!step(kStepExciter)) {
            setTag(w_.btnScanReader, 1);
            return s.cancelled();
        }
        btGetBtPowerModeClick();
        if (!s) return;
    }
    progress->finish(tr("Done"));
    setTag(w_.btnScanReader, 1);
    s.ok();
}

void SetReaderHandlers::btnGetSNClick() {
    ReaderSession s(*this);
    if (!s) return;
    storedSerial_ = 0;
    storedSerialText_.clear();
    const auto a = s.exec(kReaderId);
    if (!a) return;
    const auto id = DecodeReaderIdentity(*a);
    if (!id) return s.error();
    storedSerial_ = id->serial;
    w_.edID->setText(idText(id->readerId));
    storedSerialText_ = hex8(id->serial);
    s.message(QStringLiteral("SN \uFF1A ") + storedSerialText_);
}

void SetReaderHandlers::btnResetClick() {
    ReaderSession s(*this);
    if (!s) return;
    btnGetSNClick();
    if (!s) return;
    if (s.exec(kReset, EncodeReset(storedSerial_, ResetKind::Reset), true)) {
        s.ok();
        s.message(QStringLiteral("Select Function"));
        w_.pnlTagMsg->setText(QStringLiteral("Select Function"));
        clearIdentityPanels(w_);
        w_.pcSetRead->setEnabled(false);
        setTag(w_.btnScanReader, 0);
        for (TabSheet* t : {w_.ts_ZigBee, w_.ts_DiDo, w_.ts_BtE, w_.ts_KR310E1, w_.ts_parameter})
            w_.pcSetRead->setTabShown(t, false);
        setButtonsEnabled(w_, false);
    }
    if (s && w_.readerLink) w_.readerLink->CloseLinks();
}

void SetReaderHandlers::btnInitialClick() {
    ReaderSession s(*this);
    if (!s) return;
    btnGetSNClick();
    if (!s) return;
    if (s.exec(kReset, EncodeReset(storedSerial_, ResetKind::Initial), true)) s.ok();
    if (s && w_.readerLink) w_.readerLink->CloseLinks();
}

void SetReaderHandlers::btnID_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    w_.edSN->clear();
    const auto a = s.exec(kReaderId);
    if (!a) return;
    const auto id = DecodeReaderIdentity(*a);
    if (!id) return s.error();
    showReaderIdentity(w_, *id);
}

void SetReaderHandlers::btnID_SETClick() {
    ReaderSession s(*this);
    if (!s) return;
    if (w_.edSN->text().isEmpty()) {
        btnID_GETClick();
        if (!s || w_.edSN->text().isEmpty()) return;
    }
    const ReaderIdentity id{HexNumberOr(w_.edSN->text().toStdString(), 0),
                            static_cast<std::uint16_t>(decimalOf(w_.edID, 0))};
    const auto a = s.exec(kReaderId, EncodeReaderIdentity(id));
    if (!a) return;
    const auto answer = DecodeReaderIdentity(*a);
    if (!answer) return s.error();
    showReaderIdentity(w_, *answer);
}

void SetReaderHandlers::btnGetVersionClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kVersion);
    if (!a) return;
    const auto v = DecodeVersion(*a);
    if (!v) return s.error();
    s.message(QString::fromLatin1(v->name.c_str()) + QStringLiteral("  V") + hex4(v->version));
}

void SetReaderHandlers::btnFactoryInitClick() {
    ReaderSession s(*this);
    if (!s) return;
    const std::uint32_t serial = HexNumberOr(w_.pnReaderSn->text().toStdString(), 0);
    const auto a = s.exec(kReset, EncodeReset(serial, ResetKind::Initial));
    if (a && a->empty()) s.ok();
}

} // namespace kelta
