#include "Similarity.h"

#include "ImageLib.h"

#include <algorithm>
#include <cmath>

bool SURF::Create(int width, int height, const cv::Mat& mask)
{
    Clear();
    m_at.clear();
    const cv::Mat m = RegionMask(width, height, mask);
    if (m.empty())
        return false;
    m_w = width;
    m_h = height;
    m_reach = (width > 4 * kShift && height > 4 * kShift) ? kShift : 0;
    for (int y = m_reach; y < height - m_reach; ++y)
        for (int x = m_reach; x < width - m_reach; ++x)
            if (m.at<uchar>(y, x))
                m_at.emplace_back(x, y);
    if (m_at.empty() && m_reach > 0) {
        // A mask that lies only along the border: compare it in place.
        m_reach = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (m.at<uchar>(y, x))
                    m_at.emplace_back(x, y);
    }
    return !m_at.empty();
}

bool SURF::AddTemp(const cv::Mat& crop, int, int, int)
{
    if (crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1 || m_at.empty())
        return false;
    Pattern p;
    p.v.reserve(m_at.size());
    double s = 0, ss = 0;
    for (const cv::Point& q : m_at) {
        const double v = crop.at<uchar>(q.y, q.x);
        p.v.push_back(float(v));
        s += v;
        ss += v * v;
    }
    const double n = double(m_at.size());
    p.mean = s / n;
    p.var = std::max(0.0, ss / n - p.mean * p.mean);
    m_temps.push_back(std::move(p));
    m_trained = false;
    return true;
}

bool SURF::Train(int, int, int, int)
{
    m_trained = !m_temps.empty();
    return m_trained;
}

double SURF::score(const Pattern& t, const cv::Mat& crop, int dx, int dy) const
{
    double s = 0, ss = 0, st = 0;
    for (size_t i = 0; i < m_at.size(); ++i) {
        const double c = crop.at<uchar>(m_at[i].y + dy, m_at[i].x + dx);
        s += c;
        ss += c * c;
        st += c * t.v[i];
    }
    const double n = double(m_at.size());
    const double mean = s / n;
    const double var = std::max(0.0, ss / n - mean * mean);
    const double cov = st / n - mean * t.mean;
    return (2.0 * cov + kNoiseVar) / (t.var + var + kNoiseVar);
}

float SURF::Match(const cv::Mat& crop, cv::Mat& out) const
{
    if (!m_trained || crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1)
        return 0.0f;
    // The shift: climb from no shift to the best neighbour on the base template.
    const Pattern& base = m_temps.front();
    cv::Point at(0, 0);
    double best = score(base, crop, 0, 0);
    for (bool moved = true; moved && m_reach > 0;) {
        moved = false;
        cv::Point next = at;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const cv::Point q(at.x + dx, at.y + dy);
                if ((!dx && !dy) || std::abs(q.x) > m_reach || std::abs(q.y) > m_reach)
                    continue;
                const double sc = score(base, crop, q.x, q.y);
                if (sc > best + 1e-9) {
                    best = sc;
                    next = q;
                    moved = true;
                }
            }
        at = next;
    }
    size_t bestIndex = 0;
    for (size_t t = 1; t < m_temps.size(); ++t) {
        const double sc = score(m_temps[t], crop, at.x, at.y);
        if (sc > best) {
            best = sc;
            bestIndex = t;
        }
    }

    if (out.rows != m_h || out.cols != m_w || out.type() != CV_8UC1)
        out.create(m_h, m_w, CV_8UC1);
    out.setTo(0);
    const Pattern& p = m_temps[bestIndex];
    double s = 0;
    for (const cv::Point& q : m_at)
        s += crop.at<uchar>(q.y + at.y, q.x + at.x);
    const double mean = s / double(m_at.size());
    const double allow = 3.0 * std::sqrt(kNoiseVar + p.var);
    for (size_t i = 0; i < m_at.size(); ++i) {
        const double c = crop.at<uchar>(m_at[i].y + at.y, m_at[i].x + at.x) - mean;
        if (std::fabs(c - (p.v[i] - p.mean)) > allow)
            out.at<uchar>(m_at[i].y, m_at[i].x) = 255;
    }
    return float(std::clamp(best, 0.0, 1.0) * 100.0);
}

void SURF::Clear()
{
    m_trained = false;
    m_temps.clear();
}
