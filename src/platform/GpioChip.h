#pragma once
// The on-board GPIO chip (8 inputs, 8 outputs) used when no serial IO board
// is fitted. Outside panel mode a stand-in holds the levels for tests.
#include <QtGlobal>

namespace platform {

class GpioChip {
public:
    static GpioChip& instance();
    explicit GpioChip(bool panel) : m_panel(panel) {}

    quint8 getDigitalInput();
    void setDigitalOutput(quint8 bits);

    // Stand-in only.
    void setStandInInput(quint8 bits);
    quint8 standInOutput() const;

private:
    bool m_panel;
};

} // namespace platform

unsigned char F75111_GetDigitalInput();
void F75111_SetDigitalOutput(unsigned char bits);
