#pragma once
// The window as the program builds it (its own link, monitoring and tag subsystems), with a
// simulated reader and its tags (and on a pseudo-terminal its exciter) on their own thread.

#include "app/frmmodule.h"
#include "app/settag/settag_page.h"
#include "platform/wait_pump.h"
#include "reader-sim/sim_exciter.h"
#include "reader-sim/sim_host.h"
#include "reader-sim/sim_tags.h"
#include "reader/reader_link.h"
#include "support/test_env.h"
#include "support/text_recorder.h"
#include "tag/tag_exchange.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace kelta::tag::test {

using sim::Bytes;

enum class Link { Serial, TcpServer, TcpClient };

inline const char* linkName(Link l) {
    switch (l) {
    case Link::Serial:
        return "serial";
    case Link::TcpServer:
        return "outgoing TCP";
    case Link::TcpClient:
        return "listening TCP";
    }
    return "?";
}

using kelta::test::hexBytes;
using kelta::test::TextRecorder;

class TagWindowTest : public ::testing::Test {
protected:
    static constexpr int kCom = 9;

    void SetUp() override {
        kelta::test::setTimeScale(0.05); // countdown seconds of 50 ms, connect give-up 0.5 s
        setProgramClosing(false);
        QFile::remove(kelta::test::settingsFilePath());
        window = std::make_unique<TfrmModule>();
        w().show();
        QCoreApplication::processEvents();
        w().pcMain->setActivePage(w().tsSetTAG);
        QCoreApplication::processEvents();
        reader = host.addReader();
    }
    void TearDown() override {
        if (window && window->readerLink) window->readerLink->CloseLinks();
        window.reset();
        host.stop();
        setProgramClosing(false);
        kelta::test::setTimeScale(1.0);
    }

    TfrmModule& w() { return *window; }
    SetTagPage& page() { return *w().setTagPage; }

    // Tags behind the reader (and its exciter on a pseudo-terminal), then the link page.
    void useLink(Link l, const sim::TagOptions& o = {}) {
        host.call(reader, [this, o](sim::ReaderSim& r) { tags = new sim::SimTags(r, o); });
        switch (l) {
        case Link::Serial: {
            ASSERT_TRUE(host.openPty(reader, kCom));
            host.call(reader, [this](sim::ReaderSim& r) { exciter = new sim::SimExciter(r); });
            w().pcSetReadMain->setActivePage(w().tsComPort);
            const QString com = QStringLiteral("COM%1").arg(kCom);
            if (w().cbxCom->findText(com) < 0) w().cbxCom->addItem(com);
            w().cbxCom->setCurrentText(com);
            w().cmbBaud->setCurrentText(QStringLiteral("115200,n,8,1"));
            break;
        }
        case Link::TcpServer: {
            const quint16 port = host.listenTcp(reader);
            ASSERT_NE(port, 0);
            w().pcSetReadMain->setActivePage(w().tsTcpServer);
            w().edtTcpServerIP->setText(QStringLiteral("127.0.0.1"));
            w().edtTcpServerPort->setText(QString::number(port));
            break;
        }
        case Link::TcpClient: {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            const quint16 port = probe.serverPort();
            probe.close();
            w().pcSetReadMain->setActivePage(w().tsTcpClient);
            w().edtLisPort->setText(QString::number(port));
            w().edtTcpClientIP->setText(QStringLiteral("127.0.0.1"));
            host.connectTcp(reader, port, 20); // keeps trying until the window listens
            break;
        }
        }
    }

    sim::ReaderSim& sim() { return host.reader(reader); }
    // Payloads of the frames with the code that the reader received.
    std::vector<Bytes> payloads(std::uint16_t code) {
        std::vector<Bytes> out;
        for (const auto& f : sim().received())
            if (f.code == code && !f.hasCrc) out.push_back(f.data);
        return out;
    }
    void clearReceived() {
        host.call(reader, [](sim::ReaderSim& r) { r.clearReceived(); });
    }
    QString tagMsg() const { return window->pnlTagMsg->text(); }
    QString pnMsg() const { return window->pnMsg->text(); }

public:
    // The payload of a V3 command with the window's default target: UID addressing, tag ID
    // 0001000112050211, the preset PIN, then `tail` from offset 22.
    static Bytes v3Payload(std::uint8_t cls, std::uint8_t group, std::uint8_t item,
                           std::size_t size, const Bytes& values = {}) {
        Bytes p = hexBytes("00 0001000112050211 FF");
        p.push_back(cls);
        p.push_back(group);
        p.push_back(item);
        p.push_back(0x01);
        const Bytes pin = hexBytes("7D41A09C3E5B2F86");
        p.insert(p.end(), pin.begin(), pin.end());
        p.resize(size, 0);
        std::copy(values.begin(), values.end(), p.begin() + 22);
        return p;
    }

protected:
    sim::SimHost host;
    int reader = 0;
    sim::SimTags* tags = nullptr;
    sim::SimExciter* exciter = nullptr;
    std::unique_ptr<TfrmModule> window;
};

} // namespace kelta::tag::test
