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

struct tSdkCameraDevInfo {
    char acFriendlyName[64];
    char acSn[32];
};
struct tSdkExpose {
    UINT uiAnalogGainMin, uiAnalogGainMax;
    UINT uiExposeTimeMin, uiExposeTimeMax;
};
struct tRange {
    int iMin, iMax;
};
struct tSdkCameraCapability {
    tSdkExpose sExposeDesc;
    tRange sSharpnessRange, sContrastRange, sGammaRange;
    int sIspColor;  // 1 colour sensor
};
struct tSdkImageResolution {
    int iIndex;
    int iHOffsetFOV, iVOffsetFOV, iWidthFOV, iHeightFOV, iWidth, iHeight;
};
struct tSdkFrameHead {
    int iWidth, iHeight;
    UINT uiMediaType, uBytes;
};
typedef void (*CAMERA_CONNECTION_STATUS_CALLBACK)(CameraHandle h, UINT msg, UINT param, void* context);

CameraSdkStatus CameraSdkInit(int language);
CameraSdkStatus CameraEnumerateDevice(tSdkCameraDevInfo* list, int* count);
CameraSdkStatus CameraInit(tSdkCameraDevInfo* info, int paramLoad, int paramTeam, CameraHandle* h);
CameraSdkStatus CameraUnInit(CameraHandle h);
CameraSdkStatus CameraGetCapability(CameraHandle h, tSdkCameraCapability* cap);
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
CameraSdkStatus CameraGetSDKVersion(char* version);

// Stand-in only: a device's connection goes away (state 0 to its callback).
void MindStandInDisconnect(const char* serial);
