// Run on a 1920 x 1080 grey frame with 50 regions (30 defect, 10 spot / black /
// white area, 5 similarity, 5 white number) trained on 10 templates, one
// thread; against the same regions done plainly with OpenCV (per region: crop,
// absdiff with each template, minimum, threshold, open, connected components).
#include "CammerRecong.h"
#include "BenchUtil.h"
#include "ImageLib.h"
#include "Messages.h"
#include "Variants.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

namespace {
using Clock = BenchClock;
constexpr auto ms = msBetween;
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LoadLanStr();
    const int runs = argc > 1 ? std::max(5, atoi(argv[1])) : 31;
    QTemporaryDir tmp;
    QDir::setCurrent(tmp.path());
    const cv::Mat src = cv::imread("/usr/share/doc/opencv-doc/examples/data/fruits.jpg", cv::IMREAD_GRAYSCALE);
    if (src.empty()) {
        std::fprintf(stderr, "bench: sample photograph missing (./station.sh deps)\n");
        return 1;
    }
    const int W = 1920, H = 1080;
    cv::Mat scene;
    cv::resize(src, scene, cv::Size(W, H));
    SetImageBounds(W, H);
    std::mt19937 rng(3);
    auto seen = [&] { return seenAgain(scene, rng); };
    WizardPara wp;
    wp.detect_enable[0] = 1;
    wp.enable_correct = -1;
    wp.minimum_size = 3;
    wp.minimum_area = 100;
    wp.min_spot = 3;
    wp.difference_multiplier = 1;
    wp.enable_defect_detect = 1;
    TemplateStore store(0, 10, W, H, false);
    store.LoadAll();
    std::vector<cv::Mat> temps;
    for (int t = 0; t < 10; ++t)
        temps.push_back(seen());
    store.SaveReTrainImage(0, temps[0]);
    for (int t = 1; t < 10; ++t)
        store.AddTemplate(0, temps[size_t(t)]);

    // 50 regions of 144 x 144 on a 10 x 5 grid: half the frame.
    CammerSingleton para(0);
    std::vector<cv::Rect> rects;
    for (int i = 0; i < 50; ++i) {
        const cv::Rect r(60 + (i % 10) * 180, 60 + (i / 10) * 200, 144, 144);
        rects.push_back(r);
        para.AddRect(0, r.tl(), r.br() - cv::Point(1, 1), wp);
        RoiParam& p = para.roi[0][i];
        if (i < 30)
            p = {3, 45, 100, FuncDefect, ShapeRect, 0};
        else if (i < 34)
            p = {0x0028, 0, 20000, FuncSpot, ShapeRect, 0};
        else if (i < 37)
            p = {0, 40, 20000, FuncBlack, ShapeRect, 0};
        else if (i < 40)
            p = {0, 220, 20000, FuncWhite, ShapeRect, 0};
        else if (i < 45)
            p = {0, 60, 0, FuncSimilarity, ShapeRect, 0};
        else
            p = {1, 230, 0x100000, FuncWhiteNumber, ShapeRect, 0};
    }
    CammerRecong engine(&para, &store, &wp);
    const cv::Mat frame = seen();

    std::vector<double> ours, base;
    int ng = 0;
    for (int k = 0; k < runs; ++k) {
        auto a = Clock::now();
        engine.Run(0, frame);
        ours.push_back(ms(a, Clock::now()));
        ng += engine.cameraVerdict == 0;

        a = Clock::now();
        const cv::Mat el = cv::getStructuringElement(cv::MORPH_ELLIPSE, {3, 3});
        for (const cv::Rect& r : rects) {
            cv::Mat best, d, labels, stats, cents;
            for (size_t t = 0; t < temps.size(); ++t) {
                cv::absdiff(frame(r), temps[t](r), d);
                if (t == 0)
                    best = d.clone();
                else
                    cv::min(best, d, best);
            }
            cv::threshold(best, best, 40, 255, cv::THRESH_BINARY);
            cv::morphologyEx(best, best, cv::MORPH_OPEN, el);
            cv::connectedComponentsWithStats(best, labels, stats, cents, 8);
        }
        base.push_back(ms(a, Clock::now()));
    }
    for (int i = 0; i < 50; ++i)
        if (!engine.regionVerdict[0][i])
            std::printf("region %d (function %d) NG, score %d\n", i + 1, para.roi[0][i].algorithm, engine.score[0][i]);
    std::printf("Run, 50 regions on 1920x1080, 10 templates: ours %.2f ms, baseline %.2f ms, ratio %.1fx (%d of %d runs NG)\n",
                median(ours), median(base), median(base) / median(ours), ng, runs);
    return 0;
}
