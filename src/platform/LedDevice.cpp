#include "LedDevice.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QtDebug>

namespace platform {

LedDevice& LedDevice::instance()
{
    static LedDevice dev(qgetenv("STATION_PLATFORM") == "panel");
    return dev;
}

LedDevice::LedDevice(bool panel) : m_panel(panel) {}

LedDevice::~LedDevice()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int LedDevice::open()
{
    QMutexLocker lock(&m_mutex);
    if (!m_panel) {
        m_standInOpen = true;
        return 0;
    }
    if (m_fd < 0)
        m_fd = ::open("/dev/led", O_RDWR);
    if (m_fd < 0)
        qWarning() << "/dev/led not available; backlight and LED requests are ignored";
    return m_fd;
}

bool LedDevice::isOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_panel ? m_fd >= 0 : m_standInOpen;
}

void LedDevice::request(quint32 code)
{
    QMutexLocker lock(&m_mutex);
    if (!m_panel) {
        if (m_standInOpen)
            m_recorded.append(code);
        return;
    }
    if (m_fd >= 0 && ::ioctl(m_fd, static_cast<unsigned long>(code)) < 0)
        qWarning() << "ioctl on /dev/led failed, request" << Qt::hex << code;
}

QList<quint32> LedDevice::recorded() const
{
    QMutexLocker lock(&m_mutex);
    return m_recorded;
}

void LedDevice::clearRecorded()
{
    QMutexLocker lock(&m_mutex);
    m_recorded.clear();
}

} // namespace platform
