// The alarm page on the bench cycle: a blemish opens it, its decisions act
// on the cycle with their protections, and it closes when the alarm ends.
#include "../io/CycleRig.h"
#include "AlarmPage.h"
#include "Boxes.h"
#include "Globals.h"
#include "Messages.h"
#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <opencv2/imgcodecs.hpp>

namespace {
struct Alarm : CycleRig {
    int level = 2;
    QStringList asked;
    std::unique_ptr<WarnBox> box;
    std::unique_ptr<AlarmPage> page;
    void start()
    {
        CycleRig::start(1);
        qputenv("STATION_ANSWER", "yes");
        box = std::make_unique<WarnBox>();
        gpWarnBox = box.get();
        OperatorHooks& h = cycle->hooks();
        h.checkPassword = [this] { return level; };
        h.ask = [](const QString&) { return true; };
        h.warn = [](const QString&) {};
        page = std::make_unique<AlarmPage>(cycle.get(), cams.get());
        page->checkPassword = [this] { return level; };
        page->ask = [this](const QString& q) {
            asked << q;
            return true;
        };
    }
    void TearDown() override
    {
        page.reset();
        gpWarnBox = nullptr;
        box.reset();
        qunsetenv("STATION_ANSWER");
        CycleRig::TearDown();
    }
};
} // namespace

TEST_F(Alarm, ABlemishOpensThePageDontDetectClosesItAndTheCycleGoesOn)
{
    wp.enable_prod_detect = 0;
    start();
    gLan = 1;
    seeAll(blemishFor(1));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(page->selectedCamera(), 0);
    EXPECT_TRUE(page->detailText().contains("Camera 1")) << page->detailText().toStdString();
    EXPECT_TRUE(page->detailText().contains("failed regions 1")) << page->detailText().toStdString();

    QTest::mouseClick(page->findChild<QPushButton*>("dontDetectAll"), Qt::LeftButton);
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_FALSE(page->isVisible());

    // The next cycle is judged as usual.
    const int before = judgedCount(1);
    seeAll(scene);
    openMould();
    EXPECT_EQ(judgedCount(1), before + 1);
    EXPECT_TRUE(std::get<2>(verdicts.last()));
    EXPECT_FALSE(page->isVisible());
}

TEST_F(Alarm, TemplateAndIgnoreDecisionsKeepTheirProtection)
{
    wp.enable_prod_detect = 0;
    wp.enable_template_pass_protect = 1;
    wp.enable_ignore_pass_protect = 1;
    start();
    const cv::Mat blemish = blemishFor(1);
    seeAll(blemish);
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);

    level = 0;   // nobody logged in: refused, nothing written
    EXPECT_FALSE(page->addAsTemplate());
    EXPECT_FALSE(page->ignoreAlarmPoints());
    EXPECT_FALSE(QFile::exists("cammer12/ignorepoint.bmp") &&
                 cv::countNonZero(cv::imread("cammer12/ignorepoint.bmp", cv::IMREAD_GRAYSCALE)) > 0);

    level = 1;
    ASSERT_TRUE(page->ignoreAlarmPoints());
    const cv::Mat ignore = cv::imread("cammer12/ignorepoint.bmp", cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(ignore.empty());
    EXPECT_GT(cv::countNonZero(ignore), 0) << "the alarm points are kept as ignored";
    // Ignored, the same picture passes the re-detection.
    QTest::mouseClick(page->findChild<QPushButton*>("reDetect"), Qt::LeftButton);
    tick();  // judged on the camera's next picture
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(std::get<2>(verdicts.last()));
}

TEST_F(Alarm, TheAlarmPictureAddedAsATemplatePassesTheReDetection)
{
    wp.enable_prod_detect = 0;
    wp.enable_template_pass_protect = 1;
    start();
    seeAll(blemishFor(1));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    const QStringList before = QDir("cammer12").entryList({"template*.bmp"});
    level = 1;
    ASSERT_TRUE(page->addAsTemplate());
    EXPECT_EQ(asked.last(), LanStr(1300));
    EXPECT_EQ(QDir("cammer12").entryList({"template*.bmp"}).size(), before.size() + 1);
    page->reDetect();
    tick();
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(std::get<2>(verdicts.last()));
}
