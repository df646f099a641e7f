#include "Similarity.h"

#include "ImageLib.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr float kFlat = 2.0f;  // below this standard deviation a crop has no texture
}

bool SURF::Create(int width, int height, const cv::Mat& mask)
{
    Clear();
    m_index.clear();
    const cv::Mat m = RegionMask(width, height, mask);
    if (m.empty())
        return false;
    m_w = width;
    m_h = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (m.at<uchar>(y, x))
                m_index.push_back(y * width + x);
    return !m_index.empty();
}

SURF::Pattern SURF::normalise(const cv::Mat& crop) const
{
    Pattern p;
    p.z.resize(m_index.size());
    const bool cont = crop.isContinuous();
    cv::Mat c = cont ? crop : crop.clone();
    const uchar* d = c.ptr<uchar>(0);
    double sum = 0, sum2 = 0;
    for (int i : m_index) {
        sum += d[i];
        sum2 += double(d[i]) * d[i];
    }
    const double n = double(m_index.size());
    p.mean = float(sum / n);
    p.sd = float(std::sqrt(std::max(0.0, sum2 / n - double(p.mean) * p.mean)));
    const float inv = p.sd > kFlat ? 1.0f / p.sd : 0.0f;
    for (size_t k = 0; k < m_index.size(); ++k)
        p.z[k] = (float(d[m_index[k]]) - p.mean) * inv;
    return p;
}

bool SURF::AddTemp(const cv::Mat& crop, int, int, int)
{
    if (crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1 || m_index.empty())
        return false;
    m_temps.push_back(normalise(crop));
    m_trained = false;
    return true;
}

bool SURF::Train(int, int, int, int)
{
    m_trained = !m_temps.empty();
    return m_trained;
}

float SURF::Match(const cv::Mat& crop, cv::Mat& out) const
{
    if (!m_trained || crop.cols != m_w || crop.rows != m_h || crop.type() != CV_8UC1)
        return 0.0f;
    const Pattern c = normalise(crop);
    const double n = double(m_index.size());
    float best = 0.0f;
    size_t bestIndex = 0;
    for (size_t t = 0; t < m_temps.size(); ++t) {
        const Pattern& p = m_temps[t];
        float score;
        if (p.sd <= kFlat || c.sd <= kFlat) {
            score = (p.sd <= kFlat && c.sd <= kFlat) ? std::max(0.0f, 100.0f - std::fabs(p.mean - c.mean)) : 0.0f;
        } else {
            double dot = 0;
            for (size_t k = 0; k < p.z.size(); ++k)
                dot += double(p.z[k]) * c.z[k];
            score = float(std::clamp(dot / n, 0.0, 1.0) * 100.0);
        }
        if (score > best) {
            best = score;
            bestIndex = t;
        }
    }
    if (out.rows != m_h || out.cols != m_w || out.type() != CV_8UC1 || !out.isContinuous())
        out = cv::Mat::zeros(m_h, m_w, CV_8UC1);
    if (!m_temps.empty()) {
        const Pattern& p = m_temps[bestIndex];
        uchar* o = out.ptr<uchar>(0);
        for (size_t k = 0; k < m_index.size(); ++k)
            o[m_index[k]] = std::fabs(p.z[k] - c.z[k]) > 2.0f ? 255 : 0;
    }
    return best;
}

void SURF::Clear()
{
    m_trained = false;
    m_temps.clear();
}
