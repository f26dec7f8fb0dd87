// Fuzz entry for the settings file: arbitrary INI text through the real settings store and
// the restore routine of the real window (offscreen). Restoring must not throw or crash; a
// text value must reach its edit as stored; an on/off value that is not an integer must leave
// its control as it was; restoring the same file twice must give the same window; a file with
// a format error stays refused and untouched; a value typed with commas reads as it stands, the
// blanks around them included; and every value copied through the store into a fresh file must
// read back the same.
#include "app/frmmodule.h"
#include "app/run_controller.h"
#include "app/startup.h"
#include "fuzz_support.h"
#include "platform/settings_store.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

using kelta::fuzz::Require;
using kelta::platform::SettingsStore;
using kelta::platform::SettingsTypeError;

// The files live in memory where it can: each store write ends in a flush to the disk, which
// would otherwise make the disk, not the code, the measure of the run.
QString TemporaryRoot() {
    const QString shm = QStringLiteral("/dev/shm");
    if (QFileInfo(shm).isDir() && QFileInfo(shm).isWritable())
        return shm + QStringLiteral("/kelta-fuzz-XXXXXX");
    return QDir::temp().filePath(QStringLiteral("kelta-fuzz-XXXXXX"));
}

struct Harness {
    QTemporaryDir root{TemporaryRoot()};
    std::unique_ptr<QApplication> app;
    std::unique_ptr<kelta::TfrmModule> window;
    QString file, copy;
};

Harness& harness() {
    static Harness* h = [] {
        auto* n = new Harness;
        const QString home = n->root.filePath(QStringLiteral("home"));
        QDir().mkpath(home + QStringLiteral("/Documents"));
        QDir().mkpath(n->root.filePath(QStringLiteral("serial")));
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toUtf8());
        n->file = n->root.filePath(QStringLiteral("LR900.ini"));
        n->copy = n->root.filePath(QStringLiteral("copy.ini"));
        qputenv("KELTA_SETTINGS_FILE", n->file.toUtf8());
        qputenv("KELTA_SERIAL_MAP", n->root.filePath(QStringLiteral("serial")).toUtf8());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_settings_restore";
        static char* argv[] = {name, nullptr};
        n->app = std::make_unique<QApplication>(argc, argv);
        n->window = std::make_unique<kelta::TfrmModule>();
        n->window->setGeometry(0, 0, 1366, 768);
        n->window->show();
        QCoreApplication::processEvents();
        return n;
    }();
    return *h;
}

// Text of the controls restore writes, to compare two restores.
QStringList WindowState(kelta::TfrmModule& w) {
    QStringList s;
    for (QLineEdit* e :
         {w.edtTagFilter, w.edtTcpRemotePort, w.edLocalPort, w.edDesPort, w.edtListenPort,
          w.edtLisPort, w.edtTcpServerIP, w.edtTcpServerPort, w.edtSaveFile, w.edtEvenLogFile})
        s << e->text();
    s << QString::number(w.cbxCom->currentIndex()) << QString::number(w.chbAutoSave->isChecked());
    kelta::monitor::RunController& run = *w.runController;
    for (int n = 1; n <= 32; ++n) {
        if (QCheckBox* b = run.chkCOM(n)) s << QString::number(b->isChecked());
        if (QCheckBox* b = run.chkIP(n)) s << QString::number(b->isChecked());
        if (QLineEdit* e = run.edIP(n)) s << e->text();
    }
    return s;
}

std::optional<int> IntegerOf(const SettingsStore& store, const QString& name) {
    try {
        return store.readInteger(name);
    } catch (const SettingsTypeError&) {
        return std::nullopt;
    }
}

// A stored text the edit shows as it is: printable, within the edit's length limit.
void RequireShown(const SettingsStore& store, const char* name, QLineEdit* edit) {
    const QString key = QString::fromLatin1(name);
    if (!store.hasValue(key)) return;
    const QString text = store.readString(key);
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.isSurrogate() || c.unicode() == 0x7F) return;
    Require(edit->text() == text.left(edit->maxLength()));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArray WithoutBlanksAtTheEnds(QByteArray t) {
    while (!t.isEmpty() && IsBlank(t.front())) t.remove(0, 1);
    while (!t.isEmpty() && IsBlank(t.back())) t.chop(1);
    return t;
}

// A file without quotes and backslashes has no quoted part and no escape: each value of its top
// level (before any section, or in [General]) reads exactly as it stands on its line, commas
// and the blanks around them included, up to a ';' (a comment) and without the blanks at its
// ends; the last line of a name counts. A value starting with '@' is left out (the INI reader
// gives "@@x" as "@x"), and so are names other than letters, digits and '_'.
void RequireAsTyped(const QByteArray& bytes, const SettingsStore& store) {
    if (bytes.contains('"') || bytes.contains('\\') || bytes.startsWith("\xef\xbb\xbf")) return;
    QHash<QString, QString> typed;
    bool topLevel = true;
    QByteArray text = bytes;
    text.replace('\r', '\n');
    for (QByteArray line : text.split('\n')) {
        line = WithoutBlanksAtTheEnds(line);
        if (line.startsWith(';')) continue;
        if (const qsizetype semicolon = line.indexOf(';'); semicolon >= 0) line.truncate(semicolon);
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            if (close < 0) return; // a format error: the file is refused, and not here
            topLevel = QByteArrayView(line).first(close).sliced(1).trimmed().compare(
                           "general", Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!topLevel || equals <= 0) continue;
        const QByteArray name = WithoutBlanksAtTheEnds(line.left(equals));
        if (name.isEmpty()) continue;
        bool plainName = true;
        for (const char c : name)
            plainName = plainName && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                      (c >= '0' && c <= '9') || c == '_');
        if (!plainName) continue;
        // A value that is no valid UTF-8 is left out: the INI reader may drop a cut sequence at
        // its end where a plain conversion gives a replacement character.
        const QByteArray value = WithoutBlanksAtTheEnds(line.mid(equals + 1));
        const QString text = QString::fromUtf8(value);
        if (text.toUtf8() != value) {
            typed.remove(QString::fromLatin1(name));
            continue;
        }
        typed.insert(QString::fromLatin1(name), text);
    }
    for (auto it = typed.begin(); it != typed.end(); ++it) {
        if (it->startsWith(u'@')) continue;
        Require(store.hasValue(it.key()));
        Require(store.readString(it.key()) == *it);
    }
}

} // namespace

// The window is made once, before the first input, so its one-time allocations are not taken
// for a leak of an input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    harness();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Harness& h = harness();
    kelta::TfrmModule& w = *h.window;
    {
        QFile f(h.file);
        Require(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    auto store = SettingsStore::openAt(h.file, false);
    if (!store) {
        // A file with a format error or a value this program never writes: refused at every
        // opening, restoring leaves the window as it was (and says so for the latter), and
        // the file is never written.
        const QStringList before = WindowState(w);
        Require(kelta::RestoreSettings(w) ==
                kelta::platform::settingsFileRefusal(h.file).isEmpty());
        Require(WindowState(w) == before);
        Require(!SettingsStore::openAt(h.file, true));
        QFile f(h.file);
        Require(f.open(QIODevice::ReadOnly));
        const QByteArray now = f.readAll();
        Require(now == QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                               static_cast<qsizetype>(size)));
        return 0;
    }

    RequireAsTyped(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
        *store);

    // A known state for the on/off controls an unreadable value must leave alone.
    const bool autoSaveBefore = (size & 1) != 0;
    w.chbAutoSave->setChecked(autoSaveBefore);
    Require(kelta::RestoreSettings(w));
    const QStringList first = WindowState(w);

    const QString autoSave = QStringLiteral("AutoSaveFile");
    if (store->hasValue(autoSave)) {
        const auto on = IntegerOf(*store, autoSave);
        Require(w.chbAutoSave->isChecked() == (on ? *on != 0 : autoSaveBefore));
    }
    kelta::monitor::RunController& run = *w.runController;
    for (int n = 1; n <= 32; ++n) {
        const QString num = QString::number(n);
        if (QCheckBox* b = run.chkCOM(n)) {
            const auto on = IntegerOf(*store, QStringLiteral("COM") + num);
            Require(b->isChecked() == (on && *on == 1));
        }
        if (QLineEdit* e = run.edIP(n)) {
            if (store->hasValue(QStringLiteral("IP") + num))
                RequireShown(*store, qPrintable(QStringLiteral("IP") + num), e);
            else
                Require(e->text() == QStringLiteral("192.168.1.") + QString::number(100 + n));
        }
    }
    RequireShown(*store, "TagFilterUID", w.edtTagFilter);
    RequireShown(*store, "LocalPort", w.edLocalPort);
    RequireShown(*store, "DesPort", w.edDesPort);
    RequireShown(*store, "ListenPort", w.edtListenPort);
    RequireShown(*store, "ListenPort", w.edtLisPort);
    RequireShown(*store, "SETSERTCPIP", w.edtTcpServerIP);
    RequireShown(*store, "SETSERTCPPort", w.edtTcpServerPort);
    RequireShown(*store, "SaveFileName", w.edtSaveFile);
    RequireShown(*store, "EvenLogFile", w.edtEvenLogFile);

    // The same file again: the same window.
    w.chbAutoSave->setChecked(!autoSaveBefore);
    Require(kelta::RestoreSettings(w));
    // The auto-save box keeps what it had unless the file holds an integer for it.
    if (IntegerOf(*store, autoSave)) Require(WindowState(w) == first);

    // Every value through the store into a fresh file reads back as it was.
    QFile::remove(h.copy);
    {
        auto out = SettingsStore::openAt(h.copy, true);
        Require(out.has_value());
        out->holdWrites();
        for (const QString& name : store->valueNames()) {
            // A line "=value" names nothing: no such value is listed.
            Require(!name.isEmpty());
            Require(out->writeString(name, store->readString(name)));
        }
        Require(out->commit());
    }
    auto back = SettingsStore::openAt(h.copy, false);
    Require(back.has_value());
    for (const QString& name : store->valueNames()) {
        const QString text = store->readString(name);
        Require(back->hasValue(name));
        Require(back->readString(name) == text);
        Require(IntegerOf(*back, name) == IntegerOf(*store, name));
    }
    return 0;
}
