// ZigBee, relays and inputs, keys and key selection, guest settings, gain and module ports.

#include "app/frmmodule.h"
#include "app/setreader/control_bits.h"
#include "app/setreader/reader_session.h"
#include "app/setreader/set_reader_handlers.h"
#include "reader/proto/commands/gain.h"
#include "reader/proto/commands/guest.h"
#include "reader/proto/commands/keys.h"
#include "reader/proto/commands/module_ports.h"
#include "reader/proto/commands/relays.h"
#include "reader/proto/commands/zigbee.h"

namespace kelta {

namespace {

using namespace reader::cmd;

std::array<QCheckBox*, 8> adminBoxes(TfrmModule& w) {
    return {w.cbAdmainKey1, w.cbAdmainKey2, w.cbAdmainKey3, w.cbAdmainKey4,
            w.cbAdmainKey5, w.cbAdmainKey6, w.cbAdmainKey7, w.cbAdmainKey8};
}

std::array<QCheckBox*, 3> versionBoxes(TfrmModule& w) {
    return {w.cbGuestVer1, w.cbGuestVer2, w.cbGuestVer3};
}

// A settings-block write whose answer needs 16 bytes: Ok or Error.
void blockWrite(ReaderSession& s, std::span<const std::uint8_t> payload) {
    const auto a = s.exec(kBlockWrite, payload);
    if (!a) return;
    if (a->size() < kBlockAnswerMin) return s.error();
    s.ok();
}

// The text of the send-mode item the list lacks ("1").
const QString kSendModeOne = QStringLiteral("SEND MODE 1");

} // namespace

// --- ZigBee -------------------------------------------------------------------------------

void SetReaderHandlers::btnGet_ZBGIDClick() {
    ReaderSession s(*this);
    if (!s) return;
    setHint(w_.edt_ZBGID, w_.edt_ZBGID->text());
    w_.edt_ZBGID->clear();
    const auto a = s.exec(kZigbeeGroup);
    if (!s) return;
    if (a) {
        if (const auto group = DecodeZigbeeGroup(*a)) {
            w_.edt_ZBGID->setText(QString::number(*group));
            setHint(w_.edt_ZBGID, w_.edt_ZBGID->text());
            return;
        }
        s.error();
    }
    w_.edt_ZBGID->setText(hintOf(w_.edt_ZBGID));
}

void SetReaderHandlers::btnSet_ZBGIDClick() {
    ReaderSession s(*this);
    if (!s || w_.edt_ZBGID->text().isEmpty()) return;
    const auto a = s.exec(
        kZigbeeGroup, EncodeZigbeeGroup(static_cast<std::uint16_t>(decimalOf(w_.edt_ZBGID, 0))));
    if (a && a->size() < 2) s.error();
}

void SetReaderHandlers::btnGet_ZigbeeMODEClick() {
    ReaderSession s(*this);
    if (!s) return;
    w_.cmbZibeeMODE->setCurrentIndex(0);
    const auto a = s.exec(kZigbeeMode);
    if (!a) return;
    const auto mode = DecodeZigbeeMode(*a);
    if (!mode) return s.error();
    selectItem(w_.cmbZibeeMODE, *mode);
}

void SetReaderHandlers::btnSet_ZigbeeMODEClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kZigbeeMode, EncodeZigbeeMode(static_cast<std::uint8_t>(
                                           std::max(0, w_.cmbZibeeMODE->currentIndex()))));
    if (a && a->empty()) s.error();
}

// --- relays and digital inputs ------------------------------------------------------------

void SetReaderHandlers::btnSet_RelayClick() {
    ReaderSession s(*this);
    if (!s) return;
    const bool on[] = {w_.cbxDO01->isChecked(), w_.cbxDO02->isChecked()};
    for (int relay = 0; relay < 2 && s; ++relay) {
        const auto a = s.exec(kRelay, EncodeRelay(relay, on[relay]));
        if (a && a->size() < kRelayAnswerMin) s.error();
    }
}

void SetReaderHandlers::btnGet_RelayClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kRelay);
    if (!a) return;
    if (const auto r = DecodeRelays(*a)) {
        w_.cbxDO01->setChecked(r->do1);
        w_.cbxDO02->setChecked(r->do2);
    }
}

void SetReaderHandlers::BitBtn2Click() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kDigitalInputs);
    if (!a) return;
    if (const auto in = DecodeDigitalInputs(*a)) {
        Shape* shapes[] = {w_.ShapeDI1, w_.ShapeDI2, w_.ShapeDI3, w_.ShapeDI4};
        for (std::size_t i = 0; i < 4; ++i)
            shapes[i]->setBrushColor(in->high[i] ? QColor(Qt::white) : QColor(Qt::yellow));
    }
}

// --- keys ---------------------------------------------------------------------------------

void SetReaderHandlers::btnR_AESKEYClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto access = s.keyField(w_.edCCKey, "Access key");
    if (!access) return;
    const auto key = s.keyField(w_.edAesKey, "AES KEY");
    if (!key) return;
    const auto slot = static_cast<std::uint8_t>(std::max(0, w_.cmbSelectKey->currentIndex()) + 1);
    blockWrite(s, EncodeAesKeyWrite(slot, ToKey8(*access), *key));
}

void SetReaderHandlers::btnR_AESKEY_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto access = s.keyField(w_.edCCKey, "Access key");
    if (!access) return;
    const auto slot = static_cast<std::uint8_t>(std::max(0, w_.cmbSelectKey->currentIndex()) + 1);
    const auto a = s.exec(kBlockRead, EncodeAesKeyRead(slot, ToKey8(*access)));
    if (!a) return;
    const auto key = DecodeAesKey(*a);
    if (!key) return s.error();
    w_.edAesKey->setText(
        QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(key->data()), 16).toHex())
            .toUpper());
    s.ok();
}

void SetReaderHandlers::btAdmainSelectkeyClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto access = s.keyField(w_.edAdmainPin, "Admin PIN");
    if (!access) return;
    blockWrite(s, EncodeAdminKeysWrite(ToKey8(*access), maskOf(adminBoxes(w_))));
}

void SetReaderHandlers::btAdmainSelectkey_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto access = s.keyField(w_.edAdmainPin, "Admin PIN");
    if (!access) return;
    const auto a = s.exec(kBlockRead, EncodeAdminKeysRead(ToKey8(*access)));
    if (!a) return;
    const auto mask = DecodeAdminKeys(*a);
    if (!mask) return s.error();
    checkByMask(adminBoxes(w_), *mask);
    s.ok();
}

// --- guest settings -----------------------------------------------------------------------

void SetReaderHandlers::btnGuestMode_SETClick() {
    ReaderSession s(*this);
    if (!s) return;
    blockWrite(s, EncodeGuestSendMode(w_.cmbGuestSendmode->currentIndex()));
}

void SetReaderHandlers::btnGuestMode_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kBlockRead, EncodeGuestRead(GuestItem::SendMode));
    if (!a) return;
    const auto g = DecodeGuest(*a);
    if (!g) return s.error();
    w_.cmbGuestSendmode->setCurrentIndex(0);
    const int item = SendModeItem(g->sendModeCode);
    // Mode "1" has no entry in the design-time list: it gets one, so the user sees it.
    if (item >= w_.cmbGuestSendmode->count()) {
        while (w_.cmbGuestSendmode->count() < item) w_.cmbGuestSendmode->addItem(QString());
        w_.cmbGuestSendmode->addItem(kSendModeOne);
    }
    w_.cmbGuestSendmode->setCurrentIndex(item);
    s.ok();
}

void SetReaderHandlers::btnGuestRssi_SETClick() {
    ReaderSession s(*this);
    if (!s) return;
    blockWrite(s, EncodeGuestRssi(static_cast<std::uint8_t>(w_.sbGuestRssi->value())));
}

void SetReaderHandlers::btnGuestRssi_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kBlockRead, EncodeGuestRead(GuestItem::RssiFilter));
    if (!a) return;
    const auto g = DecodeGuest(*a);
    if (!g) return s.error();
    w_.sbGuestRssi->setValue(g->rssiLimit);
    s.ok();
}

void SetReaderHandlers::btnGuestVer_SETClick() {
    ReaderSession s(*this);
    if (!s) return;
    blockWrite(s, EncodeGuestVersions(maskOf(versionBoxes(w_))));
}

void SetReaderHandlers::btnGuestVer_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kBlockRead, EncodeGuestRead(GuestItem::VersionFilter));
    if (!a) return;
    const auto g = DecodeGuest(*a);
    if (!g) return s.error();
    checkByMask(versionBoxes(w_), g->versionMask);
    s.ok();
}

void SetReaderHandlers::sbGuestRssiChange() {
    w_.pnGuestRssi->setText(QString::number(w_.sbGuestRssi->value()));
}

// --- gain and module ports ----------------------------------------------------------------

void SetReaderHandlers::butGainLevel_SETClick() {
    ReaderSession s(*this);
    if (!s) return;
    blockWrite(s, EncodeGainWrite(w_.sbGainLevel->value()));
}

void SetReaderHandlers::btnGainLevel_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    const auto a = s.exec(kBlockRead, EncodeGainRead());
    if (!a) return;
    const auto position = DecodeGainPosition(*a);
    if (!position) return s.error();
    w_.sbGainLevel->setValue(*position);
    s.ok();
}

void SetReaderHandlers::sbGainLevelChange() {
    w_.pnlGainLevel->setText(QString::number(w_.sbGainLevel->value()));
}

void SetReaderHandlers::btnModulePort_GETClick() {
    ReaderSession s(*this);
    if (!s) return;
    w_.cmb_ModulePort01->setCurrentIndex(0);
    w_.cmb_ModulePort02->setCurrentIndex(0);
    const auto a = s.exec(kModulePorts);
    if (!a) return;
    const auto p = DecodeModulePorts(*a);
    if (!p) return s.error();
    selectItem(w_.cmb_ModulePort01, p->port1);
    selectItem(w_.cmb_ModulePort02, p->port2);
    s.ok();
}

void SetReaderHandlers::btnModulePort_SETClick() {
    ReaderSession s(*this);
    if (!s) return;
    const ModulePorts p{
        static_cast<std::uint8_t>(std::max(0, w_.cmb_ModulePort01->currentIndex())),
        static_cast<std::uint8_t>(std::max(0, w_.cmb_ModulePort02->currentIndex()))};
    const auto a = s.exec(kModulePorts, EncodeModulePorts(p));
    if (!a) return;
    if (a->size() < 8) return s.error();
    s.ok();
}

} // namespace kelta
