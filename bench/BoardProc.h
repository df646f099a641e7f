#pragma once
// The board simulator as a child process of a benchmark: its "out" lines read
// as they come, each wait bounded.
#include <QElapsedTimer>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QStringList>
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

// Trains camera 1's mould detection (a 4x4 grid of regions) on picture in the
// station directory work; params: further "name=value" settings. stderr's
// text is the error when it fails.
inline bool trainMould(const QString& work, const QString& picture, const QStringList& params, QByteArray* error)
{
    QStringList args{"--dir", work, "--camera", "1", "--detect", "2", "--grid", "4"};
    for (const QString& p : params)
        args << "--param" << p;
    args << picture;
    QProcess train;
    train.start(STATION_TRAIN_TOOL, args);
    const bool ok = train.waitForFinished(60000) && train.exitCode() == 0;
    *error = train.readAllStandardError();
    return ok;
}

// Starts the station program in work against the board at device, with the
// replayed camera of work/replay and every question answered "no"; extra is
// added to the environment; stderr is appended to work/station.err.
inline bool startStationProc(QProcess& p, const QString& work, const QString& device,
                             const QProcessEnvironment& extra = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("STATION_IO_PORT", device);
    env.insert("STATION_CAMERA", "replay:" + work + "/replay");
    env.insert("STATION_ANSWER", "no");
    env.insert(extra);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(work);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(work + "/station.err", QIODevice::Append);
    p.start(STATION_BINARY, {});
    return p.waitForStarted(5000);
}
