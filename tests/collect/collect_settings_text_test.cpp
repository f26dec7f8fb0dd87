// Text values through the collector: a settings file typed by hand or written by the store
// gives the run the same names and addresses, each as it stands.

#include "collect/collect_config.h"
#include "platform/settings_store.h"
#include "support/settings_values.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

using kelta::collect::runConfigFromSettings;
using kelta::collect::RunDefaults;
using kelta::collect::storedSettings;
using kelta::platform::SettingsStore;

TEST(CollectSettingsText, EveryTextValueReachesTheRunAsItStands) {
    const QString path = QDir(kelta::test::tempRoot()).filePath("collect-text.ini");
    RunDefaults defaults;
    defaults.autoSaveFile = "/docs/Kelta.csv";
    defaults.eventLogFile = "/docs/log.csv";
    for (const auto& c : kelta::test::settingsValueCases()) {
        for (const bool typed : {true, false}) {
            if (typed && c.typed.isEmpty()) continue;
            SCOPED_TRACE(testing::Message()
                         << (typed ? "typed: " : "written: ") << c.value.toStdString());
            QFile::remove(path);
            if (typed) {
                QFile f(path);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write("[General]\nSaveFileName=" + c.typed + "\nEvenLogFile=" + c.typed +
                        "\nIP3=" + c.typed + "\nNET3=1\n");
            } else {
                auto store = SettingsStore::openAt(path, true);
                ASSERT_TRUE(store);
                store->holdWrites();
                for (const char* name : {"SaveFileName", "EvenLogFile", "IP3"})
                    store->writeString(QString::fromLatin1(name), c.value);
                store->writeInteger("NET3", 1);
                ASSERT_TRUE(store->commit());
            }
            auto store = SettingsStore::openAt(path, false);
            ASSERT_TRUE(store);
            const auto stored = storedSettings(*store);
            EXPECT_EQ(stored.value("IP3").text.toStdString(), c.value.toStdString());
            const auto mapped = runConfigFromSettings(stored, defaults);
            EXPECT_EQ(mapped.config.autoSaveFile.toStdString(), c.value.toStdString());
            EXPECT_EQ(mapped.config.eventLogFile.toStdString(), c.value.toStdString());
            EXPECT_EQ(mapped.config.addresses[3].toStdString(), c.value.toStdString());
            EXPECT_TRUE(mapped.config.addressChecked[3]);
            EXPECT_TRUE(mapped.skipped.isEmpty());
        }
    }
}

} // namespace
