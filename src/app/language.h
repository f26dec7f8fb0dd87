#pragma once
// Interface languages: 0 English, 1 Traditional Chinese, 2 Simplified Chinese.

#include <QString>

namespace kelta {

int currentLanguageIndex();
void setCurrentLanguageIndex(int index);

// The text of `text` (an English key) in the given language, matched without regard to case;
// the text itself when the table has no entry for it.
QString Translate(int languageIndex, const QString& text);

} // namespace kelta
