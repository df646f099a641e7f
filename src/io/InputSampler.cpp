#include "InputSampler.h"

#include "ControlPort.h"
#include "Globals.h"

InputSampler::InputSampler(ControlPort* port, QObject* parent) : QObject(parent), m_port(port)
{
    using Slot = void (InputSampler::*)();
    static const Slot handlers[8] = {&InputSampler::TimerCheckInput0, &InputSampler::TimerCheckInput1,
                                  &InputSampler::TimerCheckInput2, &InputSampler::TimerCheckInput3,
                                  &InputSampler::TimerCheckInput4, &InputSampler::TimerCheckInput5,
                                  &InputSampler::TimerCheckInput6, &InputSampler::TimerCheckInput7};
    for (int k = 0; k < 8; ++k) {
        m_check[k].setSingleShot(true);
        connect(&m_check[k], &QTimer::timeout, this, handlers[k]);
    }
}

bool InputSampler::sample(int k)
{
    if (k < 0 || k > 7 || !m_port->IOInTrigger(k))
        return false;
    return edgeSeen(k);
}

bool InputSampler::edgeSeen(int k)
{
    if (k < 0 || k > 7)
        return false;
    if (m_shake <= 0)
        return true;
    m_check[k].start(m_shake * 100);
    return false;
}

void InputSampler::expire(int k)
{
    m_check[k].stop();
    CheckInput(k);
}

void InputSampler::CheckInput(int index)
{
    if (index < 0 || index > 7)
        return;
    trigConfirmed[index] = m_port->IOState(0, index) == 1;
}

void InputSampler::setSimulatedLevel(int bit, bool on)
{
    QMutexLocker lock(pMutexIO);
    gDataIn = on ? (gDataIn | (1 << bit)) : (gDataIn & ~(1 << bit));
}
