#pragma once
// The main window: a thin screen over the station (StationCore), which it
// owns. startUp() brings the station up, builds the screen on the cycle that
// has not run yet, then runs it (buildStation() calls it). The window keeps
// what is the operator's: the boxes, the pages and the activity timers.
#include <QLabel>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>

class ControlPort;
class InputSampler;
class DateTimeDialog;
class CameraManager;
class CameraLostBox;
class DetectionCycle;
class StationCore;
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

    StationCore* core() const { return m_core; }

    // Forwarded to the station (pages and tests reach it through the window).
    void FLushAll();
    // SIGTERM or SIGINT: clamping prohibited at the board first, then the
    // parameters, counters and alarm kept and the databases closed; no tick
    // runs after it. Safe on a window still being built.
    void endForRestart();
    bool InsertRecord(const QString& text);
    void StartDetect();
    void StopDetect();
    bool isDetecting() const;
    DetectionCycle* cycle() const;
    SaveFialImageThread* archive() const;
    CNT_Net* net() const;
    ControlPort* io() const;
    CameraManager* cameras() const;
    InputSampler* inputs() const;
    int expectedDetection() const;
    qint64 startTimeMs() const;
    void applyIoSettings();
    int CheckPassword();
    bool CheckRoot();
    bool SlotExit();
    bool SlotPowerOff();
    void SoundAlarm(bool on);
    bool SetNgWarnCount(int count);

    CycleView* cycleView() const { return m_view; }
    // The boxes of the cycle (tests read their texts).
    WarnBox* ioLostBox() const { return m_ioBox; }
    WarnBox* noInputBox() const { return m_noInputBox; }
    QTimer& screenOffTimer() { return m_screenOff; }
    QTimer& autoLogoutTimer() { return m_autoLogout; }
    // Restarts the auto-logout and screen-off timers after a touch.
    void restartActivityTimers();

    // Inactivity: the level drops to 0 and the account is logged out.
    void TimerLogout();
    QString levelLabel() const;


    // The records pages and the USB disk commands.
    DiskCommands* diskCommands() const { return m_disk; }
    StatisticsWidget* statisticsPage() const { return m_statisticsPage; }
    AlarmPage* alarmPage() const { return m_alarmPage; }
    // The region and template editor, made when first opened.
    DrawROIWidget* regionEditor();
    // Opened by the operator (main screen, guide): only with the password level 1.
    bool openRegionEditor();
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


    // Shows the camera display of camera index (all cameras when more than one).
    void ChangeCammer(int index);

signals:
    void ngWarnCountChanged();

private:
    void installBoxes();
    void showCameraLost(int index, bool alarmBox);
    void showCameraRecovered();
    void buildScreen();
    void updateStatus();
    // The cycle's boxes, the alarm, statistics and cavity pages, the disk commands.
    void buildPages();
    // The operator's buttons under the camera views.
    QWidget* buildButtons();
    void releasePages();
    void showIoLink(bool lost);

    StationCore* m_core = nullptr;
    QTimer m_screenOff;
    QTimer m_autoLogout;
    QLabel* m_status = nullptr;
    QLabel* m_cameraArea = nullptr;
    CameraLostBox* m_lostBox = nullptr;
    CycleView* m_view = nullptr;
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
