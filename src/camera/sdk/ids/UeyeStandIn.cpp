// Simulated uEye devices: while live video runs, a thread writes a new frame
// into the image memory every 33 ms, as the camera's transfer would.
#include "ueye.h"

#include "../StandIn.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {
const char* kVendor = "ids";
struct Dev {
    standin::Device d;
    char* mem = nullptr;
    int w = 0, h = 0;
    std::atomic<bool> live{false};
    std::thread writer;
};
std::mutex mutex;
std::map<HIDS, Dev*> devs;

Dev* find(HIDS h)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = devs.find(h);
    return it == devs.end() ? nullptr : it->second;
}
INT rec(HIDS h, const std::string& what, const std::string& v)
{
    Dev* d = find(h);
    if (!d)
        return IS_NO_SUCCESS;
    standin::record(d->d.serial, what, v);
    return IS_SUCCESS;
}
void stopWriter(Dev* d)
{
    d->live = false;
    if (d->writer.joinable())
        d->writer.join();
}
} // namespace

INT is_GetNumberOfCameras(INT* count)
{
    *count = INT(standin::devices(kVendor).size());
    return IS_SUCCESS;
}

INT is_InitCamera(HIDS* h, HWND)
{
    unsigned id = *h & ~unsigned(IS_USE_DEVICE_ID);
    const auto& list = standin::devices(kVendor);
    if (id == 0 && !list.empty())
        id = 1;  // device id 0: the first camera there is
    if (!(*h & IS_USE_DEVICE_ID) || id < 1 || id > list.size())
        return IS_NO_SUCCESS;
    auto* d = new Dev;
    d->d = list[id - 1];
    std::lock_guard<std::mutex> lock(mutex);
    if (devs.count(id))
        delete devs[id];
    devs[id] = d;
    *h = id;
    standin::record(d->d.serial, "InitCamera", std::to_string(id));
    return IS_SUCCESS;
}

INT is_ExitCamera(HIDS h)
{
    Dev* d = find(h);
    if (!d)
        return IS_NO_SUCCESS;
    stopWriter(d);
    standin::record(d->d.serial, "ExitCamera", "ok");
    std::lock_guard<std::mutex> lock(mutex);
    devs.erase(h);
    delete d;
    return IS_SUCCESS;
}

INT is_GetCameraInfo(HIDS h, CAMINFO* info)
{
    Dev* d = find(h);
    if (!d)
        return IS_NO_SUCCESS;
    std::memset(info, 0, sizeof *info);
    std::strncpy(info->SerNo, d->d.serial.c_str(), sizeof info->SerNo - 1);
    return IS_SUCCESS;
}

INT is_SetColorMode(HIDS h, INT m) { return rec(h, "ColorMode", std::to_string(m)); }

INT is_AllocImageMem(HIDS h, INT w, INT hh, INT bits, char** mem, INT* id)
{
    Dev* d = find(h);
    if (!d)
        return IS_NO_SUCCESS;
    *mem = new char[size_t(w) * hh * (bits / 8)]();
    *id = 1;
    d->w = w;
    d->h = hh;
    standin::record(d->d.serial, "AllocImageMem", std::to_string(w) + "x" + std::to_string(hh) + "x" + std::to_string(bits));
    return IS_SUCCESS;
}

INT is_SetImageMem(HIDS h, char* mem, INT)
{
    Dev* d = find(h);
    if (!d)
        return IS_NO_SUCCESS;
    d->mem = mem;
    return IS_SUCCESS;
}

INT is_FreeImageMem(HIDS h, char* mem, INT)
{
    Dev* d = find(h);
    if (d) {
        stopWriter(d);
        d->mem = nullptr;
    }
    delete[] mem;
    return IS_SUCCESS;
}

INT is_AOI(HIDS h, UINT cmd, void* p, UINT)
{
    const auto* s = static_cast<IS_SIZE_2D*>(p);
    return rec(h, "AOI" + std::to_string(cmd), std::to_string(s->s32Width) + "x" + std::to_string(s->s32Height));
}
INT is_SetAutoParameter(HIDS h, INT param, double* v1, double*) { return rec(h, "Auto" + std::to_string(param), std::to_string(int(*v1))); }
INT is_SetHardwareGamma(HIDS h, INT m) { return rec(h, "HardwareGamma", std::to_string(m)); }
INT is_PixelClock(HIDS h, UINT, void* p, UINT) { return rec(h, "PixelClock", std::to_string(*static_cast<UINT*>(p))); }
INT is_Exposure(HIDS h, UINT, void* p, UINT) { return rec(h, "Exposure", std::to_string(*static_cast<double*>(p))); }
INT is_SetHardwareGain(HIDS h, INT m, INT, INT, INT) { return rec(h, "HardwareGain", std::to_string(m)); }
INT is_Gamma(HIDS h, UINT, void* p, UINT) { return rec(h, "Gamma", std::to_string(*static_cast<INT*>(p))); }

INT is_CaptureVideo(HIDS h, INT)
{
    Dev* d = find(h);
    if (!d || !d->mem)
        return IS_NO_SUCCESS;
    if (d->live)
        return IS_SUCCESS;
    d->live = true;
    d->writer = std::thread([d] {
        unsigned n = 0;
        while (d->live) {
            standin::fillFrame(reinterpret_cast<unsigned char*>(d->mem), d->w, d->h, 1, n++);
            std::this_thread::sleep_for(std::chrono::milliseconds(33));
        }
    });
    return rec(h, "CaptureVideo", "1");
}

INT is_StopLiveVideo(HIDS h, INT wait)
{
    Dev* d = find(h);
    if (!d)
        return IS_NO_SUCCESS;
    stopWriter(d);
    return rec(h, "StopLiveVideo", std::to_string(wait));
}

INT is_GetSensorInfo(HIDS h, SENSORINFO* info)
{
    Dev* d = find(h);
    if (!d || !info)
        return IS_NO_SUCCESS;
    *info = {};
    std::snprintf(info->strSensorName, sizeof info->strSensorName, "SIM");
    info->nColorMode = d->d.colour ? IS_COLORMODE_BAYER : IS_COLORMODE_MONOCHROME;
    info->nMaxWidth = DWORD(d->d.width);
    info->nMaxHeight = DWORD(d->d.height);
    return IS_SUCCESS;
}
