#pragma once
// The inspection regions of one camera: per detection up to 50 regions with
// their shape, their parameters and their NG counters, stored in the table
// "cammer<index>" of PARAM.db.
#include "Shapes.h"

#include <QString>

#include <functional>
#include <vector>

class WizardPara;

constexpr int kMaxRoi = 50;
constexpr int kDetectFlags = 16;

enum RoiShape { ShapeRect = 1, ShapePolygon = 2, ShapeCircle = 4 };

struct RoiParam {
    int min_size = 0, sensibility = 0, max_area = 0, algorithm = 0, roi_shape = 0, output_point = 0;
    bool operator==(const RoiParam&) const = default;
};

class CammerSingleton {
public:
    explicit CammerSingleton(int cameraIndex);

    // Shows a message (by number) in the warning box.
    using Warn = std::function<void(int message)>;

    void LoadDatafromFile(const Warn& warn = {});
    bool SaveDatatoFile();
    // Run after every successful save (the service link reports the regions).
    static std::function<void(const CammerSingleton&)> savedHook;

    QString tableName() const;
    // The shape of a region by its roi_shape, or nullptr for none.
    RegionShape* shape(int d, int r);
    const RegionShape* shape(int d, int r) const;
    // The region's mask (255 inside), empty for no geometry.
    cv::Mat mask(int d, int r) const;

    // Editor operations on an edit copy. Each returns the new region's slot,
    // or -1 with *message set when refused.
    int AddRect(int d, cv::Point a, cv::Point b, const WizardPara& p, int* message = nullptr);
    int AddCircle(int d, cv::Point centre, int outer, int inner, const WizardPara& p, int* message = nullptr);
    int AddPolygon(int d, std::vector<cv::Point> points, const WizardPara& p, int* message = nullptr);
    void DeleteROI(int d, int r);
    // Copies geometry to the partner detections of the machine mode.
    void CopyPara(int machineMode);
    // Whether the editor's copy differs from this one (NG counters aside: they
    // move with production while the editor is open).
    bool differsFrom(const CammerSingleton& other) const;

    int camera_index;
    int roi_count[8] = {};
    int detect_flags[8][kDetectFlags] = {};
    int roi_ng_count[8][kMaxRoi] = {};
    RoiParam roi[8][kMaxRoi];
    ClustomRect rects[8][kMaxRoi];
    Circle circles[8][kMaxRoi];
    RePolygon polys[8][kMaxRoi];

    static constexpr int kMessageTooMany = 1337;
    static constexpr int kMessageFileError = 1600;

private:
    int prepareNew(int d, const WizardPara& p, int* message);
    void setDefaultRegion(int d, int r);
    QString geometryText(int d, int r) const;
    void copyRegion(int dd, int rd, int ds, int rs, bool withParams);
};
