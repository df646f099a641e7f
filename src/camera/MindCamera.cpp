#include "MindCamera.h"

#include "ImageLib.h"
#include "OperationRecord.h"
#include "WizardPara.h"

#include <QtDebug>
#include <cstdio>
#include <cstring>

tSdkCameraDevInfo gCList[12] = {};
tSdkImageResolution gImageResolution = {};

namespace {
// Detection fills gCList; a device opened without it enumerates itself.
void ensureList()
{
    if (gCList[0].acSn[0])
        return;
    int count = 12;
    CameraSdkInit(1);
    CameraEnumerateDevice(gCList, &count);
}
} // namespace

MindCamera::MindCamera(int index) : CameraDevice(index, 6) {}

MindCamera::~MindCamera()
{
    if (opened())
        CameraClose();
}

bool MindCamera::openKind()
{
    ensureList();
    const char* want = gSerialNB[m_index];
    int status = -1;
    if (std::strlen(want) < 9) {
        status = CameraInit(&gCList[m_index], -1, -1, &m_handle);
        qDebug() << "CameraInit 2" << status;
    } else {
        for (int i = 0; i < gFindCamera && i < 12; ++i) {
            if (std::strcmp(gCList[i].acSn, want) != 0)
                continue;
            OperationRecord::instance().InsertRecord(QStringLiteral("Mind Open %1 = %2").arg(m_index + 1).arg(want));
            status = CameraInit(&gCList[i], -1, -1, &m_handle);
            qDebug() << "CameraInit 1" << status;
            break;
        }
    }
    if (status != CAMERA_STATUS_SUCCESS) {
        OperationRecord::instance().InsertRecord(QStringLiteral("Mind Fail = %1").arg(status));
        m_handle = 0;
        return false;
    }
    CameraGetCapability(m_handle, &m_cap);
    configureOutput();
    CameraSetFrameSpeed(m_handle, 0);
    CameraSetConnectionStatusCallback(m_handle, &MindCamera::MindConnectStateCallBack, this);
    CameraCommonCall(m_handle, "set_online_detect_interval(500)", nullptr, 0);
    return true;
}

void MindCamera::configureOutput()
{
    tSdkImageResolution res{};
    if (gOW == 2592 && gisCut) {
        res = gImageResolution;
    } else {
        res.iIndex = 255;
        res.iHOffsetFOV = (gOW - gImageW) / 2;
        res.iVOffsetFOV = (gOH - gImageH) / 2;
        res.iWidthFOV = res.iWidth = gImageW;
        res.iHeightFOV = res.iHeight = gImageH;
    }
    CameraSetImageResolution(m_handle, &res);
    if (!gSensorColor) {
        CameraSetIspOutFormat(m_handle, CAMERA_MEDIA_TYPE_MONO8);
        CameraSetMonochrome(m_handle, false);
        return;
    }
    CameraSetWbMode(m_handle, false);
    if (gisColor) {
        if (gOW == 2048) {
            CameraSetIspOutFormat(m_handle, CAMERA_MEDIA_TYPE_RGB8);
            CameraSetMonochrome(m_handle, false);
        } else {
            CameraSetMediaType(m_handle, 0);
            CameraSetIspOutFormat(m_handle, CAMERA_MEDIA_TYPE_RGB8);
        }
    } else if (gOW == 2048) {
        CameraSetIspOutFormat(m_handle, CAMERA_MEDIA_TYPE_MONO8);
        CameraSetMonochrome(m_handle, true);
    } else {
        CameraSetMediaType(m_handle, 1);
        CameraSetIspOutFormat(m_handle, CAMERA_MEDIA_TYPE_MONO8);
    }
}

void MindCamera::startKind() { CameraPlay(m_handle); }

void MindCamera::stopKind()
{
    if (m_handle > 0)
        ::CameraStop(m_handle);
}

void MindCamera::closeKind()
{
    if (m_handle > 0)
        CameraUnInit(m_handle);
    m_handle = 0;
}

void MindCamera::changeTrigKind(bool) { CameraSetTriggerMode(m_handle, CameraParams().use_external_trigger ? 2 : 0); }

void MindCamera::exposeKind(const WizardPara& p)
{
    if (p.auto_expose) {
        CameraSetAeState(m_handle, true);
    } else {
        CameraSetAeState(m_handle, false);
        CameraSetExposureTime(m_handle, p.expose_time[m_index] * 1000.0);
    }
    CameraCommonCall(m_handle, p.auto_wdr ? "set_awdr_enable(true)" : "set_awdr_enable(false)", nullptr, 0);
}

void MindCamera::gainKind(const WizardPara& p)
{
    const tSdkExpose& e = m_cap.sExposeDesc;
    CameraSetAnalogGain(m_handle, int(e.uiAnalogGainMin + (e.uiAnalogGainMax - e.uiAnalogGainMin) / 64.0 * p.adjust_plus[m_index]));
}

void MindCamera::sharpKind(const WizardPara& p)
{
    const tSharpnessRange& r = m_cap.sSharpnessRange;
    CameraSetSharpness(m_handle, r.iMin + ((r.iMax - r.iMin) / 100) * p.sharp[m_index]);
}

void MindCamera::contrastKind(const WizardPara& p)
{
    const tContrastRange& r = m_cap.sContrastRange;
    CameraSetContrast(m_handle, r.iMin + ((r.iMax - r.iMin) / 200) * p.contrast[m_index]);
}

void MindCamera::gammaKind(const WizardPara& p)
{
    const tGammaRange& r = m_cap.sGammaRange;
    CameraSetGamma(m_handle, r.iMin + ((r.iMax - r.iMin) / 250) * p.gamma[m_index]);
}

void MindCamera::whiteBalanceKind() { CameraSetOnceWB(m_handle); }
void MindCamera::mirrorKind(int direction, bool on) { CameraSetMirror(m_handle, direction, on); }
void MindCamera::speedKind(int speed) { CameraSetFrameSpeed(m_handle, gisColor ? speed + 1 : speed); }

void MindCamera::defaultsKind()
{
    CameraLoadParameter(m_handle, 255);
    configureOutput();
    CameraSetAeState(m_handle, CameraParams().auto_expose != 0);
    CameraSetFrameSpeed(m_handle, 0);
    if (!gpWParaBak)
        return;
    double us = 0;
    int v = 0;
    CameraGetExposureTime(m_handle, &us);
    gpWParaBak->expose_time[m_index] = int(us / 1000.0);
    const tSdkExpose& e = m_cap.sExposeDesc;
    if (CameraGetAnalogGain(m_handle, &v) == CAMERA_STATUS_SUCCESS && e.uiAnalogGainMax > e.uiAnalogGainMin)
        gpWParaBak->adjust_plus[m_index] = int((v - int(e.uiAnalogGainMin)) * 64 / int(e.uiAnalogGainMax - e.uiAnalogGainMin));
    auto back = [&](CameraSdkStatus (*getter)(CameraHandle, int*), int lo, int hi, int scale, int& field) {
        const int step = (hi - lo) / scale;
        if (getter(m_handle, &v) == CAMERA_STATUS_SUCCESS && step > 0)
            field = (v - lo) / step;
    };
    back(CameraGetSharpness, m_cap.sSharpnessRange.iMin, m_cap.sSharpnessRange.iMax, 100, gpWParaBak->sharp[m_index]);
    back(CameraGetContrast, m_cap.sContrastRange.iMin, m_cap.sContrastRange.iMax, 200, gpWParaBak->contrast[m_index]);
    back(CameraGetGamma, m_cap.sGammaRange.iMin, m_cap.sGammaRange.iMax, 250, gpWParaBak->gamma[m_index]);
}

bool MindCamera::threadPass()
{
    tSdkFrameHead head{};
    BYTE* raw = nullptr;
    if (CameraGetImageBuffer(m_handle, &head, &raw, 100) != CAMERA_STATUS_SUCCESS)
        return true;
    CameraImageProcess(m_handle, raw, processedBuffer.data(), &head);
    // The processor gives 3 bytes per pixel only for a colour sensor in colour
    // mode; otherwise one grey plane (widened on delivery in colour mode).
    const bool rgb = gSensorColor && gisColor;
    if (head.iWidth != gImageW || head.iHeight != gImageH)
        deliver(nullptr, 0, Layout::Mono8);  // counted as refused
    else
        deliver(processedBuffer.data(), size_t(gImageLen) * (rgb ? 3 : 1), rgb ? Layout::Rgb24 : Layout::Mono8);
    CameraReleaseImageBuffer(m_handle, raw);
    return true;
}

void MindCamera::MindConnectStateCallBack(CameraHandle, UINT state, UINT, void*)
{
    if (state == 0)
        connectionLost = true;
}

QString MindCamera::serialNumber() const
{
    BYTE sn[64] = {};
    if (!opened() || CameraReadSN(m_handle, sn, 1) != CAMERA_STATUS_SUCCESS)
        return {};
    const char* text = reinterpret_cast<const char*>(sn);
    return QString::fromLatin1(text, int(strnlen(text, 32)));
}

void MindSdkVersion(char* out, size_t len)
{
    char v[256] = {};
    CameraSdkGetVersionString(v);
    std::snprintf(out, len, "%s", v);
}
