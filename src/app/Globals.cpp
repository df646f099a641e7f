#include "Globals.h"

int gLan = 0;
int gfLED = -1;
quint8 m_F75111 = 0;
QString gAppDirPath;

int numCamera = 0, gFindCamera = 0, gCameraID = 0;
int gImageW = 0, gImageH = 0, gImageLen = 0, gColorLen = 0;
int gShowW = 0, gShowH = 0;
float gShowAW = 1.0f, gShowAH = 1.0f;
int gisColor = 0, gisGrayHue = 0, gisCut = 0, gisCOM = 0, gTempNum = 0, gPicNumNG = 0, gPicNumOK = 0,
    gisUseStatistics = 0;
int gUseExternalTrigger = 0;

std::atomic<int> gPasswordLevel{0};

QMutex* pMutexIO = nullptr;
QMutex* pMutexSaveFail = nullptr;
QMutex* pMutex[kMaxCameras] = {};
std::atomic<bool> isImageFill[kMaxCameras];

std::atomic<bool> gRebootPending{false};
std::atomic<bool> gDatabaseFault{false};

void createGlobalLocks()
{
    if (!pMutexIO)
        pMutexIO = new QMutex;
    if (!pMutexSaveFail)
        pMutexSaveFail = new QMutex;
    for (int i = 0; i < kMaxCameras; ++i) {
        if (!pMutex[i])
            pMutex[i] = new QMutex;
        isImageFill[i] = false;
    }
}
