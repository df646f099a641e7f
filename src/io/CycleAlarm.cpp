// The alarm and the re-detections: entering, keeping across restarts,
// clearing, the automatic and the requested re-detection, "Don't Detect" and
// the insert-wear warning.
#include "DetectionCycle.h"

#include "CameraSet.h"
#include "ControlPort.h"
#include "Counters.h"
#include "Detection.h"
#include "ImageArchive.h"
#include "InputSampler.h"
#include "IOThread.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "OutputRules.h"
#include "ParamDb.h"
#include "Panel.h"
#include "SimCamera.h"
#include "TemplateStore.h"
#include "WizardPara.h"

#include <QFile>
#include <QSaveFile>
#include <QTime>
#include <QtDebug>
#include <opencv2/imgcodecs.hpp>


void DetectionCycle::enterAlarm()
{
    if (P().ng_switch_continuous && m_externalAtStart && P().use_external_trigger) {
        m_wp->use_external_trigger = 0;
        m_wp->freeRunningForAlarm = true;
        for (CameraDevice* dev : m_cams->devices())
            dev->CameraChangeTrig(false);
    }
    // A start's judgement that ends in the alarm leaves them free-running for it.
    m_triggerAfterJudge = false;
    // Pictures gathered for a machine trigger before the alarm are no later cycle's.
    m_extMask = 0;
    // In the alarm the mould stays shut, whatever the cycle-start rules left.
    apply(outputrules::alarmEntry());
    publish();
    if (gisLCDOff)
        LCDOnOff(1);
    SetStopDetect();
    m_resultState = Alarm;
    m_recheck = false;
    persistAlarm();
    LEDOnOff(6, 0);
    LEDOnOff(7, 1);
    emit resultStateChanged(m_resultState);
    emit alarmEntered(alarmCameras(), m_curDetect);
    recordAlarmText(false);
}

// The alarm outlives the process: a restart comes back in it.
void DetectionCycle::persistAlarm()
{
    QStringList cams;
    for (int c : alarmCameras())
        cams << QString::number(c);
    if (!writeAlarmState(QStringLiteral("%1 %2\n").arg(m_curDetect).arg(cams.join(',')).toLatin1()))
        qWarning() << "the alarm state could not be kept in" << alarmStateFile();
    m_restoredAlarm.clear();
}

bool DetectionCycle::writeAlarmState(const QByteArray& text)
{
    QSaveFile f(alarmStateFile());
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size() && f.commit();
}

void DetectionCycle::restoreAlarm()
{
    if (m_restoredAlarm.isEmpty())
        return;
    if (P().enable_ok_ng_pulse) {
        // Pulse mode has no alarm to stay in: nothing could end it.
        m_restoredAlarm.clear();
        QFile::remove(alarmStateFile());
        return;
    }
    const QStringList parts = m_restoredAlarm.split(' ');
    m_restoredAlarm.clear();
    bool ok = false;
    const int d = parts.value(0).toInt(&ok);
    if (!ok || d < 0 || d >= std::max(1, std::min(gDNum, 8))) {
        qWarning() << "the kept alarm names no detection of this set-up; the alarm is entered on the mould";
    }
    m_curDetect = ok && d >= 0 && d < std::max(1, std::min(gDNum, 8)) ? d : lastDetection();
    ResetRun();
    // Detections 0 and 1 are the first side's, 2 and 3 the second's: the re-detection judges the side in alarm.
    if (mode() == 1 || mode() == 2)
        m_sideSelect = m_curDetect < 2 ? 1 : 0;
    // After a product's alarm the mould is still owed its verdict in this cycle.
    const bool mouldOn = P().detect_enable[1] || ((mode() == 1 || mode() == 2) && P().detect_enable[3]);
    if (mode() != 4 && roleOf(m_curDetect) == 0 && mouldOn)
        m_pendingCams[maskOf(1)] = allCamerasMask();
    for (const QString& c : parts.value(1).split(',', Qt::SkipEmptyParts))
        if (const int i = c.toInt(&ok); ok && i >= 0 && i < 8)
            m_cameraOk[i] = false;
    if (alarmCameras().isEmpty())
        for (int c = 0; c < std::max(1, cameraCount()); ++c)
            m_cameraOk[c] = false;
    for (int c = 0; c < cameraCount(); ++c)
        m_saveState[c][m_curDetect] = SaveState::None;
    apply(outputrules::restoredAlarm(P(), roleOf(m_curDetect)));
    OperationRecord::instance().InsertRecord(LanStr(1717).arg(DetectionName(m_curDetect)));
    enterAlarm();
}

void DetectionCycle::backToMachineTrigger()
{
    m_triggerAfterJudge = false;
    // Only what the alarm switched: the operator's own choice of mode stays.
    if (P().freeRunningForAlarm) {
        m_wp->freeRunningForAlarm = false;
        m_wp->use_external_trigger = 1;
        for (CameraDevice* dev : m_cams->devices())
            dev->CameraChangeTrig(false);
    }
}

void DetectionCycle::clearAlarm(int role)
{
    if (!QFile::remove(alarmStateFile()) && QFile::exists(alarmStateFile()))
        qWarning() << "the kept alarm state could not be removed";
    backToMachineTrigger();
    emit alarmCleared();
    if (P().input_timeout_len > 0)
        m_inCheck.start(P().input_timeout_len * 1000);
    const bool standard = mode() == 0 || mode() == 3;
    const bool paired = mode() == 1 || mode() == 2;
    if ((standard || paired) && role == 0) {
        m_resultState = Idle;
        apply(outputrules::alarmCleared(mode(), role));
        ResetRun();
        m_runState = Detecting;
        emit runStateChanged(m_runState);
        if (standard && !P().semi_auto) {
            m_in->softTrig = 1;
            m_forced = 1;
        }
    } else if (mode() == 4) {
        m_resultState = Idle;
        apply(outputrules::alarmCleared(mode(), role));
        // The last detection's OK, refused while the alarm was on, vouches now.
        if (isMould(m_curDetect) && !m_nothingChecked)
            allowClamping();
        ResetRun();
        m_runState = Detecting;
        emit runStateChanged(m_runState);
    } else {
        // The mould was judged OK just now: detection goes on with that verdict,
        // published below in one word with the alarm's end.
        enterDetecting(false, false);
        if (!m_nothingChecked)
            allowClamping();
    }
    emit resultStateChanged(m_resultState);
    if (CheckROING()) {
        apply(outputrules::wearWarning(true, false));
        m_roiWarnOpen = true;
        emit sigROINGWarm();
    }
    publish();
    if (P().enable_cnt_net) {
        m_reports.send(&CycleReports::addNgTimes, QDateTime::currentMSecsSinceEpoch() - m_alarmSince);
        if (P().cnt_video_source && P().cnt_ng_video) {
            m_reports.send(&CycleReports::sendSaveNgVideo, 1, 0);
        }
        m_reports.send(&CycleReports::sendCancel);
    }
}

void DetectionCycle::ReCheck()
{
    const int d = m_curDetect;
    const int role = roleOf(d);
    m_pendingCams[mode() == 4 ? d : role] = 0;
    apply(outputrules::recheck(P(), isMould(d), d == 0, m_redetectLeft[role] > 0));
    publish();
    if (P().detect_enable[d]) {
        m_pendingCams[mode() == 4 ? d : role] = allCamerasMask();
        awaitFrames(d, Origin::ReCheck, floorNow(d), allCamerasMask());
    }
}

void DetectionCycle::AlarmRedetect()
{
    if (!m_await.isEmpty())
        return;  // the re-detection asked for is still waiting for its pictures
    const int d = m_curDetect;
    ResetRun();
    m_pendingCams[maskOf(d)] = 0;
    apply(outputrules::redetect(P(), isMould(d), d == 0));
    publish();
    for (int c = 0; c < cameraCount(); ++c)
        m_judged[c][d] = false;
    if (!P().detect_enable[d])
        return;
    for (int c = 0; c < cameraCount(); ++c) {
        m_pendingCams[maskOf(d)] |= 1 << c;
        if (m_saveState[c][d] == SaveState::NgHeld)
            m_saveState[c][d] = SaveState::NgRedetecting;
    }
    // Judged on what the cameras see after the decision, not before it.
    awaitFrames(d, Origin::Redetect, floorNow(d), allCamerasMask());
}

int DetectionCycle::AlarmDontDetect(int camera)
{
    if (m_resultState != Alarm)
        return 0;
    if (P().enable_disarm_before_open && !gisSafeDoorOpen)
        return 195;
    const int d = m_curDetect;
    if (camera < 0) {
        ResetRun();
        for (int c = 0; c < cameraCount(); ++c)
            if (m_saveState[c][d] == SaveState::NgHeld)
                m_saveState[c][d] = SaveState::NgDontDetect;
        OperationRecord::instance().InsertRecord(LanStr(103));
        CheckNG();
        return 0;
    }
    if (camera >= cameraCount() || m_cameraOk[camera])
        return 107;
    m_judged[camera][d] = true;
    if (m_saveState[camera][d] == SaveState::NgHeld)
        m_saveState[camera][d] = SaveState::NgDontDetect;
    OperationRecord::instance().InsertRecord(LanStr(106).arg(camera + 1));
    // The others are judged again on newer pictures; this one counts as OK.
    ResetRun();
    m_pendingCams[maskOf(d)] = 0;
    int others = 0;
    for (int c = 0; c < cameraCount(); ++c) {
        if (c == camera)
            continue;
        others |= 1 << c;
        m_pendingCams[maskOf(d)] |= 1 << c;
        if (m_saveState[c][d] == SaveState::NgHeld)
            m_saveState[c][d] = SaveState::NgRedetecting;
    }
    if (others)
        awaitFrames(d, Origin::Redetect, floorNow(d), others);
    else
        CheckNG();
    return 0;
}

// --- the insert-wear warning ------------------------------------------------------------------
bool DetectionCycle::CheckROING() const { return !GetROINGInfo().isEmpty(); }

QStringList DetectionCycle::GetROINGInfo() const
{
    // The box: the header, the regions at the limit, then the others that alarmed.
    QStringList atLimit, others;
    const int limit = P().roi_ng_warn_count;
    if (limit <= 0)
        return {};
    for (int c = 0; c < cameraCount(); ++c) {
        CammerView* v = m_cams->view(c);
        if (!v)
            continue;
        for (int d = 0; d < gDNum && d < 8; ++d) {
            if (!P().detect_enable[d])
                continue;
            for (int r = 0; r < std::clamp(v->para.roi_count[d], 0, kMaxRoi); ++r) {
                const int n = v->para.roi_ng_count[d][r];
                if (n > 0)
                    (n >= limit ? atLimit : others) << LanStr(1325).arg(c + 1).arg(DetectionName(d)).arg(r + 1).arg(n);
            }
        }
    }
    if (atLimit.isEmpty())
        return {};
    return QStringList{LanStr(1326)} + atLimit + others;
}

void DetectionCycle::ClearWarnNGINfo()
{
    const int limit = P().roi_ng_warn_count;
    for (int c = 0; c < cameraCount(); ++c)
        if (CammerView* v = m_cams->view(c))
            for (int d = 0; d < 8; ++d)
                for (int r = 0; r < kMaxRoi; ++r)
                    if (limit > 0 && v->para.roi_ng_count[d][r] >= limit)
                        v->para.roi_ng_count[d][r] = 0;
    m_roiWarnOpen = false;
    // The operator has seen it: the alarm lamp goes out; the mould stays shut
    // until a verdict allows it again.
    apply(outputrules::wearWarning(false, m_resultState == Alarm));
    publish();
}

