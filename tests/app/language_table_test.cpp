// The language table and translation: lookups, the table's shape, the script of each column,
// and that every Chinese text has glyphs in the window font of its language.
#include "app/language.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QSet>
#include <QTextLayout>
#include <gtest/gtest.h>

using namespace kelta;

namespace {

QString u(const char* s) {
    return QString::fromUtf8(s);
}

TEST(Translate, LooksUpKeysIgnoringCaseAndLeavesOthersUnchanged) {
    EXPECT_EQ(Translate(1, "start"), u("啟動"));
    EXPECT_EQ(Translate(2, "START"), u("启动"));
    EXPECT_EQ(Translate(0, "Start"), "Start");
    EXPECT_EQ(Translate(0, "start"), "start");
    EXPECT_EQ(Translate(2, "Command Ok."), "Command Ok.");
    EXPECT_EQ(Translate(1, "TagVer"), "TagVer");
    EXPECT_EQ(Translate(1, ""), "");
    // Unknown language indexes translate nothing instead of reading past the row.
    EXPECT_EQ(Translate(3, "Start"), "Start");
    EXPECT_EQ(Translate(-1, "Start"), "Start");
}

TEST(Translate, TellingRowsExactly) {
    EXPECT_EQ(Translate(1, "NET"), u("網路介面 "));
    EXPECT_EQ(Translate(2, "NET"), u("网路介面 "));
    EXPECT_EQ(Translate(1, "T2"), u("體溫/溼度"));
    EXPECT_EQ(Translate(2, "T2"), u("体温/湿度"));
    EXPECT_EQ(Translate(1, "All tags"), u("全部 Tag 資料"));
    EXPECT_EQ(Translate(2, "all TAGS"), u("全部 Tag 资料"));
    EXPECT_EQ(Translate(2, "Set TAG Error"), u("设定 TAG 失败"));
    EXPECT_EQ(Translate(1, "Please Read TAG First !"), u("請先讀取標籤 !"));
    EXPECT_EQ(Translate(2, "Set Reader"), u("设定读卡机"));
    // The unknown-model text, its code filled in after the translation.
    EXPECT_EQ(Translate(0, "Unknown reader model 0x%1").arg("1234"), "Unknown reader model 0x1234");
    EXPECT_EQ(Translate(1, "Unknown reader model 0x%1").arg("1234"), u("未知的讀卡機型號 0x1234"));
    EXPECT_EQ(Translate(2, "Unknown reader model 0x%1").arg("1234"), u("未知的读卡机型号 0x1234"));
    for (const char* same : {"No.", "Mode #0 NONE", "Mode #4 OFF", "Top Level", "Bottom Level"}) {
        EXPECT_EQ(Translate(1, same), same);
        EXPECT_EQ(Translate(2, same), same);
    }
}

TEST(LanguageTable, HasEveryKeyOnceInOrder) {
    const auto table = languageTable();
    // The original 102 rows, the text for an unknown reader model, the Links tab's 16, the tag
    // history's 13, the progress texts' 12.
    ASSERT_EQ(table.size(), 144u);
    EXPECT_STREQ(table.front().key, "Local Listen Port :");
    EXPECT_STREQ(table[11].key, "Start");
    EXPECT_STREQ(table[53].key, "Set Gain Level");
    EXPECT_STREQ(table[101].key, "Temperature alarm:");
    EXPECT_STREQ(table[102].key, "Unknown reader model 0x%1");
    EXPECT_STREQ(table.back().key, "TAG Log cancelled after %1 records.");
    QSet<QString> keys;
    for (const auto& e : table) {
        const QString key = QString::fromUtf8(e.key).toUpper();
        EXPECT_FALSE(keys.contains(key)) << e.key;
        keys.insert(key);
        EXPECT_FALSE(QString::fromUtf8(e.traditional).isEmpty()) << e.key;
        EXPECT_FALSE(QString::fromUtf8(e.simplified).isEmpty()) << e.key;
        // Two spaces in a row inside a Chinese text mark a character lost on the way in.
        EXPECT_FALSE(QString::fromUtf8(e.traditional).contains("  ")) << e.key;
        EXPECT_FALSE(QString::fromUtf8(e.simplified).contains("  ")) << e.key;
        if (QString::fromUtf8(e.key) != "All tags") {
            EXPECT_STREQ(e.english, e.key);
        }
    }
    EXPECT_STREQ(table[86].english, "All Tags");
}

// Pairs of the same character in its traditional and its simplified form, for the characters
// the table uses. A traditional text must hold no simplified form and the reverse.
const char* const kPairs[][2] = {
    {"讀", "读"}, {"標", "标"}, {"籤", "签"}, {"設", "设"}, {"機", "机"}, {"訊", "讯"},
    {"號", "号"}, {"強", "强"}, {"啟", "启"}, {"開", "开"}, {"關", "关"}, {"網", "网"},
    {"離", "离"}, {"選", "选"}, {"擇", "择"}, {"數", "数"}, {"檔", "档"}, {"時", "时"},
    {"間", "间"}, {"動", "动"}, {"傳", "传"}, {"資", "资"}, {"溫", "温"}, {"濕", "湿"},
    {"鍵", "键"}, {"報", "报"}, {"測", "测"}, {"偵", "侦"}, {"紅", "红"}, {"線", "线"},
    {"雙", "双"}, {"單", "单"}, {"過", "过"}, {"濾", "滤"}, {"準", "准"}, {"儲", "储"},
    {"請", "请"}, {"敗", "败"}, {"電", "电"}, {"燈", "灯"}, {"鳴", "鸣"}, {"體", "体"},
    {"檢", "检"}, {"視", "视"}, {"連", "连"}, {"質", "质"}, {"級", "级"}, {"監", "监"},
    {"聽", "听"}, {"鮑", "鲍"}, {"狀", "状"}, {"無", "无"}, {"鐘", "钟"}, {"輸", "输"},
    {"發", "发"}, {"擊", "击"}, {"實", "实"}, {"當", "当"}, {"異", "异"}, {"續", "续"},
    {"態", "态"}, {"筆", "笔"}, {"丟", "丢"}, {"棄", "弃"}, {"後", "后"}, {"斷", "断"},
    {"組", "组"},
};

TEST(LanguageTable, EachColumnIsWrittenInItsOwnScript) {
    for (const auto& e : languageTable()) {
        const QString tc = QString::fromUtf8(e.traditional);
        const QString sc = QString::fromUtf8(e.simplified);
        for (const auto& p : kPairs) {
            EXPECT_FALSE(tc.contains(u(p[1]))) << e.key << ": simplified " << p[1];
            EXPECT_FALSE(sc.contains(u(p[0]))) << e.key << ": traditional " << p[0];
        }
    }
}

// Glyph 0 is the font's "missing" box; every character of a Chinese caption must find a real
// glyph in the font of its language or in the fallback behind it.
int missingGlyphs(const QFont& font, const QString& text) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int missing = 0;
    for (const QGlyphRun& run : layout.glyphRuns())
        for (quint32 g : run.glyphIndexes())
            if (g == 0) ++missing;
    return missing;
}

TEST(LanguageFont, ChineseCaptionsHaveGlyphs) {
    if (!QFontDatabase::families(QFontDatabase::TraditionalChinese).size())
        GTEST_SKIP() << "no font with Chinese glyphs installed";
    for (int lang : {1, 2}) {
        const QFont f = languageFont(lang);
        EXPECT_TRUE(f.bold());
        for (const auto& e : languageTable()) {
            const QString text = QString::fromUtf8(lang == 1 ? e.traditional : e.simplified);
            EXPECT_EQ(missingGlyphs(f, text), 0) << "language " << lang << ": " << e.key;
        }
    }
    EXPECT_EQ(languageFont(0).families().value(0), "Arial");
    EXPECT_EQ(languageFont(2).families().value(0), u("宋体"));
}

TEST(LanguageIndex, OutOfRangeIsEnglish) {
    setCurrentLanguageIndex(2);
    EXPECT_EQ(currentLanguageIndex(), 2);
    setCurrentLanguageIndex(7);
    EXPECT_EQ(currentLanguageIndex(), 0);
    setCurrentLanguageIndex(-1);
    EXPECT_EQ(currentLanguageIndex(), 0);
}

} // namespace
