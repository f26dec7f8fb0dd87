// The columns of the tag grids fitted to the longest text each can hold and to its header in
// the current language. The grids measure again on every font or header change, so a language
// switch refits them; the rows are never measured.
#include "app/frmmodule.h"
#include "app/language.h"
#include "monitor/proto/report_decoder.h"

#include <QHash>

namespace kelta {

namespace {

constexpr const char* kDecimal = "0123456789";
constexpr const char* kHex = "0123456789ABCDEF";
constexpr const char* kBinary = "01";

// The pattern once for each character of the alphabet, every '#' replaced by it: the widest
// digit of a proportional font is then among the samples.
QStringList filled(const QString& pattern, const char* alphabet) {
    QStringList out;
    for (const char* c = alphabet; *c; ++c) {
        QString s = pattern;
        s.replace(QLatin1Char('#'), QLatin1Char(*c));
        out << s;
    }
    return out;
}

QStringList logStatusTexts() {
    QStringList out = filled(QStringLiteral("#####"), kDecimal);
    for (std::uint16_t code = 0; code < 100; ++code)
        out << QString::fromStdString(monitor::LogStatusText(code));
    out.removeDuplicates();
    return out;
}

// The longest display texts of the decoder, by header key.
QHash<QString, QStringList> buildSamples() {
    QHash<QString, QStringList> s;
    const QStringList twoHex = filled(QStringLiteral("##"), kHex);
    const QStringList byteDecimal = filled(QStringLiteral("###"), kDecimal);
    const QStringList eightBits = filled(QStringLiteral("########"), kBinary);
    s.insert(QStringLiteral("No."), filled(QStringLiteral("######"), kDecimal));
    s.insert(QStringLiteral("UID"), filled(QString(16, QLatin1Char('#')), kHex));
    for (const char* key : {"RSSI", "LQI", "Battery"}) s.insert(QLatin1String(key), byteDecimal);
    for (const char* key : {"TagVer", "Model", "KeyNo", "Group", "ISN_H", "ISN_L", "D_1L", "D_2L"})
        s.insert(QLatin1String(key), twoHex);
    s.insert(QStringLiteral("Packet"), eightBits);
    s.insert(QStringLiteral("S_State"), eightBits);
    // A sensor text: Celsius and Fahrenheit from -273.13 C up to 1037.55 C; or four hex digits.
    QStringList sensor = filled(QStringLiteral("-###.## C / -###.## F"), kDecimal);
    sensor << filled(QStringLiteral("####.## C / ####.## F"), kDecimal)
           << filled(QStringLiteral("-####.##%"), kDecimal) << filled(QStringLiteral("####"), kHex);
    s.insert(QStringLiteral("D_1H"), sensor);
    s.insert(QStringLiteral("D_2H"), sensor);
    s.insert(QStringLiteral("ID"), filled(QStringLiteral("####"), kDecimal));
    s.insert(QStringLiteral("Count"), filled(QStringLiteral("#######"), kDecimal));
    // Each position field is one byte, so up to three digits each.
    s.insert(
        QStringLiteral("GPS"),
        filled(QString::fromUtf8("-###°###'###.###\",-###°###'###.###\",#####,#####"), kDecimal));
    s.insert(QStringLiteral("Index"), filled(QStringLiteral("#####"), kDecimal));
    s.insert(QStringLiteral("DateTime"), filled(QStringLiteral("####/##/## ##:##:##"), kDecimal));
    s.insert(QStringLiteral("LOGStatus"), logStatusTexts());
    s.insert(QStringLiteral("MilliSecBetween"), filled(QStringLiteral("##########"), kDecimal));
    return s;
}

QList<QStringList> samplesFor(const QStringList& headerKeys) {
    QList<QStringList> out;
    out.reserve(headerKeys.size());
    for (const QString& key : headerKeys) out << tagColumnSamples(key);
    return out;
}

} // namespace

QStringList tagColumnSamples(const QString& headerKey) {
    static const QHash<QString, QStringList> samples = buildSamples();
    return samples.value(headerKey);
}

void FitTagGridColumns(TfrmModule& w) {
    if (w.grdUID) w.grdUID->setColumnSamples(samplesFor(grdUIDHeaders()));
    if (w.grdUID_LOG) w.grdUID_LOG->setColumnSamples(samplesFor(grdUIDLogHeaders()));
    if (w.grdSel) w.grdSel->setColumnSamples(samplesFor(grdSelHeaders()));
}

} // namespace kelta
