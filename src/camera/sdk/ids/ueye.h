#pragma once
// Stand-in for the part of IDS's uEye SDK (libueye_api) the station calls;
// simulated devices that write frames into the image memory the station
// allocated. Built only when the real SDK is not linked (STATION_REAL_IDS).
typedef unsigned int HIDS;
typedef int INT;
typedef unsigned int UINT;
typedef void* HWND;
#define IS_SUCCESS 0
#define IS_NO_SUCCESS (-1)
#define IS_USE_DEVICE_ID 0x8000
#define IS_CM_MONO8 6
#define IS_AOI_IMAGE_SET_SIZE 5
#define IS_SET_ENABLE_AUTO_GAIN 0x8800
#define IS_SET_ENABLE_AUTO_SHUTTER 0x8802
#define IS_PIXELCLOCK_CMD_SET 6
#define IS_EXPOSURE_CMD_SET_EXPOSURE 12
#define IS_GAMMA_CMD_SET 1
#define IS_FORCE_VIDEO_STOP 0x4000
#define IS_DONT_WAIT 0

struct CAMINFO {
    char SerNo[12];
};
typedef unsigned short WORD;
typedef unsigned int DWORD;
typedef char IS_CHAR;
#define IS_COLORMODE_MONOCHROME 1
#define IS_COLORMODE_BAYER 2
struct SENSORINFO {
    WORD SensorID;
    IS_CHAR strSensorName[32];
    char nColorMode;
    DWORD nMaxWidth;
    DWORD nMaxHeight;
};
struct IS_SIZE_2D {
    INT s32Width, s32Height;
};

INT is_GetNumberOfCameras(INT* count);
INT is_InitCamera(HIDS* h, HWND hwnd);
INT is_ExitCamera(HIDS h);
INT is_GetCameraInfo(HIDS h, CAMINFO* info);
INT is_GetSensorInfo(HIDS h, SENSORINFO* info);
INT is_SetColorMode(HIDS h, INT mode);
INT is_AllocImageMem(HIDS h, INT width, INT height, INT bits, char** mem, INT* id);
INT is_SetImageMem(HIDS h, char* mem, INT id);
INT is_FreeImageMem(HIDS h, char* mem, INT id);
INT is_AOI(HIDS h, UINT cmd, void* param, UINT size);
INT is_SetAutoParameter(HIDS h, INT param, double* v1, double* v2);
INT is_SetHardwareGamma(HIDS h, INT mode);
INT is_PixelClock(HIDS h, UINT cmd, void* param, UINT size);
INT is_CaptureVideo(HIDS h, INT wait);
INT is_StopLiveVideo(HIDS h, INT wait);
INT is_Exposure(HIDS h, UINT cmd, void* param, UINT size);
INT is_SetHardwareGain(HIDS h, INT master, INT red, INT green, INT blue);
INT is_Gamma(HIDS h, UINT cmd, void* param, UINT size);
