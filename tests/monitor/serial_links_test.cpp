// The serial monitoring links on real pseudo-terminals registered in the serial device map.

#include "monitor/serial_links.h"
#include "platform/clock.h"
#include "platform/pty_pair.h"
#include "platform/timings.h"
#include "support/test_env.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using kelta::monitor::DecodeMode;
using kelta::monitor::SerialLinks;
using kelta::test::eventually;
using kelta::test::PtyPair;
using Bytes = std::vector<std::uint8_t>;

struct Delivered {
    DecodeMode mode;
    std::string port;
    Bytes frame;
};

// A pseudo-terminal registered as COMn for the life of the object.
class MappedPty {
public:
    explicit MappedPty(int n)
        : link_(kelta::test::serialMapDir() + QStringLiteral("/COM%1").arg(n)) {
        QFile::remove(link_);
        QFile::link(pty_.slavePath(), link_);
    }
    ~MappedPty() { QFile::remove(link_); }
    PtyPair& pty() { return pty_; }

private:
    PtyPair pty_;
    QString link_;
};

class SerialLinksTest : public ::testing::Test {
protected:
    void TearDown() override { links.CloseSerialLinks(true); }

    void check(int n) { links.setPortChecked(n, true); }
    // Waits until port n has at least count bytes queued.
    bool queued(int n, int count) {
        return eventually([&] {
            auto q = links.port(n)->queuedInput();
            return q && *q >= count;
        });
    }

    std::vector<Delivered> delivered;
    bool handlerResult = true;
    SerialLinks links{[this](DecodeMode m, std::string_view port, std::span<const std::uint8_t> f) {
        delivered.push_back({m, std::string(port), Bytes(f.begin(), f.end())});
        return handlerResult;
    }};
    int cursor = 0;
};

const Bytes kFrameA{0x06, 0x00, 0x04, 0xA1, 0xA2, 0xA3, 0xA4};
const Bytes kFrameB{0x06, 0x00, 0x04, 0xB1, 0x06, 0xB3, 0xB4}; // a 0x06 inside the body

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(SerialLinksTest, HighestPortIsTheHighestThatOpened) {
    {
        MappedPty com5(5), com12(12);
        check(5);
        check(12);
        links.OpenSerialLinks();
        EXPECT_TRUE(links.isOpen(5));
        EXPECT_TRUE(links.isOpen(12));
        EXPECT_EQ(links.highestSerialPort(), 12);
        links.CloseSerialLinks(true);
        EXPECT_FALSE(links.isOpen(5));
        EXPECT_FALSE(links.isOpen(12));
    }
    {
        // COM5 names no device: COM12 still opens and is the highest.
        MappedPty com12(12);
        const QString dead = kelta::test::serialMapDir() + QStringLiteral("/COM5");
        QFile::link(kelta::test::tempRoot() + QStringLiteral("/no-such-device"), dead);
        links.setHighestSerialPort(0);
        links.OpenSerialLinks();
        EXPECT_FALSE(links.isOpen(5));
        EXPECT_EQ(links.highestSerialPort(), 12);
        links.CloseSerialLinks(true);
        QFile::remove(dead);
    }
    {
        MappedPty com5(5), com12(12);
        links.setPortChecked(12, false);
        links.setHighestSerialPort(0);
        links.OpenSerialLinks();
        EXPECT_TRUE(links.isOpen(5));
        EXPECT_FALSE(links.isOpen(12)); // mapped but not checked
        EXPECT_EQ(links.highestSerialPort(), 5);
    }
}

TEST_F(SerialLinksTest, NothingOpenMeansNothingPolledOrWritten) {
    MappedPty com3(3); // mapped, not checked
    links.OpenSerialLinks();
    EXPECT_EQ(links.highestSerialPort(), 0);
    links.WriteSerialLinks(kFrameA);
    EXPECT_TRUE(com3.pty().receive(1).empty());
    EXPECT_FALSE(links.PollSerialLink(DecodeMode::Live, cursor));
    EXPECT_TRUE(delivered.empty());
}

TEST_F(SerialLinksTest, FramesQueuedTogetherAreDeliveredInOrderInOnePoll) {
    MappedPty com7(7);
    check(7);
    links.OpenSerialLinks();
    ASSERT_TRUE(links.isOpen(7));
    // Noise before the first start byte, then two frames; the second holds 0x06 as data.
    const Bytes stream = cat({{0x11, 0x22, 0x00, 0xFF}, kFrameA, kFrameB});
    ASSERT_TRUE(com7.pty().send(stream));
    ASSERT_TRUE(queued(7, static_cast<int>(stream.size())));

    EXPECT_TRUE(links.PollSerialLink(DecodeMode::Log, cursor));
    EXPECT_EQ(cursor, 7);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[0].frame, kFrameA);
    EXPECT_EQ(delivered[1].frame, kFrameB);
    for (const auto& d : delivered) {
        EXPECT_EQ(d.port, "07");
        EXPECT_EQ(d.mode, DecodeMode::Log);
        EXPECT_EQ(d.frame.size(), 7u);
    }
    EXPECT_EQ(links.pendingBytes(7), 0u);
}

TEST_F(SerialLinksTest, PollResultFollowsTheLastFrameAndTheBytesRead) {
    MappedPty com2(2);
    check(2);
    links.OpenSerialLinks();
    // Bytes read but no frame: true.
    ASSERT_TRUE(com2.pty().send({0x01, 0x02, 0x03}));
    ASSERT_TRUE(queued(2, 3));
    EXPECT_TRUE(links.PollSerialLink(DecodeMode::Live, cursor));
    EXPECT_TRUE(delivered.empty());
    // A frame the splitter turned down: the poll reports what the splitter said.
    handlerResult = false;
    ASSERT_TRUE(com2.pty().send(kFrameA));
    ASSERT_TRUE(queued(2, 7));
    EXPECT_FALSE(links.PollSerialLink(DecodeMode::Live, cursor));
    EXPECT_EQ(delivered.size(), 1u);
    // Nothing queued: false.
    EXPECT_FALSE(links.PollSerialLink(DecodeMode::Live, cursor));
}

TEST_F(SerialLinksTest, FrameStraddlingTwoPollsIsKeptButAStaleOneIsDropped) {
    MappedPty com4(4);
    check(4);
    links.OpenSerialLinks();

    const Bytes head(kFrameA.begin(), kFrameA.begin() + 5);
    const Bytes tail(kFrameA.begin() + 5, kFrameA.end());
    ASSERT_TRUE(com4.pty().send(head));
    ASSERT_TRUE(queued(4, 5));
    links.PollSerialLink(DecodeMode::Live, cursor);
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(links.pendingBytes(4), 5u);

    ASSERT_TRUE(com4.pty().send(tail));
    ASSERT_TRUE(queued(4, 2));
    links.PollSerialLink(DecodeMode::Live, cursor);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].frame, kFrameA);

    // A reader reset in the middle of a frame: the rest never comes, the next frame must not
    // be swallowed into the old one.
    delivered.clear();
    ASSERT_TRUE(com4.pty().send(head));
    ASSERT_TRUE(queued(4, 5));
    links.PollSerialLink(DecodeMode::Live, cursor);
    kelta::platform::sleepMs(kelta::timing::kPartialFrameStaleMs + 50);
    ASSERT_TRUE(com4.pty().send(kFrameB));
    ASSERT_TRUE(queued(4, 7));
    links.PollSerialLink(DecodeMode::Live, cursor);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].frame, kFrameB);
}

TEST_F(SerialLinksTest, AFullQueueIsReadWholeAndOnlyAFloodBeyondTheBoundIsPurged) {
    MappedPty com9(9), com10(10);
    check(9);
    check(10);
    links.OpenSerialLinks();
    // 147 whole frames queued at once (more than the driver's old 1024-byte limit): all read.
    Bytes queue;
    while (queue.size() <= 1024) queue.insert(queue.end(), kFrameA.begin(), kFrameA.end());
    const std::size_t frames = queue.size() / kFrameA.size();
    ASSERT_TRUE(com9.pty().send(queue));
    ASSERT_TRUE(com10.pty().send(kFrameB)); // another port in the same pass
    ASSERT_TRUE(queued(9, static_cast<int>(queue.size())));
    ASSERT_TRUE(queued(10, 7));
    EXPECT_TRUE(links.PollSerialLink(DecodeMode::Live, cursor));
    ASSERT_EQ(delivered.size(), frames + 1);
    EXPECT_EQ(delivered.front().frame, kFrameA);
    EXPECT_EQ(delivered.back().port, "10");
    EXPECT_EQ(links.purgedBytes(), 0u);

    // More than the bound held unassembled (no poll while it arrives): the held bytes are
    // purged and counted, the frame after the flood is still delivered.
    delivered.clear();
    const Bytes chunk(2048, 0x55);
    std::size_t sent = 0;
    while (sent <= SerialLinks::kMaxBufferedInput) {
        ASSERT_TRUE(com9.pty().send(chunk));
        ASSERT_TRUE(eventually([&] {
            links.drainSerialPorts();
            return links.port(9)->queuedInput().value_or(-1) == 0;
        }));
        sent += chunk.size();
    }
    EXPECT_GT(links.purgedBytes(9), 0u);
    EXPECT_LE(links.inboxBytes(9), SerialLinks::kMaxBufferedInput);
    EXPECT_EQ(links.purgedBytes(9) + links.inboxBytes(9), sent);
    ASSERT_TRUE(com9.pty().send(kFrameB));
    ASSERT_TRUE(queued(9, 7));
    links.PollSerialLink(DecodeMode::Live, cursor);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].frame, kFrameB);
}

TEST_F(SerialLinksTest, FalseStartsInFrontOfReportsCostNothing) {
    MappedPty com5(5);
    check(5);
    links.OpenSerialLinks();
    // A start byte with length 0, one with a length beyond any frame, one with length 2:
    // each skipped at once, so the reports behind them arrive.
    const Bytes stream = cat(
        {{0x06, 0x00, 0x00}, kFrameA, {0x06, 0xFF, 0xFF}, kFrameB, {0x06, 0x00, 0x02}, kFrameA});
    ASSERT_TRUE(com5.pty().send(stream));
    ASSERT_TRUE(queued(5, static_cast<int>(stream.size())));
    links.PollSerialLink(DecodeMode::Live, cursor);
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].frame, kFrameA);
    EXPECT_EQ(delivered[1].frame, kFrameB);
    EXPECT_EQ(delivered[2].frame, kFrameA);
}

TEST_F(SerialLinksTest, WritingReachesEveryPortAndDiscardsUnreadInput) {
    MappedPty com1(1), com6(6);
    check(1);
    check(6);
    links.OpenSerialLinks();
    ASSERT_TRUE(com6.pty().send(kFrameA));
    ASSERT_TRUE(queued(6, 7));

    const Bytes command{0x05, 0x00, 0x0C, 0x00, 0x00, 0x60, 0x11, 0x30,
                        0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    links.WriteSerialLinks(command);
    EXPECT_EQ(com1.pty().receive(command.size()), command);
    EXPECT_EQ(com6.pty().receive(command.size()), command);
    // The report queued before the write is gone.
    links.PollSerialLink(DecodeMode::Live, cursor);
    links.PollSerialLink(DecodeMode::Live, cursor);
    EXPECT_TRUE(delivered.empty());
}

TEST_F(SerialLinksTest, PortsTakeTurnsAndSkipClosedSlots) {
    MappedPty com2(2), com8(8), com11(11);
    check(2);
    check(8);
    check(11);
    links.OpenSerialLinks();
    std::vector<int> served;
    for (int i = 0; i < 4; ++i) {
        links.PollSerialLink(DecodeMode::Live, cursor);
        served.push_back(cursor);
    }
    EXPECT_EQ(served, (std::vector<int>{2, 8, 11, 2}));
}

TEST_F(SerialLinksTest, ClosingGivesEveryPortBackItsSettings) {
    MappedPty com3(3);
    termios before{};
    ASSERT_EQ(::tcgetattr(com3.pty().slave(), &before), 0);
    ::cfsetispeed(&before, B9600);
    ::cfsetospeed(&before, B9600);
    before.c_lflag |= ICANON | ECHO;
    before.c_cc[VMIN] = 4;
    before.c_cc[VTIME] = 7;
    ASSERT_EQ(::tcsetattr(com3.pty().slave(), TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(com3.pty().slave(), &before), 0);

    check(3);
    links.OpenSerialLinks();
    ASSERT_TRUE(links.isOpen(3));
    termios during{};
    ASSERT_EQ(::tcgetattr(com3.pty().slave(), &during), 0);
    EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B115200));
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(during.c_cc[VMIN], 0);
    EXPECT_EQ(during.c_cc[VTIME], 0);

    links.CloseSerialLinks(true);
    termios after{};
    ASSERT_EQ(::tcgetattr(com3.pty().slave(), &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_cc[VMIN], 4);
    EXPECT_EQ(after.c_cc[VTIME], 7);

    // Without the restore flag the port is closed as it is.
    links.OpenSerialLinks();
    links.CloseSerialLinks(false);
    EXPECT_FALSE(links.isOpen(3));
    ASSERT_EQ(::tcgetattr(com3.pty().slave(), &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B115200));
}

} // namespace
