#pragma once
// Stand-in for the part of Hikvision's MVS SDK (libMvCameraControl) the
// station calls; simulated devices, frames through the registered callback.
// Built only when the real SDK is not linked (STATION_REAL_HIKVISION).
#include <cstdint>

#define MV_OK 0
#define MV_E_HANDLE int(0x80000000)
#define MV_E_PARAMETER int(0x80000004)
#define MV_E_NODATA int(0x80000007)
#define MV_GIGE_DEVICE 0x00000001
#define MV_USB_DEVICE 0x00000004
#define MV_ACCESS_Exclusive 1
#define MV_EXCEPTION_DEV_DISCONNECT 0x00008001

enum MvGvspPixelType : int64_t {
    PixelType_Gvsp_Mono8 = 0x01080001,
    PixelType_Gvsp_BayerRG8 = 0x01080009,
    PixelType_Gvsp_RGB8_Packed = 0x02180014,
};

struct MV_GIGE_DEVICE_INFO {
    unsigned char chSerialNumber[16];
};
struct MV_CC_DEVICE_INFO {
    unsigned int nTLayerType;
    union {
        MV_GIGE_DEVICE_INFO stGigEInfo;
    } SpecialInfo;
};
struct MV_CC_DEVICE_INFO_LIST {
    unsigned int nDeviceNum;
    MV_CC_DEVICE_INFO* pDeviceInfo[256];
};
struct MV_FRAME_OUT_INFO_EX {
    unsigned short nWidth, nHeight;
    MvGvspPixelType enPixelType;
    unsigned int nFrameLen;
};
struct MV_CC_PIXEL_CONVERT_PARAM {
    unsigned short nWidth, nHeight;
    MvGvspPixelType enSrcPixelType;
    unsigned char* pSrcData;
    unsigned int nSrcDataLen;
    MvGvspPixelType enDstPixelType;
    unsigned char* pDstBuffer;
    unsigned int nDstLen;
    unsigned int nDstBufferSize;
};
struct MVCC_FLOATVALUE {
    float fCurValue, fMax, fMin;
};
struct MVCC_INTVALUE {
    unsigned int nCurValue, nMax, nMin, nInc;
};

using ImageCallBackEx = void (*)(unsigned char* pData, MV_FRAME_OUT_INFO_EX* pFrameInfo, void* pUser);
using ExceptionCallBack = void (*)(unsigned int nMsgType, void* pUser);

int MV_CC_EnumDevices(unsigned int nTLayerType, MV_CC_DEVICE_INFO_LIST* pstDevList);
int MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* pstDevInfo);
int MV_CC_DestroyHandle(void* handle);
int MV_CC_OpenDevice(void* handle, unsigned int nAccessMode = MV_ACCESS_Exclusive, unsigned short nSwitchoverKey = 0);
int MV_CC_CloseDevice(void* handle);
int MV_CC_StartGrabbing(void* handle);
int MV_CC_StopGrabbing(void* handle);
int MV_CC_SetEnumValue(void* handle, const char* strKey, unsigned int nValue);
int MV_CC_SetCommandValue(void* handle, const char* strKey);
int MV_CC_SetBoolValue(void* handle, const char* strKey, bool bValue);
int MV_CC_SetIntValue(void* handle, const char* strKey, unsigned int nValue);
int MV_CC_SetFloatValue(void* handle, const char* strKey, float fValue);
int MV_CC_GetFloatValue(void* handle, const char* strKey, MVCC_FLOATVALUE* pFloatValue);
int MV_CC_GetIntValue(void* handle, const char* strKey, MVCC_INTVALUE* pIntValue);
int MV_CC_RegisterImageCallBackEx(void* handle, ImageCallBackEx cb, void* pUser);
int MV_CC_RegisterExceptionCallBack(void* handle, ExceptionCallBack cb, void* pUser);
int MV_CC_ConvertPixelType(void* handle, MV_CC_PIXEL_CONVERT_PARAM* pstCvtParam);
int MV_CC_SetBalanceWhiteAuto(void* handle, unsigned int nValue);

// Stand-in only: disconnect a simulated device (its exception callback fires).
void MvStandInDisconnect(const char* serial);
