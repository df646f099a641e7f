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
