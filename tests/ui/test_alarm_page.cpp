// The alarm page of the built station: a blemish opens it, its decisions act
// on the cycle with their protections, and it closes when the alarm ends.
#include "AlarmPage.h"
#include "ControlPort.h"
#include "Counters.h"
#include "DetectionCycle.h"
#include "Messages.h"
#include "ParaFields.h"
#include "StationRig.h"
#include "Touch.h"
#include "WizardPara.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <opencv2/imgcodecs.hpp>

namespace {
struct Alarm : StationRig {
    AlarmPage* page() const { return station->alarmPage(); }
    bool alarmOn() const { return cycle()->resultState() == DetectionCycle::Alarm; }
    // The operator taps a button of the page; the boxes it raises are answered yes.
    bool judgedOkAfter(const std::function<void()>& act)
    {
        const qsizetype before = verdicts.size();
        act();
        return QTest::qWaitFor([&] { return verdicts.size() > before && !alarmOn(); }, 15000) &&
               std::get<2>(verdicts.last());
    }
    void protectedBySystemPassword(WizardPara& wp)
    {
        wp.is_psw_used = 1;
        SetParaText(wp.password, "1234");
    }
};
} // namespace

TEST_F(Alarm, ABlemishOpensThePageDontDetectClosesItAndTheCycleGoesOn)
{
    start();
    ASSERT_TRUE(show(blemish()));
    ASSERT_TRUE(openMould());
    ASSERT_TRUE(alarmOn());
    ASSERT_TRUE(QTest::qWaitFor([&] { return page()->isVisible(); }, 5000));
    EXPECT_EQ(page()->selectedCamera(), 0);
    EXPECT_TRUE(page()->detailText().contains("Camera 1")) << page()->detailText().toStdString();
    EXPECT_TRUE(page()->detailText().contains("failed regions 1")) << page()->detailText().toStdString();
    // Its tile shows the camera's running figures, as the main screen does.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const QString line = page()->tileLine(0);
        return !line.contains(" 0 fps") && line.contains(QStringLiteral("   %1").arg(gAllNum[0]));
    }, 10000)) << page()->tileLine(0).toStdString();

    {
        touch::PanelOperator op;
        QTest::mouseClick(page()->findChild<QPushButton*>("dontDetectAll"), Qt::LeftButton);
    }
    EXPECT_FALSE(alarmOn());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !page()->isVisible(); }, 5000));

    // The next cycle is judged as usual, on the clean mould.
    ASSERT_TRUE(show(scene));
    ASSERT_TRUE(openMould()) << state();
    EXPECT_TRUE(std::get<2>(verdicts.last()));
    EXPECT_FALSE(page()->isVisible());
}

TEST_F(Alarm, TemplateAndIgnoreDecisionsKeepTheirProtection)
{
    configure = [this](WizardPara& wp) {
        wp.enable_template_pass_protect = 1;
        wp.enable_ignore_pass_protect = 1;
        protectedBySystemPassword(wp);
    };
    start();
    ASSERT_TRUE(show(blemish()));
    ASSERT_TRUE(openMould());
    ASSERT_TRUE(alarmOn());
    const auto ignoredPoints = [] {
        const cv::Mat m = cv::imread("cammer12/ignorepoint.bmp", cv::IMREAD_GRAYSCALE);
        return m.empty() ? 0 : cv::countNonZero(m);
    };

    {
        // Nobody logged in, and the password box cancelled: refused, nothing written.
        touch::PanelOperator op;
        EXPECT_FALSE(page()->addAsTemplate());
        EXPECT_FALSE(page()->ignoreAlarmPoints());
        EXPECT_EQ(op.passwordsAsked, 2);
        EXPECT_EQ(ignoredPoints(), 0);
        EXPECT_TRUE(alarmOn());
    }
    touch::PanelOperator op;
    op.password = [] { return QString("1234"); };
    ASSERT_TRUE(page()->ignoreAlarmPoints());
    EXPECT_GT(ignoredPoints(), 0) << "the alarm points are kept as ignored";
    // Ignored, the same picture passes the re-detection.
    EXPECT_TRUE(judgedOkAfter([&] { QTest::mouseClick(page()->findChild<QPushButton*>("reDetect"), Qt::LeftButton); }));
}

TEST_F(Alarm, TheAlarmPictureAddedAsATemplatePassesTheReDetection)
{
    configure = [this](WizardPara& wp) {
        wp.enable_template_pass_protect = 1;
        protectedBySystemPassword(wp);
    };
    start();
    ASSERT_TRUE(show(blemish()));
    ASSERT_TRUE(openMould());
    ASSERT_TRUE(alarmOn());
    const QStringList before = QDir("cammer12").entryList({"template*.bmp"});
    touch::PanelOperator op;
    op.password = [] { return QString("1234"); };
    ASSERT_TRUE(page()->addAsTemplate());
    ASSERT_FALSE(op.asked.isEmpty());
    EXPECT_EQ(op.asked.last(), op.shown(LanStr(1300)));
    EXPECT_EQ(QDir("cammer12").entryList({"template*.bmp"}).size(), before.size() + 1);
    EXPECT_TRUE(judgedOkAfter([&] { page()->reDetect(); }));
}

TEST_F(Alarm, AnAlarmKeptOverARestartShowsTheCamerasPictureNotABlackTile)
{
    // The last run died in the mould detection's alarm of camera 1.
    configure = [](WizardPara&) { writeText("alarm.state", "1 0\n"); };
    start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alarmOn() && page()->isVisible(); }, 10000)) << state();
    EXPECT_TRUE(QTest::qWaitFor([&] { return page()->tileShowsPicture(0); }, 10000))
        << "the kept alarm's tile stayed black";
    EXPECT_TRUE(alarmOn()) << "a picture on the tile is no verdict";
}

TEST_F(Alarm, AProductAlarmKeptOverARestartHoldsTheEjectorFromTheFirstWord)
{
    // The last run died in the product detection's alarm, which holds the ejector.
    configure = [](WizardPara& wp) {
        wp.enable_prod_detect = 1;
        writeText("alarm.state", "0 0\n");
    };
    start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alarmOn() && page()->isVisible(); }, 10000)) << state();
    const bool inverted = ControlPort::configFrom(*gpWPara).outInvert[1];
    ASSERT_TRUE(QTest::qWaitFor([&] { board->held(); return !board->outs().isEmpty(); }, 5000));
    for (int word : board->outs())
        EXPECT_TRUE(((word >> 1) & 1) != int(inverted)) << "word 0x" << std::hex << word
                                                         << ": the ejector was let go while the alarm held it";
}
