#include "ImageLib.h"

#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> boundW{1}, boundH{1};

// The cycle judges on the GUI thread, one frame at a time; OpenCV's own
// worker pool would only compete with the camera and IO threads for the
// panel's cores, so the library runs OpenCV sequentially.
const bool sequential = [] {
    cv::setNumThreads(0);
    return true;
}();
} // namespace

void RGBA2Gray(unsigned char* dst, const unsigned char* rgba, int width, int height)
{
    const cv::Mat src(height, width, CV_8UC4, const_cast<unsigned char*>(rgba));
    cv::Mat out(height, width, CV_8UC1, dst);
    cv::cvtColor(src, out, cv::COLOR_BGRA2GRAY);
}

void RGBA2Hue(unsigned char* dst, const unsigned char* rgba, int width, int height)
{
    const cv::Mat src(height, width, CV_8UC4, const_cast<unsigned char*>(rgba));
    cv::Mat bgr, hsv;
    cv::cvtColor(src, bgr, cv::COLOR_BGRA2BGR);
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV_FULL);  // hue over 0..255
    cv::Mat out(height, width, CV_8UC1, dst);
    cv::Mat hue;
    cv::extractChannel(hsv, hue, 0);
    cv::Mat sat;
    cv::extractChannel(hsv, sat, 1);
    hue.setTo(0, sat == 0);
    hue.copyTo(out);
}

void Gray2RGBA(const unsigned char* gray, unsigned char* rgba, int width, int height)
{
    const cv::Mat src(height, width, CV_8UC1, const_cast<unsigned char*>(gray));
    cv::Mat out(height, width, CV_8UC4, rgba);
    cv::cvtColor(src, out, cv::COLOR_GRAY2BGRA);
}

void RGB2RGBA(const unsigned char* rgb, unsigned char* rgba, int width, int height)
{
    const cv::Mat src(height, width, CV_8UC3, const_cast<unsigned char*>(rgb));
    cv::Mat out(height, width, CV_8UC4, rgba);
    cv::cvtColor(src, out, cv::COLOR_BGR2BGRA);
}

void DxContrast(const unsigned char* raw, unsigned char* dst, int length, int factor)
{
    unsigned char lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = static_cast<unsigned char>(std::clamp(128 + (i - 128) * (100 + factor) / 100, 0, 255));
    for (int i = 0; i < length; ++i)
        dst[i] = lut[raw[i]];
}

void MoveImage(const cv::Mat& src, cv::Mat& dst, double dx, double dy, bool replicate)
{
    const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::warpAffine(src, dst, m, src.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   replicate ? cv::BORDER_REPLICATE : cv::BORDER_CONSTANT, 0);
}

cv::Mat GrownCrop(const cv::Mat& img, const cv::Rect& rect, int margin)
{
    const cv::Rect grown(rect.x - margin, rect.y - margin, rect.width + 2 * margin, rect.height + 2 * margin);
    const cv::Rect inside = grown & cv::Rect(0, 0, img.cols, img.rows);
    if (inside == grown)
        return img(grown);
    if (inside.empty())
        return {};
    cv::Mat out;
    cv::copyMakeBorder(img(inside), out, inside.y - grown.y, grown.br().y - inside.br().y, inside.x - grown.x,
                       grown.br().x - inside.br().x, cv::BORDER_REPLICATE);
    return out;
}

void TransformImage(const cv::Mat& src, cv::Mat& dst, cv::Point2d reference, cv::Point2d offset, double angle,
                    bool replicate)
{
    // Forward: p' = R(angle) (p - ref) + ref + offset. Sampling dst(p) = src(p')
    // puts the displaced part back where it was trained.
    const double a = angle * CV_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    // Image y points down: a counter-clockwise turn in view is (c, s; -s, c).
    const cv::Point2d t = reference + offset;
    const cv::Mat m = (cv::Mat_<double>(2, 3) << c, s, t.x - c * reference.x - s * reference.y,
                       -s, c, t.y + s * reference.x - c * reference.y);
    cv::warpAffine(src, dst, m, src.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   replicate ? cv::BORDER_REPLICATE : cv::BORDER_CONSTANT, 0);
}

void SetImageBounds(int width, int height)
{
    boundW = std::max(1, width);
    boundH = std::max(1, height);
}

void CheckInRange(int& value, int axis)
{
    const int hi = (axis == 1 ? boundW.load() : boundH.load()) - 1;
    value = std::clamp(value, 0, hi);
}

void CheckInRange(int& left, int& top, int& right, int& bottom)
{
    CheckInRange(left, 1);
    CheckInRange(right, 1);
    CheckInRange(top, 0);
    CheckInRange(bottom, 0);
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
}

cv::Mat RegionMask(int width, int height, const cv::Mat& mask)
{
    if (width <= 0 || height <= 0)
        return {};
    if (mask.empty())
        return cv::Mat(height, width, CV_8UC1, cv::Scalar(255));
    if (mask.cols != width || mask.rows != height || mask.type() != CV_8UC1)
        return {};
    return mask.clone();
}

CBlobResult::CBlobResult(const cv::Mat& image, const cv::Mat* mask, unsigned char background)
{
    if (image.empty())
        return;
    cv::Mat fg = image != background;
    if (mask && !mask->empty())
        fg &= (*mask != 0);
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(fg, labels, stats, centroids, 8, CV_32S);
    m_blobs.reserve(size_t(std::max(0, n - 1)));
    for (int i = 1; i < n; ++i) {
        const int* s = stats.ptr<int>(i);
        m_blobs.emplace_back(s[cv::CC_STAT_AREA],
                             cv::Rect(s[cv::CC_STAT_LEFT], s[cv::CC_STAT_TOP], s[cv::CC_STAT_WIDTH], s[cv::CC_STAT_HEIGHT]));
    }
}

CBlob CBlobResult::GetBlob(int index) const
{
    if (index < 0 || index >= int(m_blobs.size()))
        return {};
    return m_blobs[size_t(index)];
}
