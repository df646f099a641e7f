#pragma once
// Which camera kind the station has, how many, and the working image size:
// found once at start-up, before any camera is opened, and fixed for the run.
#include <QString>
#include <QStringList>
#include <functional>

// Camera kinds: 0 none (simulation or replay), 4 Daheng, 5 IDS, 6 MindVision,
// 7 Hikvision, 9 USB video, 12 dvp, 13 GenICam (GigE Vision / USB3 Vision through Aravis).
constexpr int kKindNone = 0, kKindDaheng = 4, kKindIds = 5, kKindMind = 6, kKindHik = 7, kKindUsb = 9,
              kKindDvp = 12, kKindGenicam = 13;

extern int gCamNO[8];         // index chosen for each opened camera on the camera-order page
extern int gisLost;           // 1 while cameras are lost
extern int gLost;             // losses since start

struct DetectionResult {
    int kind = kKindNone;
    int found = 2;
    int sensorW = 0, sensorH = 0;
    int width = 1920, height = 1080;
    bool sensorColour = false;
    int repaired = 0;       // GigE cameras given a new address
    QStringList log;        // what each SDK said, in order
};

// The tries in their fixed order; each can be replaced by a test.
struct DetectionProbes {
    std::function<int()> repairGige;   // RepairAllCameraIP
    std::function<int()> ensureHikReach;
    // Each probe fills r and returns true when its kind has cameras.
    std::function<bool(DetectionResult& r, bool cut)> daheng, ids, mind, dvp, usb, hik, genicam;
    std::function<void(int ms)> wait;  // the 6 s after a repair; IDS's 3 s
    static DetectionProbes real();
};

// Runs the detection: GigE address repair (and 6 s when cameras were moved),
// then Daheng, IDS, MindVision, dvp, USB video, Hikvision, GenICam; kind 0
// with two cameras at 1920 x 1080 when none has cameras. cut: the sensor may
// be cropped (gisCut). An SDK that does not answer within its bound is logged
// and skipped.
DetectionResult RunDetection(const DetectionProbes& probes, bool cut, int sdkTimeoutMs = 15000);

// The start-up step: STATION_CAMERA=replay:... forces kind 0 with the replay's
// cameras and size; otherwise RunDetection with the real probes. Sets gCameraID,
// gFindCamera, gOW, gOH, gImageW, gImageH, gSensorColor, gImageLen, gColorLen.
DetectionResult CheckCameraID();
// Applies a result to the globals (gColorLen from gisColor).
void ApplyDetection(const DetectionResult& r);

// Cameras in the kernel's input-device list ("Camera" in a line of it).
int CheckUSBCameraNum(const QString& devicesFile = QStringLiteral("/proc/bus/input/devices"));

// Working size of a vendor's sensor width (the rules of each kind).
void DahengWorkingSize(int ow, int oh, bool cut, int& w, int& h);
void MindWorkingSize(int ow, int oh, bool cut, int presetW, int presetH, int& w, int& h);

// The replay cameras of STATION_CAMERA: the folder's "camera1" .. "camera8"
// subfolders (one camera each) or the folder itself for two cameras; the
// size of their first picture.
struct ReplaySetup {
    QStringList sources;  // per camera index
    int width = 1920, height = 1080;
};
ReplaySetup ReplayCameras(const QString& source);
