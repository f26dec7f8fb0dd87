#pragma once
// Interface languages: 0 English, 1 Traditional Chinese, 2 Simplified Chinese.

#include <QFont>
#include <QString>
#include <span>

namespace kelta {

class TfrmModule;

inline constexpr int kLanguageCount = 3;

// One row of the language table: the English key (the text the program uses), then its text
// in each language. The English column is never shown: with language 0 the key is shown.
struct LanguageEntry {
    const char* key;
    const char* english;
    const char* traditional; // UTF-8
    const char* simplified;  // UTF-8
};

// The table, in its fixed order (102 rows).
std::span<const LanguageEntry> languageTable();

int currentLanguageIndex();
// Sets the language index; a value outside 0 ... 2 is taken as 0 (English).
void setCurrentLanguageIndex(int index);
// The valid language index for a stored value: the value itself for 0 ... 2, else 0.
int validLanguageIndex(int index);

// The text of `text` (an English key) in the given language, matched without regard to case;
// the text itself with language 0, an unknown language, or no entry for it.
QString Translate(int languageIndex, const QString& text);

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

} // namespace kelta
