#include "CammerSingleton.h"
#include "ImageLib.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace paramdb;

namespace {
struct Regions : ::testing::Test {
    TestDir dir;
    QList<int> warned;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(openAll({}));
        SetImageBounds(640, 480);
    }
    void put(const QString& key, const QString& value)
    {
        ASSERT_TRUE(writeValues(paramDb(), "cammer2", {{key, value}}, true));
    }
    QString get(const QString& key)
    {
        QString v;
        return readValue(paramDb(), "cammer2", key, &v) ? v : QStringLiteral("<none>");
    }
    CammerSingleton load()
    {
        CammerSingleton c(2);
        c.LoadDatafromFile([this](int m) { warned << m; });
        return c;
    }
};
} // namespace

TEST_F(Regions, StoredRulesOnLoad)
{
    put("detect0", "51 2 2");
    put("ROI0-0", "3 45 100 0 1 0 0 1 1 5 5");
    put("detect1", "4 0 2");
    put("ROI1-0", "5 60 100 0 2 1 0");             // polygon with no points
    put("ROI1-1", "5 60 100 0 2 7 9000 1 1");      // too many points; output 7
    put("ROI1-2", QStringLiteral("1 2 3 4 4 2 0 320 240 %1").arg(20 * 65536 + 30));
    put("ROI1-3", "1 2 3 4 1 3 0 -10 20 700 500");  // rectangle outside the image
    CammerSingleton c = load();
    EXPECT_EQ(warned, QList<int>{CammerSingleton::kMessageFileError});
    EXPECT_EQ(c.roi_count[0], 0);
    EXPECT_EQ(c.roi_count[1], 4);
    EXPECT_EQ(c.detect_flags[1][1], 2);
    for (int r : {0, 1}) {
        EXPECT_EQ(c.roi[1][r], (RoiParam{3, 45, 100, 0, ShapeRect, 0})) << r;
        EXPECT_EQ(c.rects[1][r].imageRect(), cv::Vec4i(50, 50, 100, 100));
    }
    EXPECT_EQ(c.circles[1][2].centre, cv::Point(320, 240));
    EXPECT_EQ(c.circles[1][2].inner, 20);
    EXPECT_EQ(c.circles[1][2].outer, 30);
    EXPECT_EQ(c.roi[1][2].output_point, 2);
    EXPECT_EQ(c.rects[1][3].imageRect(), cv::Vec4i(0, 20, 639, 479));
    EXPECT_FALSE(c.mask(1, 3).empty());
    // Missing rows are created.
    EXPECT_EQ(get("detect5"), "0");
    EXPECT_EQ(get("detect5NGCount"), "0");
}

TEST_F(Regions, SaveDeletesRowsBeyondTheCountAndKeepsTheNgRowLayout)
{
    WizardPara p;
    CammerSingleton c(2);
    for (int r = 0; r < 5; ++r)
        c.AddRect(0, {10 * r, 10}, {10 * r + 5, 20}, p);
    c.roi_ng_count[0][3] = 17;
    ASSERT_TRUE(c.SaveDatatoFile());
    EXPECT_NE(get("ROI0-4"), "<none>");
    const QString ng = get("detect0NGCount");
    EXPECT_TRUE(ng.endsWith(' '));
    EXPECT_EQ(parseInts(ng, 50)[3], 17);
    c.DeleteROI(0, 0);
    c.DeleteROI(0, 0);
    ASSERT_TRUE(c.SaveDatatoFile());
    EXPECT_EQ(get("ROI0-2"), "3 45 100 0 1 0 0 40 10 45 20");  // shifted down two slots
    EXPECT_EQ(get("ROI0-3"), "<none>");
    EXPECT_EQ(get("ROI0-4"), "<none>");
    EXPECT_EQ(load().roi_ng_count[0][1], 17);
}

TEST_F(Regions, RoundTripOfFiftyRegionsOfEveryShapeInEveryDetection)
{
    WizardPara p;
    p.enable_spot_detect = 1;
    CammerSingleton c(2);
    for (int d = 0; d < 8; ++d)
        for (int r = 0; r < kMaxRoi; ++r) {
            const int x = 5 + r * 12, y = 5 + d * 55;
            switch (r % 3) {
            case 0: c.AddRect(d, {x, y}, {x + 10, y + 40}, p); break;
            case 1: c.AddCircle(d, {x + 5, y + 20}, 10 + d, r % 2 ? 3 : 0, p); break;
            default: c.AddPolygon(d, {{x, y}, {x + 9, y + 2}, {x + 4, y + 30}, {x, y + 20}}, p); break;
            }
            c.roi[d][r].sensibility = d * 100 + r;
            c.roi[d][r].output_point = d == 0 ? 0 : r % 4;
            c.roi_ng_count[d][r] = d + r;
        }
    ASSERT_TRUE(c.SaveDatatoFile());
    const CammerSingleton back = load();
    EXPECT_TRUE(warned.isEmpty());
    EXPECT_FALSE(back.differsFrom(c));
    for (int d = 0; d < 8; ++d)
        for (int r = 0; r < kMaxRoi; ++r) {
            ASSERT_EQ(back.roi_ng_count[d][r], d + r);
            ASSERT_EQ(cv::countNonZero(back.mask(d, r)), cv::countNonZero(c.mask(d, r))) << d << " " << r;
        }
    EXPECT_EQ(back.roi[0][0].algorithm, 1);  // spot detection defaults
    EXPECT_EQ(back.roi[0][0].min_size, 12800);
}

TEST_F(Regions, EditorAddsWithDefaultsRefusesTheFiftyFirstAndCopiesPerMode)
{
    WizardPara p;
    p.enable_white_area = 1;
    CammerSingleton c(2);
    ASSERT_EQ(c.AddRect(1, {1, 1}, {9, 9}, p), 0);
    EXPECT_EQ(c.roi[1][0], (RoiParam{0, 200, 100, 5, ShapeRect, 0}));
    c.roi[1][0].output_point = 3;
    EXPECT_EQ(c.AddCircle(1, {50, 50}, 8, 0, p), 1);
    EXPECT_EQ(c.roi[1][1].output_point, 3);  // copied from the previous region
    EXPECT_EQ(c.AddPolygon(1, {{0, 0}, {5, 5}}, p), -1);  // two points are no area
    for (int r = 2; r < kMaxRoi; ++r)
        ASSERT_EQ(c.AddRect(1, {r, r}, {r + 3, r + 3}, p), r);
    int message = 0;
    EXPECT_EQ(c.AddRect(1, {0, 0}, {3, 3}, p, &message), -1);
    EXPECT_EQ(message, CammerSingleton::kMessageTooMany);

    CammerSingleton twoColor = c;
    twoColor.CopyPara(1);  // detection 3 gets detection 1
    EXPECT_EQ(twoColor.roi_count[3], kMaxRoi);
    EXPECT_EQ(twoColor.circles[3][1].outer, 8);
    EXPECT_FALSE(twoColor.shape(3, 1)->IsSelected());
    CammerSingleton standard = c;
    standard.roi_count[0] = 1;
    standard.AddRect(0, {100, 100}, {120, 130}, p);
    standard.CopyPara(0);    // detection 1 gets detection 0
    EXPECT_EQ(standard.roi_count[1], 2);
    EXPECT_EQ(standard.rects[1][1].imageRect(), cv::Vec4i(100, 100, 120, 130));
    CammerSingleton multi = c;
    multi.CopyPara(4);
    EXPECT_FALSE(multi.differsFrom(c));
    EXPECT_TRUE(standard.differsFrom(c));
    // Production counts are not an edit.
    multi.roi_ng_count[1][0] = 99;
    EXPECT_FALSE(multi.differsFrom(c));
}

TEST_F(Regions, EveryCopyOfARegionOwnsItsMask)
{
    WizardPara wp;
    CammerSingleton live(2);
    live.AddRect(0, {10, 10}, {60, 60}, wp);
    live.AddCircle(0, {200, 200}, 40, 10, wp);
    live.AddPolygon(0, {{300, 300}, {400, 300}, {350, 380}}, wp);
    const cv::Mat before[3] = {live.mask(0, 0).clone(), live.mask(0, 1).clone(), live.mask(0, 2).clone()};

    // The editor's copy: editing it leaves the live regions as they were.
    CammerSingleton edit = live;
    edit.rects[0][0].Resize(2, {40, 40});    // a smaller rectangle: its mask is rebuilt
    edit.rects[0][0].Resize(2, {60, 60});    // back to the same size, written in place if shared
    edit.circles[0][1].Resize(1, {230, 200});
    edit.polys[0][2].Resize(2, {300, 380});
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(cv::countNonZero(live.mask(0, r) != before[r]), 0) << r;

    // Copying to the partner detection, then editing the copy.
    live.CopyPara(0);
    live.circles[1][1].Resize(1, {235, 200});
    EXPECT_EQ(cv::countNonZero(live.mask(0, 1) != before[1]), 0);
    EXPECT_NE(cv::countNonZero(live.mask(1, 1) != before[1]), 0);

    // Deleting moves later regions down; a new region in the freed slot is its own.
    live.DeleteROI(0, 0);
    live.AddRect(0, {0, 0}, {50, 50}, wp);
    live.rects[0][2].Resize(2, {20, 20});
    live.rects[0][2].Resize(2, {50, 50});
    EXPECT_EQ(cv::countNonZero(live.mask(0, 0) != before[1]), 0);
    EXPECT_EQ(cv::countNonZero(live.mask(0, 1) != before[2]), 0);
}
