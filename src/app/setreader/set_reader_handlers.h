#pragma once
// The handlers of the "Set Reader" page below the link strip: reader identification, reset
// and initial, identity, ZigBee, relays and inputs, keys, guest settings, gain, module ports,
// parameters, the tag database and the BT exciter. Each one reads the controls, encodes a
// command of the catalogue, runs it through ExecReaderCommand, decodes the answer and writes
// the controls and pnMsg.

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

namespace kelta {

class TfrmModule;

class SetReaderHandlers : public QObject {
    Q_OBJECT
public:
    explicit SetReaderHandlers(TfrmModule& window);
    ~SetReaderHandlers() override;

    // Identity, reset and initial.
    void btnScanReaderClick();
    void btnResetClick();
    void btnInitialClick();
    void btnID_GETClick();
    void btnID_SETClick();
    void btnGetSNClick();
    void btnGetVersionClick();

    // ZigBee, relays and digital inputs.
    void btnGet_ZBGIDClick();
    void btnSet_ZBGIDClick();
    void btnGet_ZigbeeMODEClick();
    void btnSet_ZigbeeMODEClick();
    void btnSet_RelayClick();
    void btnGet_RelayClick();
    void BitBtn2Click();

    // Keys and key selection.
    void btnR_AESKEYClick();
    void btnR_AESKEY_GETClick();
    void btAdmainSelectkeyClick();
    void btAdmainSelectkey_GETClick();

    // Guest settings, gain, module ports.
    void btnGuestMode_SETClick();
    void btnGuestMode_GETClick();
    void btnGuestRssi_SETClick();
    void btnGuestRssi_GETClick();
    void btnGuestVer_SETClick();
    void btnGuestVer_GETClick();
    void butGainLevel_SETClick();
    void btnGainLevel_GETClick();
    void btnModulePort_GETClick();
    void btnModulePort_SETClick();
    void sbGuestRssiChange();
    void sbGainLevelChange();

    // Parameter blocks and the tag database.
    void btnParameters_GetClick();
    void btnParameters_SetClick();
    void ts_parameterShow();
    void Button1Click();
    void btn_settagdataClick();
    void btn_gettagdataClick();
    void btn_deltagdataClick();
    void btn_delalltagdataClick();

    // BT exciter.
    void btGetBtBatteryClick();
    void btGetBtPowerModeClick();
    void btSetBtPowerModeClick();
    void btExciterIDSetClick();
    void btnFactoryInitClick();
    void sbPoweOffTimeChange();
    void sbBtExciteCntChange();
    void sbBtExciteDlyChange();
    void sbBtBatteryLVChange();

    // The serial number kept for reset and initial (set by btnGetSN).
    std::uint32_t storedSerial() const { return storedSerial_; }

private:
    friend class ReaderSession;
    void connectHandlers();
    void deleteTagRecord(std::uint32_t record);
    void showParameterPanel();

    TfrmModule& w_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::uint32_t storedSerial_ = 0;
    QString storedSerialText_;
};

} // namespace kelta
