#pragma once
// The station as main() builds it, in this process: a factory directory with
// four regions and a template on camera 1's mould detection (a real
// photograph), the board simulator on a pseudo-terminal and a replayed camera
// whose scene the test replaces. The pages are the station's own, with its
// own boxes and keypads; the operator acts by taps (tests/support/Touch.h).
#include "BoardSim.h"
#include "DiVeZoruzo.h"
#include "TestDir.h"

#include <QList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <opencv2/core.hpp>
#include <tuple>

class WizardPara;

// The mould detection of camera 1: four regions over the right half of the
// scene (the four quarters of x 230..429, y 20..339), the scene as its template.
void trainMouldDetection(const WizardPara& wp, const cv::Mat& scene);

struct StationRig : ::testing::Test {
    TestDir dir;
    cv::Mat scene;  // grey, as the camera delivers it
    std::unique_ptr<BoardSim> board;
    std::unique_ptr<DiVeZoruzo> station;
    // (camera, detection, ok) of every judgement since start(), in order.
    QList<std::tuple<int, int, bool>> verdicts;

    void SetUp() override;
    void TearDown() override;

    // The parameters beyond the rig's own (before start()).
    std::function<void(WizardPara&)> configure;
    // Saves the set-up, builds the station and waits until it detects on the scene.
    void start();
    // The scene with a dark blemish where the regions look.
    cv::Mat blemish() const;
    // The camera looks at img from now on: true once its picture is img.
    bool show(const cv::Mat& img);
    // The mould closes and opens (input 1) and the station judges it: true
    // when a new judgement came.
    bool openMould();
    DetectionCycle* cycle() const { return station->cycle(); }
    // The cycle's state and the last record lines, for a failure's message.
    std::string state() const;
};
