#pragma once
// Process-wide state of the station. Each name is defined once, here; the
// parts that use it receive it explicitly where a test must build them alone.
#include <QMutex>
#include <QString>
#include <atomic>

constexpr int kMaxCameras = 8;
constexpr int kMaxDetections = 8;

extern int gLan;                 // 0 Simplified Chinese, 1 English, 2 Traditional Chinese
extern int gfLED;                // descriptor of the backlight/LED device, negative when absent
extern quint8 m_F75111;          // bus address of the on-board GPIO chip
extern QString gAppDirPath;

extern int numCamera, gFindCamera, gCameraID;
extern int gImageW, gImageH, gImageLen, gColorLen;
extern int gShowW, gShowH;
extern float gShowAW, gShowAH;
extern int gisColor, gisGrayHue, gisCut, gisCOM, gTempNum, gPicNumNG, gPicNumOK, gisUseStatistics;
extern int gUseExternalTrigger;

// Current access level: 2 advanced, 1 primary, 0 not logged in.
extern std::atomic<int> gPasswordLevel;

extern QMutex* pMutexIO;
extern QMutex* pMutexSaveFail;
extern QMutex* pMutex[kMaxCameras];
extern std::atomic<bool> isImageFill[kMaxCameras];

// Set when start-up recovered a database and asked for a reboot: the station
// must not start detecting on the restored factory data before it restarts.
extern std::atomic<bool> gRebootPending;
// Set when a database and its factory copy are both unusable: the station
// keeps clamping prohibited and never starts detecting in this run.
extern std::atomic<bool> gDatabaseFault;

// Step 6 of start-up: the shared locks and frame flags.
void createGlobalLocks();
