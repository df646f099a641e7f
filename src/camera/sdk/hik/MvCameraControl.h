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

// Layouts as in the vendor's CameraParams.h.
struct MV_GIGE_DEVICE_INFO {
    unsigned int nIpCfgOption;
    unsigned int nIpCfgCurrent;
    unsigned int nCurrentIp;
    unsigned int nCurrentSubNetMask;
    unsigned int nDefultGateWay;
    unsigned char chManufacturerName[32];
    unsigned char chModelName[32];
    unsigned char chDeviceVersion[32];
    unsigned char chManufacturerSpecificInfo[48];
    unsigned char chSerialNumber[16];
    unsigned char chUserDefinedName[16];
    unsigned int nNetExport;
    unsigned int nReserved[4];
};
struct MV_USB3_DEVICE_INFO {
    unsigned char CrtlInEndPoint, CrtlOutEndPoint, StreamEndPoint, EventEndPoint;
    unsigned short idVendor, idProduct;
    unsigned int nDeviceNumber;
    unsigned char chDeviceGUID[64];
    unsigned char chVendorName[64];
    unsigned char chModelName[64];
    unsigned char chFamilyName[64];
    unsigned char chDeviceVersion[64];
    unsigned char chManufacturerName[64];
    unsigned char chSerialNumber[64];
    unsigned char chUserDefinedName[64];
    unsigned int nbcdUSB;
    unsigned int nDeviceAddress;
    unsigned int nReserved[2];
};
struct MV_CC_DEVICE_INFO {
    unsigned short nMajorVer, nMinorVer;
    unsigned int nMacAddrHigh, nMacAddrLow;
    unsigned int nTLayerType;
    unsigned int nReserved[4];
    union {
        MV_GIGE_DEVICE_INFO stGigEInfo;
        MV_USB3_DEVICE_INFO stUsb3VInfo;
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
    unsigned int nReserved[4];
};
struct MVCC_INTVALUE {
    unsigned int nCurValue, nMax, nMin, nInc;
    unsigned int nReserved[4];
};
struct MVCC_STRINGVALUE {
    char chCurValue[256];
    int64_t nMaxLength;
    unsigned int nReserved[2];
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
int MV_CC_GetStringValue(void* handle, const char* strKey, MVCC_STRINGVALUE* pStringValue);
bool MV_CC_IsDeviceAccessible(MV_CC_DEVICE_INFO* pstDevInfo, unsigned int nAccessMode);
int MV_GIGE_ForceIpEx(void* handle, unsigned int nIP, unsigned int nSubNetMask, unsigned int nDefaultGateWay);

// Stand-in only: disconnect a simulated device (its exception callback fires).
void MvStandInDisconnect(const char* serial);
