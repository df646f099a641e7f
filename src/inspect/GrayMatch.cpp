#include "GrayMatch.h"

#include <algorithm>

bool GrayMatch::Create(int width, int height, const cv::Mat& mask, int)
{
    Clear();
    if (width <= 0 || height <= 0)
        return false;
    m_w = width;
    m_h = height;
    if (!mask.empty() && (mask.cols != width || mask.rows != height || mask.type() != CV_8UC1))
        return false;
    m_mask = mask.empty() ? cv::Mat(height, width, CV_8UC1, cv::Scalar(255)) : mask.clone();
    return true;
}

bool GrayMatch::AddTemp(const cv::Mat& crop)
{
    if (crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1)
        return false;
    if (m_count == 0) {
        m_min = crop.clone();
        m_max = crop.clone();
    } else {
        cv::min(m_min, crop, m_min);
        cv::max(m_max, crop, m_max);
    }
    ++m_count;
    m_trained = false;
    return true;
}

bool GrayMatch::Train(int sensitivity, int amplify, int spreadPercent, int cap)
{
    if (m_count == 0)
        return false;
    const float base = std::max(1.0f, (100.0f - float(std::clamp(sensitivity, 0, 99))) / 4.0f);
    const float gain = float(std::max(0, spreadPercent)) / 100.0f * (1.0f + float(std::clamp(amplify, 0, 4))) / 2.0f;
    const float limit = float(std::clamp(cap, 1, 255));
    m_lo.create(m_h, m_w, CV_8UC1);
    m_hi.create(m_h, m_w, CV_8UC1);
    for (int y = 0; y < m_h; ++y) {
        const uchar* mn = m_min.ptr<uchar>(y);
        const uchar* mx = m_max.ptr<uchar>(y);
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
            lo[x] = uchar(std::max(0.0f, float(mn[x]) - tol));
            hi[x] = uchar(std::min(255.0f, float(mx[x]) + tol));
        }
    }
    m_trained = true;
    return true;
}

int GrayMatch::Match(const cv::Mat& crop, cv::Mat& out) const
{
    if (!m_trained || crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1)
        return -1;
    out.create(m_h, m_w, CV_8UC1);
    int count = 0;
    for (int y = 0; y < m_h; ++y) {
        const uchar* c = crop.ptr<uchar>(y);
        const uchar* lo = m_lo.ptr<uchar>(y);
        const uchar* hi = m_hi.ptr<uchar>(y);
        uchar* o = out.ptr<uchar>(y);
        int rowCount = 0;
        for (int x = 0; x < m_w; ++x) {
            const uchar d = uchar(-int(c[x] < lo[x] || c[x] > hi[x]));  // 255 or 0, branch-free
            o[x] = d;
            rowCount += d & 1;
        }
        count += rowCount;
    }
    return count;
}

void GrayMatch::Clear()
{
    m_count = 0;
    m_trained = false;
    m_min.release();
    m_max.release();
    m_lo.release();
    m_hi.release();
}
