// Port fields show the port really used, and a listening port that is taken ends the run with
// a message instead of a run that cannot receive anything.

#include "network_fixture.h"

#include <QTcpSocket>

namespace nettest {
namespace {

struct PortText {
    const char* typed;
    int used;
};

// Text typed into a port field and the port the link then uses (and the field shows).
const PortText kPortTexts[] = {
    {"70000", 4001},
    {"0", 4001},
    {"-5", 4001},
    {"abc", 4001},
    {"", 4001},
    {"65536", 4001},
    {"99999999999999999999", 4001},
    {"12x", 4001},
    {" 4002 ", 4002},
    {"65535", 65535},
    {"1", 1},
};

TEST_F(NetTest, OutgoingPortFieldShowsThePortTheConnectionsUse) {
    link().linkMode = 0;
    ctl->chkIP(1)->setChecked(true);
    ctl->edIP(1)->setText(loopback(1));
    kelta::test::setTimeScale(0.01);
    for (const PortText& c : kPortTexts) {
        SCOPED_TRACE(c.typed);
        w().edtTcpRemotePort->setText(QString::fromLatin1(c.typed));
        // Opening again drops the connections of the opening before.
        ctl->OpenMonitorLinks();
        EXPECT_EQ(w().edtTcpRemotePort->text(), QString::number(c.used));
    }

    // The port shown is the one connected to.
    QTcpServer reader;
    ASSERT_TRUE(reader.listen(QHostAddress(loopback(1)), 0));
    w().edtTcpRemotePort->setText(QStringLiteral(" %1 ").arg(reader.serverPort()));
    ctl->OpenMonitorLinks();
    EXPECT_TRUE(SimHost::waitUntil([&] { return reader.hasPendingConnections(); }, 3000));
    EXPECT_EQ(w().edtTcpRemotePort->text(), QString::number(reader.serverPort()));
    net().CloseNetworkLinks();
}

TEST_F(NetTest, StartShowsTheListeningPortInUseOrNamesItAsTaken) {
    w().pcTagMain->setActivePage(w().tsNetServer);
    // A run each: a few texts of each kind (the field rule is the one tested above).
    const PortText texts[] = {{"70000", 4001}, {"-5", 4001}, {"abc", 4001}, {" 4002 ", 4002}};
    for (const PortText& c : texts) {
        SCOPED_TRACE(c.typed);
        w().edtListenPort->setText(QString::fromLatin1(c.typed));
        bool listened = false;
        run([&] {
            listened = net().server().isListening();
            EXPECT_EQ(net().server().serverPort(), c.used);
            return true;
        });
        EXPECT_EQ(w().edtListenPort->text(), QString::number(c.used));
        EXPECT_EQ(w().edtLisPort->text(), QString::number(c.used));
        // Another program may hold a fixed port such as 4001: then the run says so.
        if (!listened) {
            EXPECT_TRUE(w().sbMain->panelText(0).contains(QStringLiteral("port %1 ").arg(c.used)))
                << w().sbMain->panelText(0).toStdString();
        }
    }
}

TEST_F(NetTest, AListeningPortAlreadyTakenEndsTheRunAndSaysSo) {
    w().pcTagMain->setActivePage(w().tsNetServer);
    struct Case {
        const char* name;
        bool taken;
    };
    for (const Case c : {Case{"taken", true}, Case{"free", false}, Case{"taken again", true}}) {
        SCOPED_TRACE(c.name);
        QTcpServer other;
        ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
        const quint16 port = other.serverPort();
        if (!c.taken) other.close();
        w().edtListenPort->setText(QString::number(port));
        w().sbMain->setPanelText(0, QString());

        // The click returns when the run has ended; a run that could listen is stopped by
        // the helper at its first pass.
        const auto res = run([] { return true; }, 5000);
        EXPECT_EQ(res.stopAsked, !c.taken);
        EXPECT_EQ(ctl->passCount() > 0, !c.taken);
        // Back to Start either way, every button usable again.
        EXPECT_EQ(ctl->runState(), "Start");
        EXPECT_EQ(w().btnStart->text(), "Start");
        EXPECT_TRUE(w().btnStart->isEnabled());
        EXPECT_TRUE(w().pcTagMain->isEnabled());
        EXPECT_FALSE(net().server().isListening());
        const QString status = w().sbMain->panelText(0);
        if (c.taken) {
            EXPECT_EQ(status, QStringLiteral("Listen port %1 is in use by another program. The "
                                             "run was stopped.")
                                  .arg(port));
            EXPECT_FALSE(w().gboxRSSI->isVisibleTo(window.get()));
            EXPECT_FALSE(ctl->busyTimer().isActive());
        } else {
            EXPECT_FALSE(status.contains(QStringLiteral("in use"))) << status.toStdString();
        }
    }
}

} // namespace
} // namespace nettest
