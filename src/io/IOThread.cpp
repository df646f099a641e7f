#include "IOThread.h"

#include "Globals.h"
#include "GpioChip.h"
#include "IoProtocol.h"
#include "Logs.h"
#include "PortGuard.h"

#include <QElapsedTimer>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QtDebug>
#include <unistd.h>

int gDataOut = 0;
int gDataIn = 0;
quint32 gRiseCount[16] = {};
quint32 gFallCount[16] = {};
std::atomic<int> gisLostCom{0};
std::atomic<int> gSilentPolls{0};
std::atomic<int> gIOID{0};
std::atomic<quint64> gInputReports{0};
std::atomic<int> gisOutputFault{0};
std::condition_variable_any gIoWake;
std::atomic<int> gLastWord{-1};
std::atomic<qint64> gTickDeadlineMs{0};
std::atomic<int> gHangHeld{0};
std::atomic<qint64> gHangSinceMs{0};
std::atomic<int> gBoardOutWord{-1};
std::atomic<int> gLeaveToGuard{0};
std::atomic<int> gPortFd{-1};
std::atomic<int> gFatal{0};

void writeLastWordNow()
{
    // The IO thread runs on during the dump: from now on it keeps this word too.
    gFatal = 1;
    const int fd = gPortFd.load();
    const int word = gLastWord.load();
    if (fd < 0 || word < 0)
        return;
    unsigned char f[io::kCommandLen];
    io::encodeCommand(f, io::CmdSetOutputs, word);
    [[maybe_unused]] ssize_t n = ::write(fd, f, sizeof f);
}

qint64 IOThread::nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {
// The text log the guard writes its one line into (none while the log is off).
QString guardLogFile()
{
    if (!LogManager::enabled || LogManager::__CurTaskPath.isEmpty() || LogManager::__CurName.isEmpty())
        return {};
    return LogManager::__CurTaskPath + "/" + LogManager::__CurName;
}

// The cycle's tick is late: the last word goes out until it comes again.
bool holdForMissingTick()
{
    const qint64 deadline = gTickDeadlineMs.load();
    if (deadline <= 0 || gHangHeld || IOThread::nowMs() <= deadline || gLastWord < 0)
        return false;
    QMutexLocker lock(pMutexIO);
    if (gTickDeadlineMs.load() != deadline)
        return false;  // the tick came meanwhile
    gHangHeld = 1;
    gHangSinceMs = deadline;
    gDataOut = gLastWord;
    return true;
}
} // namespace

IOThread::IOThread(const QString& portName, QObject* parent) : QThread(parent), m_portName(portName) {}

IOThread::~IOThread()
{
    requestInterruption();
    wait();
}

void IOThread::pollGpio(int wanted, int& lastRead, bool& haveRead)
{
    const int bits = F75111_GetDigitalInput();
    // Two equal reads in a row count as a level.
    if (haveRead && bits == lastRead) {
        QMutexLocker lock(pMutexIO);
        gDataIn = bits;
        ++gInputReports;
    }
    lastRead = bits;
    haveRead = true;
    F75111_SetDigitalOutput(static_cast<unsigned char>(wanted & 0xFF));
}

void IOThread::run()
{
    QSerialPort port;
    port.setPortName(m_portName);
    io::ReportParser parser;
    QElapsedTimer lastOpenTry;
    int silent = 0;
    int pollCount = 0;
    int analogSlot = 16;
    int gpioLast = 0;
    bool gpioHave = false;
    // Reports in a row in which each output bit differed from the word wanted. A
    // changed bit gets its own polls to arrive; a welded one is found even while
    // the other bits keep changing.
    int mismatches[10] = {};
    auto wantedChanged = [&mismatches](int from, int to) {
        for (int b = 0; b < 10; ++b)
            if (((from ^ to) >> b) & 1)
                mismatches[b] = 0;
    };
    int prevWanted = -1;
    bool openLogged = false;
    PortGuard guard;
    QString guardWhy;
    qint64 guardRetryMs = 0, guardStartedMs = 0;
    bool guardEndSaid = false;
    auto startGuard = [&] {
        QString why;
        if (guard.start(int(port.handle()), m_portName, guardLogFile(), &why)) {
            m_guardPid = guard.pid();
            guardStartedMs = nowMs();
            guardWhy.clear();
            guard.tell(gLastWord);
            return;
        }
        m_guardPid = 0;
        guardRetryMs = nowMs() + kReopenMs;
        if (why != guardWhy) {
            guardWhy = why;
            qWarning() << "IO board guard not started:" << why;
            emit guardUnavailable(why);
        }
    };
    auto closePort = [&] {
        gPortFd = -1;
        // The last word never confirmed by the board (a deaf or powering-up
        // board at the end): the guard goes on trying once we are gone.
        if (gLeaveToGuard && isInterruptionRequested()) {
            // Closed first: closing restores the port's old line settings, which the guard then replaces.
            port.close();
            guard.abandon();
            return;
        }
        guard.release();
        m_guardPid = 0;
        port.close();
    };

    auto send = [&](int command, int value) {
        if (!port.isOpen())
            return;
        port.write(io::commandFrame(command, value));
        port.waitForBytesWritten(IOThread::kPollMs);
    };

    QElapsedTimer period;
    period.start();
    while (!isInterruptionRequested()) {
        if (holdForMissingTick())
            qWarning() << "the cycle's tick is late; the IO thread holds the last word" << Qt::hex << gLastWord.load();
        if (port.isOpen()) {
            if (m_guardPid != 0 && !guard.alive()) {
                m_guardPid = 0;
                // Again at once; a guard that ends soon after its start is retried every few seconds.
                guardRetryMs = nowMs() - guardStartedMs < kReopenMs ? nowMs() + kReopenMs : 0;
                qWarning() << "IO board guard ended while the station runs; starting another";
                if (!guardEndSaid) {
                    guardEndSaid = true;
                    emit guardUnavailable(QStringLiteral("the guard ended while the station runs"));
                }
            }
            if (m_guardPid == 0 && nowMs() >= guardRetryMs)
                startGuard();
            guard.tell(gLastWord);
        }
        int wanted;
        {
            QMutexLocker lock(pMutexIO);
            wanted = gDataOut;
        }
        if (gFatal)
            wanted = gLastWord;  // the process is dying: nothing else goes out
        if (wanted != prevWanted)
            wantedChanged(prevWanted, wanted);
        prevWanted = wanted;
        if (gIOID != 0) {
            if (!port.isOpen() && (!lastOpenTry.isValid() || lastOpenTry.elapsed() >= kReopenMs)) {
                lastOpenTry.start();
                if (port.open(QIODevice::ReadWrite)) {
                    port.setBaudRate(QSerialPort::Baud115200);
                    port.setDataBits(QSerialPort::Data8);
                    port.setParity(QSerialPort::NoParity);
                    port.setStopBits(QSerialPort::OneStop);
                    port.setFlowControl(QSerialPort::NoFlowControl);
                    port.clear();
                    qInfo() << "IO board port open:" << m_portName;
                    gPortFd = int(port.handle());
                    openLogged = false;
                    startGuard();
                } else if (!openLogged) {
                    // Logged once per loss; retried every few seconds.
                    qWarning() << "IO board port cannot be opened:" << m_portName << port.errorString();
                    openLogged = true;
                }
            }
            // Ask first, then wait briefly for the answer: the reply to this
            // poll is read in the same pass, not one period later.
            ++pollCount;
            int asked = io::CmdReadInputs;
            if (pollCount == 200) {
                analogSlot = 0;
                asked = io::CmdReadAnalogA;
            } else if (pollCount == 210) {
                analogSlot = 8;
                pollCount = 0;
                asked = io::CmdReadAnalogB;
            }
            send(asked, 0);
            bool answered = false;
            bool mismatch = false;
            QElapsedTimer wait;
            wait.start();
            do {
                QByteArray in;
                if (port.isOpen()) {
                    if (port.bytesAvailable() > 0 || port.waitForReadyRead(1))
                        in = port.readAll();
                    if (port.error() == QSerialPort::ResourceError) {
                        qWarning() << "IO board port lost:" << m_portName << port.errorString();
                        closePort();
                        port.clearError();
                    }
                }
                // Only a valid frame counts as an answer: bytes that never form
                // one (a wrong baud rate, another device, line noise) are silence.
                if (!in.isEmpty()) {
                    parser.append(in.constData(), int(in.size()));
                    parser.parse([&](const io::Report& r) {
                        answered = answered || r.type == asked;
                        if (gisLostCom.exchange(0))
                            emit reconnected();
                        silent = 0;
                        gSilentPolls = 0;
                        if (r.type == io::CmdReadInputs) {
                            {
                                QMutexLocker lock(pMutexIO);
                                const int word = r.inputWord();
                                const int changed = word ^ gDataIn;
                                for (int b = 0; b < 16; ++b)
                                    if (changed & (1 << b))
                                        ++((word >> b) & 1 ? gRiseCount[b] : gFallCount[b]);
                                gDataIn = word;
                            }
                            ++gInputReports;
                            gBoardOutWord = r.outputWord();
                            // The reply may still show the word before the last one sent;
                            // only a long run of wrong words is a fault.
                            const int differ = r.outputWord() ^ (wanted & 0x3FF);
                            bool fault = false;
                            for (int b = 0; b < 10; ++b) {
                                mismatches[b] = ((differ >> b) & 1) ? mismatches[b] + 1 : 0;
                                fault = fault || mismatches[b] > kMismatchLimit;
                            }
                            mismatch = differ != 0;
                            if (fault)
                                gisOutputFault = 1;
                            else if (!differ)
                                gisOutputFault = 0;
                        } else if (r.type == io::CmdReadAnalogA || r.type == io::CmdReadAnalogB) {
                            if (analogSlot < 16)
                                m_analog[analogSlot++] = r.reading();
                        }
                    });
                    m_resync = parser.resyncBytes();
                }
            } while (!answered && port.isOpen() && wait.elapsed() < kReplyWaitMs);
            if (!answered) {
                gSilentPolls = ++silent;
                if (silent > kSilentPollLimit)
                    gisLostCom = 1;
            }
            if (mismatch)
                send(io::CmdSetOutputs, wanted);
        } else {
            pollGpio(wanted, gpioLast, gpioHave);
        }
        ++m_polls;
        // One poll per period, whatever the wait for the reply took; a new
        // output word published meanwhile goes to the board at once.
        for (;;) {
            const qint64 left = kPollMs - period.elapsed();
            if (left <= 0 || isInterruptionRequested())
                break;
            int now;
            {
                // A standard wait: its unlock and relock are visible to the race checker.
                std::unique_lock<QMutex> lock(*pMutexIO);
                if (gDataOut == wanted)
                    gIoWake.wait_for(lock, std::chrono::milliseconds(left));
                now = gFatal ? gLastWord.load() : gDataOut;
            }
            if (now != wanted && gIOID != 0) {
                wantedChanged(wanted, now);
                wanted = now;
                prevWanted = now;
                send(io::CmdSetOutputs, wanted);
            }
        }
        period.start();
    }
    closePort();
}
