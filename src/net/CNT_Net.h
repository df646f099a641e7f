#pragma once
// The service link to the network client beside the station: a TCP server on
// the loopback address for one client, the outgoing queue and its sender,
// heartbeat supervision, the client process, shared-memory video and the
// reports. Everything but the queue lives on the GUI thread; reports may be
// built on any thread and only touch the queue under its lock.
#include "NetFrame.h"

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QTimer>
#include <atomic>
#include <functional>
#include <opencv2/core.hpp>

class QTcpSocket;

class CammerSingleton;
struct param_roi;
struct cJSON;

// Sends the queue oldest first, one message at a time: the next goes when the
// client acknowledged, a message is sent at most twice (ackMs apart) and then
// dropped. Runs on the GUI thread: a socket is only written by its own thread.
class CNT_Thread : public QObject {
    Q_OBJECT
public:
    explicit CNT_Thread(QObject* parent = nullptr);

    // Appends one framed message (any thread) under the next sequence
    // number. Beyond the bound the oldest message not on the wire goes; each
    // one is counted and logged.
    void append(const QByteArray& message);
    void setSocket(QTcpSocket* s);
    void clearSocket();
    // Sends the head when nothing waits for an acknowledgement.
    void run();
    // The client acknowledged: the message it names (seq), or with no name
    // the one on the wire, leaves the queue. A late acknowledgement of a
    // message already gone is counted and changes nothing.
    void acknowledged(qint64 seq = -1);

    int queued() const;
    QList<QByteArray> snapshot() const;
    void clear();

    int ackMs = 5000;
    int limit = 10000;
    std::atomic<quint64> sent{0}, resent{0}, unacknowledged{0}, overflow{0}, lateAcks{0};
    // The connected client reads numbered frames (it said so); else "..".
    std::atomic<bool> numbered{false};

private:
    void timedOut();

    mutable QMutex m_lock;
    QList<QByteArray> m_queue;
    // A new start begins elsewhere: the client tells a message sent again
    // from a new one by the number, and an earlier run's numbers are not ours.
    quint32 m_nextSeq;
    QTcpSocket* m_socket = nullptr;
    int m_attempts = 0;
    bool m_inFlight = false;
    QTimer m_ackTimer;
};

// What the reports read from the rest of the station. Unset: nothing there.
struct NetSources {
    std::function<int()> state;                       // 0 detecting, 1 stopped, 2 otherwise
    std::function<QString()> stateText;               // report 18's state text
    std::function<int()> cycleTenths;                 // last machine cycle
    std::function<int()> cameras;                     // opened cameras
    std::function<quint32(int)> allNum, failNum;      // the production counters
    std::function<QString(int)> serial;               // the serial kept for an index
    std::function<const CammerSingleton*(int)> regions;
    std::function<cv::Mat(int)> frame;                // a camera's picture (grey or BGRA)
    std::function<QImage()> screen;                   // the main window grabbed
};

struct StatAlarm {
    int area = 0;
    QString algorithm = QStringLiteral("----");
    int result = 0;
};
struct StatDetect {
    int time = 0, ng_sum = 0, produce = 0, monitor_times = 0, ok_num = 0, ok_rate = 0, not_ok_num = 0,
        not_ok_rate = 0;
    QMap<int, StatAlarm> alarms;
};
struct StatCamera {
    QString id = QStringLiteral("1");
    int disalarm_timeout_time = 0, last_monitor_period = 0, now_monitor_period = 0, average_monitor_period = 0;
    QMap<int, StatDetect> detects;
};
struct CNT_Path_Statistics {
    bool fresh = true;
    QString product_name = QStringLiteral("no set");
    QString product_serial = QStringLiteral("1");
    int products_num = 10000;
    qint64 start_utc = 0, real_produce = 0, utc_watch_total = 0, total_stop_alarm_timelen = 0;
    int watch_count_total = 0, ng_count_total = 0, ng_notification_rate = 0;
    qint64 watch_circle = 0;
    QMap<int, StatCamera> cameras;
};
struct CNT_Path_ManualStop {
    bool valid = false;
    qint64 utc = 0;
    QString timeslot;
    int timelen = 0, timeout = 0;
    QString operator_id = QStringLiteral("--"), disalarm_operator_id = QStringLiteral("--"),
            reason = QStringLiteral("--");
};
struct CNT_Path_Remind {
    qint64 utc = 0, notification_utc = 0, duration = 3600000;
    QString description = QStringLiteral("maintenance_cls"), operator_id = QStringLiteral("rizu_cls");
};

// A System V semaphore set of one, value 1 = free.
class CNT_Semaphore {
public:
    explicit CNT_Semaphore(int key = -1) : m_key(key) {}
    bool create_sem(int n);
    bool get_sem();
    // Waits at most waitMs for the semaphore; false when not taken.
    bool P_sem(int waitMs = 20);
    void V_sem();
    // Back to free, whoever held it (a client that died holding it).
    void retInitPV();
    void remove();
    int id() const { return m_id; }

private:
    int m_key;
    int m_id = -1;
};

struct ShareBlock {
    int camera = 0, width = 0, height = 0, size = 0;
    int shmId = -1, semId = -1;
    unsigned char* address = nullptr;
    CNT_Semaphore sem;
    int rate = 0;
};

class CNT_Net : public QTcpServer {
    Q_OBJECT
public:
    struct Options {
        quint16 port = 8890;
        int heartMs = 60000;
        int ackMs = 5000;
        int queueLimit = 10000;
        QString ipcPath = QStringLiteral("/tmp");   // ftok's file
        QString python = QStringLiteral("python3");
        // The station's own settings: the link switch is read from PARAM.db.
        bool readSwitch = true;
        bool enabled = false;                         // when not read
    };
    // The port from STATION_NET_PORT, else 8890.
    static Options defaultOptions();

    explicit CNT_Net(QObject* parent = nullptr);
    CNT_Net(const Options& o, QObject* parent = nullptr);
    ~CNT_Net() override;

    bool initialised() const { return m_init; }
    bool isConnected() const { return m_connected; }
    quint16 port() const { return serverPort(); }
    QString deviceId() const { return m_deviceId; }
    const QMap<QString, QString>& interfaceAddresses() const { return m_ifAddr; }
    const QMap<QString, QString>& interfaceMacs() const { return m_ifMac; }
    CNT_Thread& sender() { return m_sender; }
    NetSources sources;
    // The clock of the reports (tests set it).
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

    void CNT_FirstInit();
    static void CNT_ReStart();
    void restartClient(const char* why);
    QProcess* client() const { return m_client; }
    int clientStarts() const { return m_clientStarts; }
    bool restartWanted = false;

    void getWhichSend();
    bool sendable(int id) const { return m_filter.value(id, false); }
    void StartSend();
    void goThrough(qint64 seq = -1);
    void ParsingBackBuf(const QByteArray& text);

    // --- shared-memory video ---
    void CNT_AddUseMemory(int camera, int width, int height, bool withSource);
    // Writes one picture (grey or BGRA, width x height) into the camera's
    // block; false when nothing was written.
    bool CNT_UpdateMemory(int camera, const cv::Mat& picture);
    void CNT_SendMemoryInfo();
    void CNT_FreeShareMemory();
    const QMap<int, ShareBlock>& blocks() const { return m_blocks; }
    QByteArray memoryInfo() const;
    // The 50-ms refresh (what "send_timer" runs).
    void refreshVideo();

    // --- reports ---
    void CNT_SendRecord(const QDateTime& t, const QString& level, const QString& text);
    void CNT_SendParam();
    void CNT_SendAlarmPic(const QString& path);
    void CNT_SendTempPic(const QString& path);
    void CNT_SendStatistics(const QString& ngImage);
    void CNT_SendROIParam(int camera, int detection);
    void CNT_SendROIParam(const CammerSingleton& regions, int detection);
    void CNT_SendManualStop();
    void CNT_SendDelTempPic(int camera, int detection, const QString& name);
    void CNT_SendAddRemind(CNT_Path_Remind& r);
    void CNT_SendDelRemind(qint64 utc);
    void CNT_SendGetProduct();
    void CNT_SendSaveNgVideo(int camera, int ng);
    void CNT_SendTelInfo(int detection, int count);
    void CNT_SendGetRemindList();
    void CNT_SendStatistics_Once(const QList<param_roi>& results, bool ng, int method);
    void CNT_SendRunState();
    void CNT_SendCancle();
    void InitStatistics();
    void ChkandAddStaticticsItem(int camera, int detection, int region);
    void CNT_AddNgTimes(int ms);
    int CNT_AddCycle(int ms);
    void InitManualStop();
    // The network page's reset: files and image folders gone, records afresh.
    void ResetStatistics();

    // Report 18's state text: 0 detecting, 1 stopped, 2 training.
    static QString stateText(int state);
    // How the last alarm was released (report 20), set by the cycle.
    int cancelMethod = 0;
    CNT_Path_Statistics statistics() const;
    CNT_Path_ManualStop manualStop() const { return m_stop; }
    QStringList products() const { return m_products; }
    QList<netlink::RemindRow> reminders() const { return m_reminders; }
    quint64 ignoredTexts() const { return m_ignored; }

signals:
    void productsReceived(const QStringList& names);
    void remindersReceived();
    void clientConnected();
    void clientDisconnected();

protected:
    void incomingConnection(qintptr descriptor) override;
    void timerEvent(QTimerEvent* e) override;

private slots:
    void SlotReadyRead();
    void SlotDisConnetced();

private:
    void construct();
    bool linkOn() const;
    void queue(int id, const QByteArray& body);
    QByteArray statisticsBody(const QString& ngImage, bool* ok);
    void stampTime(cv::Mat& bgraOrGrey) const;
    qint64 utcNow() const { return now().toMSecsSinceEpoch(); }

    Options m_opt;
    QString m_deviceId;
    QMap<QString, QString> m_ifAddr, m_ifMac;
    QTcpSocket* m_socket = nullptr;
    bool m_connected = false, m_memSent = false, m_memReady = false, m_init = false;
    qint64 m_lastHeart = 0;
    QHash<int, QString> m_timers;
    CNT_Thread m_sender;
    QMap<int, bool> m_filter;
    QPointer<QProcess> m_client;
    int m_clientStarts = 0;
    qint64 m_clientSince = 0;
    int m_clientBackoff = 0;
    quint64 m_ignored = 0;

    QMap<int, ShareBlock> m_blocks;
    QList<QByteArray> m_memInfo;   // one printed element per block added

    mutable QMutex m_statLock;     // one statistics report at a time
    CNT_Path_Statistics m_stat;
    QList<int> m_ngTimes;
    qint64 m_lastNgTime = 0;
    CNT_Path_ManualStop m_stop;
    qint64 m_bindUtc = 0;
    QStringList m_products;
    QList<netlink::RemindRow> m_reminders;
};

extern CNT_Net* gpNet;
