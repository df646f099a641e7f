#pragma once
// Difference model of a region: a per-pixel variation model.
//
// From all templates each pixel gets the lowest and highest grey value it took
// (min, max) and a tolerance
//     tol = base + spread * gain,   capped at `cap`
//     base   = (100 - sensitivity) / 4 grey levels, at least 1
//              (sensitivity 0..99; the editor default 45 gives about 14)
//     spread = max - min of the pixel across the templates
//     gain   = spreadPercent / 100 * (1 + amplify) / 2
// so a pixel that varies between good parts (an edge that moves by a pixel,
// a reflection) is allowed more than a stable one. Match marks 255 every pixel
// of the crop inside the region mask whose value lies outside
// [min - tol, max + tol]: a foreign object, a missing feature or a short shot
// shows pixel-exact, while lighting noise and small variation pass.
#include <opencv2/core.hpp>

class GrayMatch {
public:
    // width, height of the region crop; mask (255 inside, same size, may be empty = all).
    bool Create(int width, int height, const cv::Mat& mask, int reserved = 0);
    // Adds one template crop (8-bit, width x height).
    bool AddTemp(const cv::Mat& crop);
    // sensitivity 0..99, amplify ("Amplify", 0..4), spreadPercent (100), cap (150).
    bool Train(int sensitivity, int amplify, int spreadPercent = 100, int cap = 150);
    // out: 8-bit, zeroed by the caller or here; 255 where the crop differs.
    // Returns the number of differing pixels, -1 when not trained or sizes differ.
    int Match(const cv::Mat& crop, cv::Mat& out) const;
    void Clear();
    bool IsValid() const { return m_trained; }

    int templateCount() const { return m_count; }
    const cv::Mat& lower() const { return m_lo; }
    const cv::Mat& upper() const { return m_hi; }

private:
    int m_w = 0, m_h = 0;
    int m_count = 0;
    bool m_trained = false;
    cv::Mat m_mask, m_min, m_max, m_lo, m_hi;
};
