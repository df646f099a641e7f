#pragma once
// Region shapes of the editor and the inspection: a rectangle, a circle or
// ring, and a polygon. Each knows its inclusive image rectangle (left, top,
// right, bottom), builds a mask the size of that rectangle (255 inside), and
// answers hit tests for the editor. Coordinates are image pixels.
#include <opencv2/core.hpp>
#include <vector>

class RegionShape {
public:
    RegionShape() = default;
    // Every copy owns its mask: cv::Mat would otherwise share the pixels, and
    // editing one region would rewrite the mask of another.
    RegionShape(const RegionShape& o) : m_selected(o.m_selected), m_rect(o.m_rect), m_mask(o.m_mask.clone()) {}
    RegionShape& operator=(const RegionShape& o)
    {
        if (this != &o) {
            m_selected = o.m_selected;
            m_rect = o.m_rect;
            m_mask = o.m_mask.clone();
        }
        return *this;
    }
    virtual ~RegionShape() = default;
    // Draws the outline (and the handles when selected) onto a colour image.
    virtual void Draw(cv::Mat& canvas, const cv::Scalar& colour, int thickness = 1) const = 0;
    // Rebuilds the mask from the geometry.
    virtual void UpdateMask() = 0;
    // Recomputes the inclusive image rectangle from the geometry, clipped to the image.
    virtual void setImageRect() = 0;
    virtual bool Contains(cv::Point p) const = 0;
    // Index of the handle under p (within tolerance), or -1.
    virtual int PtInCtrl(cv::Point p, int tolerance = 6) const = 0;
    // Moves handle index to p.
    virtual void Resize(int handle, cv::Point p) = 0;

    void SetSelected(bool s) { m_selected = s; }
    bool IsSelected() const { return m_selected; }
    // Inclusive rectangle as stored: left, top, right, bottom.
    cv::Vec4i imageRect() const { return m_rect; }
    // The same as a cv::Rect (right and bottom included).
    cv::Rect rect() const { return {m_rect[0], m_rect[1], m_rect[2] - m_rect[0] + 1, m_rect[3] - m_rect[1] + 1}; }
    const cv::Mat& mask() const { return m_mask; }
    // A mask the inspection can use: the size of the rectangle, something inside.
    bool maskUsable() const;

protected:
    void fillMask(const std::vector<std::vector<cv::Point>>& polys);
    bool m_selected = false;
    cv::Vec4i m_rect{0, 0, 0, 0};
    cv::Mat m_mask;
};

class ClustomRect : public RegionShape {
public:
    void set(cv::Point a, cv::Point b) { p1 = a; p2 = b; }
    void Draw(cv::Mat& canvas, const cv::Scalar& colour, int thickness = 1) const override;
    void UpdateMask() override;
    void setImageRect() override;
    bool Contains(cv::Point p) const override;
    int PtInCtrl(cv::Point p, int tolerance = 6) const override;
    void Resize(int handle, cv::Point p) override;
    cv::Point p1, p2;
};

class Circle : public RegionShape {
public:
    // inner 0: a full circle; otherwise a ring between inner and outer.
    void set(cv::Point c, int outerRadius, int innerRadius) { centre = c; outer = outerRadius; inner = innerRadius; }
    void Draw(cv::Mat& canvas, const cv::Scalar& colour, int thickness = 1) const override;
    void UpdateMask() override;
    void setImageRect() override;
    bool Contains(cv::Point p) const override;
    int PtInCtrl(cv::Point p, int tolerance = 6) const override;
    void Resize(int handle, cv::Point p) override;
    cv::Point centre;
    int outer = 0;
    int inner = 0;
};

class RePolygon : public RegionShape {
public:
    static constexpr int kMaxPoints = 8096;
    void set(const std::vector<cv::Point>& pts) { points = pts; }
    void Draw(cv::Mat& canvas, const cv::Scalar& colour, int thickness = 1) const override;
    void UpdateMask() override;
    void setImageRect() override;
    bool Contains(cv::Point p) const override;
    int PtInCtrl(cv::Point p, int tolerance = 6) const override;
    void Resize(int handle, cv::Point p) override;
    std::vector<cv::Point> points;
};
