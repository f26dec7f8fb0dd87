// The --language option of the program and the language it chooses for the run.
#include "app/language.h"

#include <QCommandLineParser>

namespace kelta {

namespace {

std::optional<int> chosenAtStart;

} // namespace

LanguageOption parseLanguageOption(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Monitors, configures and sets up readers and tags of an RFID installation."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the version."));
    parser.addOption(version);
    const QCommandLineOption language(
        QStringLiteral("language"),
        QStringLiteral("Interface language of this run: en (English), cht (Traditional Chinese) "
                       "or chs (Simplified Chinese). Stored like a choice made in the window."),
        QStringLiteral("en|cht|chs"));
    parser.addOption(language);

    LanguageOption out;
    out.helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        out.error = parser.errorText();
        return out;
    }
    out.help = parser.isSet(help) || parser.isSet(QStringLiteral("help-all"));
    out.version = parser.isSet(version);
    if (!parser.isSet(language)) return out;
    const QString value = parser.value(language).trimmed().toLower();
    const QStringList codes = {QStringLiteral("en"), QStringLiteral("cht"), QStringLiteral("chs")};
    const auto index = codes.indexOf(value);
    if (index < 0)
        out.error = QStringLiteral("Unknown language '%1': use en, cht or chs.")
                        .arg(parser.value(language));
    else
        out.language = static_cast<int>(index);
    return out;
}

void setStartupLanguage(std::optional<int> index) {
    chosenAtStart = index ? std::optional<int>(validLanguageIndex(*index)) : std::nullopt;
}

std::optional<int> startupLanguage() {
    return chosenAtStart;
}

} // namespace kelta
