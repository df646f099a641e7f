#pragma once
// The same part seen again through a camera: the whole view moved below a
// pixel, brightness changed by a few percent, sensor noise.
#include "ImageLib.h"

#include <opencv2/core.hpp>
#include <random>

inline cv::Mat seenAgain(const cv::Mat& view, std::mt19937& rng, double shift = 1.0, double gain = 0.05,
                         double noise = 3.0)
{
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    cv::Mat moved, f;
    MoveImage(view, moved, u(rng) * shift, u(rng) * shift);
    moved.convertTo(f, CV_32F, 1.0 + u(rng) * gain);
    cv::Mat n(f.size(), CV_32F);
    cv::randn(n, 0, noise);
    f += n;
    cv::Mat out;
    f.convertTo(out, CV_8U);
    return out;
}
