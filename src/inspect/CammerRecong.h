#pragma once
// The recognition engine of one camera: for each detection the models its
// regions are judged against, trained from the camera's templates, and the
// position model that corrects a displaced part before judging.
#include "CammerSingleton.h"
#include "EdgeMeasure.h"
#include "FindShape.h"
#include "GrayMatch.h"
#include "Similarity.h"
#include "TemplateStore.h"

class WizardPara;

// Region functions.
enum RoiFunction {
    FuncDefect = 0, FuncSpot = 1, FuncIgnore = 2, FuncPosition = 3, FuncBlack = 4, FuncWhite = 5,
    FuncSimilarity = 6, FuncWhiteNumber = 7, FuncDirection = 8, FuncDistance = 9
};

struct DistanceRef {
    int mode = 0;  // 0 none, 1 one reference point, 2 two
    cv::Point2d p1, p2;
    double score = 0;  // x of the point (mode 1) or the distance (mode 2)
};

class CammerRecong {
public:
    // Trains every detection the machine mode enables.
    CammerRecong(CammerSingleton* para, TemplateStore* store, const WizardPara* wp);

    void VarTrain(int d);
    void CreateShape(int d);
    // Motion correction: corrected is the frame moved (and turned) back onto
    // the trained position, or a copy of frame when nothing is corrected.
    // Returns true when a correction was applied.
    bool ShapeMatch(int d, const cv::Mat& frame, cv::Mat& corrected);

    // The plane a region is judged on: the grey frame, or for colour cameras
    // its grey or hue plane.
    cv::Mat plane(const cv::Mat& frame) const;

    GrayMatch diff[8][kMaxRoi];
    SURF sim[8][kMaxRoi];
    DistanceRef dist[8][kMaxRoi];
    FindShape shape[8];
    cv::Mat detectMask[8];       // 255 = inspect
    cv::Point2d reference[8];
    cv::Rect searchRect[8];
    // Last correction of each detection: shift and angle.
    cv::Point2d lastShift[8];
    double lastAngle[8] = {};

private:
    CammerSingleton* m_para;
    TemplateStore* m_store;
    const WizardPara* m_wp;
};
