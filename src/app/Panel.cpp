#include "Panel.h"

#include "LedDevice.h"

#include <QByteArray>
#include <QMutex>
#include <QtDebug>

std::atomic<bool> gisLCDOff{false};

namespace {
QMutex ledMutex;
quint8 ledByte = 0xFF;
} // namespace

void LCDOnOff(int on)
{
    platform::LedDevice::instance().request(on ? 0x5A018B00u : 0x5A018A00u);
    gisLCDOff = !on;
}

void LEDOnOff(int led, int on)
{
    if (led < 0 || led > 7)
        return;
    QMutexLocker lock(&ledMutex);
    if (on)
        ledByte |= quint8(1u << led);
    else
        ledByte &= quint8(~(1u << led));
    platform::LedDevice::instance().request(0x5A018000u | ledByte);
}

std::optional<bool> autoAnswer()
{
    const QByteArray a = qgetenv("STATION_ANSWER").trimmed().toLower();
    if (a == "yes")
        return true;
    if (a == "no")
        return false;
    if (!a.isEmpty())
        qWarning() << "STATION_ANSWER must be yes or no; boxes wait for the operator";
    return std::nullopt;
}
