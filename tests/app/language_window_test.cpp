// The language buttons on the real window: every caption with a table entry in both Chinese
// languages and back to English, the tab texts, the grids emptied, cmbNet refilled, the
// stored language, and a hint holding a state text.
#include "app/frmmodule.h"
#include "app/language.h"
#include "app/startup.h"
#include "app/run_controller.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTabBar>
#include <gtest/gtest.h>
#include <map>
#include <memory>

using namespace kelta;

namespace {

bool hasEntry(const QString& key) {
    for (const auto& e : languageTable())
        if (QString::fromUtf8(e.key).compare(key, Qt::CaseInsensitive) == 0) return true;
    return false;
}

QString tabText(PageControl* pc, TabSheet* sheet) {
    return pc->tabBar()->tabText(pc->indexOf(sheet));
}

class Languages : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
        w = std::make_unique<TfrmModule>();
        w->setGeometry(0, 0, 1366, 768);
        w->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        w.reset();
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
    }
    std::unique_ptr<TfrmModule> w;
};

TEST_F(Languages, EveryCaptionWithAnEntryIsTranslatedAndComesBack) {
    std::map<QObject*, QString> english;
    int withEntry = 0;
    for (QObject* o : captionedControls(*w)) {
        english[o] = captionOf(o);
        EXPECT_EQ(hintOf(o), captionOf(o)) << qPrintable(o->objectName());
        if (hasEntry(captionOf(o))) ++withEntry;
    }
    // Page captions, buttons, labels, panels and check boxes of all three pages.
    EXPECT_GT(withEntry, 30);

    for (auto [lang, click] : {std::pair{1, &btnCHTClick}, std::pair{2, &btnCHSClick}}) {
        click(*w);
        EXPECT_EQ(currentLanguageIndex(), lang);
        for (const auto& [o, text] : english) {
            if (!hasEntry(text)) {
                EXPECT_EQ(captionOf(o), text) << qPrintable(o->objectName());
                continue;
            }
            EXPECT_EQ(captionOf(o), Translate(lang, text)) << qPrintable(o->objectName());
            EXPECT_EQ(hintOf(o), text) << "the English key stays in the hint";
        }
        EXPECT_TRUE(w->isEnabled());
    }
    btnEngClick(*w);
    for (const auto& [o, text] : english)
        EXPECT_EQ(captionOf(o), text) << qPrintable(o->objectName());
}

TEST_F(Languages, TabsButtonsAndCheckBoxesShowTheTranslation) {
    btnCHTClick(*w);
    EXPECT_EQ(tabText(w->pcMain, w->tsReadTag), QString::fromUtf8("讀取標籤"));
    EXPECT_EQ(tabText(w->pcMain, w->tsSetTAG), QString::fromUtf8("設定標籤"));
    EXPECT_EQ(tabText(w->pcMain, w->tsSetReader), QString::fromUtf8("設定讀卡機"));
    EXPECT_EQ(w->btnExit01->text(), QString::fromUtf8("離開"));
    EXPECT_EQ(w->btnClear->text(), QString::fromUtf8("清除"));
    EXPECT_EQ(w->chk04->text(), QString::fromUtf8("溫度 && 濕度"));
    EXPECT_EQ(w->chbAllTags->text(), QString::fromUtf8("全部 Tag 資料"));
    EXPECT_EQ(w->pnMsg->text(), QString::fromUtf8("選擇功能"));
    btnCHSClick(*w);
    EXPECT_EQ(tabText(w->pcMain, w->tsReadTag), QString::fromUtf8("读取标签"));
    EXPECT_EQ(w->pnlTagMsg->text(), QString::fromUtf8("选择功能"));
    // The Chinese font carries Chinese glyphs behind the table's face.
    EXPECT_TRUE(w->font().families().contains("Noto Sans CJK SC"));
    EXPECT_TRUE(w->font().bold());
}

TEST_F(Languages, ASwitchEmptiesTheGridsAndRefillsTheInterfaceBox) {
    for (StringGrid* g : {w->grdUID, w->grdUID_LOG, w->grdSel})
        for (int i = 0; i < 5; ++i) g->setCell(1, g->appendRow(), "0001000112345678");
    w->cmbNet->setCurrentIndex(2);
    btnCHTClick(*w);
    EXPECT_EQ(w->grdUID->rowCount(), 1);
    EXPECT_EQ(w->grdUID_LOG->rowCount(), 1);
    EXPECT_EQ(w->grdSel->rowCount(), 1);
    EXPECT_EQ(w->grdUID->colCount(), 20);
    EXPECT_EQ(w->grdUID_LOG->colCount(), 22);
    EXPECT_EQ(w->grdSel->colCount(), 21);
    EXPECT_EQ(w->grdUID->cell(1, 0), QString::fromUtf8("標籤序號"));
    EXPECT_EQ(w->grdSel->cell(1, 0), QString::fromUtf8("標籤序號"));
    ASSERT_EQ(w->cmbNet->count(), 4);
    EXPECT_EQ(w->cmbNet->itemText(0), QString::fromUtf8("全部"));
    EXPECT_EQ(w->cmbNet->itemText(1), QString::fromUtf8("網路介面 "));
    EXPECT_EQ(w->cmbNet->currentIndex(), 0);
    // The button stores the language at once.
    QSettings s(test::settingsFilePath(), QSettings::IniFormat);
    EXPECT_EQ(s.value("LanguageIndex").toInt(), 1);
}

TEST_F(Languages, AHintHoldingAStateIsCaptionedFromTheHint) {
    setHint(w->btnStart, "Stop");
    setHint(w->pnMsg, "Command Ok.");
    btnCHSClick(*w);
    EXPECT_EQ(w->btnStart->text(), QString::fromUtf8("停止"));
    EXPECT_EQ(w->pnMsg->text(), "Command Ok.");
    setHint(w->btnStart, "Start");
    btnEngClick(*w);
    EXPECT_EQ(w->btnStart->text(), "Start");
}

} // namespace
