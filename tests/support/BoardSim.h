#pragma once
// The IO board simulator on a pseudo-terminal, driven by its command lines.
#include <QProcess>
#include <QString>
#include <QStringList>

class BoardSim;

// Starts the station program in dir against the board, with the replayed
// camera pictures of dir/replay, every question answered "no", offscreen;
// extra is added to the environment. stderr is appended to dir/station.err.
bool startStation(QProcess& station, const QString& dir, const BoardSim& board,
                  const QProcessEnvironment& extra = {});

class BoardSim {
public:
    // extra: further arguments of the simulator (for example --log FILE).
    explicit BoardSim(const QStringList& extra = {});
    ~BoardSim();
    bool ok() const { return !m_device.isEmpty(); }
    QString device() const { return m_device; }
    void send(const QString& line);
    // Waits for an "out" line with this word; returns its time stamp (ms) or -1.
    qint64 waitOut(int word, int timeoutMs = 3000);
    // Waits until the last word the board reported is this one (it may be
    // already); true when it is.
    bool waitHeld(int word, int timeoutMs = 3000);
    // The last output word the board reported (0 before any: the board starts with all off).
    int held();
    // Every output word reported so far.
    QList<int> outs() const { return m_outWords; }

private:
    void readLines();
    QProcess m_proc;
    QString m_device;
    QByteArray m_pending;
    QList<int> m_outWords;
    QList<qint64> m_outTimes;
    int m_consumed = 0;
};
