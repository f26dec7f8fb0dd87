#include "platform/settings_store.h"
#include "support/file_mode.h"
#include "support/settings_values.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>
#include <iterator>

using kelta::platform::SettingsStore;
using kelta::platform::SettingsTypeError;

namespace {

QString freshPath(const QString& name) {
    const QString path = QDir(kelta::test::tempRoot()).filePath(name);
    QFile::remove(path);
    return path;
}

QByteArray fileText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

} // namespace

TEST(SettingsStore, OpenWithoutCreateNeedsAnExistingFile) {
    const QString path = QDir(kelta::test::tempRoot()).filePath("deep/er/LR900.ini");
    EXPECT_FALSE(SettingsStore::openAt(path, false));
    EXPECT_FALSE(QFile::exists(path)) << "a failed open leaves no file behind";

    auto created = SettingsStore::openAt(path, true);
    ASSERT_TRUE(created);
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(created->valueNames().isEmpty());
    EXPECT_TRUE(SettingsStore::openAt(path, false));

    // A folder in the way, or a parent that is a file, cannot hold the settings.
    EXPECT_FALSE(SettingsStore::openAt(kelta::test::tempRoot(), true));
    EXPECT_FALSE(SettingsStore::openAt(path + "/below/LR900.ini", true));
}

TEST(SettingsStore, DefaultPathFollowsTheEnvironment) {
    QFile::remove(kelta::test::settingsFilePath());
    EXPECT_EQ(kelta::platform::settingsFilePath(), kelta::test::settingsFilePath());
    EXPECT_FALSE(SettingsStore::open(false));
    {
        auto store = SettingsStore::open(true);
        ASSERT_TRUE(store);
        EXPECT_EQ(QFileInfo(store->path()), QFileInfo(kelta::test::settingsFilePath()));
    }
    const QByteArray saved = qgetenv("KELTA_SETTINGS_FILE");
    qunsetenv("KELTA_SETTINGS_FILE");
    const QString fallback = kelta::platform::settingsFilePath();
    qputenv("KELTA_SETTINGS_FILE", saved);
    EXPECT_TRUE(fallback.endsWith("/VANTO/Kelta/LR900.ini")) << fallback.toStdString();
    EXPECT_TRUE(fallback.startsWith(qEnvironmentVariable("HOME"))) << fallback.toStdString();
}

TEST(SettingsStore, ValuesKeepTheirTypesAndReachTheFile) {
    const QString path = freshPath("types.ini");
    {
        auto store = SettingsStore::openAt(path, true);
        ASSERT_TRUE(store);
        EXPECT_TRUE(store->writeInteger("PAGE", 2));
        EXPECT_TRUE(store->writeInteger("LanguageIndex", -1));
        EXPECT_TRUE(store->writeString("TcpRemotePort", "4001"));
        EXPECT_TRUE(store->writeString("SETCOMPORT", "COM12"));
        EXPECT_TRUE(store->writeString("SaveFileName", "/home/u/日志, °C;=@x.csv"));
        EXPECT_TRUE(store->writeString("TagFilterUID", ""));
        EXPECT_TRUE(store->writeString("IP1", "@192.168.1.101"));
        EXPECT_TRUE(store->writeBool("AutoSaveFile", true));
        EXPECT_TRUE(store->writeBool("COM5", false));
        // Still open: another reader sees the values already.
        const QByteArray text = fileText(path);
        EXPECT_TRUE(text.startsWith("[General]")) << text.toStdString();
        EXPECT_TRUE(text.contains("PAGE=2\n"));
        EXPECT_TRUE(text.contains("AutoSaveFile=1\n"));
        EXPECT_TRUE(text.contains("COM5=0\n"));
        EXPECT_TRUE(text.contains("SETCOMPORT=COM12\n"));
    }
    auto store = SettingsStore::openAt(path, false);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->readInteger("PAGE"), 2);
    EXPECT_EQ(store->readInteger("LanguageIndex"), -1);
    EXPECT_EQ(store->readString("TcpRemotePort"), "4001");
    EXPECT_EQ(store->readInteger("TcpRemotePort"), 4001);
    EXPECT_EQ(store->readString("SaveFileName"), "/home/u/日志, °C;=@x.csv");
    EXPECT_EQ(store->readString("IP1"), "@192.168.1.101");
    EXPECT_TRUE(store->hasValue("TagFilterUID"));
    EXPECT_EQ(store->readString("TagFilterUID"), "");
    EXPECT_TRUE(store->readBool("AutoSaveFile"));
    EXPECT_FALSE(store->readBool("COM5"));
    EXPECT_EQ(store->readString("PAGE"), "2");
    EXPECT_FALSE(store->hasValue("page")) << "names are matched exactly";
    EXPECT_FALSE(store->hasValue("NET1"));
    EXPECT_EQ(store->readString("NET1"), "");

    QStringList names = store->valueNames();
    names.sort();
    EXPECT_EQ(names, (QStringList{"AutoSaveFile", "COM5", "IP1", "LanguageIndex", "PAGE",
                                  "SETCOMPORT", "SaveFileName", "TagFilterUID", "TcpRemotePort"}));
    EXPECT_TRUE(store->removeValue("COM5"));
    EXPECT_FALSE(SettingsStore::openAt(path, false)->hasValue("COM5"));
}

TEST(SettingsStore, WrongTypeOrMissingValueRaisesTypeError) {
    const QString path = freshPath("wrong.ini");
    writeFile(path, "[General]\nPAGE=abc\nCOM1=1, 2\nCOM2= 7 \nCOM3=99999999999\nCOM4=\n"
                    "COM5=0x10\nCOM6=-2147483648\nLanguageIndex=1\n" +
                        QByteArray("COM7=1\0 9\n", 10));
    auto store = SettingsStore::openAt(path, false);
    ASSERT_TRUE(store);
    EXPECT_THROW(store->readInteger("PAGE"), SettingsTypeError);
    EXPECT_THROW(store->readBool("PAGE"), SettingsTypeError);
    EXPECT_EQ(store->readString("PAGE"), "abc");
    EXPECT_THROW(store->readInteger("COM1"), SettingsTypeError);
    EXPECT_EQ(store->readString("COM1"), "1, 2");
    EXPECT_EQ(store->readInteger("COM2"), 7);
    EXPECT_THROW(store->readInteger("COM3"), SettingsTypeError);
    EXPECT_THROW(store->readInteger("COM4"), SettingsTypeError);
    EXPECT_THROW(store->readInteger("COM5"), SettingsTypeError);
    EXPECT_EQ(store->readInteger("COM6"), -2147483647 - 1);
    EXPECT_THROW(store->readInteger("COM7"), SettingsTypeError) << "digits up to a NUL only";
    EXPECT_THROW(store->readInteger("missing"), SettingsTypeError);
    EXPECT_THROW(store->readBool("missing"), SettingsTypeError);
    EXPECT_EQ(store->readInteger("LanguageIndex"), 1);

    // Callers catch the standard base to stop a restore.
    try {
        store->readInteger("PAGE");
        FAIL() << "no error raised";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("PAGE"), std::string::npos);
    }
}

TEST(SettingsStore, TwoOpenStoresDoNotLoseEachOthersWrites) {
    const QString path = freshPath("shared.ini");
    auto a = SettingsStore::openAt(path, true);
    auto b = SettingsStore::openAt(path, true);
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(a->writeInteger("PAGE", 1));
    ASSERT_TRUE(b->writeInteger("LanguageIndex", 2));
    ASSERT_TRUE(a->writeString("SETCOMPORT", "COM3"));
    auto c = SettingsStore::openAt(path, false);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->readInteger("PAGE"), 1);
    EXPECT_EQ(c->readInteger("LanguageIndex"), 2);
    EXPECT_EQ(c->readString("SETCOMPORT"), "COM3");
}

TEST(SettingsStore, HeldWritesReachTheFileAtCommitOrAtTheEnd) {
    const QString path = freshPath("held.ini");
    {
        auto store = SettingsStore::openAt(path, true);
        ASSERT_TRUE(store);
        store->holdWrites();
        for (int n = 1; n <= 32; ++n)
            ASSERT_TRUE(store->writeBool(QStringLiteral("COM%1").arg(n), n % 2));
        EXPECT_FALSE(fileText(path).contains("COM1=")) << "held in memory";
        EXPECT_TRUE(store->hasValue("COM32"));
        ASSERT_TRUE(store->commit());
        EXPECT_TRUE(fileText(path).contains("COM1=1\n"));
        EXPECT_TRUE(fileText(path).contains("COM32=0\n"));

        ASSERT_TRUE(store->writeInteger("PAGE", 1)); // no longer held
        EXPECT_TRUE(fileText(path).contains("PAGE=1\n"));
        store->holdWrites();
        ASSERT_TRUE(store->writeInteger("LanguageIndex", 2));
    }
    auto again = SettingsStore::openAt(path, false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->readInteger("LanguageIndex"), 2) << "written when the store ends";
    EXPECT_EQ(again->valueNames().size(), 34);
}

TEST(SettingsStore, AFileAboveTheLimitIsNeitherReadNorWritten) {
    const QString path = freshPath("big.ini");
    struct Case {
        qint64 size;
        bool used;
    };
    for (const Case c : {Case{kelta::platform::kSettingsFileLimit, true},
                         Case{kelta::platform::kSettingsFileLimit + 1, false}}) {
        QByteArray text = "[General]\nPAGE=1\n";
        text += QByteArray(c.size - text.size() - 1, ';') + "\n";
        ASSERT_EQ(text.size(), c.size);
        writeFile(path, text);
        EXPECT_EQ(kelta::platform::settingsFileRefusal(path).isEmpty(), c.used) << c.size;
        EXPECT_EQ(SettingsStore::openAt(path, false).has_value(), c.used) << c.size;
        auto forWriting = SettingsStore::openAt(path, true);
        EXPECT_EQ(forWriting.has_value(), c.used) << c.size;
        if (!c.used) {
            EXPECT_EQ(fileText(path), text) << "a refused file is left as it is";
            EXPECT_TRUE(
                kelta::platform::settingsFileRefusal(path).contains(QString::number(c.size)));
        }
    }
    // A missing file is no refusal: it is made on demand.
    QFile::remove(path);
    EXPECT_TRUE(kelta::platform::settingsFileRefusal(path).isEmpty());
}

// A value the INI reader would rebuild from serialized bytes can ask for any amount of memory:
// the file is refused however the value is written, and a text that only looks like one is not.
TEST(SettingsStore, AFileWithASerializedValueIsRefused) {
    const QString path = freshPath("serialized.ini");
    const struct {
        QByteArray line;
        bool refused;
    } cases[] = {
        {"SaveFileName=@Variant(\\0\\0\\0\\ntt-cmapsn)", true},
        {"SaveFileName=@DateTime(\\0\\0)", true},
        {"SaveFileName=\\x40Variant(\\0\\0\\0\\n)", true},
        {"SaveFileName=\\100Variant(\\0)", true},
        {"SaveFileName=\"@Variant(\\0)\"", true},
        {"SaveFileName=@Vari\\\nant(\\0)", true},
        {"SaveFileName=a, @Variant(\\0)", true},
        {"SaveFileName=@@Variant(x)", false},
        {"SaveFileName=Variant(x)", false},
        {"SaveFileName=@ByteArray(x)", false},
    };
    for (const auto& c : cases) {
        writeFile(path, "[General]\nPAGE=1\n" + c.line + "\n");
        EXPECT_EQ(!kelta::platform::settingsFileRefusal(path).isEmpty(), c.refused)
            << c.line.constData();
        EXPECT_EQ(!SettingsStore::openAt(path, true), c.refused) << c.line.constData();
        EXPECT_EQ(fileText(path), "[General]\nPAGE=1\n" + c.line + "\n") << c.line.constData();
    }

    // What a user types is stored escaped and read back as typed.
    QFile::remove(path);
    for (const QString typed : {"@Variant(\\0\\0)", "@DateTime(1)", "@@Variant(x)"}) {
        ASSERT_TRUE(SettingsStore::openAt(path, true)->writeString("TagFilterUID", typed));
        EXPECT_TRUE(kelta::platform::settingsFileRefusal(path).isEmpty()) << qPrintable(typed);
        auto back = SettingsStore::openAt(path, false);
        ASSERT_TRUE(back) << qPrintable(typed);
        EXPECT_EQ(back->readString("TagFilterUID"), typed);
    }
}

TEST(SettingsStore, AFileWithAFormatErrorStaysRefusedAndUntouched) {
    // Each text has a section header the reader cannot parse; what comes before it parses.
    const QByteArray broken[] = {
        "[General]\nPAGE=1\n[broken\nCOM1=1\n",
        "PAGE=1\n[\nCOM1=1\n",
        "[General]\nLanguageIndex=2\n[General\n",
    };
    for (const QByteArray& text : broken) {
        SCOPED_TRACE(text.toStdString());
        const QString path = freshPath("broken.ini");
        writeFile(path, text);
        for (int opening = 0; opening < 3; ++opening) {
            EXPECT_FALSE(SettingsStore::openAt(path, false)) << "opening " << opening;
            EXPECT_FALSE(SettingsStore::openAt(path, true)) << "opening " << opening;
        }
        EXPECT_EQ(fileText(path), text);

        // Mended, the file is read afresh.
        writeFile(path, "[General]\nPAGE=3\n");
        auto mended = SettingsStore::openAt(path, false);
        ASSERT_TRUE(mended);
        EXPECT_EQ(mended->readInteger("PAGE"), 3);
        EXPECT_FALSE(mended->hasValue("COM1"));
    }
}

TEST(SettingsStore, AFileBrokenWhileOpenIsNotRewritten) {
    const QByteArray broken = "[General]\nPAGE=1\n[broken\nCOM1=1\nCOM2=1\n";
    enum class Write { At_once, Held_then_commit, Held_until_the_end };
    for (const Write how : {Write::At_once, Write::Held_then_commit, Write::Held_until_the_end}) {
        SCOPED_TRACE(static_cast<int>(how));
        const QString path = freshPath("edited.ini");
        writeFile(path, "[General]\nPAGE=2\n");
        {
            auto store = SettingsStore::openAt(path, false);
            ASSERT_TRUE(store);
            // Another program replaces the file with one the reader cannot fully parse.
            writeFile(path, broken);
            if (how == Write::At_once) {
                EXPECT_FALSE(store->writeInteger("LanguageIndex", 1));
                EXPECT_FALSE(store->removeValue("PAGE"));
            } else {
                store->holdWrites();
                EXPECT_TRUE(store->writeInteger("LanguageIndex", 1));
                if (how == Write::Held_then_commit) {
                    EXPECT_FALSE(store->commit());
                }
            }
        }
        EXPECT_EQ(fileText(path), broken);
        EXPECT_FALSE(SettingsStore::openAt(path, true));
        EXPECT_EQ(fileText(path), broken);
    }

    // A file changed by another program without a fault is written with both its values and ours.
    const QString path = freshPath("edited.ini");
    writeFile(path, "[General]\nPAGE=2\n");
    auto store = SettingsStore::openAt(path, false);
    ASSERT_TRUE(store);
    writeFile(path, "[General]\nPAGE=2\nCOM7=1\n");
    EXPECT_TRUE(store->writeInteger("LanguageIndex", 1));
    auto again = SettingsStore::openAt(path, false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->readInteger("COM7"), 1);
    EXPECT_EQ(again->readInteger("LanguageIndex"), 1);
}

TEST(SettingsStore, AValueWithoutANameIsIgnored) {
    const QString path = freshPath("unnamed.ini");
    writeFile(path, "=7\n[General]\n=text\nPAGE=1\n");
    auto store = SettingsStore::openAt(path, false);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->valueNames(), QStringList{"PAGE"});
    EXPECT_FALSE(store->hasValue(""));
    EXPECT_EQ(store->readString(""), "");
    EXPECT_THROW(store->readInteger(""), SettingsTypeError);
    EXPECT_FALSE(store->writeString("", "x")) << "nothing can be stored without a name";

    // Values written and removed while held are seen at once by the store itself.
    store->holdWrites();
    ASSERT_TRUE(store->writeString("COM1", "1"));
    ASSERT_TRUE(store->removeValue("PAGE"));
    QStringList names = store->valueNames();
    EXPECT_EQ(names, QStringList{"COM1"});
    EXPECT_FALSE(store->hasValue("PAGE"));
    EXPECT_EQ(store->readInteger("COM1"), 1);
}

namespace {

QByteArray lineOf(int n, const QByteArray& text) {
    return "V" + QByteArray::number(n) + "=" + text + "\n";
}

} // namespace

// A value typed by hand with a comma, blanks around it or quotes inside is read as it stands,
// not cut into a list at the comma and joined again with ", "; and a write of any other value,
// which rewrites the whole file, leaves it as it is read.
TEST(SettingsStore, ATextValueIsReadAsItStandsInTheFile) {
    const auto cases = kelta::test::settingsValueCases();
    const QString path = freshPath("typed.ini");
    QByteArray text = "[General]\nPAGE=1\n";
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (!cases[i].typed.isEmpty()) text += lineOf(static_cast<int>(i), cases[i].typed);
    writeFile(path, text);
    const auto expectValues = [&](const SettingsStore& store, const char* when) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (cases[i].typed.isEmpty()) continue;
            const QString name = "V" + QString::number(i);
            EXPECT_TRUE(store.hasValue(name)) << when << " " << cases[i].typed.constData();
            EXPECT_EQ(store.readString(name).toStdString(), cases[i].value.toStdString())
                << when << " " << cases[i].typed.constData();
        }
    };
    {
        auto store = SettingsStore::openAt(path, false);
        ASSERT_TRUE(store);
        expectValues(*store, "as typed");
        EXPECT_THROW(store->readInteger("V3"), SettingsTypeError) << "a,b,c is no number";
        ASSERT_TRUE(store->writeInteger("PAGE", 2));
        expectValues(*store, "after a write");
    }
    EXPECT_NE(fileText(path), text) << "the file was rewritten";
    auto again = SettingsStore::openAt(path, false);
    ASSERT_TRUE(again);
    expectValues(*again, "read again");
    EXPECT_EQ(again->readInteger("PAGE"), 2);
}

// Every value the store writes reads back as it was, whatever it holds; and a value in the
// form the INI writer gives (quoted or not) reads as the INI reader has always read it.
TEST(SettingsStore, EveryWrittenValueReadsBackAsWritten) {
    const auto cases = kelta::test::settingsValueCases();
    const QString path = freshPath("written.ini");
    {
        auto store = SettingsStore::openAt(path, true);
        ASSERT_TRUE(store);
        store->holdWrites();
        for (std::size_t i = 0; i < cases.size(); ++i)
            ASSERT_TRUE(store->writeString("V" + QString::number(i), cases[i].value));
        ASSERT_TRUE(store->commit());
    }
    auto back = SettingsStore::openAt(path, false);
    ASSERT_TRUE(back);
    QSettings reader(path, QSettings::IniFormat);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const QString name = "V" + QString::number(i);
        EXPECT_EQ(back->readString(name).toStdString(), cases[i].value.toStdString())
            << qPrintable(cases[i].value);
        EXPECT_EQ(reader.value(name).toString().toStdString(), cases[i].value.toStdString())
            << qPrintable(cases[i].value);
    }

    // Lines as the INI writer wrote them before this store read values as they stand.
    const struct {
        QByteArray line;
        const char* value;
    } written[] = {
        {"\"/data/site A,line 2.csv\"", "/data/site A,line 2.csv"},
        {"\" x \"", " x "},
        {"say \\\"hi\\\"", "say \"hi\""},
        {"\"say \\\"hi\\\", now\"", "say \"hi\", now"},
        {"C:\\\\data\\\\x.csv", "C:\\data\\x.csv"},
        {"\"a;b\"", "a;b"},
        {"\"a=b\"", "a=b"},
        {"@@x", "@x"},
        {"\\t1", "\t1"},
        {"\\x65e5\\x5fd7", "日志"},
        {"plain ", "plain"},
        {"", ""},
    };
    QByteArray text = "[General]\n";
    for (std::size_t i = 0; i < std::size(written); ++i)
        text += lineOf(static_cast<int>(i), written[i].line);
    writeFile(path, text);
    auto old = SettingsStore::openAt(path, false);
    ASSERT_TRUE(old);
    for (std::size_t i = 0; i < std::size(written); ++i)
        EXPECT_EQ(old->readString("V" + QString::number(i)).toStdString(), written[i].value)
            << written[i].line.constData();
}

// Another store of the same file in this program writes a value read as it stands here: this
// store reads what was written.
TEST(SettingsStore, AValueAsItStandsGivesWayToALaterWrite) {
    const QString path = freshPath("two.ini");
    writeFile(path, "[General]\nIP3=a,b,c\nIP4=d, e\n");
    auto a = SettingsStore::openAt(path, false);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->readString("IP3").toStdString(), "a,b,c");
    {
        auto b = SettingsStore::openAt(path, false);
        ASSERT_TRUE(b);
        ASSERT_TRUE(b->writeString("IP3", "x,y"));
    }
    EXPECT_EQ(a->readString("IP3").toStdString(), "x,y");
    EXPECT_EQ(a->readString("IP4").toStdString(), "d, e");
    // Another program adds a typed value; a write of this store keeps it as it stands.
    writeFile(path, fileText(path) + "IP5=f,g\n");
    ASSERT_TRUE(a->writeString("IP6", "h"));
    EXPECT_EQ(a->readString("IP5").toStdString(), "f,g");
    auto c = SettingsStore::openAt(path, false);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->readString("IP3").toStdString(), "x,y");
    EXPECT_EQ(c->readString("IP4").toStdString(), "d, e");
    EXPECT_EQ(c->readString("IP5").toStdString(), "f,g");
    EXPECT_EQ(c->readString("IP6").toStdString(), "h");
}

// The file may hold the broker password: a file the program makes or writes is its owner's
// alone; a wider mode of an existing file is narrowed once, with one line on stderr.
TEST(SettingsStore, AWrittenFileIsReadableByItsOwnerAlone) {
    const QString made = freshPath("private-new.ini");
    {
        auto store = SettingsStore::openAt(made, true);
        ASSERT_TRUE(store);
        EXPECT_EQ(kelta::test::fileMode(made), 0600u) << "made private";
        testing::internal::CaptureStderr();
        ASSERT_TRUE(store->writeString("MQTTPASSWORD", "s3cret"));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(kelta::test::fileMode(made), 0600u);
    }

    const QString wide = freshPath("private-wide.ini");
    writeFile(wide, "[General]\nPAGE=1\n");
    ASSERT_TRUE(QFile::setPermissions(wide, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ReadOther));
    auto store = SettingsStore::openAt(wide, false);
    ASSERT_TRUE(store);
    EXPECT_EQ(kelta::test::fileMode(wide), 0644u) << "reading changes nothing";
    testing::internal::CaptureStderr();
    ASSERT_TRUE(store->writeString("MQTTPASSWORD", "s3cret"));
    ASSERT_TRUE(store->writeInteger("PAGE", 2));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(kelta::test::fileMode(wide), 0600u);
    EXPECT_NE(said.find("private-wide.ini could be read by others (mode 644); it is now mode 600"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
    EXPECT_EQ(said.find("s3cret"), std::string::npos);
    EXPECT_EQ(store->readInteger("PAGE"), 2);
    EXPECT_EQ(store->readString("MQTTPASSWORD"), "s3cret");

    // A file rewritten afresh (removed behind the store) is private again at once.
    store.reset();
    auto again = SettingsStore::openAt(wide, false);
    ASSERT_TRUE(again);
    QFile::remove(wide);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(again->writeInteger("PAGE", 0));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(kelta::test::fileMode(wide), 0600u);
}
