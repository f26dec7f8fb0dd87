#pragma once
// How a value stands in the settings file, next to how the INI reader (QSettings) reads it.
//
// The INI reader takes an unquoted comma as a list separator and drops every quote, so a value
// typed by hand as "/data/site A,line 2.csv" or 'say "hi" now' would reach the program changed.
// This program never writes such a value: what it writes is either without quotes or wholly in
// one pair of them, inner quotes escaped, commas only inside the quotes. A value in that form
// (the format's form) is read as the INI reader reads it, which is how every value the program
// wrote has always read. Any other value (an unquoted comma, or a quote that does not open or
// close the whole value) is read exactly as it stands on its line, only the blanks at its two
// ends dropped.

#include <QByteArrayView>
#include <QHash>
#include <QString>

namespace kelta::platform {

struct LiteralSettingsValue {
    QString text; // the value as it stands
    // How the INI reader cuts it: 0 when into no list (a stray quote only), else the number of
    // list items (unquoted commas + 1).
    int listItems = 0;
};

// The values of the file's top level ([General] and the lines before any section) that are not
// in the format's form, by name, the last line of a name counting (as for the INI reader). The
// lines, sections, names and comments are cut as the INI reader cuts them.
QHash<QString, LiteralSettingsValue> literalSettingsValues(QByteArrayView fileBytes);

// The text after the '=' of one line: true and `literal` filled when it is not in the format's
// form; false, `literal` untouched, when it is (the INI reader's reading stands).
bool literalSettingsText(QByteArrayView valueBytes, LiteralSettingsValue& literal);

} // namespace kelta::platform
