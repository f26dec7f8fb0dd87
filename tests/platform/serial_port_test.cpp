#include "platform/serial_port.h"
#include "platform/timings.h"
#include "pty_pair.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <numeric>
#include <thread>

using kelta::platform::LineSettings;
using kelta::platform::parseLineSettings;
using kelta::platform::Purge;
using kelta::platform::SerialPort;
using kelta::test::eventually;
using kelta::test::PtyPair;

namespace {

// Registers the pty's slave as COMn in the test's serial device map.
class MappedPty {
public:
    explicit MappedPty(int n)
        : link_(QDir(kelta::test::serialMapDir()).filePath(QStringLiteral("COM%1").arg(n))) {
        QFile::remove(link_);
        QFile::link(pty.slavePath(), link_);
    }
    ~MappedPty() { QFile::remove(link_); }
    PtyPair pty;

private:
    QString link_;
};

std::vector<std::uint8_t> allByteValues() {
    std::vector<std::uint8_t> v(256);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

std::optional<int> waitForQueued(SerialPort& port, int count) {
    std::optional<int> q;
    eventually([&] {
        q = port.queuedInput();
        return !q || *q >= count;
    });
    return q;
}

} // namespace

TEST(SerialPort, RoundTripBothWaysPassesEveryByteUnchanged) {
    MappedPty mapped(7);
    ASSERT_TRUE(mapped.pty.valid());
    SerialPort port;
    ASSERT_TRUE(port.open(7)) << port.lastErrorText().toStdString();
    EXPECT_TRUE(port.isOpen());
    ASSERT_TRUE(port.applyLineSettings(QStringLiteral("115200,n,8,1")));
    EXPECT_TRUE(port.setQueueSizes(2048, 2048));

    // Outgoing: control bytes, CR/LF, XON/XOFF and 0xFF must not be translated or eaten.
    const auto bytes = allByteValues();
    ASSERT_EQ(port.write(bytes), bytes.size());
    EXPECT_EQ(mapped.pty.receive(bytes.size()), bytes);

    // Incoming: the queued count is what arrived, and reading it returns exactly that.
    ASSERT_TRUE(mapped.pty.send(bytes));
    ASSERT_EQ(waitForQueued(port, 256), 256);
    const auto got = port.read(std::size_t{256});
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, bytes);
    EXPECT_EQ(port.queuedInput(), 0);
    // Nothing queued: the read returns at once with nothing.
    const auto none = port.read(std::size_t{16});
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(SerialPort, OpenIsExclusiveAndMissingDevicesFail) {
    MappedPty mapped(3);
    SerialPort first;
    ASSERT_TRUE(first.open(3));
    SerialPort second;
    EXPECT_FALSE(second.open(3));
    EXPECT_EQ(second.lastError(), EBUSY);
    EXPECT_FALSE(second.open(mapped.pty.slavePath())) << "the same device by its own path";
    EXPECT_FALSE(second.isOpen());

    first.close();
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(second.open(3)) << "free again after close: "
                                << second.lastErrorText().toStdString();

    SerialPort other;
    EXPECT_FALSE(other.open(0));
    EXPECT_FALSE(other.open(QStringLiteral("/dev/kelta-no-such-device")));
    EXPECT_EQ(other.lastError(), ENOENT);

    // A link whose device is gone, and a plain file, are no ports.
    const QString dangling = QDir(kelta::test::serialMapDir()).filePath("COM9");
    QFile::link("/dev/kelta-gone", dangling);
    EXPECT_FALSE(other.open(9));
    QFile::remove(dangling);
    const QString plain = QDir(kelta::test::tempRoot()).filePath("plain.txt");
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_FALSE(other.open(plain));
    EXPECT_EQ(other.lastError(), ENOTTY);

    // Calls on a closed port fail instead of touching a stale descriptor.
    EXPECT_FALSE(other.queuedInput());
    EXPECT_FALSE(other.read(std::size_t{4}));
    EXPECT_FALSE(other.write(std::vector<std::uint8_t>{1}));
    EXPECT_FALSE(other.purge(Purge::Both));
    EXPECT_FALSE(other.saveState());
}

TEST(SerialPort, MovedPortKeepsTheDeviceAndTheLock) {
    PtyPair pty;
    SerialPort a;
    ASSERT_TRUE(a.open(pty.slavePath()));
    SerialPort b = std::move(a);
    EXPECT_FALSE(a.isOpen());
    EXPECT_TRUE(b.isOpen());
    SerialPort c;
    EXPECT_FALSE(c.open(pty.slavePath()));
    b = SerialPort();
    EXPECT_TRUE(c.open(pty.slavePath()));
}

TEST(SerialPort, RestoreStateUndoesLineSettingsAndTimeouts) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    const auto saved = port.saveState();
    ASSERT_TRUE(saved);

    ASSERT_TRUE(port.applyLineSettings(QStringLiteral("4800,e,7,2")));
    termios now{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &now), 0);
    EXPECT_EQ(::cfgetospeed(&now), B4800);
    EXPECT_EQ(::cfgetispeed(&now), B4800);
    EXPECT_TRUE(now.c_cflag & CLOCAL);
    EXPECT_TRUE(now.c_cflag & CREAD);
    EXPECT_FALSE(now.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(now.c_cc[VMIN], 0);
    EXPECT_EQ(now.c_cc[VTIME], 0);
    ASSERT_NE(::cfgetospeed(&saved->attrs), B4800) << "the change must be visible";

    // A text that does not parse changes nothing.
    EXPECT_FALSE(port.applyLineSettings(QStringLiteral("9600,x,8,1")));
    termios unchanged{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &unchanged), 0);
    EXPECT_EQ(unchanged.c_cflag, now.c_cflag);
    EXPECT_EQ(::cfgetospeed(&unchanged), B4800);

    ASSERT_TRUE(port.restoreState(*saved));
    termios back{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &back), 0);
    EXPECT_EQ(back.c_cflag, saved->attrs.c_cflag);
    EXPECT_EQ(back.c_iflag, saved->attrs.c_iflag);
    EXPECT_EQ(back.c_oflag, saved->attrs.c_oflag);
    EXPECT_EQ(back.c_lflag, saved->attrs.c_lflag);
    EXPECT_EQ(::cfgetospeed(&back), ::cfgetospeed(&saved->attrs));
    EXPECT_EQ(back.c_cc[VMIN], saved->attrs.c_cc[VMIN]);
    EXPECT_EQ(back.c_cc[VTIME], saved->attrs.c_cc[VTIME]);
}

TEST(SerialPort, PurgeDropsQueuedInputButNotLaterBytes) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.applyLineSettings(QStringLiteral("115200,n,8,1")));

    ASSERT_TRUE(pty.send(std::vector<std::uint8_t>(100, 0x06)));
    ASSERT_EQ(waitForQueued(port, 100), 100);
    ASSERT_TRUE(port.purge(Purge::Input));
    EXPECT_EQ(port.queuedInput(), 0);

    ASSERT_TRUE(pty.send({0x06, 0x00, 0x04}));
    ASSERT_EQ(waitForQueued(port, 3), 3);
    ASSERT_TRUE(port.purge(Purge::Both));
    EXPECT_EQ(port.queuedInput(), 0);
    EXPECT_TRUE(port.purge(Purge::Output));

    ASSERT_TRUE(pty.send({0xAA, 0x55}));
    ASSERT_EQ(waitForQueued(port, 2), 2);
    EXPECT_EQ(port.read(std::size_t{2}), (std::vector<std::uint8_t>{0xAA, 0x55}));
}

TEST(SerialPort, DeviceThatVanishesWhileOpenReportsFailure) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.applyLineSettings(QStringLiteral("115200,n,8,1")));
    ASSERT_TRUE(pty.send({1, 2, 3}));
    ASSERT_EQ(waitForQueued(port, 3), 3);

    pty.closeMaster(); // mid-frame: the other side is gone with bytes still on the way
    EXPECT_FALSE(port.queuedInput());
    EXPECT_FALSE(port.read(std::size_t{3}));
    EXPECT_FALSE(port.write(std::vector<std::uint8_t>{0x05, 0x00}));
    EXPECT_NE(port.lastError(), 0);
    EXPECT_TRUE(port.isOpen()) << "the handle stays until the owner closes it";
    port.close();
    EXPECT_FALSE(port.isOpen());
}

TEST(SerialPort, DeviceThatComesBackUnderItsNameOpensAgain) {
    SerialPort port;
    {
        MappedPty first(4);
        ASSERT_TRUE(port.open(4));
        first.pty.closeMaster();
        EXPECT_FALSE(port.queuedInput());
        port.close();
    }
    EXPECT_FALSE(port.open(4)) << "the entry is gone";
    MappedPty second(4);
    ASSERT_TRUE(port.open(4)) << port.lastErrorText().toStdString();
    ASSERT_TRUE(port.applyLineSettings(QStringLiteral("115200,n,8,1")));
    ASSERT_TRUE(second.pty.send({0x06}));
    ASSERT_EQ(waitForQueued(port, 1), 1);
    EXPECT_EQ(port.read(16), std::vector<std::uint8_t>{0x06});
}

TEST(SerialPort, WriteWaitsForTheQueueToDrainAndGivesUpWhenItDoesNot) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.applyLineSettings(QStringLiteral("115200,n,8,1")));

    // Far more than a pty buffers: the writer must loop over partial writes.
    std::vector<std::uint8_t> big(256 * 1024);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint8_t> seen;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> count{0};
    std::thread reader([&] {
        std::uint8_t buf[4096];
        while (!stop && seen.size() < big.size()) {
            const ssize_t n = ::read(pty.master(), buf, sizeof buf);
            if (n > 0) {
                seen.insert(seen.end(), buf, buf + n);
                count = seen.size();
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
    const auto written = port.write(big);
    eventually([&] { return count >= big.size(); });
    stop = true;
    reader.join();
    ASSERT_EQ(written, big.size());
    EXPECT_EQ(seen, big);

    // Nobody reads: the write stops after its time-out with a short count.
    const auto stuck = port.write(big);
    ASSERT_TRUE(stuck);
    EXPECT_LT(*stuck, big.size());
    EXPECT_EQ(port.lastError(), ETIMEDOUT);
}

TEST(SerialPort, LineSettingsMapOntoTermiosFlags) {
    termios t{};
    t.c_iflag = IXON | IXOFF | ICRNL | INPCK;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag = CRTSCTS | HUPCL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    ASSERT_TRUE(kelta::platform::configureTermios(t, {4800, 'e', 7, 2}));
    EXPECT_EQ(::cfgetospeed(&t), B4800);
    EXPECT_EQ(::cfgetispeed(&t), B4800);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    ASSERT_TRUE(kelta::platform::configureTermios(t, {230400, 'o', 8, 1}));
    EXPECT_EQ(::cfgetospeed(&t), B230400);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), static_cast<tcflag_t>(PARENB | PARODD));
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    ASSERT_TRUE(kelta::platform::configureTermios(t, {115200, 'n', 8, 1}));
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(kelta::platform::configureTermios(t, {12345, 'n', 8, 1}));
}

TEST(LineSettingsParser, AcceptsEveryChoiceOfTheBaudList) {
    struct Case {
        const char* text;
        LineSettings expected;
    };
    const Case cases[] = {
        {"4800,n,8,1", {4800, 'n', 8, 1}},     {"4800,e,8,1", {4800, 'e', 8, 1}},
        {"9600,n,8,1", {9600, 'n', 8, 1}},     {"9600,e,8,1", {9600, 'e', 8, 1}},
        {"19200,n,8,1", {19200, 'n', 8, 1}},   {"19200,e,8,1", {19200, 'e', 8, 1}},
        {"38400,n,8,1", {38400, 'n', 8, 1}},   {"38400,e,8,1", {38400, 'e', 8, 1}},
        {"57600,n,8,1", {57600, 'n', 8, 1}},   {"57600,e,8,1", {57600, 'e', 8, 1}},
        {"115200,n,8,1", {115200, 'n', 8, 1}}, {"115200,e,8,1", {115200, 'e', 8, 1}},
        {"230400,n,8,1", {230400, 'n', 8, 1}}, {"230400,e,8,1", {230400, 'e', 8, 1}},
        {"9600,O,7,2", {9600, 'o', 7, 2}},     {" 115200 , N , 8 , 1 ", {115200, 'n', 8, 1}},
        {"\t4800,E,7,1\n", {4800, 'e', 7, 1}},
    };
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseLineSettings(std::string_view(c.text));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(*parsed, c.expected);
        EXPECT_EQ(parseLineSettings(QString::fromLatin1(c.text)), parsed);
        EXPECT_TRUE(port.applyLineSettings(*parsed)) << port.lastErrorText().toStdString();
    }
}

TEST(LineSettingsParser, RejectsMalformedTexts) {
    const char* rejects[] = {
        "",
        "115200",
        "115200,n,8",
        "115200,n,8,1,",
        "115200,n,8,1,1",
        "115201,n,8,1",
        "0,n,8,1",
        "-9600,n,8,1",
        "+9600,n,8,1",
        "1e5,n,8,1",
        "abc,n,8,1",
        "115200,x,8,1",
        "115200,,8,1",
        "115200,no,8,1",
        "115200,m,8,1",
        "115200,n,9,1",
        "115200,n,6,1",
        "115200,n,8,3",
        "115200,n,8,1.5",
        "115200;n;8;1",
        "115200 n 8 1",
        ",,,",
        "11520 0,n,8,1",
        "00000000115200,n,8,1",
    };
    for (const char* text : rejects) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseLineSettings(std::string_view(text)));
    }
    EXPECT_FALSE(parseLineSettings(QStringLiteral("115200,ñ,8,1")));
}
