#pragma once
// The main window. startUp() brings the station from opened databases to
// running detection (buildStation() calls it); the window owns the timers of
// the station frame.
#include <QLabel>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>

class QSoundEffect;
class ControlPort;
class InputSampler;
class DateTimeDialog;
class CameraManager;
class CameraLostBox;
class DetectionCycle;
class SaveFialImageThread;
class WarnBox;
class CycleView;
class CNT_Net;
class DiskCommands;
class StatisticsWidget;
class DetectCycleWidget;
class AlarmPage;
class DrawROIWidget;
class EditCavitywidget;
class IoNamesPage;
class TitleBar;
class RecordWidget;
class AccountWidget;
class WizardParaWidget;
class HelpWidget;
class BeginnerGuide;

class DiVeZoruzo : public QWidget {
    Q_OBJECT
public:
    explicit DiVeZoruzo(QWidget* parent = nullptr);
    ~DiVeZoruzo() override;
    // The start-up steps, once, right after construction.
    void startUp();

    // Closes SN.db, PARAM.db and RECORD.db and waits 500 ms; before every reboot.
    // Writes the counters, closes the databases.
    void FLushAll();
    // SIGTERM or SIGINT: clamping prohibited at the board first, then the
    // parameters, counters and alarm kept and the databases closed; no tick
    // runs after it. Safe on a window still being built.
    void endForRestart();
    bool InsertRecord(const QString& text);
    bool ClearRecord();

    // The cycle's start and stop with the status shown.
    void StartDetect();
    void StopDetect();
    bool isDetecting() const;
    DetectionCycle* cycle() const { return m_cycle; }
    SaveFialImageThread* archive() const { return m_archive; }
    CycleView* cycleView() const { return m_view; }
    CNT_Net* net() const { return m_net; }
    // The boxes of the cycle (tests read their texts).
    WarnBox* ioLostBox() const { return m_ioBox; }
    WarnBox* noInputBox() const { return m_noInputBox; }

    // The detection the cycle expects first.
    int expectedDetection() const { return m_expectDetect; }
    qint64 startTimeMs() const { return m_startMs; }

    ControlPort* io() const { return m_io; }
    CameraManager* cameras() const { return m_cameras; }
    InputSampler* inputs() const { return m_inputs; }
    QTimer& screenOffTimer() { return m_screenOff; }
    QTimer& autoLogoutTimer() { return m_autoLogout; }
    // Restarts the auto-logout and screen-off timers after a touch.
    void restartActivityTimers();
    // The IO fields confirmed on the settings page reach the board link and
    // the input sampler at once (a changed wiring rule prohibits clamping).
    void applyIoSettings();

    // The password level (0 Unlogged, 1 Primary, 2 Advanced): CheckPassword
    // is 2 with protection off, else the level, asking for a password when 0.
    int CheckPassword();
    bool CheckRoot();
    // Inactivity: the level drops to 0 and the account is logged out.
    void TimerLogout();
    QString levelLabel() const;

    // The operator ends the program or switches the computer off: protected,
    // confirmed, recorded, parameters, counters and databases closed first.
    bool SlotExit();
    bool SlotPowerOff();
    // How the process ends (tests replace it): by default the event loop's exit.
    std::function<void(int status)> exitProcess;

    // Alarm sound on (endless loop) or off.
    void SoundAlarm(bool on);

    // The records pages and the USB disk commands.
    DiskCommands* diskCommands() const { return m_disk; }
    StatisticsWidget* statisticsPage() const { return m_statisticsPage; }
    AlarmPage* alarmPage() const { return m_alarmPage; }
    // The region and template editor, made when first opened.
    DrawROIWidget* regionEditor();
    EditCavitywidget* cavityPage() const { return m_cavity; }
    RecordWidget* recordPage();
    AccountWidget* accountPage();
    WizardParaWidget* settingsPage();
    HelpWidget* helpPage();
    BeginnerGuide* guide();
    void showHelpPage();
    void showSettingsPage();
    void showAccountPage();
    void showRecordPage();
    void showCavityPage();
    // The IO signal names, made when first opened.
    IoNamesPage* ioNamesPage();
    void showIoNamesPage();
    DetectCycleWidget* cycleLogPage();
    void showStatisticsPage();
    void showCycleLogPage();
    // The status line as shown (tests read it).
    QString statusText() const;
    // Protected maintenance commands of the disk: data export and program update.
    bool exportDataCommand();
    bool updateProgramCommand();

    // The insert-wear warning count of the main screen: recorded and saved at once.
    bool SetNgWarnCount(int count);

    // Shows the camera display of camera index (all cameras when more than one).
    void ChangeCammer(int index);

signals:
    void ngWarnCountChanged();

public slots:
    void SlotCheckDate();
    // Every minute: the cycle log exists and its file is the one of today.
    void SlotDetectCycle();
    // The insert-wear warning: clamping prohibited, the box until it is closed.
    void SlotROINGWarm();

private:
    QTimer m_startPing;  // feeds the watchdog while start-up waits for the operator
    void prohibitClamping();         // in the mode's own lines, published at once
    void openDatabases();            // databases with recovery
    void loadParameters();           // system parameters and their globals
    void findCameras();
    void checkCameraCount();
    void createFolders();
    void checkSystemTime();
    void showCameraLost(int index, bool alarmBox);
    void showCameraRecovered();
    void buildScreen();
    void updateStatus();
    void buildCycle();
    // The service link: reports wired to the cycle, the record and the archive.
    void buildServiceLink();
    void startServiceLink();
    // Statistics, cycle log, workbook export and the disk commands.
    void buildRecords();
    // The operator's buttons under the camera views.
    QWidget* buildButtons();
    void releaseRecords();
    void showIoLink(bool lost);
    void installOperatorHooks();
    bool endRun(int recordMessage);

    int m_expectDetect = 1;
    qint64 m_startMs = 0;
    QTimer m_screenOff;
    QTimer m_autoLogout;
    QTimer m_dateCheck;
    QSoundEffect* m_alarm = nullptr;
    ControlPort* m_io = nullptr;
    InputSampler* m_inputs = nullptr;
    QUrl m_alarmSource;
    QLabel* m_status = nullptr;
    QLabel* m_cameraArea = nullptr;
    QStringList m_unusableDatabases;
    CameraManager* m_cameras = nullptr;
    CameraLostBox* m_lostBox = nullptr;
    bool m_replay = false;
    DetectionCycle* m_cycle = nullptr;
    SaveFialImageThread* m_archive = nullptr;
    CycleView* m_view = nullptr;
    CNT_Net* m_net = nullptr;
    WarnBox* m_ioBox = nullptr;
    WarnBox* m_noInputBox = nullptr;
    DiskCommands* m_disk = nullptr;
    StatisticsWidget* m_statisticsPage = nullptr;
    DetectCycleWidget* m_cycleLogPage = nullptr;
    AlarmPage* m_alarmPage = nullptr;
    DrawROIWidget* m_editor = nullptr;
    EditCavitywidget* m_cavity = nullptr;
    IoNamesPage* m_ioNames = nullptr;
    TitleBar* m_titleBar = nullptr;
    RecordWidget* m_recordPage = nullptr;
    AccountWidget* m_accountPage = nullptr;
    WizardParaWidget* m_settingsPage = nullptr;
    HelpWidget* m_helpPage = nullptr;
    BeginnerGuide* m_guide = nullptr;
    QTimer m_detectCycleTimer;
    QTimer m_clock;
    class QPushButton* m_startStop = nullptr;
    class QPushButton* m_login = nullptr;
};

extern DiVeZoruzo* gpWin;

// A change that takes effect at the next start (an update, a restored group):
// the watchdog told, the databases closed, the computer restarted through the host.
void RestartStation();

// The pixmaps of the operator interface, loaded once at start.
QPixmap StationPixmap(const QString& name);
void LoadPixmaps();
