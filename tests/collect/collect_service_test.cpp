// The collector as a service that runs for months: its files rotated by size under a stream of
// records and the old ones bounded, the settings file it writes kept private, password files
// that others may read refused and passwords never shown, and the listening address.
#include "collect/collect_process.h"
#include "platform/files.h"
#include "support/file_mode.h"
#include "support/report_frames.h"

#include <QHostAddress>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using kelta::test::CollectProcess;
using kelta::test::fileLines;
using kelta::test::fileMode;
using kelta::test::freePort;
using kelta::test::MappedPty;
using kelta::test::writeSettings;

// The ISN of an auto-save line (its ISN_H and ISN_L cells): the frame number it came from.
int frameOf(const QString& line) {
    const QStringList cells = line.split(QLatin1Char(','));
    if (cells.size() < 13) return -1;
    bool h = false, l = false;
    const int high = cells[11].trimmed().toInt(&h, 16), low = cells[12].trimmed().toInt(&l, 16);
    return h && l ? high * 256 + low : -1;
}

class CollectService : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        writeSettings({});
    }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

// --rotate with a small size under a stream of reports: more than ten files, each with its
// header and its own numbers, every record once across them; then, with the settings' values,
// the keep count honoured and each deletion said.
TEST_F(CollectService, RotatesBySizeWithoutLosingOrDoublingARecord) {
    MappedPty com(11);
    CollectProcess collector;
    ASSERT_TRUE(collector.start({"--serial", "COM11", "--auto-save", path("rot/Kelta.csv"),
                                 "--rotate", "2K", "--keep", "1000"}));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")))
        << collector.errorText().toStdString();
    const auto frames = kelta::test::liveReports(300, 9);
    std::size_t sent = 0;
    const QString csv = path("rot/Kelta.csv");
    auto saved = [&] {
        int n = 0;
        for (const QString& f : kelta::platform::asideFiles(csv) + QStringList{csv})
            n += std::max<int>(static_cast<int>(fileLines(f).size()) - 1, 0);
        return n;
    };
    // Under load: frames as fast as the collector takes them, in bursts.
    ASSERT_TRUE(collector.waitFor([&] {
        for (int k = 0; k < 10 && sent < frames.size(); ++k) com.pty().send(frames[sent++]);
        return saved() >= 300;
    })) << saved()
        << " " << collector.errorText().toStdString();
    ASSERT_TRUE(collector.stop());
    EXPECT_EQ(collector.exitCode(), 0) << collector.errorText().toStdString();

    const QStringList kept = kelta::platform::asideFiles(csv);
    EXPECT_GE(kept.size(), 10);
    EXPECT_EQ(collector.count(QStringLiteral(" rotated: kept as ")), kept.size());
    QList<int> order;
    for (const QString& f : kept + QStringList{csv}) {
        const QStringList l = fileLines(f);
        ASSERT_GE(l.size(), 2) << f.toStdString();
        EXPECT_TRUE(l.first().contains(QStringLiteral("UID"))) << f.toStdString();
        EXPECT_LE(QFileInfo(f).size(), 2048);
        for (int i = 1; i < l.size(); ++i) {
            EXPECT_TRUE(l[i].startsWith(QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'))))
                << f.toStdString() << ": " << l[i].toStdString();
            order << frameOf(l[i]);
        }
    }
    ASSERT_EQ(order.size(), 300);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(order[i], i) << "frame " << i;
    EXPECT_TRUE(collector.outputText().contains(
        QStringLiteral("(300 lines, %1 files rotated)").arg(kept.size())))
        << collector.outputText().toStdString();

    // The same from the settings file, keeping three: the earlier run's file and the rotated
    // ones beyond three are deleted, each said on stderr.
    writeSettings({{"RotateFiles", "2K"}, {"KeepFiles", 3}});
    CollectProcess again;
    ASSERT_TRUE(again.start({"--serial", "COM11", "--auto-save", path("rot/Kelta.csv")}));
    ASSERT_TRUE(again.waitForError(QStringLiteral("monitoring started")))
        << again.errorText().toStdString();
    const auto more = kelta::test::liveReports(60, 3);
    com.pty().send(kelta::test::joined(more));
    ASSERT_TRUE(again.waitFor([&] {
        return frameOf(fileLines(csv).value(fileLines(csv).size() - 1)) == 59;
    })) << again.errorText().toStdString();
    ASSERT_TRUE(again.stop());
    EXPECT_EQ(kelta::platform::asideFiles(csv).size(), 3);
    EXPECT_EQ(again.count(QStringLiteral(" deleted (keeping 3)")),
              kept.size() + 1 + again.count(QStringLiteral(" rotated: kept as ")) - 3)
        << again.errorText().toStdString();
}

// The settings file the collector writes (the client ID it makes once) is its owner's alone; a
// wider one is narrowed once, said on stderr.
TEST_F(CollectService, TheSettingsFileItWritesIsPrivate) {
    writeSettings({{"MQTTENABLED", 1}, {"MQTTHOST", "127.0.0.1"}, {"MQTTPORT", freePort()}});
    const QString settings = kelta::test::settingsFilePath();
    ASSERT_TRUE(QFile::setPermissions(settings, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadGroup |
                                                    QFileDevice::ReadOther));
    ASSERT_EQ(fileMode(settings), 0644u);
    MappedPty com(12);
    for (int run = 0; run < 2; ++run) {
        CollectProcess collector;
        ASSERT_TRUE(collector.start({"--serial", "COM12", "--auto-save", path("m/Kelta.csv")}));
        ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")))
            << collector.errorText().toStdString();
        ASSERT_TRUE(collector.stop());
        EXPECT_EQ(fileMode(settings), 0600u) << "run " << run;
        EXPECT_EQ(collector.count(QStringLiteral("could be read by others (mode 644); it is now "
                                                 "mode 600")),
                  run == 0 ? 1 : 0)
            << collector.errorText().toStdString();
    }
    EXPECT_TRUE(QSettings(settings, QSettings::IniFormat)
                    .value(QStringLiteral("MQTTCLIENTID"))
                    .toString()
                    .startsWith(QStringLiteral("kelta-")));
}

// A password file that others may read is refused before anything starts; a private one is
// used. A password given either way never shows in a message, a log line or the summary.
TEST_F(CollectService, PasswordsStayPrivate) {
    const QString secret = QStringLiteral("Pa55-w0rd-only-the-broker-knows");
    const QString file = path("broker.pw");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((secret + QLatin1Char('\n')).toUtf8());
    }
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup));
    const quint16 nobody = freePort();
    const QStringList args{"--serial",
                           "COM13",
                           "--auto-save",
                           path("pw/Kelta.csv"),
                           "--mqtt",
                           QStringLiteral("127.0.0.1:%1").arg(nobody),
                           "--mqtt-user",
                           "kelta",
                           "--mqtt-password-file",
                           file};
    MappedPty com(13);
    {
        CollectProcess refused;
        ASSERT_TRUE(refused.start(args));
        ASSERT_TRUE(refused.waitForEnd());
        EXPECT_EQ(refused.exitCode(), 2);
        EXPECT_TRUE(refused.errorText().contains(
            QStringLiteral(
                "--mqtt-password-file: %1 can be read by group or others (mode 640); make it "
                "private first: chmod 600 %1")
                .arg(file)))
            << refused.errorText().toStdString();
        EXPECT_FALSE(refused.errorText().contains(secret));
        EXPECT_FALSE(refused.outputText().contains(secret));
    }

    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    CollectProcess collector;
    ASSERT_TRUE(collector.start(args));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")))
        << collector.errorText().toStdString();
    com.pty().send(kelta::test::joined(kelta::test::liveReports(5, 2)));
    ASSERT_TRUE(collector.waitForError(QStringLiteral("cannot be reached")))
        << collector.errorText().toStdString();
    ASSERT_TRUE(collector.stop());
    EXPECT_EQ(collector.exitCode(), 0) << collector.errorText().toStdString();
    EXPECT_FALSE(collector.errorText().contains(secret)) << collector.errorText().toStdString();
    EXPECT_FALSE(collector.outputText().contains(secret)) << collector.outputText().toStdString();

    // From the settings file, with a value that cannot be used beside it (a password without a
    // user): the problem is named, the password is not.
    writeSettings({{"MQTTENABLED", 1},
                   {"MQTTHOST", "127.0.0.1"},
                   {"MQTTPORT", nobody},
                   {"MQTTPASSWORD", secret},
                   {"MQTTCLIENTID", "kelta-test"}});
    CollectProcess stored;
    ASSERT_TRUE(stored.start({"--serial", "COM13", "--auto-save", path("pw/Kelta.csv")}));
    ASSERT_TRUE(stored.waitForError(QStringLiteral("monitoring started")))
        << stored.errorText().toStdString();
    ASSERT_TRUE(stored.stop());
    EXPECT_TRUE(stored.errorText().contains(QStringLiteral("MQTTPASSWORD is set but MQTTUSER is "
                                                           "empty")))
        << stored.errorText().toStdString();
    EXPECT_FALSE(stored.errorText().contains(secret));
    EXPECT_FALSE(stored.outputText().contains(secret));
}

// --listen ADDRESS:PORT binds that address alone; one the host does not have is a clear error
// at start; the settings' ListenAddress is used when the option gives a port only.
TEST_F(CollectService, ListensOnTheAddressGiven) {
    {
        CollectProcess collector;
        ASSERT_TRUE(collector.start({"--listen", "192.0.2.77:4001", "--no-auto-save"}));
        ASSERT_TRUE(collector.waitForEnd());
        EXPECT_EQ(collector.exitCode(), 2);
        EXPECT_TRUE(collector.errorText().startsWith(QStringLiteral(
            "kelta-collect: Listen address 192.0.2.77 is not an address of this host (its "
            "addresses: ")))
            << collector.errorText().toStdString();
    }
    for (const bool fromSettings : {false, true}) {
        SCOPED_TRACE(fromSettings ? "settings" : "option");
        const quint16 port = freePort();
        QStringList args{"--auto-save", path("listen/Kelta.csv")};
        if (fromSettings) {
            writeSettings({{"ListenAddress", "127.0.0.1"}});
            args << "--listen" << QString::number(port);
        } else {
            args << "--listen" << QStringLiteral("127.0.0.1:%1").arg(port);
        }
        CollectProcess collector;
        ASSERT_TRUE(collector.start(args));
        ASSERT_TRUE(collector.waitForError(QStringLiteral("monitoring started")))
            << collector.errorText().toStdString();
        EXPECT_TRUE(collector.errorText().contains(
            QStringLiteral("listening on 127.0.0.1 port %1").arg(port)));
        // Reached on its address; not on another address of the loopback network, which a
        // server on every address would answer.
        QTcpSocket on, off;
        on.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
        EXPECT_TRUE(on.waitForConnected()) << on.errorString().toStdString();
        off.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), port);
        EXPECT_FALSE(off.waitForConnected());
        EXPECT_EQ(off.error(), QAbstractSocket::ConnectionRefusedError)
            << off.errorString().toStdString();
        on.write(reinterpret_cast<const char*>(
                     kelta::test::joined(kelta::test::liveReports(3, 1)).data()),
                 static_cast<qint64>(kelta::test::joined(kelta::test::liveReports(3, 1)).size()));
        on.flush();
        EXPECT_TRUE(collector.waitFor([&] {
            return fileLines(path("listen/Kelta.csv")).size() == 4;
        })) << collector.errorText().toStdString();
        ASSERT_TRUE(collector.stop());
        EXPECT_EQ(collector.exitCode(), 0) << collector.errorText().toStdString();
    }
}

} // namespace
