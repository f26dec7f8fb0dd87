#include "app/language.h"

namespace kelta {

namespace {
int languageIndex = 0;
} // namespace

int currentLanguageIndex() {
    return languageIndex;
}

void setCurrentLanguageIndex(int index) {
    languageIndex = index;
}

QString Translate(int /*languageIndex*/, const QString& text) {
    // The table of translated captions is not filled in yet, so every text is its own
    // translation; callers already route every translated text through here.
    return text;
}

} // namespace kelta
