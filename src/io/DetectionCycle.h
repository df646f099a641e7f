#pragma once
// The detection cycle: from the machine's signals to its permissions. A 3-ms
// polling tick turns input edges into cycles, each detection waits its
// trigger delay, every camera judges the detection on its newest frame, and
// the verdict sets clamp permission (output 1, set = prohibited), ejector
// permission (output 2) and alarm (output 3), gives pulses, re-detects,
// enters or clears the alarm, keeps the picture archive, the counters, the
// statistics, the cycle log and the reports fed.
//
// One QObject without widgets, owned by the main window; everything runs on
// the GUI thread. What the pages show comes out as signals. The tick, the
// scheduling and the judgement are in DetectionCycle.cpp, the alarm and the
// re-detections in CycleAlarm.cpp, the operator's commands in
// OperatorCommands.cpp; what the outputs do is decided by OutputRules.
//
// Clamping is never allowed while a camera is lost, while the IO link is
// lost, while the alarm is on, or while detection is stopped with "Stop
// clamping when stopping detection" on: every clearing of output 1 goes
// through allowClamping(). A start is not a verdict: detection starts with
// clamping prohibited. A detection judges only pictures that arrived after
// its moment (the end of its delay, or the trigger when it has none); a
// camera without one within kFreshFrameMs is judged NG.
#include <QDateTime>
#include <QHash>
#include <QList>
#include "OutputRules.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <cstddef>
#include <map>
#include <algorithm>
#include <array>
#include <functional>

namespace outputrules {
struct Change;
}
class ControlPort;
class InputSampler;
class CameraManager;
class WizardPara;
class SaveFialImageThread;

// What the cycle reports to parts built beside it: statistics, the cycle
// log, the service link. Each call is made where the verdict rules say; an
// unset hook is counted too (count()), so a test can see it was reached.
struct CycleReports {
    std::function<void(int hour, bool ok, int camera, int detection)> statisticsAdd;
    std::function<void(int tenths)> cycleTime;
    std::function<void(bool ng, int trigger)> sendStatisticsOnce;
    std::function<void(int a, int b)> sendSaveNgVideo;
    std::function<void(int role, int ngRegions)> sendTelInfo;
    std::function<void(int camera, int detection, int region)> addStatisticsItem;
    std::function<void(const QString& what)> sendStatistics;
    std::function<void(qint64 ms)> addNgTimes;
    std::function<void()> sendCancel;
    std::function<void()> sendManualStop;
    // One report, named by its hook: counted, and sent when the hook is set.
    template <typename Hook, typename... Args>
    void send(Hook CycleReports::*which, Args&&... args)
    {
        ++m_calls[key(which)];
        if (const Hook& h = this->*which; h)
            h(std::forward<Args>(args)...);
    }
    // Reports of one kind asked for so far, whether or not its hook was set.
    template <typename Hook>
    int count(Hook CycleReports::*which) const
    {
        const auto it = m_calls.find(key(which));
        return it == m_calls.end() ? 0 : it->second;
    }

private:
    template <typename Hook>
    std::ptrdiff_t key(Hook CycleReports::*which) const
    {
        return reinterpret_cast<const char*>(&(this->*which)) - reinterpret_cast<const char*>(this);
    }
    std::map<std::ptrdiff_t, int> m_calls;
};

// What the operator commands need from the pages: the password rules, the
// question and warning boxes, which pages are open. Unset hooks refuse:
// no password, no confirmation, pages closed.
struct OperatorHooks {
    std::function<int()> checkPassword;         // CheckPassword(): the level, 0 refused
    std::function<bool()> passwordDialog;       // PasswordDialog accepted
    std::function<bool(const QString&)> ask;    // the question box, true = confirmed
    std::function<void(const QString&)> warn;   // the warning box
    std::function<bool()> pagesOpen;            // settings, template, camera-switch or IO-name page
    std::function<bool(int right)> permission;  // the logged-in account's right (logged out: the operators')
    std::function<void()> storeEdits;           // the alarm page's region edits, before a re-detection
    std::function<void()> openEditor;           // the region editor after resampling
    std::function<int()> shownCamera;           // the camera on screen, -1 all
};

class DetectionCycle : public QObject {
    Q_OBJECT
public:
    enum RunState { Detecting = 1, Resampling = 2, Stopped = 3 };
    enum ResultState { Idle = 0, Shown = 1, Alarm = 2, Editing = 3 };
    // How long a detection waits for a picture newer than its moment before
    // the camera is judged NG: several frame periods of any camera the
    // station drives in continuous acquisition.
    static constexpr int kFreshFrameMs = 1000;
    // Triggered cameras: the pictures of one machine trigger arrive within
    // kTriggerSetMs of each other; the opening's edge within kSameOpeningMs of
    // the pictures that started its cycle is that opening's.
    static constexpr int kTriggerSetMs = 300, kSameOpeningMs = 500;
    // An IO fault ends after the board has followed this long; one back within
    // kFaultReturnMs of its end stays until detection is started again.
    static constexpr int kFaultFollowMs = 2000, kFaultReturnMs = 10000;
    // The alarm that was on when the station stopped, kept across restarts.
    static QString alarmStateFile() { return QStringLiteral("alarm.state"); }
    // Writes the kept alarm ("<detection> <cameras>") whole or not at all.
    static bool writeAlarmState(const QByteArray& text);

    DetectionCycle(ControlPort* io, InputSampler* inputs, CameraManager* cameras, WizardPara* wp,
                   QObject* parent = nullptr);
    ~DetectionCycle() override;

    // Starts the polling tick (5 ms after start-up) and the supervision tick;
    // an alarm kept from before the restart is entered again first.
    void begin();
    // The process ends: no tick, pulse or delay runs again; a sounding alarm is kept on disk.
    void haltForExit();
    CycleReports& reports() { return m_reports; }
    void setArchive(SaveFialImageThread* a) { m_archive = a; }

    // --- the cycle's own operations -----------------------------------------
    void Run();                          // one polling tick
    void TimerUp(int d);                 // delay countdown of detection d
    void RunAlgorithm(int camera, int d);
    void CheckNG();
    void ReCheck();
    void TimerShow();
    void InCheck();
    // Detection on with clamping prohibited until the mould is judged; when the
    // mould-open input is on, the mould is judged at once as after an opening.
    void StartDetect();
    void StopDetect();
    void SetStopDetect();
    void ResetRun();
    // The detections were derived anew (mode, sides, the mode-4 table): the
    // cycle starts over at the first one the new set-up expects, with no
    // trigger left pending from the old one.
    void DetectionsChanged();
    // The IO wiring changed under a running cycle (settings confirmed): the
    // clamp waits for the open mould to be judged again.
    void IoConfigChanged();
    // Clamping prohibited and published now (a camera lost between two ticks).
    void ProhibitNow();
    void SlotFPS();                      // one-second supervision
    // Output timers.
    void OutTimerNotAllowClose();
    void OutTimerNotAllowThimble();
    void OutTimerOutNG();
    void OutTimerSysFunc4Output();
    void SlotTImerSafeDoor();

    // --- operator commands (the pages' buttons) -------------------------------
    OperatorHooks& hooks() { return m_hooks; }
    void SlotStartStop();
    void SlotManualTrig(int d);
    void SlotManualTrig0() { SlotManualTrig(0); }
    void SlotManualTrig1() { SlotManualTrig(1); }
    void SlotMuliManualTrig(int d) { SlotManualTrig(d); }
    void SlotStartSkipDetect();
    void CameraChangeTrig();
    // The alarm page: "Re-detected" and "Don't Detect" (camera -1: all shown).
    void SlotReCheck();
    void SlotNoCheckCur(int camera = -1);
    // "Resample": every template taken again from the next frames.
    void SlotReTrain();
    void CheckArea(bool askPassword);
    void BackTrain();
    // The counter reset page.
    bool ResetCount();
    bool resampling() const { return m_runState == Resampling; }
    int testImageNumber() const { return m_rollingTest; }

    // --- requests from the pages ---------------------------------------------
    void requestManualTrig(int d);            // the next tick starts it
    void requestSoftTrig(int input);          // 0-based input
    void setSkip(bool on);
    // "Save all as test images": every judged frame is kept under ./originalimage.
    void setSaveTestImages(bool on) { m_saveTestImages = on; }
    bool saveTestImages() const { return m_saveTestImages; }
    // The alarm page: re-detect the current detection on the current frames.
    void AlarmRedetect();
    // The alarm page: "Don't Detect" for every camera (camera -1) or one.
    // Returns 0, or the message refusing it (195 door not opened, 107 camera
    // not in alarm).
    int AlarmDontDetect(int camera = -1);
    // The insert-wear box was closed: counters at the limit are reset.
    void ClearWarnNGINfo();
    // The name of detection d on the pages and in records.
    QString DetectionName(int d) const;
    // The insert-wear box: the header and one line per region that alarmed,
    // those at the warning count first; empty while none reached it.
    QStringList GetROINGInfo() const;
    bool CheckROING() const;

    // --- state, for the pages and tests ----------------------------------------
    int runState() const { return m_runState; }
    int resultState() const { return m_resultState; }
    bool isDetecting() const { return m_runState != Stopped; }
    int curDetect() const { return m_curDetect; }
    bool recheckMode() const { return m_recheck; }
    double delayLeft(int d) const { return d >= 0 && d < 8 ? m_delayLeft[d] : 0.0; }
    bool delayRunning(int d) const;
    int pending(int mask) const { return mask >= 0 && mask < 8 ? m_pendingCams[mask] : 0; }
    int saveState(int c, int d) const { return m_saveState[c][d]; }
    bool cameraOk(int c) const { return m_cameraOk[c]; }
    QList<int> alarmCameras() const;
    int skipCount() const { return m_skipCount; }
    bool skipActive() const { return m_skipActive; }
    int cycleTenths() const { return m_cycleTenths; }
    // Detections the last judgement found without a region on any camera.
    int nothingCheckedMask() const { return m_nothingRecorded; }
    // Detections whose moment has come and that wait for newer pictures.
    int awaitingFrames() const { return int(m_await.size()); }
    // An IO fault that came back soon after it ended, held until a start.
    bool ioFaultHeld() const { return m_faultLatched; }
    quint64 missedTriggers() const { return m_missedEdges; }
    quint64 droppedBusyTriggers() const { return m_busyDropped; }
    QTimer& runTimer() { return m_run; }
    enum class Pulse { Clamp, Thimble, Ng, Func4 };
    const QTimer& pulseTimer(Pulse p) const
    {
        return p == Pulse::Clamp ? m_outClose : p == Pulse::Thimble ? m_outThimble : p == Pulse::Ng ? m_outNg : m_outFunc4;
    }
    const QTimer& delayTimer(int d) const { return m_up[std::clamp(d, 0, 7)]; }
    const QTimer& showTimer() const { return m_show; }
    const QTimer& inputTimeoutTimer() const { return m_inCheck; }
    const QTimer& safeDoorTimer() const { return m_safeDoor; }
    // The output number of each detection in mode 4 (the last uses entry 7).
    static int OutputNo(int d, int count);

signals:
    void frameTaken(int camera);                 // a new frame for the view
    void judged(int camera, int detection, bool ok);
    void countdown(int detection, double seconds);
    void runStateChanged(int state);
    void resultStateChanged(int state);
    void alarmEntered(QList<int> cameras, int detection);
    void alarmCleared();
    void countersChanged();
    void ioLinkLost(bool lost);
    void noInputSignal(bool shown);
    void sigROINGWarm();
    void skipChanged(bool active);
    void triggerModeChanged(bool external);
    void editorRequested();
    // A detection the cycle needs has no region on any camera: nothing is checked.
    void nothingChecked(int detection, bool none);

private:
    // --- helpers --------------------------------------------------------------------
    const WizardPara& P() const { return *m_wp; }
    int mode() const;
    int roleOf(int d) const;
    int maskOf(int d) const;
    int lastDetection() const;
    bool stopsOnNg(int role) const;
    int cameraCount() const;
    int allCamerasMask() const;
    int delayOf(int d) const;
    bool mayTrigger(int m, bool busy) const;
    bool startsCycle(int k) const;        // input k opens a new cycle (not mode 4)
    bool isTriggerInput(int k) const;     // input k starts a cycle or a detection
    void set(int output, bool on);
    void publish();
    // Every output decision of the rules goes through here.
    // gated: output 1 is cleared only through allowClamping(); the gate's own
    // prohibition is applied ungated.
    void apply(const outputrules::Change& c, bool gated = true);
    void prohibitClamping() { apply(outputrules::prohibit(P())); }
    // Clears output 1 unless a camera or the IO link is lost, or detection is
    // stopped with enable_stop_mold; returns whether it did.
    bool allowClamping();
    void sideFromInputs(bool alarmRule);
    void recordAlarmText(bool viaTimer);
    void noteCycleTime();

    // A detection whose moment has come waits for a newer picture of every
    // camera it needs; what follows the judgement depends on who asked.
    enum class Origin { Timer, Manual, ReCheck, Redetect };
    struct Await {
        int d;
        Origin origin;
        quint64 floor;   // frames numbered above it are newer than the moment
        qint64 since;    // the moment, monotonic ms
        int cams;        // cameras that judge
    };
    // Detection d's moment has come: its countdown ends and it waits for pictures above floor.
    void beginJudgement(int d, Origin origin, quint64 floor);
    void awaitFrames(int d, Origin origin, quint64 floor, int cams);
    // The frame sequence a request made now must exceed.
    // The moment of a re-detection of d: now, or with triggered cameras the
    // newest pictures, never older than d's last judgement.
    quint64 floorNow(int d) const;
    quint64 externalFloor() const;
    void judgeAwaiting();
    void finishJudgement(const Await& a);
    void afterTimerJudgement(bool manual);
    bool isMould(int d) const;
    // In modes 1 and 2 detection d (0..3) is judged on the running cycle's side.
    int judgedDetection(int d) const;
    bool anyRegions(int d) const;
    // publishNow false: the caller publishes the word once it has decided the rest.
    void enterDetecting(bool judgeOpenMould, bool publishNow = true);
    // StopDetect without its outputs.
    void stopCycle();
    void judgeOpenMouldNow();
    // Triggers that come while the cycle cannot take them: recorded, and what still
    // waits for pictures is judged only on pictures after them.
    void dropTriggers(const bool edge[8], int soft);
    void persistAlarm();
    void restoreAlarm();
    void triggerHandling(const bool edge[8]);
    // The set of pictures of one machine trigger, when it is complete (or overdue)
    // and no cycle runs; *floor then lies just below its oldest picture.
    bool takeTriggerSet(bool busy, quint64* floor);
    bool newCycle(int k);
    bool schedule(int k);
    bool scheduleMulti(int k);
    void startDetection(int d, int n, int delay);
    void rearmMould();
    void enterAlarm();
    void clearAlarm(int role);
    // Cameras switched to free-running for the alarm go back on the machine's trigger.
    void backToMachineTrigger();
    void afterVerdictSaves(bool detectionNg, int d);
    bool passwordFor(int protectSwitch);
    bool confirmed(const QString& text);
    void finishResampling();
    bool anyTemplateNeeded() const;

    ControlPort* m_io;
    InputSampler* m_in;
    CameraManager* m_cams;
    WizardPara* m_wp;
    SaveFialImageThread* m_archive = nullptr;
    CycleReports m_reports;
    OperatorHooks m_hooks;
    int m_rollingTest = 0;

    // Ends a tick: the guard's word, the IO thread's watch, the next tick in nextMs.
    void tickDone(int nextMs);
    QTimer m_run, m_show, m_inCheck, m_safeDoor, m_fps;
    QTimer m_up[8];
    QTimer m_outClose, m_outThimble, m_outNg, m_outFunc4;
    int m_func4Output = -1;

    int m_runState = Stopped, m_resultState = Idle;
    int m_curDetect = 0;
    int m_pendingCams[8] = {};
    bool m_judged[8][8] = {};
    int m_redetectLeft[8] = {};
    bool m_recheck = false;
    double m_delayLeft[8] = {};
    int m_manualTrig = 8;
    bool m_manualCycle = false;
    bool m_manualAlarm = false;
    int m_nextTrig = -1;
    bool m_camCycleOk[8] = {};
    bool m_cameraOk[8] = {};       // verdict of the last judgement per camera
    int m_saveState[8][8] = {};    // SaveState per camera and detection
    bool m_cavityNg[4] = {};
    int m_sideSelect = 1;
    bool m_skipActive = false;
    int m_skipCount = 0;
    qint64 m_lastTrigTenths = 0;
    int m_cycleTenths = 0;
    QDateTime m_cycleStart;
    qint64 m_alarmSince = 0;
    int m_trigNumber = 0;          // statistics report: the input that started the cycle
    bool m_doorCycle = false;
    bool m_startCycle = false;     // the open mould judged at a start: not a production cycle
    bool m_judgeIfOpen = false;    // a start looks whether the mould is open
    bool m_outputFault = false;    // the board holds another word than the one sent
    bool m_faultLatched = false;   // it came back soon after it ended: until a start
    qint64 m_faultFreeSinceMs = 0, m_faultEndedMs = 0;
    int m_forced = -1;             // detection forced next after a cleared product alarm
    int m_chainDelay = 0;          // delay of the most recently started detection
    int m_showDetect = -1;
    int m_extMask = 0;
    bool m_externalAtStart = false;
    quint64 m_runCount = 0;
    bool m_ioLost = false;
    bool m_ioDoubt = false;  // the board is silent, not yet lost
    qint64 m_lastRunMs = 0;  // monotonic start of the last tick
    static constexpr qint64 kAwayMs = 100;
    bool m_noInputShown = false;
    bool m_roiWarnOpen = false;
    bool m_retrainMould = false;
    bool m_resampledVerdict = false;  // the verdict of resampling's pictures: it vouches for nothing
    bool m_firstNgThisCycle[8] = {};
    bool m_needTemplate[8][8] = {};  // resampling: templates still to take
    bool m_led5 = false;
    bool m_saveTestImages = false;
    int m_testImageNo = 0;
    quint64 m_missedEdges = 0, m_busyDropped = 0;
    QList<Await> m_await;
    quint64 m_judgedFloor[8] = {}; // the moment of each detection's last judgement: a re-detection never looks before it
    int m_staleCams = 0;           // cameras of the judgement under way without a newer picture
    quint64 m_trigFloor = 0;       // the frame sequence at the trigger being handled
    quint64 m_manualFloor = 0;     // ... at the manual snapshot's request
    quint64 m_extSeq[8] = {};      // each camera's picture in the external-trigger mask
    qint64 m_extMs[8] = {};        // ... and its arrival
    quint64 m_judgedSeq[8] = {};   // each camera's newest picture a judgement saw
    bool m_triggerAfterJudge = false;  // back on the machine's trigger once the start's judgement is done
    qint64 m_extCycleMs = -1;      // when a set of triggered pictures last started a cycle
    int m_nothingRecorded = 0;     // detections whose "nothing checked" line is written
    bool m_nothingChecked = false; // the verdict under way judged no region
    QString m_restoredAlarm;       // the kept alarm, read at construction
    quint64 m_edgeSeen[8] = {};
};

extern DetectionCycle* gpCycle;
