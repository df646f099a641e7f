#include "DvpCamera.h"

#include "ImageLib.h"
#include "WizardPara.h"

#include <cstring>

DvpCamera::DvpCamera(int index) : CameraDevice(index, 12) {}

DvpCamera::~DvpCamera()
{
    if (opened())
        CameraClose();
}

bool DvpCamera::IsValidHandle(unsigned handle) const
{
    bool valid = false;
    return dvpIsValid(handle, &valid) == DVP_STATUS_OK && valid;
}

void DvpCamera::configure()
{
    dvpSetGammaState(m_handle, true);
    dvpSetContrastState(m_handle, true);
    dvpSetSharpnessState(m_handle, true);
    dvpSetTargetFormat(m_handle, (gisColor && gSensorColor) ? S_RGB24 : S_MONO8);
    dvpSetConfigString(m_handle, "HdrEnable", "false");
    dvpSetAeOperation(m_handle, 0);
    dvpSetTriggerSource(m_handle, 1);
    dvpSetRoi(m_handle, dvpRegion{0, 0, gImageW, gImageH});
}

bool DvpCamera::openKind()
{
    dvpCameraInfo info{};
    if (dvpEnum(dvpUint32(m_index), &info) != DVP_STATUS_OK ||
        dvpOpenByName(info.FriendlyName, 33, &m_handle) != DVP_STATUS_OK)
        return false;
    configure();
    dvpRegisterStreamCallback(m_handle, &DvpCamera::dvpStreamCallback, STREAM_EVENT_FRAME_THREAD, this);
    return true;
}

void DvpCamera::startKind()
{
    dvpStreamState state;
    if (IsValidHandle(m_handle) && dvpGetStreamState(m_handle, &state) == DVP_STATUS_OK && state == STATE_STOPED)
        dvpStart(m_handle);
}

void DvpCamera::stopKind()
{
    dvpStreamState state;
    if (IsValidHandle(m_handle) && dvpGetStreamState(m_handle, &state) == DVP_STATUS_OK && state == STATE_STARTED)
        dvpStop(m_handle);
}

void DvpCamera::closeKind()
{
    dvpClose(m_handle);
    m_handle = 0;
}

void DvpCamera::changeTrigKind(bool) { dvpSetTriggerState(m_handle, CameraParams().use_external_trigger != 0); }

void DvpCamera::exposeKind(const WizardPara& p)
{
    if (p.auto_expose) {
        dvpSetAeOperation(m_handle, 2);
    } else {
        dvpSetAeOperation(m_handle, 0);
        dvpSetExposure(m_handle, p.expose_time[m_index] * 1000.0);
    }
    dvpSetConfigString(m_handle, "HdrEnable", p.auto_wdr ? "true" : "false");
}

void DvpCamera::gainKind(const WizardPara& p)
{
    dvpFloatDescr d{};
    dvpGetAnalogGainDescr(m_handle, &d);
    dvpSetAnalogGain(m_handle, float(d.fMin + (d.fMax - d.fMin) / 64.0 * p.adjust_plus[m_index]));
}

void DvpCamera::sharpKind(const WizardPara& p)
{
    dvpInt32Descr d{};
    dvpGetSharpnessDescr(m_handle, &d);
    dvpSetSharpness(m_handle, dvpInt32(d.iMin + (d.iMax - d.iMin) / 100.0 * p.sharp[m_index]));
}

void DvpCamera::contrastKind(const WizardPara& p)
{
    dvpInt32Descr d{};
    dvpGetContrastDescr(m_handle, &d);
    dvpSetContrast(m_handle, dvpInt32(d.iMin + (d.iMax - d.iMin) / 200.0 * p.contrast[m_index]));
}

void DvpCamera::gammaKind(const WizardPara& p)
{
    dvpInt32Descr d{};
    dvpGetGammaDescr(m_handle, &d);
    dvpSetGamma(m_handle, dvpInt32(d.iMin + (d.iMax - d.iMin) / 250.0 * p.gamma[m_index]));
}

void DvpCamera::speedKind(int speed) { m_skip = speed; }

void DvpCamera::defaultsKind()
{
    dvpLoadDefault(m_handle);
    configure();
    dvpSetConfigString(m_handle, "HdrEnable", CameraParams().auto_wdr ? "true" : "false");
    if (!gpWParaBak)
        return;
    double us = 0;
    dvpGetExposure(m_handle, &us);
    gpWParaBak->expose_time[m_index] = int(us / 1000.0);
    float g = 0;
    dvpFloatDescr gd{};
    dvpGetAnalogGain(m_handle, &g);
    dvpGetAnalogGainDescr(m_handle, &gd);
    if (gd.fMax > gd.fMin)
        gpWParaBak->adjust_plus[m_index] = int((g - gd.fMin) * 64.0 / (gd.fMax - gd.fMin));
    auto back = [&](dvpStatus (*get)(dvpHandle, dvpInt32*), dvpStatus (*descr)(dvpHandle, dvpInt32Descr*), int scale,
                    int& field) {
        dvpInt32 v = 0;
        dvpInt32Descr d{};
        get(m_handle, &v);
        descr(m_handle, &d);
        if (d.iMax > d.iMin)
            field = int((v - d.iMin) * double(scale) / (d.iMax - d.iMin));
    };
    back(dvpGetSharpness, dvpGetSharpnessDescr, 100, gpWParaBak->sharp[m_index]);
    back(dvpGetGamma, dvpGetGammaDescr, 250, gpWParaBak->gamma[m_index]);
    back(dvpGetContrast, dvpGetContrastDescr, 200, gpWParaBak->contrast[m_index]);
}

dvpInt32 DvpCamera::dvpStreamCallback(dvpHandle, dvpStreamEvent, void* widget, dvpFrame* frame, void* data)
{
    auto* self = static_cast<DvpCamera*>(widget);
    if (!self || !frame || !data)
        return 0;
    // One frame in (skip + 1) is used.
    if (++self->m_counter <= self->m_skip)
        return 0;
    self->m_counter = 0;
    if (frame->iWidth != gImageW || frame->iHeight != gImageH) {
        self->deliver(nullptr, 0, Layout::Mono8);  // counted as refused
        return 0;
    }
    // The SDK sends 3 bytes per pixel for a colour target, else one grey plane.
    self->deliver(static_cast<const unsigned char*>(data), frame->uBytes,
                  frame->format == FORMAT_BGR24 ? Layout::Rgb24 : Layout::Mono8);
    return 0;
}

QString DvpCamera::serialNumber() const
{
    dvpCameraInfo info{};
    if (dvpEnum(dvpUint32(m_index), &info) != DVP_STATUS_OK)
        return {};
    return QString::fromLatin1(info.SerialNumber, int(strnlen(info.SerialNumber, sizeof info.SerialNumber)));
}
