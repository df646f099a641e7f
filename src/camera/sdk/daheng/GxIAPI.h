#pragma once
// Stand-in for the part of Daheng's Galaxy SDK (libgxiapi) the station calls;
// simulated devices whose frames are taken with GXGetImage. Built only when
// the real SDK is not linked (STATION_REAL_DAHENG).
#include <cstdint>

typedef int32_t GX_STATUS;
typedef void* GX_DEV_HANDLE;
typedef int32_t GX_FEATURE_ID;
enum { GX_STATUS_SUCCESS = 0, GX_STATUS_ERROR = -1, GX_STATUS_NOT_FOUND_DEVICE = -3, GX_STATUS_TIMEOUT = -14,
       GX_STATUS_INVALID_HANDLE = -8 };
enum GX_OPEN_MODE_CMD { GX_OPEN_SN = 0, GX_OPEN_IP = 1, GX_OPEN_MAC = 2, GX_OPEN_INDEX = 3 };
enum GX_ACCESS_MODE_CMD { GX_ACCESS_READONLY = 2, GX_ACCESS_CONTROL = 3, GX_ACCESS_EXCLUSIVE = 4 };
enum GX_FRAME_STATUS { GX_FRAME_STATUS_SUCCESS = 0, GX_FRAME_STATUS_INCOMPLETE = -1 };

struct GX_OPEN_PARAM {
    char* pszContent;
    GX_OPEN_MODE_CMD openMode;
    GX_ACCESS_MODE_CMD accessMode;
};
struct GX_FRAME_DATA {
    GX_FRAME_STATUS nStatus;
    void* pImgBuf;
    int32_t nWidth, nHeight, nPixelFormat, nImgSize;
    uint64_t nFrameID, nTimestamp;
};
struct GX_FLOAT_RANGE {
    double dMin, dMax, dInc;
};

GX_STATUS GXInitLib();
GX_STATUS GXUpdateDeviceList(uint32_t* punNums, uint32_t nTimeOut);
GX_STATUS GXOpenDeviceByIndex(uint32_t nDeviceIndex, GX_DEV_HANDLE* phDevice);
GX_STATUS GXOpenDevice(GX_OPEN_PARAM* pOpenParam, GX_DEV_HANDLE* phDevice);
GX_STATUS GXCloseDevice(GX_DEV_HANDLE hDevice);
GX_STATUS GXSetInt(GX_DEV_HANDLE hDevice, GX_FEATURE_ID featureID, int64_t nValue);
GX_STATUS GXSetEnum(GX_DEV_HANDLE hDevice, GX_FEATURE_ID featureID, int64_t nValue);
GX_STATUS GXSetBool(GX_DEV_HANDLE hDevice, GX_FEATURE_ID featureID, bool bValue);
GX_STATUS GXGetInt(GX_DEV_HANDLE hDevice, GX_FEATURE_ID featureID, int64_t* pnValue);
GX_STATUS GXSetFloat(GX_DEV_HANDLE hDevice, GX_FEATURE_ID featureID, double dValue);
GX_STATUS GXGetFloatRange(GX_DEV_HANDLE hDevice, GX_FEATURE_ID featureID, GX_FLOAT_RANGE* pFloatRange);
GX_STATUS GXSendCommand(GX_DEV_HANDLE hDevice, GX_FEATURE_ID featureID);
GX_STATUS GXGetImage(GX_DEV_HANDLE hDevice, GX_FRAME_DATA* pFrameData, int32_t nTimeout);
