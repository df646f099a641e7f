// The region editor of the built station, driven by touches on its camera's
// picture: each shape drawn, moved, resized and deleted, parameters through
// the station's keypad, saved with its records and loaded back, copied to the
// partner detection, and a test run that scores like station-inspect.
#include "CameraSet.h"
#include "CammerSingleton.h"
#include "Globals.h"
#include "Messages.h"
#include "RegionEditor.h"
#include "StationRig.h"
#include "Touch.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <opencv2/imgcodecs.hpp>

namespace {
struct Editor : StationRig {
    DrawROIWidget* editor = nullptr;
    std::unique_ptr<touch::PanelOperator> op;
    void start()
    {
        StationRig::start();
        op = std::make_unique<touch::PanelOperator>();
        editor = station->regionEditor();
        editor->open(0, 1);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(editor));
    }
    void TearDown() override
    {
        op.reset();
        StationRig::TearDown();
    }
    QString lastAsked() const { return op->asked.isEmpty() ? QString() : op->asked.last(); }
    QString lastWarned() const { return op->warned.isEmpty() ? QString() : op->warned.last(); }
    static QString shown(const QString& m) { return touch::PanelOperator::shown(m); }
    QPoint at(int x, int y) const { return editor->canvas()->toWidget(QPointF(x, y)).toPoint(); }
    void drag(QPoint from, QPoint to)
    {
        RegionCanvas* c = editor->canvas();
        QTest::mousePress(c, Qt::LeftButton, {}, from);
        QTest::mouseMove(c, (from + to) / 2);
        QTest::mouseMove(c, to);
        QTest::mouseRelease(c, Qt::LeftButton, {}, to);
    }
    void tap(QPoint p) { QTest::mouseClick(editor->canvas(), Qt::LeftButton, {}, p); }
    CammerSingleton& edit() { return editor->editCopy(0); }
};
} // namespace

TEST_F(Editor, EachShapeIsDrawnByTouchEditedSavedAndLoadedBack)
{
    start();
    const int before = edit().roi_count[1];
    editor->canvas()->setTool(RegionCanvas::Rect);
    drag(at(40, 40), at(120, 100));
    ASSERT_EQ(edit().roi_count[1], before + 1);
    const int rect = before;
    EXPECT_NEAR(edit().rects[1][rect].p1.x, 40, 1);
    EXPECT_NEAR(edit().rects[1][rect].p2.y, 100, 1);

    editor->canvas()->setTool(RegionCanvas::Ring);
    drag(at(300, 200), at(340, 200));
    ASSERT_EQ(edit().roi_count[1], before + 2);
    EXPECT_EQ(edit().roi[1][before + 1].roi_shape, ShapeCircle);
    EXPECT_NEAR(edit().circles[1][before + 1].outer, 40, 1);

    editor->canvas()->setTool(RegionCanvas::Polygon);
    for (QPoint p : {at(200, 300), at(260, 300), at(230, 350)})
        tap(p);
    EXPECT_EQ(edit().roi_count[1], before + 2) << "open until it is closed";
    tap(at(203, 304));   // near the first vertex: closed
    ASSERT_EQ(edit().roi_count[1], before + 3);
    EXPECT_EQ(edit().polys[1][before + 2].points.size(), 3u);

    // Move the rectangle by a drag inside it, then set its sensitivity on the keypad.
    editor->canvas()->setTool(RegionCanvas::Select);
    drag(at(80, 70), at(90, 75));
    EXPECT_EQ(editor->canvas()->selected(), rect);
    EXPECT_NEAR(edit().rects[1][rect].p1.x, 50, 1);
    EXPECT_NEAR(edit().rects[1][rect].p1.y, 45, 1);
    bool changed = false;
    touch::typeNumber("77", [&] { changed = editor->editParameter(1); });
    ASSERT_TRUE(changed);
    EXPECT_EQ(edit().roi[1][rect].sensibility, 77);
    touch::typeNumber("999", [&] { changed = editor->editParameter(1); });
    EXPECT_FALSE(changed) << "above the sensitivity's limit";
    EXPECT_EQ(edit().roi[1][rect].sensibility, 77);
    ASSERT_TRUE(editor->setFunction(FuncSpot));

    ASSERT_TRUE(editor->SlotSaveData());
    EXPECT_EQ(lastAsked(), shown(LanStr(1021)));
    const QStringList remarks = recordRemarks();
    EXPECT_EQ(remarks.filter("Added Camera 1").size(), 3) << remarks.join("\n").toStdString();

    // Loaded back as the next start does.
    CammerSingleton again(0);
    again.LoadDatafromFile();
    ASSERT_EQ(again.roi_count[1], before + 3);
    EXPECT_NEAR(again.rects[1][rect].p1.x, 50, 1);
    EXPECT_EQ(again.roi[1][rect].sensibility, 77);
    EXPECT_EQ(again.roi[1][rect].algorithm, FuncSpot);
    EXPECT_EQ(again.roi[1][before + 1].roi_shape, ShapeCircle);
    EXPECT_EQ(again.polys[1][before + 2].points.size(), 3u);

    // Deleting is recorded too; cancelling leaves the live regions alone.
    editor->canvas()->select(before + 2);
    ASSERT_TRUE(editor->deleteSelected());
    ASSERT_TRUE(editor->SlotSaveData());
    EXPECT_TRUE(recordRemarks().last().startsWith("Deleted Camera 1")) << recordRemarks().last().toStdString();
    editor->canvas()->select(0);
    editor->deleteSelected();
    editor->cancel();
    editor->open(0, 1);
    EXPECT_EQ(edit().roi_count[1], before + 2);
}

TEST_F(Editor, RegionsAreCopiedToThePartnerDetectionAndAResizeDragsAHandle)
{
    start();
    editor->open(0, 0);
    const int d1 = edit().roi_count[1];
    editor->canvas()->setTool(RegionCanvas::Rect);
    drag(at(20, 20), at(80, 60));
    const int r = edit().roi_count[0] - 1;
    // The bottom-right corner dragged outwards.
    editor->canvas()->setTool(RegionCanvas::Select);
    editor->canvas()->select(r);
    drag(at(80, 60), at(100, 90));
    EXPECT_NEAR(std::max(edit().rects[0][r].p1.x, edit().rects[0][r].p2.x), 100, 2);
    EXPECT_NEAR(std::max(edit().rects[0][r].p1.y, edit().rects[0][r].p2.y), 90, 2);
    editor->CopyPara();   // mode 0: detection 1 receives detection 0
    EXPECT_EQ(edit().roi_count[1], edit().roi_count[0]);
    EXPECT_NE(edit().roi_count[1], d1);
    EXPECT_EQ(edit().rects[1][r].p2, edit().rects[0][r].p2);
}

TEST_F(Editor, ATestRunScoresLikeStationInspectOnTheSamePicture)
{
    start();
    const cv::Mat blemish = this->blemish();
    ASSERT_TRUE(show(blemish));
    editor->open(0, 1);
    const QList<int> scores = editor->RunTest();
    ASSERT_FALSE(scores.isEmpty());
    ASSERT_TRUE(cv::imwrite("probe.png", blemish));
    QProcess tool;
    tool.start(STATION_INSPECT_TOOL, {"--dir", ".", "--camera", "1", "--detect", "2", "probe.png"});
    ASSERT_TRUE(tool.waitForFinished(60000));
    const QJsonArray regions = QJsonDocument::fromJson(tool.readAllStandardOutput().trimmed())["regions"].toArray();
    ASSERT_EQ(regions.size(), scores.size()) << tool.readAllStandardError().toStdString();
    for (int r = 0; r < scores.size(); ++r)
        EXPECT_EQ(regions[r].toObject()["score"].toInt(), scores[r]) << "region " << r + 1;
    EXPECT_TRUE(std::any_of(scores.begin(), scores.end(), [](int s) { return s > 0; })) << "the blemish scores";
}

TEST_F(Editor, TemplatesAreAddedAndDeletedOneByOneButNeverTheBase)
{
    start();
    auto templates = [] { return QDir("cammer12").entryList({"template*.bmp"}).size(); };
    const qsizetype before = templates();
    ASSERT_TRUE(editor->addTemplate());
    EXPECT_EQ(lastAsked(), shown(LanStr(1300)));
    ASSERT_EQ(templates(), before + 1);
    EXPECT_FALSE(editor->deleteTemplate(0));
    EXPECT_EQ(lastWarned(), shown(LanStr(1338))) << "the base template stays";
    bool deleted = false;
    touch::typeNumber("1", [&] { deleted = editor->deleteTemplate(); });
    ASSERT_TRUE(deleted);
    EXPECT_EQ(lastAsked(), shown(LanStr(1339)));
    EXPECT_EQ(templates(), before);
    EXPECT_EQ(recordRemarks().last(), LanStr(1302).arg(1).arg(1));
}

TEST_F(Editor, EachRegionKeepsItsOwnWearCounterThroughTheSave)
{
    start();
    CammerSingleton& live = station->cameras()->view(0)->para;
    ASSERT_GE(live.roi_count[1], 3);
    const int n = live.roi_count[1];
    for (int r = 0; r < n; ++r)
        live.roi_ng_count[1][r] = 10 + r;  // region r has worn 10 + r times
    editor->open(0, 1);
    // The first region deleted, a new one drawn; production goes on meanwhile.
    editor->canvas()->select(0);
    ASSERT_TRUE(editor->deleteSelected());
    editor->canvas()->setTool(RegionCanvas::Rect);
    drag(at(40, 40), at(120, 100));
    ASSERT_EQ(edit().roi_count[1], n);
    ++live.roi_ng_count[1][2];
    ASSERT_TRUE(editor->SlotSaveData());
    EXPECT_EQ(live.roi_ng_count[1][0], 11);      // the old second region
    EXPECT_EQ(live.roi_ng_count[1][1], 13);      // the old third, with the wear counted meanwhile
    EXPECT_EQ(live.roi_ng_count[1][n - 1], 0);   // the new region
    // Saved again after another deletion: counted from the saved order.
    editor->canvas()->select(0);
    ASSERT_TRUE(editor->deleteSelected());
    ASSERT_TRUE(editor->SlotSaveData());
    EXPECT_EQ(live.roi_ng_count[1][0], 13);
    CammerSingleton again(0);
    again.LoadDatafromFile();
    EXPECT_EQ(again.roi_ng_count[1][0], 13);
}
