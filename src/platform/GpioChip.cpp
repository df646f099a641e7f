#include "GpioChip.h"

#include <QByteArray>
#include <QtDebug>
#include <atomic>

namespace platform {

namespace {
std::atomic<quint8> standInInput{0};
std::atomic<quint8> standInOut{0};
std::atomic<bool> warned{false};
} // namespace

GpioChip& GpioChip::instance()
{
    static GpioChip chip(qgetenv("STATION_PLATFORM") == "panel");
    return chip;
}

// The chip's register access comes with the panel maker's support library,
// which this build does not link; on the panel the path reports itself once.
quint8 GpioChip::getDigitalInput()
{
    if (m_panel) {
        if (!warned.exchange(true))
            qWarning() << "on-board GPIO chip access is not available in this build";
        return 0;
    }
    return standInInput;
}

void GpioChip::setDigitalOutput(quint8 bits)
{
    if (!m_panel)
        standInOut = bits;
}

void GpioChip::setStandInInput(quint8 bits) { standInInput = bits; }
quint8 GpioChip::standInOutput() const { return standInOut; }

} // namespace platform

unsigned char F75111_GetDigitalInput() { return platform::GpioChip::instance().getDigitalInput(); }
void F75111_SetDigitalOutput(unsigned char bits) { platform::GpioChip::instance().setDigitalOutput(bits); }
