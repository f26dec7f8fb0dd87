// The configuration link in a program without a window: a recording view stands in for the
// window, a simulated reader answers over loopback TCP.

#include "platform/translation.h"
#include "platform/wait_pump.h"
#include "reader-sim/sim_host.h"
#include "reader/reader_link.h"
#include "support/test_env.h"

#include <QTcpServer>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace kelta::reader {
namespace {

constexpr std::uint16_t kCode = 0x0003;

// Keeps what the link shows, and every call in order as one line, so a test can check both
// where the texts ended and what happened after a given moment.
class RecordingView : public LinkView {
public:
    LinkSettings settings;
    bool windowThere = true;

    QString message[2];
    QString hint[2];
    QString trace[5];
    std::vector<QString> calls;
    int cursorDepth = 0;
    int disabled = 0; // setControlsEnabled(false) not yet followed by true

    bool present() const override { return windowThere; }
    LinkSettings linkSettings() const override { return settings; }

    void setMessage(MessagePanel p, const QString& t) override {
        message[idx(p)] = t;
        log(QStringLiteral("message %1 %2").arg(idx(p)).arg(t));
    }
    void setMessageHint(MessagePanel p, const QString& h) override {
        hint[idx(p)] = h;
        log(QStringLiteral("hint %1 %2").arg(idx(p)).arg(h));
    }
    QString messageHint(MessagePanel p) const override { return hint[idx(p)]; }
    void setTrace(TraceField f, const QString& t) override {
        trace[static_cast<int>(f)] = t;
        log(QStringLiteral("trace %1").arg(static_cast<int>(f)));
    }
    void setTraceHint(TraceField f, const QString&) override {
        log(QStringLiteral("trace hint %1").arg(static_cast<int>(f)));
    }
    void clearTraces() override {
        for (QString& t : trace) t.clear();
        log(QStringLiteral("clear traces"));
    }
    void showLinkKind(LinkKind k) override {
        log(QStringLiteral("kind %1").arg(static_cast<int>(k)));
    }
    void showServerPort(int port) override { log(QStringLiteral("server port %1").arg(port)); }
    void showListenPort(int port) override { log(QStringLiteral("listen port %1").arg(port)); }
    void setControlsEnabled(bool on) override {
        disabled += on ? -1 : 1;
        log(QStringLiteral("enabled %1").arg(on));
    }
    void setWaitCursor(bool on) override {
        cursorDepth += on ? 1 : -1;
        log(QStringLiteral("cursor %1").arg(on));
    }
    void clearStatus() override { log(QStringLiteral("clear status")); }

    QString reader() const { return message[0]; }

private:
    static int idx(MessagePanel p) { return p == MessagePanel::Reader ? 0 : 1; }
    void log(const QString& line) { calls.push_back(line); }
};

class LinkWithoutWindow : public ::testing::Test {
protected:
    void SetUp() override {
        kelta::test::setTimeScale(0.05);
        setProgramClosing(false);
        setCurrentLanguageIndex(0);
        reader = host.addReader();
        link = std::make_unique<ReaderLink>(view, &listener);
        link->setBeep([this](int hz, int ms) { beeps.push_back({hz, ms}); });
    }
    void TearDown() override {
        if (link) link->CloseLinks();
        link.reset();
        host.stop();
        setCurrentLanguageIndex(0);
        kelta::test::setTimeScale(1.0);
    }
    void useOutgoing() {
        const quint16 port = host.listenTcp(reader);
        ASSERT_NE(port, 0);
        view.settings.kind = LinkKind::TcpServer;
        view.settings.serverIp = QStringLiteral("127.0.0.1");
        view.settings.serverPort = QString::number(port);
    }
    std::vector<sim::ReceivedFrame> framesWith(std::uint16_t code) {
        std::vector<sim::ReceivedFrame> out;
        for (auto& f : host.reader(reader).received())
            if (f.code == code) out.push_back(f);
        return out;
    }

    sim::SimHost host;
    int reader = 0;
    RecordingView view;
    QTcpServer listener;
    std::unique_ptr<ReaderLink> link;
    std::vector<std::pair<int, int>> beeps;
};

// One command from open to answer, in each language: the texts come translated through the
// lower layer, the panels end on their hints, the busy states are undone, and the settings'
// reader ID reaches the frame.
TEST_F(LinkWithoutWindow, CommandRunsAgainstTheReaderWithOnlyAView) {
    useOutgoing();
    view.settings.readerId = 0x0102;
    for (int language = 0; language < kLanguageCount; ++language) {
        SCOPED_TRACE(language);
        setCurrentLanguageIndex(language);
        view.calls.clear();
        view.disabled = 0;
        beeps.clear();
        host.call(reader, [](sim::ReaderSim& r) { r.clearReceived(); });

        ASSERT_TRUE(link->ExecReaderCommand(false, kCode));

        const QString ok = Translate(language, QStringLiteral("Command Ok."));
        const QString select = Translate(language, QStringLiteral("Select Function"));
        if (language > 0) {
            EXPECT_NE(select, QStringLiteral("Select Function"));
        }
        EXPECT_EQ(view.reader(), ok);
        EXPECT_EQ(view.hint[0], ok);
        EXPECT_EQ(view.message[1], select);
        EXPECT_EQ(view.cursorDepth, 0);
        EXPECT_EQ(view.disabled, 1); // the reader executor leaves enabling to its caller
        EXPECT_EQ(beeps, (std::vector<std::pair<int, int>>{{1000, 10}}));
        EXPECT_FALSE(link->state().exchangeBusy);
        EXPECT_EQ(view.trace[static_cast<int>(TraceField::RecvHeader)].left(6),
                  QStringLiteral("06 00 "));

        ASSERT_TRUE(host.waitForFrames(reader, kCode, 1, 1000));
        const auto requests = framesWith(kCode);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].readerId, std::optional<std::uint16_t>(0x0102));
        EXPECT_TRUE(requests[0].crcOk);
    }
    // The link stayed open: the later commands did not announce it again.
    EXPECT_EQ(framesWith(0x6011).size(), 0u);
    EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), QStringLiteral("kind 1")), 0);
}

// The listening link takes a reader only while the settings say a configuration page is
// shown; otherwise the connection stays pending for the monitoring side.
TEST_F(LinkWithoutWindow, ListeningLinkLeavesConnectionsAloneOffTheSettingPages) {
    struct Case {
        bool settingPage;
        bool opens;
    };
    for (const Case c : {Case{false, false}, Case{true, true}}) {
        SCOPED_TRACE(c.settingPage);
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 port = probe.serverPort();
        probe.close();
        view.settings.kind = LinkKind::TcpClient;
        view.settings.listenPort = QString::number(port);
        view.settings.clientIp = QStringLiteral("127.0.0.1");
        view.settings.settingPageShown = c.settingPage;
        host.connectTcp(reader, port, 20);

        EXPECT_EQ(link->OpenLink(true), c.opens);
        EXPECT_TRUE(listener.isListening());
        EXPECT_EQ(listener.serverPort(), port);
        if (!c.opens) {
            EXPECT_TRUE(listener.hasPendingConnections());
        }
        EXPECT_EQ(link->state().serverPeer.isNull(), !c.opens);
        link->CloseLinks();
        host.stopReader(reader);
        reader = host.addReader();
    }
}

// When the view's window goes away in the middle of a command, the link stops without
// touching the view again, except to put the wait cursor back.
TEST_F(LinkWithoutWindow, ViewWhoseWindowWentIsNotTouchedAgain) {
    useOutgoing();
    sim::AnswerMode silent;
    silent.none = true;
    host.call(reader, [&](sim::ReaderSim& r) { r.setAnswerMode(silent); });
    ASSERT_TRUE(link->OpenLink(false));

    std::size_t callsWhenGone = 0;
    QTimer::singleShot(200, [&] {
        view.windowThere = false;
        callsWhenGone = view.calls.size();
    });
    EXPECT_FALSE(link->ExecReaderCommand(false, kCode));
    ASSERT_GT(callsWhenGone, 0u);
    const std::vector<QString> after(view.calls.begin() + static_cast<long>(callsWhenGone),
                                     view.calls.end());
    EXPECT_EQ(after, std::vector<QString>{QStringLiteral("cursor 0")});
    EXPECT_EQ(view.cursorDepth, 0);
    EXPECT_TRUE(beeps.empty());
    EXPECT_EQ(framesWith(kCode).size(), 1u); // no second attempt
}

} // namespace
} // namespace kelta::reader
