#pragma once
// Position model: finds a trained part in a search image over translation and
// rotation, from the directions of its edges (so it does not care about the
// lighting level).
//
// Model: on an image pyramid (each level half the size), the strongest edge
// points of the template inside the mask, each with its unit gradient
// direction, relative to the reference point. Score of a pose = mean over the
// model points of the dot product of the model's (turned) direction with the
// search image's unit gradient direction there: 1 = every edge where and as
// trained, 0 = nothing alike. The coarsest level is searched over every
// position and angle; the best poses are refined level by level down to full
// resolution, where position and angle are interpolated below one pixel and
// one angle step. A pose scoring below minScore is "not found".
//
// Edges count by contrast relative to the part's own: a point of the model is
// an edge at least a quarter as strong as the strong edges of the template
// (its 90th percentile), and the search takes directions where the gradient
// is half that, scaled by how much contrast the search image has against the
// template (a lamp that has aged). With ignorePolarity (CreateShape's
// contrast argument 1) a part darker than its surroundings matches one that
// is brighter: directions count whichever way they point.
//
// Angles are degrees, counter-clockwise as the image is viewed; a found pose
// (x, y, angle) means a model point at offset q from the reference point is
// at (x, y) + R(angle) q, which is what TransformImage undoes.
#include <opencv2/core.hpp>
#include <vector>

class FindShape {
public:
    // model: 8-bit template crop. contrast: 0 polarity must match, 1 either.
    // The search covers angleStart - angleRange .. angleStart + angleRange
    // degrees. (refX, refY): the reference point in model coordinates. mask
    // (255 = use; empty = all). searchSpeed 0..9: 0 the most thorough, 9 the
    // fastest (fewer points, earlier give-up). False when the template has
    // too few edges for a model.
    bool CreateShape(const cv::Mat& model, double angleStart, int contrast, double angleRange, double refX,
                     double refY, bool reserved, int fill, const cv::Mat& mask, int searchSpeed, int reserved2 = 0);
    // Finds the reference point in search (coordinates of search) and the angle.
    // Returns false when no pose reaches minScore.
    bool Find(const cv::Mat& search, int reserved, double& x, double& y, double& angle, double& score) const;
    void Clear();
    bool IsValid() const { return !m_levels.empty(); }

    double minScore = 0.5;
    int levels() const { return int(m_levels.size()); }
    // The minimum score for a "least match" in percent (0: the default 0.5;
    // below 40 is taken as 40, beyond which clutter can pass for the part).
    static double minScoreOf(int leastPercent);

private:
    struct Point {
        float x, y, dx, dy;  // offset from the reference point, unit direction
        int ix = 0, iy = 0;  // the offset rounded, for whole-pixel poses
    };
    struct Pose {
        double x, y, angle, score;
    };
    struct Level {
        std::vector<Point> points;
        double angleStep = 1;
        double radius = 1;     // farthest model point from the reference
        float minMag = 12;     // search gradients weaker than this are noise
        float contrast = 1;    // the template's strong-edge gradient at this level
    };
    struct Gradients {
        cv::Mat n;       // CV_32FC2 unit direction, 0 where the edge is weak
        cv::Point origin;  // where n's (0, 0) lies in the level's image
    };

    // Directions of img inside area (the whole image when empty).
    static Gradients gradients(const cv::Mat& img, float minMag, cv::Rect area = {});
    static void rotated(const std::vector<Point>& pts, double angle, std::vector<Point>& out);
    // Mean agreement at the whole-pixel pose (x, y); -1 when it gave up below floor.
    double score(const Gradients& g, const std::vector<Point>& pts, int x, int y, double floor, double greed) const;

    std::vector<Level> m_levels;
    double m_angleStart = 0, m_angleRange = 0;
    double m_greed = 0;
    bool m_anyPolarity = false;
    cv::Size m_modelSize;
};
