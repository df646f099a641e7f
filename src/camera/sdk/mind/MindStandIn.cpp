// Simulated MindVision devices: CameraGetImageBuffer hands out a new frame
// every 33 ms while playing.
#include "CameraApi.h"

#include "../StandIn.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
const char* kVendor = "mindvision";
struct Dev {
    standin::Device d;
    std::atomic<bool> playing{false};
    unsigned n = 0;
    int width = 0, height = 0, media = CAMERA_MEDIA_TYPE_MONO8;
    std::vector<BYTE> raw;
    CAMERA_CONNECTION_STATUS_CALLBACK cb = nullptr;
    void* ctx = nullptr;
    std::map<std::string, double> values;
};
std::mutex mutex;
std::map<int, Dev> devs;
int nextHandle = 1;

Dev* find(CameraHandle h)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = devs.find(h);
    return it == devs.end() ? nullptr : &it->second;
}
CameraSdkStatus rec(CameraHandle h, const char* what, double v)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    d->values[what] = v;
    char b[64];
    std::snprintf(b, sizeof b, "%.10g", v);
    standin::record(d->d.serial, what, b);
    return CAMERA_STATUS_SUCCESS;
}
} // namespace

CameraSdkStatus CameraSdkInit(int) { return CAMERA_STATUS_SUCCESS; }

CameraSdkStatus CameraEnumerateDevice(tSdkCameraDevInfo* list, int* count)
{
    const auto& ds = standin::devices(kVendor);
    const int n = std::min<int>(*count, int(ds.size()));
    for (int i = 0; i < n; ++i) {
        std::memset(&list[i], 0, sizeof list[i]);
        std::snprintf(list[i].acSn, sizeof list[i].acSn, "%s", ds[size_t(i)].serial.c_str());
        std::snprintf(list[i].acFriendlyName, sizeof list[i].acFriendlyName, "MV-SIM-%d", i + 1);
    }
    *count = n;
    return CAMERA_STATUS_SUCCESS;
}

CameraSdkStatus CameraInit(tSdkCameraDevInfo* info, int, int, CameraHandle* h)
{
    for (const auto& d : standin::devices(kVendor))
        if (d.serial == info->acSn) {
            std::lock_guard<std::mutex> lock(mutex);
            const int id = nextHandle++;
            devs[id].d = d;
            *h = id;
            standin::record(d.serial, "CameraInit", "ok");
            return CAMERA_STATUS_SUCCESS;
        }
    return CAMERA_STATUS_FAILED;
}

CameraSdkStatus CameraUnInit(CameraHandle h)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = devs.find(h);
    if (it == devs.end())
        return CAMERA_STATUS_FAILED;
    standin::record(it->second.d.serial, "CameraUnInit", "ok");
    devs.erase(it);
    return CAMERA_STATUS_SUCCESS;
}

CameraSdkStatus CameraGetCapability(CameraHandle h, tSdkCameraCapbility* cap)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    // One preset: the sensor halved (what a 2592-wide sensor offers first).
    static tSdkImageResolution preset[8];
    tSdkImageResolution& p = preset[std::min<size_t>(7, size_t(h) % 8)];
    p = {};
    p.iIndex = 0;
    p.iWidthFOV = d->d.width;
    p.iHeightFOV = d->d.height;
    p.iWidth = d->d.width / 2;
    p.iHeight = d->d.height / 2;
    *cap = {};
    cap->pImageSizeDesc = &p;
    cap->iImageSizeDesc = 1;
    cap->sExposeDesc = {0, 255, 0, 400, 0.125f, 10, 100000};
    cap->sResolutionRange.iWidthMax = d->d.width;
    cap->sResolutionRange.iHeightMax = d->d.height;
    cap->sGammaRange = {0, 250};
    cap->sContrastRange = {0, 200};
    cap->sSharpnessRange = {0, 100};
    cap->sIspCapacity.bMonoSensor = d->d.colour ? 0 : 1;
    return CAMERA_STATUS_SUCCESS;
}

CameraSdkStatus CameraUSBDeviceInit() { return CAMERA_STATUS_SUCCESS; }

CameraSdkStatus CameraReadSN(CameraHandle h, BYTE* sn, INT)
{
    Dev* d = find(h);
    if (!d || !sn)
        return CAMERA_STATUS_FAILED;
    std::snprintf(reinterpret_cast<char*>(sn), 32, "%s", d->d.serial.c_str());
    return CAMERA_STATUS_SUCCESS;
}

CameraSdkStatus CameraSetImageResolution(CameraHandle h, tSdkImageResolution* r)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    d->width = r->iWidth;
    d->height = r->iHeight;
    standin::record(d->d.serial, "Resolution",
                    std::to_string(r->iIndex) + " " + std::to_string(r->iHOffsetFOV) + " " + std::to_string(r->iVOffsetFOV) +
                        " " + std::to_string(r->iWidth) + "x" + std::to_string(r->iHeight));
    return CAMERA_STATUS_SUCCESS;
}

CameraSdkStatus CameraSetIspOutFormat(CameraHandle h, UINT f)
{
    if (Dev* d = find(h))
        d->media = int(f);
    return rec(h, "IspOutFormat", f);
}
CameraSdkStatus CameraSetMonochrome(CameraHandle h, BOOL on) { return rec(h, "Monochrome", on); }
CameraSdkStatus CameraSetWbMode(CameraHandle h, BOOL a) { return rec(h, "WbMode", a); }
CameraSdkStatus CameraSetMediaType(CameraHandle h, int i) { return rec(h, "MediaType", i); }
CameraSdkStatus CameraSetFrameSpeed(CameraHandle h, int s) { return rec(h, "FrameSpeed", s); }
CameraSdkStatus CameraSetConnectionStatusCallback(CameraHandle h, CAMERA_CONNECTION_STATUS_CALLBACK cb, void* ctx)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    d->cb = cb;
    d->ctx = ctx;
    return CAMERA_STATUS_SUCCESS;
}
CameraSdkStatus CameraCommonCall(CameraHandle h, const char* cmd, char*, UINT)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    standin::record(d->d.serial, "CommonCall", cmd);
    return CAMERA_STATUS_SUCCESS;
}
CameraSdkStatus CameraPlay(CameraHandle h)
{
    if (Dev* d = find(h))
        d->playing = true;
    return rec(h, "Play", 1);
}
CameraSdkStatus CameraStop(CameraHandle h)
{
    if (Dev* d = find(h))
        d->playing = false;
    return rec(h, "Stop", 1);
}

CameraSdkStatus CameraGetImageBuffer(CameraHandle h, tSdkFrameHead* head, BYTE** buf, UINT timeout)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    if (!d->playing) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
        return CAMERA_STATUS_TIME_OUT;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(33));
    const int w = d->width ? d->width : d->d.width, hh = d->height ? d->height : d->d.height;
    d->raw.resize(size_t(w) * hh);
    standin::fillFrame(d->raw.data(), w, hh, 1, d->n++);
    *head = {};
    head->uiMediaType = UINT(d->media);
    head->uBytes = UINT(d->raw.size());
    head->iWidth = w;
    head->iHeight = hh;
    *buf = d->raw.data();
    return CAMERA_STATUS_SUCCESS;
}

CameraSdkStatus CameraImageProcess(CameraHandle h, BYTE* raw, BYTE* out, tSdkFrameHead* head)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    const size_t n = size_t(head->iWidth) * head->iHeight;
    if (head->uiMediaType == CAMERA_MEDIA_TYPE_RGB8)
        for (size_t i = 0; i < n; ++i)
            out[3 * i] = out[3 * i + 1] = out[3 * i + 2] = raw[i];
    else
        std::memcpy(out, raw, n);
    return CAMERA_STATUS_SUCCESS;
}

CameraSdkStatus CameraReleaseImageBuffer(CameraHandle h, BYTE*) { return find(h) ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_FAILED; }
CameraSdkStatus CameraSetTriggerMode(CameraHandle h, int m) { return rec(h, "TriggerMode", m); }
CameraSdkStatus CameraSetAeState(CameraHandle h, BOOL on) { return rec(h, "AeState", on); }
CameraSdkStatus CameraSetExposureTime(CameraHandle h, double us) { return rec(h, "ExposureTime", us); }
CameraSdkStatus CameraSetAnalogGain(CameraHandle h, int g) { return rec(h, "AnalogGain", g); }
CameraSdkStatus CameraSetSharpness(CameraHandle h, int v) { return rec(h, "Sharpness", v); }
CameraSdkStatus CameraSetContrast(CameraHandle h, int v) { return rec(h, "Contrast", v); }
CameraSdkStatus CameraSetGamma(CameraHandle h, int v) { return rec(h, "Gamma", v); }
CameraSdkStatus CameraSetOnceWB(CameraHandle h) { return rec(h, "OnceWB", 1); }
CameraSdkStatus CameraSetMirror(CameraHandle h, int dir, BOOL on) { return rec(h, dir ? "MirrorV" : "MirrorH", on); }
CameraSdkStatus CameraLoadParameter(CameraHandle h, int team) { return rec(h, "LoadParameter", team); }

namespace {
CameraSdkStatus get(CameraHandle h, const char* what, double* v)
{
    Dev* d = find(h);
    if (!d)
        return CAMERA_STATUS_FAILED;
    auto it = d->values.find(what);
    *v = it == d->values.end() ? 0.0 : it->second;
    return CAMERA_STATUS_SUCCESS;
}
} // namespace

CameraSdkStatus CameraGetExposureTime(CameraHandle h, double* us) { return get(h, "ExposureTime", us); }
CameraSdkStatus CameraGetAnalogGain(CameraHandle h, int* v)
{
    double d;
    const auto r = get(h, "AnalogGain", &d);
    *v = int(d);
    return r;
}
CameraSdkStatus CameraGetSharpness(CameraHandle h, int* v)
{
    double d;
    const auto r = get(h, "Sharpness", &d);
    *v = int(d);
    return r;
}
CameraSdkStatus CameraGetContrast(CameraHandle h, int* v)
{
    double d;
    const auto r = get(h, "Contrast", &d);
    *v = int(d);
    return r;
}
CameraSdkStatus CameraGetGamma(CameraHandle h, int* v)
{
    double d;
    const auto r = get(h, "Gamma", &d);
    *v = int(d);
    return r;
}
CameraSdkStatus CameraSdkGetVersionString(char* version)
{
    std::strcpy(version, "stand-in 1.0");
    return CAMERA_STATUS_SUCCESS;
}

void MindStandInDisconnect(const char* serial)
{
    std::vector<std::pair<CAMERA_CONNECTION_STATUS_CALLBACK, std::pair<int, void*>>> calls;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& [h, d] : devs)
            if (d.d.serial == serial && d.cb)
                calls.push_back({d.cb, {h, d.ctx}});
    }
    for (auto& c : calls)
        c.first(c.second.first, 0, 0, c.second.second);
}
