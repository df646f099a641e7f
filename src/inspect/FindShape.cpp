#include "FindShape.h"

#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <cmath>

namespace {
constexpr float kMaxEdgeFloor = 24.0f;  // no template needs stronger edges than this to count
constexpr float kMinEdgeFloor = 3.0f;   // below this, on a 3 x 3 Sobel scale, it is noise
constexpr int kMinTopPoints = 24;
constexpr int kMinTopSize = 24;
constexpr int kCandidates = 4;

double parabola(double sm, double s0, double sp)
{
    const double d = sm - 2 * s0 + sp;
    return d < 0 ? std::clamp(0.5 * (sm - sp) / d, -0.5, 0.5) : 0.0;
}

// The 90th percentile of the gradient magnitude where mask is set (or everywhere).
float strongEdge(const cv::Mat& mag, const cv::Mat& mask)
{
    std::vector<float> v;
    v.reserve(mag.total());
    for (int y = 0; y < mag.rows; ++y)
        for (int x = 0; x < mag.cols; ++x)
            if (mask.empty() || mask.at<uchar>(y, x))
                v.push_back(mag.at<float>(y, x));
    if (v.empty())
        return 0;
    const size_t k = v.size() * 9 / 10;
    std::nth_element(v.begin(), v.begin() + long(k), v.end());
    return v[k];
}
} // namespace

double FindShape::minScoreOf(int leastPercent)
{
    return leastPercent <= 0 ? 0.5 : std::clamp(leastPercent, 40, 95) / 100.0;
}

FindShape::Gradients FindShape::gradients(const cv::Mat& full, float minMag, cv::Rect area)
{
    Gradients g;
    if (area.empty())
        area = cv::Rect(0, 0, full.cols, full.rows);
    g.origin = area.tl();
    // A view keeps its neighbours outside the area for the 3 x 3 kernel.
    const cv::Mat img = full(area);
    cv::Mat gx, gy;
    cv::Sobel(img, gx, CV_32F, 1, 0, 3);
    cv::Sobel(img, gy, CV_32F, 0, 1, 3);
    g.n.create(img.size(), CV_32FC2);
    const int w = img.cols;
    for (int y = 0; y < img.rows; ++y) {
        const float* ax = gx.ptr<float>(y);
        const float* ay = gy.ptr<float>(y);
        float* n = g.n.ptr<float>(y);
        for (int x = 0; x < w; ++x) {
            const float m2 = ax[x] * ax[x] + ay[x] * ay[x];
            const float inv = m2 < minMag * minMag ? 0.0f : 1.0f / std::sqrt(m2);
            n[2 * x] = ax[x] * inv;
            n[2 * x + 1] = ay[x] * inv;
        }
    }
    return g;
}

void FindShape::rotated(const std::vector<Point>& pts, double angle, std::vector<Point>& out)
{
    const double a = angle * CV_PI / 180.0;
    const float c = float(std::cos(a)), s = float(std::sin(a));
    out.resize(pts.size());
    for (size_t i = 0; i < pts.size(); ++i) {
        const Point& p = pts[i];
        Point& o = out[i];
        o.x = c * p.x + s * p.y;
        o.y = -s * p.x + c * p.y;
        o.dx = c * p.dx + s * p.dy;
        o.dy = -s * p.dx + c * p.dy;
        o.ix = int(std::lround(o.x));
        o.iy = int(std::lround(o.y));
    }
}

double FindShape::score(const Gradients& g, const std::vector<Point>& pts, int x, int y, double floor,
                        double greed) const
{
    const int n = int(pts.size());
    const int w = g.n.cols, h = g.n.rows;
    const float* base = g.n.ptr<float>(0);
    const size_t stride = g.n.step1();
    float sum = 0;
    // Give up once the rest cannot lift the mean to the floor, or (greedy)
    // once the part seen so far falls clearly short of it.
    const float need = float(floor * n);
    const float greedFloor = float(greed * floor);
    for (int i = 0; i < n; ++i) {
        const Point& p = pts[size_t(i)];
        const int px = x - g.origin.x + p.ix, py = y - g.origin.y + p.iy;
        if (unsigned(px) < unsigned(w) && unsigned(py) < unsigned(h)) {
            const float* d = base + size_t(py) * stride + size_t(2 * px);
            const float dot = p.dx * d[0] + p.dy * d[1];
            sum += m_anyPolarity ? std::fabs(dot) : dot;
        }
        if ((i & 7) == 7) {
            const int seen = i + 1;
            if (sum + float(n - seen) < need || sum < greedFloor * float(seen) - 1.0f)
                return -1.0;
        }
    }
    return sum / float(n);
}

bool FindShape::CreateShape(const cv::Mat& model, double angleStart, int contrast, double angleRange, double refX,
                            double refY, bool, int, const cv::Mat& mask, int searchSpeed, int)
{
    Clear();
    m_anyPolarity = contrast == 1;
    if (model.empty() || model.type() != CV_8UC1)
        return false;
    if (!mask.empty() && (mask.size() != model.size() || mask.type() != CV_8UC1))
        return false;
    const int speed = std::clamp(searchSpeed, 0, 9);
    // The coarse search gives up early on poses that start badly: 0.5 for the
    // most thorough speed, up to 0.95 for the fastest.
    m_greed = 0.5 + speed * 0.05;
    m_angleStart = angleStart;
    m_angleRange = std::clamp(std::fabs(angleRange), 0.0, 180.0);
    m_modelSize = model.size();
    const size_t maxPoints = size_t(400 - speed * 30);

    cv::Mat img = model.clone();
    cv::Mat msk = mask.empty() ? cv::Mat(model.size(), CV_8UC1, cv::Scalar(255)) : mask.clone();
    double rx = refX, ry = refY;
    for (int level = 0;; ++level) {
        // Edges at the mask border are the crop's, not the part's.
        cv::Mat inner;
        cv::erode(msk, inner, cv::Mat(), cv::Point(-1, -1), 2, cv::BORDER_CONSTANT, 0);
        cv::Mat gx, gy, mag;
        cv::Sobel(img, gx, CV_32F, 1, 0, 3);
        cv::Sobel(img, gy, CV_32F, 0, 1, 3);
        cv::magnitude(gx, gy, mag);
        // An edge is strong against the template's own strong edges.
        const float strong = strongEdge(mag, inner);
        const float floorMag = std::clamp(strong / 4.0f, kMinEdgeFloor, kMaxEdgeFloor);
        // Candidates: local maxima of the magnitude, strongest first, spread on a grid.
        struct Cand { float m; int x, y; };
        std::vector<Cand> cands;
        for (int y = 1; y < img.rows - 1; ++y)
            for (int x = 1; x < img.cols - 1; ++x) {
                const float m = mag.at<float>(y, x);
                if (m < floorMag || !inner.at<uchar>(y, x))
                    continue;
                bool peak = true;
                for (int dy = -1; dy <= 1 && peak; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if ((dx || dy) && mag.at<float>(y + dy, x + dx) > m) {
                            // along the gradient only: keep thin ridges
                            const float gdx = gx.at<float>(y, x), gdy = gy.at<float>(y, x);
                            if (std::fabs(dx * gdx + dy * gdy) > 0.5f * m) {
                                peak = false;
                                break;
                            }
                        }
                if (peak)
                    cands.push_back({m, x, y});
            }
        std::sort(cands.begin(), cands.end(), [](const Cand& a, const Cand& b) { return a.m > b.m; });
        const int cell = std::max(1, int(std::sqrt(double(img.total()) / double(maxPoints))));
        cv::Mat taken = cv::Mat::zeros(img.rows / cell + 1, img.cols / cell + 1, CV_8UC1);
        Level lv;
        lv.minMag = floorMag / 2.0f;
        lv.contrast = std::max(1.0f, strong);
        for (const Cand& c : cands) {
            uchar& t = taken.at<uchar>(c.y / cell, c.x / cell);
            if (t >= 2)
                continue;
            ++t;
            const float gdx = gx.at<float>(c.y, c.x), gdy = gy.at<float>(c.y, c.x);
            lv.points.push_back({float(c.x - rx), float(c.y - ry), gdx / c.m, gdy / c.m});
            if (lv.points.size() >= maxPoints)
                break;
        }
        if (lv.points.size() < size_t(kMinTopPoints) && level > 0)
            break;
        // Reorder so early give-up sees points from all over the part.
        std::vector<Point> spread;
        spread.reserve(lv.points.size());
        const size_t stride = 7;
        for (size_t start = 0; start < stride; ++start)
            for (size_t i = start; i < lv.points.size(); i += stride)
                spread.push_back(lv.points[i]);
        lv.points.swap(spread);
        double radius = 1;
        for (const Point& p : lv.points)
            radius = std::max(radius, double(std::hypot(p.x, p.y)));
        lv.angleStep = std::atan(1.0 / radius) * 180.0 / CV_PI;
        lv.radius = radius;
        m_levels.push_back(std::move(lv));
        if (img.cols / 2 < kMinTopSize || img.rows / 2 < kMinTopSize)
            break;
        cv::Mat down, mdown;
        cv::pyrDown(img, down);
        cv::resize(msk, mdown, down.size(), 0, 0, cv::INTER_NEAREST);
        img = down;
        msk = mdown;
        rx /= 2;
        ry /= 2;
    }
    if (m_levels.empty() || m_levels[0].points.size() < size_t(kMinTopPoints)) {
        Clear();
        return false;
    }
    return true;
}

bool FindShape::Find(const cv::Mat& search, int, double& x, double& y, double& angle, double& bestScore) const
{
    if (!IsValid() || search.empty() || search.type() != CV_8UC1)
        return false;
    const int top = int(m_levels.size()) - 1;
    std::vector<cv::Mat> pyr{search};
    for (int l = 1; l <= top; ++l) {
        cv::Mat d;
        cv::pyrDown(pyr.back(), d);
        pyr.push_back(d);
    }
    // Dimmer search images get proportionally lower gradient floors.
    float ratio = 1.0f;
    {
        cv::Mat gx, gy, mag;
        cv::Sobel(pyr[size_t(top)], gx, CV_32F, 1, 0, 3);
        cv::Sobel(pyr[size_t(top)], gy, CV_32F, 0, 1, 3);
        cv::magnitude(gx, gy, mag);
        ratio = std::clamp(strongEdge(mag, cv::Mat()) / m_levels[size_t(top)].contrast, 0.25f, 1.0f);
    }
    std::vector<Gradients> grads(size_t(top + 1));
    grads[size_t(top)] = gradients(pyr[size_t(top)], m_levels[size_t(top)].minMag * ratio);

    // Coarsest level: every position and angle.
    const Level& tl = m_levels[size_t(top)];
    const double floorTop = minScore * 0.8;
    std::vector<Pose> poses;
    std::vector<Point> rot;
    const int steps = int(std::ceil(m_angleRange / tl.angleStep));
    for (int k = -steps; k <= steps; ++k) {
        const double a = m_angleStart + k * (steps ? m_angleRange / steps : 0.0);
        rotated(tl.points, a, rot);
        const cv::Mat& gn = grads[size_t(top)].n;
        for (int py = 0; py < gn.rows; ++py)
            for (int px = 0; px < gn.cols; ++px) {
                const double s = score(grads[size_t(top)], rot, px, py, floorTop, m_greed);
                if (s >= floorTop)
                    poses.push_back({double(px), double(py), a, s});
            }
    }
    std::sort(poses.begin(), poses.end(), [](const Pose& a, const Pose& b) { return a.score > b.score; });
    // Keep the best few, apart from each other.
    std::vector<Pose> cands;
    const double apart = 4;
    for (const Pose& p : poses) {
        bool close = false;
        for (const Pose& c : cands)
            close = close || (std::fabs(c.x - p.x) < apart && std::fabs(c.y - p.y) < apart);
        if (!close)
            cands.push_back(p);
        if (cands.size() >= size_t(kCandidates))
            break;
    }
    if (cands.empty())
        return false;
    // Finer levels: directions only where the candidates' parts can lie.
    for (int l = top - 1; l >= 0; --l) {
        const double scale = double(1 << (top - l));
        const int reach = int(std::ceil(m_levels[size_t(l)].radius)) + 2 * (top - l) + 4;
        cv::Rect area;
        for (const Pose& c : cands) {
            const cv::Rect r(int(c.x * scale) - reach, int(c.y * scale) - reach, 2 * reach + 1, 2 * reach + 1);
            area = area.empty() ? r : (area | r);
        }
        area &= cv::Rect(0, 0, pyr[size_t(l)].cols, pyr[size_t(l)].rows);
        grads[size_t(l)] = gradients(pyr[size_t(l)], m_levels[size_t(l)].minMag * ratio, area);
    }

    // Down the pyramid: around each candidate, two pixels and two angle steps
    // (twice the uncertainty the coarser level leaves).
    const double topStep = steps ? m_angleRange / steps : tl.angleStep;
    Pose best{0, 0, 0, -1};
    for (Pose c : cands) {
        double prev = topStep;
        for (int l = top - 1; l >= 0; --l) {
            const Level& lv = m_levels[size_t(l)];
            const double cx = c.x * 2, cy = c.y * 2;
            const double s = std::max(lv.angleStep, prev / 2);
            Pose lb{cx, cy, c.angle, -1};
            for (int ka = -2; ka <= 2; ++ka) {
                const double a = c.angle + ka * s;
                if (std::fabs(a - m_angleStart) > m_angleRange + s)
                    continue;
                rotated(lv.points, a, rot);
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx) {
                        const double sc = score(grads[size_t(l)], rot, int(cx) + dx, int(cy) + dy, 0.0, 0.0);
                        if (sc > lb.score)
                            lb = {cx + dx, cy + dy, a, sc};
                    }
            }
            c = lb;
            prev = s;
        }
        if (c.score > best.score)
            best = c;
    }
    if (best.score < minScore)
        return false;

    // Below one pixel and one step: parabolas through the neighbouring scores.
    const Level& l0 = m_levels[0];
    const double da = l0.angleStep * 0.5;
    rotated(l0.points, best.angle, rot);
    const Gradients& g0 = grads[0];
    const int bx = int(best.x), by = int(best.y);
    const double sx = parabola(score(g0, rot, bx - 1, by, 0, 0), best.score, score(g0, rot, bx + 1, by, 0, 0));
    const double sy = parabola(score(g0, rot, bx, by - 1, 0, 0), best.score, score(g0, rot, bx, by + 1, 0, 0));
    std::vector<Point> rm, rp;
    rotated(l0.points, best.angle - da, rm);
    rotated(l0.points, best.angle + da, rp);
    const double sa = parabola(score(g0, rm, bx, by, 0, 0), best.score, score(g0, rp, bx, by, 0, 0));
    x = best.x + sx;
    y = best.y + sy;
    angle = best.angle + sa * da;
    bestScore = best.score;
    return true;
}

void FindShape::Clear()
{
    m_levels.clear();
}
