#include "DahengCamera.h"

#include "ImageLib.h"
#include "WizardPara.h"

#include <cstring>

namespace {
enum : int32_t {
    kUserOutput = 0x10000BBB, kBinH = 0x100003F0, kBinV = 0x100003F1, kDecH = 0x100003F2, kDecV = 0x100003F3,
    kOffX = 0x100003EC, kOffY = 0x100003ED, kWidth = 0x100003EE, kHeight = 0x100003EF, kEnum178A = 0x3000178A,
    kBool1395 = 0x40001395, kAcqStart = 0x70000BB9, kAcqStop = 0x70000BBA, kAcqMode = 0x30000BB8,
    kTrigMode = 0x30000BBD, kAutoExposure = 0x30000BC2, kExposure = 0x20000BC1, kWdr = 0x300036B0,
    kGain = 0x20001393, kSharp = 0x2000178B, kGamma = 0x20001397
};
}

DahengCamera::DahengCamera(int index) : CameraDevice(index, 4), m_grab(size_t(std::max(0, gImageLen))) {}

DahengCamera::~DahengCamera()
{
    if (opened())
        CameraClose();
}

bool DahengCamera::openKind()
{
    GXInitLib();
    const char* want = gSerialNB[m_index];
    GX_STATUS st;
    if (std::strlen(want) < 9) {
        st = GXOpenDeviceByIndex(uint32_t(m_index + 1), &m_handle);
    } else {
        GX_OPEN_PARAM p{const_cast<char*>(want), GX_OPEN_SN, GX_ACCESS_EXCLUSIVE};
        st = GXOpenDevice(&p, &m_handle);
    }
    if (st != GX_STATUS_SUCCESS) {
        m_handle = nullptr;
        return false;
    }
    GXSetEnum(m_handle, kUserOutput, 0);
    if (gImageW * 2 == gOW) {
        for (int32_t id : {kBinH, kBinV, kDecH, kDecV})
            GXSetInt(m_handle, id, 2);
        GXSetInt(m_handle, kOffX, 0);
        GXSetInt(m_handle, kOffY, 0);
    } else {
        GXSetInt(m_handle, kOffX, (gOW - gImageW) / 2);
        GXSetInt(m_handle, kOffY, (gOH - gImageH) / 2);
    }
    GXSetInt(m_handle, kWidth, gImageW);
    GXSetInt(m_handle, kHeight, gImageH);
    GXSetEnum(m_handle, kEnum178A, 1);
    GXSetBool(m_handle, kBool1395, true);
    return true;
}

void DahengCamera::startKind() { GXSendCommand(m_handle, kAcqStart); }
void DahengCamera::stopKind() { GXSendCommand(m_handle, kAcqStop); }

void DahengCamera::closeKind()
{
    GXCloseDevice(m_handle);
    m_handle = nullptr;
}

void DahengCamera::changeTrigKind(bool restart)
{
    // Always free-running.
    if (restart)
        GXSendCommand(m_handle, kAcqStop);
    GXSetEnum(m_handle, kAcqMode, 2);
    GXSetEnum(m_handle, kTrigMode, 0);
    if (restart)
        GXSendCommand(m_handle, kAcqStart);
}

void DahengCamera::exposeKind(const WizardPara& p)
{
    if (p.auto_expose) {
        GXSetEnum(m_handle, kAutoExposure, 1);
    } else {
        GXSetEnum(m_handle, kAutoExposure, 0);
        GX_FLOAT_RANGE r{};
        const int v = p.expose_time[m_index];
        if (GXGetFloatRange(m_handle, kExposure, &r) == GX_STATUS_SUCCESS)
            GXSetFloat(m_handle, kExposure, double(int(r.dMin + (r.dMax - r.dMin) / 100.0 * v)));
        else
            GXSetFloat(m_handle, kExposure, double(v));
    }
    GXSetEnum(m_handle, kWdr, p.auto_wdr);
}

void DahengCamera::gainKind(const WizardPara& p)
{
    GX_FLOAT_RANGE r{};
    GXGetFloatRange(m_handle, kGain, &r);
    GXSetFloat(m_handle, kGain, double(int(r.dMin + (r.dMax - r.dMin) * p.adjust_plus[m_index] / 64.0)));
}

void DahengCamera::sharpKind(const WizardPara& p)
{
    GX_FLOAT_RANGE r{};
    GXGetFloatRange(m_handle, kSharp, &r);
    GXSetFloat(m_handle, kSharp, double(int(r.dMin + (r.dMax - r.dMin) / 100.0 * p.sharp[m_index])));
}

void DahengCamera::contrastKind(const WizardPara& p)
{
    const int c = p.contrast[m_index];
    QMutexLocker lock(pMutex[m_index]);
    gContrast[m_index] = c > 150 ? 100 : c - 50;
}

void DahengCamera::gammaKind(const WizardPara& p)
{
    GX_FLOAT_RANGE r{};
    GXGetFloatRange(m_handle, kGamma, &r);
    GXSetFloat(m_handle, kGamma, r.dMin + (r.dMax - r.dMin) / 250.0 * p.gamma[m_index]);
}

bool DahengCamera::threadPass()
{
    GX_FRAME_DATA f{};
    f.pImgBuf = m_grab.data();
    if (GXGetImage(m_handle, &f, 100) != GX_STATUS_SUCCESS || f.nStatus != GX_FRAME_STATUS_SUCCESS)
        return true;
    int contrast;
    {
        QMutexLocker lock(pMutex[m_index]);
        contrast = gContrast[m_index];
    }
    // The grab buffer holds one grey plane; colour mode widens it on delivery.
    if (f.nWidth != gImageW || f.nHeight != gImageH) {
        deliver(nullptr, 0, Layout::Mono8);  // counted as refused
        return true;
    }
    DxContrast(m_grab.data(), processedBuffer.data(), int(m_grab.size()), contrast);
    deliver(processedBuffer.data(), m_grab.size(), Layout::Mono8);
    return true;
}
