#pragma once
// The same part seen again through a camera: the whole view moved below a
// pixel, brightness changed by a few percent, sensor noise.
#include "ImageLib.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
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

// A camera looking at a scene: the scene is sampled at twice the camera's
// resolution, so a shift below the pixel changes what each sensor pixel
// integrates (as optics do) instead of interpolating camera pixels.
struct Lighting {
    double shift = 1.0;   // up to this many camera pixels in x and y
    double gain = 0.05;   // brightness factor 1 +- gain
    double offset = 3.0;  // plus +- offset grey levels
    double noise = 3.0;   // sensor noise, standard deviation
};

class CameraView {
public:
    explicit CameraView(const cv::Mat& scene) { scene.convertTo(m_scene, CV_32F); }
    cv::Size size() const { return {m_scene.cols / 2, m_scene.rows / 2}; }

    cv::Mat frame(std::mt19937& rng, const Lighting& l) const
    {
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        const double dx = 2 * u(rng) * l.shift, dy = 2 * u(rng) * l.shift;
        const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
        cv::Mat moved, small;
        cv::warpAffine(m_scene, moved, m, m_scene.size(), cv::INTER_CUBIC | cv::WARP_INVERSE_MAP, cv::BORDER_REFLECT);
        cv::resize(moved, small, size(), 0, 0, cv::INTER_AREA);
        small = small * (1.0 + u(rng) * l.gain) + u(rng) * l.offset;
        cv::Mat n(small.size(), CV_32F);
        cv::randn(n, 0, l.noise);
        small += n;
        cv::Mat out;
        small.convertTo(out, CV_8U);
        return out;
    }

private:
    cv::Mat m_scene;
};

// A round blemish: delta added inside a disc of the given diameter.
inline void addBlemish(cv::Mat& frame, cv::Point centre, int diameter, int delta)
{
    cv::Mat disc = cv::Mat::zeros(frame.size(), CV_8UC1);
    cv::circle(disc, centre, diameter / 2, cv::Scalar(255), cv::FILLED, cv::LINE_8);
    cv::Mat moved;
    frame.convertTo(moved, CV_16S);
    cv::add(moved, cv::Scalar(delta), moved, disc);
    moved.convertTo(frame, CV_8U);
}
