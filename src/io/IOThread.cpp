#include "IOThread.h"

#include "Globals.h"
#include "GpioChip.h"
#include "IoProtocol.h"

#include <QElapsedTimer>
#include <QDeadlineTimer>
#include <QSerialPort>
#include <QtDebug>

int gDataOut = 0;
int gDataIn = 0;
quint32 gRiseCount[16] = {};
quint32 gFallCount[16] = {};
std::atomic<int> gisLostCom{0};
std::atomic<int> gIOID{0};
std::atomic<quint64> gInputReports{0};
std::atomic<int> gisOutputFault{0};
std::condition_variable_any gIoWake;

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
    int mismatches = 0;
    int prevWanted = -1;
    bool openLogged = false;

    auto send = [&](int command, int value) {
        if (!port.isOpen())
            return;
        port.write(io::commandFrame(command, value));
        port.waitForBytesWritten(IOThread::kPollMs);
    };

    QElapsedTimer period;
    period.start();
    while (!isInterruptionRequested()) {
        int wanted;
        {
            QMutexLocker lock(pMutexIO);
            wanted = gDataOut;
        }
        if (wanted != prevWanted)
            mismatches = 0;  // a new word gets its own polls to arrive
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
                    openLogged = false;
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
                        port.close();
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
                            // The reply may still show the word before the last one sent;
                            // only a long run of wrong words is a fault.
                            if (r.outputWord() != wanted) {
                                mismatch = true;
                                if (++mismatches > kMismatchLimit)
                                    gisOutputFault = 1;
                            } else {
                                mismatches = 0;
                                gisOutputFault = 0;
                            }
                        } else if (r.type == io::CmdReadAnalogA || r.type == io::CmdReadAnalogB) {
                            if (analogSlot < 16)
                                m_analog[analogSlot++] = r.reading();
                        }
                    });
                    m_resync = parser.resyncBytes();
                }
            } while (!answered && port.isOpen() && wait.elapsed() < kReplyWaitMs);
            if (!answered && ++silent > kSilentPollLimit)
                gisLostCom = 1;
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
                now = gDataOut;
            }
            if (now != wanted && gIOID != 0) {
                wanted = now;
                prevWanted = now;
                mismatches = 0;
                send(io::CmdSetOutputs, wanted);
            }
        }
        period.start();
    }
}
