#pragma once
// Controls of the "Set Reader" page, named as the handlers use them.

#include "app/controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <initializer_list>

namespace kelta {

struct SetReaderControls {
    // Link choice; the page-show handlers move it between pnlSetReaderM and pnlSetTagM.
    Panel* pnlSetReaderM = nullptr;
    PageControl* pcSetReadMain = nullptr;
    TabSheet* tsComPort = nullptr;
    QComboBox* cbxCom = nullptr;
    QComboBox* cmbBaud = nullptr;
    QCheckBox* cbxTxID_00 = nullptr;
    QLineEdit* edtTxID_00 = nullptr;
    TabSheet* tsTcpServer = nullptr;
    QLineEdit* edtTcpServerIP = nullptr;
    QLineEdit* edtTcpServerPort = nullptr;
    QCheckBox* cbxTxID_01 = nullptr;
    QLineEdit* edtTxID_01 = nullptr;
    TabSheet* tsTcpClient = nullptr;
    QLineEdit* edtLisPort = nullptr;
    QLineEdit* edtTcpClientIP = nullptr;
    QCheckBox* cbxTxID_02 = nullptr;
    QLineEdit* edtTxID_02 = nullptr;
    TabSheet* tsUdpServer = nullptr;
    QLineEdit* edtUdpDesIP = nullptr;
    QLineEdit* edUDPDesPort = nullptr;
    QLineEdit* edUDPLocPort = nullptr;

    // Reader identity.
    Panel* pnlInfo = nullptr;
    Panel* pnReaderTypeName = nullptr;
    Panel* pnReaderSn = nullptr;
    Panel* pnReaderId = nullptr;
    Panel* pnReaderName = nullptr;
    Panel* pnReaderVer = nullptr;
    QPushButton* btnScanReader = nullptr;
    QPushButton* btnInitial = nullptr;
    QPushButton* btnReset = nullptr;
    QPushButton* btnID_GET = nullptr;
    QPushButton* btnID_SET = nullptr;
    QLineEdit* edID = nullptr;
    QPushButton* btnGetVersion = nullptr; // hidden
    QPushButton* btnGetSN = nullptr;      // hidden
    QLineEdit* edSN = nullptr;            // hidden
    Panel* pnMsg = nullptr;
    QPushButton* btnExit02 = nullptr;

    // Exchange trace (hidden).
    QLineEdit* edtSend = nullptr;
    QLineEdit* edtRecv1 = nullptr;
    QLineEdit* edtRecv2 = nullptr;

    // Settings pages.
    PageControl* pcSetRead = nullptr;

    TabSheet* ts_Aes128 = nullptr;
    QGroupBox* gbAesKey = nullptr;
    QLineEdit* edAesKey = nullptr;
    QComboBox* cmbSelectKey = nullptr;
    QPushButton* btnR_AESKEY = nullptr;
    QLineEdit* edCCKey = nullptr;           // hidden
    QPushButton* btnR_AESKEY_GET = nullptr; // hidden

    TabSheet* ts_Adminstor = nullptr;
    QGroupBox* gbAdmainKey = nullptr;
    QCheckBox* cbAdmainKey1 = nullptr;
    QCheckBox* cbAdmainKey2 = nullptr;
    QCheckBox* cbAdmainKey3 = nullptr;
    QCheckBox* cbAdmainKey4 = nullptr;
    QCheckBox* cbAdmainKey5 = nullptr;
    QCheckBox* cbAdmainKey6 = nullptr;
    QCheckBox* cbAdmainKey7 = nullptr;
    QCheckBox* cbAdmainKey8 = nullptr;
    QPushButton* btAdmainSelectkey = nullptr;
    QPushButton* btAdmainSelectkey_GET = nullptr;
    QLineEdit* edAdmainPin = nullptr; // hidden

    TabSheet* ts_Guest = nullptr;
    QGroupBox* gbGuestSendMode = nullptr;
    QComboBox* cmbGuestSendmode = nullptr;
    QPushButton* btnGuestMode_SET = nullptr;
    QPushButton* btnGuestMode_GET = nullptr;
    QGroupBox* gbGuestRssi = nullptr;
    QScrollBar* sbGuestRssi = nullptr;
    Panel* pnGuestRssi = nullptr;
    QPushButton* btnGuestRssi_SET = nullptr;
    QPushButton* btnGuestRssi_GET = nullptr;
    QGroupBox* gbGuestVer = nullptr;
    QCheckBox* cbGuestVer1 = nullptr;
    QCheckBox* cbGuestVer2 = nullptr;
    QCheckBox* cbGuestVer3 = nullptr;
    QPushButton* btnGuestVer_SET = nullptr;
    QPushButton* btnGuestVer_GET = nullptr;
    QGroupBox* gbox_ModulePort = nullptr;
    QComboBox* cmb_ModulePort01 = nullptr;
    QComboBox* cmb_ModulePort02 = nullptr;
    QPushButton* btnModulePort_GET = nullptr;
    QPushButton* btnModulePort_SET = nullptr;
    QGroupBox* gbGainLevel = nullptr;
    QScrollBar* sbGainLevel = nullptr;
    Panel* pnlGainLevel = nullptr;
    QPushButton* butGainLevel_SET = nullptr;
    QPushButton* btnGainLevel_GET = nullptr;

    TabSheet* ts_DiDo = nullptr;
    QGroupBox* gbDiState = nullptr;
    Shape* ShapeDI1 = nullptr;
    Shape* ShapeDI2 = nullptr;
    Shape* ShapeDI3 = nullptr;
    Shape* ShapeDI4 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QGroupBox* gbDoState = nullptr;
    QCheckBox* cbxDO01 = nullptr;
    QCheckBox* cbxDO02 = nullptr;
    QPushButton* btnSet_Relay = nullptr;
    QPushButton* btnGet_Relay = nullptr;

    TabSheet* ts_parameter = nullptr;
    QPushButton* btnParameters_Get = nullptr;
    QPushButton* btnParameters_Set = nullptr;
    QPushButton* Button1 = nullptr;
    Panel* pnl_parameters = nullptr;
    QComboBox* cmbParameter_outputmode = nullptr;
    QComboBox* cmbParameter_logtype = nullptr;
    QLineEdit* edtParameter_gpsperiod = nullptr;
    QLineEdit* edtParameter_forcerecordtime = nullptr;
    QLineEdit* edtParameter_tagexittimeout = nullptr;
    QComboBox* cmbParameter_logfiltermode = nullptr;
    QGroupBox* gbParameter_outputport = nullptr;
    QCheckBox* cbxparameter_outputport01 = nullptr;
    QCheckBox* cbxparameter_outputport02 = nullptr;
    QCheckBox* cbxparameter_outputport03 = nullptr;
    QCheckBox* cbxparameter_outputport04 = nullptr;
    QCheckBox* cbxparameter_outputport05 = nullptr;
    QCheckBox* cbxparameter_outputport06 = nullptr;
    QCheckBox* cbxparameter_outputport07 = nullptr;
    QGroupBox* gbParameter_recordmode = nullptr;
    QCheckBox* cbxparameter_recordmode01 = nullptr;
    QCheckBox* cbxparameter_recordmode02 = nullptr;
    QCheckBox* cbxparameter_recordmode03 = nullptr;
    QCheckBox* cbxAlivePacket = nullptr;
    QLineEdit* edtheartbeattime = nullptr;
    QCheckBox* cbxzigbeedataloss = nullptr;
    Panel* pnlparameters_TagDB = nullptr; // hidden until Button1
    QLineEdit* edt_settagno = nullptr;
    QLineEdit* edt_settaguid = nullptr;
    QPushButton* btn_settagdata = nullptr;
    QLineEdit* edt_gettagno1 = nullptr;
    QLineEdit* edt_gettagno2 = nullptr;
    QPushButton* btn_gettagdata = nullptr;
    QLineEdit* edt_deltagno = nullptr;
    QPushButton* btn_deltagdata = nullptr;
    QPushButton* btn_delalltagdata = nullptr;
    Memo* mem_tagdatabase = nullptr;
    Panel* pnlparameters_TagLog = nullptr; // hidden (no height)

    TabSheet* ts_ZigBee = nullptr;
    QGroupBox* gbZigbeeGroupId = nullptr;
    QLineEdit* edt_ZBGID = nullptr;
    QPushButton* btnGet_ZBGID = nullptr;
    QPushButton* btnSet_ZBGID = nullptr;
    QGroupBox* gbZigbeeMode = nullptr;
    QComboBox* cmbZibeeMODE = nullptr;
    QPushButton* btnGet_ZigbeeMODE = nullptr;
    QPushButton* btnSet_ZigbeeMODE = nullptr;

    TabSheet* ts_BtE = nullptr;
    QGroupBox* gbBtPowerMode = nullptr;
    QCheckBox* cbxBtAutoPd = nullptr;
    QCheckBox* cbxBtKeyPd = nullptr;
    QScrollBar* sbPoweOffTime = nullptr;
    Panel* pnBtPowerOffTime = nullptr;
    QGroupBox* gbBtReaderMode = nullptr;
    QComboBox* cmbBTReaderMode = nullptr;
    QScrollBar* sbBtExciteCnt = nullptr;
    Panel* pnBtExciteCnt = nullptr;
    QScrollBar* sbBtExciteDly = nullptr;
    Panel* pnBtExciteDly = nullptr;
    QPushButton* btGetBtPowerMode = nullptr;
    QPushButton* btSetBtPowerMode = nullptr;
    QGroupBox* gbBtExciterId = nullptr;
    QLineEdit* edExciterID = nullptr;
    QPushButton* btExciterIDSet = nullptr;
    QPushButton* btGetBtBattery = nullptr;
    Panel* pnlBtBattery_NOWLV = nullptr;
    QPushButton* btnFactoryInit = nullptr;
    QGroupBox* gbBtBattery = nullptr;
    QScrollBar* sbBtBatteryLV = nullptr;
    Panel* pnlBtBatteryLV = nullptr;

    TabSheet* ts_KR310E1 = nullptr;
    QGroupBox* gbExciter = nullptr;
    QScrollBar* sbExciterID = nullptr;
    Panel* pnExciterID = nullptr;
    QScrollBar* sbExciterDelay = nullptr;
    Panel* pnExciterDelay = nullptr;
    QCheckBox* chkExciterEn = nullptr;
    QPushButton* btnSetExciter = nullptr;

    // Settings of an older reader generation, never shown.
    Panel* pnlRelay = nullptr;
    QComboBox* cmbBaudRate = nullptr;
    QPushButton* btnSetBaudrate = nullptr;
    QComboBox* cmbAutoSend = nullptr;
    QPushButton* btnSetAutoSend = nullptr;
    QComboBox* cmbNet = nullptr;
    QPushButton* btnSetNetPort = nullptr;
    QScrollBar* sbRssiLevel = nullptr;
    Panel* pnRssiLevel = nullptr;
    QPushButton* btnSetRssiLevel = nullptr;
    QScrollBar* sbRelayTime = nullptr;
    Panel* pnRelayTime = nullptr;
    QPushButton* btnSetRelayTime = nullptr;
    QScrollBar* sbGain = nullptr;
    Panel* pnGain = nullptr;
    QPushButton* btnSetGain = nullptr;
};

// Creates the page's controls inside `page` and records them in `c`.
void buildSetReaderPage(SetReaderControls& c, TabSheet* page);

// Small factories shared by the page builders: each control gets its object name and its
// design-time caption, text, items or range.
namespace pagekit {

QPushButton* button(const char* name, const QString& caption);
QCheckBox* check(const char* name, const QString& caption);
QLineEdit* edit(const char* name, const QString& text, int maxLength = 0);
// A read-only edit that shows the value of the scroll bar beside it.
QLineEdit* valueEdit(const char* name, const QString& text);
QComboBox* combo(const char* name, const QStringList& items, int index = 0);
QScrollBar* scroll(const char* name, int min, int max, int position);
QLabel* label(const QString& caption, const char* name = nullptr);
Panel* panel(const char* name, const QString& caption = {});
// A framed panel showing a value, sized for a short text.
Panel* valuePanel(const char* name, const QString& caption);
QGroupBox* group(const char* name, const QString& title);
TabSheet* sheet(const char* name, const QString& caption);
// Hides every given widget; a hidden widget in a layout takes no room.
void hide(std::initializer_list<QWidget*> widgets);
// Grid layouts of the pages: a plain grid, a settings page's grid of groups, and the
// stretch that keeps a grid's contents at the top-left.
QGridLayout* gridOf(QWidget* parent);
QGridLayout* pageGrid(TabSheet* ts);
void closeGrid(QGridLayout* g, int rows, int cols);

} // namespace pagekit

} // namespace kelta
