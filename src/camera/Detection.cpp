#include "Detection.h"

#include "CameraDevice.h"
#include "Ffmpeg.h"
#include "GigE.h"
#include "GenicamCamera.h"
#include "MindCamera.h"
#include "SimCamera.h"
#include "UsbCamera.h"

#include "CameraApi.h"
#include "DVPCamera.h"
#include "GxIAPI.h"
#include "MvCameraControl.h"
#include "ueye.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QtDebug>
#include <opencv2/imgcodecs.hpp>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

int gCamNO[8] = {0, 1, 2, 3, 4, 5, 6, 7};
int gisLost = 0;
int gLost = 0;

void DahengWorkingSize(int ow, int oh, bool cut, int& w, int& h)
{
    if (ow == 1280) {
        w = cut ? 1120 : 1280;
        h = cut ? 840 : oh;
    } else if (ow == 2048 && cut) {
        w = 1600;
        h = 1200;
    } else if (ow == 2592) {
        w = 1296;
        h = oh / 2;
    } else {
        w = ow;
        h = oh;
    }
}

void MindWorkingSize(int ow, int oh, bool cut, int presetW, int presetH, int& w, int& h)
{
    w = ow;
    h = oh;
    if (!cut)
        return;
    switch (ow) {
    case 1280: w = 1120; h = 840; break;
    case 1600: w = 1300; h = 1000; break;
    case 2048: w = 1600; h = 1200; break;
    case 2592: w = presetW; h = presetH; break;
    case 3088: w = 2592; h = 1944; break;
    default: break;
    }
}

int CheckUSBCameraNum(const QString& devicesFile)
{
    // Read in place: the kernel's list needs no copy in the working directory.
    QFile f(devicesFile);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    int n = 0;
    while (!f.atEnd())
        n += f.readLine().contains("Camera") ? 1 : 0;
    return n;
}

namespace {

bool probeDaheng(DetectionResult& r, bool cut)
{
    const GX_STATUS init = GXInitLib();
    if (init != GX_STATUS_SUCCESS)
        r.log << QStringLiteral("GXInitLib : %1").arg(init);
    uint32_t n = 0;
    if (GXUpdateDeviceList(&n, 20) != GX_STATUS_SUCCESS || n == 0) {
        r.log << "find 0 MerCamera ";
        return false;
    }
    GX_DEV_HANDLE h = nullptr;
    GX_STATUS st = GXOpenDeviceByIndex(1, &h);
    if (st != GX_STATUS_SUCCESS) {
        r.log << QStringLiteral("Open MerCamera Error : %1").arg(st);
        return false;
    }
    int64_t w = 0, hh = 0;
    if ((st = GXGetInt(h, 0x100003EE, &w)) != GX_STATUS_SUCCESS) {
        r.log << QStringLiteral("Get MerCamera width Error : %1").arg(st);
        GXCloseDevice(h);
        return false;
    }
    if ((st = GXGetInt(h, 0x100003EF, &hh)) != GX_STATUS_SUCCESS) {
        r.log << QStringLiteral("Get MerCamera height Error : %1").arg(st);
        GXCloseDevice(h);
        return false;
    }
    GXCloseDevice(h);
    r.sensorW = int(w);
    r.sensorH = int(hh);
    DahengWorkingSize(r.sensorW, r.sensorH, cut, r.width, r.height);
    r.found = int(n);
    r.log << QStringLiteral("find MerCamera count : %1").arg(n);
    return true;
}

bool probeIds(DetectionResult& r, const std::function<void(int)>& wait)
{
    INT n = 0;
    if (is_GetNumberOfCameras(&n) != IS_SUCCESS || n < 1)
        return false;
    HIDS h = HIDS(0) | IS_USE_DEVICE_ID;
    SENSORINFO info{};
    if (is_InitCamera(&h, nullptr) != IS_SUCCESS)
        return false;
    const bool ok = is_GetSensorInfo(h, &info) == IS_SUCCESS;
    if (ok) {
        r.sensorW = int(info.nMaxWidth);
        r.sensorH = int(info.nMaxHeight);
        r.sensorColour = info.nColorMode != IS_COLORMODE_MONOCHROME;
        r.width = 1280;
        r.height = 1024;
        if (wait)
            wait(3000);
        INT again = 0;
        is_GetNumberOfCameras(&again);
        r.found = int(again);
    }
    is_ExitCamera(h);
    return ok;
}

bool probeMind(DetectionResult& r, bool cut)
{
    CameraSdkInit(0);
    std::memset(gCList, 0, sizeof gCList);
    int n = 12;
    if (CameraEnumerateDevice(gCList, &n) != CAMERA_STATUS_SUCCESS || n < 1)
        return false;
    CameraHandle h = 0;
    if (CameraInit(&gCList[0], -1, -1, &h) != CAMERA_STATUS_SUCCESS)
        return false;
    tSdkCameraCapbility cap{};
    CameraGetCapability(h, &cap);
    r.sensorW = cap.sResolutionRange.iWidthMax;
    r.sensorH = cap.sResolutionRange.iHeightMax;
    r.sensorColour = !cap.sIspCapacity.bMonoSensor;
    int pw = r.sensorW, ph = r.sensorH;
    if (r.sensorW == 2592 && cap.pImageSizeDesc && cap.iImageSizeDesc > 0) {
        gImageResolution = cap.pImageSizeDesc[0];
        pw = gImageResolution.iWidth;
        ph = gImageResolution.iHeight;
    }
    MindWorkingSize(r.sensorW, r.sensorH, cut, pw, ph, r.width, r.height);
    CameraUnInit(h);
    std::memset(gCList, 0, sizeof gCList);
    n = 12;
    CameraEnumerateDevice(gCList, &n);
    r.found = n;
    return true;
}

bool probeDvp(DetectionResult& r)
{
    dvpUint32 n = 0;
    if (dvpRefresh(&n) != DVP_STATUS_OK) {
        r.log << "Enumerate fail!";
        return false;
    }
    n = std::min<dvpUint32>(n, 16);
    if (n == 0) {
        r.log << "find camera count: 0";
        return false;
    }
    dvpCameraInfo info{};
    dvpHandle h = 0;
    if (dvpEnum(0, &info) != DVP_STATUS_OK || dvpOpenByName(info.FriendlyName, 33, &h) != DVP_STATUS_OK) {
        r.log << "find camera fail";
        return false;
    }
    dvpSensorInfo sensor{};
    dvpGetSensorInfo(h, &sensor);
    r.sensorColour = sensor.pixel != SENSOR_PIXEL_MONO;
    dvpRegion roi{};
    dvpGetRoi(h, &roi);
    r.width = roi.W;
    r.height = roi.H;
    r.sensorW = sensor.region.iMaxW;
    r.sensorH = sensor.region.iMaxH;
    dvpClose(h);
    r.found = int(n);
    return r.width > 0 && r.height > 0;
}

bool probeUsb(DetectionResult& r)
{
    const int n = CheckUSBCameraNum();
    if (n <= 0)
        return false;
    RegisterFfmpeg();
    AVFormatContext* fmt = nullptr;
    const AVInputFormat* ifmt = av_find_input_format("video4linux2");
    if (!ifmt || avformat_open_input(&fmt, "/dev/video0", ifmt, nullptr) != 0)
        return false;
    bool video = false;
    if (avformat_find_stream_info(fmt, nullptr) >= 0)
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            video = video || fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    avformat_close_input(&fmt);
    if (!video)
        return false;
    r.found = n;
    r.width = 960;
    r.height = 540;
    return true;
}

bool probeHik(DetectionResult& r)
{
    static MV_CC_DEVICE_INFO_LIST list{};
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK || list.nDeviceNum < 1)
        return false;
    void* h = nullptr;
    if (MV_CC_CreateHandle(&h, list.pDeviceInfo[0]) != MV_OK)
        return false;
    if (MV_CC_OpenDevice(h, MV_ACCESS_Exclusive, 0) != MV_OK) {
        MV_CC_DestroyHandle(h);
        return false;
    }
    MVCC_STRINGVALUE model{};
    MV_CC_GetStringValue(h, "DeviceModelName", &model);
    const size_t len = strnlen(model.chCurValue, sizeof model.chCurValue);
    r.sensorColour = !(len > 0 && model.chCurValue[len - 1] == 'M');
    MVCC_INTVALUE v{};
    MV_CC_GetIntValue(h, "WidthMax", &v);
    r.sensorW = int(v.nCurValue);
    MV_CC_GetIntValue(h, "HeightMax", &v);
    r.sensorH = int(v.nCurValue);
    MV_CC_GetIntValue(h, "Width", &v);
    r.width = int(v.nCurValue);
    MV_CC_GetIntValue(h, "Height", &v);
    r.height = int(v.nCurValue);
    MV_CC_CloseDevice(h);
    MV_CC_DestroyHandle(h);
    r.found = int(list.nDeviceNum);
    return r.width > 0 && r.height > 0;
}

// Runs one SDK's probe with a bound: an SDK that hangs is left behind and the
// next kind is tried. (One that crashes ends the process; its name is in the
// log line written before the call.)
bool bounded(const char* name, const std::function<bool(DetectionResult&)>& probe, DetectionResult& r, int ms)
{
    if (!probe)
        return false;
    qInfo() << "camera detection: asking" << name;
    auto result = std::make_shared<DetectionResult>(r);
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> answer = done->get_future();
    std::thread([probe, result, done] { done->set_value(probe(*result)); }).detach();
    if (answer.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready) {
        const QString line = QStringLiteral("camera SDK %1 did not answer in %2 s; skipped").arg(name).arg(ms / 1000);
        qWarning() << line;
        r.log << line;
        return false;
    }
    const bool found = answer.get();
    r = *result;
    return found;
}

} // namespace

DetectionProbes DetectionProbes::real()
{
    DetectionProbes p;
    p.repairGige = [] { return RepairAllCameraIP(); };
    p.ensureHikReach = [] { return EnsureDeviceReach(); };
    p.wait = [](int ms) { QThread::msleep(unsigned(ms)); };
    p.daheng = probeDaheng;
    p.ids = [w = p.wait](DetectionResult& r, bool) {
        CameraUSBDeviceInit();  // MindVision's USB set-up comes first
        return probeIds(r, w);
    };
    p.mind = probeMind;
    p.dvp = [](DetectionResult& r, bool) { return probeDvp(r); };
    p.usb = [](DetectionResult& r, bool) { return probeUsb(r); };
    p.hik = [](DetectionResult& r, bool) { return probeHik(r); };
    p.genicam = [](DetectionResult& r, bool) { return GenicamCamera::Probe(r.found, r.width, r.height, r.sensorW,
                                                                         r.sensorH, r.sensorColour); };
    return p;
}

DetectionResult RunDetection(const DetectionProbes& p, bool cut, int timeoutMs)
{
    DetectionResult r;
    if (p.repairGige) {
        r.repaired = p.repairGige();
        if (r.repaired > 0 && p.wait)
            p.wait(6000);
    }
    struct Try {
        const char* name;
        int kind;
        const std::function<bool(DetectionResult&, bool)>* probe;
        bool beforeHik;
    };
    const Try tries[] = {{"Daheng", kKindDaheng, &p.daheng, false}, {"IDS", kKindIds, &p.ids, false},
                         {"MindVision", kKindMind, &p.mind, false}, {"dvp", kKindDvp, &p.dvp, false},
                         {"USB video", kKindUsb, &p.usb, false},    {"Hikvision", kKindHik, &p.hik, true},
                         {"GenICam", kKindGenicam, &p.genicam, false}};
    for (const Try& t : tries) {
        if (t.beforeHik && p.ensureHikReach && *t.probe)
            p.ensureHikReach();
        DetectionResult attempt = r;
        const auto& probe = *t.probe;
        // Copies, not references: a probe left hanging outlives this call.
        std::function<bool(DetectionResult&)> run;
        if (probe)
            run = [probe, cut](DetectionResult& x) { return probe(x, cut); };
        if (bounded(t.name, run, attempt, timeoutMs)) {
            attempt.kind = t.kind;
            return attempt;
        }
        r.log = attempt.log;
    }
    r.kind = kKindNone;
    r.found = 2;
    r.width = 1920;
    r.height = 1080;
    return r;
}

ReplaySetup ReplayCameras(const QString& source)
{
    ReplaySetup s;
    const QFileInfo fi(source);
    QString first = source;
    if (fi.isDir()) {
        QDir dir(source);
        // camera<N> is a folder of pictures or one picture (a scene), N from 1 without gaps.
        for (int c = 1; c <= kMaxCameras; ++c) {
            const QString name = QStringLiteral("camera%1").arg(c);
            const QStringList scene = dir.entryList(SimCamera::pictureFilters(), QDir::Files, QDir::Name)
                                          .filter(QRegularExpression(QStringLiteral("^%1\\.").arg(name)));
            if (dir.exists(name))
                s.sources << dir.filePath(name);
            else if (!scene.isEmpty())
                s.sources << dir.filePath(scene.first());
            else
                break;
        }
        if (s.sources.isEmpty())
            s.sources = {source, source};
        const QFileInfo head(s.sources.first());
        if (head.isFile()) {
            first = head.filePath();
        } else {
            const QStringList pics = QDir(s.sources.first()).entryList(SimCamera::pictureFilters(), QDir::Files, QDir::Name);
            first = pics.isEmpty() ? QString() : QDir(s.sources.first()).filePath(pics.first());
        }
    } else {
        s.sources = {source, source};
    }
    if (!first.isEmpty() && QFileInfo(first).isFile()) {
        const cv::Mat probe = cv::imread(first.toStdString(), cv::IMREAD_UNCHANGED);
        if (!probe.empty()) {
            s.width = probe.cols;
            s.height = probe.rows;
        }
    }
    return s;
}

void ApplyDetection(const DetectionResult& r)
{
    gCameraID = r.kind;
    gFindCamera = r.found;
    gOW = r.sensorW ? r.sensorW : r.width;
    gOH = r.sensorH ? r.sensorH : r.height;
    gImageW = r.width;
    gImageH = r.height;
    gSensorColor = r.sensorColour ? 1 : 0;
    gImageLen = gImageW * gImageH;
    gColorLen = gisColor ? 4 * gImageLen : gImageLen;
}

DetectionResult CheckCameraID()
{
    DetectionResult r;
    const QString replay = SimCamera::replaySource();
    if (!replay.isEmpty()) {
        const ReplaySetup s = ReplayCameras(replay);
        r.kind = kKindNone;
        r.found = int(s.sources.size());
        r.width = s.width;
        r.height = s.height;
        r.log << QStringLiteral("replay of %1: %2 cameras at %3 x %4").arg(replay).arg(r.found).arg(r.width).arg(r.height);
    } else {
        r = RunDetection(DetectionProbes::real(), gisCut != 0);
    }
    for (const QString& line : r.log)
        qInfo().noquote() << "camera detection:" << line;
    ApplyDetection(r);
    return r;
}
