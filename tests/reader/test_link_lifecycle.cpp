// Waits that keep the window alive, the real 10 s connect give-up, and closing the window in
// the middle of an exchange.

#include "link_fixture.h"

#include <QApplication>

using namespace kelta;
using namespace kelta::reader;
using namespace kelta::reader::test;

TEST_F(LinkTest, PeerThatNeverConnectsIsGivenUpAfterTenSecondsWhileTheWindowStaysAlive) {
    kelta::test::setTimeScale(1.0); // real timing, once
    window->pcSetReadMain->setActivePage(window->tsTcpServer);
    window->edtTcpServerIP->setText(QStringLiteral("127.0.0.1"));
    window->edtTcpServerPort->setText(QString::number(freePort())); // refused at once

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(link->OpenLink(false));
    const qint64 ms = t.elapsed();
    std::printf("[ timing   ] connect give-up: %lld ms, timer fired %d times\n",
                static_cast<long long>(ms), ticks);
    EXPECT_GE(ms, 10000);  // a refused connection does not end the wait early
    EXPECT_LT(ms, 30000);  // but it does end
    EXPECT_GT(ticks, 100); // events were processed all along
    EXPECT_FALSE(link->state().linkOpen);
}

TEST_F(LinkTest, ListeningServerWithoutReaderGivesUp) {
    useTcpClient(false);
    EXPECT_FALSE(link->ExecReaderCommand(false, 0x0003));
    EXPECT_EQ(pnMsg(), QStringLiteral("Connect Error !"));
    EXPECT_EQ(hintOf(window->pnlTagMsg), QStringLiteral("Connect Error !"));
}

TEST_F(LinkTest, OutgoingLinkLostBetweenCommandsShowsConnectErrors) {
    useTcpServer();
    ASSERT_TRUE(link->ExecReaderCommand(false, 0x0003));
    host.stopReader(reader); // the reader closes its side
    ASSERT_TRUE(sim::SimHost::waitUntil([&] { return !link->state().clientConn; }, 2000));
    EXPECT_FALSE(link->state().linkOpen);
    // The next command opens a new link, which the stopped reader refuses.
    EXPECT_FALSE(link->ExecReaderCommand(false, 0x0003));
    EXPECT_EQ(pnMsg(), QStringLiteral("Connect Error !"));
}

TEST_F(LinkTest, ClosingTheWindowEndsAnExchangePromptly) {
    useTcpServer();
    sim::AnswerMode silent;
    silent.none = true;
    simCall([&](sim::ReaderSim& r) { r.setAnswerMode(silent); });
    ASSERT_TRUE(link->OpenLink(false));

    QElapsedTimer sinceClose;
    QTimer::singleShot(300, [&] {
        setProgramClosing(true); // what the window's close event does
        window->close();
        sinceClose.start();
    });
    EXPECT_FALSE(link->ExecReaderCommand(false, 0x0003));
    std::printf("[ timing   ] exchange ended %lld ms after the close\n",
                static_cast<long long>(sinceClose.elapsed()));
    EXPECT_EQ(framesWith(0x0003).size(), 1u); // no further attempt was made
    EXPECT_TRUE(beeps.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(link->state().exchangeBusy);
}

TEST_F(LinkTest, WindowDestroyedDuringAnExchangeIsNotTouchedAgain) {
    useSerial();
    sim::AnswerMode silent;
    silent.none = true;
    simCall([&](sim::ReaderSim& r) { r.setAnswerMode(silent); });
    ASSERT_TRUE(link->OpenLink(false));

    ReaderLink* running = link.get();
    QTimer::singleShot(250, [&] {
        link.reset(); // the window owns the link: both go together
        window.reset();
    });
    EXPECT_FALSE(running->ExecReaderCommand(false, 0x0003));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // The port was released: the reader's side sees it free for a new open.
    platform::SerialPort again;
    EXPECT_TRUE(again.open(kCom));
}

TEST_F(LinkTest, PortFieldsOfTheLinkShowThePortUsed) {
    struct Case {
        const char* typed;
        bool valid; // the text is the reader's real port, with blanks around it
        const char* shown;
    };
    const Case cases[] = {
        {"70000", false, "4001"}, {"0", false, "4001"}, {"-5", false, "4001"},
        {"abc", false, "4001"},   {"", false, "4001"},  {"valid", true, nullptr},
    };
    useTcpServer();
    const QString port = window->edtTcpServerPort->text();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        window->edtTcpServerPort->setText(c.valid
                                              ? QStringLiteral("  ") + port + QStringLiteral(" ")
                                              : QString::fromLatin1(c.typed));
        const bool opened = link->OpenLink(true);
        EXPECT_EQ(window->edtTcpServerPort->text(), c.valid ? port : QString::fromLatin1(c.shown));
        if (c.valid) {
            EXPECT_TRUE(opened);
        }
        link->CloseLinks();
    }
    // The listening link's field, the same way.
    useTcpClient(false);
    window->edtLisPort->setText(QStringLiteral("-5"));
    link->OpenLink(true);
    EXPECT_EQ(window->edtLisPort->text(), QStringLiteral("4001"));
    link->CloseLinks();
}
