#include "app/language.h"

namespace kelta {

QFont languageFont(int language) {
    // The table's face first (with its usual stand-in where it is not installed); the CJK faces
    // after it carry the glyphs it lacks. 10 points in the table: 13 pixels at 96 dots per inch.
    QStringList families;
    switch (validLanguageIndex(language)) {
    case 1:
        families = {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Sans CJK SC")};
        break;
    case 2:
        families = {QStringLiteral("宋体"), QStringLiteral("SimSun"),
                    QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK TC")};
        break;
    default:
        families = {QStringLiteral("Arial")};
        break;
    }
    QFont f(families.first());
    f.setFamilies(families);
    f.setPixelSize(13);
    f.setBold(true);
    return f;
}

} // namespace kelta
