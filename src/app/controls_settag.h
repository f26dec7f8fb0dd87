#pragma once
// Controls of the "Set TAG" page, named as the handlers use them.

#include "app/controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace kelta {

struct SetTagControls {
    // Target strip.
    Panel* Panel6 = nullptr;
    Panel* pnlTagMsg = nullptr;
    QGroupBox* gbVntag610Id = nullptr;
    QComboBox* cmbSelectIdmode = nullptr;
    QLineEdit* edTagID = nullptr;
    QPushButton* btnExit03 = nullptr;
    QLineEdit* edRecv = nullptr; // hidden
    QLineEdit* edSend = nullptr; // hidden
    // Holder of the link choice while this page is shown.
    Panel* pnlSetTagM = nullptr;

    PageControl* pcSetTag = nullptr;

    TabSheet* tsAes128 = nullptr;
    QGroupBox* gbTagAesKey = nullptr;
    QLineEdit* edKey = nullptr;
    QComboBox* cbKeyNo = nullptr;
    QPushButton* btSetKey = nullptr;
    QLineEdit* edPinNo = nullptr; // hidden

    TabSheet* tsTagAdmain = nullptr;
    QGroupBox* gbTagAdmainCid = nullptr;
    QLineEdit* edTagAdmainUid1 = nullptr;
    QLineEdit* edTagAdmainUid2 = nullptr;
    QLineEdit* edTagAdmainUid3 = nullptr;
    QLineEdit* edTagAdmainUid4 = nullptr;
    QPushButton* btTagAdmainUid = nullptr;
    QGroupBox* gbTagAdmainIdMode = nullptr;
    QComboBox* cmbIdModeSet = nullptr;
    QPushButton* btIdModeSet = nullptr;
    QGroupBox* gbTagAdmainAes = nullptr;
    QComboBox* cmbAesMode = nullptr;
    QPushButton* btAesModeSet = nullptr;
    QGroupBox* gbTagAdmainKey = nullptr;
    QComboBox* cmbTagSelectKey = nullptr;
    QPushButton* btTagSelectKey = nullptr;
    QLineEdit* edTagAdmainPin = nullptr; // hidden

    TabSheet* tsTagGuest = nullptr;
    QGroupBox* gbTagGuestActive = nullptr;
    QScrollBar* sbTagGuestActiveMode = nullptr;
    QLineEdit* edTagGuestActivMode = nullptr;
    QPushButton* btTagActivTimeV3_SET = nullptr;
    QPushButton* btTagActivTimeV3_GET = nullptr;
    QScrollBar* sbTagGuestActiveCnt = nullptr;
    QLineEdit* edTagGuestActivCnt = nullptr;
    QPushButton* btTagActivCountV3_SET = nullptr;
    QPushButton* btTagActivCountV3_GET = nullptr;
    QScrollBar* sbTagGuestReceiveCnt = nullptr;
    QLineEdit* edTagGuestReceiveCnt = nullptr;
    QPushButton* btTagReceiveCountV3_SET = nullptr;
    QPushButton* btTagReceiveCountV3_GET = nullptr;
    QGroupBox* gbTagBeepLed = nullptr;
    QScrollBar* sbTagBeep = nullptr;
    QLineEdit* edTagBeep = nullptr;
    QPushButton* btTagBeepV3_SET = nullptr;
    QPushButton* btTagBeepV3_GET = nullptr; // hidden
    QScrollBar* sbTagLedR = nullptr;
    QLineEdit* edTagLedR = nullptr;
    QPushButton* btTagLedRV3_SET = nullptr;
    QPushButton* btTagLedRV3_GET = nullptr; // hidden
    QScrollBar* sbTagLedG = nullptr;
    QLineEdit* edTagLedG = nullptr;
    QPushButton* btTagLedGV3_SET = nullptr;
    QPushButton* btTagLedGV3_GET = nullptr; // hidden
    QGroupBox* gbTagGSensor = nullptr;
    QScrollBar* sbTag_GSensor00 = nullptr;
    QScrollBar* sbTag_GSensor01 = nullptr;
    QScrollBar* sbTag_GSensor02 = nullptr;
    QScrollBar* sbTag_GSensor03 = nullptr;
    QScrollBar* sbTag_GSensor04 = nullptr;
    QScrollBar* sbTag_GSensor05 = nullptr;
    QLineEdit* edTag_GSensor00 = nullptr;
    QLineEdit* edTag_GSensor01 = nullptr;
    QLineEdit* edTag_GSensor02 = nullptr;
    QLineEdit* edTag_GSensor03 = nullptr;
    QLineEdit* edTag_GSensor04 = nullptr;
    QLineEdit* edTag_GSensor05 = nullptr;
    QPushButton* btnGSensor00_SET = nullptr;
    QPushButton* btnGSensor01_SET = nullptr;
    QPushButton* btnGSensor02_SET = nullptr;
    QPushButton* btnGSensor03_SET = nullptr;
    QPushButton* btnGSensor04_SET = nullptr;
    QPushButton* btnGSensor05_SET = nullptr;
    QPushButton* btnGSensor00_GET = nullptr;
    QPushButton* btnGSensor01_GET = nullptr;
    QPushButton* btnGSensor02_GET = nullptr;
    QPushButton* btnGSensor03_GET = nullptr;
    QPushButton* btnGSensor04_GET = nullptr;
    QPushButton* btnGSensor05_GET = nullptr;
    QPushButton* butTagVer_GET = nullptr;
    Panel* pnlTagVer_GET = nullptr;
    QLineEdit* edTagGuestPin = nullptr; // hidden

    TabSheet* tsTagV1 = nullptr;
    QGroupBox* gbV1BeepLed = nullptr;
    QScrollBar* sbV1TagBeep = nullptr;
    QLineEdit* edV1TagBeep = nullptr;
    QPushButton* btV1TagBeep = nullptr;
    QScrollBar* sbV1TagLedR = nullptr;
    QLineEdit* edV1TagLedR = nullptr;
    QPushButton* btV1TagLedR = nullptr;
    QScrollBar* sbV1TagLedG = nullptr;
    QLineEdit* edV1TagLedG = nullptr;
    QPushButton* btV1TagLedG = nullptr;
    QGroupBox* gbV1Active = nullptr;
    QScrollBar* sbV1TagActMode = nullptr;
    QLineEdit* edV1TagActMode = nullptr;
    QPushButton* btV1TagActMode = nullptr;
    QPushButton* btV1TagActModeGet = nullptr; // hidden
    QScrollBar* sbV1TagActCnt = nullptr;
    QLineEdit* edV1TagActCnt = nullptr;
    QPushButton* btV1TagActCnt = nullptr;
    QPushButton* btV1TagActCntGet = nullptr; // hidden
    QScrollBar* sbV1TagReceiver = nullptr;
    QLineEdit* edV1TagReceiver = nullptr;
    QPushButton* btV1TagReceiver = nullptr;
    QPushButton* btV1TagReceiverGet = nullptr; // hidden
};

// Creates the page's controls inside `page` and records them in `c`.
void buildSetTagPage(SetTagControls& c, TabSheet* page);

} // namespace kelta
