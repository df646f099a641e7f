// Simulated Hikvision devices: each opened handle grabs on its own thread and
// calls the registered image callback about 30 times a second.
#include "MvCameraControl.h"

#include "../StandIn.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
const char* kVendor = "hikvision";

struct Handle {
    standin::Device dev;
    bool open = false;
    std::atomic<bool> grabbing{false};
    std::thread grabber;
    ImageCallBackEx image = nullptr;
    ExceptionCallBack exception = nullptr;
    void* user = nullptr;
    void* exUser = nullptr;
    std::vector<unsigned char> buffer;
};

std::vector<MV_CC_DEVICE_INFO> infos(256);
std::mutex handlesMutex;
std::vector<Handle*> handles;

void stopGrabber(Handle* h)
{
    h->grabbing = false;
    if (h->grabber.joinable())
        h->grabber.join();
}
} // namespace

int MV_CC_EnumDevices(unsigned int type, MV_CC_DEVICE_INFO_LIST* list)
{
    if (!list)
        return MV_E_PARAMETER;
    const auto& devs = standin::devices(kVendor);
    list->nDeviceNum = 0;
    for (size_t i = 0; i < devs.size() && i < 256; ++i) {
        const unsigned layer = devs[i].usb ? MV_USB_DEVICE : MV_GIGE_DEVICE;
        if (!(layer & type))
            continue;
        MV_CC_DEVICE_INFO& info = infos[list->nDeviceNum];
        info = {};
        info.nTLayerType = layer;
        if (devs[i].usb) {
            std::strncpy(reinterpret_cast<char*>(info.SpecialInfo.stUsb3VInfo.chSerialNumber), devs[i].serial.c_str(), 63);
        } else {
            MV_GIGE_DEVICE_INFO& g = info.SpecialInfo.stGigEInfo;
            std::strncpy(reinterpret_cast<char*>(g.chSerialNumber), devs[i].serial.c_str(), 15);
            std::strncpy(reinterpret_cast<char*>(g.chModelName), devs[i].model.c_str(), 31);
            g.nCurrentIp = devs[i].ip;
            g.nCurrentSubNetMask = devs[i].mask;
            g.nNetExport = devs[i].hostIp;
        }
        list->pDeviceInfo[list->nDeviceNum++] = &info;
    }
    return MV_OK;
}

int MV_CC_CreateHandle(void** handle, const MV_CC_DEVICE_INFO* info)
{
    if (!handle || !info)
        return MV_E_PARAMETER;
    const std::string serial(reinterpret_cast<const char*>(info->nTLayerType == MV_USB_DEVICE
                                                                ? info->SpecialInfo.stUsb3VInfo.chSerialNumber
                                                                : info->SpecialInfo.stGigEInfo.chSerialNumber));
    for (const auto& d : standin::devices(kVendor))
        if (d.serial == serial) {
            auto* h = new Handle;
            h->dev = d;
            std::lock_guard<std::mutex> lock(handlesMutex);
            handles.push_back(h);
            *handle = h;
            standin::record(serial, "CreateHandle", "ok");
            return MV_OK;
        }
    return MV_E_PARAMETER;
}

int MV_CC_DestroyHandle(void* handle)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return MV_E_HANDLE;
    stopGrabber(h);
    std::lock_guard<std::mutex> lock(handlesMutex);
    handles.erase(std::remove(handles.begin(), handles.end(), h), handles.end());
    standin::record(h->dev.serial, "DestroyHandle", "ok");
    delete h;
    return MV_OK;
}

int MV_CC_OpenDevice(void* handle, unsigned int access, unsigned short)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return MV_E_HANDLE;
    h->open = true;
    standin::record(h->dev.serial, "OpenDevice", std::to_string(access));
    return MV_OK;
}

int MV_CC_CloseDevice(void* handle)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return MV_E_HANDLE;
    stopGrabber(h);
    h->open = false;
    standin::record(h->dev.serial, "CloseDevice", "ok");
    return MV_OK;
}

int MV_CC_StartGrabbing(void* handle)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h || !h->open)
        return MV_E_HANDLE;
    if (h->grabbing)
        return MV_OK;
    h->grabbing = true;
    standin::record(h->dev.serial, "StartGrabbing", "ok");
    h->grabber = std::thread([h] {
        unsigned n = 0;
        const int ch = h->dev.colour ? 1 : 1;  // Bayer and Mono8 are one byte per pixel
        h->buffer.resize(size_t(h->dev.width) * h->dev.height * ch);
        while (h->grabbing) {
            standin::fillFrame(h->buffer.data(), h->dev.width, h->dev.height, ch, n++);
            MV_FRAME_OUT_INFO_EX info{};
            info.nWidth = static_cast<unsigned short>(h->dev.width);
            info.nHeight = static_cast<unsigned short>(h->dev.height);
            info.enPixelType = h->dev.colour ? PixelType_Gvsp_BayerRG8 : PixelType_Gvsp_Mono8;
            info.nFrameLen = unsigned(h->buffer.size());
            if (h->image)
                h->image(h->buffer.data(), &info, h->user);
            std::this_thread::sleep_for(std::chrono::milliseconds(33));
        }
    });
    return MV_OK;
}

int MV_CC_StopGrabbing(void* handle)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return MV_E_HANDLE;
    stopGrabber(h);
    standin::record(h->dev.serial, "StopGrabbing", "ok");
    return MV_OK;
}

#define RECORD(h, key, value)                                         \
    do {                                                              \
        auto* hh = static_cast<Handle*>(h);                           \
        if (!hh)                                                      \
            return MV_E_HANDLE;                                       \
        standin::record(hh->dev.serial, key, value);                  \
    } while (0)

int MV_CC_SetEnumValue(void* h, const char* key, unsigned int v) { RECORD(h, key, std::to_string(v)); return MV_OK; }
int MV_CC_SetCommandValue(void* h, const char* key) { RECORD(h, key, "command"); return MV_OK; }
int MV_CC_SetBoolValue(void* h, const char* key, bool v) { RECORD(h, key, v ? "true" : "false"); return MV_OK; }
int MV_CC_SetIntValue(void* h, const char* key, unsigned int v) { RECORD(h, key, std::to_string(v)); return MV_OK; }
int MV_CC_SetFloatValue(void* h, const char* key, float v) { RECORD(h, key, std::to_string(v)); return MV_OK; }
int MV_CC_SetBalanceWhiteAuto(void* h, unsigned int v) { RECORD(h, "BalanceWhiteAuto", std::to_string(v)); return MV_OK; }

int MV_CC_GetFloatValue(void* h, const char* key, MVCC_FLOATVALUE* v)
{
    if (!h || !v)
        return MV_E_PARAMETER;
    const std::string k(key);
    // Ranges of a typical GigE camera.
    if (k == "ExposureTime")
        *v = {10000.0f, 1000000.0f, 20.0f};
    else if (k == "Gain")
        *v = {0.0f, 17.0f, 0.0f};
    else if (k == "Gamma")
        *v = {1.0f, 4.0f, 0.0f};
    else
        *v = {0.0f, 100.0f, 0.0f};
    return MV_OK;
}

int MV_CC_GetIntValue(void* h, const char* key, MVCC_INTVALUE* v)
{
    if (!h || !v)
        return MV_E_PARAMETER;
    const std::string k(key);
    const auto* hh = static_cast<Handle*>(h);
    if (k == "WidthMax" || k == "Width")
        *v = {unsigned(hh->dev.width), unsigned(hh->dev.width), 1, 1, {}};
    else if (k == "HeightMax" || k == "Height")
        *v = {unsigned(hh->dev.height), unsigned(hh->dev.height), 1, 1, {}};
    else
        *v = {0, 100, 0, 1, {}};
    return MV_OK;
}

int MV_CC_GetStringValue(void* h, const char* key, MVCC_STRINGVALUE* v)
{
    if (!h || !v)
        return MV_E_PARAMETER;
    *v = {};
    if (std::string(key) != "DeviceModelName")
        return MV_E_PARAMETER;
    std::snprintf(v->chCurValue, sizeof v->chCurValue, "%s", static_cast<Handle*>(h)->dev.model.c_str());
    v->nMaxLength = 256;
    return MV_OK;
}

bool MV_CC_IsDeviceAccessible(MV_CC_DEVICE_INFO* info, unsigned int)
{
    if (!info)
        return false;
    const std::string serial(reinterpret_cast<const char*>(info->SpecialInfo.stGigEInfo.chSerialNumber));
    for (const auto& d : standin::devices(kVendor))
        if (d.serial == serial)
            return d.reachable;
    return false;
}

int MV_GIGE_ForceIpEx(void* h, unsigned int ip, unsigned int mask, unsigned int gateway)
{
    auto* hh = static_cast<Handle*>(h);
    if (!hh)
        return MV_E_HANDLE;
    char b[64];
    std::snprintf(b, sizeof b, "%u.%u.%u.%u/%u.%u.%u.%u gw %u.%u.%u.%u", ip >> 24, (ip >> 16) & 255, (ip >> 8) & 255,
                  ip & 255, mask >> 24, (mask >> 16) & 255, (mask >> 8) & 255, mask & 255, gateway >> 24,
                  (gateway >> 16) & 255, (gateway >> 8) & 255, gateway & 255);
    standin::record(hh->dev.serial, "ForceIpEx", b);
    // The device takes its new address.
    auto& devs = standin::devices(kVendor);
    for (auto& d : devs)
        if (d.serial == hh->dev.serial) {
            d.ip = ip;
            d.mask = mask;
        }
    return MV_OK;
}

int MV_CC_RegisterImageCallBackEx(void* handle, ImageCallBackEx cb, void* user)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return MV_E_HANDLE;
    h->image = cb;
    h->user = user;
    return MV_OK;
}

int MV_CC_RegisterExceptionCallBack(void* handle, ExceptionCallBack cb, void* user)
{
    auto* h = static_cast<Handle*>(handle);
    if (!h)
        return MV_E_HANDLE;
    h->exception = cb;
    h->exUser = user;
    return MV_OK;
}

int MV_CC_ConvertPixelType(void*, MV_CC_PIXEL_CONVERT_PARAM* p)
{
    if (!p || !p->pSrcData || !p->pDstBuffer)
        return MV_E_PARAMETER;
    const size_t n = size_t(p->nWidth) * p->nHeight;
    if (p->nDstBufferSize < n * 3)
        return MV_E_PARAMETER;
    // The stand-in's Bayer frames are grey: every channel takes the sample.
    for (size_t i = 0; i < n; ++i)
        p->pDstBuffer[3 * i] = p->pDstBuffer[3 * i + 1] = p->pDstBuffer[3 * i + 2] = p->pSrcData[i];
    p->nDstLen = unsigned(n * 3);
    return MV_OK;
}

void MvStandInDisconnect(const char* serial)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    for (Handle* h : handles)
        if (h->dev.serial == serial && h->exception)
            h->exception(MV_EXCEPTION_DEV_DISCONNECT, h->exUser);
}
