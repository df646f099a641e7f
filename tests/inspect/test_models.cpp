#include "FindShape.h"
#include "GrayMatch.h"
#include "ImageLib.h"
#include "Photos.h"
#include "Similarity.h"
#include "Variants.h"

#include <opencv2/imgproc.hpp>
#include <gtest/gtest.h>
#include <random>

namespace {

cv::Mat variant(const cv::Mat& src, std::mt19937& rng, double shift = 1.0, double gain = 0.05, double noise = 3.0)
{
    return seenAgain(src, rng, shift, gain, noise);
}

int largestBlob(const cv::Mat& diff, cv::Rect* box = nullptr)
{
    CBlobResult blobs(diff, nullptr, 0);
    int best = 0;
    for (int i = 0; i < blobs.GetNumBlobs(); ++i)
        if (blobs.GetBlob(i).Area() > best) {
            best = int(blobs.GetBlob(i).Area());
            if (box)
                *box = blobs.GetBlob(i).GetBoundingBox();
        }
    return best;
}

struct Part : ::testing::Test {
    cv::Mat full = photo("fruits.jpg");
    // The region: 400 x 300 of the photograph, away from its borders.
    cv::Rect roi{56, 90, 400, 300};
    cv::Mat part = full(roi).clone();
    std::mt19937 rng{7};
    // The part seen again through the camera: the whole view moves, so the
    // region's borders show picture, not fill.
    cv::Mat seen(double shift = 1.0, double gain = 0.05, double noise = 3.0)
    {
        return variant(full, rng, shift, gain, noise)(roi).clone();
    }
};

} // namespace

TEST_F(Part, DifferenceModelPassesACleanPartAndFindsA6x6Blemish)
{
    cv::theRNG().state = 1234;
    GrayMatch model;
    ASSERT_TRUE(model.Create(part.cols, part.rows, cv::Mat(), 0));
    for (int t = 0; t < 5; ++t)
        ASSERT_TRUE(model.AddTemp(seen()));
    ASSERT_FALSE(model.IsValid());
    ASSERT_TRUE(model.Train(45, 1, 100, 150));

    for (int k = 0; k < 5; ++k) {
        const cv::Mat clean = seen();
        cv::Mat diff = cv::Mat::zeros(part.size(), CV_8UC1);
        model.Match(clean, diff);
        EXPECT_LE(largestBlob(diff), 4) << "clean frame " << k;
    }

    // Blemishes on the part's plain surfaces, darker and brighter: every
    // 6 x 6 spot whose surroundings are smooth, on a coarse grid.
    std::vector<cv::Point> spots;
    for (int y = 10; y + 16 < part.rows; y += 25)
        for (int x = 10; x + 16 < part.cols; x += 25) {
            cv::Scalar mean, sd;
            cv::meanStdDev(part(cv::Rect(x - 5, y - 5, 16, 16)), mean, sd);
            // and room for the change: 40 levels either way stay within 0..255
            if (sd[0] < 4.0 && mean[0] > 50 && mean[0] < 205)
                spots.emplace_back(x, y);
        }
    ASSERT_GE(spots.size(), 6u);
    for (cv::Point at : spots)
        for (int delta : {-40, 40}) {
            cv::Mat frame = seen();
            cv::Mat blemish = frame(cv::Rect(at, cv::Size(6, 6)));
            blemish.convertTo(blemish, -1, 1.0, delta);
            cv::Mat diff = cv::Mat::zeros(part.size(), CV_8UC1);
            model.Match(frame, diff);
            cv::Rect box;
            const int area = largestBlob(diff, &box);
            EXPECT_GE(area, 20) << "blemish " << delta << " at " << at;
            EXPECT_TRUE((box & cv::Rect(at, cv::Size(6, 6))).area() > 0) << "blob not on the blemish at " << at;
        }
}

TEST_F(Part, DifferenceModelLooksOnlyInsideTheMask)
{
    cv::Mat mask = cv::Mat::zeros(part.size(), CV_8UC1);
    mask(cv::Rect(0, 0, 200, 300)).setTo(255);
    GrayMatch model;
    ASSERT_TRUE(model.Create(part.cols, part.rows, mask));
    model.AddTemp(part);
    model.Train(45, 1);
    cv::Mat frame = part.clone();
    frame(cv::Rect(300, 100, 20, 20)).setTo(0);    // outside the mask
    frame(cv::Rect(50, 100, 10, 10)).setTo(255);   // inside
    cv::Mat diff;
    EXPECT_GT(model.Match(frame, diff), 0);
    EXPECT_EQ(cv::countNonZero(diff(cv::Rect(200, 0, 200, 300))), 0);
    EXPECT_GT(cv::countNonZero(diff(cv::Rect(50, 100, 10, 10))), 50);
    model.Clear();
    EXPECT_FALSE(model.IsValid());
    EXPECT_EQ(model.Match(frame, diff), -1);
}

TEST_F(Part, SimilarityIgnoresBrightnessAndTellsPartsApart)
{
    SURF model;
    ASSERT_TRUE(model.Create(part.cols, part.rows, cv::Mat()));
    for (int t = 0; t < 3; ++t)
        model.AddTemp(seen(), 1, 50, 80);
    ASSERT_TRUE(model.Train());
    cv::Mat out;
    EXPECT_GT(model.Match(seen(1.0, 0.0, 3.0), out), 90.0f);
    cv::Mat brighter;
    part.convertTo(brighter, -1, 1.10, 0);
    EXPECT_GT(model.Match(brighter, out), 90.0f);
    cv::Mat darker;
    part.convertTo(darker, -1, 0.90, 0);
    EXPECT_GT(model.Match(darker, out), 90.0f);
    const cv::Mat other = photo("building.jpg")(cv::Rect(200, 150, 400, 300)).clone();
    EXPECT_LT(model.Match(other, out), 50.0f);
    const cv::Mat shiftedView = full(roi + cv::Point(40, 60)).clone();
    EXPECT_LT(model.Match(shiftedView, out), 50.0f);

    SURF exact;
    exact.Create(part.cols, part.rows, cv::Mat());
    exact.AddTemp(part);
    exact.Train();
    EXPECT_FLOAT_EQ(exact.Match(part, out), 100.0f);
}

namespace {
struct Pose {
    double dx, dy, angle;
};

// The photograph with its content around p0 turned by angle and moved by (dx, dy).
cv::Mat displaced(const cv::Mat& img, cv::Point2d p0, const Pose& pose)
{
    const double a = pose.angle * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const cv::Point2d t = p0 + cv::Point2d(pose.dx, pose.dy);
    const cv::Mat m = (cv::Mat_<double>(2, 3) << c, s, t.x - (c * p0.x + s * p0.y), -s, c, t.y - (-s * p0.x + c * p0.y));
    cv::Mat out;
    cv::warpAffine(img, out, m, img.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    return out;
}
} // namespace

TEST(PositionModel, FindsShiftsAndTurnsBelowHalfAPixelAndHalfADegree)
{
    const cv::Mat img = photo("aloeL.jpg");
    const cv::Rect window(141, 155, 1000, 800);
    const cv::Rect modelRect(300, 250, 400, 300);  // inside the window
    const cv::Point2d ref(200, 150);               // model centre
    const cv::Point2d refInWindow = cv::Point2d(modelRect.tl()) + ref;

    FindShape model;
    ASSERT_TRUE(model.CreateShape(img(window)(modelRect).clone(), 0.0, 0, 15.0, ref.x, ref.y, false, 255, cv::Mat(), 3, 0));
    ASSERT_TRUE(model.IsValid());
    EXPECT_GE(model.levels(), 3);

    const Pose poses[] = {{0, 0, 0}, {7.3, 12.6, -4.4}, {-15.2, 8.8, 11.0}, {3.5, -20.25, 14.5}, {40.4, 31.7, -13.2}};
    for (const Pose& p : poses) {
        const cv::Mat search = displaced(img, cv::Point2d(window.tl()) + refInWindow, p)(window).clone();
        double x = 0, y = 0, angle = 0, score = 0;
        ASSERT_TRUE(model.Find(search, 0, x, y, angle, score)) << p.dx << " " << p.dy << " " << p.angle;
        EXPECT_NEAR(x, refInWindow.x + p.dx, 0.5) << "angle " << p.angle;
        EXPECT_NEAR(y, refInWindow.y + p.dy, 0.5) << "angle " << p.angle;
        EXPECT_NEAR(angle, p.angle, 0.5);
        EXPECT_GT(score, 0.6);

        // Moving the frame back puts the part where it was trained.
        cv::Mat back;
        TransformImage(search, back, refInWindow, cv::Point2d(x, y) - refInWindow, angle);
        cv::Mat err;
        cv::absdiff(back(modelRect), img(window)(modelRect), err);
        EXPECT_LT(cv::mean(err)[0], 12.0) << "angle " << p.angle;
    }

    // Another photograph holds no such part.
    double x, y, angle, score;
    cv::Mat other;
    cv::resize(photo("fruits.jpg"), other, window.size());
    EXPECT_FALSE(model.Find(other, 0, x, y, angle, score));
    model.Clear();
    EXPECT_FALSE(model.IsValid());
}

TEST(PositionModel, RefusesAFeaturelessModel)
{
    FindShape model;
    EXPECT_FALSE(model.CreateShape(cv::Mat(100, 100, CV_8UC1, cv::Scalar(128)), 0, 0, 10, 50, 50, false, 255,
                                   cv::Mat(), 0, 0));
    EXPECT_FALSE(model.IsValid());
}

namespace {
// The defect function's judgement of a difference image: opening with a
// 3 x 3 ellipse, NG above 20 pixels; the boxes of what remains.
bool defectNg(const cv::Mat& diff, std::vector<cv::Rect>* boxes = nullptr)
{
    cv::Mat opened;
    cv::morphologyEx(diff, opened, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, {3, 3}));
    CBlobResult blobs(opened, nullptr, 0);
    int area = 0;
    for (int i = 0; i < blobs.GetNumBlobs(); ++i) {
        area += int(blobs.GetBlob(i).Area());
        if (boxes)
            boxes->push_back(blobs.GetBlob(i).GetBoundingBox());
    }
    return area > 20;
}

struct Scene {
    CameraView view;
    cv::Rect region, grown;
    GrayMatch model;
    explicit Scene(const char* name, int templates, std::mt19937& rng, const std::vector<cv::Mat>& extra = {})
        : view(photo(name))
    {
        region = cv::Rect(12, 12, view.size().width - 24, view.size().height - 24);
        grown = cv::Rect(region.x - 2, region.y - 2, region.width + 4, region.height + 4);
        model.Create(region.width, region.height, cv::Mat(), 2);
        for (int t = 0; t < templates; ++t)
            model.AddTemp(view.frame(rng, Lighting())(grown).clone());
        for (const cv::Mat& e : extra)
            model.AddTemp(e(grown).clone());
        model.Train(45, 1);
    }
    bool ng(const cv::Mat& frame, std::vector<cv::Rect>* boxes = nullptr)
    {
        cv::Mat diff;
        EXPECT_GE(model.Match(frame(grown).clone(), diff), 0);
        return defectNg(diff, boxes);
    }
};
} // namespace

// Fine texture seen again below a pixel away, with drifting light: no false
// alarm, and blemishes of 8..16 pixels with 40 grey levels are found.
TEST(DifferenceModel, TexturedPhotographsPassCleanAndShowBlemishes)
{
    std::mt19937 rng(5);
    Lighting drift;
    drift.gain = 0.15;
    drift.offset = 10;
    int frames = 0, falseAlarms = 0, blemishes = 0, found = 0;
    for (const char* name : {"baboon.jpg", "board.jpg", "graf1.png"}) {
        Scene s(name, 5, rng);
        for (int i = 0; i < 40; ++i) {
            const Lighting l = i % 2 ? drift : Lighting();
            ++frames;
            falseAlarms += s.ng(s.view.frame(rng, l)) ? 1 : 0;
            cv::Mat f = s.view.frame(rng, l);
            const int d = 8 + int(rng() % 9);
            const cv::Point at(s.region.x + d + int(rng() % unsigned(s.region.width - 2 * d)),
                               s.region.y + d + int(rng() % unsigned(s.region.height - 2 * d)));
            addBlemish(f, at, d, (i % 4 < 2 ? 40 : -40));
            std::vector<cv::Rect> boxes;
            ++blemishes;
            if (s.ng(f, &boxes))
                for (const cv::Rect& b : boxes)
                    if (((b + s.region.tl()) & cv::Rect(at.x - d / 2, at.y - d / 2, d + 1, d + 1)).area() > 0) {
                        ++found;
                        break;
                    }
        }
    }
    EXPECT_EQ(falseAlarms, 0) << "of " << frames;
    EXPECT_GE(found * 100, blemishes * 95) << found << " of " << blemishes;
}

TEST(DifferenceModel, OneBadTemplateIsNotLearnt)
{
    std::mt19937 rng(9);
    CameraView view(photo("fruits.jpg"));
    const cv::Point at(120, 100);
    cv::Mat bad = view.frame(rng, Lighting());
    addBlemish(bad, at, 12, -60);
    Scene s("fruits.jpg", 4, rng, {bad});
    EXPECT_FALSE(s.ng(view.frame(rng, Lighting())));
    cv::Mat f = view.frame(rng, Lighting());
    addBlemish(f, at, 12, -60);
    EXPECT_TRUE(s.ng(f)) << "the blemish of one template was taken for good";
}

TEST(Similarity, SmoothPlasticUnderNoiseAndAShiftScoresHigh)
{
    // A smooth part: a gentle gradient with sensor noise of 2 grey levels.
    std::mt19937 rng(3);
    cv::Mat smooth(160, 200, CV_32F);
    for (int y = 0; y < smooth.rows; ++y)
        for (int x = 0; x < smooth.cols; ++x)
            smooth.at<float>(y, x) = 110.0f + 0.05f * x;
    auto noisy = [&](int dx, int dy) {
        cv::Mat n(smooth.size(), CV_32F), f, out;
        cv::randn(n, 0, 2.0);
        cv::Mat moved;
        MoveImage(smooth, moved, dx, dy, true);
        f = moved + n;
        f.convertTo(out, CV_8U);
        return out(cv::Rect(20, 20, 160, 120)).clone();
    };
    SURF model;
    ASSERT_TRUE(model.Create(160, 120, cv::Mat()));
    model.AddTemp(noisy(0, 0));
    ASSERT_TRUE(model.Train());
    cv::Mat out;
    for (cv::Point d : {cv::Point(0, 0), cv::Point(1, 0), cv::Point(2, -1), cv::Point(-2, 2)})
        EXPECT_GT(model.Match(noisy(d.x, d.y), out), 90.0f) << d;
    // A textured part shifted by two pixels is still itself; a dark blob is not.
    const cv::Mat tex = photo("baboon.jpg");
    SURF t;
    t.Create(200, 150, cv::Mat());
    t.AddTemp(tex(cv::Rect(150, 150, 200, 150)).clone());
    t.Train();
    EXPECT_GT(t.Match(tex(cv::Rect(152, 149, 200, 150)).clone(), out), 90.0f);
    cv::Mat spoiled = tex(cv::Rect(150, 150, 200, 150)).clone();
    spoiled(cv::Rect(40, 30, 120, 90)).setTo(20);
    EXPECT_LT(t.Match(spoiled, out), 70.0f);
}

TEST(PositionModel, EitherPolarityLowContrastAndTheLeastMatch)
{
    // A dark cross on a bright plate; on another machine the part is brighter.
    cv::Mat plate(300, 400, CV_8UC1, cv::Scalar(180));
    cv::rectangle(plate, cv::Rect(150, 100, 100, 30), cv::Scalar(60), cv::FILLED);
    cv::rectangle(plate, cv::Rect(185, 60, 30, 110), cv::Scalar(60), cv::FILLED);
    cv::circle(plate, {120, 200}, 15, cv::Scalar(60), cv::FILLED);
    const cv::Rect modelRect(80, 40, 200, 200);
    cv::Mat inverted = 240 - plate;
    double x, y, angle, score;
    FindShape same, either;
    ASSERT_TRUE(same.CreateShape(plate(modelRect).clone(), 0, 0, 5, 100, 100, false, 255, cv::Mat(), 3));
    ASSERT_TRUE(either.CreateShape(plate(modelRect).clone(), 0, 1, 5, 100, 100, false, 255, cv::Mat(), 3));
    EXPECT_TRUE(same.Find(plate, 0, x, y, angle, score));
    EXPECT_FALSE(same.Find(inverted, 0, x, y, angle, score));
    ASSERT_TRUE(either.Find(inverted, 0, x, y, angle, score));
    EXPECT_NEAR(x, 180, 0.5);
    EXPECT_NEAR(y, 140, 0.5);

    // Six grey levels of contrast still make a model, and it is found.
    cv::Mat dim(300, 400, CV_8UC1, cv::Scalar(100));
    cv::rectangle(dim, cv::Rect(150, 100, 100, 30), cv::Scalar(94), cv::FILLED);
    cv::rectangle(dim, cv::Rect(185, 60, 30, 110), cv::Scalar(94), cv::FILLED);
    FindShape faint;
    ASSERT_TRUE(faint.CreateShape(dim(modelRect).clone(), 0, 0, 5, 100, 100, false, 255, cv::Mat(), 3));
    ASSERT_TRUE(faint.Find(dim, 0, x, y, angle, score));
    EXPECT_NEAR(x, 180, 0.5);

    EXPECT_DOUBLE_EQ(FindShape::minScoreOf(0), 0.5);
    EXPECT_DOUBLE_EQ(FindShape::minScoreOf(10), 0.4);
    EXPECT_DOUBLE_EQ(FindShape::minScoreOf(70), 0.7);
    EXPECT_DOUBLE_EQ(FindShape::minScoreOf(200), 0.95);
}
