#include "app/startup.h"

#include "app/frmmodule.h"
#include "app/language.h"
#include "platform/wait_pump.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "platform/files.h"
#include "platform/serial_device_map.h"
#include "platform/settings_store.h"
#include "reader/reader_link.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTabBar>
#include <array>
#include <cstdio>
#include <exception>
#include <optional>

namespace kelta {

namespace {

using platform::SettingsStore;
using platform::SettingsTypeError;

// The geometry the window was given at construction, kept until the first showing: a caller
// that placed the window itself before showing it keeps its placement.
constexpr const char* kBuiltGeometry = "keltaBuiltGeometry";

// A control that belongs to a composite widget (a combo box's view, a tab bar's scroll
// buttons, a grid's corner button) or to another window is not one of the window's captions.
bool isWindowCaption(const QWidget* window, QObject* o) {
    auto* wd = qobject_cast<QWidget*>(o);
    if (!wd || wd->window() != window) return false;
    for (QObject* p = o->parent(); p && p != window; p = p->parent())
        if (qobject_cast<QComboBox*>(p) || qobject_cast<QTabBar*>(p) ||
            qobject_cast<QAbstractItemView*>(p) || qobject_cast<QAbstractSpinBox*>(p) ||
            qobject_cast<QScrollBar*>(p) || qobject_cast<QStatusBar*>(p))
            return false;
    return true;
}

// The port text normalised: its decimal number, 4001 when it is not one.
QString normalisedPort(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return QString::number(ok ? v : 4001);
}

void selectLinkPage(TfrmModule& w, int page) {
    switch (page) {
    case 0:
        w.pcTagMain->setActivePage(w.tsNET);
        break;
    case 2:
        w.pcTagMain->setActivePage(w.tsNetServer);
        break;
    default:
        w.pcTagMain->setActivePage(w.tsCOM);
        break;
    }
}

void appendSelectionRow(StringGrid* grid, const QString& uid) {
    const int r = grid->appendRow();
    grid->setCell(0, r, QString::number(r));
    grid->setCell(1, r, uid);
    grid->setCurrentRow(r);
}

void fillPortList(TfrmModule& w) {
    QComboBox* cbx = w.cbxCom;
    cbx->clear();
    QStringList items;
    try {
        items = serialPortItems(platform::systemPortList());
    } catch (const std::exception&) {
        items = serialPortItems({});
    }
    cbx->addItems(items);
    cbx->setCurrentIndex(0);
}

void loadSelectionFile(TfrmModule& w) {
    const QString path = monitor::TagTables::selectionFilePath();
    platform::createFolders(QFileInfo(path).absolutePath());
    if (!platform::fileExists(path)) return;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return;
    while (!f.atEnd()) {
        QString line = QString::fromUtf8(f.readLine());
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
        if (line.isEmpty()) continue; // a blank line names no tag
        appendSelectionRow(w.grdUID, line);
        appendSelectionRow(w.grdSel, line);
        w.lvTag->addItem(line);
        w.lvSel->addItem(line);
    }
    for (StringGrid* g : {w.grdUID, w.grdSel}) g->flush();
}

void connectHandlers(TfrmModule& w) {
    TfrmModule* p = &w;
    for (QPushButton* b : {w.btnExit01, w.btnExit02, w.btnExit03})
        if (b) QObject::connect(b, &QPushButton::clicked, p, [p] { btnExit01Click(*p); });
    QObject::connect(w.btnEng, &QPushButton::clicked, p, [p] { btnEngClick(*p); });
    QObject::connect(w.btnCHT, &QPushButton::clicked, p, [p] { btnCHTClick(*p); });
    QObject::connect(w.btnCHS, &QPushButton::clicked, p, [p] { btnCHSClick(*p); });
    QObject::connect(w.cmbLanguage, &QComboBox::activated, p,
                     [p](int index) { cmbLanguageChange(*p, index); });
}

} // namespace

QStringList serialPortItems(const QStringList& registeredNames) {
    std::array<bool, 101> serialPortFlags{};
    for (const QString& value : registeredNames) {
        const QString name = value.trimmed().toUpper();
        if (name.contains(QLatin1String("VCOM"))) continue;
        if (!name.contains(QLatin1String("COM"))) continue;
        bool ok = false;
        int n = name.mid(3).toInt(&ok, 10);
        if (!ok) n = 0;
        if (n >= 1 && n <= 100) serialPortFlags[static_cast<std::size_t>(n)] = true;
    }
    QStringList items;
    for (int n = 1; n <= 100; ++n)
        if (serialPortFlags[static_cast<std::size_t>(n)])
            items << QStringLiteral("COM") + QString::number(n);
    if (items.isEmpty())
        for (int n = 1; n <= 32; ++n) items << QStringLiteral("COM%1").arg(n);
    return items;
}

QList<QObject*> captionedControls(TfrmModule& w) {
    QList<QObject*> out;
    for (QObject* o : w.findChildren<QObject*>())
        if (isCaptioned(o) && isWindowCaption(&w, o)) out << o;
    return out;
}

void FormCreate(TfrmModule& w) {
    w.setWindowTitle(QString::fromLatin1(kWindowCaption));
    w.setProperty(kBuiltGeometry, w.geometry());
    connectHandlers(w);
    // Each block gives up on its first error; the next one still runs.
    try {
        fillPortList(w);
    } catch (const std::exception&) {
    }
    if (w.cbxCom->count() == 0) {
        w.cbxCom->addItems(serialPortItems({}));
        w.cbxCom->setCurrentIndex(0);
    }
    try {
        loadSelectionFile(w);
    } catch (const std::exception&) {
    }
    // The tag grids' columns follow the font and the headers from here on.
    FitTagGridColumns(w);
}

namespace {

// Reads the stored values one by one: a value that cannot be read as its type is skipped and
// named in `skipped`, and its control keeps what it had.
class StoredValues {
public:
    explicit StoredValues(const SettingsStore& s) : s_(s) {}

    bool has(const QString& name) const { return s_.hasValue(name); }
    QString text(const QString& name) const { return s_.readString(name); }
    std::optional<int> integer(const QString& name) {
        if (!s_.hasValue(name)) return std::nullopt;
        try {
            return s_.readInteger(name);
        } catch (const SettingsTypeError&) {
            skipped << name;
            return std::nullopt;
        }
    }

    QStringList skipped;

private:
    const SettingsStore& s_;
};

void reportSkipped(const QString& path, const QStringList& names) {
    if (names.isEmpty()) return;
    std::fprintf(stderr,
                 "Settings file %s: %s could not be read and kept the default; the other "
                 "values were restored.\n",
                 qPrintable(QDir::toNativeSeparators(path)), qPrintable(names.join(", ")));
    std::fflush(stderr);
}

} // namespace

bool RestoreSettings(TfrmModule& w) {
    const QString path = platform::settingsFilePath();
    const QString refusal = platform::settingsFileRefusal(path);
    if (!refusal.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(refusal));
        std::fflush(stderr);
        if (w.sbMain) w.sbMain->setPanelText(0, QString::fromLatin1(kSettingsRefusedText));
        return false;
    }
    auto store = SettingsStore::open(false);
    if (!store || !w.runController) return true; // the control tables live in the run controller
    monitor::RunController& run = *w.runController;
    StoredValues v(*store);
    auto name = [](const char* n) { return QString::fromLatin1(n); };

    setCurrentLanguageIndex(0);
    if (auto i = v.integer(name("LanguageIndex"))) setCurrentLanguageIndex(*i);
    if (auto page = v.integer(name("PAGE"))) selectLinkPage(w, *page);
    w.edtTagFilter->clear();
    if (v.has(name("TagFilterUID"))) w.edtTagFilter->setText(v.text(name("TagFilterUID")));
    w.edtTcpRemotePort->setText(run.remotePortText());
    if (v.has(name("TcpRemotePort"))) w.edtTcpRemotePort->setText(v.text(name("TcpRemotePort")));
    w.edtTcpRemotePort->setText(normalisedPort(w.edtTcpRemotePort->text()));
    run.setRemotePortText(w.edtTcpRemotePort->text());
    if (v.has(name("LocalPort"))) w.edLocalPort->setText(v.text(name("LocalPort")));
    if (v.has(name("DesPort"))) w.edDesPort->setText(v.text(name("DesPort")));
    if (v.has(name("ListenPort"))) {
        w.edtListenPort->setText(v.text(name("ListenPort")));
        w.edtLisPort->setText(v.text(name("ListenPort")));
    }
    if (v.has(name("SETSERTCPIP"))) w.edtTcpServerIP->setText(v.text(name("SETSERTCPIP")));
    if (v.has(name("SETSERTCPPort"))) w.edtTcpServerPort->setText(v.text(name("SETSERTCPPort")));
    if (v.has(name("SETCOMPORT"))) {
        const int i = w.cbxCom->findText(v.text(name("SETCOMPORT")), Qt::MatchExactly);
        if (i >= 0) w.cbxCom->setCurrentIndex(i);
    }
    if (v.has(name("SaveFileName"))) w.edtSaveFile->setText(v.text(name("SaveFileName")));
    if (v.has(name("EvenLogFile"))) w.edtEvenLogFile->setText(v.text(name("EvenLogFile")));
    if (auto on = v.integer(name("AutoSaveFile"))) w.chbAutoSave->setChecked(*on != 0);
    for (int n = 1; n <= 32; ++n) {
        const QString num = QString::number(n);
        if (QCheckBox* b = run.chkCOM(n)) {
            b->setChecked(false);
            if (auto on = v.integer(QStringLiteral("COM") + num)) b->setChecked(*on == 1);
        }
        if (QCheckBox* b = run.chkIP(n)) {
            b->setChecked(false);
            if (auto on = v.integer(QStringLiteral("NET") + num)) b->setChecked(*on == 1);
        }
        if (QLineEdit* e = run.edIP(n)) {
            e->setText(QStringLiteral("192.168.1.") + QString::number(100 + n));
            const QString ip = QStringLiteral("IP") + num;
            if (v.has(ip)) e->setText(v.text(ip));
        }
    }
    reportSkipped(store->path(), v.skipped);
    return true;
}

void FormShow(TfrmModule& w) {
    // 1. The control tables were filled from the window's components when the run controller
    // was made; the window has no others.
    // 3. Presets.
    w.edtTcpServerIP->setText(QStringLiteral("192.168.1.101"));
    w.edtTcpServerPort->setText(QStringLiteral("5001"));
    w.pcMain->setActivePage(w.tsReadTag);
    w.pcSetReadMain->setActivePage(w.tsComPort);
    w.pcReadTag->setActivePage(w.tsViewAllTag);
    w.pcTagMain->setActivePage(w.tsNET);
    if (w.readerLink) w.readerLink->state().linkMode = 0;
    w.chbAllTags->setChecked(false);
    w.chbAutoSave->setChecked(false);
    // 4. A language given on the command line replaces the stored one.
    RestoreSettings(w);
    if (const auto chosen = startupLanguage()) setCurrentLanguageIndex(*chosen);
    // 5. Each caption becomes its control's English key.
    w.setEnabled(false);
    for (QObject* o : captionedControls(w)) setHint(o, captionOf(o));
    // 6.
    ApplyLanguageFont(w);
    ApplyLanguageCaptions(w);
    if (programClosing()) return;
    // 7.
    if (w.tagTables) w.tagTables->pcTagMainChange();
    // 8.
    setTag(&w, 1);
    const QVariant built = w.property(kBuiltGeometry);
    if (built.isValid() && built.toRect() == w.geometry())
        if (QScreen* screen = QGuiApplication::primaryScreen())
            w.setGeometry(screen->availableGeometry());
    w.setProperty(kBuiltGeometry, QVariant());
    PumpEvents();
}

void FormClose(TfrmModule& w) {
    if (w.tagTables) w.tagTables->closeFiles();
    try {
        auto store = SettingsStore::open(true);
        if (!store) return;
        store->holdWrites();
        if (w.readerLink)
            store->writeInteger(QStringLiteral("PAGE"), w.readerLink->state().linkMode);
        store->writeInteger(QStringLiteral("LanguageIndex"), currentLanguageIndex());
        store->commit();
    } catch (const std::exception&) {
        // A settings file that cannot be written is ignored.
    }
}

void btnExit01Click(TfrmModule& w) {
    if (w.tagTables) w.tagTables->closeFiles();
    w.close();
}

} // namespace kelta
