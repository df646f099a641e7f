#pragma once
// The difference model the station had before: a min/max envelope of the
// templates over each pixel's 3 x 3 neighbourhood, brightness matched by the
// mean alone. Kept here as the baseline the current model is measured against.
#include "ImageLib.h"

#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <cmath>

class EnvelopeMatch {
public:
    // width, height of the region crop; mask (255 inside, same size, may be empty = all).
    bool Create(int width, int height, const cv::Mat& mask, int reserved = 0);
    // Adds one template crop (8-bit, width x height).
    bool AddTemp(const cv::Mat& crop);
    // sensitivity 0..99, amplify ("Amplify", 0..4), spreadPercent (100), cap (150).
    bool Train(int sensitivity, int amplify, int spreadPercent = 100, int cap = 150);
    // out: 8-bit, 255 where the crop differs, else 0 (allocated when needed).
    // Returns the number of differing pixels, -1 when not trained or sizes differ.
    int Match(const cv::Mat& crop, cv::Mat& out) const;
    void Clear();
    bool IsValid() const { return m_trained; }

    int templateCount() const { return m_count; }
    const cv::Mat& lower() const { return m_lo; }
    const cv::Mat& upper() const { return m_hi; }

private:
    // Scale (x 256) that brings crop's masked mean to the reference mean.
    int gainOf(const cv::Mat& crop) const;

    int m_w = 0, m_h = 0;
    int m_count = 0;
    bool m_trained = false;
    double m_refMean = 0;
    bool m_fullMask = true;
    cv::Mat m_mask, m_min, m_max, m_lo, m_hi;
};

namespace envelope_detail {
// Gains are in 1/128: small enough that value x gain fits 16 bits, so the
// per-pixel work vectorises.
constexpr int kUnit = 128;
constexpr int kGainMin = 109;  // 0.85
constexpr int kGainMax = 147;  // 1.15

// out = min(255, round(in * gain / 128)).
inline void scaled(const cv::Mat& in, int gain, cv::Mat& out)
{
    out.create(in.size(), CV_8UC1);
    const uint16_t g = uint16_t(gain);
    const int w = in.cols;
    for (int y = 0; y < in.rows; ++y) {
        const uchar* s = in.ptr<uchar>(y);
        uchar* d = out.ptr<uchar>(y);
        for (int x = 0; x < w; ++x) {
            const uint16_t v = uint16_t(uint16_t(s[x] * g + 64) >> 7);
            d[x] = uchar(v > 255 ? 255 : v);
        }
    }
}
} // namespace envelope_detail
using namespace envelope_detail;

inline bool EnvelopeMatch::Create(int width, int height, const cv::Mat& mask, int)
{
    Clear();
    m_mask = RegionMask(width, height, mask);
    if (m_mask.empty())
        return false;
    m_w = width;
    m_h = height;
    m_fullMask = cv::countNonZero(m_mask) == width * height;
    return true;
}

inline int EnvelopeMatch::gainOf(const cv::Mat& crop) const
{
    const double mean = m_fullMask ? cv::mean(crop)[0] : cv::mean(crop, m_mask)[0];
    if (mean < 1.0 || m_refMean < 1.0)
        return kUnit;
    return std::clamp(int(std::lround(kUnit * m_refMean / mean)), kGainMin, kGainMax);
}

inline bool EnvelopeMatch::AddTemp(const cv::Mat& crop)
{
    if (crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1 || m_mask.empty())
        return false;
    if (m_count == 0) {
        m_refMean = m_fullMask ? cv::mean(crop)[0] : cv::mean(crop, m_mask)[0];
        m_min = crop.clone();
        m_max = crop.clone();
    } else {
        cv::Mat s;
        scaled(crop, gainOf(crop), s);
        cv::min(m_min, s, m_min);
        cv::max(m_max, s, m_max);
    }
    ++m_count;
    m_trained = false;
    return true;
}

inline bool EnvelopeMatch::Train(int sensitivity, int amplify, int spreadPercent, int cap)
{
    if (m_count == 0)
        return false;
    const float base = std::max(1.0f, (100.0f - float(std::clamp(sensitivity, 0, 99))) / 5.0f);
    const float gain = float(std::max(0, spreadPercent)) / 100.0f * (1.0f + float(std::clamp(amplify, 0, 4))) / 8.0f;
    const float limit = float(std::clamp(cap, 1, 255));
    // What a shift of up to one pixel can bring to a pixel: its 3 x 3 neighbourhood.
    cv::Mat nmin, nmax;
    cv::erode(m_min, nmin, cv::Mat(), cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    cv::dilate(m_max, nmax, cv::Mat(), cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    m_lo.create(m_h, m_w, CV_8UC1);
    m_hi.create(m_h, m_w, CV_8UC1);
    for (int y = 0; y < m_h; ++y) {
        const uchar* mn = m_min.ptr<uchar>(y);
        const uchar* mx = m_max.ptr<uchar>(y);
        const uchar* nmn = nmin.ptr<uchar>(y);
        const uchar* nmx = nmax.ptr<uchar>(y);
        const uchar* mk = m_mask.ptr<uchar>(y);
        uchar* lo = m_lo.ptr<uchar>(y);
        uchar* hi = m_hi.ptr<uchar>(y);
        for (int x = 0; x < m_w; ++x) {
            if (!mk[x]) {  // outside the region: never a difference
                lo[x] = 0;
                hi[x] = 255;
                continue;
            }
            const float tol = std::min(limit, base + float(mx[x] - mn[x]) * gain);
            lo[x] = uchar(std::max(0.0f, float(nmn[x]) - tol));
            hi[x] = uchar(std::min(255.0f, float(nmx[x]) + tol));
        }
    }
    m_trained = true;
    return true;
}

inline int EnvelopeMatch::Match(const cv::Mat& crop, cv::Mat& out) const
{
    if (!m_trained || crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1)
        return -1;
    const uint16_t g = uint16_t(gainOf(crop));
    out.create(m_h, m_w, CV_8UC1);
    const int w = m_w;  // a local bound lets the loop vectorise
    for (int y = 0; y < m_h; ++y) {
        const uchar* c = crop.ptr<uchar>(y);
        const uchar* lo = m_lo.ptr<uchar>(y);
        const uchar* hi = m_hi.ptr<uchar>(y);
        uchar* o = out.ptr<uchar>(y);
        for (int x = 0; x < w; ++x) {
            uint16_t v = uint16_t(uint16_t(c[x] * g + 64) >> 7);
            v = v > 255 ? 255 : v;
            o[x] = (v < lo[x]) | (v > hi[x]) ? 255 : 0;
        }
    }
    return cv::countNonZero(out);
}

inline void EnvelopeMatch::Clear()
{
    m_count = 0;
    m_trained = false;
    m_refMean = 0;
    m_min.release();
    m_max.release();
    m_lo.release();
    m_hi.release();
}
