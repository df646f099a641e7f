#include "CammerRecong.h"
#include "EdgeMeasure.h"
#include "ImageLib.h"
#include "Messages.h"
#include "Photos.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <gtest/gtest.h>
#include <memory>

namespace {
// A strip with a dark-bright step at column a and a bright-dark step at column b.
cv::Mat twoSteps(int w, int h, int a, int b, bool alongY)
{
    cv::Mat img(h, w, CV_8UC1, cv::Scalar(40));
    if (alongY)
        img(cv::Range(a, b), cv::Range::all()).setTo(200);
    else
        img(cv::Range::all(), cv::Range(a, b)).setTo(200);
    return img;
}

std::vector<cv::Point2d> measure(cv::Mat img, cv::Rect r, int flag, int minStrength = 10)
{
    std::unique_ptr<RotateRectROI> rr(Rect2RotateRect(r, flag));
    _EdgePointDetParam p;
    p.minStrength = minStrength;
    p.rect = rr.get();
    clcEdgePoint(img, p);
    return p.points;
}
} // namespace

TEST(EdgeMeasurement, TwoStepsAlongXAndAlongY)
{
    const auto px = measure(twoSteps(200, 60, 50, 130, false), cv::Rect(20, 10, 160, 40), 0);
    ASSERT_EQ(px.size(), 2u);
    EXPECT_NEAR(px[0].x, 50, 0.5);
    EXPECT_NEAR(px[1].x, 130, 0.5);
    EXPECT_NEAR(px[0].y, 30, 1e-9);

    const auto py = measure(twoSteps(60, 200, 70, 120, true), cv::Rect(10, 20, 40, 160), 1);
    ASSERT_EQ(py.size(), 2u);
    EXPECT_NEAR(py[0].y, 70, 0.5);
    EXPECT_NEAR(py[1].y, 120, 0.5);
    EXPECT_NEAR(py[0].x, 30, 1e-6);
    EXPECT_NEAR(DistP2P(py[0], py[1]), 50.0f, 1.0f);
}

TEST(EdgeMeasurement, GeometryAndEdgeCases)
{
    std::unique_ptr<RotateRectROI> r(Rect2RotateRect(cv::Rect(0, 0, 10, 40), 1));
    EXPECT_EQ(r->angle, 90.0f);
    EXPECT_EQ(r->width, 40.0f);
    EXPECT_EQ(r->height, 10.0f);
    EXPECT_EQ(r->cx, 5);
    EXPECT_EQ(r->cy, 20);
    std::vector<cv::Point2f> c;
    getCornerPoints(r.get(), c);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_NEAR(c[0].x, 10, 1e-4);  // (-20, -5) turned by 90 degrees
    EXPECT_NEAR(c[0].y, 0, 1e-4);

    // A flat strip has no edge.
    EXPECT_TRUE(measure(cv::Mat(50, 100, CV_8UC1, cv::Scalar(90)), cv::Rect(10, 10, 80, 20), 0).empty());
    // Width 0: false at once, the list untouched.
    std::unique_ptr<RotateRectROI> empty(Rect2RotateRect(cv::Rect(5, 5, 0, 10), 0));
    _EdgePointDetParam p;
    p.rect = empty.get();
    p.points = {{1, 2}};
    cv::Mat img(20, 20, CV_8UC1, cv::Scalar(0));
    EXPECT_FALSE(clcEdgePoint(img, p));
    EXPECT_EQ(p.points.size(), 1u);
    // Polarity: rising only sees the first step of the pair.
    std::unique_ptr<RotateRectROI> rr(Rect2RotateRect(cv::Rect(20, 10, 160, 40), 0));
    _EdgePointDetParam rising;
    rising.polarity = 2;
    rising.minStrength = 10;
    rising.rect = rr.get();
    cv::Mat steps = twoSteps(200, 60, 50, 130, false);
    ASSERT_TRUE(clcEdgePoint(steps, rising));
    ASSERT_EQ(rising.points.size(), 1u);
    EXPECT_NEAR(rising.points[0].x, 50, 0.5);
}

namespace {
struct Store : ::testing::Test {
    TestDir dir;
    const int W = 320, H = 240;
    cv::Mat frame(int seed)
    {
        cv::Mat f(H, W, CV_8UC1);
        cv::randu(f, seed, seed + 50);
        return f;
    }
};
} // namespace

TEST_F(Store, LoadingChecksEveryFileAndFillsAMissingBase)
{
    QDir().mkpath("cammer11");
    cv::imwrite("cammer11/template1.bmp", frame(10));
    cv::imwrite("cammer11/template2.bmp", cv::Mat(100, 100, CV_8UC1, cv::Scalar(7)));  // wrong size
    cv::Mat colour(H, W, CV_8UC3, cv::Scalar(1, 2, 3));
    cv::imwrite("cammer11/template3.bmp", colour);                                    // wrong depth
    TemplateStore s(0, 10, W, H, false);
    s.Load(0);
    EXPECT_TRUE(s.used(0, 1));
    EXPECT_FALSE(s.used(0, 2));
    EXPECT_FALSE(s.used(0, 3));
    EXPECT_EQ(s.usedCount(0), 2);
    // The base is the centre-white frame.
    EXPECT_EQ(s.slot(0, 0).at<uchar>(H / 4, W / 4), 255);
    EXPECT_EQ(s.slot(0, 0).at<uchar>(3 * H / 4, 3 * W / 4), 255);
    EXPECT_EQ(s.slot(0, 0).at<uchar>(H / 4 - 1, W / 2), 0);
    EXPECT_EQ(s.slot(0, 0).at<uchar>(H / 2, 3 * W / 4 + 1), 0);
    // Memory only for the slots in use: two frames for detection 0.
    EXPECT_EQ(s.heldBytes(), size_t(W) * H * 2);
    TemplateStore other(0, 10, W, H, false);
    other.Load(1);
    EXPECT_EQ(other.heldBytes(), size_t(W) * H);
}

TEST_F(Store, AddingResamplingAndDeleting)
{
    TemplateStore one(0, 1, W, H, false);
    one.LoadAll();
    EXPECT_EQ(one.AddTemplate(0, frame(1)).message, 1311);
    const auto re = one.SaveReTrainImage(0, frame(2));
    EXPECT_TRUE(re.ok);
    EXPECT_EQ(re.record, LanStr(139));
    EXPECT_TRUE(QFile::exists("cammer11/template0.bmp"));

    TemplateStore s(0, 3, W, H, false);
    s.LoadAll();
    auto a = s.AddTemplate(0, frame(3));
    EXPECT_EQ(a.slot, 1);
    EXPECT_EQ(a.record, LanStr(1304).arg(1));
    a = s.AddTemplate(0, frame(4));
    EXPECT_EQ(a.slot, 2);
    // Full: the oldest file other than the base is replaced.
    QFile f1("cammer11/template1.bmp"), f2("cammer11/template2.bmp");
    ASSERT_TRUE(f1.open(QIODevice::ReadWrite) && f2.open(QIODevice::ReadWrite));
    f1.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
    f2.setFileTime(QDateTime::currentDateTime().addSecs(-120), QFileDevice::FileModificationTime);
    f1.close();
    f2.close();
    cv::imwrite("cammer11/template7.bmp", frame(9));  // left from a larger slot count
    QFile f7("cammer11/template7.bmp");
    ASSERT_TRUE(f7.open(QIODevice::ReadWrite));
    f7.setFileTime(QDateTime::currentDateTime().addSecs(-500), QFileDevice::FileModificationTime);
    f7.close();
    QStringList deleted;
    s.announceDeleted = [&](int c, int d, const QString& name) { deleted << QStringLiteral("%1/%2/%3").arg(c).arg(d).arg(name); };
    a = s.AddTemplate(0, frame(5));
    EXPECT_EQ(a.slot, 2);
    EXPECT_FALSE(QFile::exists("cammer11/template7.bmp"));
    EXPECT_EQ(deleted, QStringList{"1/1/template7"});
    EXPECT_FALSE(s.GetTempTIme(0, 2).isEmpty());

    EXPECT_EQ(s.DeleteCurrent(0, 0).message, 1338);
    const auto del = s.DeleteCurrent(0, 1);
    EXPECT_TRUE(del.ok);
    EXPECT_FALSE(QFile::exists("cammer11/template1.bmp"));
    EXPECT_EQ(s.usedCount(0), 2);
    s.DeleteAll();
    EXPECT_EQ(s.usedCount(0), 1);
    EXPECT_TRUE(QFile::exists("cammer11/template0.bmp"));
    EXPECT_FALSE(QFile::exists("cammer11/template2.bmp"));
}

TEST_F(Store, IgnorePointsFollowTheAlarmAndRespectTheLimit)
{
    TemplateStore s(0, 3, W, H, false);
    s.LoadAll();
    cv::Mat alarm = cv::Mat::zeros(H, W, CV_8UC1);
    alarm(cv::Rect(10, 10, 5, 5)).setTo(255);
    auto o = s.IgnoreAlarmPoints(0, {{30, {cv::Rect(8, 8, 20, 20)}}, {2500, {cv::Rect(100, 100, 10, 10)}}}, alarm);
    EXPECT_EQ(o.message, 1310);
    EXPECT_EQ(o.args, QStringList{"2000"});
    EXPECT_EQ(cv::countNonZero(s.ignore(0)), 25);
    TemplateStore again(0, 3, W, H, false);
    again.LoadAll();
    EXPECT_EQ(cv::countNonZero(again.ignore(0)), 25);
    // A detection without ignore points holds no image for them.
    EXPECT_TRUE(s.ignore(1).empty());
    const TemplateStore::Outcome deleted = s.DeleteIgnorePoints(0);
    EXPECT_TRUE(deleted.ok);
    EXPECT_EQ(deleted.record, LanStr(1343).arg(1));
    EXPECT_FALSE(QFile::exists(s.ignorePath(0)));
    again.LoadAll();
    EXPECT_EQ(cv::countNonZero(again.ignore(0)), 0);
    EXPECT_TRUE(again.ignore(0).empty());
    // Ignore points after a deletion start from a clear image.
    s.IgnoreAlarmPoints(0, {{30, {cv::Rect(8, 8, 20, 20)}}}, alarm);
    EXPECT_EQ(cv::countNonZero(s.ignore(0)), 25);
}

TEST_F(Store, DetectionsWithoutABaseShareOneStandIn)
{
    TemplateStore s(0, 3, W, H, false), t(1, 3, W, H, false);
    s.LoadAll();
    t.LoadAll();
    ASSERT_TRUE(s.baseIsSynthetic(2) && t.baseIsSynthetic(5));
    EXPECT_EQ(s.slot(2, 0).data, t.slot(5, 0).data) << "each detection held its own copy";
    // A base of its own replaces the stand-in, which stays as it was for the others.
    cv::Mat frame(H, W, CV_8UC1, cv::Scalar(77));
    ASSERT_TRUE(s.SaveReTrainImage(2, frame).ok);
    EXPECT_EQ(cv::countNonZero(s.slot(2, 0) != 77), 0);
    EXPECT_EQ(t.slot(5, 0).at<uchar>(H / 2, W / 2), 255);
    EXPECT_EQ(t.slot(5, 0).at<uchar>(0, 0), 0);
}

TEST_F(Store, BmpFilesAreReadAlikeByOpenCvQtAndOtherWriters)
{
    TemplateStore s(0, 3, W, H, false);
    s.LoadAll();
    const cv::Mat f = frame(20);
    ASSERT_TRUE(s.SaveReTrainImage(0, f).ok);
    QImage q("cammer11/template0.bmp");
    ASSERT_FALSE(q.isNull());
    EXPECT_EQ(q.depth(), 8);
    q = q.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < H; y += 37)
        for (int x = 0; x < W; x += 29)
            ASSERT_EQ(q.pixelColor(x, y).red(), f.at<uchar>(y, x));
    const cv::Mat back = cv::imread("cammer11/template0.bmp", cv::IMREAD_UNCHANGED);
    EXPECT_EQ(cv::norm(back, f, cv::NORM_INF), 0);

    // Written by Qt.
    QImage qt(W, H, QImage::Format_Grayscale8);
    qt.fill(77);
    ASSERT_TRUE(qt.save("cammer11/template1.bmp"));
    // Written by ImageMagick as an 8-bit indexed grey BMP.
    const QString convert = QStandardPaths::findExecutable("convert");
    ASSERT_FALSE(convert.isEmpty()) << "ImageMagick's convert is needed (./station.sh deps)";
    ASSERT_EQ(QProcess::execute(convert, {"-size", QStringLiteral("%1x%2").arg(W).arg(H), "gradient:black-white",
                                          "-type", "Palette", "-compress", "None", "BMP3:cammer11/template2.bmp"}),
              0);
    s.Load(0);
    EXPECT_TRUE(s.used(0, 1));
    EXPECT_EQ(s.slot(0, 1).at<uchar>(5, 5), 77);
    ASSERT_TRUE(s.used(0, 2));
    const QImage im = QImage("cammer11/template2.bmp").convertToFormat(QImage::Format_Grayscale8);
    for (int y : {0, H / 2, H - 1})
        EXPECT_EQ(s.slot(0, 2).at<uchar>(y, 7), im.pixelColor(7, y).red()) << y;
    EXPECT_LT(s.slot(0, 2).at<uchar>(0, 7), s.slot(0, 2).at<uchar>(H - 1, 7));
}

namespace {
struct Engine : ::testing::Test {
    TestDir dir;
    WizardPara wp;
    void SetUp() override
    {
        wp.detect_enable[0] = 1;
        wp.enable_correct = 0;
        wp.match_angle = 5;
        wp.location_adge = 40;
        wp.difference_multiplier = 1;
        wp.enable_defect_detect = 1;
    }
};

bool judgedNg(GrayMatch& m, const cv::Mat& crop)
{
    cv::Mat diff;
    m.Match(crop, diff);
    CBlobResult blobs(diff, nullptr, 0);
    for (int i = 0; i < blobs.GetNumBlobs(); ++i)
        if (blobs.GetBlob(i).Area() > 30)
            return true;
    return false;
}
} // namespace

TEST_F(Engine, MotionCorrectionBringsAMovedPartBack)
{
    const cv::Mat photoFull = photo("aloeL.jpg");
    const cv::Mat base = photoFull(cv::Rect(200, 200, 800, 600)).clone();
    SetImageBounds(base.cols, base.rows);
    TemplateStore store(0, 5, base.cols, base.rows, false);
    store.LoadAll();
    ASSERT_TRUE(store.SaveReTrainImage(0, base).ok);
    cv::Mat t1;
    base.convertTo(t1, -1, 1.03, 0);
    store.AddTemplate(0, t1);

    CammerSingleton para(0);
    const int r = para.AddRect(0, {300, 220}, {520, 400}, wp);
    ASSERT_EQ(r, 0);
    CammerRecong engine(&para, &store, &wp);
    ASSERT_TRUE(engine.shape[0].IsValid());
    ASSERT_TRUE(engine.diff[0][0].IsValid());

    // The part moved by (12, -7) and turned by 3 degrees about the reference.
    const cv::Point2d p0 = engine.reference[0] + cv::Point2d(200, 200);
    const double a = 3.0 * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const cv::Point2d t = p0 + cv::Point2d(12, -7);
    const cv::Mat m = (cv::Mat_<double>(2, 3) << c, s, t.x - (c * p0.x + s * p0.y), -s, c, t.y - (-s * p0.x + c * p0.y));
    cv::Mat moved;
    cv::warpAffine(photoFull, moved, m, photoFull.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    const cv::Mat frame = moved(cv::Rect(200, 200, 800, 600)).clone();

    const cv::Rect rc = para.rects[0][0].rect();
    EXPECT_TRUE(judgedNg(engine.diff[0][0], GrownCrop(frame, rc, kDiffMargin)));
    cv::Mat corrected;
    ASSERT_TRUE(engine.ShapeMatch(0, frame, corrected));
    EXPECT_NEAR(engine.lastShift[0].x, 12, 0.5);
    EXPECT_NEAR(engine.lastShift[0].y, -7, 0.5);
    EXPECT_NEAR(engine.lastAngle[0], 3, 0.5);
    EXPECT_FALSE(judgedNg(engine.diff[0][0], GrownCrop(corrected, rc, kDiffMargin)));

    // Correction off: the frame is judged as it comes.
    wp.enable_correct = -1;
    engine.CreateShape(0);
    EXPECT_FALSE(engine.ShapeMatch(0, frame, corrected));
}

TEST_F(Engine, DistanceReferencesAndIgnoreAreas)
{
    const int W = 320, H = 240;
    SetImageBounds(W, H);
    TemplateStore store(0, 3, W, H, false);
    store.LoadAll();
    cv::Mat base(H, W, CV_8UC1, cv::Scalar(40));
    base(cv::Rect(100, 0, 60, H)).setTo(200);
    store.SaveReTrainImage(0, base);
    CammerSingleton para(0);
    WizardPara dist = wp;
    dist.enable_defect_detect = 0;
    dist.enable_distance = 1;
    para.AddRect(0, {50, 100}, {250, 140}, dist);   // across both edges
    para.AddRect(0, {10, 10}, {60, 50}, dist);      // on flat ground: no edge
    para.roi[0][0].sensibility = para.roi[0][1].sensibility = 20;
    para.roi[0][0].min_size = para.roi[0][1].min_size = 0;
    para.AddRect(0, {200, 200}, {230, 230}, dist);
    para.roi[0][2].algorithm = FuncIgnore;
    CammerRecong engine(&para, &store, &dist);
    EXPECT_EQ(engine.dist[0][0].mode, 2);
    EXPECT_NEAR(engine.dist[0][0].score, 60, 1.0);
    EXPECT_EQ(engine.dist[0][1].mode, 0);  // no reference: judged NG every time
    EXPECT_EQ(engine.detectMask[0].at<uchar>(210, 210), 0);
    EXPECT_EQ(engine.detectMask[0].at<uchar>(100, 100), 255);
}

TEST_F(Store, OperationsLeaveTheirRecordLines)
{
    TemplateStore s(1, 3, W, H, false);
    s.LoadAll();
    s.AddTemplate(0, frame(1));
    s.DeleteCurrent(0, 1);
    s.DeleteIgnorePoints(0);
    EXPECT_EQ(recordRemarks(), (QStringList{LanStr(1304).arg(2), LanStr(1302).arg(2).arg(1), LanStr(1343).arg(2)}));
}

TEST_F(Store, ColourTemplatesAre32BitAndLoadBack)
{
    TemplateStore s(0, 3, W, H, true);
    s.LoadAll();
    cv::Mat colour(H, W, CV_8UC4);
    cv::randu(colour, 0, 255);
    colour.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    ASSERT_TRUE(s.SaveReTrainImage(0, colour).ok);
    QImage q("cammer11/template0.bmp");
    EXPECT_EQ(q.depth(), 32);
    TemplateStore again(0, 3, W, H, true);
    again.Load(0);
    ASSERT_TRUE(again.used(0, 0));
    ASSERT_EQ(again.slot(0, 0).channels(), 4);
    cv::Mat diff;
    cv::absdiff(again.slot(0, 0), colour, diff);
    EXPECT_EQ(cv::countNonZero(diff.reshape(1)), 0);
    // A grey store does not take a colour file, and the other way round.
    TemplateStore grey(0, 3, W, H, false);
    grey.Load(0);
    EXPECT_EQ(grey.slot(0, 0).channels(), 1);
    EXPECT_EQ(grey.slot(0, 0).at<uchar>(H / 2, W / 2), 255);  // the centre-white stand-in
}
