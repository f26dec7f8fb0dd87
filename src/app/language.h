#pragma once
// Interface languages of the window: its font, captions, chooser and option. The table and
// the lookup of texts are in platform/translation.h.

#include "platform/translation.h"

#include <QFont>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>

namespace kelta {

class TfrmModule;

// The window font of a language: bold, the table's face, with CJK faces behind it so that
// Chinese captions find their glyphs where the table's face has none.
QFont languageFont(int languageIndex);

// Sets the window's font for the current language.
void ApplyLanguageFont(TfrmModule& w);
// Re-captions every captioned control from the English key in its hint, refills cmbNet, empties
// the tag grids down to their translated headers and resets the poll position.
void ApplyLanguageCaptions(TfrmModule& w);

// The language buttons: set the language, re-caption the window, store "LanguageIndex".
void btnEngClick(TfrmModule& w);
void btnCHTClick(TfrmModule& w);
void btnCHSClick(TfrmModule& w);

// The language chooser at the right end of the status bar: each language named in its own
// script, so that a reader of any of them finds it. Choosing one runs its button's handler.
QStringList languageChooserItems();
void cmbLanguageChange(TfrmModule& w, int index);

// The longest texts a tag grid column can show, by the column's English header key (16 hex
// digits for "UID", 8 binary digits for "Packet", a date and time, a GPS position ...); empty
// for an unknown key.
QStringList tagColumnSamples(const QString& headerKey);
// Gives grdUID, grdUID_LOG and grdSel their column samples: each column is then as wide as its
// longest value and its header in the window's font, measured again on a language switch.
void FitTagGridColumns(TfrmModule& w);

// The program's option "--language en|cht|chs" (also "--language=chs"; the value in any case).
struct LanguageOption {
    std::optional<int> language; // empty when the option is not given
    bool help = false;           // -h / --help
    bool version = false;        // --version
    QString error;               // not empty for an unknown option or value
    QString helpText;
};
// Reads the options from the program's arguments (the program's name first).
LanguageOption parseLanguageOption(const QStringList& arguments);
// A language chosen for this run on the command line. It replaces the stored language at the
// first showing and is stored like any other choice when the window closes.
void setStartupLanguage(std::optional<int> index);
std::optional<int> startupLanguage();

} // namespace kelta
