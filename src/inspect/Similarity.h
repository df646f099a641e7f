#pragma once
// Similarity model of a region (the station calls it SURF): a score 0..100 of
// how much the crop looks like the templates.
//
// Each template and the crop are compared by their structure inside the
// region mask, with their means removed (a global change of brightness does
// not change the score):
//     s = (2 cov + C) / (var_template + var_crop + C),   C = 2 * 7^2
// so identical textures score 100, unrelated ones near 0, and flat plastic
// whose only variation is sensor noise still scores well above 90 instead of
// flipping between 100 and 0: C is the variance a noise of about 7 grey
// levels would give two pictures, and below that nothing is called different.
// The part may lie up to two pixels away from where it was trained: the crop
// is compared at the shift that fits best (found on the base template, then
// scored against every template there). The score is the best over the
// templates, 0 when negative.
#include <opencv2/core.hpp>
#include <vector>

class SURF {
public:
    bool Create(int width, int height, const cv::Mat& mask);
    // The three numbers after the crop are kept for the editor (weight, minimum
    // score, region sensitivity); they do not change the model.
    bool AddTemp(const cv::Mat& crop, int weight = 1, int minScore = 50, int sensitivity = 0);
    bool Train(int = 0, int = 0, int = 0, int = 0);
    // Returns the score; out (optional) gets 255 where the crop, at the best
    // shift and with its mean removed, differs from the best template by more
    // than three times what noise and texture allow.
    float Match(const cv::Mat& crop, cv::Mat& out) const;
    void Clear();
    bool IsValid() const { return m_trained; }

    static constexpr int kShift = 2;
    static constexpr float kNoiseVar = 2.0f * 7.0f * 7.0f;

private:
    struct Pattern {
        std::vector<float> v;  // values at the compared pixels
        double mean = 0, var = 0;
    };
    // Structure score of template t against the crop at offset (dx, dy).
    double score(const Pattern& t, const cv::Mat& crop, int dx, int dy) const;

    int m_w = 0, m_h = 0;
    bool m_trained = false;
    std::vector<cv::Point> m_at;  // compared pixels: inside the mask, kShift from the border when possible
    int m_reach = 0;              // the shifts searched: kShift, or 0 for regions too small
    std::vector<Pattern> m_temps;
};
