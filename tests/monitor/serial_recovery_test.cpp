// Serial devices that go away and come back during a run: pseudo-terminals whose map entry
// vanishes, returns, or is pointed at another device.

#include "monitor/serial_links.h"
#include "platform/pty_pair.h"
#include "support/test_env.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using kelta::monitor::DecodeMode;
using kelta::monitor::SerialLinks;
using kelta::test::PtyPair;
using Bytes = std::vector<std::uint8_t>;

const Bytes kFrame{0x06, 0x00, 0x04, 0xC1, 0xC2, 0xC3, 0xC4};

QString mapEntry(int n) {
    return kelta::test::serialMapDir() + QStringLiteral("/COM%1").arg(n);
}

void pointEntry(int n, const QString& target) {
    QFile::remove(mapEntry(n));
    ASSERT_TRUE(QFile::link(target, mapEntry(n)));
}

// Gives the slave side settings no run would choose, so that their return can be seen.
void giveOddSettings(PtyPair& pty) {
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &t), 0);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    t.c_cc[VMIN] = 3;
    t.c_cc[VTIME] = 9;
    ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &t), 0);
}

speed_t speedOf(PtyPair& pty) {
    termios t{};
    ::tcgetattr(pty.slave(), &t);
    return ::cfgetospeed(&t);
}

class SerialRecoveryTest : public ::testing::Test {
protected:
    void SetUp() override { kelta::test::setTimeScale(1.0); }
    void TearDown() override {
        links.CloseSerialLinks(true);
        for (int n = 1; n <= 30; ++n) QFile::remove(mapEntry(n));
        kelta::test::setTimeScale(1.0);
    }

    void check(int n) { links.setPortChecked(n, true); }

    // Sends a frame on the device side every 50 ms (a port being opened purges what came
    // before) and polls until one from port n was delivered, or the time is up.
    bool frameFrom(int n, PtyPair& pty, int timeoutMs = 3000) {
        const std::string name = SerialLinks::portName(n);
        const std::size_t before = delivered.size();
        QElapsedTimer clock, sent;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (!sent.isValid() || sent.elapsed() >= 50) {
                if (!pty.send(kFrame)) return false;
                sent.start();
            }
            links.PollSerialLink(DecodeMode::Live, cursor);
            for (std::size_t i = before; i < delivered.size(); ++i)
                if (delivered[i] == name) return true;
            QTest::qWait(5);
        }
        return false;
    }
    // Polls until port n is no longer open: the loss has been seen.
    bool seenLost(int n) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            links.PollSerialLink(DecodeMode::Live, cursor);
            if (!links.isOpen(n)) return true;
            QTest::qWait(5);
        }
        return false;
    }

    std::vector<std::string> delivered;
    SerialLinks links{[this](DecodeMode, std::string_view port, std::span<const std::uint8_t>) {
        delivered.emplace_back(port);
        return true;
    }};
    int cursor = 0;
};

// What happens to the map entry of a port once its device has gone.
enum class Entry { Returns, Removed, Dangling };

TEST_F(SerialRecoveryTest, ALostDeviceIsReopenedOnlyWhenItsEntryNamesADeviceAgain) {
    struct Case {
        const char* name;
        Entry entry;
        bool reopened;
    };
    const Case cases[] = {
        {"entry back with a new device", Entry::Returns, true},
        {"entry removed: no fall-back to a fixed port", Entry::Removed, false},
        {"entry left pointing at nothing", Entry::Dangling, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto first = std::make_unique<PtyPair>();
        pointEntry(4, first->slavePath());
        check(4);
        links.OpenSerialLinks();
        ASSERT_TRUE(links.isOpen(4));
        ASSERT_TRUE(frameFrom(4, *first));

        // Pulled out: the device hangs up and its entry goes (or dangles).
        first.reset();
        QFile::remove(mapEntry(4));
        if (c.entry == Entry::Dangling) {
            ASSERT_TRUE(QFile::link(kelta::test::tempRoot() + "/gone-device", mapEntry(4)));
        }
        ASSERT_TRUE(seenLost(4));
        EXPECT_EQ(links.lostCount(4), 1);

        PtyPair second;
        giveOddSettings(second);
        if (c.entry == Entry::Returns) pointEntry(4, second.slavePath());
        EXPECT_EQ(links.reopenLostPorts(), c.reopened ? 1 : 0);
        EXPECT_EQ(links.isOpen(4), c.reopened);
        EXPECT_EQ(links.reopenCount(4), c.reopened ? 1 : 0);
        if (c.reopened) {
            // Read as at Start, and given back its own settings at the end.
            EXPECT_EQ(speedOf(second), static_cast<speed_t>(B115200));
            EXPECT_TRUE(frameFrom(4, second));
            links.CloseSerialLinks(true);
            EXPECT_EQ(speedOf(second), static_cast<speed_t>(B9600));
        }
        links.CloseSerialLinks(true);
        QFile::remove(mapEntry(4));
        delivered.clear();
    }
}

TEST_F(SerialRecoveryTest, TheRunLooksForTheDeviceAboutOnceASecond) {
    kelta::test::setTimeScale(0.2); // looked for every 200 ms
    PtyPair first;
    pointEntry(6, first.slavePath());
    check(6);
    links.OpenSerialLinks();
    ASSERT_TRUE(frameFrom(6, first));
    first.closeMaster();
    QFile::remove(mapEntry(6));
    ASSERT_TRUE(seenLost(6));

    // The device comes back; nothing but the polls of the run bring it in.
    PtyPair second;
    pointEntry(6, second.slavePath());
    EXPECT_TRUE(frameFrom(6, second, 3000));
    EXPECT_EQ(links.reopenCount(6), 1);
    EXPECT_EQ(links.lostCount(6), 1);
    EXPECT_EQ(links.highestSerialPort(), 6);
}

TEST_F(SerialRecoveryTest, AnEntryPointedAtAnotherDeviceIsFollowed) {
    PtyPair first, second;
    giveOddSettings(first);
    pointEntry(2, first.slavePath());
    check(2);
    links.OpenSerialLinks();
    ASSERT_TRUE(frameFrom(2, first));

    // The old device is still there, but the entry now names another one.
    pointEntry(2, second.slavePath());
    EXPECT_EQ(links.reopenLostPorts(), 1);
    EXPECT_TRUE(frameFrom(2, second));
    // The device left behind got its settings back when the port moved on.
    EXPECT_EQ(speedOf(first), static_cast<speed_t>(B9600));
    // The same entry again changes nothing.
    EXPECT_EQ(links.reopenLostPorts(), 0);
    EXPECT_EQ(links.reopenCount(2), 1);
}

TEST_F(SerialRecoveryTest, ACheckedPortWithoutADeviceAtStartIsOpenedWhenItAppears) {
    PtyPair com3, com9;
    pointEntry(3, com3.slavePath());
    // COM9's entry exists but names nothing yet; COM8 is checked but not mapped at all.
    ASSERT_TRUE(QFile::link(kelta::test::tempRoot() + "/not-yet", mapEntry(9)));
    check(3);
    check(9);
    links.OpenSerialLinks();
    EXPECT_TRUE(links.isOpen(3));
    EXPECT_FALSE(links.isOpen(9));
    EXPECT_EQ(links.highestSerialPort(), 3);
    EXPECT_EQ(links.reopenLostPorts(), 0);

    pointEntry(9, com9.slavePath());
    EXPECT_EQ(links.reopenLostPorts(), 1);
    EXPECT_EQ(links.highestSerialPort(), 9);
    EXPECT_TRUE(frameFrom(9, com9));
    EXPECT_TRUE(frameFrom(3, com3));
    // A port not checked is never looked for.
    PtyPair com5;
    pointEntry(5, com5.slavePath());
    EXPECT_EQ(links.reopenLostPorts(), 0);
    EXPECT_FALSE(links.isOpen(5));
}

TEST_F(SerialRecoveryTest, NothingIsLookedForAfterTheRunEnds) {
    PtyPair first;
    pointEntry(7, first.slavePath());
    check(7);
    links.OpenSerialLinks();
    first.closeMaster();
    ASSERT_TRUE(seenLost(7));
    links.CloseSerialLinks(true);
    PtyPair second;
    pointEntry(7, second.slavePath());
    EXPECT_EQ(links.reopenLostPorts(), 0);
    EXPECT_FALSE(links.isOpen(7));
}

} // namespace
