#include "Shapes.h"

#include "ImageLib.h"

#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <cmath>

namespace {
// A fresh buffer every time: assigning cv::Mat::zeros to a matrix of the same
// size would write into the pixels it may share.
cv::Mat freshMask(cv::Size size, uchar value) { return cv::Mat(size, CV_8UC1, cv::Scalar(value)); }

bool near(cv::Point a, cv::Point b, int tol) { return std::abs(a.x - b.x) <= tol && std::abs(a.y - b.y) <= tol; }

cv::Vec4i clipped(int l, int t, int r, int b)
{
    CheckInRange(l, t, r, b);
    return {l, t, r, b};
}
} // namespace

bool RegionShape::maskUsable() const
{
    return !m_mask.empty() && m_mask.type() == CV_8UC1 && m_mask.size() == rect().size() && cv::countNonZero(m_mask) > 0;
}

void RegionShape::fillMask(const std::vector<std::vector<cv::Point>>& polys)
{
    const cv::Rect r = rect();
    m_mask = freshMask(r.size(), 0);
    std::vector<std::vector<cv::Point>> local = polys;
    for (auto& poly : local)
        for (auto& p : poly)
            p -= r.tl();
    cv::fillPoly(m_mask, local, cv::Scalar(255));
}

// --- rectangle --------------------------------------------------------------
void ClustomRect::setImageRect()
{
    m_rect = clipped(std::min(p1.x, p2.x), std::min(p1.y, p2.y), std::max(p1.x, p2.x), std::max(p1.y, p2.y));
}

void ClustomRect::UpdateMask()
{
    setImageRect();
    // Only what the rectangle covers inside the image: one drawn beyond the
    // border is clipped to a line there that it does not cover.
    const cv::Rect r = rect();
    const cv::Rect drawn(cv::Point(std::min(p1.x, p2.x), std::min(p1.y, p2.y)),
                         cv::Point(std::max(p1.x, p2.x) + 1, std::max(p1.y, p2.y) + 1));
    m_mask = freshMask(r.size(), 0);
    const cv::Rect covered = drawn & r;
    if (!covered.empty())
        m_mask(covered - r.tl()).setTo(255);
}

void ClustomRect::Draw(cv::Mat& canvas, const cv::Scalar& colour, int thickness) const
{
    cv::rectangle(canvas, rect(), colour, thickness);
    if (m_selected)
        for (cv::Point h : {p1, p2, cv::Point(p1.x, p2.y), cv::Point(p2.x, p1.y)})
            cv::rectangle(canvas, cv::Rect(h.x - 3, h.y - 3, 7, 7), colour, cv::FILLED);
}

bool ClustomRect::Contains(cv::Point p) const
{
    return p.x >= std::min(p1.x, p2.x) && p.x <= std::max(p1.x, p2.x) && p.y >= std::min(p1.y, p2.y) &&
           p.y <= std::max(p1.y, p2.y);
}

int ClustomRect::PtInCtrl(cv::Point p, int tol) const
{
    const cv::Point h[4] = {p1, cv::Point(p2.x, p1.y), p2, cv::Point(p1.x, p2.y)};
    for (int i = 0; i < 4; ++i)
        if (near(p, h[i], tol))
            return i;
    return -1;
}

void ClustomRect::Resize(int handle, cv::Point p)
{
    switch (handle) {
    case 0: p1 = p; break;
    case 1: p2.x = p.x; p1.y = p.y; break;
    case 2: p2 = p; break;
    case 3: p1.x = p.x; p2.y = p.y; break;
    default: return;
    }
    UpdateMask();
}

// --- circle and ring -------------------------------------------------------------
void Circle::setImageRect()
{
    m_rect = clipped(centre.x - outer, centre.y - outer, centre.x + outer, centre.y + outer);
}

void Circle::UpdateMask()
{
    setImageRect();
    const cv::Rect r = rect();
    m_mask = freshMask(r.size(), 0);
    const cv::Point c = centre - r.tl();
    cv::circle(m_mask, c, outer, cv::Scalar(255), cv::FILLED);
    if (inner > 0 && inner < outer)
        cv::circle(m_mask, c, inner, cv::Scalar(0), cv::FILLED);
}

void Circle::Draw(cv::Mat& canvas, const cv::Scalar& colour, int thickness) const
{
    cv::circle(canvas, centre, outer, colour, thickness);
    if (inner > 0)
        cv::circle(canvas, centre, inner, colour, thickness);
    if (m_selected)
        cv::rectangle(canvas, cv::Rect(centre.x + outer - 3, centre.y - 3, 7, 7), colour, cv::FILLED);
}

bool Circle::Contains(cv::Point p) const
{
    const double d = std::hypot(p.x - centre.x, p.y - centre.y);
    return d <= outer && (inner <= 0 || d >= inner);
}

int Circle::PtInCtrl(cv::Point p, int tol) const
{
    if (near(p, cv::Point(centre.x + outer, centre.y), tol))
        return 0;  // outer radius
    if (inner > 0 && near(p, cv::Point(centre.x + inner, centre.y), tol))
        return 1;  // inner radius
    return -1;
}

void Circle::Resize(int handle, cv::Point p)
{
    const int r = int(std::lround(std::hypot(p.x - centre.x, p.y - centre.y)));
    if (handle == 0)
        outer = std::max(1, r);
    else if (handle == 1)
        inner = std::clamp(r, 0, outer - 1);
    else
        return;
    UpdateMask();
}

// --- polygon --------------------------------------------------------------------
void RePolygon::setImageRect()
{
    if (points.empty()) {
        m_rect = {0, 0, 0, 0};
        return;
    }
    const cv::Rect b = cv::boundingRect(points);
    m_rect = clipped(b.x, b.y, b.x + b.width - 1, b.y + b.height - 1);
}

void RePolygon::UpdateMask()
{
    setImageRect();
    if (points.size() < 3) {
        m_mask = freshMask(rect().size(), 0);
        return;
    }
    fillMask({points});
}

void RePolygon::Draw(cv::Mat& canvas, const cv::Scalar& colour, int thickness) const
{
    if (points.empty())
        return;
    cv::polylines(canvas, points, true, colour, thickness);
    if (m_selected)
        for (cv::Point h : points)
            cv::rectangle(canvas, cv::Rect(h.x - 3, h.y - 3, 7, 7), colour, cv::FILLED);
}

bool RePolygon::Contains(cv::Point p) const
{
    return points.size() >= 3 && cv::pointPolygonTest(points, cv::Point2f(float(p.x), float(p.y)), false) >= 0;
}

int RePolygon::PtInCtrl(cv::Point p, int tol) const
{
    for (size_t i = 0; i < points.size(); ++i)
        if (near(p, points[i], tol))
            return int(i);
    return -1;
}

void RePolygon::Resize(int handle, cv::Point p)
{
    if (handle < 0 || handle >= int(points.size()))
        return;
    points[size_t(handle)] = p;
    UpdateMask();
}
