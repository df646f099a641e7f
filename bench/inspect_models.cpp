// Inspection models against the plain OpenCV way, measured in the same run.
//
//   difference: GrayMatch::Match over 50 regions covering half of a 1920 x 1080
//               grey frame, 10 templates each; baseline per region: absdiff
//               against every template, minimum over templates, threshold.
//   position:   FindShape::Find of a 400 x 300 model in a 1000 x 800 window,
//               +-15 degrees; baseline: cv::matchTemplate of the model turned
//               to every whole degree.
// Prints median times, the ratio, and the position model's errors.
#include "FindShape.h"
#include "GrayMatch.h"
#include "BenchUtil.h"
#include "ImageLib.h"
#include "Variants.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {
using Clock = BenchClock;
constexpr auto ms = msBetween;
cv::Mat load(const char* name)
{
    cv::Mat m = cv::imread(std::string("/usr/share/doc/opencv-doc/examples/data/") + name, cv::IMREAD_GRAYSCALE);
    if (m.empty()) {
        std::fprintf(stderr, "bench: sample photograph %s missing (./station.sh deps)\n", name);
        std::exit(1);
    }
    return m;
}
cv::Mat noisy(const cv::Mat& src, std::mt19937& rng) { return seenAgain(src, rng); }
} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(5, atoi(argv[1])) : 31;
    std::mt19937 rng(1);

    // --- difference model ---------------------------------------------------
    cv::Mat frame;
    cv::resize(load("fruits.jpg"), frame, cv::Size(1920, 1080));
    std::vector<cv::Rect> rois;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 10; ++c)
            rois.emplace_back(60 + c * 180, 60 + r * 200, 144, 144);  // 50 x 144^2 = half the frame
    std::vector<cv::Mat> temps;
    for (int t = 0; t < 10; ++t)
        temps.push_back(noisy(frame, rng));
    std::vector<GrayMatch> models(rois.size());
    for (size_t i = 0; i < rois.size(); ++i) {
        models[i].Create(rois[i].width, rois[i].height, cv::Mat(), 0);
        for (const cv::Mat& t : temps)
            models[i].AddTemp(t(rois[i]).clone());
        models[i].Train(45, 1, 100, 150);
    }
    const cv::Mat current = noisy(frame, rng);
    std::vector<double> ours, base;
    std::vector<cv::Mat> outs(rois.size());
    long differing = 0;
    for (int k = 0; k < runs; ++k) {
        auto a = Clock::now();
        differing = 0;
        for (size_t i = 0; i < rois.size(); ++i)
            differing += models[i].Match(current(rois[i]), outs[i]);
        auto b = Clock::now();
        ours.push_back(ms(a, b));
        a = Clock::now();
        for (size_t i = 0; i < rois.size(); ++i) {
            cv::Mat best, d;
            for (size_t t = 0; t < temps.size(); ++t) {
                cv::absdiff(current(rois[i]), temps[t](rois[i]), d);
                if (t == 0)
                    best = d.clone();
                else
                    cv::min(best, d, best);
            }
            cv::threshold(best, best, 40, 255, cv::THRESH_BINARY);
        }
        b = Clock::now();
        base.push_back(ms(a, b));
    }
    std::printf("difference  50 regions, 10 templates, 1920x1080: ours %.3f ms, baseline %.3f ms, ratio %.1fx (%ld px marked)\n",
                median(ours), median(base), median(base) / median(ours), differing);

    // --- position model ---------------------------------------------------------
    const cv::Mat img = load("aloeL.jpg");
    const cv::Rect window(141, 155, 1000, 800), modelRect(300, 250, 400, 300);
    const cv::Point2d ref(200, 150), refIn = cv::Point2d(modelRect.tl()) + ref;
    const cv::Mat modelImg = img(window)(modelRect).clone();
    FindShape shape;
    auto c0 = Clock::now();
    shape.CreateShape(modelImg, 0.0, 0, 15.0, ref.x, ref.y, false, 255, cv::Mat(), 3, 0);
    const double createMs = ms(c0, Clock::now());
    std::uniform_real_distribution<double> ua(-14.5, 14.5), ud(-40, 40);
    std::vector<double> tOurs, posErr, angErr;
    std::vector<cv::Mat> searches;
    std::vector<cv::Vec3d> truth;
    for (int k = 0; k < runs; ++k) {
        const double angle = ua(rng), dx = ud(rng), dy = ud(rng);
        const double a = angle * CV_PI / 180.0, c = std::cos(a), s = std::sin(a);
        const cv::Point2d p0 = cv::Point2d(window.tl()) + refIn, t = p0 + cv::Point2d(dx, dy);
        const cv::Mat m = (cv::Mat_<double>(2, 3) << c, s, t.x - (c * p0.x + s * p0.y), -s, c, t.y - (-s * p0.x + c * p0.y));
        cv::Mat warped;
        cv::warpAffine(img, warped, m, img.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
        searches.push_back(warped(window).clone());
        truth.emplace_back(refIn.x + dx, refIn.y + dy, angle);
    }
    int found = 0;
    for (int k = 0; k < runs; ++k) {
        double x, y, angle, score;
        auto a = Clock::now();
        const bool ok = shape.Find(searches[size_t(k)], 0, x, y, angle, score);
        tOurs.push_back(ms(a, Clock::now()));
        if (ok) {
            ++found;
            posErr.push_back(std::hypot(x - truth[size_t(k)][0], y - truth[size_t(k)][1]));
            angErr.push_back(std::fabs(angle - truth[size_t(k)][2]));
        }
    }
    std::vector<double> tBase;
    for (int k = 0; k < std::min(runs, 5); ++k) {
        auto a = Clock::now();
        double best = -2;
        for (int deg = -15; deg <= 15; ++deg) {
            const cv::Mat r = cv::getRotationMatrix2D(cv::Point2f(float(ref.x), float(ref.y)), deg, 1.0);
            cv::Mat turned, result;
            cv::warpAffine(modelImg, turned, r, modelImg.size());
            cv::matchTemplate(searches[size_t(k)], turned, result, cv::TM_CCOEFF_NORMED);
            double mx;
            cv::minMaxLoc(result, nullptr, &mx);
            best = std::max(best, mx);
        }
        tBase.push_back(ms(a, Clock::now()));
    }
    std::printf("position    400x300 model in 1000x800, +-15 deg: ours %.2f ms, baseline %.1f ms, ratio %.1fx\n",
                median(tOurs), median(tBase), median(tBase) / median(tOurs));
    std::printf("            found %d/%d, position error median %.3f max %.3f px, angle error median %.3f max %.3f deg, model %.1f ms\n",
                found, runs, posErr.empty() ? -1 : median(posErr),
                posErr.empty() ? -1 : *std::max_element(posErr.begin(), posErr.end()),
                angErr.empty() ? -1 : median(angErr), angErr.empty() ? -1 : *std::max_element(angErr.begin(), angErr.end()),
                createMs);
    return 0;
}
