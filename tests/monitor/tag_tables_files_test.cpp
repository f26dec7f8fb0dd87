// The auto-save file, the event log, the selection file and the settings the page's handlers
// store, read back from disk.
#include "platform/files.h"
#include "platform/settings_store.h"
#include "tag_tables_fixture.h"

#include <QCheckBox>
#include <QFileInfo>

using namespace tagtest;

namespace {

QByteArray sp(int n) {
    return QByteArray(n, ' ');
}

// The live header, field by field as the pattern pads it.
QByteArray LiveHeader() {
    return sp(10) + "\t," + sp(17) + "UID\t," + " RSSI\t," + "  LQI\t," + "   Tag Ver\t," +
           "    Packet\t," + "Model\t," + "KeyNo\t," + "Group\t," + "     State\t," +
           "   Battery\t," + "ISN_H\t," + "ISN_L\t," + " D_1H\t," + " D_1L\t," + " D_2H\t," +
           " D_2L\t," + "   ID\t," + sp(17) + "GPS\t," + "      Date," + "    Time\n";
}

TEST_F(TagTablesTest, AutoSaveWritesTheHeaderThenLineOneOfEachRun) {
    w().chbAutoSave->setChecked(true);
    DecodedTagRecord r = Rec("0102030405060708");
    r.gps = "E121.30";
    post(r);

    const QByteArray line1 =
        "0000000001\t," + sp(4) + "0102030405060708\t," + "   50\t," + "   60\t," + sp(8) +
        "30\t," + "  10100101\t," + "   33\t," + "   12\t," + "  254\t," + "  10000001\t," + sp(8) +
        "99\t," + "   60\t," + "  195\t," + " 1234\t," + "   18\t," + " ABCD\t," + "   52\t," +
        " 0007\t," + sp(13) + "E121.30\t," + "2025/01/02," + "03:04:05\n";
    const QString file = path("save/Kelta.csv");
    ASSERT_EQ(ReadAll(file), LiveHeader() + line1);
    EXPECT_EQ(tables->autoSaveLineCount(), 1u);

    // Line two: counter 2, no second header; the count column is not in the line.
    now = now.addSecs(3600);
    post(r);
    const QByteArray line2 =
        QByteArray(line1).replace("0000000001", "0000000002").replace("03:04:05\n", "04:04:05\n");
    EXPECT_EQ(ReadAll(file), LiveHeader() + line1 + line2);

    // The next run appends its own header and counts from 1 again.
    tables->closeFiles();
    tables->resetCounters();
    post(r);
    const QByteArray line3 = QByteArray(line1).replace("03:04:05\n", "04:04:05\n");
    EXPECT_EQ(ReadAll(file), LiveHeader() + line1 + line2 + LiveHeader() + line3);
}

TEST_F(TagTablesTest, AutoSaveOfTheLogGridHasTwentyFourFields) {
    w().chbAutoSave->setChecked(true);
    tables->setCurrentTagGrid(w().grdUID_LOG);
    post(LogRec("0102030405060708", "12"), DecodeMode::Log);
    const QByteArray header = sp(10) + "\t," + sp(17) + "UID\t," + " RSSI\t," + "  LQI\t," +
                              "   Tag Ver\t," + "    Packet\t," + "Model\t," + "KeyNo\t," +
                              "Group\t," + "     State\t," + "   Battery\t," + "ISN_H\t," +
                              "ISN_L\t," + " D_1H\t," + " D_1L\t," + " D_2H\t," + " D_2L\t," +
                              "   ID\t," + "Index\t," + "LOG DateTime\t," + "       GPS\t," +
                              " LOGStatus\t," + "      Date," + "    Time\n";
    // Fields longer than their width are written whole.
    const QByteArray line = "0000000001\t," + sp(4) + "0102030405060708\t," + "   50\t," +
                            "   60\t," + sp(8) + "30\t," + "  10100101\t," + "   33\t," +
                            "   12\t," + "  254\t," + "  10000001\t," + sp(8) + "99\t," +
                            "   60\t," + "  195\t," + " 1234\t," + "   18\t," + " ABCD\t," +
                            "   52\t," + " 0007\t," + "   12\t," + "2024/03/05 07:08:09\t," +
                            "E121.30.15.25\t," + "New TAG Entry\t," + "2025/01/02," + "03:04:05\n";
    EXPECT_EQ(ReadAll(path("save/Kelta.csv")), header + line);
}

TEST_F(TagTablesTest, AutoSaveOffWritesNothing) {
    post(Rec("0102030405060708"));
    EXPECT_FALSE(QFileInfo::exists(path("save/Kelta.csv")));
    EXPECT_EQ(tables->autoSaveLineCount(), 0u);
}

TEST_F(TagTablesTest, AFileThatCannotBeOpenedWritesNothingAndTheNextRecordTriesAgain) {
    // A regular file stands where the folder should be.
    QFile blocker(path("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    w().chbAutoSave->setChecked(true);
    w().edtSaveFile->setText(path("blocked/Kelta.csv"));
    w().edtEvenLogFile->setText(path("blocked/log.csv"));
    select("0102030405060708");
    tables->btnClearClick();
    post(Rec("0102030405060708"));
    EXPECT_FALSE(tables->autoSaveFile().isOpen());
    EXPECT_FALSE(tables->eventLogFile().isOpen());
    EXPECT_EQ(tables->autoSaveLineCount(), 0u);
    // Records are still taken.
    EXPECT_EQ(tables->acceptedRecordCount(), 1u);
    EXPECT_EQ(w().grdSel->cell(18, 1), "1");

    w().edtSaveFile->setText(path("later/Kelta.csv"));
    post(Rec("0102030405060708"));
    const QByteArray content = ReadAll(path("later/Kelta.csv"));
    EXPECT_TRUE(content.startsWith(LiveHeader() + "0000000001\t,")) << content.toStdString();
}

TEST_F(TagTablesTest, NoEventLogWhileNothingIsSelected) {
    post(Rec("0102030405060708"));
    tables->absenceSweep();
    EXPECT_FALSE(QFileInfo::exists(path("events/log.csv")));
    EXPECT_FALSE(QFileInfo::exists(path("events")));
    // With a selection, the first record opens the log (and its folder) even for other tags.
    select("00000000000000FF");
    post(Rec("0102030405060708"));
    EXPECT_TRUE(QFileInfo::exists(path("events/log.csv")));
    EXPECT_TRUE(tables->eventLogFile().isOpen());
    tables->closeFiles();
    EXPECT_FALSE(tables->eventLogFile().isOpen());
}

TEST_F(TagTablesTest, EventLogIsAppendedAndNeverTruncated) {
    QDir().mkpath(path("events"));
    QFile old(path("events/log.csv"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier run\n");
    old.close();
    select("0102030405060708");
    tables->btnClearClick();
    now = now.addSecs(20); // default time-out 10 s
    tables->absenceSweep();
    EXPECT_EQ(ReadAll(path("events/log.csv")),
              "earlier run\n0102030405060708,0,0,2025/01/02,03:04:05,2025/01/02,03:04:25,>20000\n");
}

TEST_F(TagTablesTest, SelectionFileKeepsEachTagOnceInListOrder) {
    select("00000000000000BB");
    select("00000000000000AA");
    select("00000000000000BB");
    ASSERT_TRUE(tables->saveSelectionFile());
    const QString file = kelta::platform::documentsFolder() + "/VANTO/KeltaUtility/VNKDTAG.CSV";
    EXPECT_EQ(kelta::monitor::TagTables::selectionFilePath(), file);
    EXPECT_EQ(ReadAll(file), "00000000000000AA\n00000000000000BB\n");
    w().lvSel->clear();
    ASSERT_TRUE(tables->saveSelectionFile());
    EXPECT_EQ(ReadAll(file), "");
}

TEST_F(TagTablesTest, FileChoosersStoreTheChosenNames) {
    QList<QFileDialog*> dialogs;
    QStringList presets;
    tables->setChooseFile([&](QFileDialog* d, const QString& preset) {
        dialogs << d;
        presets << preset;
        return preset == path("events/log.csv") ? path("chosen/events.csv") : QString();
    });
    tables->btnFileClick();
    EXPECT_EQ(w().edtEvenLogFile->text(), path("chosen/events.csv"));
    tables->btnSaveFileClick(); // an empty choice changes nothing
    EXPECT_EQ(w().edtSaveFile->text(), path("save/Kelta.csv"));
    ASSERT_EQ(dialogs.size(), 2);
    EXPECT_EQ(dialogs[0], w().SaveDialog1);
    EXPECT_EQ(dialogs[1], w().SaveDialog2);

    auto store = kelta::platform::SettingsStore::open(false);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->readString("EvenLogFile"), path("chosen/events.csv"));
    EXPECT_FALSE(store->hasValue("SaveFileName"));
    store.reset();
    ASSERT_TRUE(kelta::platform::SettingsStore::open(true)->removeValue("EvenLogFile"));
}

TEST_F(TagTablesTest, AutoSaveSwitchIsStoredAndAnUnusableFolderFallsBack) {
    QFile blocker(path("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    w().edtSaveFile->setText(path("blocked/x/Kelta.csv"));
    w().chbAutoSave->setChecked(true);
    tables->chbAutoSaveMouseUp();
    EXPECT_EQ(w().edtSaveFile->text(), kelta::defaultSaveFileName());
    EXPECT_TRUE(kelta::platform::SettingsStore::open(false)->readBool("AutoSaveFile"));

    w().edtSaveFile->setText(path("deep/er/Kelta.csv"));
    tables->chbAutoSaveMouseUp();
    EXPECT_EQ(w().edtSaveFile->text(), path("deep/er/Kelta.csv"));
    EXPECT_TRUE(QFileInfo(path("deep/er")).isDir());

    w().chbAutoSave->setChecked(false);
    tables->chbAutoSaveMouseUp();
    EXPECT_FALSE(kelta::platform::SettingsStore::open(false)->readBool("AutoSaveFile"));
    ASSERT_TRUE(kelta::platform::SettingsStore::open(true)->removeValue("AutoSaveFile"));
}

TEST_F(TagTablesTest, HiddenSaveWritesTheSelectionGrid) {
    select("0102030405060708");
    tables->btnClearClick();
    post(Rec("0102030405060708", "44"));
    tables->btnSaveClick();
    EXPECT_EQ(ReadAll(path("events/log.csv")), "1\t,0102030405060708\t,44\t,60\t,10100101\t,33\n");
}

} // namespace
