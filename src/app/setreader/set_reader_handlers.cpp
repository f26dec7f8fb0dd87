#include "app/setreader/set_reader_handlers.h"

#include "app/frmmodule.h"

namespace kelta {

SetReaderHandlers::SetReaderHandlers(TfrmModule& window) : w_(window) {
    connectHandlers();
}

SetReaderHandlers::~SetReaderHandlers() {
    *alive_ = false;
}

void SetReaderHandlers::connectHandlers() {
    using H = SetReaderHandlers;
    const std::pair<QPushButton*, void (H::*)()> clicks[] = {
        {w_.btnScanReader, &H::btnScanReaderClick},
        {w_.btnReset, &H::btnResetClick},
        {w_.btnInitial, &H::btnInitialClick},
        {w_.btnID_GET, &H::btnID_GETClick},
        {w_.btnID_SET, &H::btnID_SETClick},
        {w_.btnGetSN, &H::btnGetSNClick},
        {w_.btnGetVersion, &H::btnGetVersionClick},
        {w_.btnGet_ZBGID, &H::btnGet_ZBGIDClick},
        {w_.btnSet_ZBGID, &H::btnSet_ZBGIDClick},
        {w_.btnGet_ZigbeeMODE, &H::btnGet_ZigbeeMODEClick},
        {w_.btnSet_ZigbeeMODE, &H::btnSet_ZigbeeMODEClick},
        {w_.btnSet_Relay, &H::btnSet_RelayClick},
        {w_.btnGet_Relay, &H::btnGet_RelayClick},
        {w_.BitBtn2, &H::BitBtn2Click},
        {w_.btnR_AESKEY, &H::btnR_AESKEYClick},
        {w_.btnR_AESKEY_GET, &H::btnR_AESKEY_GETClick},
        {w_.btAdmainSelectkey, &H::btAdmainSelectkeyClick},
        {w_.btAdmainSelectkey_GET, &H::btAdmainSelectkey_GETClick},
        {w_.btnGuestMode_SET, &H::btnGuestMode_SETClick},
        {w_.btnGuestMode_GET, &H::btnGuestMode_GETClick},
        {w_.btnGuestRssi_SET, &H::btnGuestRssi_SETClick},
        {w_.btnGuestRssi_GET, &H::btnGuestRssi_GETClick},
        {w_.btnGuestVer_SET, &H::btnGuestVer_SETClick},
        {w_.btnGuestVer_GET, &H::btnGuestVer_GETClick},
        {w_.butGainLevel_SET, &H::butGainLevel_SETClick},
        {w_.btnGainLevel_GET, &H::btnGainLevel_GETClick},
        {w_.btnModulePort_GET, &H::btnModulePort_GETClick},
        {w_.btnModulePort_SET, &H::btnModulePort_SETClick},
        {w_.btnParameters_Get, &H::btnParameters_GetClick},
        {w_.btnParameters_Set, &H::btnParameters_SetClick},
        {w_.Button1, &H::Button1Click},
        {w_.btn_settagdata, &H::btn_settagdataClick},
        {w_.btn_gettagdata, &H::btn_gettagdataClick},
        {w_.btn_deltagdata, &H::btn_deltagdataClick},
        {w_.btn_delalltagdata, &H::btn_delalltagdataClick},
        {w_.btGetBtBattery, &H::btGetBtBatteryClick},
        {w_.btGetBtPowerMode, &H::btGetBtPowerModeClick},
        {w_.btSetBtPowerMode, &H::btSetBtPowerModeClick},
        {w_.btExciterIDSet, &H::btExciterIDSetClick},
        {w_.btnFactoryInit, &H::btnFactoryInitClick},
    };
    for (const auto& [button, handler] : clicks)
        connect(button, &QPushButton::clicked, this, [this, h = handler] { (this->*h)(); });

    const std::pair<QScrollBar*, void (H::*)()> changes[] = {
        {w_.sbGuestRssi, &H::sbGuestRssiChange},     {w_.sbGainLevel, &H::sbGainLevelChange},
        {w_.sbPoweOffTime, &H::sbPoweOffTimeChange}, {w_.sbBtExciteCnt, &H::sbBtExciteCntChange},
        {w_.sbBtExciteDly, &H::sbBtExciteDlyChange}, {w_.sbBtBatteryLV, &H::sbBtBatteryLVChange},
    };
    for (const auto& [bar, handler] : changes)
        connect(bar, &QScrollBar::valueChanged, this, [this, h = handler] { (this->*h)(); });

    connect(w_.ts_parameter, &TabSheet::shown, this, [this] { ts_parameterShow(); });
}

} // namespace kelta
