#pragma once
// A real window with the configuration link on it and a simulated reader on its own thread,
// reached over a pseudo-terminal registered as COMn, a loopback TCP server, or as a client of
// the window's listening server.

#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "app/window_link_view.h"
#include "platform/wait_pump.h"
#include "reader-sim/sim_host.h"
#include "reader/reader_link.h"
#include "support/ports.h"
#include "support/test_env.h"
#include "support/text_recorder.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace kelta::reader::test {

using sim::Bytes;

using kelta::test::hexBytes;
using kelta::test::TextRecorder;

using kelta::test::freePort;

class LinkTest : public ::testing::Test {
protected:
    static constexpr int kCom = 7;

    void SetUp() override {
        kelta::test::setTimeScale(0.05); // the 10 s connect give-up becomes 0.5 s
        setProgramClosing(false);
        window = std::make_unique<TfrmModule>();
        // This test builds its own subsystem on the window: drop the window's own first.
        window->runController.reset();
        window->tagTables.reset();
        window->readerLink.reset();
        view = std::make_unique<WindowLinkView>(*window);
        link = std::make_unique<ReaderLink>(*view, window->ServerSocket);
        link->setBeep([this](int hz, int ms) { beeps.push_back({hz, ms}); });
        window->pcMain->setActivePage(window->tsSetReader);
        reader = host.addReader();
    }
    void TearDown() override {
        if (link) link->CloseLinks();
        link.reset();
        window.reset();
        view.reset();
        host.stop();
        setProgramClosing(false);
        kelta::test::setTimeScale(1.0);
    }

    sim::ReaderSim& sim() { return host.reader(reader); }
    void simCall(const std::function<void(sim::ReaderSim&)>& fn) { host.call(reader, fn); }

    void useSerial(const QString& comText = QStringLiteral("com7")) {
        ASSERT_TRUE(host.openPty(reader, kCom));
        window->pcSetReadMain->setActivePage(window->tsComPort);
        window->cbxCom->addItem(comText);
        window->cbxCom->setCurrentText(comText);
        window->cmbBaud->setCurrentText(QStringLiteral("115200,n,8,1"));
    }
    void useTcpServer() {
        const quint16 port = host.listenTcp(reader);
        ASSERT_NE(port, 0);
        window->pcSetReadMain->setActivePage(window->tsTcpServer);
        window->edtTcpServerIP->setText(QStringLiteral("127.0.0.1"));
        window->edtTcpServerPort->setText(QString::number(port));
    }
    // The reader keeps trying to connect to the window's listening port until it is open.
    void useTcpClient(bool startReader = true) {
        listenPort = freePort();
        window->pcSetReadMain->setActivePage(window->tsTcpClient);
        window->edtLisPort->setText(QString::number(listenPort));
        window->edtTcpClientIP->setText(QStringLiteral("127.0.0.1"));
        if (startReader) host.connectTcp(reader, listenPort, 20);
    }

    // Frames the reader received with the given code.
    std::vector<sim::ReceivedFrame> framesWith(std::uint16_t code) {
        std::vector<sim::ReceivedFrame> out;
        for (auto& f : sim().received())
            if (f.code == code) out.push_back(f);
        return out;
    }
    QString pnMsg() const { return window->pnMsg->text(); }
    std::vector<std::uint8_t> answer() const {
        const auto& s = link->state();
        return {s.answerData.begin(), s.answerData.begin() + s.answerLength};
    }

    sim::SimHost host;
    int reader = 0;
    quint16 listenPort = 0;
    std::unique_ptr<TfrmModule> window;
    std::unique_ptr<WindowLinkView> view;
    std::unique_ptr<ReaderLink> link;
    std::vector<std::pair<int, int>> beeps;
};

// Time of one call in milliseconds, printed for the record (never asserted).
template <class F> double timeIt(const char* what, F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    std::printf("[ timing   ] %s: %.1f ms\n", what, ms);
    return ms;
}

} // namespace kelta::reader::test
