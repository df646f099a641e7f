#pragma once
// One-dimensional edge measurement along a rotated rectangle: the strip under
// the rectangle is rectified, averaged across, differentiated along the
// measuring direction, and its edges picked.
#include <opencv2/core.hpp>
#include <vector>

struct RotateRectROI {
    double cx = 0, cy = 0;  // centre in the image
    float angle = 0;        // degrees
    float width = 0;        // along the measuring direction
    float height = 0;       // across it
};

struct _EdgePointDetParam {
    int scanDirection = 0;      // 0 from the strip's start, other from its end
    int polarity = 0;           // 0 any, 1 falling only, other rising only
    int relativeThreshold = 1;  // percent-like share of the strongest edge
    int smoothWindow = 5;       // moving average length; <= 1 none
    int minStrength = 0;        // weaker strengths are zeroed
    double strongest = 0;       // result
    std::vector<cv::Point2d> points;  // result: image points
    cv::Mat strip;              // work: the rectified strip
    std::vector<double> profile;  // work: edge strength per column
    RotateRectROI* rect = nullptr;
    bool found = false;
};

// Centre (x + w/2, y + h/2) with integer halving; flag 0: angle 0, sizes as
// given; otherwise angle 90 with width and height exchanged. The caller owns
// the result.
RotateRectROI* Rect2RotateRect(const cv::Rect& r, int flag);
// Corners (-w/2,-h/2), (+w/2,-h/2), (+w/2,+h/2), (-w/2,+h/2), turned and moved to the centre.
void getCornerPoints(const RotateRectROI* r, std::vector<cv::Point2f>& corners);
float DistP2P(const cv::Point2d& a, const cv::Point2d& b);
// True when at least one edge was found.
bool clcEdgePoint(cv::Mat& image, _EdgePointDetParam& p);
