#include "platform/settings_text.h"

namespace kelta::platform {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isSpecial(char c) {
    return c == '\n' || c == '\r' || c == '"' || c == ';' || c == '=' || c == '\\';
}

// One line as the INI reader cuts it: leading white space and comment lines skipped; the line
// ends at a line break or an unquoted ';' (the rest is a comment), a quoted part and a
// backslash-escaped line break going on past the break. `equals` is the first unquoted '=',
// or -1. False at the end of the text.
bool nextLine(QByteArrayView data, qsizetype& pos, qsizetype& start, qsizetype& length,
              qsizetype& equals) {
    const qsizetype size = data.size();
    bool inQuotes = false;
    equals = -1;
    start = pos;
    while (start < size && isSpace(data.at(start))) ++start;
    qsizetype i = start;
    while (i < size) {
        char ch = data.at(i);
        while (!isSpecial(ch)) {
            if (++i == size) goto done;
            ch = data.at(i);
        }
        ++i;
        if (ch == '=') {
            if (!inQuotes && equals == -1) equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        } else if (ch == '\\') {
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size) {
                    const char next = data.at(i);
                    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n')) ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else { // ';'
            if (i == start + 1) {
                while (i < size && (ch = data.at(i)) != '\n' && ch != '\r') ++i;
                while (i < size && isSpace(data.at(i))) ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                goto done;
            }
        }
    }
done:
    pos = i;
    length = i - start;
    return length > 0;
}

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

// A name as the INI reader reads it: '\' is '/', %XX and %UXXXX are characters.
QString unescapedName(QByteArrayView bytes) {
    const QString in = QString::fromUtf8(bytes);
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size();) {
        const QChar ch = in.at(i);
        if (ch == u'\\') {
            out += u'/';
            ++i;
            continue;
        }
        if (ch != u'%' || i == in.size() - 1) {
            out += ch;
            ++i;
            continue;
        }
        qsizetype first = i + 1;
        int digits = 2;
        if (in.at(first) == u'U') {
            ++first;
            digits = 4;
        }
        if (first + digits > in.size()) {
            out += u'%';
            ++i;
            continue;
        }
        uint code = 0;
        bool ok = true;
        for (int d = 0; d < digits; ++d) {
            const int v = hexValue(in.at(first + d));
            if (v < 0) {
                ok = false;
                break;
            }
            code = code * 16 + static_cast<uint>(v);
        }
        if (!ok) {
            out += u'%';
            ++i;
            continue;
        }
        out += QChar(static_cast<char16_t>(code));
        i = first + digits;
    }
    return out;
}

QByteArrayView trimmedBlanks(QByteArrayView v) {
    while (!v.isEmpty() && (v.front() == ' ' || v.front() == '\t')) v = v.sliced(1);
    while (!v.isEmpty() && (v.back() == ' ' || v.back() == '\t')) v.chop(1);
    return v;
}

} // namespace

bool literalSettingsText(QByteArrayView valueBytes, LiteralSettingsValue& literal) {
    const QByteArrayView v = trimmedBlanks(valueBytes);
    // The quotes and commas as the INI reader sees them: a backslash takes the next character
    // as its own, a quote opens or closes a quoted part, a comma outside one cuts a list.
    int commas = 0, quotes = 0;
    qsizetype lastQuote = -1;
    bool inQuotes = false, firstIsQuote = false;
    for (qsizetype i = 0; i < v.size(); ++i) {
        const char c = v.at(i);
        if (c == '\\') {
            ++i;
        } else if (c == '"') {
            if (i == 0) firstIsQuote = true;
            ++quotes;
            lastQuote = i;
            inQuotes = !inQuotes;
        } else if (c == ',' && !inQuotes) {
            ++commas;
        }
    }
    const bool wholeInQuotes = quotes == 2 && firstIsQuote && lastQuote == v.size() - 1;
    if (commas == 0 && (quotes == 0 || wholeInQuotes)) return false;
    literal.text = QString::fromUtf8(v);
    literal.listItems = commas == 0 ? 0 : commas + 1;
    return true;
}

QHash<QString, LiteralSettingsValue> literalSettingsValues(QByteArrayView data) {
    QHash<QString, LiteralSettingsValue> out;
    bool topLevel = true; // before any section, or in [General]
    qsizetype pos = 0, start = 0, length = 0, equals = -1;
    // The reader looks for sections past a leading byte-order mark, but reads the names of the
    // lines before the first section with it (as part of the first name, where QString drops it).
    if (data.startsWith("\xef\xbb\xbf")) {
        qsizetype after = 3;
        if (nextLine(data, after, start, length, equals) && data.at(start) == '[') pos = 3;
    }
    while (nextLine(data, pos, start, length, equals)) {
        const QByteArrayView line = data.sliced(start, length);
        if (line.startsWith('[')) {
            qsizetype close = line.indexOf(']');
            if (close < 0) close = line.size();
            const QByteArrayView section = line.first(close).sliced(1).trimmed();
            topLevel = section.compare("general", Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!topLevel || equals < 0) continue;
        qsizetype keyEnd = equals;
        while (keyEnd > start && (data.at(keyEnd - 1) == ' ' || data.at(keyEnd - 1) == '\t'))
            --keyEnd;
        const QString name = unescapedName(data.sliced(start, keyEnd - start));
        if (name.isEmpty() || name.contains(u'/')) continue;
        LiteralSettingsValue literal;
        if (literalSettingsText(data.sliced(equals + 1, start + length - equals - 1), literal))
            out.insert(name, literal);
        else
            out.remove(name); // a later line in the format's form reads as the format says
    }
    return out;
}

} // namespace kelta::platform
