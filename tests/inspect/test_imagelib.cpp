#include "ImageLib.h"
#include "Shapes.h"

#include <opencv2/imgproc.hpp>
#include <gtest/gtest.h>

TEST(Converters, GreyHueDisplayAndContrast)
{
    // B, G, R, A
    const unsigned char px[8] = {0, 0, 255, 255, 0, 255, 0, 255};
    unsigned char grey[2], hue[2], rgba[8];
    RGBA2Gray(grey, px, 2, 1);
    EXPECT_NEAR(grey[0], 76, 1);   // red
    EXPECT_NEAR(grey[1], 150, 1);  // green
    RGBA2Hue(hue, px, 2, 1);
    EXPECT_EQ(hue[0], 0);
    EXPECT_NEAR(hue[1], 85, 1);    // a third of the way round
    Gray2RGBA(grey, rgba, 2, 1);
    EXPECT_EQ(rgba[0], grey[0]);
    EXPECT_EQ(rgba[2], grey[0]);
    EXPECT_EQ(rgba[3], 255);
    const unsigned char rgb[3] = {1, 2, 3};
    RGB2RGBA(rgb, rgba, 1, 1);
    EXPECT_EQ((std::vector<int>{rgba[0], rgba[1], rgba[2], rgba[3]}), (std::vector<int>{1, 2, 3, 255}));
    const unsigned char raw[3] = {0, 128, 200};
    unsigned char out[3];
    DxContrast(raw, out, 3, 50);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 128);
    EXPECT_EQ(out[2], 236);
}

TEST(RangeAndBlobs, ClipsPerAxisAndLabelsEightConnected)
{
    SetImageBounds(640, 480);
    int x = 700, y = -3;
    CheckInRange(x, 1);
    CheckInRange(y, 0);
    EXPECT_EQ(x, 639);
    EXPECT_EQ(y, 0);
    int l = 600, t = 500, r = -20, b = 10;
    CheckInRange(l, t, r, b);
    EXPECT_EQ((std::vector<int>{l, t, r, b}), (std::vector<int>{0, 10, 600, 479}));

    cv::Mat img = cv::Mat::zeros(50, 50, CV_8UC1);
    img(cv::Rect(2, 2, 3, 3)).setTo(255);
    img.at<uchar>(5, 5) = 9;  // diagonal neighbour joins the first blob
    img(cv::Rect(20, 30, 10, 4)).setTo(1);
    CBlobResult blobs(img, nullptr, 0);
    ASSERT_EQ(blobs.GetNumBlobs(), 2);
    EXPECT_EQ(blobs.GetBlob(0).Area(), 10);
    EXPECT_EQ(blobs.GetBlob(0).GetBoundingBox(), cv::Rect(2, 2, 4, 4));
    EXPECT_EQ(blobs.GetBlob(1).GetBoundingBox(), cv::Rect(20, 30, 10, 4));
    EXPECT_EQ(blobs.GetBlob(5).Area(), 0);
    EXPECT_EQ(CBlobResult(cv::Mat(), nullptr, 0).GetNumBlobs(), 0);
}

TEST(ShapesAndMasks, RectangleRingAndPolygon)
{
    SetImageBounds(640, 480);
    ClustomRect rect;
    rect.set({50, 40}, {100, 80});
    rect.UpdateMask();
    EXPECT_EQ(rect.imageRect(), cv::Vec4i(50, 40, 100, 80));
    EXPECT_EQ(rect.mask().size(), cv::Size(51, 41));
    EXPECT_EQ(cv::countNonZero(rect.mask()), 51 * 41);
    EXPECT_TRUE(rect.Contains({100, 80}));
    EXPECT_EQ(rect.PtInCtrl({101, 79}), 2);
    rect.Resize(2, {120, 90});
    EXPECT_EQ(rect.imageRect(), cv::Vec4i(50, 40, 120, 90));

    Circle ring;
    ring.set({320, 240}, 30, 20);
    ring.UpdateMask();
    EXPECT_EQ(ring.imageRect(), cv::Vec4i(290, 210, 350, 270));
    EXPECT_EQ(ring.mask().at<uchar>(30, 30), 0);    // the hole
    EXPECT_EQ(ring.mask().at<uchar>(30, 55), 255);  // on the ring
    EXPECT_EQ(ring.mask().at<uchar>(0, 0), 0);
    EXPECT_FALSE(ring.Contains({320, 240}));
    EXPECT_TRUE(ring.Contains({345, 240}));
    Circle disc;
    disc.set({5, 5}, 10, 0);  // partly outside the image: clipped
    disc.UpdateMask();
    EXPECT_EQ(disc.imageRect(), cv::Vec4i(0, 0, 15, 15));
    EXPECT_EQ(disc.mask().at<uchar>(0, 0), 255);

    RePolygon tri;
    tri.set({{10, 10}, {110, 10}, {10, 110}});
    tri.UpdateMask();
    EXPECT_EQ(tri.imageRect(), cv::Vec4i(10, 10, 110, 110));
    EXPECT_TRUE(tri.Contains({20, 20}));
    EXPECT_FALSE(tri.Contains({100, 100}));
    EXPECT_EQ(tri.mask().at<uchar>(90, 90), 0);
    EXPECT_EQ(tri.mask().at<uchar>(5, 5), 255);
    tri.SetSelected(true);
    EXPECT_TRUE(tri.IsSelected());
    cv::Mat canvas = cv::Mat::zeros(480, 640, CV_8UC3);
    tri.Draw(canvas, cv::Scalar(0, 255, 0));
    EXPECT_GT(cv::countNonZero(canvas.reshape(1)), 100);
}

TEST(Moving, MoveImageShiftsWithZeroFill)
{
    cv::Mat img = cv::Mat::zeros(20, 20, CV_8UC1);
    img.at<uchar>(5, 5) = 200;
    cv::Mat out;
    MoveImage(img, out, -3, 2);  // found 3 left and 2 down of where it belongs
    EXPECT_EQ(out.at<uchar>(3, 8), 200);
    EXPECT_EQ(out.at<uchar>(5, 5), 0);
}
