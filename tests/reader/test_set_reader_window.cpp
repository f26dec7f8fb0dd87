// The "Set Reader" page of the real window against a stateful simulated reader, over a
// pseudo-terminal and loopback TCP: what each button sends, what the controls show after it,
// and that a write followed by its read returns the value written.

#include "app/frmmodule.h"
#include "app/setreader/set_reader_handlers.h"
#include "platform/wait_pump.h"
#include "reader-sim/sim_host.h"
#include "reader-sim/sim_reader_state.h"
#include "reader/reader_link.h"
#include "support/progress_watch.h"
#include "support/test_env.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

using namespace kelta;

namespace {

enum class Line { Pty, Tcp };

class SetReaderWindow : public ::testing::TestWithParam<Line> {
protected:
    void SetUp() override {
        kelta::test::setTimeScale(0.05);
        setProgramClosing(false);
        window = std::make_unique<TfrmModule>();
        window->pcMain->setActivePage(window->tsSetReader);
        reader = host.addReader();
        installState({});
        if (GetParam() == Line::Pty) {
            ASSERT_TRUE(host.openPty(reader, 9));
            window->pcSetReadMain->setActivePage(window->tsComPort);
            window->cbxCom->addItem(QStringLiteral("COM9"));
            window->cbxCom->setCurrentText(QStringLiteral("COM9"));
        } else {
            const quint16 port = host.listenTcp(reader);
            ASSERT_NE(port, 0);
            window->pcSetReadMain->setActivePage(window->tsTcpServer);
            window->edtTcpServerIP->setText(QStringLiteral("127.0.0.1"));
            window->edtTcpServerPort->setText(QString::number(port));
        }
    }
    void TearDown() override {
        if (window && window->readerLink) window->readerLink->CloseLinks();
        window.reset();
        host.stop();
        setProgramClosing(false);
        kelta::test::setTimeScale(1.0);
    }
    void installState(sim::ReaderIdentityConfig id) {
        state = std::make_unique<sim::SimReaderState>(id);
        host.call(reader, [this](sim::ReaderSim& r) { state->install(r); });
    }
    // Runs fn with the store on the reader's thread.
    void onReader(const std::function<void(sim::SimReaderState&)>& fn) {
        host.call(reader, [&](sim::ReaderSim&) { fn(*state); });
    }
    std::vector<sim::ReceivedFrame> requests(std::uint16_t code) {
        std::vector<sim::ReceivedFrame> out;
        for (auto& f : host.reader(reader).received())
            if (f.code == code && f.hasCrc) out.push_back(f);
        return out;
    }
    void clear() { host.reader(reader).clearReceived(); }
    QString msg() const { return window->pnMsg->text(); }
    void scan() {
        window->btnScanReader->click();
        ASSERT_EQ(tagOf(window->btnScanReader), 1) << msg().toStdString();
    }

    sim::SimHost host;
    int reader = 0;
    std::unique_ptr<sim::SimReaderState> state;
    std::unique_ptr<TfrmModule> window;
};

sim::Bytes hex(const char* text) {
    const QByteArray b = QByteArray::fromHex(text);
    return sim::Bytes(b.begin(), b.end());
}

// A settings-block write: the bytes given, zero up to its 32 bytes.
sim::Bytes block(const char* text) {
    sim::Bytes b = hex(text);
    b.resize(32, 0);
    return b;
}

const QString kOk = QStringLiteral("Command Ok.");
const QString kError = QStringLiteral("Command Error.");

} // namespace

TEST_P(SetReaderWindow, ReaderInformationIdentifiesTheReader) {
    QElapsedTimer t;
    t.start();
    scan();
    std::printf("[ timing   ] Reader Information end to end: %lld ms (fixed pauses: 3 exchanges "
                "x 100 ms, 200 ms closing)\n",
                static_cast<long long>(t.elapsed()));
    TfrmModule& w = *window;
    EXPECT_EQ(w.pnReaderTypeName->text(), QStringLiteral("LR900-A"));
    EXPECT_EQ(w.pnReaderSn->text(), QStringLiteral("00123456"));
    EXPECT_EQ(w.pnReaderName->text(), QStringLiteral("LR900-SIM"));
    EXPECT_EQ(w.pnReaderVer->text(), QStringLiteral("0114"));
    EXPECT_EQ(w.pnReaderId->text(), QStringLiteral("0001"));
    EXPECT_EQ(w.edtTxID_02->text(), QStringLiteral("0001"));
    EXPECT_EQ(msg(), kOk);
    EXPECT_TRUE(w.pcSetRead->isEnabled());
    EXPECT_TRUE(w.btnGuestRssi_SET->isEnabled());
    EXPECT_TRUE(w.gbox_ModulePort->isVisibleTo(&w));
    for (TabSheet* t :
         {w.ts_Aes128, w.ts_Adminstor, w.ts_Guest, w.ts_ZigBee, w.ts_DiDo, w.ts_parameter})
        EXPECT_TRUE(w.pcSetRead->isTabShown(t)) << t->objectName().toStdString();
    EXPECT_FALSE(w.pcSetRead->isTabShown(w.ts_BtE));
    EXPECT_EQ(w.pcSetRead->activePage(), w.ts_Guest);
    // The LR900 family gets the clock.
    const auto clock = requests(0x8001);
    ASSERT_EQ(clock.size(), 1u);
    EXPECT_EQ(clock[0].data.size(), 8u);
}

TEST_P(SetReaderWindow, ModelTableDecidesPagesAndClock) {
    struct Case {
        std::uint16_t model;
        const char* name;
        TabSheet* TfrmModule::*active;
        bool clock;
    } cases[] = {{0x8472, "PD10-B", &TfrmModule::ts_Guest, false},
                 {0x8441, "VNKDBT-E1", &TfrmModule::ts_BtE, false},
                 {0x8462, "PD10-A", &TfrmModule::ts_ZigBee, false},
                 {0x840F, "LR900-ABG", &TfrmModule::ts_Guest, true}};
    for (const Case& c : cases) {
        onReader([&](sim::SimReaderState& s) { s.setModel(c.model); });
        clear();
        scan();
        EXPECT_EQ(window->pnReaderTypeName->text(), QLatin1String(c.name));
        EXPECT_EQ(window->pcSetRead->activePage(), window.get()->*c.active) << c.name;
        EXPECT_EQ(requests(0x8001).size(), c.clock ? 1u : 0u) << c.name;
        // The BT exciter model has its settings read at once.
        EXPECT_EQ(requests(0x6031).size(), c.model == 0x8441 ? 1u : 0u) << c.name;
    }
    // A code the table does not know: only the guest page, nothing unlocked, the code named.
    onReader([](sim::SimReaderState& s) { s.setModel(0x1234); });
    window->btnScanReader->click();
    EXPECT_EQ(tagOf(window->btnScanReader), 0);
    EXPECT_EQ(msg(), QStringLiteral("Unknown reader model 0x1234"));
    EXPECT_TRUE(window->pnReaderTypeName->text().isEmpty());
    EXPECT_FALSE(window->pcSetRead->isEnabled());
    EXPECT_FALSE(window->btnID_GET->isEnabled());
    EXPECT_FALSE(window->pcSetRead->isTabShown(window->ts_Aes128));
}

// Each row: set the controls, press the write button, check the request; disturb the
// controls, press the read button, check the controls show the value written again.
TEST_P(SetReaderWindow, EveryWriteIsReadBack) {
    scan();
    TfrmModule& w = *window;
    struct Case {
        const char* what;
        std::function<void()> set;
        QPushButton* TfrmModule::*write;
        std::uint16_t code;
        const char* payload; // of the (last) write request
        std::function<void()> disturb;
        QPushButton* TfrmModule::*read;
        std::function<bool()> check;
    };
    const Case cases[] = {
        {"reader ID", [&] { w.edSN->setText("00123456"), w.edID->setText("0012"); },
         &TfrmModule::btnID_SET, 0x0002, "00123456000C0000", [&] { w.edID->setText("0000"); },
         &TfrmModule::btnID_GET, [&] { return w.edID->text() == "0012"; }},
        {"ZigBee group", [&] { w.edt_ZBGID->setText("4660"); }, &TfrmModule::btnSet_ZBGID, 0x6051,
         "1234000000000000", [&] { w.edt_ZBGID->setText("1"); }, &TfrmModule::btnGet_ZBGID,
         [&] { return w.edt_ZBGID->text() == "4660"; }},
        {"ZigBee mode", [&] { w.cmbZibeeMODE->setCurrentIndex(1); }, &TfrmModule::btnSet_ZigbeeMODE,
         0x6050, "0100000000000000", [] {}, &TfrmModule::btnGet_ZigbeeMODE,
         [&] { return w.cmbZibeeMODE->currentIndex() == 1; }},
        {"relays", [&] { w.cbxDO01->setChecked(false), w.cbxDO02->setChecked(true); },
         &TfrmModule::btnSet_Relay, 0x6012, "3131000000000000",
         [&] { w.cbxDO02->setChecked(false), w.cbxDO01->setChecked(true); },
         &TfrmModule::btnGet_Relay,
         [&] { return !w.cbxDO01->isChecked() && w.cbxDO02->isChecked(); }},
        {"AES key",
         [&] {
             w.cmbSelectKey->setCurrentIndex(2);
             w.edAesKey->setText("00112233445566778899AABBCCDDEEFF");
         },
         &TfrmModule::btnR_AESKEY, 0x6030,
         "FFFC030F017D41A09C3E5B2F8600112233445566778899AABBCCDDEEFF000000",
         [&] { w.edAesKey->clear(); }, &TfrmModule::btnR_AESKEY_GET,
         [&] { return w.edAesKey->text() == "00112233445566778899AABBCCDDEEFF"; }},
        {"admin keys", [&] { w.cbAdmainKey1->setChecked(false), w.cbAdmainKey8->setChecked(true); },
         &TfrmModule::btAdmainSelectkey, 0x6030,
         "FFFE0200017D41A09C3E5B2F8680000000000000000000000000000000000000",
         [&] { w.cbAdmainKey8->setChecked(false); }, &TfrmModule::btAdmainSelectkey_GET,
         [&] { return w.cbAdmainKey8->isChecked() && !w.cbAdmainKey1->isChecked(); }},
        {"send mode", [&] { w.cmbGuestSendmode->setCurrentIndex(0); },
         &TfrmModule::btnGuestMode_SET, 0x6030,
         "FFFF0100010000000000000000"
         "34",
         [&] { w.cmbGuestSendmode->setCurrentIndex(1); }, &TfrmModule::btnGuestMode_GET,
         [&] { return w.cmbGuestSendmode->currentIndex() == 0; }},
        {"RSSI", [&] { w.sbGuestRssi->setValue(200); }, &TfrmModule::btnGuestRssi_SET, 0x6030,
         "FFFF0111010000000000000000"
         "00C8"
         "",
         [&] { w.sbGuestRssi->setValue(3); }, &TfrmModule::btnGuestRssi_GET,
         [&] { return w.sbGuestRssi->value() == 200 && w.pnGuestRssi->text() == "200"; }},
        {"versions",
         [&] {
             w.cbGuestVer1->setChecked(false), w.cbGuestVer2->setChecked(true),
                 w.cbGuestVer3->setChecked(false);
         },
         &TfrmModule::btnGuestVer_SET, 0x6030,
         "FFFF0122010000000000000000"
         "000002"
         "",
         [&] { w.cbGuestVer1->setChecked(true); }, &TfrmModule::btnGuestVer_GET,
         [&] {
             return !w.cbGuestVer1->isChecked() && w.cbGuestVer2->isChecked() &&
                    !w.cbGuestVer3->isChecked();
         }},
        {"gain", [&] { w.sbGainLevel->setValue(4); }, &TfrmModule::butGainLevel_SET, 0x6030,
         "FFFD03BB014741494E424C4B31"
         "0000000000000000000000"
         "58"
         "00000000000000",
         [&] { w.sbGainLevel->setValue(13); }, &TfrmModule::btnGainLevel_GET,
         [&] { return w.sbGainLevel->value() == 4 && w.pnlGainLevel->text() == "4"; }},
        {"module ports",
         [&] { w.cmb_ModulePort01->setCurrentIndex(3), w.cmb_ModulePort02->setCurrentIndex(2); },
         &TfrmModule::btnModulePort_SET, 0x6020, "0302000000000000",
         [&] { w.cmb_ModulePort01->setCurrentIndex(1); }, &TfrmModule::btnModulePort_GET,
         [&] {
             return w.cmb_ModulePort01->currentIndex() == 3 &&
                    w.cmb_ModulePort02->currentIndex() == 2;
         }},
        {"parameters",
         [&] {
             w.cmbParameter_outputmode->setCurrentIndex(2);
             w.cbxAlivePacket->setChecked(true);
             w.edtheartbeattime->setText("300");
             w.edtParameter_tagexittimeout->setText("77");
             w.cmbParameter_logfiltermode->setCurrentIndex(1);
         },
         &TfrmModule::btnParameters_Set, 0x601D, "0100000000000000",
         [&] { w.edtParameter_tagexittimeout->setText("1"), w.edtheartbeattime->setText("9"); },
         &TfrmModule::btnParameters_Get,
         [&] {
             return w.edtParameter_tagexittimeout->text() == "77" &&
                    w.edtheartbeattime->text() == "300" && w.cbxAlivePacket->isChecked() &&
                    w.cmbParameter_outputmode->currentIndex() == 2 &&
                    w.cmbParameter_logfiltermode->currentIndex() == 1;
         }},
    };
    for (const Case& c : cases) {
        c.set();
        clear();
        (w.*c.write)->click();
        EXPECT_NE(msg(), kError) << c.what;
        const auto sent = requests(c.code);
        ASSERT_FALSE(sent.empty()) << c.what;
        EXPECT_EQ(sent.back().data, c.code == 0x6030 ? block(c.payload) : hex(c.payload)) << c.what;
        c.disturb();
        (w.*c.read)->click();
        EXPECT_TRUE(c.check()) << c.what << ": " << msg().toStdString();
        EXPECT_TRUE(w.pnlMain->isEnabled()) << c.what;
    }
    // Digital inputs come from the reader: 1010 shows white, yellow, white, yellow.
    w.BitBtn2->click();
    EXPECT_EQ(w.ShapeDI1->brushColor(), QColor(Qt::white));
    EXPECT_EQ(w.ShapeDI2->brushColor(), QColor(Qt::yellow));
}

// An answer value outside a list leaves the list with no selection (as an item index out of
// range does), not with the choice it had before.
TEST_P(SetReaderWindow, ParameterValuesOutsideTheListsLeaveNoSelection) {
    scan();
    TfrmModule& w = *window;
    for (QComboBox* list :
         {w.cmbParameter_outputmode, w.cmbParameter_logtype, w.cmbParameter_logfiltermode}) {
        ASSERT_GT(list->count(), 1) << list->objectName().toStdString();
        list->setCurrentIndex(1);
    }
    onReader([](sim::SimReaderState& s) {
        s.settings().parameters[0x601A] = {0x40, 0x00, 0x41, 0x03, 0x00, 0x00, 0x3C, 0x00};
        s.settings().parameters[0x601D] = {0x42, 0, 0, 0, 0, 0, 0, 0};
    });
    w.btnParameters_Get->click();
    EXPECT_NE(msg(), kError);
    EXPECT_EQ(w.cmbParameter_outputmode->currentIndex(), -1);
    EXPECT_EQ(w.cmbParameter_logtype->currentIndex(), -1);
    EXPECT_EQ(w.cmbParameter_logfiltermode->currentIndex(), -1);
    // Values inside the lists select their items again.
    onReader([](sim::SimReaderState& s) {
        s.settings().parameters[0x601A] = {0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x3C, 0x00};
        s.settings().parameters[0x601D] = {0x01, 0, 0, 0, 0, 0, 0, 0};
    });
    w.btnParameters_Get->click();
    EXPECT_EQ(w.cmbParameter_outputmode->currentIndex(), 1);
    EXPECT_EQ(w.cmbParameter_logtype->currentIndex(), 0);
    EXPECT_EQ(w.cmbParameter_logfiltermode->currentIndex(), 1);
}

TEST_P(SetReaderWindow, BtExciterSettingsRoundTrip) {
    onReader([](sim::SimReaderState& s) { s.setModel(0x8441); });
    scan();
    TfrmModule& w = *window;
    EXPECT_EQ(tagOf(w.btExciterIDSet), 1);
    w.edExciterID->setText("1A2B");
    w.sbPoweOffTime->setValue(7200);
    w.cbxBtKeyPd->setChecked(true);
    w.cmbBTReaderMode->setCurrentIndex(2);
    w.sbBtExciteCnt->setValue(30);
    w.sbBtExciteDly->setValue(100);
    w.sbBtBatteryLV->setValue(3);
    clear();
    w.btSetBtPowerMode->click();
    EXPECT_EQ(msg(), kOk);
    EXPECT_EQ(w.sbBtBatteryLV->value(), 5); // snapped
    ASSERT_EQ(requests(0x6030).size(), 1u);
    EXPECT_EQ(requests(0x6030)[0].data, block("FFFE03080100000000000000001A2B1C2002031E640A"));
    w.edExciterID->setText("0000");
    w.sbPoweOffTime->setValue(30);
    w.btGetBtPowerMode->click();
    EXPECT_EQ(w.edExciterID->text(), QStringLiteral("1a2b"));
    EXPECT_EQ(w.sbPoweOffTime->value(), 7200);
    EXPECT_EQ(w.pnBtPowerOffTime->text(), QStringLiteral("7200 Sec"));
    EXPECT_TRUE(w.cbxBtKeyPd->isChecked());
    EXPECT_EQ(w.cmbBTReaderMode->currentIndex(), 2);
    EXPECT_EQ(w.sbBtBatteryLV->value(), 5);
    EXPECT_EQ(w.pnlBtBatteryLV->text(), QStringLiteral("5%"));
    w.btGetBtBattery->click();
    EXPECT_EQ(w.pnlBtBattery_NOWLV->text(), QStringLiteral("80%"));
    // Parameter initial: an empty answer is Ok, and the reader is back at its defaults.
    w.btnFactoryInit->click();
    EXPECT_EQ(msg(), kOk);
    onReader([](sim::SimReaderState& s) { EXPECT_EQ(s.settings().initials, 1); });
}

TEST_P(SetReaderWindow, TagDatabaseReadsInBlocksAndStopsAfterTwoEmptyAnswers) {
    sim::ReaderIdentityConfig id;
    id.tagDbSize = 35;
    installState(id);
    scan();
    TfrmModule& w = *window;
    w.Button1->click();
    w.edt_settagno->setText("15");
    w.edt_settaguid->setText("0001000112345678");
    w.btn_settagdata->click();
    ASSERT_EQ(requests(0x8051).size(), 1u);
    EXPECT_EQ(requests(0x8051)[0].data, hex("0000000F010000007856341201000100"));

    w.edt_gettagno1->setText("1");
    w.edt_gettagno2->setText("500");
    clear();
    QElapsedTimer t;
    t.start();
    w.btn_gettagdata->click();
    std::printf("[ timing   ] tag database 1-500, 4 full blocks + 2 empty: %lld ms (fixed pauses: "
                "6 x 100 ms)\n",
                static_cast<long long>(t.elapsed()));
    EXPECT_EQ(requests(0x8052).size(), 6u); // blocks 1-4 answered, 5 and 6 empty: stop
    // The reader answers whole blocks: block 4 lists records 31-40.
    EXPECT_EQ(w.mem_tagdatabase->lineCount(), 40);
    EXPECT_EQ(w.mem_tagdatabase->lines().value(14), QStringLiteral("[0015] 0001000112345678"));
    EXPECT_EQ(w.mem_tagdatabase->lines().value(0), QStringLiteral("[0001]"));

    w.edt_gettagno1->setText("15");
    w.edt_gettagno2->setText("15");
    clear();
    w.btn_gettagdata->click();
    ASSERT_EQ(requests(0x8052).size(), 1u);
    EXPECT_EQ(requests(0x8052)[0].data, hex("0000000B0A000000"));
    EXPECT_EQ(w.mem_tagdatabase->lines(), QStringList{QStringLiteral("[0015] 0001000112345678")});

    w.edt_deltagno->setText("15");
    w.btn_deltagdata->click();
    w.btn_gettagdata->click();
    EXPECT_EQ(w.mem_tagdatabase->lines(), QStringList{QStringLiteral("[0015]")});
    w.btn_delalltagdata->click();
    EXPECT_EQ(requests(0x8053).back().data, hex("000000000100AA55"));
}

TEST_P(SetReaderWindow, FullTagDatabaseReadTiming) {
    scan();
    window->Button1->click();
    clear();
    QElapsedTimer t;
    t.start();
    window->btn_gettagdata->click();
    std::printf("[ timing   ] tag database 1-500, 50 blocks: %lld ms (fixed pauses: 50 x 100 ms)\n",
                static_cast<long long>(t.elapsed()));
    EXPECT_EQ(requests(0x8052).size(), 50u);
    EXPECT_EQ(window->mem_tagdatabase->lineCount(), 500);
}

TEST_P(SetReaderWindow, KeysAndFaultsAreReported) {
    scan();
    TfrmModule& w = *window;
    // A wrong access key: the reader answers short, nothing changes.
    w.edCCKey->setText("0000000000000000");
    w.edAesKey->setText("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
    w.btnR_AESKEY->click();
    EXPECT_EQ(msg(), kError);
    onReader([](sim::SimReaderState& s) { EXPECT_EQ(s.settings().aesKeys[0][0], 0); });

    // A key field that is not hexadecimal: nothing sent, the field named, the window usable.
    w.edAdmainPin->setText("7D41A09C3E5B2FXY");
    clear();
    w.btAdmainSelectkey->click();
    EXPECT_TRUE(requests(0x6030).empty());
    EXPECT_TRUE(msg().contains(QStringLiteral("Admin PIN"))) << msg().toStdString();
    EXPECT_TRUE(w.pnlMain->isEnabled());

    // Send mode "1" has no design-time item: the list shows it.
    onReader([](sim::SimReaderState& s) { s.settings().sendMode = '1'; });
    w.btnGuestMode_GET->click();
    EXPECT_EQ(w.cmbGuestSendmode->currentIndex(), 2);
    EXPECT_EQ(w.cmbGuestSendmode->currentText(), QStringLiteral("SEND MODE 1"));

    // Parameter write with one command that never gets an answer: Error at the end.
    host.call(reader, [](sim::ReaderSim& r) {
        sim::AnswerMode none;
        none.none = true;
        r.setAnswerModeFor(0x601B, none);
    });
    w.btnParameters_Set->click();
    EXPECT_EQ(msg(), kError);
    EXPECT_EQ(requests(0x601D).size(), 1u); // the last write still went out
}

TEST_P(SetReaderWindow, ResetLocksThePageAgain) {
    scan();
    TfrmModule& w = *window;
    w.btnReset->click();
    EXPECT_EQ(msg(), QStringLiteral("Select Function"));
    EXPECT_EQ(tagOf(w.btnScanReader), 0);
    EXPECT_FALSE(w.btnID_GET->isEnabled());
    EXPECT_FALSE(w.pcSetRead->isEnabled());
    EXPECT_FALSE(w.pcSetRead->isTabShown(w.ts_parameter));
    EXPECT_TRUE(w.pnReaderSn->text().isEmpty());
    ASSERT_EQ(requests(0x000F).size(), 1u);
    EXPECT_EQ(requests(0x000F)[0].data, hex("0012345600000001"));
    EXPECT_FALSE(w.readerLink->state().linkOpen);
    onReader([](sim::SimReaderState& s) { EXPECT_EQ(s.settings().resets, 1); });
}

// The long reads show their steps beside the status bar and reach 100 %: Reader Information
// passes the steps a model does not need, the tag database goes block by block.
TEST_P(SetReaderWindow, LongReadsShowEveryStepAndReachTheEnd) {
    struct Case {
        std::uint16_t model;
        std::vector<int> percents; // of four steps: model, clock, version, BT exciter
        QString lastStep;
    } cases[] = {{0x8402, {0, 25, 50, 100}, "Asking the reader's version (step 3 of 4)"},
                 {0x8441, {0, 25, 50, 75, 100}, "Reading the BT exciter (step 4 of 4)"}};
    TfrmModule& w = *window;
    kelta::test::ProgressWatch watch(w);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        onReader([&](sim::SimReaderState& s) { s.setModel(c.model); });
        watch.clear();
        scan();
        EXPECT_EQ(watch.percents(), c.percents);
        ASSERT_GE(watch.shown.size(), 2u);
        EXPECT_EQ(watch.shown.front().text, "Asking the reader's model (step 1 of 4)");
        EXPECT_EQ(watch.shown[watch.shown.size() - 2].text, c.lastStep);
        EXPECT_FALSE(w.pnlProgress->isVisibleTo(&w));
    }

    onReader([&](sim::SimReaderState& s) { s.setModel(0x8402); });
    scan();
    w.Button1->click();
    w.edt_gettagno1->setText("1");
    w.edt_gettagno2->setText("200");
    watch.clear();
    w.btn_gettagdata->click();
    ASSERT_EQ(watch.shown.size(), 21u);
    for (int b = 1; b <= 20; ++b) {
        EXPECT_EQ(watch.shown[b - 1].percent, (b - 1) * 5);
        EXPECT_EQ(watch.shown[b - 1].text, QStringLiteral("TAG database block %1 of 20").arg(b));
    }
    EXPECT_EQ(watch.shown.back().percent, 100);
    EXPECT_EQ(w.mem_tagdatabase->lineCount(), 200);
    EXPECT_EQ(msg(), kOk);
    EXPECT_FALSE(w.pnlProgress->isVisibleTo(&w));
}

// Cancel and Esc stop a long read between its exchanges, never inside one: the block asked for
// last is read whole, the next is never asked, a reader that does not answer is not asked
// again, the page says so, and the link takes the next command.
TEST_P(SetReaderWindow, CancelStopsBetweenExchangesAndTheLinkStaysUsable) {
    TfrmModule& w = *window;
    kelta::test::ProgressWatch watch(w);
    const QString cancelled = QStringLiteral("Command Cancelled.");

    // Reader Information cancelled while its clock is set: the version is never asked.
    clear();
    watch.when("Setting the reader's clock (step 2 of 4)", [&] { w.btnProgressCancel->click(); });
    w.btnScanReader->click();
    EXPECT_FALSE(watch.pending());
    EXPECT_EQ(requests(0x8001).size(), 1u);
    EXPECT_TRUE(requests(0x0003).empty());
    EXPECT_EQ(msg(), cancelled);
    EXPECT_EQ(tagOf(w.btnScanReader), 0);
    EXPECT_FALSE(w.pnlProgress->isVisibleTo(&w));
    scan();

    w.Button1->click();
    w.edt_gettagno1->setText("1");
    w.edt_gettagno2->setText("500");
    struct Case {
        int cancelAtBlock;
        bool escape;
    } cases[] = {{4, false}, {7, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancelAtBlock);
        clear();
        watch.when(QStringLiteral("TAG database block %1 of 50").arg(c.cancelAtBlock), [&] {
            if (c.escape)
                QTest::keyClick(w.mem_tagdatabase, Qt::Key_Escape);
            else
                w.btnProgressCancel->click();
        });
        w.btn_gettagdata->click();
        EXPECT_FALSE(watch.pending());
        EXPECT_EQ(requests(0x8052).size(), static_cast<std::size_t>(c.cancelAtBlock));
        EXPECT_EQ(w.mem_tagdatabase->lineCount(), 10 * c.cancelAtBlock);
        EXPECT_EQ(msg(), cancelled);
        EXPECT_FALSE(w.pnlProgress->isVisibleTo(&w));
        EXPECT_TRUE(w.pnlMain->isEnabled());
    }

    // A block the reader does not answer: no attempt after the cancel (the button, taken by
    // the cancels before, is there again).
    host.call(reader, [](sim::ReaderSim& r) {
        sim::AnswerMode none;
        none.none = true;
        r.setAnswerModeFor(0x8052, none);
    });
    clear();
    watch.when("TAG database block 1 of 50", [&] { w.btnProgressCancel->click(); });
    w.btn_gettagdata->click();
    EXPECT_EQ(requests(0x8052).size(), 1u);
    EXPECT_EQ(msg(), cancelled);

    // The next command goes through the same link.
    w.edSN->clear();
    w.btnID_GET->click();
    EXPECT_EQ(w.edSN->text(), QStringLiteral("00123456"));
    EXPECT_EQ(msg(), kOk);
}

INSTANTIATE_TEST_SUITE_P(Lines, SetReaderWindow, ::testing::Values(Line::Pty, Line::Tcp),
                         [](const auto& info) {
                             return std::string(info.param == Line::Pty ? "Pty" : "Tcp");
                         });
