#pragma once
// Difference model of a region: per-pixel statistics of the templates, and a
// fit of the frame onto them before pixels are compared.
//
// Training. The first template is the reference. Every further template is
// fitted onto it (brightness and shift, as below) and moved by the whole
// pixels of that shift only: resampling would smooth away how fine detail
// looks at other sub-pixel phases, which is the variation to be learnt. Per
// pixel: the mean and the spread (standard deviation) of the templates; with
// four or more templates the one farthest from the others is left out where
// it lies more than three spreads from them, so one bad template (a blemish,
// a hand in the picture) is not learnt. The same is kept for the deviations
// from the mean averaged over 5 x 5 pixels. Two thresholds per pixel:
//     T     = base     + kn * spread     + rA * range
//     T5x5  = base / 2 + 0.7 kn * spread5 + rB * gradient5
//     base  = 25 - sensitivity / 4 grey levels, at least 3 (sensitivity
//             0..99; the editor default 45 gives 13.75)
//     kn    = spreadPercent / 100 * (2 + amplify) * (1 + 1.5 / (n - 1))
//             (amplify "Amplify" 0..4; n templates: a spread from few is uncertain)
//     r     = 0.25 + amplify / 20 pixels of residual movement,
//             rA = r (1.6 + 4.4 / n), rB = r (0.2 + 2.8 / n)
//     range = highest - lowest mean in the pixel's 3 x 3 neighbourhood,
//     gradient5 = the mean's gradient averaged over 5 x 5
// capped at `cap`. So a stable pixel must stay within a few grey levels, one
// that varied between good parts is allowed its variation, and one on an edge
// what a fraction of a pixel of movement does to it; with few templates
// nothing is known of that, and the edge allowance is larger.
//
// Matching. The frame's region is fitted onto the mean: gain and offset of
// the brightness from its grey levels against the reference's, fraction by
// fraction (gain 0.6..1.6, offset +-60: an aged lamp, ambient light), then the
// shift of the part (a whole-pixel search within +-2 pixels, then a
// least-squares step below the pixel with outliers weighted down, so a defect
// does not bend the fit). A mask pixel differs when its residual exceeds T,
// or when the residual averaged over 5 x 5 exceeds T5x5 and the pixel itself
// leans the same way: fine texture seen at another phase deviates up and down
// within a few pixels and averages out, a blemish does not. Thresholds grow
// with the gain where the frame is brighter; saturated pixels compare as
// saturated.
//
// Crops. Create takes the region's width and height and a margin: the
// template and frame crops handed in are the region grown by `margin` on
// every side (padded by the caller where the image ends), so a shifted part
// is compared with picture, not with a repeated border. The output is the
// region's size.
#include <opencv2/core.hpp>
#include <vector>

class GrayMatch {
public:
    // width, height of the region; mask (255 inside, width x height, may be
    // empty = all); margin of the crops around the region.
    bool Create(int width, int height, const cv::Mat& mask, int margin = 0);
    // Adds one template crop (8-bit, (width + 2 margin) x (height + 2 margin)).
    bool AddTemp(const cv::Mat& crop);
    // sensitivity 0..99, amplify ("Amplify", 0..4), spreadPercent (100), cap (150).
    bool Train(int sensitivity, int amplify, int spreadPercent = 100, int cap = 150);
    // out: 8-bit width x height, 255 where the crop differs, else 0. Returns
    // the number of differing pixels, -1 when not trained or the crop does
    // not fit.
    int Match(const cv::Mat& crop, cv::Mat& out) const;
    void Clear();
    bool IsValid() const { return m_trained; }

    int templateCount() const { return m_trained ? m_trainedCount : int(m_temps.size()); }
    int margin() const { return m_margin; }

    // Grey levels a sensitivity allows a stable pixel, and the sensitivity
    // that allows a given number of grey levels.
    static double thresholdOf(int sensitivity);
    static int sensitivityFor(double grey);

    // What the last Match fitted (for diagnostics and tests).
    struct Fit {
        double gain = 1, offset = 0, dx = 0, dy = 0;
    };
    Fit lastFit() const { return m_fit; }

private:
    // Fits crop onto the mean; *whole gets the whole-pixel part of the shift,
    // m_u and m_v the first-order terms of the rest.
    Fit fit(const cv::Mat& crop, cv::Point* whole) const;

    int m_w = 0, m_h = 0, m_margin = 0;
    bool m_trained = false;
    int m_trainedCount = 0;
    cv::Mat m_mask;                 // width x height, 255 inside
    std::vector<cv::Mat> m_temps;   // crops added since the last training
    // Trained model, padded by margin + kPad on every side of the region.
    cv::Mat m_mu;                   // CV_32F mean
    cv::Mat m_gx, m_gy;             // CV_32F gradient of the mean (grey per pixel)
    // The three above interleaved, in 1/64 grey levels (CV_16SC3): one
    // cache line serves a pixel's prediction, in the fit's scattered reads
    // and the comparison's rows.
    cv::Mat m_pred16;
    cv::Mat m_thr;                  // threshold per pixel, region size (CV_16S 1/64 grey once trained)
    cv::Mat m_thrBox;               // threshold of the 5 x 5 average, region size (the same)
    std::vector<cv::Point> m_samples;  // region coordinates of the fitting samples
    std::vector<long> m_muAt;          // their offsets in the stored mean
    // The mean at the search subset of the samples under each whole-pixel
    // shift, laid out shift after shift: the search reads it in order.
    std::vector<float> m_searchMu;
    // Sample offsets in a crop of the cached row step (crops are views of a frame).
    mutable std::vector<int> m_cropAt;
    mutable size_t m_cropStep = 0;
    std::vector<double> m_refLevels;  // grey levels of the reference at 5 %, 10 %, ... 95 %
    double m_baseGrey = 13.75;
    mutable Fit m_fit;
    mutable double m_u = 0, m_v = 0;
};
