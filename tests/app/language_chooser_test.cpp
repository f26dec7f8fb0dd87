// The language chooser at the right end of the status bar on the real window, and the
// --language option: what a user reaches without the hidden buttons.
#include "app/frmmodule.h"
#include "app/language.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

using namespace kelta;

namespace {

int storedLanguage() {
    QSettings s(test::settingsFilePath(), QSettings::IniFormat);
    return s.value("LanguageIndex", -1).toInt();
}

void writeSettings(const QByteArray& lines) {
    QDir().mkpath(QFileInfo(test::settingsFilePath()).absolutePath());
    QFile f(test::settingsFilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[General]\n" + lines);
}

class Chooser : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
        setStartupLanguage(std::nullopt);
    }
    void TearDown() override {
        w.reset();
        QFile::remove(test::settingsFilePath());
        setCurrentLanguageIndex(0);
        setStartupLanguage(std::nullopt);
    }
    void start() {
        w = std::make_unique<TfrmModule>();
        w->setGeometry(0, 0, 1076, 800);
        w->show();
        QCoreApplication::processEvents();
    }
    std::unique_ptr<TfrmModule> w;
};

TEST_F(Chooser, SitsVisibleAtTheRightEndOfTheStatusBar) {
    start();
    QComboBox* c = w->cmbLanguage;
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->isVisible());
    EXPECT_TRUE(w->Panel19->isHidden()) << "the design's button panel stays hidden";
    // Right after the status bar in the bottom strip, whole inside the strip.
    EXPECT_EQ(c->parentWidget(), w->pnlBottom);
    const QRect r = c->geometry();
    const QRect bar = w->sbMain->geometry();
    EXPECT_GE(r.left(), bar.right());
    EXPECT_LE(r.left(), bar.right() + 8);
    EXPECT_GE(r.top(), 0);
    EXPECT_LE(r.bottom(), w->pnlBottom->height() - 1);
    EXPECT_GE(r.height(), c->fontMetrics().height());
    // Each language under its own name, and every name fully shown by the chooser's font.
    ASSERT_EQ(c->count(), 3);
    EXPECT_EQ(c->itemText(0), "English");
    EXPECT_EQ(c->itemText(1), QString::fromUtf8("繁體中文"));
    EXPECT_EQ(c->itemText(2), QString::fromUtf8("简体中文"));
    EXPECT_EQ(c->currentIndex(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(QFontMetrics(c->font()).inFontUcs4(c->itemText(i).toUcs4().front()));
}

TEST_F(Chooser, ChoosingRunsTheLanguageHandlersAndStoresTheChoice) {
    start();
    QComboBox* c = w->cmbLanguage;
    struct Step {
        Qt::Key key;
        int language;
        const char* start;
        const char* tab;
    };
    for (const Step& s :
         {Step{Qt::Key_Down, 1, "啟動", "讀取標籤"}, Step{Qt::Key_Down, 2, "启动", "读取标签"},
          Step{Qt::Key_Up, 1, "啟動", "讀取標籤"}, Step{Qt::Key_Up, 0, "Start", "Read TAG"}}) {
        c->setFocus();
        QTest::keyClick(c, s.key); // what a user does with the keyboard
        QCoreApplication::processEvents();
        EXPECT_EQ(currentLanguageIndex(), s.language);
        EXPECT_EQ(c->currentIndex(), s.language);
        EXPECT_EQ(w->btnStart->text(), QString::fromUtf8(s.start));
        EXPECT_EQ(w->tsReadTag->caption(), QString::fromUtf8(s.tab));
        EXPECT_EQ(storedLanguage(), s.language) << "stored at once, like the buttons do";
        EXPECT_TRUE(w->isEnabled());
    }
}

TEST_F(Chooser, FollowsTheHiddenButtonsAndTheStoredLanguage) {
    writeSettings("LanguageIndex=2\n");
    start();
    EXPECT_EQ(w->cmbLanguage->currentIndex(), 2);
    w->btnCHT->click();
    EXPECT_EQ(w->cmbLanguage->currentIndex(), 1);
    EXPECT_EQ(storedLanguage(), 1);
}

TEST_F(Chooser, TheCommandLineLanguageReplacesTheStoredOneAndIsStoredAtClose) {
    writeSettings("LanguageIndex=1\nPAGE=1\n");
    setStartupLanguage(2);
    start();
    EXPECT_EQ(currentLanguageIndex(), 2);
    EXPECT_EQ(w->cmbLanguage->currentIndex(), 2);
    EXPECT_EQ(w->btnStart->text(), QString::fromUtf8("启动"));
    EXPECT_EQ(w->pcTagMain->activePage(), w->tsCOM) << "the other settings are restored";
    w->close();
    EXPECT_EQ(storedLanguage(), 2);
}

struct OptionCase {
    QStringList args;
    std::optional<int> language;
    bool error;
    bool help;
};

class LanguageOptionCase : public ::testing::TestWithParam<OptionCase> {};

TEST_P(LanguageOptionCase, Parses) {
    const OptionCase& c = GetParam();
    const LanguageOption o = parseLanguageOption(QStringList{"kelta-utility"} + c.args);
    EXPECT_EQ(o.language, c.language);
    EXPECT_EQ(!o.error.isEmpty(), c.error) << qPrintable(o.error);
    EXPECT_EQ(o.help, c.help);
    EXPECT_TRUE(o.helpText.contains("--language <en|cht|chs>"));
}

INSTANTIATE_TEST_SUITE_P(
    Values, LanguageOptionCase,
    ::testing::Values(OptionCase{{}, std::nullopt, false, false},
                      OptionCase{{"--language", "en"}, 0, false, false},
                      OptionCase{{"--language", "cht"}, 1, false, false},
                      OptionCase{{"--language=CHS"}, 2, false, false},
                      OptionCase{{"--language", "de"}, std::nullopt, true, false},
                      OptionCase{{"--language"}, std::nullopt, true, false},
                      OptionCase{{"--colour", "red"}, std::nullopt, true, false},
                      OptionCase{{"-h"}, std::nullopt, false, true}));

TEST(LanguageOptionText, NamesTheBadValue) {
    const LanguageOption o = parseLanguageOption({"kelta-utility", "--language", "fr"});
    EXPECT_EQ(o.error, "Unknown language 'fr': use en, cht or chs.");
}

} // namespace
