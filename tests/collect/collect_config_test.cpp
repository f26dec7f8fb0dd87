// The run the collector makes of the settings file and of its options.

#include "collect/collect_config.h"

#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

using kelta::collect::applyOptions;
using kelta::collect::CollectOptions;
using kelta::collect::parseCollectOptions;
using kelta::collect::parseHostPort;
using kelta::collect::parseSerialList;
using kelta::collect::runConfigFromSettings;
using kelta::collect::RunDefaults;
using kelta::collect::StoredSettings;
using kelta::collect::storedText;
using kelta::monitor::RunConfig;
using kelta::publish::PublishConfig;

StoredSettings settingsOf(std::initializer_list<std::pair<const char*, const char*>> values) {
    StoredSettings s;
    for (const auto& [name, text] : values) s.insert(QString::fromLatin1(name), storedText(text));
    return s;
}

RunDefaults defaults() {
    RunDefaults d;
    d.autoSaveFile = QStringLiteral("/docs/Kelta.csv");
    d.eventLogFile = QStringLiteral("/docs/log.csv");
    d.selection = {QStringLiteral("0000000000001000")};
    return d;
}

std::vector<int> checkedPorts(const RunConfig& c) {
    std::vector<int> out;
    for (int n = 1; n < RunConfig::kSlots; ++n)
        if (c.serialPorts[static_cast<std::size_t>(n)]) out.push_back(n);
    return out;
}

std::vector<int> checkedRows(const RunConfig& c) {
    std::vector<int> out;
    for (int n = 1; n < RunConfig::kSlots; ++n)
        if (c.addressChecked[static_cast<std::size_t>(n)]) out.push_back(n);
    return out;
}

// The window's own rules for what it restores: link page, check boxes that exist and hold
// exactly 1, port fields that fall back to 4001, values of the wrong type skipped.
TEST(CollectConfig, SettingsGiveTheRunTheWindowWouldStart) {
    struct Case {
        const char* name;
        StoredSettings settings;
        std::function<void(const kelta::collect::MappedRun&)> check;
    };
    const Case cases[] = {
        {"nothing stored: the outgoing page, default names, auto-save off",
         {},
         [](const auto& m) {
             EXPECT_EQ(m.config.linkMode, RunConfig::kOutgoingTcp);
             EXPECT_TRUE(checkedPorts(m.config).empty());
             EXPECT_TRUE(checkedRows(m.config).empty());
             EXPECT_EQ(m.config.addresses[1], "192.168.1.101");
             EXPECT_EQ(m.config.addresses[20], "192.168.1.120");
             EXPECT_EQ(m.config.remotePort, 4001);
             EXPECT_EQ(m.config.listenPort, 4001);
             EXPECT_FALSE(m.config.autoSave);
             EXPECT_EQ(m.config.autoSaveFile, "/docs/Kelta.csv");
             EXPECT_EQ(m.config.eventLogFile, "/docs/log.csv");
             EXPECT_EQ(m.config.selectedTags, QStringList{"0000000000001000"});
             EXPECT_EQ(m.config.tagTimeoutSeconds, 10);
             EXPECT_TRUE(m.skipped.isEmpty());
         }},
        {"serial page with checked ports; 2 is not checked, COM31 has no box",
         settingsOf({{"PAGE", "1"}, {"COM1", "1"}, {"COM2", "2"}, {"COM30", "1"}, {"COM31", "1"}}),
         [](const auto& m) {
             EXPECT_EQ(m.config.linkMode, RunConfig::kSerial);
             EXPECT_EQ(checkedPorts(m.config), (std::vector<int>{1, 30}));
         }},
        {"an unknown page is the serial page", settingsOf({{"PAGE", "7"}}),
         [](const auto& m) { EXPECT_EQ(m.config.linkMode, RunConfig::kSerial); }},
        {"listening page and port", settingsOf({{"PAGE", "2"}, {"ListenPort", " 5005 "}}),
         [](const auto& m) {
             EXPECT_EQ(m.config.linkMode, RunConfig::kListeningTcp);
             EXPECT_EQ(m.config.listenPort, 5005);
         }},
        {"ports that are no port fall back to 4001",
         settingsOf({{"TcpRemotePort", "70000"}, {"ListenPort", "abc"}}),
         [](const auto& m) {
             EXPECT_EQ(m.config.remotePort, 4001);
             EXPECT_EQ(m.config.listenPort, 4001);
         }},
        {"address rows: stored addresses, checked rows up to 20",
         settingsOf({{"PAGE", "0"},
                     {"NET2", "1"},
                     {"IP2", "10.0.0.7"},
                     {"NET20", "1"},
                     {"NET21", "1"},
                     {"TcpRemotePort", "5001"}}),
         [](const auto& m) {
             EXPECT_EQ(checkedRows(m.config), (std::vector<int>{2, 20}));
             EXPECT_EQ(m.config.addresses[2], "10.0.0.7");
             EXPECT_EQ(m.config.remotePort, 5001);
         }},
        {"file names and the auto-save switch",
         settingsOf({{"SaveFileName", "/data/run.csv"},
                     {"EvenLogFile", "/data/ev.csv"},
                     {"AutoSaveFile", "1"}}),
         [](const auto& m) {
             EXPECT_TRUE(m.config.autoSave);
             EXPECT_EQ(m.config.autoSaveFile, "/data/run.csv");
             EXPECT_EQ(m.config.eventLogFile, "/data/ev.csv");
         }},
        {"values that are no number are skipped and named",
         settingsOf({{"PAGE", "serial"}, {"COM3", "yes"}, {"AutoSaveFile", "on"}}),
         [](const auto& m) {
             EXPECT_EQ(m.config.linkMode, RunConfig::kOutgoingTcp);
             EXPECT_TRUE(checkedPorts(m.config).empty());
             EXPECT_FALSE(m.config.autoSave);
             EXPECT_EQ(m.skipped, (QStringList{"PAGE", "COM3", "AutoSaveFile"}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(runConfigFromSettings(c.settings, defaults()));
    }
}

// Options over the settings: the link kind and its links replaced, files and publishing
// changed, contradictions refused.
TEST(CollectConfig, OptionsOverrideTheSettings) {
    struct Case {
        QStringList args;
        bool parseOk;
        bool applyOk;
        std::function<void(const RunConfig&, const PublishConfig&)> check;
    };
    const Case cases[] = {
        {{"--serial", "COM3,com4", "--serial", "7"},
         true,
         true,
         [](const RunConfig& r, const PublishConfig&) {
             EXPECT_EQ(r.linkMode, RunConfig::kSerial);
             // The stored COM1 is replaced, not added to.
             EXPECT_EQ(checkedPorts(r), (std::vector<int>{3, 4, 7}));
             EXPECT_TRUE(r.autoSave);
         }},
        {{"--connect", "10.0.0.1:5001", "--connect", "10.0.0.2,reader3"},
         true,
         true,
         [](const RunConfig& r, const PublishConfig&) {
             EXPECT_EQ(r.linkMode, RunConfig::kOutgoingTcp);
             EXPECT_EQ(checkedRows(r), (std::vector<int>{1, 2, 3}));
             EXPECT_EQ(r.addresses[1], "10.0.0.1");
             EXPECT_EQ(r.addresses[3], "reader3");
             EXPECT_EQ(r.addresses[4], "");
             EXPECT_EQ(r.remotePort, 5001);
         }},
        {{"--connect", "[::1]:4100"},
         true,
         true,
         [](const RunConfig& r, const PublishConfig&) {
             EXPECT_EQ(r.addresses[1], "::1");
             EXPECT_EQ(r.remotePort, 4100);
         }},
        {{"--connect", "a:5001,b:5002"}, true, false, {}},
        {{"--listen", "4555", "--auto-save", "/x/a.csv", "--event-log", "/x/e.csv", "--tag-timeout",
          "3"},
         true,
         true,
         [](const RunConfig& r, const PublishConfig&) {
             EXPECT_EQ(r.linkMode, RunConfig::kListeningTcp);
             EXPECT_EQ(r.listenPort, 4555);
             EXPECT_EQ(r.autoSaveFile, "/x/a.csv");
             EXPECT_EQ(r.eventLogFile, "/x/e.csv");
             EXPECT_EQ(r.tagTimeoutSeconds, 3);
         }},
        {{"--no-auto-save", "--log-mode", "--log-reader", "12"},
         true,
         true,
         [](const RunConfig& r, const PublishConfig&) {
             EXPECT_FALSE(r.autoSave);
             EXPECT_EQ(r.mode, kelta::monitor::DecodeMode::Log);
             EXPECT_EQ(r.logReaderId, 12);
             EXPECT_EQ(checkedPorts(r), (std::vector<int>{1}));
         }},
        {{"--mqtt", "broker.local:1999", "--mqtt-site", "north", "--mqtt-queue", "50"},
         true,
         true,
         [](const RunConfig&, const PublishConfig& p) {
             EXPECT_TRUE(p.enabled);
             EXPECT_EQ(p.host, "broker.local");
             EXPECT_EQ(p.port, 1999);
             EXPECT_EQ(p.site, "north");
             EXPECT_EQ(p.queueBound, 50u);
         }},
        {{"--no-mqtt"},
         true,
         true,
         [](const RunConfig&, const PublishConfig& p) { EXPECT_FALSE(p.enabled); }},
        {{"--serial", "COM1", "--listen", "4001"}, false, true, {}},
        {{"--serial", "COM33"}, false, true, {}},
        {{"--serial", "COMX"}, false, true, {}},
        {{"--listen", "0"}, false, true, {}},
        {{"--mqtt-queue", "0"}, false, true, {}},
        {{"--auto-save", "a", "--no-auto-save"}, false, true, {}},
        {{"--mqtt", "h", "--no-mqtt"}, false, true, {}},
        {{"stray"}, false, true, {}},
        {{"--bogus"}, false, true, {}},
        {{"--mqtt-password-file", "/nonexistent/password"}, true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto parsed = parseCollectOptions(QStringList{"kelta-collect"} + c.args);
        EXPECT_EQ(parsed.errors.isEmpty(), c.parseOk) << parsed.errors.join('|').toStdString();
        if (!parsed.errors.isEmpty()) continue;
        // Stored: the serial page with COM1, publishing on to another broker.
        RunConfig run =
            runConfigFromSettings(settingsOf({{"PAGE", "1"}, {"COM1", "1"}}), defaults()).config;
        PublishConfig pub;
        pub.enabled = true;
        pub.host = QStringLiteral("stored.example");
        const QStringList errors = applyOptions(parsed.options, run, pub);
        EXPECT_EQ(errors.isEmpty(), c.applyOk) << errors.join('|').toStdString();
        if (c.check && errors.isEmpty()) c.check(run, pub);
    }
}

TEST(CollectConfig, PasswordFileGivesItsFirstLine) {
    QTemporaryDir dir;
    QFile f(dir.filePath("pw"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("s3cret\r\nsecond line\n");
    f.close();
    ASSERT_TRUE(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const auto parsed =
        parseCollectOptions({"kelta-collect", "--mqtt-password-file", dir.filePath("pw")});
    ASSERT_TRUE(parsed.errors.isEmpty());
    RunConfig run;
    PublishConfig pub;
    EXPECT_TRUE(applyOptions(parsed.options, run, pub).isEmpty());
    EXPECT_EQ(pub.password, "s3cret");
}

// A password file that group or others may read is no secret: refused, with the way out, and
// without the password in the message.
TEST(CollectConfig, PasswordFileReadableByOthersIsRefused) {
    QTemporaryDir dir;
    QFile f(dir.filePath("pw"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("s3cret\n");
    f.close();
    for (const auto perms :
         {QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup,
          QFileDevice::ReadOwner | QFileDevice::ReadOther}) {
        ASSERT_TRUE(f.setPermissions(perms));
        const auto parsed =
            parseCollectOptions({"kelta-collect", "--mqtt-password-file", dir.filePath("pw")});
        ASSERT_TRUE(parsed.errors.isEmpty());
        RunConfig run;
        PublishConfig pub;
        const QStringList errors = applyOptions(parsed.options, run, pub);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors.first().contains(QStringLiteral("can be read by group or others")))
            << errors.first().toStdString();
        EXPECT_TRUE(errors.first().contains(QStringLiteral("chmod 600 ") + dir.filePath("pw")));
        EXPECT_FALSE(errors.first().contains(QStringLiteral("s3cret")));
        EXPECT_TRUE(pub.password.isEmpty());
    }
}

// The collector's own values in the settings file, and the options over them: the listening
// address, the rotation of the files and the old files kept.
TEST(CollectConfig, ListenAddressRotationAndKeep) {
    using kelta::platform::FileRotation;
    const auto stored = runConfigFromSettings(settingsOf({{"PAGE", "2"},
                                                          {"ListenAddress", " 127.0.0.1 "},
                                                          {"RotateFiles", "10M"},
                                                          {"KeepFiles", "7"}}),
                                              defaults());
    EXPECT_TRUE(stored.skipped.isEmpty()) << stored.skipped.join(',').toStdString();
    EXPECT_EQ(stored.config.listenAddress, "127.0.0.1");
    EXPECT_EQ(stored.config.rotation.kind, FileRotation::Kind::Size);
    EXPECT_EQ(stored.config.rotation.maxBytes, 10 << 20);
    EXPECT_EQ(stored.config.rotation.keep, 7);

    const auto none = runConfigFromSettings(settingsOf({}), defaults());
    EXPECT_EQ(none.config.listenAddress, "");
    EXPECT_FALSE(none.config.rotation.on());
    EXPECT_EQ(none.config.rotation.keep, 30);

    const auto bad = runConfigFromSettings(
        settingsOf({{"RotateFiles", "weekly"}, {"KeepFiles", "-1"}}), defaults());
    EXPECT_EQ(bad.skipped, (QStringList{"RotateFiles", "KeepFiles"}));
    EXPECT_FALSE(bad.config.rotation.on());
    EXPECT_EQ(bad.config.rotation.keep, 30);

    struct Case {
        QStringList args;
        bool ok;
        QString address;
        int port;
        FileRotation::Kind kind;
        int keep;
    };
    const Case cases[] = {
        {{"--listen", "4555"}, true, "127.0.0.1", 4555, FileRotation::Kind::Size, 7},
        {{"--listen", "[::1]:4556"}, true, "::1", 4556, FileRotation::Kind::Size, 7},
        {{"--listen", "*:4557", "--rotate", "daily"}, true, "", 4557, FileRotation::Kind::Daily, 7},
        {{"--listen", "0.0.0.0:4558", "--keep", "0", "--rotate", "off"},
         true,
         "0.0.0.0",
         4558,
         FileRotation::Kind::None,
         0},
        {{"--rotate", "2K", "--keep", "100000"},
         true,
         "127.0.0.1",
         4001,
         FileRotation::Kind::Size,
         100000},
        {{"--listen", "reader.local:4001"}, false, {}, 0, {}, 0},
        {{"--listen", "127.0.0.1"}, false, {}, 0, {}, 0},
        {{"--listen", "127.0.0.1:70000"}, false, {}, 0, {}, 0},
        {{"--listen", "::1"}, false, {}, 0, {}, 0},
        {{"--rotate", "weekly"}, false, {}, 0, {}, 0},
        {{"--rotate", "100"}, false, {}, 0, {}, 0},
        {{"--keep", "-1"}, false, {}, 0, {}, 0},
        {{"--keep", "100001"}, false, {}, 0, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto parsed = parseCollectOptions(QStringList{"kelta-collect"} + c.args);
        EXPECT_EQ(parsed.errors.isEmpty(), c.ok) << parsed.errors.join('|').toStdString();
        if (!parsed.errors.isEmpty()) {
            EXPECT_TRUE(parsed.errors.first().startsWith(c.args.first()))
                << parsed.errors.first().toStdString();
            continue;
        }
        RunConfig run = stored.config;
        PublishConfig pub;
        ASSERT_TRUE(applyOptions(parsed.options, run, pub).isEmpty());
        EXPECT_EQ(run.listenAddress, c.address);
        EXPECT_EQ(run.listenPort, c.port);
        EXPECT_EQ(run.rotation.kind, c.kind);
        EXPECT_EQ(run.rotation.keep, c.keep);
    }
}

TEST(CollectConfig, ListenAddressOfThisHostOrAClearProblem) {
    using kelta::collect::listenAddressProblem;
    EXPECT_EQ(listenAddressProblem(""), "");
    EXPECT_EQ(listenAddressProblem("127.0.0.1"), "");
    EXPECT_EQ(listenAddressProblem("0.0.0.0"), "");
    // 192.0.2.0/24 is for documentation: no host has it.
    const QString p = listenAddressProblem("192.0.2.77");
    EXPECT_TRUE(p.startsWith("Listen address 192.0.2.77 is not an address of this host (its "
                             "addresses: "))
        << p.toStdString();
    EXPECT_TRUE(p.contains("127.0.0.1")) << p.toStdString();
    EXPECT_EQ(listenAddressProblem("not-an-ip"), "Listen address not-an-ip is not an IP address.");
}

TEST(CollectConfig, SerialListsAndAddresses) {
    struct SerialCase {
        const char* text;
        std::optional<std::vector<int>> ports;
    };
    const SerialCase serial[] = {
        {"COM1,COM2", std::vector<int>{1, 2}},
        {" com32 , 5 ,COM5", std::vector<int>{32, 5}},
        {"COM0", std::nullopt},
        {"+3", std::nullopt},
        {"/dev/ttyUSB0", std::nullopt},
        {",", std::nullopt},
    };
    for (const SerialCase& c : serial) {
        SCOPED_TRACE(c.text);
        QString error;
        const auto got = parseSerialList(QString::fromLatin1(c.text), error);
        EXPECT_EQ(got, c.ports);
        EXPECT_EQ(error.isEmpty(), c.ports.has_value());
    }

    struct HostCase {
        const char* text;
        bool ok;
        const char* host;
        int port;
    };
    const HostCase hosts[] = {
        {"10.1.2.3", true, "10.1.2.3", 0},
        {"reader:4001", true, "reader", 4001},
        {"[fe80::1]:65535", true, "fe80::1", 65535},
        {"fe80::1", true, "fe80::1", 0},
        {"reader:0", false, "", 0},
        {"reader:65536", false, "", 0},
        {"reader:", false, "", 0},
        {":4001", false, "", 0},
        {"[::1", false, "", 0},
        {"[::1]x", false, "", 0},
    };
    for (const HostCase& c : hosts) {
        SCOPED_TRACE(c.text);
        QString host, error;
        int port = -1;
        EXPECT_EQ(parseHostPort(QString::fromLatin1(c.text), host, port, error), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
    }
}

} // namespace
