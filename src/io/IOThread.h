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
extern std::atomic<int> gIOID;         // 1 serial IO board, 0 on-board GPIO chip
// Input reports taken from the board since start: the input word means something once it is above 0.
extern std::atomic<quint64> gInputReports;
// The board reported an output word other than the one wanted in more than
// kMismatchLimit reports in a row: what reaches the machine is not what the station says.
extern std::atomic<int> gisOutputFault;
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

    static constexpr int kSilentPollLimit = 1000;
    static constexpr int kPollMs = 5;
    static constexpr int kReplyWaitMs = 4;  // the board answers within a millisecond or two
    static constexpr int kReopenMs = 2000;
    static constexpr int kMismatchLimit = 20;

signals:
    // The first valid frame after the link was lost.
    void reconnected();

protected:
    void run() override;

private:
    void pollGpio(int wanted, int& lastRead, bool& haveRead);

    QString m_portName;
    std::array<std::atomic<int>, 16> m_analog{};
    std::atomic<quint64> m_polls{0};
    std::atomic<quint64> m_resync{0};
};
