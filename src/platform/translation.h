#pragma once
// The translation of the program's texts: the language table, the current language and the
// lookup of a text by its English key. Qt Core only, so the link and the tag exchange use it
// as the window does.

#include <QString>
#include <span>

namespace kelta {

// Interface languages: 0 English, 1 Traditional Chinese, 2 Simplified Chinese.
inline constexpr int kLanguageCount = 3;

// One row of the language table: the English key (the text the program uses), then its text
// in each language. The English column is never shown: with language 0 the key is shown.
struct LanguageEntry {
    const char* key;
    const char* english;
    const char* traditional; // UTF-8
    const char* simplified;  // UTF-8
};

// The table, in its fixed order (144 rows: the original 102, the text for an unknown reader
// model, the 16 texts of the Links tab, the tag history's 13 and the 12 of the progress of long
// operations).
std::span<const LanguageEntry> languageTable();

int currentLanguageIndex();
// Sets the language index; a value outside 0 ... 2 is taken as 0 (English).
void setCurrentLanguageIndex(int index);
// The valid language index for a stored value: the value itself for 0 ... 2, else 0.
int validLanguageIndex(int index);

// The text of `text` (an English key) in the given language, matched without regard to case;
// the text itself with language 0, an unknown language, or no entry for it.
QString Translate(int languageIndex, const QString& text);

} // namespace kelta
