#pragma once
// Stand-in for the part of the dvp camera SDK (libdvp) the station calls;
// simulated devices that push frames through the registered stream callback.
// Built only when the real SDK is not linked (STATION_REAL_DVP).
#include <cstdint>

typedef uint32_t dvpHandle;
typedef int dvpStatus;
typedef uint32_t dvpUint32;
typedef int32_t dvpInt32;
#define DVP_STATUS_OK 0
#define DVP_STATUS_FAILED (-1)
enum dvpStreamState { STATE_STOPED = 0, STATE_STARTED = 2 };
enum dvpStreamEvent { STREAM_EVENT_FRAME_THREAD = 2 };
enum dvpImageFormat { FORMAT_MONO = 0, FORMAT_BGR24 = 10 };
enum dvpTargetFormat { S_RGB24 = 10, S_MONO8 = 30 };

struct dvpCameraInfo {
    char FriendlyName[128];
    char SerialNumber[64];
};
enum dvpSensorType { SENSOR_TYPE_CMOS = 0, SENSOR_TYPE_CCD = 1 };
enum dvpSensorPixel { SENSOR_PIXEL_MONO = 0, SENSOR_PIXEL_BAYER_RG = 1, SENSOR_PIXEL_RGB = 5 };
struct dvpRegionDescr {
    dvpInt32 iMinW, iMinH, iMaxW, iMaxH, iStepW, iStepH;
};
struct dvpSensorInfo {
    char descr[64];
    dvpSensorType sensor;
    dvpSensorPixel pixel;
    dvpRegionDescr region;
};
struct dvpRegion {
    dvpInt32 X, Y, W, H;
};
struct dvpFrame {
    dvpImageFormat format;
    dvpInt32 iWidth, iHeight;
    dvpUint32 uBytes;
};
struct dvpFloatDescr {
    double fMin, fMax, fDefault;
};
struct dvpInt32Descr {
    dvpInt32 iMin, iMax, iDefault;
};
typedef dvpInt32 (*dvpStreamCallback)(dvpHandle handle, dvpStreamEvent event, void* pContext, dvpFrame* pFrame,
                                      void* pBuffer);

dvpStatus dvpRefresh(dvpUint32* count);
dvpStatus dvpEnum(dvpUint32 index, dvpCameraInfo* info);
dvpStatus dvpGetSensorInfo(dvpHandle h, dvpSensorInfo* info);
dvpStatus dvpGetRoi(dvpHandle h, dvpRegion* roi);
dvpStatus dvpOpenByName(const char* name, dvpUint32 mode, dvpHandle* handle);
dvpStatus dvpClose(dvpHandle h);
dvpStatus dvpIsValid(dvpHandle h, bool* valid);
dvpStatus dvpGetStreamState(dvpHandle h, dvpStreamState* state);
dvpStatus dvpStart(dvpHandle h);
dvpStatus dvpStop(dvpHandle h);
dvpStatus dvpSetGammaState(dvpHandle h, bool on);
dvpStatus dvpSetContrastState(dvpHandle h, bool on);
dvpStatus dvpSetSharpnessState(dvpHandle h, bool on);
dvpStatus dvpSetTargetFormat(dvpHandle h, dvpTargetFormat f);
dvpStatus dvpSetConfigString(dvpHandle h, const char* name, const char* value);
dvpStatus dvpSetAeOperation(dvpHandle h, int op);
dvpStatus dvpSetTriggerSource(dvpHandle h, int source);
dvpStatus dvpSetTriggerState(dvpHandle h, bool on);
dvpStatus dvpSetRoi(dvpHandle h, dvpRegion roi);
dvpStatus dvpRegisterStreamCallback(dvpHandle h, dvpStreamCallback cb, dvpStreamEvent event, void* ctx);
dvpStatus dvpSetExposure(dvpHandle h, double us);
dvpStatus dvpGetExposure(dvpHandle h, double* us);
dvpStatus dvpSetAnalogGain(dvpHandle h, float g);
dvpStatus dvpGetAnalogGain(dvpHandle h, float* g);
dvpStatus dvpGetAnalogGainDescr(dvpHandle h, dvpFloatDescr* d);
dvpStatus dvpSetSharpness(dvpHandle h, dvpInt32 v);
dvpStatus dvpGetSharpness(dvpHandle h, dvpInt32* v);
dvpStatus dvpGetSharpnessDescr(dvpHandle h, dvpInt32Descr* d);
dvpStatus dvpSetContrast(dvpHandle h, dvpInt32 v);
dvpStatus dvpGetContrast(dvpHandle h, dvpInt32* v);
dvpStatus dvpGetContrastDescr(dvpHandle h, dvpInt32Descr* d);
dvpStatus dvpSetGamma(dvpHandle h, dvpInt32 v);
dvpStatus dvpGetGamma(dvpHandle h, dvpInt32* v);
dvpStatus dvpGetGammaDescr(dvpHandle h, dvpInt32Descr* d);
dvpStatus dvpLoadDefault(dvpHandle h);
