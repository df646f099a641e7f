// The main screen, the keypads, the language switch and the page checker.
#include "Boxes.h"
#include "CameraSet.h"
#include "CycleView.h"
#include "DetectionCycle.h"
#include "ImageLib.h"
#include "DiVeZoruzo.h"
#include "Globals.h"
#include "HelpPage.h"
#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "ParamDb.h"
#include "RecordsPages.h"
#include "TestDir.h"
#include "UiCheck.h"
#include "WindowEnv.h"
#include "WizardPara.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
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
    qunsetenv("STATION_ANSWER");
    NumPad pad;
    // The first key replaces the shown value; minus toggles the sign.
    tapLater(&pad, {"4", "2", "minus", "ok"});
    EXPECT_EQ(pad.getNumber("t", 7, -100, 100), std::optional<double>(-42));
    // Out of range: refused with the limits, the pad stays open until cancelled.
    tapLater(&pad, {"5", "0", "0", "ok"});
    EXPECT_EQ(pad.getNumber("t", 7, 0, 100), std::nullopt);
    EXPECT_EQ(pad.status(), "Out of range: 0 … 100");
    // A whole-number field takes no decimal point; a decimal field does.
    tapLater(&pad, {"1", "dot", "5", "ok"});
    EXPECT_EQ(pad.getNumber("t", 0, 0, 100), std::optional<double>(15));
    tapLater(&pad, {"dot", "2", "5", "ok"});
    EXPECT_EQ(pad.getNumber("t", 0, 0, 1, 2), std::optional<double>(0.25));
    tapLater(&pad, {"9", "back", "3", "ok"});
    EXPECT_EQ(pad.getNumber("t", 0, 0, 10), std::optional<double>(3));

    NumPad::scriptedEntry = [] { return std::optional<QString>("1.25"); };
    EXPECT_EQ(pad.getNumber("t", 0, 0, 10, 1), std::nullopt) << "two decimals in a one-decimal field";
    EXPECT_EQ(pad.status(), "At most 1 decimals");
    NumPad::scriptedEntry = {};
}

TEST_F(Unattended, TheTextPadKeepsToItsLengthAndRefusesEmptyAndControlText)
{
    qunsetenv("STATION_ANSWER");
    NumCharPad pad;
    tapLater(&pad, {"clear", "shift", "a", "shift", "b", "1", "ok"});
    EXPECT_EQ(pad.getText("t", "old", 8), std::optional<QString>("Ab1"));
    // Keys beyond the length are refused with the reason; what fits is kept.
    tapLater(&pad, {"c", "d", "e", "ok"});
    EXPECT_EQ(pad.getText("t", "ab", 3), std::optional<QString>("abc"));
    EXPECT_EQ(pad.status(), "At most 3 characters");
    tapLater(&pad, {"clear", "ok"});
    EXPECT_EQ(pad.getText("t", "ab", 3), std::nullopt);
    EXPECT_EQ(pad.status(), "The text must not be empty");
    NumCharPad::scriptedEntry = [] { return std::optional<QString>(QString("a\tb")); };
    EXPECT_EQ(pad.getText("t", "", 8), std::nullopt);
    NumCharPad::scriptedEntry = {};
}

TEST_F(Unattended, TheLanguageSwitchRedrawsTheTextsAndIsKept)
{
    DiVeZoruzo win;
    auto* startStop = win.findChild<QPushButton*>("startStop");
    ASSERT_NE(startStop, nullptr);
    SetLanguage(1);
    EXPECT_EQ(startStop->text(), win.isDetecting() ? "Stop" : "Start");
    EXPECT_TRUE(win.statusText().contains("Mode ")) << win.statusText().toStdString();
    SetLanguage(2);
    EXPECT_EQ(startStop->text(), QString::fromUtf8(win.isDetecting() ? "停止檢測" : "開始檢測"));
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
    DiVeZoruzo win;
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
    ASSERT_TRUE(tool.waitForFinished(240000));
    const QString out = QString::fromLocal8Bit(tool.readAll());
    EXPECT_EQ(tool.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("0 problems")) << out.toStdString();
    EXPECT_TRUE(QFile::exists(STATION_SCREENSHOTS "/pages/main-2-1024x768.png"));
}

TEST_F(Unattended, HelpTopicsInEveryLanguageAndTheGuideWalksToDetecting)
{
    DiVeZoruzo win;
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
    win.StopDetect();
    guide->step(4);
    QTest::mouseClick(guide->findChild<QPushButton*>("action"), Qt::LeftButton);
    EXPECT_TRUE(win.isDetecting());
    QTest::mouseClick(guide->findChild<QPushButton*>("next"), Qt::LeftButton);  // "Done"
    EXPECT_FALSE(BeginnerGuide::wanted()) << "shown once";
}
