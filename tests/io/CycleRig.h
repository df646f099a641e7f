#pragma once
// A station's cycle on the bench: a factory directory, the board simulator on
// a pseudo-terminal, cameras whose frames the test hands over, regions and
// templates trained on a real photograph, and the cycle driven tick by tick.
#include "BoardSim.h"
#include "CameraSet.h"
#include "ControlPort.h"
#include "DetectionCycle.h"
#include "InputSampler.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QList>
#include <gtest/gtest.h>
#include <memory>
#include <opencv2/core.hpp>
#include <tuple>

// Logical outputs, bit k-1 for output k.
constexpr int O1 = 1 << 0, O2 = 1 << 1, O3 = 1 << 2, O4 = 1 << 3, O5 = 1 << 4, O6 = 1 << 5, O7 = 1 << 6,
              O8 = 1 << 7, O9 = 1 << 8;

struct CycleRig : ::testing::Test {
    TestDir dir;
    WizardPara wp;
    cv::Mat scene;
    std::unique_ptr<BoardSim> board;
    std::unique_ptr<ControlPort> io;
    std::unique_ptr<InputSampler> in;
    std::unique_ptr<CameraManager> cams;
    std::unique_ptr<DetectionCycle> cycle;
    // (camera, detection, ok) of every judgement, in order.
    QList<std::tuple<int, int, bool>> verdicts;

    // Set before start(): no board simulator, the IO words are the board
    // (long randomized runs; no serial round trip per input).
    bool directBoard = false;

    void SetUp() override;
    void TearDown() override;

    // Saves wp (the derived settings follow), trains every enabled detection
    // of every camera on the scene (even detections on the left half of the
    // picture, odd ones on the right), connects the board and starts detecting.
    void start(int cameras = 1);
    // The scene with a dark blemish where detection d's regions look.
    cv::Mat blemishFor(int d) const;
    // Camera c delivers img now and keeps streaming it: every tick() delivers
    // a new frame of what each streaming camera shows, as a camera in
    // continuous acquisition does.
    void see(int c, const cv::Mat& img);
    void seeAll(const cv::Mat& img);
    // Camera c stops streaming (it keeps its last frame); see() starts it again.
    void silence(int c);
    // One polling tick, run here and not again by its timer.
    void tick();
    // Input k (from 1) at the board, waited for until the link has it.
    void input(int k, bool on);
    // Input k rises, one tick sees it and one more brings the cameras' next
    // frames, the first a detection without delay may judge.
    void edge(int k);
    // The mould opens (input 1 falls first if it was high) and a tick sees it.
    void openMould();
    // The logical outputs equal want in the cycle's word and at the board.
    ::testing::AssertionResult outputs(int want);
    int logicalOutputs() const;
    int judgedCount(int d) const;
    // Collects the judgements of the cycle now in place (again after a new one).
    void followVerdicts();

private:
    WizardPara* m_previousWPara = nullptr;
    cv::Mat m_showing[8];
};
