#pragma once
// The board simulator as a child process of a benchmark: its "out" lines read
// as they come, each wait bounded.
#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QProcess>
#include <functional>

struct BoardProc {
    QProcess proc;
    QString device;
    QByteArray pending;
    int word = -1;                      // the last output word printed, -1 before any
    int invert = 0;                     // physical = logical ^ invert (bit 0: clamping)
    bool sawProhibit = false;           // clamping prohibited seen since it was last cleared
    QElapsedTimer clock;
    QList<QPair<qint64, int>> history;  // (ms, word) since it was last cleared

    bool start()
    {
        proc.start(STATION_IOBOARD_SIM, {"--pty"});
        if (!proc.waitForStarted(5000) || !proc.waitForReadyRead(5000))
            return false;
        device = QString::fromUtf8(proc.readLine()).trimmed();
        clock.start();
        return !device.isEmpty();
    }
    // Logical output bits (0 before the board printed any word).
    bool on(int bit) const { return word >= 0 && ((word ^ invert) & bit) != 0; }
    void poll(int ms)
    {
        proc.waitForReadyRead(ms);
        pending += proc.readAllStandardOutput();
        int nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QList<QByteArray> p = pending.left(nl).split(' ');
            pending.remove(0, nl + 1);
            if (p.size() == 3 && p[0] == "out") {
                word = p[2].toInt(nullptr, 16);
                history.append({clock.elapsed(), word});
                if ((word ^ invert) & 1)
                    sawProhibit = true;
            }
        }
    }
    void send(const QByteArray& line)
    {
        proc.write(line + "\n");
        proc.waitForBytesWritten(1000);
    }
    // Reads the board until done() or ms have passed.
    bool until(const std::function<bool()>& done, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms)
                return false;
            poll(2);
        }
        return true;
    }
    ~BoardProc()
    {
        if (proc.state() == QProcess::Running) {
            send("quit");
            if (!proc.waitForFinished(2000))
                proc.kill();
        }
    }
};
