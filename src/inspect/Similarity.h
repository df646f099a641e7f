#pragma once
// Similarity model of a region (the station calls it SURF): a score 0..100 of
// how much the crop looks like the templates.
//
// Each template and the crop are compared as zero-mean, unit-variance
// patterns inside the region mask (normalised cross-correlation), so a global
// change of brightness or contrast does not change the score. The score is
// 100 x the best correlation over the templates, 0 when negative: an identical
// crop scores 100, an unrelated one low. Flat crops (no texture) compare by
// their mean instead: equal means score 100, falling by 1 per grey level.
#include <opencv2/core.hpp>
#include <vector>

class SURF {
public:
    bool Create(int width, int height, const cv::Mat& mask);
    // The three numbers after the crop are kept for the editor (weight, minimum
    // score, region sensitivity); they do not change the model.
    bool AddTemp(const cv::Mat& crop, int weight = 1, int minScore = 50, int sensitivity = 0);
    bool Train(int = 0, int = 0, int = 0, int = 0);
    // Returns the score; out (optional) gets 255 where the normalised crop
    // differs from the best template by more than two standard deviations.
    float Match(const cv::Mat& crop, cv::Mat& out) const;
    void Clear();
    bool IsValid() const { return m_trained; }

private:
    struct Pattern {
        std::vector<float> z;  // normalised values at the mask pixels
        float mean = 0, sd = 0;
    };
    Pattern normalise(const cv::Mat& crop) const;

    int m_w = 0, m_h = 0;
    bool m_trained = false;
    std::vector<int> m_index;  // offsets of the mask pixels
    std::vector<Pattern> m_temps;
};
