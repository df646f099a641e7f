#pragma once
// Stand-in for the part of MindVision's SDK (libMVSDK) the station calls;
// simulated devices whose frames are taken with CameraGetImageBuffer. Built
// only when the real SDK is not linked (STATION_REAL_MINDVISION).
typedef int CameraHandle;
typedef int CameraSdkStatus;
typedef unsigned int UINT;
typedef unsigned char BYTE;
typedef int BOOL;
#define CAMERA_STATUS_SUCCESS 0
#define CAMERA_STATUS_FAILED (-1)
#define CAMERA_STATUS_TIME_OUT (-12)
#define CAMERA_MEDIA_TYPE_MONO8 0x01080001
#define CAMERA_MEDIA_TYPE_RGB8 0x02180014

// Names and layouts as in the vendor's CameraDefine.h (one range type per
// feature, the capability record's own spelling), so the station builds
// against the real header unchanged.
typedef void* PVOID;
typedef int INT;
typedef struct {
    char acProductSeries[32];
    char acProductName[32];
    char acFriendlyName[32];
    char acLinkName[32];
    char acDriverVersion[32];
    char acSensorType[32];
    char acPortType[32];
    char acSn[32];
    UINT uInstance;
} tSdkCameraDevInfo;
typedef struct {
    INT iHeightMax, iHeightMin, iWidthMax, iWidthMin;
    UINT uSkipModeMask, uBinSumModeMask, uBinAverageModeMask, uResampleMask;
} tSdkResolutionRange;
typedef struct {
    INT iIndex;
    char acDescription[32];
    UINT uBinSumMode, uBinAverageMode, uSkipMode, uResampleMask;
    INT iHOffsetFOV, iVOffsetFOV, iWidthFOV, iHeightFOV, iWidth, iHeight;
    INT iWidthZoomHd, iHeightZoomHd, iWidthZoomSw, iHeightZoomSw;
} tSdkImageResolution;
typedef struct {
    UINT uiTargetMin, uiTargetMax, uiAnalogGainMin, uiAnalogGainMax;
    float fAnalogGainStep;
    UINT uiExposeTimeMin, uiExposeTimeMax;
} tSdkExpose;
typedef struct { INT iMin, iMax; } tGammaRange;
typedef struct { INT iMin, iMax; } tContrastRange;
typedef struct { INT iMin, iMax; } tSharpnessRange;
typedef struct {
    BOOL bMonoSensor, bWbOnce, bAutoWb, bAutoExposure, bManualExposure, bAntiFlick, bDeviceIsp, bForceUseDeviceIsp,
        bZoomHD;
} tSdkIspCapacity;
typedef struct {
    tSdkImageResolution* pImageSizeDesc;
    INT iImageSizeDesc;
    tSdkExpose sExposeDesc;
    tSdkResolutionRange sResolutionRange;
    tGammaRange sGammaRange;
    tContrastRange sContrastRange;
    tSharpnessRange sSharpnessRange;
    tSdkIspCapacity sIspCapacity;
} tSdkCameraCapbility;
typedef struct {
    UINT uiMediaType;
    UINT uBytes;
    INT iWidth, iHeight, iWidthZoomSw, iHeightZoomSw;
    BOOL bIsTrigger;
    UINT uiTimeStamp, uiExpTime;
    float fAnalogGain;
    INT iGamma, iContrast, iSaturation;
    float fRgain, fGgain, fBgain;
} tSdkFrameHead;
typedef void (*CAMERA_CONNECTION_STATUS_CALLBACK)(CameraHandle h, UINT msg, UINT param, PVOID context);

CameraSdkStatus CameraSdkInit(int language);
CameraSdkStatus CameraEnumerateDevice(tSdkCameraDevInfo* list, int* count);
CameraSdkStatus CameraInit(tSdkCameraDevInfo* info, int paramLoad, int paramTeam, CameraHandle* h);
CameraSdkStatus CameraUnInit(CameraHandle h);
CameraSdkStatus CameraGetCapability(CameraHandle h, tSdkCameraCapbility* cap);
CameraSdkStatus CameraSetImageResolution(CameraHandle h, tSdkImageResolution* res);
CameraSdkStatus CameraSetIspOutFormat(CameraHandle h, UINT format);
CameraSdkStatus CameraSetMonochrome(CameraHandle h, BOOL on);
CameraSdkStatus CameraSetWbMode(CameraHandle h, BOOL automatic);
CameraSdkStatus CameraSetMediaType(CameraHandle h, int index);
CameraSdkStatus CameraSetFrameSpeed(CameraHandle h, int speed);
CameraSdkStatus CameraSetConnectionStatusCallback(CameraHandle h, CAMERA_CONNECTION_STATUS_CALLBACK cb, void* ctx);
CameraSdkStatus CameraCommonCall(CameraHandle h, const char* cmd, char* result, UINT len);
CameraSdkStatus CameraPlay(CameraHandle h);
CameraSdkStatus CameraStop(CameraHandle h);
CameraSdkStatus CameraGetImageBuffer(CameraHandle h, tSdkFrameHead* head, BYTE** buf, UINT timeout);
CameraSdkStatus CameraImageProcess(CameraHandle h, BYTE* raw, BYTE* out, tSdkFrameHead* head);
CameraSdkStatus CameraReleaseImageBuffer(CameraHandle h, BYTE* buf);
CameraSdkStatus CameraSetTriggerMode(CameraHandle h, int mode);
CameraSdkStatus CameraSetAeState(CameraHandle h, BOOL on);
CameraSdkStatus CameraSetExposureTime(CameraHandle h, double us);
CameraSdkStatus CameraSetAnalogGain(CameraHandle h, int gain);
CameraSdkStatus CameraSetSharpness(CameraHandle h, int v);
CameraSdkStatus CameraSetContrast(CameraHandle h, int v);
CameraSdkStatus CameraSetGamma(CameraHandle h, int v);
CameraSdkStatus CameraSetOnceWB(CameraHandle h);
CameraSdkStatus CameraSetMirror(CameraHandle h, int dir, BOOL on);
CameraSdkStatus CameraLoadParameter(CameraHandle h, int team);
CameraSdkStatus CameraGetExposureTime(CameraHandle h, double* us);
CameraSdkStatus CameraGetAnalogGain(CameraHandle h, int* v);
CameraSdkStatus CameraGetSharpness(CameraHandle h, int* v);
CameraSdkStatus CameraGetContrast(CameraHandle h, int* v);
CameraSdkStatus CameraGetGamma(CameraHandle h, int* v);
CameraSdkStatus CameraSdkGetVersionString(char* version);
CameraSdkStatus CameraUSBDeviceInit();
CameraSdkStatus CameraReadSN(CameraHandle h, BYTE* sn, INT level);

// Stand-in only: a device's connection goes away (state 0 to its callback).
void MindStandInDisconnect(const char* serial);
