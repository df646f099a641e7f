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

#include <QList>
#include <QStringList>

#include <functional>

class WizardPara;

// Region functions.
enum RoiFunction {
    FuncDefect = 0, FuncSpot = 1, FuncIgnore = 2, FuncPosition = 3, FuncBlack = 4, FuncWhite = 5,
    FuncSimilarity = 6, FuncWhiteNumber = 7, FuncDirection = 8, FuncDistance = 9
};

// Report record of one judged region, sent with the statistics.
struct param_roi {
    int camera_id, detect_id, roi_id, algorithm_type, algorithm_result, algorithm_premin, algorithm_premax, is_alarm;
};
extern QList<param_roi> g_listParamROI;

// What one region's measurement found (distance measurement).
struct Measurement {
    int mode = 0;    // reference points from training: 1 or 2 (0 none)
    int found = 0;   // points found now: 0, 1 or 2
    cv::Point ref1, ref2, p1, p2;
};

// One alarm rectangle, inclusive: left, top, right, bottom.
using AlarmRect = cv::Vec4i;
constexpr int kMaxAlarmRects = 99;

// The function step that follows `current` among the enabled ones (0..9,
// wrapping), with that function's defaults written into p. Returns -1 when
// no function is enabled.
int NextFunction(int current, const WizardPara& wp, RoiParam& p);

// Proposes region 0 of detection d around what differs between the base
// templates of detections 0 and 1. Returns false when nothing differs.
bool AutogenerationRegion(CammerSingleton& para, const TemplateStore& store, int d, const WizardPara& wp);

struct DistanceRef {
    int mode = 0;  // 0 none, 1 one reference point, 2 two
    cv::Point2d p1, p2;
    double score = 0;  // x of the point (mode 1) or the distance (mode 2)
};

// Why a region could not be judged (it is NG with the code in its record line).
enum RegionError {
    RegionOk = 0,
    ErrNoMask = -1,        // no usable mask: no geometry, nothing inside, or not the size of its rectangle
    ErrNoDetectMask = -2,  // the detection mask is empty
    ErrBadRect = -3,       // the rectangle is empty or leaves the image
    ErrUntrained = -4,     // the region's model is not trained
    ErrLibrary = -5        // the image library refused the region
};

// Margin of the difference model's crops around a region.
constexpr int kDiffMargin = 2;

class CammerRecong {
public:
    // Trains every detection the machine mode enables.
    CammerRecong(CammerSingleton* para, TemplateStore* store, const WizardPara* wp);

    void VarTrain(int d);
    // Returns false when motion correction is on but no position model could
    // be made (a dim or low-contrast part); that is recorded and announced.
    bool CreateShape(int d);
    // Motion correction: corrected is the frame moved (and turned) back onto
    // the trained position, or a copy of frame when nothing is corrected.
    // valid (optional) is 255 where the corrected frame shows the camera's
    // picture and 0 where the move brought in pixels from outside it (empty
    // when nothing was moved). Returns true when a correction was applied.
    bool ShapeMatch(int d, const cv::Mat& frame, cv::Mat& corrected, cv::Mat* valid = nullptr);

    // The plane a region is judged on: the grey frame, or for colour cameras
    // its grey or hue plane.
    cv::Mat plane(const cv::Mat& frame) const;

    // Judges every region of detection d on frame (already corrected).
    // report: the cycle marked this run for the statistics report. valid:
    // ShapeMatch's mask; pixels outside it are not judged.
    void Run(int d, const cv::Mat& frame, bool report = false, const cv::Mat& valid = cv::Mat());
    // Recomputes one region for the editor on image; no verdict, no record.
    void RunTest(int d, int r, const cv::Mat& image);

    // --- results of the last run ---
    int cameraVerdict = 1;                     // 1 OK, 0 NG
    unsigned char regionVerdict[8][kMaxRoi] = {};
    int score[8][kMaxRoi] = {};
    int alarmCount[8][kMaxRoi] = {};
    std::vector<AlarmRect> alarms[8][kMaxRoi];  // at most 99 each
    Measurement measure[8][kMaxRoi];
    cv::Mat alarmImage;                        // 255 where a region found something
    int premin[8][kMaxRoi] = {}, premax[8][kMaxRoi] = {};
    int regionError[8][kMaxRoi] = {};          // RegionError of the last run

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

    // Shows a message (number and arguments) to the operator; set by the station.
    std::function<void(int message, const QStringList& args)> warn;

    static constexpr int kMessageNoPositionModel = 1705;

private:
    // The function, filtering and scoring of one region; returns false with
    // a RegionError in *error when the region cannot be judged.
    bool judgeRegion(int d, int r, const cv::Mat& cur, const cv::Mat& valid, bool test, int* error);
    void logError(int d, int r, int code);

    CammerSingleton* m_para;
    TemplateStore* m_store;
    const WizardPara* m_wp;
};
