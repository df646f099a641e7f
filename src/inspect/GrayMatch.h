#pragma once
// Difference model of a region: a per-pixel variation model.
//
// Brightness first: every template, and at match time the crop, is scaled so
// that its mean inside the mask equals the first template's (a global change
// of lighting is not a defect; the scale is limited to 0.85..1.15 so a large
// foreign object cannot hide itself by it).
//
// From the scaled templates each pixel gets the lowest and highest value it
// took in its 3 x 3 neighbourhood (min, max: what a residual misalignment of
// up to one pixel can bring to it) and a tolerance
//     tol = base + spread * gain,   capped at `cap`
//     base   = (100 - sensitivity) / 5 grey levels, at least 1
//              (sensitivity 0..99; the editor default 45 gives 11)
//     spread = highest - lowest value of the pixel itself across the templates
//     gain   = spreadPercent / 100 * (1 + amplify) / 8   (amplify "Amplify" 0..4;
//              with 100 and amplify 1 a pixel may leave its band by a quarter of its spread)
// so a pixel that varies between good parts (an edge that moves by a pixel)
// is allowed more than a stable one. Match marks 255 every pixel inside the
// region mask whose scaled value lies outside [min - tol, max + tol]: a
// foreign object, a missing feature or a short shot shows pixel-exact, while
// lighting changes, sensor noise and small variation pass.
#include <opencv2/core.hpp>

class GrayMatch {
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
