// The operator's commands on the cycle: the pages' requests and buttons,
// resampling and the counter reset.
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


// --- requests ---------------------------------------------------------------------------------
void DetectionCycle::requestManualTrig(int d)
{
    if (d < 0 || d >= gDNum || !isDetecting())
        return;
    if (m_manualTrig == gDNum)
        m_manualFloor = CameraDevice::frameSequence();
    m_manualTrig = d;
    for (int c = 0; c < 8; ++c)
        for (int j = 0; j < 8; ++j)
            m_judged[c][j] = false;
}

void DetectionCycle::requestSoftTrig(int input)
{
    if (input >= 0 && input < 8)
        m_in->softTrig = input;
}

void DetectionCycle::setSkip(bool on)
{
    m_skipActive = on;
    m_skipCount = 0;
    emit skipChanged(on);
}

// --- operator commands ------------------------------------------------------------------------
bool DetectionCycle::confirmed(const QString& text) { return m_hooks.ask && m_hooks.ask(text); }

// The password rule of a protected command: with its switch on and the
// password box off, the password dialog; otherwise the password check.
bool DetectionCycle::passwordFor(int protectSwitch)
{
    if (protectSwitch && !P().is_psw_used)
        return m_hooks.passwordDialog && m_hooks.passwordDialog();
    return m_hooks.checkPassword && m_hooks.checkPassword() != 0;
}

void DetectionCycle::SlotStartStop()
{
    if (m_hooks.pagesOpen && m_hooks.pagesOpen())
        return;
    if (m_runState == Stopped) {
        StartDetect();
        if (P().is_cut_ontime && P().mold_pulse > 0) {
            prohibitClamping();
            publish();
        }
        OperationRecord::instance().InsertRecord(LanStr(142));
        LEDOnOff(4, 1);
    } else {
        if (!passwordFor(P().enable_stop_pass_protect))
            return;
        if (m_hooks.permission && !m_hooks.permission(0))
            return;
        if (!confirmed(LanStr(140)))
            return;
        StopDetect();
        OperationRecord::instance().InsertRecord(LanStr(141));
        LEDOnOff(4, 0);
    }
    if (P().enable_cnt_net) {
        m_reports.send(&CycleReports::sendManualStop);
        m_reports.send(&CycleReports::sendStatistics, "null");
    }
}

void DetectionCycle::SlotManualTrig(int d)
{
    if (!isDetecting() || (m_hooks.pagesOpen && m_hooks.pagesOpen()) || d < 0 || d >= gDNum)
        return;
    if (d == 0 && mode() != 4 && !P().enable_prod_detect) {
        if (m_hooks.warn)
            m_hooks.warn(LanStr(145));
        return;
    }
    // The snapshot's moment is the press: a test picture delivered below is newer.
    const quint64 floor = CameraDevice::frameSequence();
    // A station without cameras exercises the cycle on stored test pictures.
    if (gCameraID == kKindNone && SimCamera::replaySource().isEmpty()) {
        const QString file = QStringLiteral("cammer15/template%1.bmp").arg(m_rollingTest);
        m_rollingTest = (m_rollingTest + 1) % 50;
        const cv::Mat img = cv::imread(file.toStdString(), gisColor ? cv::IMREAD_UNCHANGED : cv::IMREAD_GRAYSCALE);
        const int shown = m_hooks.shownCamera ? std::max(0, m_hooks.shownCamera()) : 0;
        CammerView* v = m_cams->view(shown);
        if (v && v->device() && !img.empty() && img.cols == gImageW && img.rows == gImageH) {
            const cv::Mat cont = img.isContinuous() ? img : img.clone();
            const auto layout = cont.channels() == 1 ? CameraDevice::Layout::Mono8
                                : cont.channels() == 3 ? CameraDevice::Layout::Rgb24 : CameraDevice::Layout::Bgra32;
            v->device()->deliver(cont.data, cont.total() * cont.elemSize(), layout);
        }
    }
    requestManualTrig(d);
    m_manualFloor = floor;
}

void DetectionCycle::SlotStartSkipDetect()
{
    if (!P().enable_skip_detect)
        return;
    const QString question = m_skipActive ? LanStr(578) : LanStr(574).arg(P().skip_detect_times);
    if (!confirmed(question))
        return;
    const bool on = !m_skipActive;
    // Stopped and started again in one step: the board never sees a stop's permission.
    stopCycle();
    StartDetect();
    setSkip(on);
}

void DetectionCycle::CameraChangeTrig()
{
    m_wp->use_external_trigger = P().use_external_trigger ? 0 : 1;
    m_wp->freeRunningForAlarm = false;  // the operator's choice from now on
    gUseExternalTrigger = m_wp->use_external_trigger;
    for (CameraDevice* dev : m_cams->devices())
        dev->CameraChangeTrig(false);
    emit triggerModeChanged(P().use_external_trigger != 0);
}

void DetectionCycle::SlotReCheck()
{
    if (m_resultState != Alarm)
        return;
    if (m_hooks.storeEdits)
        m_hooks.storeEdits();
    AlarmRedetect();
}

void DetectionCycle::SlotNoCheckCur(int camera)
{
    if (m_resultState != Alarm)
        return;
    if (!passwordFor(P().enable_pass_protect))
        return;
    if (P().enable_disarm_before_open && !gisSafeDoorOpen) {
        if (m_hooks.warn)
            m_hooks.warn(LanStr(195));
        return;
    }
    if (camera >= 0 && (camera >= cameraCount() || m_cameraOk[camera])) {
        if (m_hooks.warn)
            m_hooks.warn(LanStr(107));
        return;
    }
    if (!confirmed(camera < 0 ? LanStr(102) : LanStr(105).arg(camera + 1)))
        return;
    AlarmDontDetect(camera);
}

bool DetectionCycle::anyTemplateNeeded() const
{
    for (int c = 0; c < cameraCount(); ++c)
        for (int d = 0; d < 8; ++d)
            if (m_needTemplate[c][d])
                return true;
    return false;
}

void DetectionCycle::SlotReTrain()
{
    if ((m_hooks.pagesOpen && m_hooks.pagesOpen()) || m_resultState == Alarm)
        return;
    if (!(m_hooks.checkPassword && m_hooks.checkPassword() != 0) || !confirmed(LanStr(137)))
        return;
    m_resultState = Idle;
    ResetRun();
    if (m_runState == Stopped) {
        enterDetecting(false);
        if (P().is_cut_ontime && P().mold_pulse > 0) {
            prohibitClamping();
            publish();
        }
        LEDOnOff(4, 1);
    }
    m_runState = Resampling;
    emit runStateChanged(m_runState);
    emit resultStateChanged(m_resultState);
    for (int c = 0; c < cameraCount(); ++c) {
        CammerView* v = m_cams->view(c);
        if (!v || !v->store)
            continue;
        v->store->DeleteAll();
        for (int d = 0; d < std::min(gDNum, 8); ++d) {
            if (!P().detect_enable[d])
                continue;
            m_needTemplate[c][d] = true;
            if (!v->store->ignore(d).empty()) {
                v->store->ignore(d).setTo(0);
                v->store->SaveIgnorePoint(d);
            }
        }
    }
    OperationRecord::instance().InsertRecord(LanStr(139));
    m_cams->SaveSN(0);
}

void DetectionCycle::finishResampling()
{
    enterDetecting(false);
    if (!P().enable_ok_ng_pulse) {
        prohibitClamping();
        publish();
    }
    m_runState = Resampling;
    emit runStateChanged(m_runState);
    CheckArea(true);
}

void DetectionCycle::CheckArea(bool askPassword)
{
    if (!askPassword || (m_hooks.checkPassword && m_hooks.checkPassword() != 0)) {
        m_resultState = Editing;
        emit resultStateChanged(m_resultState);
        emit editorRequested();
        if (m_hooks.openEditor)
            m_hooks.openEditor();
    } else {
        m_runState = Detecting;
        emit runStateChanged(m_runState);
    }
}

void DetectionCycle::BackTrain()
{
    apply(outputrules::backFromEditor(P()));
    publish();
    m_resultState = Idle;
    m_runState = Detecting;
    emit resultStateChanged(m_resultState);
    emit runStateChanged(m_runState);
    m_resampledVerdict = true;
    CheckNG();
    m_resampledVerdict = false;
    // Trained now, not after the result display: the mould standing open is
    // judged at once on the new templates and regions.
    for (int c = 0; c < cameraCount(); ++c)
        if (CammerView* v = m_cams->view(c); v && v->recong)
            for (int d = 0; d < gDNum && d < 8; ++d)
                if (P().detect_enable[d]) {
                    v->recong->CreateShape(d);
                    v->recong->VarTrain(d);
                }
    m_judgeIfOpen = !P().enable_ok_ng_pulse;
}

bool DetectionCycle::ResetCount()
{
    gLost = 0;
    const bool ok = CountReset();
    emit countersChanged();
    return ok;
}
