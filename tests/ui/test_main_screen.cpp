// The main screen, the keypads, the language switch and the page checker.
#include "Boxes.h"
#include "CameraSet.h"
#include "CavityNames.h"
#include "CycleView.h"
#include "DetectionCycle.h"
#include "ImageLib.h"
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "HelpPage.h"
#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "ParamDb.h"
#include "RecordsPages.h"
#include "RegionEditor.h"
#include "TestDir.h"
#include "Touch.h"
#include "UiCheck.h"
#include "WindowEnv.h"
#include "WizardPara.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <gtest/gtest.h>

namespace {
// Taps the keys of a pad while it waits for the operator.
void tapLater(QDialog* pad, const QStringList& keys)
{
    QTimer::singleShot(0, pad, [pad, keys] {
        for (const QString& k : keys) {
            auto* b = pad->findChild<QPushButton*>("key_" + k);
            ASSERT_NE(b, nullptr) << k.toStdString();
            QTest::mouseClick(b, Qt::LeftButton);
        }
        if (pad->isVisible())
            pad->reject();
    });
}

struct Unattended : ::testing::Test {
    TestDir dir;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        prepareUnattendedWindow(dir);
        gLan = 1;
    }
    void TearDown() override
    {
        qunsetenv("STATION_ANSWER");
        gLan = 1;
    }
};
} // namespace

TEST(UiCheck, FindsClippedTextOverlapsAndSmallTargets)
{
    LoadLanStr();
    QWidget page;
    page.resize(400, 300);
    auto* lay = new QHBoxLayout(&page);
    auto* fine = new QPushButton("OK", &page);
    fine->setMinimumSize(60, 60);
    lay->addWidget(fine);
    page.show();
    EXPECT_TRUE(checkPage(&page).isEmpty());

    auto* narrow = new QLabel("a text far wider than its label", &page);
    narrow->setGeometry(10, 200, 60, 30);
    auto* small = new QPushButton("x", &page);
    small->setGeometry(300, 200, 30, 30);
    auto* over = new QPushButton("y", &page);
    over->setGeometry(310, 210, 60, 60);
    for (QWidget* w : {static_cast<QWidget*>(narrow), static_cast<QWidget*>(small), static_cast<QWidget*>(over)})
        w->show();
    QStringList kinds;
    for (const UiProblem& p : checkPage(&page))
        kinds << p.text().section(':', 0, 0);
    EXPECT_TRUE(kinds.contains("clipped")) << kinds.join(", ").toStdString();
    EXPECT_TRUE(kinds.contains("small target"));
    EXPECT_TRUE(kinds.contains("overlap"));
}

TEST_F(Unattended, TheNumberPadKeepsToItsLimitsAndDecimals)
{
    const auto station = buildStation();
    ASSERT_TRUE(station);
    qunsetenv("STATION_ANSWER");
    NumPad& pad = *gpNumPad;
    // The first key replaces the shown value; minus toggles the sign.
    tapLater(&pad, {"4", "2", "minus", "ok"});
    EXPECT_EQ(pad.getNumber("t", 7, -100, 100), std::optional<double>(-42));
    // Out of range: refused with the limits, the pad stays open until cancelled.
    tapLater(&pad, {"5", "0", "0", "ok"});
    EXPECT_EQ(pad.getNumber("t", 7, 0, 100), std::nullopt);
    EXPECT_EQ(pad.status(), "Out of range: 0 … 100");
    // A whole-number field takes no decimal point (its key is greyed, a tap
    // on it changes nothing); a decimal field does.
    QPushButton* dot = pad.findChild<QPushButton*>("key_dot");
    ASSERT_TRUE(dot);
    tapLater(&pad, {"1", "dot", "5", "ok"});
    EXPECT_EQ(pad.getNumber("t", 0, 0, 100), std::optional<double>(15));
    EXPECT_FALSE(dot->isEnabled());
    pad.press(".");
    EXPECT_EQ(pad.status(), "Whole numbers only");
    tapLater(&pad, {"dot", "2", "5", "ok"});
    EXPECT_EQ(pad.getNumber("t", 0, 0, 1, 2), std::optional<double>(0.25));
    EXPECT_TRUE(dot->isEnabled());
    tapLater(&pad, {"9", "back", "3", "ok"});
    EXPECT_EQ(pad.getNumber("t", 0, 0, 10), std::optional<double>(3));
    tapLater(&pad, {"1", "dot", "2", "5", "ok"});
    EXPECT_EQ(pad.getNumber("t", 0, 0, 10, 1), std::nullopt) << "two decimals in a one-decimal field";
    EXPECT_EQ(pad.status(), "At most 1 decimals");
}

TEST_F(Unattended, TheTextPadKeepsToItsLengthAndRefusesEmptyAndControlText)
{
    const auto station = buildStation();
    ASSERT_TRUE(station);
    qunsetenv("STATION_ANSWER");
    NumCharPad& pad = *gpNumCharPad;
    tapLater(&pad, {"clear", "shift", "a", "shift", "b", "1", "ok"});
    EXPECT_EQ(pad.getText("t", "old", 8), std::optional<QString>("Ab1"));
    // Keys beyond the length are refused with the reason; what fits is kept.
    tapLater(&pad, {"c", "d", "e", "ok"});
    EXPECT_EQ(pad.getText("t", "ab", 3), std::optional<QString>("abc"));
    EXPECT_EQ(pad.status(), "At most 3 characters");
    tapLater(&pad, {"clear", "ok"});
    EXPECT_EQ(pad.getText("t", "ab", 3), std::nullopt);
    EXPECT_EQ(pad.status(), "The text must not be empty");
    // A stored text with a control character is not confirmed as it stands.
    tapLater(&pad, {"ok"});
    EXPECT_EQ(pad.getText("t", "a\tb", 8), std::nullopt);
    EXPECT_EQ(pad.status(), LanStr(1548));
}

// Taps a pad's keys one after another; "=text" taps the candidate showing that
// text (paging on as a person would), "?" runs the next check at that moment.
void typeLater(NumCharPad* pad, const QStringList& keys, const QList<std::function<void()>>& checks = {})
{
    QTimer::singleShot(0, pad, [pad, keys, checks] {
        int check = 0;
        auto tap = [pad](const QString& k) {
            auto* b = pad->findChild<QPushButton*>("key_" + k);
            ASSERT_NE(b, nullptr) << k.toStdString();
            QTest::mouseClick(b, Qt::LeftButton);
        };
        for (const QString& k : keys) {
            if (k == "?") {
                checks.at(check++)();
            } else if (k.startsWith('=')) {
                bool found = false;
                for (int page = 0; page < 20 && !found; ++page) {
                    const int i = pad->shownCandidates().indexOf(k.mid(1));
                    if (i >= 0) {
                        tap(QStringLiteral("cand%1").arg(i));
                        found = true;
                    } else {
                        tap("next");
                    }
                }
                EXPECT_TRUE(found) << "no candidate " << k.mid(1).toStdString();
            } else {
                tap(k);
            }
        }
        if (pad->isVisible())
            pad->reject();
    });
}

TEST_F(Unattended, NamesAreTypedInPinyinOnTheStationsPadAndConvertedForTraditionalChinese)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    // From here on the operator answers, on the pad.
    qunsetenv("STATION_ANSWER");
    NumCharPad* pad = gpNumCharPad;
    ASSERT_NE(pad, nullptr);
    auto* chinese = pad->findChild<QPushButton*>("key_chinese");
    ASSERT_NE(chinese, nullptr);

    // A cavity name, as the operator taps it on the cavity page: in Simplified
    // Chinese the pad starts in pinyin.
    SetLanguage(0);
    win.cavityPage()->init();
    auto* name = win.cavityPage()->findChild<QLineEdit*>("cavity1");
    ASSERT_NE(name, nullptr);
    typeLater(pad, {"clear", "m", "u", "j", "u", "?", "=模具", "1", "ok"},
              {[pad] {
                  EXPECT_EQ(pad->composing(), "muju");
                  EXPECT_TRUE(pad->shownCandidates().contains(QString::fromUtf8("模具")))
                      << pad->shownCandidates().join(' ').toStdString();
              }});
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_EQ(name->text(), QString::fromUtf8("模具1"));

    // Part of the spelling chosen, then the rest; back takes a choice back first;
    // OK with pinyin still open is refused with the reason, clear drops only the pinyin.
    typeLater(pad, {"z", "h", "o", "n", "g", "g", "u", "o", "r", "e", "n", "=中国", "?", "back", "?", "=中国", "=人", "?",
                    "x", "ok", "?", "clear", "ok"},
              {[pad] { EXPECT_EQ(pad->composing(), QString::fromUtf8("中国ren")); },
               [pad] { EXPECT_EQ(pad->composing(), "zhongguoren"); },
               [pad] {
                   EXPECT_EQ(pad->entry(), QString::fromUtf8("中国人"));
                   EXPECT_TRUE(pad->composing().isEmpty());
               },
               [pad] { EXPECT_EQ(pad->status(), LanStr(1744)); }});
    EXPECT_EQ(pad->getText("t", "", 16, false, false, true), std::optional<QString>(QString::fromUtf8("中国人")));

    // Traditional Chinese: the same spelling gives the Traditional characters.
    SetLanguage(2);
    typeLater(pad, {"z", "h", "o", "n", "g", "g", "u", "o", "=中國", "ok"});
    EXPECT_EQ(pad->getText("t", "", 16, false, false, true), std::optional<QString>(QString::fromUtf8("中國")));

    // In English the pad starts in letters and switches on request; the pinyin
    // still counts against the length only once chosen.
    SetLanguage(1);
    // Switching to pinyin moves no key from under the finger.
    auto keyAt = [pad](const char* k) { return pad->findChild<QPushButton*>(QString("key_") + k)->mapToGlobal(QPoint(0, 0)); };
    auto where = std::make_shared<QPoint>();
    typeLater(pad, {"?", "a", "chinese", "?", "h", "e", "=和", "ok"},
              {[=] { *where = keyAt("x"); }, [=] { EXPECT_EQ(keyAt("x"), *where) << "the keys moved"; }});
    EXPECT_EQ(pad->getText("t", "", 2, false, false, true), std::optional<QString>(QString::fromUtf8("a和")));
    typeLater(pad, {"chinese", "h", "e", "=和", "?", "ok"}, {[pad] { EXPECT_EQ(pad->status(), "At most 2 characters"); }});
    EXPECT_EQ(pad->getText("t", "ab", 2, false, false, true), std::optional<QString>("ab"));

    // Passwords and addresses: letters only, no switch.
    typeLater(pad, {"?", "m", "u", "ok"}, {[chinese] { EXPECT_FALSE(chinese->isVisible()); }});
    EXPECT_EQ(pad->getText("t", "", 8, false, true, true), std::optional<QString>("mu"));
    SetLanguage(0);
    typeLater(pad, {"?", "m", "u", "ok"}, {[chinese] { EXPECT_FALSE(chinese->isVisible()); }});
    EXPECT_EQ(pad->getText("t", "", 15), std::optional<QString>("mu"));
    SetLanguage(1);
}

TEST_F(Unattended, TheLanguageSwitchRedrawsTheTextsAndIsKept)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    auto* startStop = win.findChild<QPushButton*>("startStop");
    ASSERT_NE(startStop, nullptr);
    SetLanguage(1);
    EXPECT_EQ(startStop->text(), win.isDetecting() ? "Stop" : "Start");
    EXPECT_TRUE(win.statusText().contains("Mode ")) << win.statusText().toStdString();
    SetLanguage(2);
    EXPECT_EQ(startStop->text(), QString::fromUtf8(win.isDetecting() ? "停止檢測" : "開始檢測"));
    EXPECT_EQ(gpWPara->signal_names[0], gpWPara->defaultSignalNames()[0]);
    EXPECT_NE(gpWPara->signal_names[0], "Mould open") << "the IO signals kept their English names";
    EXPECT_TRUE(win.statusText().contains(QString::fromUtf8("模式"))) << win.statusText().toStdString();
    if (StatisticsWidget* page = win.statisticsPage()) {
        EXPECT_EQ(page->camera()->itemText(0), QString::fromUtf8("全部相機"));
    }
    // Kept in the system parameters: read back as the next start would.
    gLan = 0;
    WizardPara wp;
    wp.LoadDatafromFile();
    EXPECT_EQ(gLan, 2);
    SetLanguage(1);
}

TEST_F(Unattended, ATappedViewIsEnlargedAndTheRegionsCarryTheirCavityNumbers)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    CycleView* view = win.cycleView();
    ASSERT_NE(view->tile(1), nullptr) << "a factory station has two cameras";
    QTest::mouseClick(view->tile(1), Qt::LeftButton);
    EXPECT_EQ(view->enlarged(), 1);
    EXPECT_FALSE(view->tile(0)->isVisibleTo(view));
    QTest::mouseClick(view->tile(1), Qt::LeftButton);
    EXPECT_EQ(view->enlarged(), -1);
    EXPECT_TRUE(view->tile(0)->isVisibleTo(view));

    // Each region of the shown detection carries its cavity number when asked.
    CammerView* cam = win.cameras()->view(0);
    const int d = win.cycle()->curDetect();
    SetImageBounds(640, 480);
    ASSERT_GE(cam->para.AddRect(d, {10, 10}, {60, 60}, *gpWPara), 0);
    gpWPara->enable_show_mold_no = 0;
    QTest::qWait(250);
    EXPECT_EQ(view->tile(0)->labelCount(), 0);
    gpWPara->enable_show_mold_no = 1;
    QTest::qWait(250);
    EXPECT_EQ(view->tile(0)->labelCount(), cam->para.roi_count[d]);
}

TEST(Screens, EveryPageInEveryLanguageAndSizeHasNoProblem)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(STATION_SCREENS_TOOL, {"--out", STATION_SCREENSHOTS "/pages", "--check"});
    ASSERT_TRUE(tool.waitForFinished(600000));
    const QString out = QString::fromLocal8Bit(tool.readAll());
    EXPECT_EQ(tool.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("0 problems")) << out.toStdString();
    EXPECT_TRUE(QFile::exists(STATION_SCREENSHOTS "/pages/main-2-1024x768.png"));
}

TEST_F(Unattended, HelpTopicsInEveryLanguageAndTheGuideWalksToDetecting)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    EXPECT_FALSE(win.guide()->isVisible()) << "not shown in unattended runs";
    HelpWidget* help = win.helpPage();
    for (int lan = 0; lan < 3; ++lan) {
        SetLanguage(lan);
        for (int t = 0; t < help->topics()->count(); ++t) {
            help->topics()->setCurrentRow(t);
            EXPECT_EQ(help->text(), LanStr(1665 + t, lan).replace("\r\n", "\n")) << lan << " " << t;
        }
    }
    SetLanguage(1);
    ASSERT_TRUE(BeginnerGuide::wanted());
    BeginnerGuide* guide = win.guide();
    guide->step(0);
    QTest::mouseClick(guide->findChild<QPushButton*>("action"), Qt::LeftButton);
    EXPECT_EQ(gLan, 2) << "the first step switches the language";
    SetLanguage(1);
    guide->step(2);
    EXPECT_TRUE(guide->text().contains(QString::number(win.cameras()->viewCount())));
    {
        // Its way to the region editor asks for the password like the main screen's.
        gpWPara->is_psw_used = 1;
        SetParaText(gpWPara->password, "1234");
        touch::PanelOperator op;  // no password: the box is cancelled
        guide->step(3);
        QTest::mouseClick(guide->findChild<QPushButton*>("action"), Qt::LeftButton);
        EXPECT_EQ(op.passwordsAsked, 1);
        EXPECT_FALSE(win.regionEditor()->isVisible());
        gpWPara->is_psw_used = 0;
    }
    win.StopDetect();
    guide->step(4);
    EXPECT_EQ(guide->text(), LanStr(1676));
    QTest::mouseClick(guide->findChild<QPushButton*>("action"), Qt::LeftButton);
    EXPECT_TRUE(win.isDetecting());
    EXPECT_EQ(guide->text(), LanStr(1900)) << "the step says what is, not what to tap";
    QTest::mouseClick(guide->findChild<QPushButton*>("next"), Qt::LeftButton);  // "Done"
    EXPECT_FALSE(BeginnerGuide::wanted()) << "shown once";
}
