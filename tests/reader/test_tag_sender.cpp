// The tag command frame written on each kind of configuration link.

#include "link_fixture.h"
#include "tag/tag_sender.h"

using namespace kelta;
using namespace kelta::reader;
using namespace kelta::reader::test;

namespace {

constexpr std::uint16_t kSetCode = 0x6101;

Bytes payload40() {
    Bytes p(40);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i + 1);
    return p;
}

Bytes expectedFrame(bool withId) {
    Bytes f = withId ? hexBytes("05 00 2E 88 00 61 01 00 01") : hexBytes("05 00 2C 80 00 61 01");
    const Bytes p = payload40();
    f.insert(f.end(), p.begin(), p.end());
    return f;
}

} // namespace

class TagSenderTest : public LinkTest {
protected:
    bool send(const Bytes& p, int readerId, std::uint16_t flags = 0x8000, bool display = true) {
        return tag::SendTagCommand(*link, kSetCode, p, readerId, display, flags);
    }
    // Sends the 40-byte payload without and with reader ID and checks what the reader got.
    void checkBothFrames() {
        ASSERT_TRUE(link->OpenLink(false));
        simCall([](sim::ReaderSim& r) { r.clearReceived(); });
        ASSERT_TRUE(send(payload40(), -1));
        EXPECT_TRUE(window->edSend->text().startsWith(QStringLiteral("[40,47] 05 00 2C 80 00 ")));
        ASSERT_TRUE(send(payload40(), 1));
        EXPECT_TRUE(window->edSend->text().startsWith(QStringLiteral("[40,49] 05 00 2E 88 00 ")));
        ASSERT_TRUE(host.waitForFrames(reader, kSetCode, 2, 1000));
        const auto frames = framesWith(kSetCode);
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0].raw, expectedFrame(false));
        EXPECT_EQ(frames[1].raw, expectedFrame(true));
        EXPECT_FALSE(frames[0].hasCrc);
    }
};

TEST_F(TagSenderTest, FramesOnTheSerialLink) {
    useSerial();
    checkBothFrames();
}

TEST_F(TagSenderTest, FramesOnTheOutgoingTcpLink) {
    useTcpServer();
    checkBothFrames();
}

TEST_F(TagSenderTest, FramesOnTheListeningTcpLink) {
    useTcpClient();
    checkBothFrames();
}

TEST_F(TagSenderTest, FlagWordDecidesWhetherTheAnswerStoreIsCleared) {
    useSerial();
    ASSERT_TRUE(link->OpenLink(false));
    auto& s = link->state();
    auto fill = [&s] {
        s.answerData.fill(0x5A);
        s.answerLength = 5;
    };
    fill();
    ASSERT_TRUE(send(payload40(), -1, 0x0000, false));
    EXPECT_EQ(s.answerLength, 5); // an announcement-like send awaits nothing
    EXPECT_EQ(s.answerData[0], 0x5A);
    EXPECT_TRUE(window->edSend->text().isEmpty()); // no trace without the display switch

    ASSERT_TRUE(send(payload40(), -1, 0x8000));
    EXPECT_EQ(s.answerLength, 0);
    EXPECT_EQ(s.answerData[0], 0);
    EXPECT_EQ(s.answerData[1023], 0);
}

TEST_F(TagSenderTest, NoOpenLinkFailsAfterItsTriesAndSendsNothing) {
    useSerial(); // the reader is there, the link is not opened
    EXPECT_FALSE(send(payload40(), -1));
    window->pcSetReadMain->setActivePage(window->tsTcpServer);
    EXPECT_FALSE(send(payload40(), -1)); // no client socket
    window->pcSetReadMain->setActivePage(window->tsTcpClient);
    EXPECT_FALSE(send(payload40(), -1)); // no peer
    sim::SimHost::waitUntil([] { return false; }, 50);
    EXPECT_EQ(sim().receivedCount(), 0u);
}

TEST_F(TagSenderTest, OverlongPayloadIsRefused) {
    useSerial();
    ASSERT_TRUE(link->OpenLink(false));
    simCall([](sim::ReaderSim& r) { r.clearReceived(); });
    EXPECT_FALSE(send(Bytes(1016, 0x11), 1));
    EXPECT_EQ(window->pnlTagMsg->text(), QStringLiteral("Command Error."));
    // 1015 bytes with a reader ID fill the 1024-byte frame exactly.
    EXPECT_TRUE(send(Bytes(1015, 0x11), 1));
    ASSERT_TRUE(host.waitForFrames(reader, kSetCode, 1, 2000));
    EXPECT_EQ(framesWith(kSetCode).at(0).raw.size(), 1024u);
    EXPECT_EQ(sim().receivedCount(), 1u);
}
