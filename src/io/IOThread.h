#pragma once
// The IO thread: polls the board every 5 ms, keeps gDataIn, repairs the
// board's outputs from gDataOut, and watches the link.
#include <QString>
#include <QThread>
#include <condition_variable>
#include <array>
#include <atomic>

extern int gDataOut;                   // guarded by pMutexIO
extern int gDataIn;                    // guarded by pMutexIO
// Raw transitions of each input bit seen by the IO thread in the board's
// reports (guarded by pMutexIO): what the cycle's tick compares with the
// edges it saw, to notice an edge it missed while busy.
extern quint32 gRiseCount[16];
extern quint32 gFallCount[16];
extern std::atomic<int> gisLostCom;    // board silent for more than 1000 polls
// Polls in a row the board has not answered: a few dozen already leave the
// machine's inputs unknown for longer than a cycle's opening may take.
extern std::atomic<int> gSilentPolls;
extern std::atomic<int> gIOID;         // 1 serial IO board, 0 on-board GPIO chip
// Input reports taken from the board since start: the input word means something once it is above 0.
extern std::atomic<quint64> gInputReports;
// The board reported an output word other than the one wanted in more than
// kMismatchLimit reports in a row: what reaches the machine is not what the station says.
extern std::atomic<int> gisOutputFault;
// The word that prohibits everything in the board's polarity (-1 before the
// station named one): what the guard writes when the station is gone, and what
// the IO thread publishes while the cycle's tick does not come.
extern std::atomic<int> gLastWord;
// Monotonic ms by which the cycle's next tick must have run (0: not watched),
// and whether the IO thread holds the last word because it did not.
extern std::atomic<qint64> gTickDeadlineMs;
extern std::atomic<int> gHangHeld;
extern std::atomic<qint64> gHangSinceMs;
// The output word in the board's last report (-1 before any).
extern std::atomic<int> gBoardOutWord;
// The station ends without the board having confirmed its last word: the
// guard is left to write it instead of being released in order.
extern std::atomic<int> gLeaveToGuard;
// The open port's descriptor (-1 when closed), for the crash handler's last word.
extern std::atomic<int> gPortFd;
// A fatal signal is being handled: the IO thread sends only the last word.
extern std::atomic<int> gFatal;
// From a fatal signal's handler: the last word straight to the port
// (async-signal-safe: one write, nothing allocated), before the crash dump.
void writeLastWordNow();
// Woken (with pMutexIO) when a new output word is published: it is sent at once.
extern std::condition_variable_any gIoWake;

class IOThread : public QThread {
    Q_OBJECT
public:
    explicit IOThread(const QString& portName, QObject* parent = nullptr);
    ~IOThread() override;

    QString portName() const { return m_portName; }
    int analog(int slot) const { return slot >= 0 && slot < 16 ? m_analog[slot].load() : 0; }
    quint64 polls() const { return m_polls; }
    quint64 resyncBytes() const { return m_resync; }
    // The guard process of the open port (0 when none runs).
    qint64 guardPid() const { return m_guardPid; }
    // The monotonic clock the tick deadline is kept in.
    static qint64 nowMs();

    static constexpr int kSilentPollLimit = 1000;
    static constexpr int kDoubtPolls = 50;  // about 250 ms without an answer
    static constexpr int kPollMs = 5;
    static constexpr int kReplyWaitMs = 4;  // the board answers within a millisecond or two
    static constexpr int kReopenMs = 2000;
    static constexpr int kMismatchLimit = 20;

signals:
    // The first valid frame after the link was lost.
    void reconnected();
    // The guard could not be started (once per cause): a crash would leave the board's last word.
    void guardUnavailable(const QString& why);

protected:
    void run() override;

private:
    void pollGpio(int wanted, int& lastRead, bool& haveRead);

    QString m_portName;
    std::array<std::atomic<int>, 16> m_analog{};
    std::atomic<quint64> m_polls{0};
    std::atomic<quint64> m_resync{0};
    std::atomic<qint64> m_guardPid{0};
};
