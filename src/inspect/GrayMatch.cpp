#include "GrayMatch.h"

#include "ImageLib.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {
// Padding of the stored mean beyond the crop's margin: the whole-pixel search
// (2) and the gradient (1) read that far.
constexpr int kPad = 3;
constexpr int kSearch = 2;
constexpr int kMaxSamples = 3000;
constexpr size_t kSearchSamples = 750;
constexpr int kBox = 5;  // the averaging window of the second comparison
constexpr double kGainMin = 0.6, kGainMax = 1.6, kOffsetMax = 60.0;
// The trained prediction planes hold 1/kFixed grey levels.
constexpr float kFixed = 64.0f;

size_t searchStride(size_t samples) { return std::max<size_t>(1, samples / kSearchSamples); }

cv::Mat padded(const cv::Mat& crop)
{
    cv::Mat f, p;
    crop.convertTo(f, CV_32F);
    cv::copyMakeBorder(f, p, kPad, kPad, kPad, kPad, cv::BORDER_REPLICATE);
    return p;
}

// Per-pixel mean and standard deviation over samples; with four or more,
// the sample farthest from the rest is left out where it lies more than three
// deviations (at least 2 grey levels) from them.
void robustStats(const std::vector<cv::Mat>& samples, cv::Mat& mean, cv::Mat& sd)
{
    const int n = int(samples.size());
    mean.create(samples[0].size(), CV_32F);
    sd.create(samples[0].size(), CV_32F);
    std::vector<const float*> rows(static_cast<size_t>(n));
    for (int y = 0; y < mean.rows; ++y) {
        for (int t = 0; t < n; ++t)
            rows[size_t(t)] = samples[size_t(t)].ptr<float>(y);
        float* mrow = mean.ptr<float>(y);
        float* srow = sd.ptr<float>(y);
        for (int x = 0; x < mean.cols; ++x) {
            double s = 0, ss = 0;
            for (int t = 0; t < n; ++t) {
                const double v = rows[size_t(t)][x];
                s += v;
                ss += v * v;
            }
            double mu = s / n, var = n > 1 ? std::max(0.0, ss / n - mu * mu) : 0.0;
            if (n >= 4) {
                int worst = 0;
                double dev = -1;
                for (int t = 0; t < n; ++t) {
                    const double d = std::fabs(rows[size_t(t)][x] - mu);
                    if (d > dev) {
                        dev = d;
                        worst = t;
                    }
                }
                const double w = rows[size_t(worst)][x];
                const double mu1 = (s - w) / (n - 1);
                const double var1 = std::max(0.0, (ss - w * w) / (n - 1) - mu1 * mu1);
                if (std::fabs(w - mu1) > 3.0 * std::max(std::sqrt(var1), 2.0)) {
                    mu = mu1;
                    var = var1;
                }
            }
            mrow[x] = float(mu);
            srow[x] = float(std::sqrt(var));
        }
    }
}
} // namespace

double GrayMatch::thresholdOf(int sensitivity)
{
    return std::max(3.0, 25.0 - double(std::clamp(sensitivity, 0, 99)) / 4.0);
}

int GrayMatch::sensitivityFor(double grey)
{
    return std::clamp(int(std::lround((25.0 - grey) * 4.0)), 0, 99);
}

bool GrayMatch::Create(int width, int height, const cv::Mat& mask, int margin)
{
    Clear();
    m_mask = RegionMask(width, height, mask);
    if (m_mask.empty() || margin < 0)
        return false;
    m_w = width;
    m_h = height;
    m_margin = margin;
    m_samples.clear();
    // Fitting samples spread evenly over the mask.
    const int inside = cv::countNonZero(m_mask);
    if (inside == 0)
        return false;
    // About kMaxSamples or somewhat more: the step rounds down. Rounding it
    // up halves the samples on common region sizes and costs false alarms.
    const int step = std::max(1, int(std::sqrt(double(inside) / kMaxSamples)));
    for (int y = step / 2; y < m_h; y += step) {
        const uchar* mk = m_mask.ptr<uchar>(y);
        for (int x = step / 2; x < m_w; x += step)
            if (mk[x])
                m_samples.emplace_back(x, y);
    }
    if (m_samples.empty())
        for (int y = 0; y < m_h; ++y)
            for (int x = 0; x < m_w; ++x)
                if (m_mask.at<uchar>(y, x))
                    m_samples.emplace_back(x, y);
    return true;
}

bool GrayMatch::AddTemp(const cv::Mat& crop)
{
    if (m_mask.empty() || crop.cols != m_w + 2 * m_margin || crop.rows != m_h + 2 * m_margin ||
        crop.type() != CV_8UC1)
        return false;
    m_temps.push_back(padded(crop));
    m_trained = false;
    return true;
}

namespace {
// Grey levels at evenly spaced fractions (5 %, 10 %, ... 95 %) of values.
std::vector<double> quantiles(std::vector<float>& v)
{
    std::vector<double> q;
    if (v.empty())
        return q;
    std::sort(v.begin(), v.end());
    for (int k = 1; k <= 19; ++k)
        q.push_back(v[std::min(v.size() - 1, size_t(double(v.size()) * k / 20.0))]);
    return q;
}
} // namespace

GrayMatch::Fit GrayMatch::fit(const cv::Mat& crop, cv::Point* whole) const
{
    const size_t n = m_samples.size();
    // Sample positions as offsets into the crop (cached per row step) and the stored mean.
    const int m = m_margin;
    const size_t cs = crop.step1();
    if (m_cropStep != cs || m_cropAt.size() != n) {
        m_cropAt.resize(n);
        for (size_t i = 0; i < n; ++i)
            m_cropAt[i] = int(size_t(m_samples[i].y + m) * cs + size_t(m_samples[i].x + m));
        m_cropStep = cs;
    }
    const int* at = m_cropAt.data();
    const uchar* c0 = crop.ptr<uchar>(0);
    const short* p16 = m_pred16.ptr<short>(0);
    const long ms = long(m_pred16.step1() / 3);
    auto shifted = [&](cv::Point d) { return -long(d.y) * ms - long(d.x); };

    // Brightness: the crop's grey levels matched to the reference template's,
    // fraction by fraction. Sorted values do not care where the part lies, so
    // this holds before the shift is known; saturated levels say nothing. The
    // reference, not the mean: a mean over templates is softer than any one
    // picture and would read as less contrast.
    thread_local std::vector<float> vals;
    vals.resize(n);
    int hist[256] = {};
    for (size_t i = 0; i < n; ++i) {
        const uchar c = c0[at[i]];
        ++hist[c];
        vals[i] = float(c);
    }
    double qc[19];
    {
        int k = 0, acc = 0;
        for (int g = 0; g < 256 && k < 19; ++g) {
            acc += hist[g];
            while (k < 19 && double(acc) > double(n) * (k + 1) / 20.0)
                qc[k++] = g;
        }
        while (k < 19)
            qc[k++] = 255;
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    int nq = 0;
    for (size_t k = 0; k < 19 && k < m_refLevels.size(); ++k) {
        if (qc[k] <= 1.0 || qc[k] >= 254.0)
            continue;
        const double x = m_refLevels[k];
        sx += x;
        sy += qc[k];
        sxx += x * x;
        sxy += x * qc[k];
        ++nq;
    }
    double gain = 1.0, offset = 0.0;
    const double varx = nq > 1 ? sxx / nq - (sx / nq) * (sx / nq) : 0.0;
    if (nq > 1 && varx > 4.0)
        gain = std::clamp((sxy / nq - (sx / nq) * (sy / nq)) / varx, kGainMin, kGainMax);
    if (nq > 0)
        offset = std::clamp(sy / nq - gain * sx / nq, -kOffsetMax, kOffsetMax);

    // Whole-pixel shift: the smallest sum of differences, on a spread subset
    // of the samples (the least-squares step below refines it on all), read
    // in order from the mean kept per shift.
    cv::Point best(0, 0);
    double bestSad = -1;
    const float g = float(gain), b = float(offset);
    const size_t stride = searchStride(n);
    const size_t ns = (n + stride - 1) / stride;
    thread_local std::vector<float> sub;
    sub.resize(ns);
    for (size_t j = 0; j < ns; ++j)
        sub[j] = vals[j * stride];
    const float* s0 = sub.data();
    for (int dy = -kSearch, sIdx = 0; dy <= kSearch; ++dy)
        for (int dx = -kSearch; dx <= kSearch; ++dx, ++sIdx) {
            const float* mu = m_searchMu.data() + size_t(sIdx) * ns;
            float sad = 0;
#pragma omp simd reduction(+ : sad)
            for (size_t j = 0; j < ns; ++j)
                sad += std::fabs(s0[j] - g * mu[j] - b);
            // Ties go to the smaller shift.
            const double score = double(sad) * (1.0 + 1e-3 * (std::abs(dx) + std::abs(dy)));
            if (bestSad < 0 || score < bestSad) {
                bestSad = score;
                best = {dx, dy};
            }
        }

    // Below the pixel: crop - (gain mu(x - d) + offset) ~ u gx + v gy, by
    // least squares with outliers (a defect) weighted down.
    const double huber = 2.0 * std::max(3.0, m_baseGrey);
    const size_t fitStride = std::max<size_t>(1, n / kMaxSamples);
    const size_t nf = (n + fitStride - 1) / fitStride;
    thread_local std::vector<float> fe, fgx, fgy;
    fe.resize(nf);
    fgx.resize(nf);
    fgy.resize(nf);
    double u = 0, v = 0;
    for (int round = 0; round < 2; ++round) {
        const long sh = shifted(best);
        // The samples under this shift, in order: residual and gradient.
        const long* muAt = m_muAt.data();
        const float gf = g / kFixed;
        for (size_t j = 0; j < nf; ++j) {
            const size_t i = j * fitStride;
            const short* q = p16 + 3 * (muAt[i] + sh);
            fe[j] = vals[i] - (gf * float(q[0]) + b);
            fgx[j] = gf * float(q[1]);
            fgy[j] = gf * float(q[2]);
        }
        const float* e0 = fe.data();
        const float* gxs = fgx.data();
        const float* gys = fgy.data();
        const float hub = float(huber);
        for (int iter = 0; iter < 3; ++iter) {
            const float uu = float(u), vv = float(v);
            // The first round unweighted: a weight of one everywhere.
            const float on = iter > 0 ? 1.0f : 0.0f;
            // Four lanes of sums, then the rest one by one.
            using V = cv::v_float32x4;
            V s11 = cv::v_setzero_f32(), s12 = s11, s22 = s11, t1 = s11, t2 = s11;
            const V vu = cv::v_setall_f32(uu), vvv = cv::v_setall_f32(vv), von = cv::v_setall_f32(on),
                    vh = cv::v_setall_f32(hub), one = cv::v_setall_f32(1.0f), tiny = cv::v_setall_f32(1e-6f);
            size_t j = 0;
            for (; j + 4 <= nf; j += 4) {
                const V gx = cv::v_load(gxs + j), gy = cv::v_load(gys + j), e = cv::v_load(e0 + j);
                const V r = cv::v_abs(e - vu * gx - vvv * gy) * von;
                const V w = cv::v_min(one, vh / cv::v_max(r, tiny));
                const V wgx = w * gx, wgy = w * gy;
                s11 += wgx * gx;
                s12 += wgx * gy;
                s22 += wgy * gy;
                t1 += wgx * e;
                t2 += wgy * e;
            }
            double a11 = cv::v_reduce_sum(s11), a12 = cv::v_reduce_sum(s12), a22 = cv::v_reduce_sum(s22),
                   b1 = cv::v_reduce_sum(t1), b2 = cv::v_reduce_sum(t2);
            for (; j < nf; ++j) {
                const float gx = gxs[j], gy = gys[j], e = e0[j];
                const float r = std::fabs(e - uu * gx - vv * gy) * on;
                const float w = std::min(1.0f, hub / std::max(r, 1e-6f));
                a11 += w * gx * gx;
                a12 += w * gx * gy;
                a22 += w * gy * gy;
                b1 += w * gx * e;
                b2 += w * gy * e;
            }
            // Flat regions say nothing about the shift: keep it near zero there.
            a11 += double(nf);
            a22 += double(nf);
            const double det = a11 * a22 - a12 * a12;
            if (det <= 0)
                break;
            u = (a22 * b1 - a12 * b2) / det;
            v = (a11 * b2 - a12 * b1) / det;
        }
        // mu(x - d - delta) ~ mu(x - d) - delta . grad: the shift left is -(u, v).
        const cv::Point step(int(std::lround(-u)), int(std::lround(-v)));
        if (round == 0 && (step.x || step.y) && std::abs(best.x + step.x) <= kSearch &&
            std::abs(best.y + step.y) <= kSearch) {
            best += step;
            u = v = 0;
            continue;
        }
        break;
    }
    // A residual shift beyond the first-order step is not trusted.
    u = std::clamp(u, -0.75, 0.75);
    v = std::clamp(v, -0.75, 0.75);
    if (whole)
        *whole = best;
    Fit out;
    out.gain = gain;
    out.offset = offset;
    out.dx = best.x - u;
    out.dy = best.y - v;
    m_u = u * gain;
    m_v = v * gain;
    return out;
}

bool GrayMatch::Train(int sensitivity, int amplify, int spreadPercent, int cap)
{
    if (m_temps.empty() || m_mask.empty())
        return false;
    const int amp = std::clamp(amplify, 0, 4);
    m_baseGrey = thresholdOf(sensitivity);
    const double k = double(std::max(0, spreadPercent)) / 100.0 * (2.0 + amp);
    const double r = 0.25 + amp / 20.0;
    const double limit = double(std::clamp(cap, 1, 255));

    // The reference, with its gradient, for fitting the other templates onto it.
    auto setMean = [this](const cv::Mat& mean) {
        m_mu = mean;
        const int o = m_margin + kPad;
        m_muAt.resize(m_samples.size());
        for (size_t i = 0; i < m_samples.size(); ++i)
            m_muAt[i] = long(m_samples[i].y + o) * long(m_mu.step1()) + m_samples[i].x + o;
        cv::Sobel(m_mu, m_gx, CV_32F, 1, 0, 3, 1.0 / 8.0, 0, cv::BORDER_REPLICATE);
        cv::Sobel(m_mu, m_gy, CV_32F, 0, 1, 3, 1.0 / 8.0, 0, cv::BORDER_REPLICATE);
        cv::Mat pred;
        cv::merge(std::vector<cv::Mat>{m_mu, m_gx, m_gy}, pred);
        pred.convertTo(m_pred16, CV_16SC3, kFixed);
        // The search's view of the mean, shift by shift, in the order it reads it.
        const size_t stride = searchStride(m_samples.size());
        const size_t ns = (m_samples.size() + stride - 1) / stride;
        const long st = long(m_mu.step1());
        const float* mu0 = m_mu.ptr<float>(0);
        m_searchMu.resize(size_t(2 * kSearch + 1) * size_t(2 * kSearch + 1) * ns);
        size_t w = 0;
        for (int dy = -kSearch; dy <= kSearch; ++dy)
            for (int dx = -kSearch; dx <= kSearch; ++dx)
                for (size_t j = 0; j < ns; ++j)
                    m_searchMu[w++] = mu0[m_muAt[j * stride] - long(dy) * st - long(dx)];
    };
    setMean(m_temps[0].clone());
    std::vector<cv::Mat> aligned{m_temps[0]};
    const int o = m_margin + kPad;
    {
        std::vector<float> v;
        v.reserve(m_samples.size());
        for (const cv::Point& p : m_samples)
            v.push_back(m_temps[0].at<float>(p.y + o, p.x + o));
        m_refLevels = quantiles(v);
    }
    for (size_t i = 1; i < m_temps.size(); ++i) {
        // Fit on the template's own crop (the padded float back to 8 bits).
        cv::Mat crop8;
        m_temps[i](cv::Rect(kPad, kPad, m_w + 2 * m_margin, m_h + 2 * m_margin)).convertTo(crop8, CV_8U);
        cv::Point whole;
        const Fit f = fit(crop8, &whole);
        // mean(y) ~ (t(y + d) - offset) / gain, moved by the whole pixels only:
        // resampling would smooth away how fine detail looks at other phases,
        // which is exactly the variation the spread must learn.
        const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, whole.x, 0, 1, whole.y);
        cv::Mat moved;
        cv::warpAffine(m_temps[i], moved, shift, m_temps[i].size(), cv::INTER_NEAREST | cv::WARP_INVERSE_MAP,
                       cv::BORDER_REPLICATE);
        moved = (moved - f.offset) / f.gain;
        aligned.push_back(moved);
    }

    // Mean and spread per pixel, and the spread of the deviations averaged
    // over 5 x 5 pixels: fine detail seen at another phase deviates up and
    // down within a few pixels and averages out, a blemish does not.
    const int n = int(aligned.size());
    cv::Mat mean, spread;
    robustStats(aligned, mean, spread);
    std::vector<cv::Mat> smooth;
    for (const cv::Mat& a : aligned) {
        cv::Mat dev = a - mean, b;
        cv::boxFilter(dev, b, CV_32F, cv::Size(kBox, kBox), cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
        smooth.push_back(b);
    }
    cv::Mat smoothMean, smoothSpread;
    robustStats(smooth, smoothMean, smoothSpread);
    setMean(mean);
    cv::Mat lo, hi, mag, magBox;
    cv::erode(mean, lo, cv::Mat(), cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    cv::dilate(mean, hi, cv::Mat(), cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    cv::magnitude(m_gx, m_gy, mag);
    cv::boxFilter(mag, magBox, CV_32F, cv::Size(kBox, kBox), cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
    m_thr.create(m_h, m_w, CV_32F);
    m_thrBox.create(m_h, m_w, CV_32F);
    // Few templates say little about how fine detail varies: the allowance
    // for residual movement shrinks as templates show the real variation.
    const double baseBox = m_baseGrey / 2.0;
    const double rA = r * (1.6 + 4.4 / n), rB = r * (0.2 + 2.8 / n);
    // A spread taken from few templates is itself uncertain. The averaged
    // deviations vary less from template to template, so their spread is a
    // surer guide and needs less margin.
    const double kn = n > 1 ? k * (1.0 + 1.5 / (n - 1)) : k;
    const double kBox = 0.7 * kn;
    for (int y = 0; y < m_h; ++y) {
        const float* sp = spread.ptr<float>(y + o) + o;
        const float* sb = smoothSpread.ptr<float>(y + o) + o;
        const float* l = lo.ptr<float>(y + o) + o;
        const float* h = hi.ptr<float>(y + o) + o;
        const float* g = magBox.ptr<float>(y + o) + o;
        float* t = m_thr.ptr<float>(y);
        float* tb = m_thrBox.ptr<float>(y);
        for (int x = 0; x < m_w; ++x) {
            t[x] = float(std::min(limit, m_baseGrey + kn * sp[x] + rA * (h[x] - l[x])));
            tb[x] = float(std::min(limit, baseBox + kBox * sb[x] + rB * g[x]));
        }
    }
    m_trainedCount = n;
    m_temps.clear();
    // Matching reads the compact copies only: thresholds in 1/64 grey levels too.
    m_thr.convertTo(m_thr, CV_16S, kFixed);
    m_thrBox.convertTo(m_thrBox, CV_16S, kFixed);
    m_mu.release();
    m_gx.release();
    m_gy.release();
    m_trained = true;
    return true;
}

int GrayMatch::Match(const cv::Mat& crop, cv::Mat& out) const
{
    if (!m_trained || crop.cols != m_w + 2 * m_margin || crop.rows != m_h + 2 * m_margin ||
        crop.type() != CV_8UC1)
        return -1;
    cv::Point d;
    m_fit = fit(crop, &d);
    const float gain = float(m_fit.gain), offset = float(m_fit.offset), u = float(m_u), v = float(m_v);
    const float scale = std::max(1.0f, gain);
    // Signed residual over the whole crop (the margin feeds the averaging),
    // two replicated columns either side for the 5 x 5 average.
    const int cw = crop.cols, ch = crop.rows, rw = cw + 4;
    thread_local std::vector<float> resBuf, colBuf;
    resBuf.resize(size_t(ch) * size_t(rw));
    colBuf.resize(size_t(rw));
    for (int y = 0; y < ch; ++y) {
        const uchar* c = crop.ptr<uchar>(y);
        const short* q = m_pred16.ptr<short>(y + kPad - d.y) + 3 * (kPad - d.x);
        float* r = resBuf.data() + size_t(y) * size_t(rw) + 2;
        // The fixed-point scale folded into the coefficients.
        const float gf = gain / kFixed, uf = u / kFixed, vf = v / kFixed;
        int x = 0;
        {
            using V = cv::v_float32x4;
            const V vg = cv::v_setall_f32(gf), vo = cv::v_setall_f32(offset), vu = cv::v_setall_f32(uf),
                    vv = cv::v_setall_f32(vf), lo = cv::v_setzero_f32(), hi = cv::v_setall_f32(255.0f);
            const auto half = [&](const cv::v_int32x4& mu, const cv::v_int32x4& gx, const cv::v_int32x4& gy,
                                  const cv::v_uint32x4& cv8, float* dst) {
                const V p = cv::v_min(hi, cv::v_max(lo, vg * cv::v_cvt_f32(mu) + vo + vu * cv::v_cvt_f32(gx) +
                                                            vv * cv::v_cvt_f32(gy)));
                cv::v_store(dst, cv::v_cvt_f32(cv::v_reinterpret_as_s32(cv8)) - p);
            };
            for (; x + 8 <= cw; x += 8) {
                cv::v_int16x8 mu, gx, gy;
                cv::v_load_deinterleave(q + 3 * x, mu, gx, gy);
                cv::v_int32x4 mu0, mu1, gx0, gx1, gy0, gy1;
                cv::v_expand(mu, mu0, mu1);
                cv::v_expand(gx, gx0, gx1);
                cv::v_expand(gy, gy0, gy1);
                cv::v_uint32x4 c0, c1;
                cv::v_expand(cv::v_load_expand(c + x), c0, c1);
                half(mu0, gx0, gy0, c0, r + x);
                half(mu1, gx1, gy1, c1, r + x + 4);
            }
        }
        for (; x < cw; ++x) {
            float p = gf * float(q[3 * x]) + offset + uf * float(q[3 * x + 1]) + vf * float(q[3 * x + 2]);
            p = p < 0.0f ? 0.0f : p;
            p = p > 255.0f ? 255.0f : p;
            r[x] = float(c[x]) - p;
        }
        r[-2] = r[-1] = r[0];
        r[cw] = r[cw + 1] = r[cw - 1];
    }
    auto row = [&](int y) { return resBuf.data() + size_t(std::clamp(y, 0, ch - 1)) * size_t(rw); };
    out.create(m_h, m_w, CV_8UC1);
    float* col = colBuf.data();
    const float inv = 1.0f / float(kBox * kBox);
    int count = 0;
    for (int y = 0; y < m_h; ++y) {
        const int cy = y + m_margin;
        // Column sums of the five rows around cy (replicated beyond the crop).
        const float *r0 = row(cy - 2), *r1 = row(cy - 1), *r2 = row(cy), *r3 = row(cy + 1), *r4 = row(cy + 2);
#pragma omp simd
        for (int x = 0; x < rw; ++x)
            col[x] = r0[x] + r1[x] + r2[x] + r3[x] + r4[x];
        const float* r = r2 + 2 + m_margin;
        const float* cs = col + m_margin;  // cs[x .. x + 4] are the five columns around x
        const short* t = m_thr.ptr<short>(y);
        const short* tb = m_thrBox.ptr<short>(y);
        const uchar* mk = m_mask.ptr<uchar>(y);
        uchar* dst = out.ptr<uchar>(y);
        const int w = m_w;
        const float sf = scale / kFixed;
#pragma omp simd
        for (int x = 0; x < w; ++x) {
            const float b = (cs[x] + cs[x + 1] + cs[x + 2] + cs[x + 3] + cs[x + 4]) * inv;
            // The average alone would also mark the ring around a blemish:
            // a pixel it marks must itself lean the same way.
            const float lim = float(tb[x]) * sf, a = std::fabs(r[x]);
            const int coarse = int(std::fabs(b) > lim) & int(r[x] * b > 0.0f) & int(a > 0.3f * lim);
            const int differs = int(a > float(t[x]) * sf) | coarse;
            dst[x] = uchar(mk[x] & -differs);
        }
    }
    count = cv::countNonZero(out);
    return count;
}

void GrayMatch::Clear()
{
    m_trained = false;
    m_trainedCount = 0;
    m_temps.clear();
    m_mu.release();
    m_gx.release();
    m_gy.release();
    m_pred16.release();
    m_thr.release();
    m_thrBox.release();
    m_searchMu.clear();
    m_cropStep = 0;
}
