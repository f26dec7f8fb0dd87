#pragma once
// Text values as they stand in a settings file, for the tests of the store, the window and the
// collector: each value with the line a person types for it, when typing it as it is reads
// back as it is (no line for a value typed that way the INI format reads otherwise: blanks at
// its ends, a ';' outside quotes, a backslash in a value without a comma).

#include <QByteArray>
#include <QString>
#include <vector>

namespace kelta::test {

struct SettingsValueCase {
    QString value;
    QByteArray typed; // the text after '=' as typed by hand; empty: none
};

inline std::vector<SettingsValueCase> settingsValueCases() {
    const auto u = [](const char* s) { return QString::fromUtf8(s); };
    return {
        {u("/data/site A,line 2.csv"), "/data/site A,line 2.csv"},
        {u("/data/log,1.csv"), "/data/log,1.csv"},
        {u("a,b,c"), "a,b,c"},
        {u("a, b"), "a, b"},
        {u("a , b ,c"), "a , b ,c"},
        {u(","), ","},
        {u("  blanks at both ends  "), "\"  blanks at both ends  \""},
        {u(" a,b "), "\" a,b \""},
        {u("say \"hi\" now"), "say \"hi\" now"},
        {u("\"quoted\""), ""},
        {u("\"a\", \"b\""), "\"a\", \"b\""},
        {u("5\" screen, 2\""), "5\" screen, 2\""},
        {u("a,\"b;c\""), "a,\"b;c\""},
        {u("C:\\data\\a,b.csv"), "C:\\data\\a,b.csv"},
        {u("C:\\data\\x.csv"), ""},
        {u("back\\slash\\"), ""},
        {u("a;b"), "\"a;b\""},
        {u("semi;colon, comma"), "\"semi;colon, comma\""},
        {u("x=1,y=2"), "x=1,y=2"},
        {u("a=b"), "a=b"},
        {u("#note,1"), "#note,1"},
        {u("#x"), "#x"},
        {u("日志, °C.csv"), "日志, °C.csv"},
        {u("/données/été"), "/données/été"},
        {u("@x,y"), "@x,y"},
        {u("@x"), ""},
        {u("plain"), "plain"},
        {u(""), ""},
    };
}

} // namespace kelta::test
