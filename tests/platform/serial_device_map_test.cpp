#include "platform/serial_device_map.h"
#include "pty_pair.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace platform = kelta::platform;
using kelta::test::PtyPair;

TEST(SerialDeviceMap, DevicePathComesFromTheMapElseTheFixedPort) {
    const QDir map(kelta::test::serialMapDir());
    EXPECT_EQ(platform::serialMapDir(), kelta::test::serialMapDir());
    PtyPair pty;
    ASSERT_TRUE(QFile::link(pty.slavePath(), map.filePath("COM12")));
    EXPECT_EQ(platform::devicePathFor(12), pty.slavePath());

    // An entry that is no link is the device itself.
    QFile plain(map.filePath("COM13"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(platform::devicePathFor(13), map.filePath("COM13"));

    EXPECT_EQ(platform::devicePathFor(1), "/dev/ttyS0");
    EXPECT_EQ(platform::devicePathFor(32), "/dev/ttyS31");
    EXPECT_EQ(platform::devicePathFor(0), "");
    EXPECT_EQ(platform::devicePathFor(-3), "");

    // Entries named in another case or with leading zeros are found by their number.
    ASSERT_TRUE(QFile::link(pty.slavePath(), map.filePath("com05")));
    EXPECT_EQ(platform::devicePathFor(5), pty.slavePath());
    QFile::remove(map.filePath("com05"));

    QFile::remove(map.filePath("COM12"));
    QFile::remove(map.filePath("COM13"));
    EXPECT_EQ(platform::devicePathFor(12), "/dev/ttyS11");
}

TEST(SerialDeviceMap, PortListHasEveryEntryAndOnlyRealFixedPorts) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QDir(root.path()).mkpath("map");
    QDir(root.path()).mkpath("dev");
    const QDir map(root.filePath("map"));
    const QDir dev(root.filePath("dev"));

    PtyPair a, b;
    QFile::link(a.slavePath(), map.filePath("COM12"));
    QFile::link(b.slavePath(), map.filePath("COM3"));
    QFile::link("/dev/kelta-unplugged", map.filePath("COM100")); // device gone: still listed
    QFile::link(a.slavePath(), map.filePath("VCOM4"));
    QFile::link(a.slavePath(), map.filePath("COM150"));

    // Fixed-port nodes without a UART behind them are left out, whatever they are.
    PtyPair phantom;
    QFile::link(phantom.slavePath(), dev.filePath("ttyS0"));
    QFile::link("/dev/null", dev.filePath("ttyS1"));
    QFile node(dev.filePath("ttyS4"));
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    node.close();

    const QStringList list = platform::systemPortList(map.path(), dev.filePath("ttyS"));
    EXPECT_EQ(list, (QStringList{"COM3", "COM12", "COM100", "COM150", "VCOM4"}));

    EXPECT_FALSE(platform::isRealUart(phantom.slavePath()));
    EXPECT_FALSE(platform::isRealUart("/dev/null"));
    EXPECT_FALSE(platform::isRealUart(dev.filePath("ttyS4")));
    EXPECT_FALSE(platform::isRealUart("/dev/kelta-missing"));

    EXPECT_TRUE(platform::systemPortList(root.filePath("no-map"), dev.filePath("ttyS")).isEmpty());
}

TEST(SerialDeviceMap, DefaultListUsesTheMap) {
    const QDir map(kelta::test::serialMapDir());
    PtyPair pty;
    ASSERT_TRUE(QFile::link(pty.slavePath(), map.filePath("COM2")));
    const QStringList list = platform::systemPortList();
    QFile::remove(map.filePath("COM2"));
    EXPECT_TRUE(list.contains("COM2"));
    EXPECT_EQ(platform::systemPortList().contains("COM2"), platform::isRealUart("/dev/ttyS1"));
}
