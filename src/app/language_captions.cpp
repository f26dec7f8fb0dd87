// Re-captioning the window in the current language, its font, and the language buttons.
#include "app/frmmodule.h"
#include "app/history_charts.h"
#include "app/language.h"
#include "app/links_view.h"
#include "app/startup.h"
#include "platform/wait_pump.h"
#include "app/run_controller.h"
#include "app/tag_tables.h"
#include "platform/settings_store.h"

#include <QComboBox>
#include <QPointer>
#include <exception>

namespace kelta {

void ApplyLanguageFont(TfrmModule& w) {
    w.setFont(languageFont(currentLanguageIndex()));
    if (QComboBox* chooser = w.cmbLanguage) {
        // Every language's own name must show whatever the window's language is.
        QFont f = languageFont(currentLanguageIndex());
        QStringList families = f.families();
        for (const QString& cjk :
             {QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Sans CJK SC")})
            if (!families.contains(cjk)) families << cjk;
        f.setFamilies(families);
        chooser->setFont(f);
    }
}

void ApplyLanguageCaptions(TfrmModule& w) {
    const int lang = currentLanguageIndex();
    // 1.
    w.setEnabled(false);
    PumpEvents();
    if (programClosing()) return;
    // 2. Each control from the English key kept in its hint (filled from the caption once).
    QList<QPointer<QObject>> controls;
    for (QObject* o : captionedControls(w)) controls << o;
    for (const QPointer<QObject>& o : controls) {
        if (!o) continue; // gone while events were handled
        if (hintOf(o).isEmpty()) setHint(o, captionOf(o));
        setCaption(o, Translate(lang, hintOf(o)));
        PumpEvents();
        if (programClosing()) return;
    }
    // 3.
    if (QComboBox* net = w.cmbNet) {
        net->clear();
        for (const char* key : {"ALL", "NET", "RS232", "RS485"})
            net->addItem(Translate(lang, QString::fromLatin1(key)));
        net->setCurrentIndex(0);
    }
    // 4.
    if (w.tagTables) w.tagTables->resetTagGrids();
    if (w.historyCharts) w.historyCharts->retranslate();
    if (w.runController && w.runController->linksView())
        w.runController->linksView()->retranslate();
    // The chooser shows the language in use, however it was chosen.
    if (QComboBox* chooser = w.cmbLanguage) chooser->setCurrentIndex(lang);
    // 5.
    w.setEnabled(true);
    PumpEvents();
}

namespace {

void switchLanguage(TfrmModule& w, int index) {
    setCurrentLanguageIndex(index);
    ApplyLanguageFont(w);
    ApplyLanguageCaptions(w);
    try {
        if (auto store = platform::SettingsStore::open(true))
            store->writeInteger(QStringLiteral("LanguageIndex"), currentLanguageIndex());
    } catch (const std::exception&) {
        // A settings file that cannot be written is ignored.
    }
}

} // namespace

void btnEngClick(TfrmModule& w) {
    switchLanguage(w, 0);
}

void btnCHTClick(TfrmModule& w) {
    switchLanguage(w, 1);
}

void btnCHSClick(TfrmModule& w) {
    switchLanguage(w, 2);
}

QStringList languageChooserItems() {
    return {QStringLiteral("English"), QString::fromUtf8("繁體中文"),
            QString::fromUtf8("简体中文")};
}

void cmbLanguageChange(TfrmModule& w, int index) {
    switch (index) {
    case 0:
        btnEngClick(w);
        break;
    case 1:
        btnCHTClick(w);
        break;
    case 2:
        btnCHSClick(w);
        break;
    default:
        break;
    }
}

} // namespace kelta
