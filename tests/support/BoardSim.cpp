#include "BoardSim.h"

#include <QElapsedTimer>
#include <QTest>

BoardSim::BoardSim(const QStringList& extra)
{
    m_proc.start(STATION_IOBOARD_SIM, QStringList{"--pty"} + extra);
    if (!m_proc.waitForStarted(5000))
        return;
    QElapsedTimer t;
    t.start();
    while (!m_pending.contains('\n') && t.elapsed() < 5000) {
        m_proc.waitForReadyRead(100);
        m_pending += m_proc.readAllStandardOutput();
    }
    const int nl = m_pending.indexOf('\n');
    if (nl > 0) {
        m_device = QString::fromUtf8(m_pending.left(nl));
        m_pending.remove(0, nl + 1);
    }
}

BoardSim::~BoardSim()
{
    if (m_proc.state() == QProcess::Running) {
        m_proc.write("quit\n");
        if (!m_proc.waitForFinished(2000))
            m_proc.kill();
        m_proc.waitForFinished(1000);
    }
}

void BoardSim::send(const QString& line)
{
    m_proc.write(line.toUtf8() + '\n');
    m_proc.waitForBytesWritten(1000);
}

void BoardSim::readLines()
{
    m_pending += m_proc.readAllStandardOutput();
    int nl;
    while ((nl = m_pending.indexOf('\n')) >= 0) {
        const QList<QByteArray> parts = m_pending.left(nl).split(' ');
        m_pending.remove(0, nl + 1);
        if (parts.size() == 3 && parts[0] == "out") {
            m_outTimes << parts[1].toLongLong();
            m_outWords << parts[2].toInt(nullptr, 16);
        }
    }
}

qint64 BoardSim::waitOut(int word, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    for (;;) {
        readLines();
        for (; m_consumed < m_outWords.size(); ++m_consumed) {
            if (m_outWords[m_consumed] == word)
                return m_outTimes[m_consumed++];
        }
        if (t.elapsed() > timeoutMs)
            return -1;
        // Keep the event loop turning: the link's queued signals arrive here.
        QTest::qWait(2);
    }
}

int BoardSim::held()
{
    readLines();
    return m_outWords.isEmpty() ? 0 : m_outWords.last();
}

bool BoardSim::waitHeld(int word, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (held() != word) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(2);
    }
    m_consumed = int(m_outWords.size());
    return true;
}

bool startStation(QProcess& station, const QString& dir, const BoardSim& board, const QProcessEnvironment& extra)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("STATION_IO_PORT", board.device());
    env.insert("STATION_CAMERA", "replay:" + dir + "/replay");
    env.insert("STATION_ANSWER", "no");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert(extra);
    station.setProcessEnvironment(env);
    station.setWorkingDirectory(dir);
    station.setStandardOutputFile(QProcess::nullDevice());
    station.setStandardErrorFile(dir + "/station.err", QIODevice::Append);
    station.start(STATION_BINARY, {});
    return station.waitForStarted(5000);
}
