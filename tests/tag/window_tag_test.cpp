// The Set TAG page and the exciter page through the real window, against simulated tags
// behind a simulated reader on a pseudo-terminal and over loopback TCP both ways.

#include "tag_window_fixture.h"

#include <QScrollBar>
#include <functional>

using namespace kelta;
using namespace kelta::tag::test;

namespace {

constexpr std::uint16_t kWrite = 0x6032, kRead = 0x6033, kV1 = 0x6034;

struct WriteCase {
    const char* name;
    std::function<void(TfrmModule&)> prepare; // sets the controls, returns the button
    std::function<QPushButton*(TfrmModule&)> button;
    Bytes payload;
};

std::vector<WriteCase> writeCases() {
    using W = TfrmModule;
    return {
        {"Active Time", [](W& w) { w.sbTagGuestActiveMode->setValue(10); },
         [](W& w) { return w.btTagActivTimeV3_SET; },
         TagWindowTest::v3Payload(0xFF, 1, 0x00, 40, {0x0A})},
        {"Activte Count", [](W& w) { w.sbTagGuestActiveCnt->setValue(200); },
         [](W& w) { return w.btTagActivCountV3_SET; },
         TagWindowTest::v3Payload(0xFF, 1, 0x11, 40, {0, 200})},
        {"Receive Count", [](W& w) { w.sbTagGuestReceiveCnt->setValue(7); },
         [](W& w) { return w.btTagReceiveCountV3_SET; },
         TagWindowTest::v3Payload(0xFF, 1, 0x33, 40, {0, 0, 0, 7})},
        {"Detect times", [](W& w) { w.sbTag_GSensor00->setValue(5); },
         [](W& w) { return w.btnGSensor00_SET; }, TagWindowTest::v3Payload(0xFF, 2, 0x00, 40, {5})},
        {"Detect interval", [](W& w) { w.sbTag_GSensor01->setValue(12); },
         [](W& w) { return w.btnGSensor01_SET; },
         TagWindowTest::v3Payload(0xFF, 2, 0x11, 40, {0, 12})},
        {"Standard value", [](W& w) { w.sbTag_GSensor02->setValue(33); },
         [](W& w) { return w.btnGSensor02_SET; },
         TagWindowTest::v3Payload(0xFF, 2, 0x22, 40, {0, 0, 33})},
        {"Angle variation", [](W& w) { w.sbTag_GSensor03->setValue(44); },
         [](W& w) { return w.btnGSensor03_SET; },
         TagWindowTest::v3Payload(0xFF, 2, 0x33, 40, {0, 0, 0, 44})},
        {"Exceeded Count", [](W& w) { w.sbTag_GSensor04->setValue(55); },
         [](W& w) { return w.btnGSensor04_SET; },
         TagWindowTest::v3Payload(0xFF, 2, 0x44, 40, {0, 0, 0, 0, 55})},
        {"Alarm count", [](W& w) { w.sbTag_GSensor05->setValue(66); },
         [](W& w) { return w.btnGSensor05_SET; },
         TagWindowTest::v3Payload(0xFF, 2, 0x55, 40, {0, 0, 0, 0, 0, 66})},
        {"Beep", [](W& w) { w.sbTagBeep->setValue(15); }, [](W& w) { return w.btTagBeepV3_SET; },
         TagWindowTest::v3Payload(0xFF, 0x0F, 0x00, 40, {15})},
        {"LED-R", [](W& w) { w.sbTagLedR->setValue(16); }, [](W& w) { return w.btTagLedRV3_SET; },
         TagWindowTest::v3Payload(0xFF, 0x0F, 0x11, 40, {0, 16})},
        {"LED-G", [](W& w) { w.sbTagLedG->setValue(17); }, [](W& w) { return w.btTagLedGV3_SET; },
         TagWindowTest::v3Payload(0xFF, 0x0F, 0x22, 40, {0, 0, 17})},
        {"SET CID",
         [](W& w) {
             w.edTagAdmainUid1->setText("0102");
             w.edTagAdmainUid2->setText("0304");
             w.edTagAdmainUid3->setText("A0B0");
             w.edTagAdmainUid4->setText("FFEE");
         },
         [](W& w) { return w.btTagAdmainUid; },
         TagWindowTest::v3Payload(0xFE, 1, 0x08, 40, hexBytes("01020304A0B0FFEE"))},
        {"ID MODE SET", [](W& w) { w.cmbIdModeSet->setCurrentIndex(0); },
         [](W& w) { return w.btIdModeSet; },
         TagWindowTest::v3Payload(0xFE, 1, 0x88, 40, hexBytes("0000000000000000 30"))},
        {"AES ON/OFF", [](W& w) { w.cmbAesMode->setCurrentIndex(1); },
         [](W& w) { return w.btAesModeSet; },
         TagWindowTest::v3Payload(0xFE, 1, 0x99, 40, hexBytes("0000000000000000 00 32"))},
        {"SELECT KEY", [](W& w) { w.cmbTagSelectKey->setCurrentIndex(8); },
         [](W& w) { return w.btTagSelectKey; },
         TagWindowTest::v3Payload(0xFE, 1, 0xAA, 40, hexBytes("0000000000000000 00 00 08"))},
        {"SET TAG KEY",
         [](W& w) {
             w.cbKeyNo->setCurrentIndex(3);
             w.edKey->setText("00112233445566778899AABBCCDDEEFF");
         },
         [](W& w) { return w.btSetKey; },
         TagWindowTest::v3Payload(0xFC, 3, 0x0F, 40, hexBytes("00112233445566778899AABBCCDDEEFF"))},
    };
}

} // namespace

TEST_F(TagWindowTest, EveryV3WriteReachesTheTagOverTheSerialLink) {
    useLink(Link::Serial);
    for (const WriteCase& c : writeCases()) {
        SCOPED_TRACE(c.name);
        clearReceived();
        c.prepare(w());
        c.button(w())->click(); // the whole exchange runs inside the click
        const auto got = payloads(kWrite);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.front(), c.payload);
        EXPECT_EQ(tagMsg(), "Command Ok.");
        EXPECT_EQ(pnMsg(), "Command Ok.");
        EXPECT_TRUE(w().pnlMain->isEnabled());
    }
    const auto s = tags->v3();
    EXPECT_EQ(s.groups.at(0x01)[3], 7);
    EXPECT_EQ(s.aesMode, 0x32);
    EXPECT_EQ(s.selectedKey, 8);
    const Bytes key = hexBytes("00112233445566778899AABBCCDDEEFF");
    EXPECT_TRUE(std::equal(key.begin(), key.end(), s.keys[3].begin()));
}

namespace {

struct ReadCase {
    const char* name;
    std::function<QPushButton*(TfrmModule&)> button;
    std::function<QScrollBar*(TfrmModule&)> bar;
    std::function<QLineEdit*(TfrmModule&)> text;
    std::uint8_t group;
    std::size_t index;
    std::uint8_t stored;
    int shown; // the bar's position afterwards
    const char* shownText;
};

std::vector<ReadCase> readCases() {
    using W = TfrmModule;
    return {
        {"Active Time", [](W& w) { return w.btTagActivTimeV3_GET; },
         [](W& w) { return w.sbTagGuestActiveMode; }, [](W& w) { return w.edTagGuestActivMode; },
         0x01, 0, 14, 14, "10 Sec"},
        {"Activte Count", [](W& w) { return w.btTagActivCountV3_GET; },
         [](W& w) { return w.sbTagGuestActiveCnt; }, [](W& w) { return w.edTagGuestActivCnt; },
         0x01, 1, 77, 77, "77"},
        {"Receive Count", [](W& w) { return w.btTagReceiveCountV3_GET; },
         [](W& w) { return w.sbTagGuestReceiveCnt; }, [](W& w) { return w.edTagGuestReceiveCnt; },
         0x01, 3, 0, 0, "0"},
        {"Detect times (0 clamps to 1)", [](W& w) { return w.btnGSensor00_GET; },
         [](W& w) { return w.sbTag_GSensor00; }, [](W& w) { return w.edTag_GSensor00; }, 0x02, 0, 0,
         1, "1"},
        {"Detect interval", [](W& w) { return w.btnGSensor01_GET; },
         [](W& w) { return w.sbTag_GSensor01; }, [](W& w) { return w.edTag_GSensor01; }, 0x02, 1, 6,
         6, "0.15 Sec"},
        {"Standard value", [](W& w) { return w.btnGSensor02_GET; },
         [](W& w) { return w.sbTag_GSensor02; }, [](W& w) { return w.edTag_GSensor02; }, 0x02, 2,
         21, 21, "21"},
        {"Angle variation", [](W& w) { return w.btnGSensor03_GET; },
         [](W& w) { return w.sbTag_GSensor03; }, [](W& w) { return w.edTag_GSensor03; }, 0x02, 3,
         31, 31, "31"},
        {"Exceeded Count", [](W& w) { return w.btnGSensor04_GET; },
         [](W& w) { return w.sbTag_GSensor04; }, [](W& w) { return w.edTag_GSensor04; }, 0x02, 4,
         41, 41, "41"},
        {"Alarm count", [](W& w) { return w.btnGSensor05_GET; },
         [](W& w) { return w.sbTag_GSensor05; }, [](W& w) { return w.edTag_GSensor05; }, 0x02, 5,
         251, 251, "251"},
    };
}

} // namespace

TEST_F(TagWindowTest, EveryV3ReadShowsWhatTheTagHolds) {
    sim::TagOptions o;
    o.version = "ABCDEFGHIJKLMNOP"; // sixteen characters, no zero byte
    useLink(Link::Serial, o);
    sim::V3TagState state;
    for (const ReadCase& c : readCases()) state.groups[c.group][c.index] = c.stored;
    tags->setV3(state);
    for (const ReadCase& c : readCases()) {
        SCOPED_TRACE(c.name);
        clearReceived();
        c.bar(w())->setValue(c.bar(w())->maximum()); // elsewhere before the read
        c.button(w())->click();
        const auto got = payloads(kRead);
        ASSERT_EQ(got.size(), 1u);
        const Bytes head = v3Payload(0xFF, c.group, 0, 24);
        EXPECT_TRUE(std::equal(head.begin(), head.begin() + 12, got[0].begin()));
        EXPECT_EQ(got[0].size(), 24u);
        EXPECT_EQ(c.bar(w())->value(), c.shown);
        EXPECT_EQ(c.text(w())->text(), c.shownText);
        EXPECT_EQ(pnMsg(), "Command Ok.");
        EXPECT_TRUE(w().pnlMain->isEnabled());
    }
    clearReceived();
    w().butTagVer_GET->click();
    ASSERT_EQ(payloads(kRead).size(), 1u);
    EXPECT_EQ(payloads(kRead)[0], v3Payload(0xFF, 0x03, 0x0F, 24));
    EXPECT_EQ(w().pnlTagVer_GET->text(), "ABCDEFGHIJKLMNOP");
}

class TagLinkKinds : public TagWindowTest, public ::testing::WithParamInterface<Link> {};

// What a newcomer does: "Active Time" written and read back, on each kind of link, with the
// reader ID of the link page in the frame.
TEST_P(TagLinkKinds, ActiveTimeWrittenAndReadBack) {
    useLink(GetParam());
    QCheckBox* idBox = GetParam() == Link::Serial      ? w().cbxTxID_00
                       : GetParam() == Link::TcpServer ? w().cbxTxID_01
                                                       : w().cbxTxID_02;
    QLineEdit* idEdit = GetParam() == Link::Serial      ? w().edtTxID_00
                        : GetParam() == Link::TcpServer ? w().edtTxID_01
                                                        : w().edtTxID_02;
    idBox->setChecked(true);
    idEdit->setText("0012");
    w().sbTagGuestActiveMode->setValue(17);
    w().btTagActivTimeV3_SET->click();
    EXPECT_EQ(tagMsg(), "Command Ok.");
    EXPECT_EQ(tags->v3().groups.at(0x01)[0], 17);
    const auto frames = sim().received();
    const auto it =
        std::find_if(frames.begin(), frames.end(), [](const auto& f) { return f.code == kWrite; });
    ASSERT_NE(it, frames.end());
    EXPECT_EQ(it->readerId, 12);
    EXPECT_EQ(it->flags, 0x8800);

    w().sbTagGuestActiveMode->setValue(1);
    w().btTagActivTimeV3_GET->click();
    EXPECT_EQ(w().sbTagGuestActiveMode->value(), 17);
    EXPECT_EQ(w().edTagGuestActivMode->text(), "60 Sec");
    EXPECT_EQ(pnMsg(), "Command Ok.");
}

// Answers cut in two by the line, and a frame with another code ahead of each answer in the
// same write: neither turns the exchange into an error.
TEST_P(TagLinkKinds, SplitAnswersAndWrongCodesFirst) {
    sim::TagOptions o;
    o.splitGapMs = 30;
    o.wrongCodeFirst = true;
    useLink(GetParam(), o);
    w().sbTag_GSensor03->setValue(99);
    w().btnGSensor03_SET->click();
    EXPECT_EQ(tagMsg(), "Command Ok.");
    EXPECT_EQ(pnMsg(), "Command Ok.");
    w().sbTag_GSensor03->setValue(1);
    w().btnGSensor03_GET->click();
    EXPECT_EQ(pnMsg(), "Command Ok.");
    EXPECT_EQ(w().sbTag_GSensor03->value(), 99);
}

INSTANTIATE_TEST_SUITE_P(Links, TagLinkKinds,
                         ::testing::Values(Link::Serial, Link::TcpServer, Link::TcpClient),
                         [](const auto& info) {
                             switch (info.param) {
                             case Link::Serial:
                                 return std::string("Serial");
                             case Link::TcpServer:
                                 return std::string("OutgoingTcp");
                             case Link::TcpClient:
                                 break;
                             }
                             return std::string("ListeningTcp");
                         });

TEST_F(TagWindowTest, CountdownStartsAtThirtyAndFalls) {
    kelta::test::setTimeScale(1.0); // real seconds
    sim::TagOptions o;
    o.answerDelayMs = 3500; // the tag wakes up late
    useLink(Link::Serial, o);
    TextRecorder rec(w().pnlTagMsg);
    w().btTagActivCountV3_GET->click();
    std::vector<int> seconds;
    for (const QString& t : rec.texts()) {
        if (t.startsWith("Seting TAG......") && t.size() > 16) seconds.push_back(t.mid(16).toInt());
    }
    ASSERT_FALSE(seconds.empty());
    EXPECT_EQ(seconds.front(), 30);
    EXPECT_TRUE(std::is_sorted(seconds.rbegin(), seconds.rend()));
    EXPECT_LE(seconds.back(), 27);
    EXPECT_GE(seconds.back(), 24);
    EXPECT_TRUE(rec.saw("Command Ok.")); // the reader's acknowledgement
    EXPECT_EQ(pnMsg(), "Command Ok.");
}

TEST_F(TagWindowTest, ReadOfAnAbsentTagTimesOutAfterThirtyRealSeconds) {
    kelta::test::setTimeScale(1.0);
    sim::TagOptions o;
    o.present = false;
    useLink(Link::TcpServer, o);
    QElapsedTimer t;
    t.start();
    w().btTagReceiveCountV3_GET->click();
    const qint64 ms = t.elapsed();
    EXPECT_GE(ms, 30000);
    EXPECT_LT(ms, 34000);
    EXPECT_EQ(tagMsg(), "Command Error.");
    EXPECT_EQ(pnMsg(), "Command Error !");
    EXPECT_TRUE(w().pnlMain->isEnabled());
}

// Mended: a write whose answer never came is not reported as a success.
TEST_F(TagWindowTest, WriteWithoutAnyAnswerIsAnError) {
    sim::TagOptions o;
    o.acknowledge = false;
    useLink(Link::Serial, o);
    TextRecorder rec(w().pnlTagMsg);
    w().btTagBeepV3_SET->click();
    EXPECT_EQ(tagMsg(), "Command Error.");
    EXPECT_EQ(pnMsg(), "Command Error.");
    EXPECT_GT(payloads(kWrite).size(), 1u); // sent again on every pass of the wait
    EXPECT_FALSE(rec.saw("Command Ok."));
}

TEST_F(TagWindowTest, V1WriteEndsWhenWrittenAndHiddenGetWaits) {
    useLink(Link::Serial);
    TextRecorder rec(w().pnlTagMsg);
    w().sbV1TagLedR->setValue(12);
    EXPECT_EQ(w().edV1TagLedR->text(), "1.2 Sec ");
    w().btV1TagLedR->click();
    ASSERT_EQ(payloads(kV1).size(), 1u);
    EXPECT_EQ(payloads(kV1)[0], hexBytes("0001000112050211 4C 02 0C 0000000000"));
    EXPECT_EQ(pnMsg(), "Command Ok.");
    EXPECT_EQ(tagMsg(), "Command Ok.");
    for (const QString& t : rec.texts()) EXPECT_NE(t, "Seting TAG......30"); // no wait

    clearReceived();
    w().btV1TagActCntGet->click(); // hidden, but it has a handler
    ASSERT_EQ(payloads(kV1).size(), 1u);
    EXPECT_EQ(payloads(kV1)[0][8], 'r');
    EXPECT_EQ(tagMsg(), "Command Ok.");
    EXPECT_EQ(tags->v1Payloads().size(), 2u);
}

// Mended: hex fields that are not hexadecimal send nothing and name the field.
TEST_F(TagWindowTest, FieldsThatAreNotHexSendNothing) {
    useLink(Link::Serial);
    struct Case {
        std::function<void(TfrmModule&)> spoil;
        std::function<QPushButton*(TfrmModule&)> button;
        const char* field;
    } cases[] = {
        {[](TfrmModule& w) { w.edTagID->setText("00010001120502G1"); },
         [](TfrmModule& w) { return w.btTagActivTimeV3_SET; }, "TAG ID"},
        {[](TfrmModule& w) { w.edTagID->setText("12X4"); },
         [](TfrmModule& w) { return w.btV1TagBeep; }, "TAG ID"},
        {[](TfrmModule& w) { w.edTagAdmainUid2->setText("00Q1"); },
         [](TfrmModule& w) { return w.btTagAdmainUid; }, "CID"},
        {[](TfrmModule& w) { w.edKey->setText("0011223344556677889xAABBCCDDEEFF"); },
         [](TfrmModule& w) { return w.btSetKey; }, "KEY"},
        {[](TfrmModule& w) { w.edTagGuestPin->setText("7D41A09C3E5B2FZZ"); },
         [](TfrmModule& w) { return w.btnGSensor02_GET; }, "PIN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        c.spoil(w());
        clearReceived();
        c.button(w())->click();
        EXPECT_TRUE(payloads(kWrite).empty() && payloads(kRead).empty() && payloads(kV1).empty());
        EXPECT_TRUE(pnMsg().contains(c.field));
        EXPECT_TRUE(w().pnlMain->isEnabled());
        w().edTagID->setText("0001000112050211");
    }
}

TEST_F(TagWindowTest, ExciterFourFramesByteForByte) {
    useLink(Link::Serial);
    w().pcMain->setActivePage(w().tsSetReader);
    EXPECT_EQ(w().pnExciterID->text(), "0001"); // the bar stands at 30 but was never moved
    w().sbExciterDelay->setValue(25);
    EXPECT_EQ(w().pnExciterDelay->text(), "250");
    w().sbExciterDelay->setValue(30);
    w().chkExciterEn->setChecked(true);
    page().btnSetExciterClick(); // the page is locked until a reader identification
    EXPECT_EQ(pnMsg(), "Command Ok.");
    auto frames = exciter->frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], hexBytes("0E 01 95 06 1E 82 0D"));
    EXPECT_EQ(frames[1], sim::exciterFrame(hexBytes("95 07 00")));
    EXPECT_EQ(frames[2], sim::exciterFrame(hexBytes("95 08 01"))); // the caption's 0001
    EXPECT_EQ(frames[3], sim::exciterFrame(hexBytes("95 09 01")));

    w().sbExciterID->setValue(31);
    w().sbExciterID->setValue(30);
    EXPECT_EQ(w().pnExciterID->text(), "001E");
    page().btnSetExciterClick(); // the page is locked until a reader identification
    frames = exciter->frames();
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames[5], sim::exciterFrame(hexBytes("95 07 00")));
    EXPECT_EQ(frames[6], sim::exciterFrame(hexBytes("95 08 1E")));
    EXPECT_EQ(exciter->state().idLow, 0x1E);
}

TEST_F(TagWindowTest, ExciterFaultsEndTheSequence) {
    useLink(Link::Serial);
    w().pcMain->setActivePage(w().tsSetReader);
    struct Case {
        sim::ExciterFault fault;
        int setting;
        std::size_t framesSent;
    } cases[] = {
        {sim::ExciterFault::WrongChecksum, 6, 1},
        {sim::ExciterFault::NoAnswer, 7, 2},
        {sim::ExciterFault::WrongLength, 9, 4},
    };
    std::size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        sim::ExciterOptions o;
        o.fault = c.fault;
        o.faultSetting = c.setting;
        exciter->setOptions(o);
        page().btnSetExciterClick(); // the page is locked until a reader identification
        EXPECT_EQ(pnMsg(), "Command Error !");
        EXPECT_EQ(exciter->frames().size() - before, c.framesSent);
        before = exciter->frames().size();
    }
}

// Mended: on a TCP link nothing is sent and the text says why.
TEST_F(TagWindowTest, ExciterOnTcpSendsNothing) {
    useLink(Link::TcpServer);
    w().pcMain->setActivePage(w().tsSetReader);
    w().pcSetReadMain->setActivePage(w().tsTcpServer);
    page().btnSetExciterClick(); // the page is locked until a reader identification
    EXPECT_TRUE(pnMsg().contains("serial"));
    EXPECT_EQ(sim().stats().bytesReceived, 0u);
    EXPECT_TRUE(w().pnlMain->isEnabled());
}

// Click to the end of one V3 write and one V3 read against a tag that answers at once, real
// timings. Printed, never asserted.
TEST_F(TagWindowTest, TimingOfOneWriteAndOneRead) {
    kelta::test::setTimeScale(1.0);
    useLink(Link::Serial);
    QElapsedTimer t;
    t.start();
    w().btTagActivTimeV3_SET->click();
    const double writeMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    EXPECT_EQ(pnMsg(), "Command Ok.");
    t.restart();
    w().btTagActivTimeV3_GET->click();
    const double readMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    EXPECT_EQ(pnMsg(), "Command Ok.");
    std::printf("[ timing   ] V3 write, click to \"Command Ok.\": %.1f ms (fixed pauses: 200 ms "
                "in the close before the fresh open, 20 ms between the two link announcements, "
                "10 ms before the receive, 200 ms closing the fresh link, >= 12 ms writer waits)\n",
                writeMs);
    std::printf("[ timing   ] V3 read, click to \"Command Ok.\": %.1f ms (fixed pauses: the link "
                "opened again, 200 + 20 ms; two passes of 10 + 500 + 500 ms and one 10 ms sleep)\n",
                readMs);
}
