// Simulated dvp devices: once started, a thread calls the stream callback
// with a new frame every 20 ms.
#include "DVPCamera.h"

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
const char* kVendor = "dvp";
struct Dev {
    standin::Device d;
    std::atomic<bool> running{false};
    std::thread pusher;
    dvpStreamCallback cb = nullptr;
    void* ctx = nullptr;
    dvpRegion roi{};
    std::atomic<int> format{S_MONO8};
    std::map<std::string, double> values;
};
std::mutex mutex;
std::map<dvpHandle, Dev*> devs;
dvpHandle nextHandle = 1;

Dev* find(dvpHandle h)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = devs.find(h);
    return it == devs.end() ? nullptr : it->second;
}
dvpStatus rec(dvpHandle h, const char* what, double v)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    d->values[what] = v;
    char b[64];
    std::snprintf(b, sizeof b, "%.10g", v);
    standin::record(d->d.serial, what, b);
    return DVP_STATUS_OK;
}
template <class T>
dvpStatus get(dvpHandle h, const char* what, T* v)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    *v = T(d->values.count(what) ? d->values[what] : 0.0);
    return DVP_STATUS_OK;
}
void stopPusher(Dev* d)
{
    d->running = false;
    if (d->pusher.joinable())
        d->pusher.join();
}
} // namespace

dvpStatus dvpRefresh(dvpUint32* count)
{
    if (!count)
        return DVP_STATUS_FAILED;
    *count = dvpUint32(standin::devices(kVendor).size());
    return DVP_STATUS_OK;
}

dvpStatus dvpGetSensorInfo(dvpHandle h, dvpSensorInfo* info)
{
    Dev* d = find(h);
    if (!d || !info)
        return DVP_STATUS_FAILED;
    *info = {};
    std::snprintf(info->descr, sizeof info->descr, "SIM");
    info->pixel = d->d.colour ? SENSOR_PIXEL_BAYER_RG : SENSOR_PIXEL_MONO;
    info->region = {16, 16, d->d.width, d->d.height, 4, 2};
    return DVP_STATUS_OK;
}

dvpStatus dvpGetRoi(dvpHandle h, dvpRegion* roi)
{
    Dev* d = find(h);
    if (!d || !roi)
        return DVP_STATUS_FAILED;
    *roi = d->roi.W > 0 ? d->roi : dvpRegion{0, 0, d->d.width, d->d.height};
    return DVP_STATUS_OK;
}

dvpStatus dvpEnum(dvpUint32 index, dvpCameraInfo* info)
{
    const auto& list = standin::devices(kVendor);
    if (index >= list.size())
        return DVP_STATUS_FAILED;
    std::memset(info, 0, sizeof *info);
    std::snprintf(info->FriendlyName, sizeof info->FriendlyName, "DVP-SIM-%u", index + 1);
    std::snprintf(info->SerialNumber, sizeof info->SerialNumber, "%s", list[index].serial.c_str());
    return DVP_STATUS_OK;
}

dvpStatus dvpOpenByName(const char* name, dvpUint32 mode, dvpHandle* h)
{
    const auto& list = standin::devices(kVendor);
    for (size_t i = 0; i < list.size(); ++i) {
        char expected[128];
        std::snprintf(expected, sizeof expected, "DVP-SIM-%zu", i + 1);
        if (std::strcmp(name, expected) != 0)
            continue;
        auto* d = new Dev;
        d->d = list[i];
        std::lock_guard<std::mutex> lock(mutex);
        *h = nextHandle++;
        devs[*h] = d;
        standin::record(d->d.serial, "OpenByName", std::to_string(mode));
        return DVP_STATUS_OK;
    }
    return DVP_STATUS_FAILED;
}

dvpStatus dvpClose(dvpHandle h)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    stopPusher(d);
    standin::record(d->d.serial, "Close", "ok");
    std::lock_guard<std::mutex> lock(mutex);
    devs.erase(h);
    delete d;
    return DVP_STATUS_OK;
}

dvpStatus dvpIsValid(dvpHandle h, bool* valid)
{
    *valid = find(h) != nullptr;
    return DVP_STATUS_OK;
}

dvpStatus dvpGetStreamState(dvpHandle h, dvpStreamState* s)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    *s = d->running ? STATE_STARTED : STATE_STOPED;
    return DVP_STATUS_OK;
}

dvpStatus dvpStart(dvpHandle h)
{
    Dev* d = find(h);
    if (!d || d->running)
        return DVP_STATUS_FAILED;
    d->running = true;
    d->pusher = std::thread([d, h] {
        unsigned n = 0;
        const int w = d->roi.W ? d->roi.W : d->d.width, hh = d->roi.H ? d->roi.H : d->d.height;
        const bool colour = d->format == S_RGB24;
        std::vector<unsigned char> buf(size_t(w) * hh * (colour ? 3 : 1));
        while (d->running) {
            standin::fillFrame(buf.data(), w, hh, colour ? 3 : 1, n++);
            dvpFrame f{colour ? FORMAT_BGR24 : FORMAT_MONO, w, hh, dvpUint32(buf.size())};
            if (d->cb)
                d->cb(h, STREAM_EVENT_FRAME_THREAD, d->ctx, &f, buf.data());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    return rec(h, "Start", 1);
}

dvpStatus dvpStop(dvpHandle h)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    stopPusher(d);
    return rec(h, "Stop", 1);
}

dvpStatus dvpSetGammaState(dvpHandle h, bool on) { return rec(h, "GammaState", on); }
dvpStatus dvpSetContrastState(dvpHandle h, bool on) { return rec(h, "ContrastState", on); }
dvpStatus dvpSetSharpnessState(dvpHandle h, bool on) { return rec(h, "SharpnessState", on); }
dvpStatus dvpSetTargetFormat(dvpHandle h, dvpTargetFormat f)
{
    if (Dev* d = find(h))
        d->format = f;
    return rec(h, "TargetFormat", f);
}
dvpStatus dvpSetConfigString(dvpHandle h, const char* name, const char* value)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    standin::record(d->d.serial, name, value);
    return DVP_STATUS_OK;
}
dvpStatus dvpSetAeOperation(dvpHandle h, int op) { return rec(h, "AeOperation", op); }
dvpStatus dvpSetTriggerSource(dvpHandle h, int s) { return rec(h, "TriggerSource", s); }
dvpStatus dvpSetTriggerState(dvpHandle h, bool on) { return rec(h, "TriggerState", on); }
dvpStatus dvpSetRoi(dvpHandle h, dvpRegion roi)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    d->roi = roi;
    standin::record(d->d.serial, "Roi", std::to_string(roi.X) + " " + std::to_string(roi.Y) + " " +
                                           std::to_string(roi.W) + " " + std::to_string(roi.H));
    return DVP_STATUS_OK;
}
dvpStatus dvpRegisterStreamCallback(dvpHandle h, dvpStreamCallback cb, dvpStreamEvent e, void* ctx)
{
    Dev* d = find(h);
    if (!d)
        return DVP_STATUS_FAILED;
    d->cb = cb;
    d->ctx = ctx;
    standin::record(d->d.serial, "StreamCallback", std::to_string(e));
    return DVP_STATUS_OK;
}
dvpStatus dvpSetExposure(dvpHandle h, double us) { return rec(h, "Exposure", us); }
dvpStatus dvpGetExposure(dvpHandle h, double* us) { return get(h, "Exposure", us); }
dvpStatus dvpSetAnalogGain(dvpHandle h, float g) { return rec(h, "AnalogGain", g); }
dvpStatus dvpGetAnalogGain(dvpHandle h, float* g) { return get(h, "AnalogGain", g); }
dvpStatus dvpGetAnalogGainDescr(dvpHandle h, dvpFloatDescr* d)
{
    *d = {1.0, 16.0, 1.0};
    return find(h) ? DVP_STATUS_OK : DVP_STATUS_FAILED;
}
dvpStatus dvpSetSharpness(dvpHandle h, dvpInt32 v) { return rec(h, "Sharpness", v); }
dvpStatus dvpGetSharpness(dvpHandle h, dvpInt32* v) { return get(h, "Sharpness", v); }
dvpStatus dvpSetContrast(dvpHandle h, dvpInt32 v) { return rec(h, "Contrast", v); }
dvpStatus dvpGetContrast(dvpHandle h, dvpInt32* v) { return get(h, "Contrast", v); }
dvpStatus dvpSetGamma(dvpHandle h, dvpInt32 v) { return rec(h, "Gamma", v); }
dvpStatus dvpGetGamma(dvpHandle h, dvpInt32* v) { return get(h, "Gamma", v); }
namespace {
dvpStatus descr(dvpHandle h, dvpInt32Descr* d, dvpInt32 max)
{
    *d = {0, max, max / 2};
    return find(h) ? DVP_STATUS_OK : DVP_STATUS_FAILED;
}
} // namespace
dvpStatus dvpGetSharpnessDescr(dvpHandle h, dvpInt32Descr* d) { return descr(h, d, 100); }
dvpStatus dvpGetContrastDescr(dvpHandle h, dvpInt32Descr* d) { return descr(h, d, 200); }
dvpStatus dvpGetGammaDescr(dvpHandle h, dvpInt32Descr* d) { return descr(h, d, 250); }
dvpStatus dvpLoadDefault(dvpHandle h) { return rec(h, "LoadDefault", 1); }
