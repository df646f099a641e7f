// Simulated Daheng devices: GXGetImage hands out a new frame every 33 ms
// while acquisition runs, and times out otherwise.
#include "GxIAPI.h"

#include "../StandIn.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
const char* kVendor = "daheng";
struct Dev {
    standin::Device d;
    int width = 0, height = 0;  // the region the station set; the sensor's until then
    std::atomic<bool> acquiring{false};
    unsigned n = 0;
};
std::string hex(int32_t id)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", unsigned(id));
    return b;
}
Dev* dev(GX_DEV_HANDLE h) { return static_cast<Dev*>(h); }
} // namespace

GX_STATUS GXInitLib() { return GX_STATUS_SUCCESS; }

GX_STATUS GXUpdateDeviceList(uint32_t* n, uint32_t)
{
    *n = uint32_t(standin::devices(kVendor).size());
    return GX_STATUS_SUCCESS;
}

GX_STATUS GXOpenDeviceByIndex(uint32_t index, GX_DEV_HANDLE* h)
{
    const auto& devs = standin::devices(kVendor);
    if (index < 1 || index > devs.size())
        return GX_STATUS_NOT_FOUND_DEVICE;
    auto* d = new Dev;
    d->d = devs[index - 1];
    *h = d;
    standin::record(d->d.serial, "OpenByIndex", std::to_string(index));
    return GX_STATUS_SUCCESS;
}

GX_STATUS GXOpenDevice(GX_OPEN_PARAM* p, GX_DEV_HANDLE* h)
{
    if (!p || p->openMode != GX_OPEN_SN)
        return GX_STATUS_ERROR;
    for (const auto& dv : standin::devices(kVendor))
        if (dv.serial == p->pszContent) {
            auto* d = new Dev;
            d->d = dv;
            *h = d;
            standin::record(d->d.serial, "OpenBySN", std::to_string(p->accessMode));
            return GX_STATUS_SUCCESS;
        }
    return GX_STATUS_NOT_FOUND_DEVICE;
}

GX_STATUS GXCloseDevice(GX_DEV_HANDLE h)
{
    if (!h)
        return GX_STATUS_INVALID_HANDLE;
    standin::record(dev(h)->d.serial, "CloseDevice", "ok");
    delete dev(h);
    return GX_STATUS_SUCCESS;
}

GX_STATUS GXSetInt(GX_DEV_HANDLE h, GX_FEATURE_ID id, int64_t v)
{
    if (!h)
        return GX_STATUS_INVALID_HANDLE;
    if (unsigned(id) == 0x100003EE)
        dev(h)->width = int(v);
    else if (unsigned(id) == 0x100003EF)
        dev(h)->height = int(v);
    standin::record(dev(h)->d.serial, hex(id), std::to_string(v));
    return GX_STATUS_SUCCESS;
}
GX_STATUS GXGetInt(GX_DEV_HANDLE h, GX_FEATURE_ID id, int64_t* v)
{
    if (!h || !v)
        return GX_STATUS_INVALID_HANDLE;
    // Width and height: the region set, else the sensor's.
    if (unsigned(id) == 0x100003EE)
        *v = dev(h)->width ? dev(h)->width : dev(h)->d.width;
    else if (unsigned(id) == 0x100003EF)
        *v = dev(h)->height ? dev(h)->height : dev(h)->d.height;
    else
        return GX_STATUS_ERROR;
    return GX_STATUS_SUCCESS;
}
GX_STATUS GXSetEnum(GX_DEV_HANDLE h, GX_FEATURE_ID id, int64_t v) { return GXSetInt(h, id, v); }
GX_STATUS GXSetBool(GX_DEV_HANDLE h, GX_FEATURE_ID id, bool v)
{
    if (!h)
        return GX_STATUS_INVALID_HANDLE;
    standin::record(dev(h)->d.serial, hex(id), v ? "true" : "false");
    return GX_STATUS_SUCCESS;
}
GX_STATUS GXSetFloat(GX_DEV_HANDLE h, GX_FEATURE_ID id, double v)
{
    if (!h)
        return GX_STATUS_INVALID_HANDLE;
    standin::record(dev(h)->d.serial, hex(id), std::to_string(v));
    return GX_STATUS_SUCCESS;
}

GX_STATUS GXGetFloatRange(GX_DEV_HANDLE h, GX_FEATURE_ID id, GX_FLOAT_RANGE* r)
{
    if (!h || !r)
        return GX_STATUS_INVALID_HANDLE;
    switch (unsigned(id)) {
    case 0x20000BC1: *r = {20.0, 1000000.0, 1.0}; break;  // exposure, us
    case 0x20001393: *r = {0.0, 24.0, 0.1}; break;        // gain, dB
    case 0x2000178B: *r = {0.0, 3.0, 0.1}; break;         // sharpness
    case 0x20001397: *r = {0.1, 4.0, 0.1}; break;         // gamma
    default: return GX_STATUS_ERROR;
    }
    return GX_STATUS_SUCCESS;
}

GX_STATUS GXSendCommand(GX_DEV_HANDLE h, GX_FEATURE_ID id)
{
    if (!h)
        return GX_STATUS_INVALID_HANDLE;
    if (unsigned(id) == 0x70000BB9)
        dev(h)->acquiring = true;
    else if (unsigned(id) == 0x70000BBA)
        dev(h)->acquiring = false;
    standin::record(dev(h)->d.serial, hex(id), "command");
    return GX_STATUS_SUCCESS;
}

GX_STATUS GXGetImage(GX_DEV_HANDLE h, GX_FRAME_DATA* f, int32_t timeout)
{
    if (!h || !f || !f->pImgBuf)
        return GX_STATUS_INVALID_HANDLE;
    Dev* d = dev(h);
    if (!d->acquiring) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
        return GX_STATUS_TIMEOUT;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(33));
    const int w = d->width ? d->width : d->d.width, hh = d->height ? d->height : d->d.height;
    standin::fillFrame(static_cast<unsigned char*>(f->pImgBuf), w, hh, 1, d->n++);
    f->nStatus = GX_FRAME_STATUS_SUCCESS;
    f->nWidth = w;
    f->nHeight = hh;
    f->nImgSize = w * hh;
    return GX_STATUS_SUCCESS;
}
