// Reading the publishing configuration from the settings file.
#include "platform/settings_store.h"
#include "publish/publish_config.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace kelta;
using namespace kelta::publish;

namespace {

// A settings file holding exactly `values`.
platform::SettingsStore storeWith(const std::map<QString, QString>& values) {
    const QString path = QDir(test::tempRoot()).filePath("publish.ini");
    QFile::remove(path);
    auto store = platform::SettingsStore::openAt(path, true);
    EXPECT_TRUE(store.has_value());
    for (const auto& [name, value] : values) store->writeString(name, value);
    return std::move(*store);
}

bool mentions(const QStringList& problems, const QString& word) {
    for (const QString& p : problems)
        if (p.contains(word)) return true;
    return false;
}

} // namespace

TEST(PublishConfig, ReadFromTheSettingsFile) {
    const QString readable = QDir(test::tempRoot()).filePath("ca.pem");
    {
        QFile f(readable);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not checked here");
    }
    const QString missing = QDir(test::tempRoot()).filePath("nowhere.pem");
    using V = std::map<QString, QString>;
    struct Case {
        const char* name;
        V values;
        bool enabled;
        const char* problem; // a word of the expected problem, nullptr for none
    };
    const Case cases[] = {
        {"nothing configured", {}, false, nullptr},
        {"host without the switch", {{"MQTTHOST", "broker.lan"}}, false, nullptr},
        {"minimal", {{"MQTTENABLED", "1"}, {"MQTTHOST", "broker.lan"}}, true, nullptr},
        {"no host", {{"MQTTENABLED", "1"}}, false, "MQTTHOST"},
        {"blank host", {{"MQTTENABLED", "1"}, {"MQTTHOST", "   "}}, false, "MQTTHOST"},
        {"port zero",
         {{"MQTTENABLED", "1"}, {"MQTTHOST", "b"}, {"MQTTPORT", "0"}},
         false,
         "MQTTPORT"},
        {"port too big",
         {{"MQTTENABLED", "1"}, {"MQTTHOST", "b"}, {"MQTTPORT", "65536"}},
         false,
         "MQTTPORT"},
        {"port not a number",
         {{"MQTTENABLED", "1"}, {"MQTTHOST", "b"}, {"MQTTPORT", "x1883"}},
         true,
         "MQTTPORT"},
        {"switch not a number", {{"MQTTENABLED", "yes"}, {"MQTTHOST", "b"}}, false, "MQTTENABLED"},
        {"certificate without key",
         {{"MQTTENABLED", "1"},
          {"MQTTHOST", "b"},
          {"MQTTCAFILE", readable},
          {"MQTTCERTFILE", readable}},
         false,
         "MQTTKEYFILE"},
        {"certificate without TLS",
         {{"MQTTENABLED", "1"},
          {"MQTTHOST", "b"},
          {"MQTTCERTFILE", readable},
          {"MQTTKEYFILE", readable}},
         false,
         "MQTTCAFILE"},
        {"CA file missing",
         {{"MQTTENABLED", "1"}, {"MQTTHOST", "b"}, {"MQTTCAFILE", missing}},
         false,
         "nowhere.pem"},
        {"TLS complete",
         {{"MQTTENABLED", "1"},
          {"MQTTHOST", "b"},
          {"MQTTCAFILE", readable},
          {"MQTTCERTFILE", readable},
          {"MQTTKEYFILE", readable}},
         true,
         nullptr},
        {"password without user",
         {{"MQTTENABLED", "1"}, {"MQTTHOST", "b"}, {"MQTTPASSWORD", "p"}},
         false,
         "MQTTUSER"},
        {"queue bound zero",
         {{"MQTTENABLED", "1"}, {"MQTTHOST", "b"}, {"MQTTQUEUE", "0"}},
         true,
         "MQTTQUEUE"},
        {"queue bound negative",
         {{"MQTTENABLED", "1"}, {"MQTTHOST", "b"}, {"MQTTQUEUE", "-5"}},
         true,
         "MQTTQUEUE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::SettingsStore store = storeWith(c.values);
        const PublishConfigRead r = readPublishConfig(store);
        EXPECT_EQ(r.config.enabled, c.enabled) << r.problems.join("; ").toStdString();
        if (c.problem) {
            EXPECT_TRUE(mentions(r.problems, QString::fromUtf8(c.problem)))
                << r.problems.join("; ").toStdString();
        } else {
            EXPECT_TRUE(r.problems.isEmpty()) << r.problems.join("; ").toStdString();
        }
        EXPECT_GE(r.config.queueBound, kMinQueueBound);
        EXPECT_LE(r.config.queueBound, kMaxQueueBound);
        EXPECT_GE(r.config.port, 1);
        EXPECT_LE(r.config.port, 65535);
        EXPECT_FALSE(r.config.site.isEmpty());
        EXPECT_FALSE(r.config.topicPrefix.isEmpty());
    }
}

TEST(PublishConfig, ValuesAreTakenAsWritten) {
    const platform::SettingsStore store = storeWith({{"MQTTENABLED", "1"},
                                                     {"MQTTHOST", " broker.plant.example "},
                                                     {"MQTTPORT", "8884"},
                                                     {"MQTTSITE", "Hall 3"},
                                                     {"MQTTPREFIX", "plant/rfid"},
                                                     {"MQTTCLIENTID", "kelta-desk-0badcafe"},
                                                     {"MQTTUSER", "collector"},
                                                     {"MQTTPASSWORD", " with spaces "},
                                                     {"MQTTQUEUE", "2500"}});
    const PublishConfigRead r = readPublishConfig(store);
    ASSERT_TRUE(r.problems.isEmpty()) << r.problems.join("; ").toStdString();
    EXPECT_TRUE(r.config.enabled);
    EXPECT_EQ(r.config.host, "broker.plant.example");
    EXPECT_EQ(r.config.port, 8884);
    EXPECT_EQ(r.config.site, "Hall 3");
    EXPECT_EQ(r.config.topicPrefix, "plant/rfid");
    EXPECT_EQ(r.config.clientId, "kelta-desk-0badcafe");
    EXPECT_EQ(r.config.userName, "collector");
    EXPECT_EQ(r.config.password, " with spaces "); // a password is never trimmed
    EXPECT_EQ(r.config.queueBound, 2500u);
    EXPECT_EQ(r.config.qos, 1);
}

TEST(PublishConfig, ClientIdIsMadeOnceAndKept) {
    std::set<QString> ids;
    const QRegularExpression shape("^kelta-[a-z0-9-]{1,8}-[0-9a-f]{8}$");
    for (int i = 0; i < 20; ++i) {
        const QString id = defaultClientId();
        EXPECT_TRUE(shape.match(id).hasMatch()) << id.toStdString();
        EXPECT_LE(id.size(), 23);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 20u); // two installations do not share one

    platform::SettingsStore store = storeWith({});
    const QString first = ensureClientId(store);
    EXPECT_EQ(store.readString("MQTTCLIENTID"), first);
    EXPECT_EQ(ensureClientId(store), first);
    EXPECT_EQ(readPublishConfig(store).config.clientId, first);
}
