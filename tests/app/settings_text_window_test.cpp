// Text values through the window: a settings file typed by hand or written by the store, the
// fields it fills, the values the window writes back, and the file at the end.
#include "app/frmmodule.h"
#include "app/language.h"
#include "app/run_controller.h"
#include "app/startup.h"
#include "app/tag_tables.h"
#include "platform/settings_store.h"
#include "support/settings_values.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using namespace kelta;

namespace {

void writeSettings(const QByteArray& lines) {
    const QString path = test::settingsFilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[General]\n" + lines);
}

std::unique_ptr<TfrmModule> start() {
    auto w = std::make_unique<TfrmModule>();
    w->setGeometry(0, 0, 1366, 768);
    w->show();
    QCoreApplication::processEvents();
    return w;
}

class SettingsTextWindow : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
    }
    void TearDown() override {
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
    }
};

} // namespace

namespace {

// File -> window -> file, for every value of the table, as typed by hand and as the store writes
// it: the fields show each value as it is; the window writes the file names back (the file
// choices) and rewrites the whole file at closing; the file then holds each value as it was,
// and a new window shows it again.
TEST_F(SettingsTextWindow, TextValuesGoThroughTheWindowUnchanged) {
    const auto cases = test::settingsValueCases();
    for (const bool typed : {true, false}) {
        std::vector<test::SettingsValueCase> values;
        for (const auto& c : cases)
            if (!typed || !c.typed.isEmpty()) values.push_back(c);
        // Rounds of 19 values: address rows 2 ... 20, the first two also the two file names.
        for (std::size_t first = 0; first < values.size(); first += 19) {
            const std::size_t count = std::min<std::size_t>(19, values.size() - first);
            const auto valueAt = [&](std::size_t k) { return values[first + k].value; };
            SCOPED_TRACE(testing::Message() << (typed ? "typed" : "written") << " from " << first);
            QFile::remove(test::settingsFilePath());
            if (typed) {
                QByteArray lines = "SaveFileName=" + values[first].typed + "\n";
                lines += "EvenLogFile=" + values[first + (count > 1 ? 1 : 0)].typed + "\n";
                for (std::size_t k = 0; k < count; ++k)
                    lines += "IP" + QByteArray::number(static_cast<int>(k) + 2) + "=" +
                             values[first + k].typed + "\n";
                writeSettings(lines);
            } else {
                auto store = platform::SettingsStore::open(true);
                ASSERT_TRUE(store);
                store->holdWrites();
                store->writeString("SaveFileName", valueAt(0));
                store->writeString("EvenLogFile", valueAt(count > 1 ? 1 : 0));
                for (std::size_t k = 0; k < count; ++k)
                    store->writeString("IP" + QString::number(k + 2), valueAt(k));
                ASSERT_TRUE(store->commit());
            }
            const auto expectShown = [&](TfrmModule& w) {
                EXPECT_EQ(w.edtSaveFile->text().toStdString(), valueAt(0).toStdString());
                EXPECT_EQ(w.edtEvenLogFile->text().toStdString(),
                          valueAt(count > 1 ? 1 : 0).toStdString());
                for (std::size_t k = 0; k < count; ++k)
                    EXPECT_EQ(w.runController->edIP(static_cast<int>(k) + 2)->text().toStdString(),
                              valueAt(k).toStdString());
            };
            {
                auto w = start();
                expectShown(*w);
                // The file choices write the fields' texts; Start writes the address rows.
                w->tagTables->setChooseFile(
                    [](QFileDialog*, const QString& preset) { return preset; });
                w->btnSaveFile->click();
                w->btnFile->click();
                w->close();
            }
            {
                auto store = platform::SettingsStore::open(false);
                ASSERT_TRUE(store);
                EXPECT_EQ(store->readString("SaveFileName").toStdString(),
                          valueAt(0).toStdString());
                EXPECT_EQ(store->readString("EvenLogFile").toStdString(),
                          valueAt(count > 1 ? 1 : 0).toStdString());
                for (std::size_t k = 0; k < count; ++k)
                    EXPECT_EQ(store->readString("IP" + QString::number(k + 2)).toStdString(),
                              valueAt(k).toStdString());
            }
            auto w = start();
            expectShown(*w);
        }
    }
}

} // namespace
