// Starting the window with and without a settings file: first start, the link page, the
// restored values, a value of the wrong type, the serial-port list, the selection file, and
// the values written at closing.
#include "app/frmmodule.h"
#include "app/language.h"
#include "app/run_controller.h"
#include "app/startup.h"
#include "app/tag_tables.h"
#include "platform/settings_store.h"
#include "reader/reader_link.h"
#include "support/file_mode.h"
#include "support/test_env.h"
#include "support/waits.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace kelta;

namespace {

QString selectionFile() {
    return test::documentsDir() + "/VANTO/KeltaUtility/VNKDTAG.CSV";
}

void writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

// The settings file as the lines of its [General] section; no lines: no file at all.
void writeSettings(const QByteArray& lines) {
    QFile::remove(test::settingsFilePath());
    if (!lines.isEmpty()) writeFile(test::settingsFilePath(), "[General]\n" + lines);
}

std::unique_ptr<TfrmModule> construct() {
    auto w = std::make_unique<TfrmModule>();
    w->setGeometry(0, 0, 1366, 768);
    return w;
}

std::unique_ptr<TfrmModule> start() {
    auto w = construct();
    w->show();
    QCoreApplication::processEvents();
    return w;
}

QVariant stored(const char* name) {
    QSettings s(test::settingsFilePath(), QSettings::IniFormat);
    return s.value(QString::fromLatin1(name));
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(selectionFile());
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
    }
    void TearDown() override {
        QFile::remove(selectionFile());
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
        for (const QString& e : QDir(test::serialMapDir()).entryList(QDir::System | QDir::Files))
            QFile::remove(test::serialMapDir() + "/" + e);
    }
};

TEST_F(Startup, FirstStartWithoutSettingsUsesTheDesignDefaults) {
    auto w = start();
    EXPECT_EQ(w->tag(), 1);
    EXPECT_EQ(w->windowTitle(), "Kelta Utility_LR900 V0114 2014-04-28");
    EXPECT_EQ(w->pcMain->activePage(), w->tsReadTag);
    EXPECT_EQ(w->pcTagMain->activePage(), w->tsNET);
    EXPECT_EQ(w->pcSetReadMain->activePage(), w->tsTcpServer);
    EXPECT_EQ(w->readerLink->state().linkMode, 0);
    EXPECT_EQ(w->edtTcpServerIP->text(), "192.168.1.101");
    EXPECT_EQ(w->edtTcpServerPort->text(), "5001");
    EXPECT_EQ(w->edtTcpRemotePort->text(), "4001");
    // Without a settings file the address edits keep their design-time addresses.
    EXPECT_EQ(w->edIP01->text(), "192.168.1.101");
    EXPECT_EQ(w->edIP11->text(), "192.168.1.101");
    EXPECT_FALSE(w->chbAutoSave->isChecked());
    EXPECT_EQ(currentLanguageIndex(), 0);
    EXPECT_EQ(w->btnStart->text(), "Start");
    EXPECT_EQ(hintOf(w->btnStart), "Start");
    EXPECT_TRUE(w->isEnabled());
    // Closing writes the link kind and the language.
    w->close();
    EXPECT_EQ(stored("PAGE").toInt(), 0);
    EXPECT_EQ(stored("LanguageIndex").toInt(), 0);
}

struct PageCase {
    const char* lines;
    int linkMode;
};

class LinkPage : public Startup, public ::testing::WithParamInterface<PageCase> {};

TEST_P(LinkPage, StoredPageChoosesTheLinkPages) {
    writeSettings(GetParam().lines);
    auto w = start();
    TabSheet* const tagPages[] = {w->tsNET, w->tsCOM, w->tsNetServer};
    TabSheet* const linkPages[] = {w->tsTcpServer, w->tsComPort, w->tsTcpClient};
    const int mode = GetParam().linkMode;
    EXPECT_EQ(w->readerLink->state().linkMode, mode);
    EXPECT_EQ(w->pcTagMain->activePage(), tagPages[mode]);
    EXPECT_EQ(w->pcSetReadMain->activePage(), linkPages[mode]);
    EXPECT_EQ(w->pcMain->activePage(), w->tsReadTag);
}

INSTANTIATE_TEST_SUITE_P(Values, LinkPage,
                         ::testing::Values(PageCase{"PAGE=1\n", 1}, PageCase{"PAGE=7\n", 1},
                                           PageCase{"PAGE=-3\n", 1}, PageCase{"PAGE=2\n", 2},
                                           PageCase{"PAGE=0\n", 0}, PageCase{"DesPort=4100\n", 0}));

TEST_F(Startup, RestoresEveryStoredValue) {
    writeFile(test::serialMapDir() + "/COM12", "");
    writeFile(test::serialMapDir() + "/COM3", "");
    writeSettings("PAGE=1\n"
                  "TagFilterUID=00010001\n"
                  "TcpRemotePort=5050\n"
                  "LocalPort=4100\n"
                  "DesPort=4200\n"
                  "ListenPort=4300\n"
                  "SETSERTCPIP=10.1.2.3\n"
                  "SETSERTCPPort=6001\n"
                  "SETCOMPORT=COM12\n"
                  "SaveFileName=/tmp/a.csv\n"
                  "EvenLogFile=/tmp/b.csv\n"
                  "AutoSaveFile=1\n"
                  "COM12=1\nCOM3=0\nCOM30=1\nCOM31=1\n"
                  "NET3=1\nNET20=1\n"
                  "IP3=10.0.0.3\nIP20=10.0.0.20\n");
    auto w = start();
    monitor::RunController& run = *w->runController;
    EXPECT_EQ(w->edtTagFilter->text(), "00010001");
    EXPECT_EQ(w->edtTcpRemotePort->text(), "5050");
    EXPECT_EQ(run.remotePortText(), "5050");
    EXPECT_EQ(w->edLocalPort->text(), "4100");
    EXPECT_EQ(w->edDesPort->text(), "4200");
    EXPECT_EQ(w->edtListenPort->text(), "4300");
    EXPECT_EQ(w->edtLisPort->text(), "4300");
    EXPECT_EQ(w->edtTcpServerIP->text(), "10.1.2.3");
    EXPECT_EQ(w->edtTcpServerPort->text(), "6001");
    EXPECT_EQ(w->cbxCom->currentText(), "COM12");
    EXPECT_EQ(w->edtSaveFile->text(), "/tmp/a.csv");
    EXPECT_EQ(w->edtEvenLogFile->text(), "/tmp/b.csv");
    EXPECT_TRUE(w->chbAutoSave->isChecked());
    for (int n = 1; n <= 30; ++n)
        EXPECT_EQ(run.chkCOM(n)->isChecked(), n == 12 || n == 30) << "COM" << n;
    for (int n = 1; n <= 20; ++n) {
        EXPECT_EQ(run.chkIP(n)->isChecked(), n == 3 || n == 20) << "NET" << n;
        const QString ip = n == 3    ? "10.0.0.3"
                           : n == 20 ? "10.0.0.20"
                                     : "192.168.1." + QString::number(100 + n);
        EXPECT_EQ(run.edIP(n)->text(), ip) << "IP" << n;
    }
    EXPECT_EQ(w->edIP11->text(), "192.168.1.111");
}

TEST_F(Startup, ARemotePortThatIsNoNumberIsShownAs4001) {
    writeSettings("TcpRemotePort=abc\n");
    auto w = start();
    EXPECT_EQ(w->edtTcpRemotePort->text(), "4001");
    EXPECT_EQ(w->runController->remotePortText(), "4001");
}

// A value that cannot be read is skipped and named on stderr; every other value is restored,
// wherever the bad one stands in the file.
struct BadValueCase {
    const char* bad;     // the unreadable value, written first in the file
    const char* skipped; // the name reported
};

class BadValue : public Startup, public ::testing::WithParamInterface<BadValueCase> {};

TEST_P(BadValue, IsSkippedAndTheRestAreRestored) {
    writeSettings(QByteArray(GetParam().bad) +
                  "\nLanguageIndex=1\nTagFilterUID=ABCD\nTcpRemotePort=5050\n"
                  "COM5=1\nNET2=1\nIP2=10.9.9.9\nListenPort=4300\n");
    ::testing::internal::CaptureStderr();
    auto w = start();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(GetParam().skipped), std::string::npos) << err;
    EXPECT_NE(err.find(test::settingsFilePath().toStdString()), std::string::npos) << err;
    EXPECT_EQ(w->edtTagFilter->text(), "ABCD");
    EXPECT_EQ(w->edtTcpRemotePort->text(), "5050");
    EXPECT_EQ(w->edtListenPort->text(), "4300");
    EXPECT_TRUE(w->chkCOM05->isChecked());
    EXPECT_TRUE(w->chkIP02->isChecked());
    EXPECT_EQ(w->edIP02->text(), "10.9.9.9");
    EXPECT_EQ(w->edIP12->text(), "192.168.1.112");
    // The program goes on: the language was applied and the window works.
    EXPECT_EQ(w->tag(), 1);
    EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(w->btnStart->text(), QString::fromUtf8("啟動"));
    // A bad PAGE leaves the preset link page.
    if (QByteArray(GetParam().skipped) == "PAGE") {
        EXPECT_EQ(w->pcTagMain->activePage(), w->tsNET);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, BadValue,
                         ::testing::Values(BadValueCase{"PAGE=99999999999999", "PAGE"},
                                           BadValueCase{"PAGE=abc", "PAGE"},
                                           BadValueCase{"AutoSaveFile=yes", "AutoSaveFile"},
                                           BadValueCase{"COM7=1, 2", "COM7"},
                                           BadValueCase{"NET9=x", "NET9"}));

TEST_F(Startup, AWellFormedFileReportsNothing) {
    writeSettings("PAGE=1\nCOM3=1\n");
    ::testing::internal::CaptureStderr();
    auto w = start();
    EXPECT_EQ(::testing::internal::GetCapturedStderr().find("Settings file"), std::string::npos);
}

TEST_F(Startup, AnOversizedFileIsRefusedAndNeverWritten) {
    // A real value first, then padding past the limit.
    QByteArray content = "[General]\nPAGE=1\nIP1=10.1.1.1\n";
    while (content.size() <= platform::kSettingsFileLimit) content += "; padding line\n";
    writeFile(test::settingsFilePath(), content);
    ::testing::internal::CaptureStderr();
    {
        auto w = start();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("is not read and not written"), std::string::npos) << err;
        EXPECT_NE(err.find(std::to_string(content.size())), std::string::npos) << err;
        EXPECT_EQ(w->sbMain->panelText(0), kSettingsRefusedText);
        // Defaults, not the file's values.
        EXPECT_EQ(w->pcTagMain->activePage(), w->tsNET);
        EXPECT_EQ(w->edIP01->text(), "192.168.1.101");
        // Neither a language choice nor the close writes over the file.
        btnCHTClick(*w);
        w->close();
    }
    QFile f(test::settingsFilePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), content);
}

TEST_F(Startup, AStoredLanguageOutsideTheTableIsEnglish) {
    writeSettings("LanguageIndex=5\n");
    auto w = start();
    EXPECT_EQ(currentLanguageIndex(), 0);
    EXPECT_EQ(w->btnStart->text(), "Start");
    w->close();
    EXPECT_EQ(stored("LanguageIndex").toInt(), 0);
}

TEST(SerialPortItems, FollowTheNameRules) {
    EXPECT_EQ(serialPortItems({"COM12", " com7 ", "VCOM4", "vcom5", "XYZ", "COM101", "COM100",
                               "COM0", "COMabc", "COM12", "COM3"}),
              QStringList({"COM3", "COM7", "COM12", "COM100"}));
    QStringList fixed;
    for (int n = 1; n <= 32; ++n) fixed << QString("COM%1").arg(n);
    EXPECT_EQ(serialPortItems({}), fixed);
    EXPECT_EQ(serialPortItems({"VCOM1", "tty"}), fixed);
}

TEST_F(Startup, PortListComesFromTheDeviceMap) {
    writeFile(test::serialMapDir() + "/COM12", "");
    writeFile(test::serialMapDir() + "/VCOM3", "");
    writeSettings("SETCOMPORT=COM99\n");
    auto w = start();
    QStringList items;
    for (int i = 0; i < w->cbxCom->count(); ++i) items << w->cbxCom->itemText(i);
    EXPECT_TRUE(items.contains("COM12"));
    EXPECT_FALSE(items.contains("COM3"));
    EXPECT_FALSE(items.contains("VCOM3"));
    // A stored port the list lacks leaves the first item selected.
    EXPECT_EQ(w->cbxCom->currentIndex(), 0);
}

TEST_F(Startup, SelectionFileFillsGridsAndLists) {
    writeFile(selectionFile(), "0001000112345678\r\n00010001ABCDEF01\n0001000100000003\n");
    auto w = construct();
    ASSERT_EQ(w->grdUID->rowCount(), 4);
    ASSERT_EQ(w->grdSel->rowCount(), 4);
    ASSERT_EQ(w->lvTag->count(), 3);
    ASSERT_EQ(w->lvSel->count(), 3);
    EXPECT_EQ(w->grdUID->cell(0, 2), "2");
    EXPECT_EQ(w->grdUID->cell(1, 1), "0001000112345678");
    EXPECT_EQ(w->grdSel->cell(1, 3), "0001000100000003");
    EXPECT_EQ(w->grdSel->currentRow(), 3);
    // The lists keep their items sorted.
    EXPECT_EQ(w->lvSel->findItems("00010001ABCDEF01", Qt::MatchExactly).size(), 1);
    EXPECT_EQ(w->lvTag->findItems("0001000112345678", Qt::MatchExactly).size(), 1);
    // The first showing re-captions the window, which empties the grids; the selection stays.
    w->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(w->grdUID->rowCount(), 1);
    EXPECT_EQ(w->lvTag->count(), 3);
    EXPECT_EQ(w->lvSel->count(), 3);
}

TEST_F(Startup, ClosingAndRestartingKeepsLinkPageAndLanguage) {
    {
        auto w = start();
        w->pcTagMain->setActivePage(w->tsNetServer);
        w->tagTables->pcTagMainChange();
        btnCHSClick(*w);
        w->btnExit02->click();
        EXPECT_FALSE(w->isVisible());
    }
    EXPECT_EQ(stored("PAGE").toInt(), 2);
    EXPECT_EQ(stored("LanguageIndex").toInt(), 2);
    setCurrentLanguageIndex(0);
    {
        auto w = start();
        EXPECT_EQ(currentLanguageIndex(), 2);
        EXPECT_EQ(w->pcTagMain->activePage(), w->tsNetServer);
        EXPECT_EQ(w->pcSetReadMain->activePage(), w->tsTcpClient);
        EXPECT_EQ(w->readerLink->state().linkMode, 2);
        EXPECT_EQ(w->btnStart->text(), QString::fromUtf8("启动"));
        w->pcTagMain->setActivePage(w->tsCOM);
        w->tagTables->pcTagMainChange();
        btnEngClick(*w);
        w->close();
    }
    setCurrentLanguageIndex(1);
    auto w = start();
    EXPECT_EQ(currentLanguageIndex(), 0);
    EXPECT_EQ(w->pcTagMain->activePage(), w->tsCOM);
    EXPECT_EQ(w->readerLink->state().linkMode, 1);
    EXPECT_EQ(w->btnStart->text(), "Start");
}

} // namespace

namespace {

TEST_F(Startup, ClosingDuringARunStillWritesTheSettings) {
    auto w = start();
    btnCHTClick(*w);
    QFile::remove(test::settingsFilePath());
    w->chkIP01->setChecked(true);
    w->edIP01->setText("127.0.0.1");
    QTcpServer reader; // a reader that accepts the connection and stays silent
    ASSERT_TRUE(reader.listen(QHostAddress::LocalHost));
    w->edtTcpRemotePort->setText(QString::number(reader.serverPort()));
    QTimer::singleShot(300, w.get(), [&w] { w->close(); });
    w->btnStart->click(); // returns at once; the close comes during the run
    EXPECT_TRUE(test::waitFor([&] { return !w->isVisible(); }));
    EXPECT_FALSE(w->runController->runActive());
    EXPECT_EQ(stored("PAGE").toInt(), 0);
    EXPECT_EQ(stored("LanguageIndex").toInt(), 1);
}

// The settings file may hold the broker password: after the window wrote it, whether it made
// the file or found one readable by everyone, it is its owner's alone.
TEST_F(Startup, TheSettingsFileTheWindowWritesIsPrivate) {
    {
        auto w = start();
        w->close();
    }
    ASSERT_TRUE(QFile::exists(test::settingsFilePath()));
    EXPECT_EQ(test::fileMode(test::settingsFilePath()), 0600u);

    writeSettings("PAGE=2\nMQTTPASSWORD=s3cret\n");
    ASSERT_TRUE(QFile::setPermissions(test::settingsFilePath(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadGroup | QFileDevice::ReadOther));
    {
        auto w = start();
        btnCHTClick(*w);
        w->close();
    }
    EXPECT_EQ(test::fileMode(test::settingsFilePath()), 0600u);
    EXPECT_EQ(stored("PAGE").toInt(), 2);
    EXPECT_EQ(stored("MQTTPASSWORD").toString(), "s3cret");
}

} // namespace
