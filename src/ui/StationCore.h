#pragma once
// The station without its screen: the start-up steps, the board link, the
// cameras, the cycle, the picture archive, the service link, the records and
// the accounts. What needs the operator goes through OperatorSide; a station
// with none answers every question no and only logs what it would have said,
// so it runs in-process without a widget.
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>

class QSoundEffect;
class ControlPort;
class InputSampler;
class CameraManager;
class DetectionCycle;
class SaveFialImageThread;
class CNT_Net;

// The window's side of the station. Each may be empty.
struct OperatorSide {
    // A yes/no question: 1 is yes.
    std::function<int(const QString& question)> ask;
    // A message; waitForOk holds the caller until the operator closes it.
    std::function<void(const QString& text, bool waitForOk)> tell;
    std::function<void(const QString& title, const QString& text)> progress;
    std::function<void()> progressDone;
    // The password box: the level entered (0 none, 1 primary, 2 system).
    std::function<int(bool accountsToo)> password;
    // The date and time the operator sets after a suspect clock; false when cancelled.
    std::function<bool(QDateTime* chosen)> chooseTime;
    // What the plant's client sees of the screen.
    std::function<QImage()> screen;
};

class StationCore : public QObject {
    Q_OBJECT
public:
    explicit StationCore(QObject* parent = nullptr);
    ~StationCore() override;

    OperatorSide side;

    // The start-up in two halves, so a screen can be built between them on a
    // cycle that has not run: bringUp() opens the databases, reads the
    // parameters, publishes the prohibiting word, finds the cameras and
    // builds the cycle, the link and the records; run() checks the clock,
    // starts detection (unless a fault or the clock holds it), the ticks and the link.
    void bringUp();
    void run();

    ControlPort* io() const { return m_io; }
    InputSampler* inputs() const { return m_inputs; }
    CameraManager* cameras() const { return m_cameras; }
    DetectionCycle* cycle() const { return m_cycle; }
    SaveFialImageThread* archive() const { return m_archive; }
    CNT_Net* net() const { return m_net; }
    int expectedDetection() const { return m_expectDetect; }
    qint64 startTimeMs() const { return m_startMs; }

    bool isDetecting() const;
    void StartDetect();
    void StopDetect();
    // In the mode's own lines, published at once.
    void prohibitClamping();
    void applyIoSettings();
    bool SetNgWarnCount(int count);

    bool InsertRecord(const QString& text);
    void FLushAll();
    void endForRestart();
    // The operator's end of the program or of the computer: protected,
    // confirmed, recorded, everything kept and the board left prohibiting;
    // the exit leaves the event loop with the status the supervisor does not restart.
    bool SlotExit();
    bool SlotPowerOff();

    int CheckPassword();
    bool CheckRoot();
    void SoundAlarm(bool on);

signals:
    void cameraLost(int index, bool alarmBox);
    void camerasRecovered();
    void ngWarnCountChanged();

public slots:
    void SlotCheckDate();
    void SlotDetectCycle();
    void SlotROINGWarm();

private:
    void tell(const QString& text, bool waitForOk = true);
    void openDatabases();
    void loadParameters();
    void findCameras();
    void buildCycle();
    void installOperatorHooks();
    void buildServiceLink();
    void startServiceLink();
    void buildRecords();
    void releaseRecords();
    // The cycle log, its record lines wired.
    class DetectCycleSQL* cycleLog();
    // False when the clock is suspect: detection then stays stopped.
    bool checkSystemTime();
    bool endRun(int recordMessage);

    bool m_holdNotes = false;
    QStringList m_heldNotes;
    int m_expectDetect = 1;
    qint64 m_startMs = 0;
    QTimer m_startPing;  // feeds the watchdog while start-up waits for the operator
    QTimer m_dateCheck;
    QTimer m_detectCycleTimer;
    QSoundEffect* m_alarm = nullptr;
    QUrl m_alarmSource;
    QStringList m_unusableDatabases;
    bool m_replay = false;
    ControlPort* m_io = nullptr;
    InputSampler* m_inputs = nullptr;
    CameraManager* m_cameras = nullptr;
    DetectionCycle* m_cycle = nullptr;
    SaveFialImageThread* m_archive = nullptr;
    CNT_Net* m_net = nullptr;
};
