#include "IdsCamera.h"

#include "WizardPara.h"

#include <cstring>

IdsCamera::IdsCamera(int index) : CameraDevice(index, 5) {}

IdsCamera::~IdsCamera()
{
    if (opened())
        CameraClose();
}

bool IdsCamera::openKind()
{
    const size_t len = std::strlen(gSerialNB[m_index]);
    if (len < 9 || len > 19) {
        m_handle = HIDS(m_index + 1) | IS_USE_DEVICE_ID;
        if (is_InitCamera(&m_handle, nullptr) != IS_SUCCESS)
            return false;
    } else {
        INT count = 0;
        is_GetNumberOfCameras(&count);
        bool found = false;
        for (INT id = 1; id <= count && !found; ++id) {
            HIDS h = HIDS(id) | IS_USE_DEVICE_ID;
            if (is_InitCamera(&h, nullptr) != IS_SUCCESS)
                continue;
            CAMINFO info{};
            if (is_GetCameraInfo(h, &info) == IS_SUCCESS && std::strcmp(info.SerNo, gSerialNB[m_index]) == 0) {
                m_handle = h;
                found = true;
            } else {
                is_ExitCamera(h);
            }
        }
        if (!found)
            return false;
    }
    is_SetColorMode(m_handle, IS_CM_MONO8);
    is_AllocImageMem(m_handle, gImageW, gImageH, 8, &m_mem, &m_memId);
    is_SetImageMem(m_handle, m_mem, m_memId);
    IS_SIZE_2D size{gImageW, gImageH};
    is_AOI(m_handle, IS_AOI_IMAGE_SET_SIZE, &size, sizeof size);
    double off = 0, none = 0;
    is_SetAutoParameter(m_handle, IS_SET_ENABLE_AUTO_GAIN, &off, &none);
    is_SetAutoParameter(m_handle, IS_SET_ENABLE_AUTO_SHUTTER, &off, &none);
    is_SetHardwareGamma(m_handle, 1);
    UINT clock = 5;
    is_PixelClock(m_handle, IS_PIXELCLOCK_CMD_SET, &clock, sizeof clock);
    return true;
}

void IdsCamera::startKind() { is_CaptureVideo(m_handle, 1); }
void IdsCamera::stopKind() { is_StopLiveVideo(m_handle, IS_FORCE_VIDEO_STOP); }

void IdsCamera::closeKind()
{
    is_FreeImageMem(m_handle, m_mem, m_memId);
    m_mem = nullptr;
    is_ExitCamera(m_handle);
    m_handle = 0;
}

void IdsCamera::exposeKind(const WizardPara& p)
{
    double ms = p.expose_time[m_index];
    is_Exposure(m_handle, IS_EXPOSURE_CMD_SET_EXPOSURE, &ms, sizeof ms);
}

void IdsCamera::gainKind(const WizardPara& p)
{
    const int g = p.adjust_plus[m_index];
    is_SetHardwareGain(m_handle, g, g, g, g);
}

void IdsCamera::gammaKind(const WizardPara& p)
{
    INT g = p.gamma[m_index];
    is_Gamma(m_handle, IS_GAMMA_CMD_SET, &g, sizeof g);
}

void IdsCamera::speedKind(int speed)
{
    UINT clock = UINT(speed);
    is_PixelClock(m_handle, IS_PIXELCLOCK_CMD_SET, &clock, sizeof clock);
}

bool IdsCamera::threadPass()
{
    // The image memory is one 8-bit plane. Identical memory is no new frame;
    // the comparison is with this thread's own copy of the last one.
    const size_t len = size_t(std::max(0, gImageLen));
    if (!m_mem || len == 0)
        return true;
    if (m_last.size() == len && std::memcmp(m_mem, m_last.data(), len) == 0)
        return true;
    m_last.assign(reinterpret_cast<const unsigned char*>(m_mem), reinterpret_cast<const unsigned char*>(m_mem) + len);
    deliver(m_last.data(), len, Layout::Mono8);
    return true;
}

QString IdsCamera::serialNumber() const
{
    CAMINFO info{};
    if (!opened() || is_GetCameraInfo(m_handle, &info) != IS_SUCCESS)
        return {};
    return QString::fromLatin1(info.SerNo, int(strnlen(info.SerNo, sizeof info.SerNo)));
}
