#include "CammerRecong.h"
#include "ImageLib.h"
#include "Messages.h"
#include "Photos.h"
#include "TestDir.h"
#include "Variants.h"
#include "WizardPara.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <opencv2/imgproc.hpp>
#include <gtest/gtest.h>
#include <random>

namespace {
constexpr int W = 320, H = 240;

// A camera with one detection, its base template and regions made by the test.
struct Bench : ::testing::Test {
    TestDir dir;
    WizardPara wp;
    std::unique_ptr<TemplateStore> store;
    CammerSingleton para{0};
    std::unique_ptr<CammerRecong> engine;
    cv::Mat base = cv::Mat(H, W, CV_8UC1, cv::Scalar(120));

    void SetUp() override
    {
        SetImageBounds(W, H);
        wp.detect_enable[0] = 1;
        wp.enable_correct = -1;
        wp.minimum_size = 3;
        wp.minimum_area = 20;
        wp.min_spot = 1;
        wp.difference_multiplier = 1;
        wp.enable_defect_detect = wp.enable_spot_detect = wp.enable_black_area = wp.enable_white_area = 1;
        wp.enable_similarity = wp.enable_white_number = wp.enable_direction = wp.enable_distance = 1;
        store = std::make_unique<TemplateStore>(0, 3, W, H, false);
        store->LoadAll();
    }
    int add(cv::Rect r, int code, int p1, int p2, int p3)
    {
        const int i = para.AddRect(0, r.tl(), r.br() - cv::Point(1, 1), wp);
        para.roi[0][i] = {p1, p2, p3, code, ShapeRect, 0};
        return i;
    }
    void train()
    {
        store->SaveReTrainImage(0, base);
        engine = std::make_unique<CammerRecong>(&para, store.get(), &wp);
    }
    bool run(const cv::Mat& frame, bool report = false)
    {
        engine->Run(0, frame, report);
        return engine->cameraVerdict == 1;
    }
};

QStringList records() { return recordRemarks(); }
} // namespace

TEST_F(Bench, DefectRegionAndTheNgImageRule)
{
    wp.minimum_size = 1;  // no opening: areas count pixel for pixel
    const int r = add({40, 40, 100, 80}, FuncDefect, 1, 45, 100);
    train();
    EXPECT_TRUE(run(base));
    cv::Mat f = base.clone();
    f(cv::Rect(60, 60, 10, 10)).setTo(30);  // 100 px foreign object
    EXPECT_FALSE(run(f));
    EXPECT_EQ(engine->regionVerdict[0][r], 0);
    EXPECT_EQ(engine->score[0][r], 100);
    ASSERT_EQ(engine->alarms[0][r].size(), 1u);
    EXPECT_EQ(engine->alarms[0][r][0], AlarmRect(60, 60, 70, 70));
    EXPECT_EQ(cv::countNonZero(engine->alarmImage), 100);

    wp.enable_ng_image = 1;       // the region must show something of at least the limit
    EXPECT_FALSE(run(base));
    cv::Mat at = base.clone();
    at(cv::Rect(50, 50, 5, 4)).setTo(30);  // exactly the limit of 20
    EXPECT_TRUE(run(at));
    wp.enable_ng_image = 0;
    wp.enable_display_detail = 1; // the region's own limit P3 = 100
    EXPECT_TRUE(run(f));
}

TEST_F(Bench, BandFunctionsCountTheirPixels)
{
    base(cv::Rect(0, 0, W, H)).setTo(120);
    const int spot = add({10, 10, 60, 60}, FuncSpot, 0x3200, 5, 50);   // band 0..50, area 5..50
    const int black = add({100, 10, 60, 60}, FuncBlack, 0, 50, 30);
    const int white = add({180, 10, 60, 60}, FuncWhite, 0, 200, 30);
    const int number = add({10, 120, 120, 100}, FuncWhiteNumber, 1, 200, 0x20001);
    train();
    cv::Mat f = base.clone();
    f(cv::Rect(20, 20, 4, 4)).setTo(10);     // 16 px in the spot band
    f(cv::Rect(110, 20, 6, 6)).setTo(20);    // 36 px black: above its 30
    f(cv::Rect(190, 20, 5, 5)).setTo(250);   // 25 px white
    f(cv::Rect(20, 130, 10, 10)).setTo(255); // one white mark
    EXPECT_FALSE(run(f));
    EXPECT_EQ(engine->score[0][spot], 16);
    EXPECT_EQ(engine->score[0][black], 36);
    EXPECT_EQ(engine->regionVerdict[0][black], 0);
    EXPECT_EQ(engine->score[0][white], 25);
    EXPECT_EQ(engine->regionVerdict[0][white], 1);
    EXPECT_EQ(engine->score[0][number], 1);
    f(cv::Rect(60, 130, 10, 10)).setTo(255);
    run(f);
    EXPECT_EQ(engine->regionVerdict[0][number], 1);  // two marks
    f(cv::Rect(100, 180, 10, 10)).setTo(255);
    run(f);
    EXPECT_EQ(engine->regionVerdict[0][number], 0);  // three
    cv::Mat none = base.clone();
    run(none);
    EXPECT_EQ(engine->regionVerdict[0][number], 0);  // none
    EXPECT_EQ(engine->regionVerdict[0][spot], 0);    // 0 px: below the minimum of 5
}

TEST_F(Bench, SimilarityDirectionAndDistance)
{
    cv::randu(base, 0, 255);
    cv::GaussianBlur(base, base, {5, 5}, 2);
    base(cv::Rect(200, 100, 100, 40)).setTo(40);
    base(cv::Rect(240, 100, 60, 40)).setTo(220);   // edge at x = 240 across the distance region
    const int similar = add({20, 20, 80, 80}, FuncSimilarity, 0, 80, 0);
    const int direction = add({120, 150, 80, 80}, FuncDirection, 1, 2000, 100);  // bounds reversed: 100..2000
    const int distance = add({200, 110, 100, 20}, FuncDistance, 0, 30, 3);
    // Direction: a white L with its bar on the left is the right way for side 1.
    base(cv::Rect(120, 150, 80, 80)).setTo(0);
    base(cv::Rect(130, 160, 10, 40)).setTo(255);
    base(cv::Rect(130, 190, 30, 10)).setTo(255);
    train();
    EXPECT_EQ(engine->dist[0][distance].mode, 1);
    EXPECT_TRUE(run(base));
    EXPECT_GE(engine->score[0][similar], 99);

    cv::Mat f = base.clone();
    cv::randu(f(cv::Rect(20, 20, 80, 80)), 0, 255);   // a different surface
    cv::flip(base(cv::Rect(120, 150, 80, 80)), f(cv::Rect(120, 150, 80, 80)), 1);  // mirrored part
    f(cv::Rect(200, 100, 100, 40)).setTo(40);
    f(cv::Rect(250, 100, 50, 40)).setTo(220);          // the edge moved by 10 px
    EXPECT_FALSE(run(f));
    EXPECT_EQ(engine->regionVerdict[0][similar], 0);
    EXPECT_EQ(engine->regionVerdict[0][direction], 0);
    EXPECT_EQ(engine->score[0][direction], 1);
    EXPECT_EQ(engine->regionVerdict[0][distance], 0);
    EXPECT_EQ(engine->measure[0][distance].found, 1);

    // A distance region whose template shows no edge has no reference: NG every time.
    const int flat = add({20, 200, 60, 20}, FuncDistance, 0, 30, 3);
    base(cv::Rect(20, 200, 60, 20)).setTo(90);
    train();
    EXPECT_EQ(engine->dist[0][flat].mode, 0);
    run(base);
    EXPECT_EQ(engine->regionVerdict[0][flat], 0);
}

TEST_F(Bench, ErrorCodesMakeTheCameraNgAndAreRecorded)
{
    train();
    EXPECT_TRUE(run(base));  // no regions: OK
    const int broken = add({10, 10, 20, 20}, FuncDefect, 3, 45, 100);
    para.roi[0][broken].roi_shape = 0;  // no geometry
    train();
    EXPECT_FALSE(run(base));
    para.roi[0][broken].roi_shape = ShapeRect;
    train();
    EXPECT_TRUE(run(base));
    EXPECT_FALSE(run(cv::Mat(100, 100, CV_8UC1, cv::Scalar(120))));  // the region lies beyond this frame
    wp.detect_enable[0] = 0;                                           // never trained: no detection mask
    engine = std::make_unique<CammerRecong>(&para, store.get(), &wp);
    EXPECT_FALSE(run(base));
    const QStringList r = records();
    EXPECT_TRUE(r.contains("REG RUN ERROR = 0, 0, -1"));
    EXPECT_TRUE(r.contains("REG RUN ERROR = 0, 0, -3"));
    EXPECT_TRUE(r.contains("REG RUN ERROR = 0, 0, -2"));
    // The editor's and position regions are never judged, even without geometry.
    wp.detect_enable[0] = 1;
    para.roi_count[0] = 0;
    const int ignore = add({100, 100, 20, 20}, FuncIgnore, 0, 0, 0);
    const int position = add({150, 100, 20, 20}, FuncPosition, 5, 10, 10);
    para.roi[0][ignore].roi_shape = 0;
    para.roi[0][position].roi_shape = 0;
    train();
    EXPECT_TRUE(run(base));
    EXPECT_EQ(engine->regionError[0][ignore], RegionOk);
}

TEST_F(Bench, ReportsOnlyMarkedRunsWithTheServiceOn)
{
    add({10, 10, 40, 40}, FuncBlack, 0, 50, 0);
    add({60, 10, 40, 40}, FuncWhite, 0, 200, 100);
    train();
    cv::Mat f = base.clone();
    f(cv::Rect(15, 15, 3, 3)).setTo(0);
    g_listParamROI.clear();
    run(f, true);
    EXPECT_TRUE(g_listParamROI.isEmpty());
    wp.enable_cnt_net = 1;
    run(f, false);
    EXPECT_TRUE(g_listParamROI.isEmpty());
    run(f, true);
    ASSERT_EQ(g_listParamROI.size(), 2);
    const param_roi a = g_listParamROI[0], b = g_listParamROI[1];
    EXPECT_EQ(a.algorithm_type, FuncBlack);
    EXPECT_EQ(a.algorithm_result, 9);
    EXPECT_EQ(a.is_alarm, 0);
    EXPECT_EQ(b.is_alarm, 0);  // OK, but an earlier region already made the camera NG
    EXPECT_EQ(b.algorithm_premax, 100);
    g_listParamROI.clear();
}

TEST_F(Bench, ColourFramesThroughBothPlanes)
{
    store = std::make_unique<TemplateStore>(0, 3, W, H, true);
    store->LoadAll();
    wp.enable_color_camera = 1;
    const int r = add({10, 10, 60, 60}, FuncWhite, 0, 100, 10);
    cv::Mat colour(H, W, CV_8UC4, cv::Scalar(0, 0, 0, 255));
    colour(cv::Rect(20, 20, 5, 5)).setTo(cv::Scalar(0, 200, 0, 255));  // green
    store->SaveReTrainImage(0, colour);
    engine = std::make_unique<CammerRecong>(&para, store.get(), &wp);
    wp.enable_gray_channel = 1;  // grey: green 200 reads about 117
    engine->Run(0, colour);
    EXPECT_EQ(engine->score[0][r], 25);
    wp.enable_gray_channel = 0;  // hue: green is a third of the way round, about 85
    engine->Run(0, colour);
    EXPECT_EQ(engine->score[0][r], 0);
    para.roi[0][r].sensibility = 80;
    engine->Run(0, colour);
    EXPECT_EQ(engine->score[0][r], 25);
}

TEST(Functions, StepToTheNextEnabledWithItsDefaults)
{
    WizardPara wp;
    wp.enable_defect_detect = 1;
    wp.enable_white_number = 1;
    RoiParam p{3, 45, 100, 0, ShapeRect, 0};
    EXPECT_EQ(NextFunction(0, wp, p), FuncWhiteNumber);
    EXPECT_EQ(p, (RoiParam{1, 128, 131073, FuncWhiteNumber, ShapeRect, 0}));
    EXPECT_EQ(NextFunction(7, wp, p), FuncDefect);
    EXPECT_EQ(p.sensibility, 45);
    wp.enable_black_area = 1;
    p.min_size = 77;
    EXPECT_EQ(NextFunction(0, wp, p), FuncBlack);
    EXPECT_EQ(p.min_size, 77);  // left unchanged
    EXPECT_EQ(p.sensibility, 50);
    WizardPara none;
    EXPECT_EQ(NextFunction(0, none, p), -1);
}

TEST(Proposal, AroundWhatDiffersBetweenTheBaseTemplates)
{
    TestDir dir;
    SetImageBounds(W, H);
    WizardPara wp;
    wp.minimum_size = 3;
    wp.minimum_area = 100;
    TemplateStore store(0, 3, W, H, false);
    store.LoadAll();
    cv::Mat a(H, W, CV_8UC1, cv::Scalar(100));
    store.SaveReTrainImage(0, a);
    store.SaveReTrainImage(1, a);
    CammerSingleton para(0);
    EXPECT_FALSE(AutogenerationRegion(para, store, 1, wp));
    EXPECT_EQ(para.roi_count[1], 0);
    cv::Mat b = a.clone();
    b(cv::Rect(140, 100, 40, 30)).setTo(200);
    store.SaveReTrainImage(1, b);
    ASSERT_TRUE(AutogenerationRegion(para, store, 1, wp));
    EXPECT_EQ(para.roi_count[1], 1);
    EXPECT_EQ(para.roi[1][0].roi_shape, ShapePolygon);
    EXPECT_EQ(para.roi[1][0].algorithm, FuncDefect);
    EXPECT_EQ(para.roi[1][0].min_size, 3);
    EXPECT_EQ(para.roi[1][0].max_area, 100);
    EXPECT_TRUE(para.polys[1][0].Contains({160, 115}));
    EXPECT_FALSE(para.polys[1][0].Contains({10, 10}));
    // 0.2 x (mean x box area / non-zero count) grey levels (the box mean times
    // its area is the sum 100 x 1200), in the difference model's scale: a
    // larger difference gives a looser, lower sensitivity.
    const cv::Rect box = para.polys[1][0].rect();
    const int mean = int(100.0 * 1200 / box.area());
    const double grey = 0.2 * (mean * box.area() / 1200);
    EXPECT_EQ(para.roi[1][0].sensibility, GrayMatch::sensitivityFor(grey));
    EXPECT_NEAR(GrayMatch::thresholdOf(para.roi[1][0].sensibility), grey, 0.25);
}

TEST(Photographs, CleanFramesPassAndEveryBlemishIsFound)
{
    TestDir dir;
    const cv::Mat full = photo("fruits.jpg");
    const cv::Rect view(40, 60, 440, 360);
    const cv::Mat scene = full(view).clone();
    SetImageBounds(scene.cols, scene.rows);
    std::mt19937 rng(11);
    auto seen = [&] { return seenAgain(full, rng)(view).clone(); };
    WizardPara wp;
    wp.detect_enable[0] = 1;
    wp.enable_correct = -1;
    wp.enable_defect_detect = 1;
    wp.minimum_size = 3;
    wp.minimum_area = 30;
    wp.difference_multiplier = 1;
    TemplateStore store(0, 6, scene.cols, scene.rows, false);
    store.LoadAll();
    store.SaveReTrainImage(0, seen());
    for (int t = 1; t < 5; ++t)
        store.AddTemplate(0, seen());
    CammerSingleton para(0);
    const cv::Rect region(20, 20, 400, 320);
    para.AddRect(0, region.tl(), region.br() - cv::Point(1, 1), wp);
    CammerRecong engine(&para, &store, &wp);

    int ng = 0;
    for (int i = 0; i < 100; ++i) {
        engine.Run(0, seen());
        ng += engine.cameraVerdict == 0;
    }
    EXPECT_EQ(ng, 0) << "clean frames judged NG";

    // Places on the part's smooth surfaces with room for the blemish's contrast.
    std::vector<cv::Point> spots;
    for (int y = region.y + 8; y + 16 < region.br().y; y += 9)
        for (int x = region.x + 8; x + 16 < region.br().x; x += 9) {
            cv::Scalar mean, sd;
            cv::meanStdDev(scene(cv::Rect(x - 4, y - 4, 16, 16)), mean, sd);
            if (sd[0] < 5.0 && mean[0] > 55 && mean[0] < 200)
                spots.emplace_back(x, y);
        }
    ASSERT_GE(spots.size(), 20u);
    int found = 0, onTarget = 0;
    for (int i = 0; i < 100; ++i) {
        cv::Mat f = seen();
        const cv::Point at = spots[size_t(rng() % spots.size())];
        const cv::Rect blemish(at, cv::Size(8, 8));
        f(blemish).convertTo(f(blemish), -1, 1.0, (i % 2) ? 40 : -40);
        engine.Run(0, f);
        found += engine.cameraVerdict == 0;
        for (const AlarmRect& a : engine.alarms[0][0])
            if ((cv::Rect(cv::Point(a[0], a[1]), cv::Point(a[2], a[3])) & blemish).area() > 0) {
                ++onTarget;
                break;
            }
    }
    EXPECT_EQ(found, 100);
    EXPECT_EQ(onTarget, 100);
}

TEST_F(Bench, EditorTestRunScoresOneRegionWithoutAVerdict)
{
    const int defect = add({10, 10, 40, 40}, FuncDefect, 3, 45, 100);
    const int black = add({100, 10, 40, 40}, FuncBlack, 0, 50, 5);
    train();
    cv::Mat f = base.clone();
    f(cv::Rect(105, 15, 4, 4)).setTo(0);
    f(cv::Rect(15, 15, 10, 10)).setTo(0);
    ASSERT_TRUE(run(base));
    engine->RunTest(0, black, f);
    EXPECT_EQ(engine->score[0][black], 16);
    EXPECT_EQ(engine->regionVerdict[0][black], 1);  // no verdict from a test run
    EXPECT_EQ(engine->cameraVerdict, 1);
    EXPECT_EQ(cv::countNonZero(engine->alarmImage), 16);
    engine->RunTest(0, defect, f);                  // defect regions are only repainted
    EXPECT_EQ(engine->score[0][defect], 0);
    EXPECT_EQ(cv::countNonZero(engine->alarmImage), 0);
}

TEST_F(Bench, RegionsInDoubtAreNgWithTheirCodeAndNeverThrow)
{
    const int good = add({10, 10, 40, 40}, FuncBlack, 0, 50, 100);
    const int defect = add({60, 10, 60, 60}, FuncDefect, 3, 45, 100);
    train();
    EXPECT_TRUE(run(base));

    // An untrained difference model cannot say OK.
    engine->diff[0][defect].Clear();
    EXPECT_FALSE(run(base));
    EXPECT_EQ(engine->regionVerdict[0][defect], 0);
    EXPECT_EQ(engine->regionError[0][defect], ErrUntrained);
    EXPECT_EQ(engine->regionVerdict[0][good], 1);
    EXPECT_TRUE(records().contains("REG RUN ERROR = 0, 0, -4"));

    // A polygon of two points has nothing inside.
    para.roi[0][defect].roi_shape = ShapePolygon;
    para.polys[0][defect].set({{70, 20}, {110, 20}});
    para.polys[0][defect].UpdateMask();
    train();
    EXPECT_FALSE(run(base));
    EXPECT_EQ(engine->regionError[0][defect], ErrNoMask);

    // A rectangle clipped flat on the border, and a mask that no longer fits
    // its rectangle (moved without rebuilding it).
    para.roi[0][defect].roi_shape = ShapeRect;
    para.rects[0][defect].set({-50, 10}, {-10, 40});
    para.rects[0][defect].UpdateMask();
    train();
    EXPECT_FALSE(run(base));
    EXPECT_EQ(engine->regionError[0][defect], ErrNoMask);
    para.rects[0][defect].set({60, 10}, {119, 69});
    para.rects[0][defect].UpdateMask();
    train();
    EXPECT_TRUE(run(base));
    para.rects[0][defect].p2 = {139, 89};
    para.rects[0][defect].setImageRect();
    EXPECT_FALSE(run(base));
    EXPECT_EQ(engine->regionError[0][defect], ErrNoMask);
}

TEST_F(Bench, IndexesFromStoredDataAreCheckedEverywhere)
{
    add({10, 10, 40, 40}, FuncDefect, 3, 45, 100);
    train();
    cv::Mat corrected, valid;
    for (int d : {-1, 8, 1000}) {
        engine->Run(d, base);
        EXPECT_EQ(engine->cameraVerdict, 0) << d;
        engine->VarTrain(d);
        EXPECT_FALSE(engine->CreateShape(d));
        EXPECT_FALSE(engine->ShapeMatch(d, base, corrected, &valid));
        engine->RunTest(d, 0, base);
        EXPECT_FALSE(store->AddTemplate(d, base).ok);
        EXPECT_FALSE(store->SaveReTrainImage(d, base).ok);
        EXPECT_FALSE(store->DeleteCurrent(d, 1).ok);
    }
    engine->RunTest(0, 77, base);
    EXPECT_TRUE(run(base));
}

TEST_F(Bench, AHugeFilterSizeIsBoundedByTheRegion)
{
    wp.enable_display_detail = 1;
    const int white = add({10, 10, 40, 30}, FuncWhiteNumber, 20000, 100, 0x10001);
    const int defect = add({100, 10, 40, 30}, FuncDefect, 20000, 45, 5);
    base(cv::Rect(20, 20, 5, 5)).setTo(250);
    train();
    // Closing with an element the size of the region joins everything: one blob.
    EXPECT_TRUE(run(base));
    EXPECT_EQ(engine->score[0][white], 1);
    cv::Mat f = base.clone();
    f(cv::Rect(105, 15, 30, 20)).setTo(250);  // most of the defect region: opening with it keeps it
    EXPECT_FALSE(run(f));
    EXPECT_EQ(engine->regionVerdict[0][defect], 0);
}

TEST_F(Bench, CirclesRingsAndPolygonsAreJudgedInsideTheirShape)
{
    para.AddCircle(0, {60, 60}, 30, 0, wp);
    para.roi[0][0] = {0, 50, 0, FuncBlack, ShapeCircle, 0};
    para.AddCircle(0, {160, 60}, 30, 15, wp);
    para.roi[0][1] = {0, 50, 0, FuncBlack, ShapeCircle, 0};
    para.AddPolygon(0, {{220, 20}, {300, 20}, {300, 100}}, wp);  // the upper right half of a square
    para.roi[0][2] = {0, 50, 0, FuncBlack, ShapePolygon, 0};
    train();
    cv::Mat f = base.clone();
    f(cv::Rect(35, 35, 4, 4)).setTo(0);    // inside the circle's box, outside the circle
    f(cv::Rect(158, 58, 4, 4)).setTo(0);   // in the ring's hole
    f(cv::Rect(225, 90, 4, 4)).setTo(0);   // below the polygon's diagonal
    EXPECT_TRUE(run(f));
    f(cv::Rect(60, 60, 2, 2)).setTo(0);    // circle
    f(cv::Rect(182, 60, 2, 2)).setTo(0);   // ring
    f(cv::Rect(290, 30, 2, 2)).setTo(0);   // polygon
    EXPECT_FALSE(run(f));
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(engine->regionVerdict[0][r], 0) << r;
        EXPECT_EQ(engine->score[0][r], 4) << r;
    }
}

TEST_F(Bench, IgnoreAreasAndIgnorePointsSuppressADefect)
{
    const int defect = add({20, 20, 200, 150}, FuncDefect, 3, 45, 20);
    train();
    cv::Mat f = base.clone();
    f(cv::Rect(50, 50, 10, 10)).setTo(30);
    EXPECT_FALSE(run(f));
    // An ignore area over the spot: its pixels are no longer judged.
    add({45, 45, 20, 20}, FuncIgnore, 0, 0, 0);
    train();
    EXPECT_TRUE(run(f));
    EXPECT_EQ(engine->regionVerdict[0][defect], 1);
    f(cv::Rect(150, 100, 10, 10)).setTo(30);
    EXPECT_FALSE(run(f));
    // Ignore points of the alarm.
    std::vector<TemplateStore::AlarmedRegion> alarmed{{engine->score[0][defect], {}}};
    for (const AlarmRect& a : engine->alarms[0][defect])
        alarmed[0].rects.emplace_back(cv::Point(a[0], a[1]), cv::Point(a[2], a[3]));
    ASSERT_TRUE(store->IgnoreAlarmPoints(0, alarmed, engine->alarmImage).ok);
    engine->VarTrain(0);
    EXPECT_TRUE(run(f));
}

TEST_F(Bench, CorrectionDoesNotJudgeWhatItBroughtInFromOutside)
{
    // A textured frame; the part's position is found and corrected.
    const cv::Mat full = photo("fruits.jpg");
    cv::resize(full, base, cv::Size(W, H));
    wp.enable_correct = 1;
    wp.match_angle = 0;
    wp.location_adge = 30;
    const int edge = add({0, 0, 60, H}, FuncDefect, 3, 45, 20);  // along the left border
    const int dark = add({0, 0, 40, H}, FuncBlack, 0, 3, 20);     // nothing that dark on the part
    train();
    ASSERT_TRUE(engine->shape[0].IsValid());
    cv::Mat moved, corrected, valid;
    MoveImage(base, moved, -12, 0, true);  // the part went 12 pixels right; new picture on the left
    ASSERT_TRUE(engine->ShapeMatch(0, moved, corrected, &valid));
    EXPECT_NEAR(engine->lastShift[0].x, 12, 1.0);
    // The corrected frame's right border came from outside the camera's picture.
    EXPECT_EQ(cv::countNonZero(valid(cv::Rect(W - 8, 0, 8, H))), 0);
    EXPECT_EQ(cv::countNonZero(valid(cv::Rect(0, 2, 60, H - 4))), 60 * (H - 4));
    MoveImage(base, moved, 12, 0, true);   // and the other way: the left border is new
    ASSERT_TRUE(engine->ShapeMatch(0, moved, corrected, &valid));
    engine->Run(0, corrected, false, valid);
    EXPECT_EQ(engine->regionVerdict[0][edge], 1);
    EXPECT_EQ(engine->regionVerdict[0][dark], 1);
    // Judged without the mask, the repeated border pixels are a difference.
    engine->Run(0, corrected);
    EXPECT_EQ(engine->regionVerdict[0][edge], 0);
}

TEST_F(Bench, AFailedPositionModelIsRecordedAndAnnounced)
{
    wp.enable_correct = 1;
    add({90, 70, 140, 100}, FuncPosition, 5, 10, 10);  // over a part that shows no edge at all
    store->SaveReTrainImage(0, base);
    engine = std::make_unique<CammerRecong>(&para, store.get(), &wp);
    QList<int> shown;
    engine->warn = [&](int m, const QStringList&) { shown << m; };
    EXPECT_FALSE(engine->CreateShape(0));
    EXPECT_EQ(shown, QList<int>{CammerRecong::kMessageNoPositionModel});
    const QString line = LanStr(CammerRecong::kMessageNoPositionModel).arg(1).arg(1).simplified();
    EXPECT_EQ(records().count(line), 2);  // at start and now
    // Correction off: nothing to make, nothing to report.
    wp.enable_correct = -1;
    EXPECT_TRUE(engine->CreateShape(0));
    EXPECT_EQ(shown.size(), 1);
}
