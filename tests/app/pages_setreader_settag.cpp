// The "Set Reader" and "Set TAG" pages of the real window: every control the handlers address
// by name exists once, the ranges the handlers send are right, hidden things stay hidden, and
// the pages fit the common screen sizes without clipping or overlap.
#include "app/frmmodule.h"

#include <QApplication>
#include <QLayout>
#include <QScrollBar>
#include <QTabBar>
#include <gtest/gtest.h>
#include <memory>

namespace {

using kelta::TfrmModule;

const char* const kSetReaderNames[] = {"pnlSetReaderM",
                                       "pcSetReadMain",
                                       "tsComPort",
                                       "cbxCom",
                                       "cmbBaud",
                                       "cbxTxID_00",
                                       "edtTxID_00",
                                       "tsTcpServer",
                                       "edtTcpServerIP",
                                       "edtTcpServerPort",
                                       "cbxTxID_01",
                                       "edtTxID_01",
                                       "tsTcpClient",
                                       "edtLisPort",
                                       "edtTcpClientIP",
                                       "cbxTxID_02",
                                       "edtTxID_02",
                                       "tsUdpServer",
                                       "edtUdpDesIP",
                                       "edUDPDesPort",
                                       "edUDPLocPort",
                                       "pnlInfo",
                                       "pnReaderTypeName",
                                       "pnReaderSn",
                                       "pnReaderId",
                                       "pnReaderName",
                                       "pnReaderVer",
                                       "btnScanReader",
                                       "btnInitial",
                                       "btnReset",
                                       "btnID_GET",
                                       "btnID_SET",
                                       "edID",
                                       "btnGetVersion",
                                       "btnGetSN",
                                       "edSN",
                                       "pnMsg",
                                       "btnExit02",
                                       "edtSend",
                                       "edtRecv1",
                                       "edtRecv2",
                                       "pcSetRead",
                                       "ts_Aes128",
                                       "edAesKey",
                                       "cmbSelectKey",
                                       "btnR_AESKEY",
                                       "edCCKey",
                                       "btnR_AESKEY_GET",
                                       "ts_Adminstor",
                                       "cbAdmainKey1",
                                       "cbAdmainKey2",
                                       "cbAdmainKey3",
                                       "cbAdmainKey4",
                                       "cbAdmainKey5",
                                       "cbAdmainKey6",
                                       "cbAdmainKey7",
                                       "cbAdmainKey8",
                                       "btAdmainSelectkey",
                                       "btAdmainSelectkey_GET",
                                       "edAdmainPin",
                                       "ts_Guest",
                                       "cmbGuestSendmode",
                                       "btnGuestMode_SET",
                                       "btnGuestMode_GET",
                                       "sbGuestRssi",
                                       "pnGuestRssi",
                                       "btnGuestRssi_SET",
                                       "btnGuestRssi_GET",
                                       "cbGuestVer1",
                                       "cbGuestVer2",
                                       "cbGuestVer3",
                                       "btnGuestVer_SET",
                                       "btnGuestVer_GET",
                                       "gbox_ModulePort",
                                       "cmb_ModulePort01",
                                       "cmb_ModulePort02",
                                       "btnModulePort_GET",
                                       "btnModulePort_SET",
                                       "sbGainLevel",
                                       "pnlGainLevel",
                                       "butGainLevel_SET",
                                       "btnGainLevel_GET",
                                       "ts_DiDo",
                                       "ShapeDI1",
                                       "ShapeDI2",
                                       "ShapeDI3",
                                       "ShapeDI4",
                                       "BitBtn2",
                                       "cbxDO01",
                                       "cbxDO02",
                                       "btnSet_Relay",
                                       "btnGet_Relay",
                                       "ts_parameter",
                                       "btnParameters_Get",
                                       "btnParameters_Set",
                                       "Button1",
                                       "pnl_parameters",
                                       "cmbParameter_outputmode",
                                       "cmbParameter_logtype",
                                       "edtParameter_gpsperiod",
                                       "edtParameter_forcerecordtime",
                                       "edtParameter_tagexittimeout",
                                       "cmbParameter_logfiltermode",
                                       "cbxparameter_outputport01",
                                       "cbxparameter_outputport02",
                                       "cbxparameter_outputport03",
                                       "cbxparameter_outputport04",
                                       "cbxparameter_outputport05",
                                       "cbxparameter_outputport06",
                                       "cbxparameter_outputport07",
                                       "cbxparameter_recordmode01",
                                       "cbxparameter_recordmode02",
                                       "cbxparameter_recordmode03",
                                       "cbxAlivePacket",
                                       "edtheartbeattime",
                                       "cbxzigbeedataloss",
                                       "pnlparameters_TagDB",
                                       "edt_settagno",
                                       "edt_settaguid",
                                       "btn_settagdata",
                                       "edt_gettagno1",
                                       "edt_gettagno2",
                                       "btn_gettagdata",
                                       "edt_deltagno",
                                       "btn_deltagdata",
                                       "btn_delalltagdata",
                                       "mem_tagdatabase",
                                       "pnlparameters_TagLog",
                                       "ts_ZigBee",
                                       "edt_ZBGID",
                                       "btnGet_ZBGID",
                                       "btnSet_ZBGID",
                                       "cmbZibeeMODE",
                                       "btnGet_ZigbeeMODE",
                                       "btnSet_ZigbeeMODE",
                                       "ts_BtE",
                                       "cbxBtAutoPd",
                                       "cbxBtKeyPd",
                                       "sbPoweOffTime",
                                       "pnBtPowerOffTime",
                                       "cmbBTReaderMode",
                                       "sbBtExciteCnt",
                                       "pnBtExciteCnt",
                                       "sbBtExciteDly",
                                       "pnBtExciteDly",
                                       "btGetBtPowerMode",
                                       "btSetBtPowerMode",
                                       "edExciterID",
                                       "btExciterIDSet",
                                       "btGetBtBattery",
                                       "pnlBtBattery_NOWLV",
                                       "btnFactoryInit",
                                       "sbBtBatteryLV",
                                       "pnlBtBatteryLV",
                                       "ts_KR310E1",
                                       "sbExciterID",
                                       "pnExciterID",
                                       "sbExciterDelay",
                                       "pnExciterDelay",
                                       "chkExciterEn",
                                       "btnSetExciter",
                                       "pnlRelay",
                                       "cmbNet"};

const char* const kSetTagNames[] = {"Panel6",
                                    "pnlTagMsg",
                                    "gbVntag610Id",
                                    "cmbSelectIdmode",
                                    "edTagID",
                                    "btnExit03",
                                    "edRecv",
                                    "edSend",
                                    "pnlSetTagM",
                                    "pcSetTag",
                                    "tsAes128",
                                    "edKey",
                                    "cbKeyNo",
                                    "btSetKey",
                                    "edPinNo",
                                    "tsTagAdmain",
                                    "edTagAdmainUid1",
                                    "edTagAdmainUid2",
                                    "edTagAdmainUid3",
                                    "edTagAdmainUid4",
                                    "btTagAdmainUid",
                                    "cmbIdModeSet",
                                    "btIdModeSet",
                                    "cmbAesMode",
                                    "btAesModeSet",
                                    "cmbTagSelectKey",
                                    "btTagSelectKey",
                                    "edTagAdmainPin",
                                    "tsTagGuest",
                                    "sbTagGuestActiveMode",
                                    "edTagGuestActivMode",
                                    "btTagActivTimeV3_SET",
                                    "btTagActivTimeV3_GET",
                                    "sbTagGuestActiveCnt",
                                    "edTagGuestActivCnt",
                                    "btTagActivCountV3_SET",
                                    "btTagActivCountV3_GET",
                                    "sbTagGuestReceiveCnt",
                                    "edTagGuestReceiveCnt",
                                    "btTagReceiveCountV3_SET",
                                    "btTagReceiveCountV3_GET",
                                    "sbTagBeep",
                                    "edTagBeep",
                                    "btTagBeepV3_SET",
                                    "sbTagLedR",
                                    "edTagLedR",
                                    "btTagLedRV3_SET",
                                    "sbTagLedG",
                                    "edTagLedG",
                                    "btTagLedGV3_SET",
                                    "sbTag_GSensor00",
                                    "sbTag_GSensor01",
                                    "sbTag_GSensor02",
                                    "sbTag_GSensor03",
                                    "sbTag_GSensor04",
                                    "sbTag_GSensor05",
                                    "edTag_GSensor00",
                                    "edTag_GSensor01",
                                    "edTag_GSensor02",
                                    "edTag_GSensor03",
                                    "edTag_GSensor04",
                                    "edTag_GSensor05",
                                    "btnGSensor00_SET",
                                    "btnGSensor01_SET",
                                    "btnGSensor02_SET",
                                    "btnGSensor03_SET",
                                    "btnGSensor04_SET",
                                    "btnGSensor05_SET",
                                    "btnGSensor00_GET",
                                    "btnGSensor01_GET",
                                    "btnGSensor02_GET",
                                    "btnGSensor03_GET",
                                    "btnGSensor04_GET",
                                    "btnGSensor05_GET",
                                    "butTagVer_GET",
                                    "pnlTagVer_GET",
                                    "edTagGuestPin",
                                    "tsTagV1",
                                    "sbV1TagBeep",
                                    "edV1TagBeep",
                                    "btV1TagBeep",
                                    "sbV1TagLedR",
                                    "edV1TagLedR",
                                    "btV1TagLedR",
                                    "sbV1TagLedG",
                                    "edV1TagLedG",
                                    "btV1TagLedG",
                                    "sbV1TagActMode",
                                    "edV1TagActMode",
                                    "btV1TagActMode",
                                    "sbV1TagActCnt",
                                    "edV1TagActCnt",
                                    "btV1TagActCnt",
                                    "sbV1TagReceiver",
                                    "edV1TagReceiver",
                                    "btV1TagReceiver"};

class SetPages : public ::testing::Test {
protected:
    static void SetUpTestSuite() { window = new TfrmModule; }
    static void TearDownTestSuite() {
        delete window;
        window = nullptr;
    }

    static QWidget* find(const char* name) {
        return window->findChild<QWidget*>(QLatin1String(name));
    }

    // True when the widget or one of its parents up to its tab sheet is hidden on purpose
    // (tab sheets themselves are hidden by their page control whenever they are not active).
    static bool hiddenOnPurpose(const QWidget* w) {
        for (; w && !qobject_cast<const kelta::TabSheet*>(w); w = w->parentWidget())
            if (w->isHidden()) return true;
        return false;
    }

    static TfrmModule* window;
};

TfrmModule* SetPages::window = nullptr;

TEST_F(SetPages, EveryNamedControlExistsOnceOnItsPage) {
    const struct {
        kelta::TabSheet* page;
        const char* const* begin;
        const char* const* end;
    } pages[] = {{window->tsSetReader, std::begin(kSetReaderNames), std::end(kSetReaderNames)},
                 {window->tsSetTAG, std::begin(kSetTagNames), std::end(kSetTagNames)}};
    for (const auto& p : pages) {
        for (auto it = p.begin; it != p.end; ++it) {
            const auto found = window->findChildren<QWidget*>(QLatin1String(*it));
            ASSERT_EQ(found.size(), 1) << *it;
            EXPECT_TRUE(p.page->isAncestorOf(found.front())) << *it;
        }
    }
}

TEST_F(SetPages, ScrollBarsCarryTheRangesTheHandlersSend) {
    const struct {
        const char* name;
        int min, max, position;
    } bars[] = {
        {"sbGainLevel", 1, 13, 13},          {"sbPoweOffTime", 30, 7200, 30},
        {"sbExciterID", 1, 65535, 30},       {"sbExciterDelay", 10, 250, 30},
        {"sbBtBatteryLV", 0, 50, 20},        {"sbBtExciteCnt", 1, 30, 1},
        {"sbBtExciteDly", 0, 100, 0},        {"sbGuestRssi", 0, 255, 0},
        {"sbTagGuestActiveMode", 1, 20, 10}, {"sbTagGuestReceiveCnt", 0, 255, 10},
        {"sbTag_GSensor01", 1, 20, 8},       {"sbV1TagActMode", 1, 20, 10},
        {"sbV1TagReceiver", 1, 255, 10},
    };
    for (const auto& b : bars) {
        auto* sb = qobject_cast<QScrollBar*>(find(b.name));
        ASSERT_NE(sb, nullptr) << b.name;
        EXPECT_EQ(sb->orientation(), Qt::Horizontal) << b.name;
        EXPECT_EQ(sb->minimum(), b.min) << b.name;
        EXPECT_EQ(sb->maximum(), b.max) << b.name;
        EXPECT_EQ(sb->value(), b.position) << b.name;
    }
}

// The battery level panel starts as "20 %" (the bar then writes "%d%", without the blank).
TEST_F(SetPages, BatteryLevelPanelStartsAsTwentyPercent) {
    auto* panel = find("pnlBtBatteryLV");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->property("text").toString(), QStringLiteral("20 %"));
}

TEST_F(SetPages, HiddenFieldsAndTabsStayHidden) {
    EXPECT_FALSE(window->pcSetReadMain->isTabShown(window->tsUdpServer));
    for (kelta::TabSheet* ts : {window->tsComPort, window->tsTcpServer, window->tsTcpClient})
        EXPECT_TRUE(window->pcSetReadMain->isTabShown(ts));

    for (const char* name : {"edtSend",
                             "edtRecv1",
                             "edtRecv2",
                             "edRecv",
                             "edSend",
                             "edSN",
                             "btnGetVersion",
                             "btnGetSN",
                             "edCCKey",
                             "btnR_AESKEY_GET",
                             "edAdmainPin",
                             "edPinNo",
                             "edTagAdmainPin",
                             "edTagGuestPin",
                             "pnlRelay",
                             "cmbNet",
                             "pnlparameters_TagDB",
                             "mem_tagdatabase",
                             "btV1TagActModeGet",
                             "btV1TagActCntGet",
                             "btV1TagReceiverGet"}) {
        QWidget* w = find(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_TRUE(hiddenOnPurpose(w)) << name;
    }
    for (const char* name : {"btnScanReader", "pnMsg", "edtTxID_00", "pnl_parameters", "pnlTagMsg",
                             "edTagID", "btTagActivTimeV3_GET", "btV1TagActMode"})
        EXPECT_FALSE(hiddenOnPurpose(find(name))) << name;
}

TEST_F(SetPages, LinkChoiceMovesBetweenBothPagesAndBack) {
    QWidget* links = window->pcSetReadMain;
    ASSERT_NE(window->pnlSetTagM->layout(), nullptr);
    ASSERT_NE(window->pnlSetReaderM->layout(), nullptr);
    EXPECT_EQ(links->parentWidget(), window->pnlSetReaderM);

    window->pnlSetTagM->layout()->addWidget(links);
    EXPECT_EQ(links->parentWidget(), window->pnlSetTagM);
    EXPECT_TRUE(window->tsSetTAG->isAncestorOf(window->edtTxID_02));

    window->pnlSetReaderM->layout()->addWidget(links);
    EXPECT_EQ(links->parentWidget(), window->pnlSetReaderM);
    EXPECT_EQ(window->pnlSetTagM->layout()->count(), 0);
}

TEST_F(SetPages, ButtonsBoxesAndGroupsCarryCaptions) {
    for (kelta::TabSheet* page : {window->tsSetReader, window->tsSetTAG}) {
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (qobject_cast<QTabBar*>(w->parentWidget())) continue; // the tabs' scroll arrows
            if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QGroupBox*>(w) &&
                !qobject_cast<kelta::TabSheet*>(w))
                continue;
            EXPECT_TRUE(kelta::isCaptioned(w)) << w->objectName().toStdString();
            EXPECT_FALSE(kelta::captionOf(w).trimmed().isEmpty()) << w->objectName().toStdString();
        }
        for (QComboBox* box : page->findChildren<QComboBox*>()) {
            if (box->objectName() == QLatin1String("cbxCom")) continue; // filled at start
            EXPECT_GT(box->count(), 0) << box->objectName().toStdString();
            EXPECT_GE(box->currentIndex(), 0) << box->objectName().toStdString();
        }
    }
}

// Visible siblings inside `root` must not overlap, and each must lie inside its parent.
void expectNoOverlap(QWidget* root, const QString& where) {
    const QList<QWidget*> all = root->findChildren<QWidget*>();
    for (QWidget* parent : all + QList<QWidget*>{root}) {
        if (!parent->isVisible() || qobject_cast<QTabWidget*>(parent) ||
            qobject_cast<QTabBar*>(parent))
            continue;
        QList<QWidget*> kids;
        for (QObject* o : parent->children()) {
            auto* k = qobject_cast<QWidget*>(o);
            if (k && k->isVisible() && !k->isWindow()) kids << k;
        }
        for (int i = 0; i < kids.size(); ++i) {
            EXPECT_TRUE(parent->rect().contains(kids[i]->geometry()))
                << where.toStdString() << ": " << kids[i]->objectName().toStdString()
                << " sticks out of " << parent->objectName().toStdString();
            for (int j = i + 1; j < kids.size(); ++j)
                EXPECT_FALSE(kids[i]->geometry().intersects(kids[j]->geometry()))
                    << where.toStdString() << ": " << kids[i]->objectName().toStdString()
                    << " overlaps " << kids[j]->objectName().toStdString();
        }
    }
}

TEST_F(SetPages, PagesFitCommonScreensWithoutOverlap) {
    for (const QSize screen : {QSize(1366, 768), QSize(1920, 1080)}) {
        // Room left for the title bar, the page tabs and the bottom strip.
        const QSize room = screen - QSize(16, 110);
        for (kelta::TabSheet* page : {window->tsSetReader, window->tsSetTAG}) {
            const QSize need = page->minimumSizeHint();
            EXPECT_LE(need.width(), room.width()) << page->objectName().toStdString();
            EXPECT_LE(need.height(), room.height()) << page->objectName().toStdString();
        }
        window->showNormal();
        window->resize(screen - QSize(0, 40));
        struct {
            kelta::TabSheet* page;
            kelta::PageControl* pages;
        } views[] = {{window->tsSetReader, window->pcSetRead},
                     {window->tsSetTAG, window->pcSetTag}};
        for (const auto& v : views) {
            window->pcMain->setActivePage(v.page);
            for (int i = 0; i < v.pages->sheetCount(); ++i) {
                v.pages->setActivePage(v.pages->sheet(i));
                for (int pass = 0; pass < 3; ++pass) QApplication::processEvents();
                expectNoOverlap(v.page, QStringLiteral("%1 at %2x%3")
                                            .arg(v.pages->sheet(i)->objectName())
                                            .arg(screen.width())
                                            .arg(screen.height()));
            }
        }
    }
    window->hide();
}

} // namespace
