#include "ControlPort.h"
#include "OutputRules.h"

#include "Globals.h"
#include "Logs.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "WizardPara.h"

#include <QtDebug>
#include <algorithm>

ControlPort* gpControlIO = nullptr;
int gisSafeDoorOpen = 0;

ControlPort::Config ControlPort::configFrom(const WizardPara& p)
{
    Config c;
    for (int i = 0; i < 9; ++i)
        c.outInvert[i] = p.out_invert[i] ? 1 : 0;
    c.moldBackup = p.enable_mold_backup;
    c.input4Source = p.enable_output_thimble_pulse;
    c.safetyDoorRule = p.machine_mode != 1 && p.machine_mode != 2;
    const outputrules::Change prohibit = outputrules::prohibit(p);
    c.prohibitSet = prohibit.set;
    c.prohibitClear = prohibit.clear;
    return c;
}

QString ControlPort::portName(int serialPort)
{
    const QString env = qEnvironmentVariable("STATION_IO_PORT");
    if (!env.isEmpty())
        return env;
    return QStringLiteral("/dev/ttyS%1").arg(serialPort);
}

ControlPort::ControlPort(const Config& config, const QString& portName, QObject* parent)
    : QObject(parent), m_config(config)
{
    // The IO words are shared with the thread from here on: their lock must exist.
    if (!pMutexIO)
        createGlobalLocks();
    gIOID = 1;
    unwatchTick();
    // Gone before the first tick: prohibited and the alarm.
    m_lastLogical = (m_config.prohibitSet | 4) & ~m_config.prohibitClear;
    setLastWord(m_lastLogical);
    gOnFatalSignal = writeLastWordNow;
    // The first word the board can get prohibits clamping: nothing is judged yet.
    IOResetAllOut();
    prohibitClamping();
    if (portName == QLatin1String(kDirect))
        return;
    m_thread = new IOThread(portName, this);
    connect(m_thread, &IOThread::reconnected, this,
            [] { OperationRecord::instance().InsertRecord(LanStr(1011)); }, Qt::QueuedConnection);
    connect(m_thread, &IOThread::guardUnavailable, this,
            [](const QString& why) { OperationRecord::instance().InsertRecord(LanStr(1722).arg(why)); },
            Qt::QueuedConnection);
    m_thread->start(QThread::InheritPriority);
}

ControlPort::~ControlPort()
{
    unwatchTick();
    delete m_thread;
    if (gpControlIO == this)
        gpControlIO = nullptr;
}

namespace {
void setBit(const ControlPort::Config& c, int& word, int index, int on)
{
    const int v = (on ? 1 : 0) ^ c.outInvert[index];
    auto put = [&word, v](int bit) { word = v ? (word | (1 << bit)) : (word & ~(1 << bit)); };
    if (c.moldBackup != 0 && c.moldBackup == index + 1)
        put(3);
    put(index);
}
} // namespace

void ControlPort::IOSetOut(int index, int on)
{
    if (index < 0 || index > 8)
        return;
    setBit(m_config, m_out, index, on);
}

int ControlPort::physicalWord(const Config& c, int logical)
{
    int word = 0;
    // Output 4 first: a copy of another output written after it wins, as on every set.
    setBit(c, word, 3, (logical >> 3) & 1);
    for (int k = 0; k < 9; ++k)
        if (k != 3)
            setBit(c, word, k, (logical >> k) & 1);
    return word;
}

void ControlPort::setLastWord(int logical)
{
    m_lastLogical = logical;
    gLastWord = physicalWord(m_config, m_lastLogical);
}

bool ControlPort::publishLastWord(int waitMs)
{
    m_out = lastWord();
    IOFlashOut();
    if (!m_thread)
        return true;
    const qint64 until = IOThread::nowMs() + waitMs;
    while (gBoardOutWord != (m_out & 0x3FF)) {
        if (IOThread::nowMs() >= until) {
            gLeaveToGuard = 1;
            return false;
        }
        QThread::msleep(1);
    }
    gLeaveToGuard = 0;
    return true;
}

qint64 ControlPort::tickAlive(int withinMs)
{
    QMutexLocker lock(pMutexIO);
    gTickDeadlineMs = IOThread::nowMs() + withinMs;
    if (!gHangHeld)
        return 0;
    gHangHeld = 0;
    gDataOut = m_out;
    gIoWake.notify_all();
    return std::max<qint64>(1, IOThread::nowMs() - gHangSinceMs);
}

void ControlPort::unwatchTick()
{
    gTickDeadlineMs = 0;
    gHangHeld = 0;
}

void ControlPort::prohibitClamping()
{
    for (int k = 0; k < 9; ++k) {
        if ((m_config.prohibitSet >> k) & 1)
            IOSetOut(k, 1);
        else if ((m_config.prohibitClear >> k) & 1)
            IOSetOut(k, 0);
    }
    IOFlashOut();
}

bool ControlPort::applyConfig(const Config& c)
{
    if (c == m_config)
        return false;
    int logical[9];
    for (int k = 0; k < 9; ++k)
        logical[k] = ((c.prohibitSet >> k) & 1) ? 1 : ((c.prohibitClear >> k) & 1) ? 0 : outputOn(k);
    m_config = c;
    m_out = 0;
    // Output 4 first: a copy of another output written after it wins, as on every set.
    IOSetOut(3, logical[3]);
    for (int k = 0; k < 9; ++k)
        if (k != 3)
            IOSetOut(k, logical[k]);
    setLastWord(m_lastLogical);
    IOFlashOut();
    return true;
}

void ControlPort::IOResetAllOut()
{
    for (int i = 0; i < 9; ++i)
        IOSetOut(i, 0);
}

void ControlPort::IOFlashOut()
{
    QMutexLocker lock(pMutexIO);
    if (gDataOut != m_out) {
        gDataOut = m_out;
        gIoWake.notify_all();
    }
}

int ControlPort::IOState(int kind, int index) const
{
    if (index < 0 || index > 15)
        return 0;
    if (kind != 0)
        return (m_out >> index) & 1;
    const int inv = index < 9 ? m_config.inInvert[index] : 0;
    return ((m_in >> index) & 1) ^ inv;
}

bool ControlPort::IOInTrigger(int index)
{
    if (index < 0 || index > 15)
        return false;
    quint32 rises;
    {
        QMutexLocker lock(pMutexIO);
        m_in = gDataIn;
        rises = index < 9 && m_config.inInvert[index] ? gFallCount[index] : gRiseCount[index];
    }
    const int a = m_config.input4Source;
    if (a >= 1 && a <= 3)
        m_in = (m_in & ~(1 << 3)) | (((m_in >> (a - 1)) & 1) << 3);

    const int raw = (m_in >> index) & 1;
    const int prev = m_prevRaw[index];
    const int inv = index < 9 ? m_config.inInvert[index] : 0;
    const bool edge = inv ? (prev == 1 && raw == 0) : (prev == 0 && raw == 1);

    if (m_config.safetyDoorRule) {
        const int doorInv = m_config.inInvert[1];
        const int doorBefore = m_prevRaw[1] ^ doorInv;
        const int doorNow = ((m_in >> 1) & 1) ^ doorInv;
        if (doorBefore == 1 && doorNow == 0) {
            // Judged on the logical level: with an inverted alarm output the
            // sounding alarm is a physical 0 and must still be switched off.
            if ((((m_out >> 2) & 1) ^ m_config.outInvert[2]) == 1)
                IOSetOut(2, 0);
            IOFlashOut();
            if (!gisSafeDoorOpen)
                emit safetyDoorOpened();
            gisSafeDoorOpen = 1;
        }
    }
    m_prevRaw[index] = static_cast<unsigned char>(raw);
    // Input 4 may be another input's copy: its own counts do not apply.
    const bool copied = index == 3 && a >= 1 && a <= 3;
    const int seen = m_countsKnown[index] && !copied ? int(rises - m_prevRises[index]) : 0;
    m_missed[index] = std::max(0, seen - (edge ? 1 : 0));
    m_prevRises[index] = rises;
    m_countsKnown[index] = true;
    return edge;
}
