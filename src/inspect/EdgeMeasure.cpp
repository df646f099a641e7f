#include "EdgeMeasure.h"

#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <cmath>

RotateRectROI* Rect2RotateRect(const cv::Rect& r, int flag)
{
    auto* rr = new RotateRectROI;
    rr->cx = r.x + r.width / 2;
    rr->cy = r.y + r.height / 2;
    if (flag == 0) {
        rr->angle = 0.0f;
        rr->width = float(r.width);
        rr->height = float(r.height);
    } else {
        rr->angle = 90.0f;
        rr->width = float(r.height);
        rr->height = float(r.width);
    }
    return rr;
}

void getCornerPoints(const RotateRectROI* r, std::vector<cv::Point2f>& corners)
{
    const double a = r->angle * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
    const double hw = r->width / 2.0, hh = r->height / 2.0;
    const double local[4][2] = {{-hw, -hh}, {hw, -hh}, {hw, hh}, {-hw, hh}};
    corners.resize(4);
    for (int i = 0; i < 4; ++i)
        corners[size_t(i)] = cv::Point2f(float(local[i][0] * c - local[i][1] * s + r->cx),
                                         float(local[i][0] * s + local[i][1] * c + r->cy));
}

float DistP2P(const cv::Point2d& a, const cv::Point2d& b) { return float(std::hypot(a.x - b.x, a.y - b.y)); }

bool clcEdgePoint(cv::Mat& image, _EdgePointDetParam& p)
{
    p.found = false;
    const RotateRectROI* r = p.rect;
    if (!r || r->width < 1 || r->height < 1 || image.empty())
        return false;
    const int w = int(r->width), h = int(r->height);
    std::vector<cv::Point2f> corners;
    getCornerPoints(r, corners);
    const cv::Point2f dst[4] = {{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}};
    const cv::Mat m = cv::getPerspectiveTransform(corners.data(), dst);
    cv::warpPerspective(image, p.strip, m, cv::Size(w, h), cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    if (p.strip.channels() == 3)
        cv::cvtColor(p.strip, p.strip, cv::COLOR_BGR2GRAY);
    else if (p.strip.channels() == 4)
        cv::cvtColor(p.strip, p.strip, cv::COLOR_BGRA2GRAY);

    // Column profile and strength along the scan direction.
    std::vector<double> prof(size_t(w), 0.0);
    for (int x = 0; x < w; ++x)
        prof[size_t(x)] = cv::mean(p.strip.col(x))[0];
    std::vector<double> s(size_t(w), 0.0);
    for (int j = 0; j < w; ++j) {
        double d;
        if (p.scanDirection == 0)
            d = j == 0 ? 0.0 : prof[size_t(j)] - prof[size_t(j - 1)];
        else
            d = j == w - 1 ? 0.0 : prof[size_t(j)] - prof[size_t(j + 1)];
        if (p.polarity == 0)
            d = std::fabs(d);
        else if (p.polarity == 1)
            d = d < 0 ? -d : 0.0;
        else
            d = d > 0 ? d : 0.0;
        s[size_t(j)] = d < p.minStrength ? 0.0 : d;
    }
    // Centred moving average, shortened at the ends.
    const int win = p.smoothWindow;
    if (win > 1) {
        const int off = win - win / 2 - 1;
        std::vector<double> sm(size_t(w), 0.0);
        for (int j = 0; j < w; ++j) {
            double sum = 0;
            int n = 0;
            for (int k = j - off; k < j - off + win; ++k)
                if (k >= 0 && k < w) {
                    sum += s[size_t(k)];
                    ++n;
                }
            sm[size_t(j)] = n ? sum / n : 0.0;
        }
        s.swap(sm);
    }
    p.profile = s;
    p.strongest = w ? *std::max_element(s.begin(), s.end()) : 0.0;
    const double t = p.relativeThreshold * p.strongest / 100.5;

    // Peak picking along the scan direction, keeping the first and the latest edge.
    std::vector<double> edges;
    auto keep = [&edges](double u, bool atFall) {
        if (atFall && edges.size() >= 2)
            edges[1] = u;
        else
            edges.push_back(u);
    };
    const bool forward = p.scanDirection == 0;
    int first = -1, last = -1;
    bool rising = false;
    for (int n = 0; n < w; ++n) {
        const int j = forward ? n : w - 1 - n;
        const int next = forward ? j + 1 : j - 1;
        const double v = s[size_t(j)];
        if (v <= t) {
            first = last = -1;
            rising = false;
            continue;
        }
        // Climbing over the threshold is a rise too: a sharp step smoothed
        // by the window is a plateau that starts right there.
        const int prev = forward ? j - 1 : j + 1;
        if (n == 0 || s[size_t(prev)] <= t)
            rising = true;
        if (n == w - 1) {  // the last column above the threshold is an edge at once
            keep(j, false);
            break;
        }
        const double nv = s[size_t(next)];
        if (nv > v) {
            rising = true;
            first = last = -1;
        } else if (nv == v) {
            if (first < 0)
                first = j;
            last = next;
        } else {
            if (rising) {
                const int a = first >= 0 ? first : j;
                const int b = first >= 0 ? last : j;
                keep((a + b) * 0.5, true);
            }
            rising = false;
            first = last = -1;
        }
    }
    const double a = r->angle * CV_PI / 180.0, c = std::cos(a), sn = std::sin(a);
    p.points.clear();
    for (double u : edges)
        p.points.emplace_back(r->cx + (u - w / 2.0) * c, r->cy + (u - w / 2.0) * sn);
    p.found = !p.points.empty();
    return p.found;
}
