// The executor and the exchange against the simulated reader on all three link kinds.

#include "link_fixture.h"
#include "platform/settings_store.h"
#include "reader/proto/reader_frame.h"

#include <QApplication>

using namespace kelta;
using namespace kelta::reader;
using namespace kelta::reader::test;

namespace {

constexpr std::uint16_t kCode = 0x0003;
const QString kOk = QStringLiteral("Command Ok.");

// The link announcement as the reader must receive it, with the link digit given.
Bytes announcement(char digit) {
    return {0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, '0', static_cast<std::uint8_t>(digit),
            0,    0,    0,    0,    0,    0};
}

} // namespace

TEST_F(LinkTest, SerialCommandIsSentByteForByteAndAnswered) {
    useSerial();
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
    EXPECT_EQ(pnMsg(), kOk);
    EXPECT_EQ(hintOf(window->pnMsg), kOk);
    EXPECT_EQ(window->pnlTagMsg->text(), QStringLiteral("Select Function"));

    ASSERT_TRUE(host.waitForFrames(reader, kCode, 1, 1000));
    const auto requests = framesWith(kCode);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, hexBytes("05 00 06 80 01 00 03 7E B1"));
    EXPECT_TRUE(requests[0].crcOk);
    EXPECT_EQ(window->edtSend->text(), QStringLiteral("[00,09] 05 00 06 80 01 00 03 7E B1 "));

    // Serial links announce themselves twice with "0","0" (the second may still be on its way
    // to the simulated reader when the answer has come).
    host.waitForFrames(reader, 0x6011, 2, 1000);
    const auto ann = framesWith(0x6011);
    ASSERT_EQ(ann.size(), 2u);
    EXPECT_EQ(ann[0].raw, announcement('0'));
    EXPECT_EQ(ann[1].raw, announcement('0'));

    // Default answer data 00 01 02 03 plus the two trailing bytes; header in edtRecv1.
    const auto a = answer();
    ASSERT_EQ(a.size(), 6u);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 4), hexBytes("00010203"));
    EXPECT_EQ(window->edtRecv1->text(), QStringLiteral("06 00 0A 00 00 00 03 "));
    EXPECT_TRUE(window->edtRecv2->text().startsWith(QStringLiteral("00 01 02 03 ")));
    EXPECT_EQ(link->state().answerData[6], 0); // zero behind the copied bytes

    EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{1000, 10}}));
    EXPECT_TRUE(link->state().linkOpen); // reused by the next command
    EXPECT_FALSE(link->state().exchangeBusy);
    EXPECT_EQ(link->state().linkMode, 1);
    EXPECT_EQ(window->pcTagMain->activePage(), window->tsCOM);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    auto store = platform::SettingsStore::open(false);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->readString(QStringLiteral("SETCOMPORT")), QStringLiteral("com7"));
    EXPECT_EQ(store->readInteger(QStringLiteral("PAGE")), 1);

    timeIt("one exchange, serial (pty)", [&] { link->ReaderExchange(kCode, {}, -1); });
}

TEST_F(LinkTest, ReaderIdBoxDecidesTheIdField) {
    useSerial();
    window->cbxTxID_00->setChecked(true);
    struct Case {
        const char* edit;
        const char* frame;
    } cases[] = {
        {"0001", "05 00 08 88 01 00 03 00 01 0F BF"}, // ID 1: flags 0x8801
        {"0000", "05 00 06 80 01 00 03 7E B1"},       // 0 sends no ID
        {"abc", "05 00 06 80 01 00 03 7E B1"},        // not a number: no ID
    };
    for (const Case& c : cases) {
        simCall([](sim::ReaderSim& r) { r.clearReceived(); });
        window->edtTxID_00->setText(QString::fromLatin1(c.edit));
        ASSERT_TRUE(link->ExecReaderCommand(false, kCode)) << c.edit;
        ASSERT_TRUE(host.waitForFrames(reader, kCode, 1, 1000));
        EXPECT_EQ(framesWith(kCode).at(0).raw, hexBytes(c.frame)) << c.edit;
    }
    simCall([](sim::ReaderSim& r) { r.clearReceived(); });
    window->edtTxID_00->setText(QStringLiteral("0012"));
    ASSERT_TRUE(link->ExecReaderCommand(false, kCode));
    ASSERT_TRUE(host.waitForFrames(reader, kCode, 1, 1000));
    const auto f = framesWith(kCode).at(0);
    EXPECT_EQ(f.flags, 0x8801);
    ASSERT_TRUE(f.readerId);
    EXPECT_EQ(*f.readerId, 0x000C);
    EXPECT_TRUE(f.crcOk);
}

TEST_F(LinkTest, SilentReaderGivesThreeRetryTextsThenCommandError) {
    useSerial();
    sim::AnswerMode silent;
    silent.none = true;
    simCall([&](sim::ReaderSim& r) { r.setAnswerMode(silent); });
    TextRecorder texts(window->pnMsg);
    EXPECT_FALSE(link->ExecReaderCommand(false, kCode));

    std::vector<QString> errors;
    for (const QString& t : texts.texts())
        if (t.startsWith(QStringLiteral("Command Error"))) errors.push_back(t);
    EXPECT_EQ(errors, (std::vector<QString>{QStringLiteral("Command Error !  [ 1/3 ]"),
                                            QStringLiteral("Command Error !  [ 2/3 ]"),
                                            QStringLiteral("Command Error !  [ 3/3 ]"),
                                            QStringLiteral("Command Error !")}));
    EXPECT_EQ(pnMsg(), QStringLiteral("Command Error !"));
    EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{300, 300}}));
    EXPECT_TRUE(host.waitForFrames(reader, kCode, 3, 1000));
    EXPECT_EQ(framesWith(kCode).size(), 3u); // one request per attempt
    EXPECT_EQ(link->state().answerLength, 0);
    EXPECT_FALSE(link->state().exchangeBusy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(LinkTest, MissingSerialDeviceIsAConnectError) {
    window->pcSetReadMain->setActivePage(window->tsComPort);
    window->cbxCom->addItem(QStringLiteral("COM9")); // nothing registered as COM9
    window->cbxCom->setCurrentText(QStringLiteral("COM9"));
    TextRecorder texts(window->pnMsg);
    EXPECT_FALSE(link->ExecReaderCommand(false, kCode));
    EXPECT_TRUE(texts.saw(QStringLiteral("Connecting ......")));
    EXPECT_EQ(pnMsg(), QStringLiteral("Connect Error !"));
    EXPECT_EQ(window->pnlTagMsg->text(), QStringLiteral("Connect Error !"));
    EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{300, 300}}));
    EXPECT_FALSE(link->state().linkOpen);
}

TEST_F(LinkTest, OutgoingTcpCommandIsAnswered) {
    useTcpServer();
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
    EXPECT_EQ(pnMsg(), kOk);
    ASSERT_TRUE(host.waitForFrames(reader, kCode, 1, 1000));
    EXPECT_EQ(framesWith(kCode).at(0).raw, hexBytes("05 00 06 80 01 00 03 7E B1"));
    const auto ann = framesWith(0x6011);
    ASSERT_EQ(ann.size(), 1u); // TCP links announce once, with "0","1"
    EXPECT_EQ(ann[0].raw, announcement('1'));
    EXPECT_EQ(link->state().linkMode, 0);
    EXPECT_EQ(window->pcTagMain->activePage(), window->tsNET);
    EXPECT_EQ(answer().size(), 6u);

    timeIt("one exchange, outgoing TCP", [&] { link->ReaderExchange(kCode, {}, -1); });
}

TEST_F(LinkTest, ListeningTcpCommandIsAnswered) {
    useTcpClient();
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
    EXPECT_EQ(pnMsg(), kOk);
    EXPECT_EQ(window->edtLisPort->text(), QString::number(listenPort));
    ASSERT_TRUE(host.waitForFrames(reader, kCode, 1, 1000));
    const auto ann = framesWith(0x6011);
    ASSERT_EQ(ann.size(), 1u);
    EXPECT_EQ(ann[0].raw, announcement('1'));
    EXPECT_EQ(link->state().linkMode, 2);
    EXPECT_EQ(window->pcTagMain->activePage(), window->tsNetServer);

    timeIt("one exchange, listening TCP", [&] { link->ReaderExchange(kCode, {}, -1); });

    // The reader leaving ends the link.
    host.stopReader(reader);
    ASSERT_TRUE(sim::SimHost::waitUntil([&] { return !link->state().serverPeer; }, 2000));
    EXPECT_FALSE(link->state().linkOpen);
}

TEST_F(LinkTest, ListeningLinkUsesOnlyTheReaderAtTheConfiguredAddress) {
    useTcpClient(false);
    // A stranger from 127.0.0.2 connects first; the configured reader a little later.
    // Once the window listens, a stranger from 127.0.0.2 connects first and the configured
    // reader after it.
    QTcpSocket stranger;
    bool readerStarted = false;
    QTimer steps;
    QObject::connect(&steps, &QTimer::timeout, [&] {
        if (!window->ServerSocket->isListening()) return;
        if (stranger.state() == QAbstractSocket::UnconnectedState) {
            stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")));
            stranger.connectToHost(QHostAddress::LocalHost, listenPort);
        } else if (stranger.state() == QAbstractSocket::ConnectedState && !readerStarted) {
            readerStarted = true;
            host.connectTcp(reader, listenPort, 20);
        }
    });
    steps.start(5);
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
    EXPECT_EQ(stranger.state(), QAbstractSocket::ConnectedState);
    ASSERT_TRUE(link->state().serverPeer);
    EXPECT_NE(link->state().serverPeer->peerAddress().toString(), QStringLiteral("127.0.0.2"));
    sim::SimHost::waitUntil([] { return false; }, 50);
    EXPECT_EQ(stranger.bytesAvailable(), 0); // neither announcement nor request went there
    EXPECT_EQ(framesWith(kCode).size(), 1u);

    // The stranger leaving does not end the reader's link.
    stranger.disconnectFromHost();
    sim::SimHost::waitUntil([] { return false; }, 100);
    EXPECT_TRUE(link->state().linkOpen);
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
}

TEST_F(LinkTest, ListeningLinkWithAnotherAddressNeverConnects) {
    useTcpClient();
    window->edtTcpClientIP->setText(QStringLiteral("127.0.0.9"));
    EXPECT_FALSE(link->ExecReaderCommand(false, kCode));
    EXPECT_EQ(pnMsg(), QStringLiteral("Connect Error !"));
    EXPECT_FALSE(link->state().serverPeer);
    EXPECT_EQ(framesWith(0x6011).size(), 0u);
}

TEST_F(LinkTest, ListeningPortTextIsNormalised) {
    useTcpClient(false);
    window->edtLisPort->setText(QStringLiteral("abc"));
    link->OpenLink(true);
    EXPECT_EQ(window->edtLisPort->text(), QStringLiteral("4001"));
}

TEST_F(LinkTest, FreshLinkIsClosedAfterTheCommand) {
    useTcpServer();
    EXPECT_TRUE(link->ExecReaderCommand(true, kCode));
    EXPECT_FALSE(link->state().linkOpen);
    EXPECT_FALSE(link->state().clientSocket);
    EXPECT_TRUE(link->ExecReaderCommand(true, kCode));
    EXPECT_EQ(framesWith(0x6011).size(), 2u); // a new link, a new announcement each time
}

TEST_F(LinkTest, WrongCodeBeforeTheRightOneIsSkippedWithinOneAttempt) {
    useSerial();
    sim::AnswerMode m;
    m.wrongCodeFirst = true;
    simCall([&](sim::ReaderSim& r) { r.setAnswerMode(m); });
    TextRecorder texts(window->pnMsg);
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
    EXPECT_FALSE(texts.saw(QStringLiteral("Command Error !  [ 1/3 ]")));
    EXPECT_EQ(sim().stats().wrongCodeAnswersSent, 1u);
    EXPECT_EQ(framesWith(kCode).size(), 1u);
}

// An answer split over two reads is completed within its attempt (a mended fault: the attempt used
// to end after the first read, so on TCP a split answer cost one of the three attempts);
// a rest that comes after the attempt's 600 ms still fails it.
class SplitAnswerTest : public LinkTest {
protected:
    // The reader's answer comes in two writes 150 ms apart: one attempt, answer whole.
    void expectCompletedWithinOneAttempt() {
        sim::AnswerMode split;
        split.splitGapMs = 150;
        simCall([&](sim::ReaderSim& r) { r.setAnswerMode(split); });
        TextRecorder texts(window->pnMsg);
        EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
        EXPECT_FALSE(texts.saw(QStringLiteral("Command Error !  [ 1/3 ]")));
        EXPECT_EQ(pnMsg(), kOk);
        EXPECT_EQ(framesWith(kCode).size(), 1u);
        EXPECT_EQ(answer().size(), 6u);
    }
};

TEST_F(SplitAnswerTest, OverTwoTcpReadsIsCompletedWithinOneAttempt) {
    useTcpServer();
    expectCompletedWithinOneAttempt();
}

TEST_F(SplitAnswerTest, OverTwoSerialReadsIsCompletedWithinOneAttempt) {
    useSerial();
    expectCompletedWithinOneAttempt();
}

TEST_F(LinkTest, AnswerWhoseRestComesTooLateFailsTheAttempt) {
    useTcpServer();
    sim::AnswerMode split;
    split.splitGapMs = 700;
    simCall([&](sim::ReaderSim& r) { r.setAnswerMode(split); });
    ASSERT_TRUE(link->OpenLink(false));
    EXPECT_FALSE(link->ReaderExchange(kCode, {}, -1));
    EXPECT_EQ(link->state().answerLength, 0);
}

TEST_F(LinkTest, AnswerHeaderFlagsDecideWhereTheDataStart) {
    useSerial();
    struct Case {
        sim::IdMode id;
        bool extension;
        const char* recv1;
        std::uint16_t length;
    } cases[] = {
        {sim::IdMode::Always, false, "06 00 0C 08 00 00 03 00 01 ", 6},
        {sim::IdMode::Never, true, "06 00 0E 04 00 00 03 11 22 33 44 ", 10},
        {sim::IdMode::Always, true, "06 00 10 0C 00 00 03 00 01 11 22 33 44 ", 10},
    };
    for (const Case& c : cases) {
        sim::AnswerMode m;
        m.id = c.id;
        m.extension = c.extension;
        simCall([&](sim::ReaderSim& r) { r.setAnswerMode(m); });
        ASSERT_TRUE(link->ExecReaderCommand(false, kCode)) << c.recv1;
        EXPECT_EQ(window->edtRecv1->text(), QString::fromLatin1(c.recv1));
        EXPECT_EQ(link->state().answerLength, c.length) << c.recv1;
        // The data, not the ID or the extension, come first in the answer store.
        EXPECT_EQ(Bytes(link->state().answerData.begin(), link->state().answerData.begin() + 4),
                  hexBytes("00010203"))
            << c.recv1;
    }
}

TEST_F(LinkTest, LateAnswerIsMissedAndNeverTakenForTheNextRequest) {
    useSerial();
    sim::AnswerMode late;
    late.delayMs = 700;
    simCall([&](sim::ReaderSim& r) { r.setAnswerModeFor(kCode, late); });
    simCall([&](sim::ReaderSim& r) { r.setAnswer(0x0004, {0xAA, 0xBB}); });
    ASSERT_TRUE(link->OpenLink(false));
    EXPECT_FALSE(link->ReaderExchange(kCode, {}, -1));
    // The late 0x0003 answer arrives during the next request and is discarded.
    EXPECT_TRUE(link->ReaderExchange(0x0004, {}, -1));
    EXPECT_EQ(link->state().answerData[0], 0xAA);

    // An answer at 500 ms is still in time.
    sim::AnswerMode slow;
    slow.delayMs = 500;
    simCall([&](sim::ReaderSim& r) { r.setAnswerModeFor(kCode, slow); });
    sim::SimHost::waitUntil([] { return false; }, 300); // let the late answer pass
    EXPECT_TRUE(link->ReaderExchange(kCode, {}, -1));
}

TEST_F(LinkTest, OpenLinkTwiceWithoutForceOpensOnce) {
    useSerial();
    ASSERT_TRUE(link->OpenLink(false));
    ASSERT_TRUE(host.waitForFrames(reader, 0x6011, 2, 1000));
    // Another page while the link is open: nothing is looked at until the link closes.
    window->pcSetReadMain->setActivePage(window->tsTcpServer);
    EXPECT_TRUE(link->OpenLink(false));
    sim::SimHost::waitUntil([] { return false; }, 100);
    EXPECT_EQ(framesWith(0x6011).size(), 2u);
    EXPECT_EQ(link->state().linkMode, 1);
    EXPECT_TRUE(link->state().comHandle);

    window->pcSetReadMain->setActivePage(window->tsComPort);
    EXPECT_TRUE(link->OpenLink(true));
    EXPECT_TRUE(host.waitForFrames(reader, 0x6011, 4, 1000));

    EXPECT_TRUE(link->CloseLinks());
    EXPECT_FALSE(link->state().linkOpen);
    EXPECT_FALSE(link->state().comHandle);
    // The port is free again: a new open succeeds.
    EXPECT_TRUE(link->OpenLink(false));
}

TEST_F(LinkTest, ComTextGivesThePortNumber) {
    EXPECT_EQ(comNumberFromText(QStringLiteral("com7")), 7);
    EXPECT_EQ(comNumberFromText(QStringLiteral("COM12")), 12);
    EXPECT_EQ(comNumberFromText(QStringLiteral("COM")), 1);
    EXPECT_EQ(comNumberFromText(QStringLiteral("xyz")), 1);
    EXPECT_EQ(portFromText(QStringLiteral("abc")), 4001);
    EXPECT_EQ(portFromText(QStringLiteral("70000")), 4001);
    EXPECT_EQ(portFromText(QStringLiteral("0123")), 123);
}

TEST_F(LinkTest, OverlongPayloadIsRefusedAndNothingIsSent) {
    useSerial();
    const Bytes tooLong(kMaxRequestPayload + 1, 0x55);
    EXPECT_FALSE(link->ExecReaderCommand(false, kCode, tooLong));
    EXPECT_EQ(pnMsg(), QStringLiteral("Command Error."));
    EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{300, 300}}));
    sim::SimHost::waitUntil([] { return false; }, 100);
    EXPECT_EQ(sim().receivedCount(), 0u);

    // The longest payload the checksum covers goes out with a correct CRC.
    const Bytes longest(kMaxRequestPayload, 0x55);
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode, longest));
    ASSERT_TRUE(host.waitForFrames(reader, kCode, 1, 1000));
    EXPECT_TRUE(framesWith(kCode).at(0).crcOk);
    EXPECT_EQ(sim().stats().badCrcRequests, 0u);
}

TEST_F(LinkTest, ExchangeBusyIsSetOnlyDuringTheAttempts) {
    useTcpServer();
    bool sawBusy = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { sawBusy |= link->state().exchangeBusy; });
    probe.start(2);
    EXPECT_TRUE(link->ExecReaderCommand(false, kCode));
    EXPECT_TRUE(sawBusy);
    EXPECT_FALSE(link->state().exchangeBusy);
}
