#include "HikCamera.h"

#include "ImageLib.h"
#include "WizardPara.h"

#include <cstring>

HikCamera::HikCamera(int index) : CameraDevice(index, 7) {}

HikCamera::~HikCamera()
{
    if (opened())
        CameraClose();
}

int HikCamera::pixelFormat() const
{
    return (gSensorColor && gisColor) ? int(PixelType_Gvsp_BayerRG8) : int(PixelType_Gvsp_Mono8);
}

bool HikCamera::openKind()
{
    static MV_CC_DEVICE_INFO_LIST list{};
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK)
        return false;
    const char* want = gSerialNB[m_index];
    m_info = nullptr;
    if (std::strlen(want) < 9) {
        if (unsigned(m_index) < list.nDeviceNum)
            m_info = list.pDeviceInfo[m_index];
    } else {
        for (unsigned i = 0; i < list.nDeviceNum; ++i)
            if (std::strncmp(reinterpret_cast<const char*>(list.pDeviceInfo[i]->SpecialInfo.stGigEInfo.chSerialNumber),
                             want, 16) == 0)
                m_info = list.pDeviceInfo[i];
    }
    if (!m_info || MV_CC_CreateHandle(&m_handle, m_info) != MV_OK)
        return false;
    if (MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0) != MV_OK) {
        MV_CC_DestroyHandle(m_handle);
        m_handle = nullptr;
        return false;
    }
    MV_CC_SetEnumValue(m_handle, "UserSetSelector", 0);
    MV_CC_SetCommandValue(m_handle, "UserSetLoad");
    MV_CC_SetBoolValue(m_handle, "SharpnessEnable", true);
    MV_CC_SetBoolValue(m_handle, "GammaEnable", true);
    MV_CC_SetIntValue(m_handle, "GevHeartbeatTimeout", 500);
    m_convert = {};
    m_convert.nWidth = static_cast<unsigned short>(gImageW);
    m_convert.nHeight = static_cast<unsigned short>(gImageH);
    m_convert.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
    m_convert.nDstBufferSize = unsigned(3 * gImageLen);
    processedBuffer.resize(size_t(3) * size_t(gImageLen));
    m_convert.pDstBuffer = processedBuffer.data();
    MV_CC_RegisterImageCallBackEx(m_handle, &HikCamera::ImageCallBack, this);
    MV_CC_RegisterExceptionCallBack(m_handle, &HikCamera::ExceptionImageCallBack, this);
    MV_CC_SetEnumValue(m_handle, "PixelFormat", unsigned(pixelFormat()));
    return true;
}

void HikCamera::startKind() { MV_CC_StartGrabbing(m_handle); }
void HikCamera::stopKind() { MV_CC_StopGrabbing(m_handle); }

void HikCamera::closeKind()
{
    MV_CC_CloseDevice(m_handle);
    MV_CC_DestroyHandle(m_handle);
    m_handle = nullptr;
}

void HikCamera::changeTrigKind(bool)
{
    if (CameraParams().use_external_trigger) {
        MV_CC_SetEnumValue(m_handle, "TriggerMode", 1);
        MV_CC_SetEnumValue(m_handle, "TriggerSource", 0);
    } else {
        MV_CC_SetEnumValue(m_handle, "TriggerMode", 0);
    }
}

void HikCamera::exposeKind(const WizardPara& p)
{
    MV_CC_SetEnumValue(m_handle, "ExposureMode", 0);
    MV_CC_SetEnumValue(m_handle, "ExposureAuto", 0);
    MV_CC_SetFloatValue(m_handle, "ExposureTime", float(p.expose_time[m_index]) * 1000.0f);
}

void HikCamera::gainKind(const WizardPara& p)
{
    MV_CC_SetEnumValue(m_handle, "GainAuto", 0);
    MVCC_FLOATVALUE v{};
    MV_CC_GetFloatValue(m_handle, "Gain", &v);
    MV_CC_SetFloatValue(m_handle, "Gain", v.fMin + (v.fMax - v.fMin) / 64.0f * float(p.adjust_plus[m_index]));
}

void HikCamera::sharpKind(const WizardPara& p)
{
    MVCC_INTVALUE v{};
    MV_CC_GetIntValue(m_handle, "Sharpness", &v);
    MV_CC_SetIntValue(m_handle, "Sharpness",
                      unsigned(int(v.nMin) + int((v.nMax - v.nMin) / 100.0 * p.sharp[m_index])));
}

void HikCamera::gammaKind(const WizardPara& p)
{
    MVCC_FLOATVALUE v{};
    MV_CC_GetFloatValue(m_handle, "Gamma", &v);
    MV_CC_SetFloatValue(m_handle, "Gamma", v.fMin + (v.fMax - v.fMin) / 250.0f * float(p.gamma[m_index]));
}

void HikCamera::whiteBalanceKind() { MV_CC_SetBalanceWhiteAuto(m_handle, 2); }

void HikCamera::speedKind(int speed)
{
    MV_CC_SetBoolValue(m_handle, "AcquisitionFrameRateEnable", true);
    MV_CC_SetFloatValue(m_handle, "AcquisitionFrameRate", float(speed <= 4 ? 20 : speed));
}

void HikCamera::defaultsKind()
{
    MV_CC_SetEnumValue(m_handle, "UserSetSelector", 0);
    MV_CC_SetCommandValue(m_handle, "UserSetLoad");
    MV_CC_SetEnumValue(m_handle, "PixelFormat", unsigned(pixelFormat()));
    if (!gpWParaBak)
        return;
    MVCC_FLOATVALUE v{};
    MV_CC_GetFloatValue(m_handle, "ExposureTime", &v);
    gpWParaBak->expose_time[m_index] = int(v.fCurValue / 1000.0f);
    MV_CC_GetFloatValue(m_handle, "Gain", &v);
    if (v.fMax > v.fMin)
        gpWParaBak->adjust_plus[m_index] = int((v.fCurValue - v.fMin) * 64.0f / (v.fMax - v.fMin));
    MV_CC_GetFloatValue(m_handle, "Gamma", &v);
    if (v.fMax > v.fMin)
        gpWParaBak->gamma[m_index] = int((v.fCurValue - v.fMin) * 250.0f / (v.fMax - v.fMin));
    MVCC_INTVALUE s{};
    MV_CC_GetIntValue(m_handle, "Sharpness", &s);
    if (s.nMax > s.nMin)
        gpWParaBak->sharp[m_index] = int((s.nCurValue - s.nMin) * 100 / (s.nMax - s.nMin));
}

void HikCamera::ImageCallBack(unsigned char* data, MV_FRAME_OUT_INFO_EX* info, void* widget)
{
    auto* self = static_cast<HikCamera*>(widget);
    if (!info || !data || !self)
        return;
    if (info->nWidth != gImageW || info->nHeight != gImageH) {
        self->deliver(nullptr, 0, Layout::Mono8);  // counted as refused
        return;
    }
    if (gSensorColor && gisColor) {
        MV_CC_PIXEL_CONVERT_PARAM c = self->m_convert;
        c.enSrcPixelType = info->enPixelType;
        c.pSrcData = data;
        c.nSrcDataLen = info->nFrameLen;
        if (MV_CC_ConvertPixelType(self->m_handle, &c) != MV_OK)
            return;
        self->deliver(self->processedBuffer.data(), size_t(3) * size_t(gImageLen), Layout::Rgb24);
    } else {
        // A grey sensor (or grey mode) sends one plane; colour mode widens it.
        self->deliver(data, info->nFrameLen, Layout::Mono8);
    }
}

void HikCamera::ExceptionImageCallBack(unsigned int msgType, void*)
{
    if (msgType == MV_EXCEPTION_DEV_DISCONNECT)
        connectionLost = true;
}

QString HikCamera::serialNumber() const
{
    // A USB device gives no serial here.
    if (!m_info || m_info->nTLayerType != MV_GIGE_DEVICE)
        return {};
    const char* sn = reinterpret_cast<const char*>(m_info->SpecialInfo.stGigEInfo.chSerialNumber);
    return QString::fromLatin1(sn, int(strnlen(sn, 16)));
}
