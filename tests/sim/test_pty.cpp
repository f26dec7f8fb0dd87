// The simulated reader on a pseudo-terminal registered as COMn in the serial device map,
// opened the way the utility opens a port: plain termios on the link's target.

#include "sim_test_util.h"
#include "support/test_env.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace kelta::sim;
using namespace kelta::sim::test;

namespace {

int openPort(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    ::tcsetattr(fd, TCSANOW, &t);
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

// Reads what is queued, pumping events, until cond holds. A hang-up ends the wait early.
bool readPort(int fd, QByteArray& all, const std::function<bool(const QByteArray&)>& cond,
              int timeoutMs, int* lastError = nullptr) {
    return SimHost::waitUntil(
        [&] {
            int queued = 0;
            if (::ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) {
                QByteArray b(queued, 0);
                const ssize_t n = ::read(fd, b.data(), static_cast<size_t>(queued));
                if (n > 0) all += b.left(n);
            } else {
                char c;
                const ssize_t n = ::read(fd, &c, 1);
                if (n == 1) all += c;
                if (n == 0 || (n < 0 && errno != EAGAIN)) {
                    if (lastError) *lastError = n == 0 ? 0 : errno;
                    return true;
                }
            }
            return cond(all);
        },
        timeoutMs);
}

} // namespace

TEST(SimPty, RegistersComLinkReadsWritesAndRemovesIt) {
    SimHost host;
    ReaderConfig c;
    c.readerId = 3;
    c.faults.split = SplitMode::OneByte; // one-byte writes reach a port whole as well
    const int idx = host.addReader(c);
    ASSERT_TRUE(host.openPty(idx, 7));
    const QString link = QDir(kelta::test::serialMapDir()).filePath("COM7");
    EXPECT_EQ(host.comLinkPath(idx), link);
    const QFileInfo info(link);
    ASSERT_TRUE(info.isSymLink());
    EXPECT_EQ(info.symLinkTarget(), host.ptySlavePath(idx));

    for (int round = 0; round < 2; ++round) { // the port is closed and opened again
        const int fd = openPort(link);
        ASSERT_GE(fd, 0) << round;
        host.call(idx, [](ReaderSim& r) { r.sendLiveReports(2); });
        QByteArray got;
        ASSERT_TRUE(readPort(
            fd, got, [](const QByteArray& b) { return cutFrames(b).frames.size() >= 2; }, 5000));
        const auto frames = cutFrames(got).frames;
        EXPECT_EQ(u16(frames[0], 5), 0x6040);
        EXPECT_EQ(u16(frames[0], 7), 3);
        // Bytes written on the port reach the reader unchanged (0x0D, 0x0A, 0x11 included).
        const QByteArray ann = hex("05000C0000601130300D0A11000000");
        ASSERT_EQ(::write(fd, ann.constData(), static_cast<size_t>(ann.size())), ann.size());
        // Opening the port purges what the reader has not read yet: wait for it first.
        EXPECT_TRUE(host.waitForFrames(idx, 0x6011, static_cast<std::size_t>(round) + 1, 5000));
        ::close(fd);
    }
    ASSERT_EQ(host.reader(idx).receivedCount(), 2u);
    for (const auto& f : host.reader(idx).received())
        EXPECT_EQ(f.data, (Bytes{0x30, 0x30, 0x0D, 0x0A, 0x11, 0, 0, 0})) << f.raw.size();

    host.stopReader(idx);
    EXPECT_FALSE(QFileInfo::exists(link));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(SimPty, HangUpEndsReadsAndReopenComesBack) {
    SimHost host;
    const int idx = host.addReader();
    ASSERT_TRUE(host.openPty(idx, 8));
    const QString link = host.comLinkPath(idx);
    const int fd = openPort(link);
    ASSERT_GE(fd, 0);
    host.call(idx, [](ReaderSim& r) { r.cutMidFrame(true); });
    QByteArray got;
    int err = -1;
    readPort(
        fd, got, [](const QByteArray&) { return false; }, 3000, &err);
    EXPECT_TRUE(err == 0 || err == EIO) << err;
    EXPECT_FALSE(got.isEmpty());
    EXPECT_TRUE(cutFrames(got).frames.empty()); // half a frame, then the line is gone
    ::close(fd);
    EXPECT_FALSE(QFileInfo(link).isSymLink());

    bool ok = false;
    host.call(idx, [&](ReaderSim& r) { ok = r.reopenPty(); });
    ASSERT_TRUE(ok);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    const int fd2 = openPort(link);
    ASSERT_GE(fd2, 0);
    host.call(idx, [](ReaderSim& r) { r.sendLiveReports(1); });
    got.clear();
    EXPECT_TRUE(readPort(
        fd2, got, [](const QByteArray& b) { return !cutFrames(b).frames.empty(); }, 5000));
    ::close(fd2);
}

TEST(SimPty, SeveralReadersOnConsecutiveComNumbers) {
    SimHost host;
    for (int i = 0; i < 3; ++i) {
        ReaderConfig c;
        c.readerId = static_cast<std::uint16_t>(10 + i);
        const int idx = host.addReader(c);
        ASSERT_TRUE(host.openPty(idx, 20 + i));
    }
    QStringList names = QDir(kelta::test::serialMapDir()).entryList(QDir::System | QDir::Files);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(names.contains(QStringLiteral("COM%1").arg(20 + i)));
    for (int i = 0; i < 3; ++i) {
        const int fd = openPort(host.comLinkPath(i));
        ASSERT_GE(fd, 0);
        host.call(i, [](ReaderSim& r) { r.sendLiveReports(1); });
        QByteArray got;
        ASSERT_TRUE(readPort(
            fd, got, [](const QByteArray& b) { return !cutFrames(b).frames.empty(); }, 5000));
        EXPECT_EQ(u16(cutFrames(got).frames[0], 7), 10 + i);
        ::close(fd);
    }
    host.stop();
    names = QDir(kelta::test::serialMapDir()).entryList(QDir::System | QDir::Files);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(names.contains(QStringLiteral("COM%1").arg(20 + i)));
}

TEST(SimPty, FramesNobodyReadsAreNotCountedAsSent) {
    SimHost host;
    const int idx = host.addReader();
    ASSERT_TRUE(host.openPty(idx, 9));
    // Far more than the pseudo-terminal and the 64 KiB queue hold, while no port is open.
    host.call(idx, [](ReaderSim& r) { r.sendLiveReports(8000); });
    quint64 last = ~0ull;
    ASSERT_TRUE(SimHost::waitUntil(
        [&] {
            SimHost::waitUntil([] { return false; }, 20);
            const quint64 now = host.reader(idx).stats().liveFramesSent;
            const bool stable = now == last;
            last = now;
            return stable;
        },
        10000));
    EXPECT_GT(last, 0u);
    EXPECT_LT(last, 8000u);
    EXPECT_EQ(host.reader(idx).stats().bytesSent, last * 33);
}
