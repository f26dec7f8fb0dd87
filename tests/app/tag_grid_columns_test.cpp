// The tag grids on the real window: the widest texts the decoder produces, and every header
// in each language, fit their columns without being cut; narrow windows scroll; posting rows
// never changes the widths.
#include "../proto_decode/frames.h"
#include "app/frmmodule.h"
#include "app/language.h"
#include "app/tag_tables.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <gtest/gtest.h>
#include <memory>

using namespace kelta;
using namespace testframes;
using kelta::monitor::DecodeMode;
using kelta::monitor::LinkKind;

namespace {

// Cell text is drawn inside a margin on either side (the style's focus-frame margin plus one).
int cellRoom(const StringGrid* g, int col) {
    const int margin = g->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, g) + 1;
    return g->colWidth(col) - 2 * margin;
}

// Header text is drawn inside the style's header margin on either side.
int headerRoom(const StringGrid* g, int col) {
    const QHeaderView* h = g->horizontalHeader();
    const int margin = h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
    return g->colWidth(col) - 2 * margin;
}

// Records whose texts are the longest the decoder makes: an all-nines UID (letters are
// rejected), every bit set, the coldest and hottest sensor texts, a GPS position far west and
// south with the largest values, the widest log status.
Tag widestTag() {
    Tag t;
    t.readerId = 9999;
    t.version = 0x10;
    t.packet = 0xFF;
    t.model = 0x01;
    t.keyNo = 0xDD;
    t.group = 0xDD;
    t.uid = 0x9999999999999999ULL;
    t.rssi = 255;
    t.lqi = 255;
    t.state = 0xFF;
    t.battery = 188;
    t.d1 = 0xC001; // sel 3, R1 1: -273.13 C / -459.63 F
    t.d2 = 0xFFFF; // 1037.55 C / 1899.59 F
    Gps g;
    g.lonDeg = 188;
    g.lonMin = 58;
    g.lonSec = 58;
    g.lonHs = 98;
    g.lonHemi = 'W';
    g.latDeg = 88;
    g.latMin = 58;
    g.latSec = 58;
    g.latHs = 98;
    g.latHemi = 'S';
    g.value1 = 65535;
    g.value2 = 58888;
    t.gps = g;
    return t;
}

class TagGridColumns : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
        w = std::make_unique<TfrmModule>();
        w->setGeometry(0, 0, 1076, 800);
        w->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        w.reset();
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
    }

    // One live record into grdUID and grdSel (the tag is selected), one log record into
    // grdUID_LOG, all through the decoder.
    void postWidestRecords() {
        const Tag t = widestTag();
        w->lvSel->addItem(QStringLiteral("9999999999999999"));
        monitor::TagTables& tables = *w->tagTables;
        tables.setCurrentTagGrid(w->grdUID);
        ASSERT_TRUE(monitor::SplitReportBlock(DecodeMode::Live, LinkKind::Serial, "01",
                                              LiveFrame(t), tables));
        tables.setCurrentTagGrid(w->grdUID_LOG);
        LogEntry e;
        e.tag = t;
        e.year = 2088;
        e.month = 12;
        e.day = 28;
        e.hour = 23;
        e.minute = 58;
        e.second = 58;
        e.status = 98; // "LOG MODULE COMM RESUME"
        e.gps = t.gps;
        ASSERT_TRUE(monitor::SplitReportBlock(DecodeMode::Log, LinkKind::Serial, "01",
                                              LogFrame(LogPayload(65535, {e})), tables));
        for (StringGrid* g : {w->grdUID, w->grdUID_LOG, w->grdSel}) g->flush();
    }

    std::unique_ptr<TfrmModule> w;
};

TEST_F(TagGridColumns, TheWidestValuesAreNeverCut) {
    for (auto [lang, click] :
         {std::pair{0, &btnEngClick}, std::pair{1, &btnCHTClick}, std::pair{2, &btnCHSClick}}) {
        click(*w); // empties the grids and refits them to the language's font
        postWidestRecords();
        EXPECT_EQ(w->grdUID->cell(1, 1), "9999999999999999");
        EXPECT_EQ(w->grdUID->cell(13, 1), "-273.13 C / -459.63 F");
        EXPECT_EQ(w->grdUID_LOG->cell(21, 1), "LOG MODULE COMM RESUME");
        for (StringGrid* g : {w->grdUID, w->grdUID_LOG, w->grdSel}) {
            SCOPED_TRACE(g->objectName().toStdString() + " language " + std::to_string(lang));
            ASSERT_EQ(g->rowCount(), 2);
            const QFontMetrics fm = g->fontMetrics();
            for (int col = 0; col < g->colCount(); ++col) {
                const QString text = g->cell(col, 1);
                EXPECT_LE(fm.horizontalAdvance(text), cellRoom(g, col))
                    << "column " << col << " " << qPrintable(text);
            }
        }
    }
}

TEST_F(TagGridColumns, EveryHeaderIsReadableInEachLanguage) {
    int englishRssi = 0;
    for (auto [lang, click] :
         {std::pair{0, &btnEngClick}, std::pair{1, &btnCHTClick}, std::pair{2, &btnCHSClick}}) {
        click(*w);
        for (StringGrid* g : {w->grdUID, w->grdUID_LOG, w->grdSel}) {
            SCOPED_TRACE(g->objectName().toStdString() + " language " + std::to_string(lang));
            const QFontMetrics fm = g->horizontalHeader()->fontMetrics();
            for (int col = 0; col < g->colCount(); ++col) {
                const QString header = g->cell(col, 0);
                EXPECT_LE(fm.horizontalAdvance(header), headerRoom(g, col))
                    << "column " << col << " " << qPrintable(header);
            }
        }
        if (lang == 0) englishRssi = w->grdUID->colWidth(2);
    }
    // The Chinese "RSSI" header is four characters wide, the values three digits: the column
    // follows the header of the language, not a width fixed for English.
    EXPECT_EQ(w->grdUID->cell(2, 0), QString::fromUtf8("讯号强度"));
    EXPECT_GT(w->grdUID->colWidth(2), englishRssi);
    btnEngClick(*w);
    EXPECT_EQ(w->grdUID->colWidth(2), englishRssi);
}

TEST_F(TagGridColumns, ANarrowWindowScrollsInsteadOfCutting) {
    for (QSize size : {QSize(1076, 800), QSize(1366, 768)}) {
        w->resize(size);
        QCoreApplication::processEvents();
        for (StringGrid* g : {w->grdUID, w->grdSel}) {
            SCOPED_TRACE(g->objectName().toStdString());
            w->pcReadTag->setActivePage(g == w->grdSel ? w->tsViewSelTag : w->tsViewAllTag);
            QCoreApplication::processEvents();
            int total = 0;
            for (int col = 0; col < g->colCount(); ++col) total += g->colWidth(col);
            ASSERT_GT(total, g->viewport()->width());
            EXPECT_EQ(g->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
            EXPECT_GT(g->horizontalScrollBar()->maximum(), 0);
        }
    }
}

TEST_F(TagGridColumns, PostingRowsLeavesTheWidthsAlone) {
    QList<int> before;
    for (int col = 0; col < w->grdUID->colCount(); ++col) before << w->grdUID->colWidth(col);
    postWidestRecords();
    for (int i = 0; i < 200; ++i) {
        StringGrid* g = w->grdUID;
        const int r = g->appendRow();
        g->setCell(1, r, QString::number(1000000000000000ULL + static_cast<qulonglong>(i)));
        g->setCell(19, r, QString(300, QLatin1Char('W'))); // longer than any value
    }
    w->grdUID->flush();
    QList<int> after;
    for (int col = 0; col < w->grdUID->colCount(); ++col) after << w->grdUID->colWidth(col);
    EXPECT_EQ(after, before);
    // "Clear" rewrites the same headers: no refit, no change.
    w->btnClear->click();
    QCoreApplication::processEvents();
    after.clear();
    for (int col = 0; col < w->grdUID->colCount(); ++col) after << w->grdUID->colWidth(col);
    EXPECT_EQ(after, before);
}

} // namespace
