#include "DetectionCycle.h"
#include "ServiceNotify.h"

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

DetectionCycle* gpCycle = nullptr;

namespace {
qint64 nowTenths() { return QDateTime::currentMSecsSinceEpoch() / 100; }
quint64 seqNow() { return CameraDevice::frameSequence(); }
qint64 monoNow() { return CameraDevice::monotonicMs(); }
} // namespace

DetectionCycle::DetectionCycle(ControlPort* io, InputSampler* inputs, CameraManager* cameras, WizardPara* wp,
                               QObject* parent)
    : QObject(parent), m_io(io), m_in(inputs), m_cams(cameras), m_wp(wp)
{
    if (!gpCycle)
        gpCycle = this;
    m_run.setSingleShot(true);
    m_run.setTimerType(Qt::PreciseTimer);  // the 3-ms tick is the cycle's reaction time
    connect(&m_run, &QTimer::timeout, this, &DetectionCycle::Run);
    for (int d = 0; d < 8; ++d) {
        m_up[d].setInterval(100);
        connect(&m_up[d], &QTimer::timeout, this, [this, d] { TimerUp(d); });
    }
    m_show.setSingleShot(true);
    connect(&m_show, &QTimer::timeout, this, &DetectionCycle::TimerShow);
    m_inCheck.setSingleShot(true);
    connect(&m_inCheck, &QTimer::timeout, this, &DetectionCycle::InCheck);
    m_safeDoor.setSingleShot(true);
    connect(&m_safeDoor, &QTimer::timeout, this, &DetectionCycle::SlotTImerSafeDoor);
    for (QTimer* t : {&m_outClose, &m_outThimble, &m_outNg, &m_outFunc4})
        t->setSingleShot(true);
    connect(&m_outClose, &QTimer::timeout, this, &DetectionCycle::OutTimerNotAllowClose);
    connect(&m_outThimble, &QTimer::timeout, this, &DetectionCycle::OutTimerNotAllowThimble);
    connect(&m_outNg, &QTimer::timeout, this, &DetectionCycle::OutTimerOutNG);
    connect(&m_outFunc4, &QTimer::timeout, this, &DetectionCycle::OutTimerSysFunc4Output);
    connect(&m_fps, &QTimer::timeout, this, &DetectionCycle::SlotFPS);
    m_curDetect = P().machine_mode == 4 ? std::max(0, gDNum - 1) : (P().enable_prod_detect ? 0 : 1);
    m_manualTrig = gDNum;
    m_lastTrigTenths = nowTenths();
    m_cycleStart = QDateTime::currentDateTime();
    m_externalAtStart = P().use_external_trigger != 0;
    for (int c = 0; c < 8; ++c)
        m_cameraOk[c] = m_camCycleOk[c] = true;
    QFile kept(alarmStateFile());
    if (kept.open(QIODevice::ReadOnly))
        m_restoredAlarm = QString::fromLatin1(kept.readAll()).trimmed();
}

DetectionCycle::~DetectionCycle()
{
    if (gpCycle == this)
        gpCycle = nullptr;
}

void DetectionCycle::begin()
{
    restoreAlarm();
    m_run.start(5);
    m_fps.start(1000);
}

// --- helpers -----------------------------------------------------------------------------
int DetectionCycle::mode() const { return P().machine_mode; }
int DetectionCycle::roleOf(int d) const { return (mode() == 1 || mode() == 2) ? d % 2 : d; }
int DetectionCycle::maskOf(int d) const { return mode() == 4 ? d : d % 2; }
int DetectionCycle::lastDetection() const { return mode() == 4 ? std::max(0, gDNum - 1) : 1; }
// The detection that vouches for the mould before it closes (either side in modes 1 and 2).
bool DetectionCycle::isMould(int d) const { return mode() == 4 ? d == lastDetection() : roleOf(d) == 1; }

bool DetectionCycle::stopsOnNg(int role) const
{
    if (P().enable_ok_ng_pulse)
        return false;
    if (mode() == 4)
        return true;
    if (role == 0)
        return !(P().enable_stop_not_alarm || P().enable_prod_ok_ng_output);
    return !P().enable_mold_stop_not_alarm;
}

int DetectionCycle::cameraCount() const
{
    return std::clamp(std::min(numCamera, m_cams ? m_cams->viewCount() : 0), 0, 8);
}

int DetectionCycle::allCamerasMask() const { return (1 << cameraCount()) - 1; }

int DetectionCycle::delayOf(int d) const
{
    const int delays[8] = {P().finished_product_detect, P().cavity_detect, P().neutron_detect, P().fourth_detect,
                           P().fifth_detect,            P().sixth_detect,  P().seventh_detect, P().eighth_detect};
    return d >= 0 && d < 8 ? std::max(0, delays[d]) : 0;
}

int DetectionCycle::OutputNo(int d, int count) { return outputrules::multiOutputNo(d, count); }

bool DetectionCycle::delayRunning(int d) const { return d >= 0 && d < 8 && m_up[d].isActive(); }

void DetectionCycle::set(int output, bool on)
{
    if (output == 0 && !on) {
        allowClamping();
        return;
    }
    m_io->IOSetOut(output, on ? 1 : 0);
}

bool DetectionCycle::allowClamping()
{
    // The machine may close only when the station can vouch for the mould.
    if (gisLost || gisLostCom || gisOutputFault || m_outputFault || m_ioDoubt || m_resultState == Alarm ||
        (m_runState == Stopped && P().enable_stop_mold)) {
        // In pulse mode output 1 may be the OK line: the NG's lines instead.
        apply(outputrules::prohibit(P()), false);
        return false;
    }
    m_io->IOSetOut(0, 0);
    return true;
}

void DetectionCycle::publish() { m_io->IOFlashOut(); }

void DetectionCycle::apply(const outputrules::Change& c, bool gated)
{
    // Output 4 first: a copy of another output onto it, written after, wins.
    for (int k : {3, 0, 1, 2, 4, 5, 6, 7, 8}) {
        const int bit = 1 << k;
        if (c.set & bit)
            m_io->IOSetOut(k, 1);
        else if (c.clear & bit && k == 0 && gated)
            allowClamping();  // output 1 only through the gate
        else if (c.clear & bit)
            m_io->IOSetOut(k, 0);
    }
    if (c.clampPulse)
        m_outClose.start(P().mold_pulse * 100);
    if (c.ngPulse)
        m_outNg.start(P().thimble_pulse * 100);
    if (c.thimblePulse)
        m_outThimble.start(P().thimble_pulse * 100);
}

void DetectionCycle::sideFromInputs(bool alarmRule)
{
    // One mould side in use: that side, whatever the inputs stand at. The other
    // side has no detections of its own, and judging it would vouch for nothing.
    if ((mode() == 1 || mode() == 2) && P().mold_side < 2) {
        m_sideSelect = P().mold_side == 0 ? 1 : 0;
        return;
    }
    const bool in1 = m_io->IOState(0, 0) != 0, in4 = m_io->IOState(0, 3) != 0;
    if (alarmRule) {
        if (in1 && !in4)
            m_sideSelect = 1;
        else if (in4 && !in1)
            m_sideSelect = 0;
    } else {
        m_sideSelect = in1 ? 1 : 0;
    }
}

QList<int> DetectionCycle::alarmCameras() const
{
    QList<int> out;
    for (int c = 0; c < cameraCount(); ++c)
        if (!m_cameraOk[c])
            out << c;
    return out;
}

void DetectionCycle::recordAlarmText(bool viaTimer)
{
    QString text;
    for (int c : alarmCameras())
        text += LanStr(151).arg(c + 1);
    text.chop(1);
    text += LanStr(152);
    if (viaTimer && m_manualAlarm) {
        text = QString::fromUtf8("手动抓拍导致") + text;
        m_manualAlarm = false;
    }
    OperationRecord::instance().InsertRecord(text);
}

void DetectionCycle::noteCycleTime()
{
    const qint64 now = nowTenths();
    m_cycleTenths = int(now - m_lastTrigTenths);
    m_lastTrigTenths = now;
    if (P().enable_detect_cycle) {
        m_reports.send(&CycleReports::cycleTime, m_cycleTenths);
    }
    m_cycleStart = m_cycleStart.addMSecs(qint64(m_cycleTenths) * 100);
}

// --- the polling tick -----------------------------------------------------------------------
void DetectionCycle::Run()
{
    // A tick that no longer comes stops the pings: the supervisor restarts us.
    servicenotify::watchdogTick();
    const qint64 now = IOThread::nowMs();
    // Away longer than a bounce could explain: the machine may have closed and opened meanwhile.
    const bool wasAway = m_lastRunMs > 0 && now - m_lastRunMs > std::max<qint64>(kAwayMs, P().shake_erase_time * 10);
    m_lastRunMs = now;
    // 1. The IO link. A board that holds another word than the one sent is a fault of the link too.
    // The fault ends only after the board has followed for a while; one that comes
    // back soon after (a relay welded to what the fault itself switches on) stays
    // until detection is started again.
    const qint64 mono = monoNow();
    if (gisOutputFault)
        m_faultFreeSinceMs = 0;
    if (gisOutputFault && !m_outputFault) {
        m_outputFault = true;
        m_faultLatched = m_faultEndedMs > 0 && mono - m_faultEndedMs < kFaultReturnMs;
        OperationRecord::instance().InsertRecord(LanStr(m_faultLatched ? 1742 : 1718));
        emit ioLinkLost(true);
    } else if (!gisOutputFault && m_outputFault && !m_faultLatched) {
        if (m_faultFreeSinceMs == 0)
            m_faultFreeSinceMs = mono;
        if (mono - m_faultFreeSinceMs >= kFaultFollowMs) {
            m_outputFault = false;
            m_faultEndedMs = mono;
            OperationRecord::instance().InsertRecord(LanStr(1743));
            apply(outputrules::outputFault(false, m_resultState == Alarm));
            m_judgeIfOpen = !P().enable_ok_ng_pulse;  // what the machine did meanwhile is unknown
            if (!gisLostCom)
                emit ioLinkLost(false);
        }
    }
    if (m_outputFault)
        apply(outputrules::outputFault(true, m_resultState == Alarm));
    if (gisLostCom) {
        if (!m_ioLost) {
            m_ioLost = true;
            OperationRecord::instance().InsertRecord(LanStr(1010));
            if (P().enable_io_lost_tip)
                emit ioLinkLost(true);
        }
        prohibitClamping();
    } else if (m_ioLost) {
        m_ioLost = false;
        emit ioLinkLost(false);
    }
    // A board silent for a moment: what the machine did meanwhile is unknown.
    // Clamping waits, and an open mould is judged again once the board answers.
    if (gSilentPolls > IOThread::kDoubtPolls) {
        if (!m_ioDoubt) {
            m_ioDoubt = true;
            OperationRecord::instance().InsertRecord(LanStr(1728).arg(IOThread::kDoubtPolls * IOThread::kPollMs));
        }
        prohibitClamping();
    } else if (m_ioDoubt) {
        m_ioDoubt = false;
        m_judgeIfOpen = !P().enable_ok_ng_pulse;
    }
    // 2. A camera SDK reported a disconnect.
    if (CameraDevice::connectionLost && P().enable_camera_lost_alarm)
        for (int c = 0; c < m_cams->viewCount(); ++c)
            m_cams->CameraCheck(c);
    // 3. White balance once, on the 50th tick.
    if (++m_runCount == 50)
        for (CameraDevice* dev : m_cams->devices())
            dev->SetWB();
    // 4. Cameras lost: only the recovery.
    if (gisLost) {
        prohibitClamping();
        publish();
        if (m_cams->CameraRestart())
            m_runCount = 0;
        m_inCheck.stop();
        tickDone(3000);
        return;
    }
    // 5. New frames.
    int fresh = 0;
    for (int c = 0; c < m_cams->viewCount(); ++c) {
        CammerView* v = m_cams->view(c);
        if (v && v->TakeFrame()) {
            fresh |= 1 << c;
            if (P().use_external_trigger && m_resultState != Alarm) {
                // A second picture before every camera gave one: some camera missed the
                // trigger of the pictures gathered so far, and they are no trigger's.
                if (m_extMask & (1 << c))
                    m_extMask = 0;
                m_extMask |= 1 << c;
                m_extSeq[c] = v->frameSeq;
                m_extMs[c] = v->frameArrivedMs;
                // A triggered camera's new picture: the machine triggered, the mould
                // may have opened; the last verdict no longer vouches.
                if (isDetecting() && v->frameSeq > m_judgedSeq[c] && !P().enable_ok_ng_pulse)
                    prohibitClamping();
            }
        }
    }
    // Detections whose moment has come are judged once every camera has a newer picture.
    judgeAwaiting();
    // 6. Input edges; an edge that came and went while the last tick was busy is noted.
    bool edge[8];
    for (int k = 0; k < 8; ++k) {
        edge[k] = m_io->IOInTrigger(k);
        if (const int missed = m_io->missedEdges(k)) {
            m_missedEdges += quint64(missed);
            OperationRecord::instance().InsertRecord(LanStr(1706).arg(k + 1).arg(m_missedEdges));
            // The mould closed and opened again while the tick was away (a hang, a long
            // judgement): it stands open now after an opening nobody judged. A short
            // dip between two ordinary ticks is a bounce, not an opening.
            if (k == 0 && wasAway && !edge[0] && m_io->IOState(0, 0) != 0)
                edge[0] = true;
        }
    }
    // A start found the mould open: judge it now (an edge this tick starts a whole cycle anyway).
    if (m_judgeIfOpen && gInputReports > 0) {
        m_judgeIfOpen = false;
        if (isDetecting() && m_resultState != Alarm && !edge[0] && m_io->IOState(0, 0) != 0)
            judgeOpenMouldNow();
        else if (m_triggerAfterJudge)
            backToMachineTrigger();
    }
    // 7..10.
    if (!m_roiWarnOpen) {
        if (m_resultState == Alarm) {
            // An opening in the alarm is no cycle, but what came before it is history.
            dropTriggers(edge, -1);
            const int soft = m_in->softTrig;
            bool press = edge[1] || soft == 1;
            if (P().semi_auto && m_curDetect >= 1 && (edge[2] || soft == 2))
                press = true;
            if (press) {
                m_in->softTrig = -1;
                if (mode() == 2)
                    sideFromInputs(true);
                AlarmRedetect();
            }
            m_inCheck.stop();
        } else if (m_recheck) {
            // Triggers wait for the re-detections; an opening meanwhile is not lost unseen.
            dropTriggers(edge, m_in->softTrig);
            const int r = roleOf(m_curDetect);
            // Each re-detection waits for its own newer picture.
            if (m_await.isEmpty() && m_redetectLeft[r] > 0) {
                --m_redetectLeft[r];
                ReCheck();
            }
            m_inCheck.stop();
        } else {
            triggerHandling(edge);
        }
    }
    // 11.
    if (!P().use_external_trigger)
        for (int c = 0; c < 8; ++c)
            if (fresh & (1 << c))
                emit frameTaken(c);
    publish();
    tickDone(3);
}

void DetectionCycle::haltForExit()
{
    for (QTimer* t : {&m_run, &m_show, &m_inCheck, &m_safeDoor, &m_fps, &m_outClose, &m_outThimble, &m_outNg, &m_outFunc4})
        t->stop();
    for (QTimer& t : m_up)
        t.stop();
    if (m_resultState == Alarm)
        persistAlarm();
}

void DetectionCycle::tickDone(int nextMs)
{
    // What the board gets if the station is gone or this tick is the last for a while.
    m_io->setLastWord(outputrules::lastWord(P(), m_io->logicalWord()));
    if (const qint64 held = m_io->tickAlive(nextMs + P().tickLimitMs()))
        OperationRecord::instance().InsertRecord(LanStr(1723).arg(held));
    m_run.start(nextMs);
}

bool DetectionCycle::mayTrigger(int m, bool busy) const
{
    if (m < 0 || m >= 8)
        return false;
    if (mode() == 1 || mode() == 2)
        return P().detect_enable[m] || (m + 2 < 8 && P().detect_enable[m + 2]);
    if (mode() == 4)
        return !busy;
    return P().detect_enable[m] != 0;
}

bool DetectionCycle::startsCycle(int k) const
{
    switch (mode()) {
    case 0: return k == 0 || (P().separate_detect_signal && k == 2);
    case 1: case 3: return k == 0;
    case 2: return (k == 0 && P().mold_side != 1) || (k == 3 && P().mold_side != 0);
    default: return true;
    }
}

bool DetectionCycle::isTriggerInput(int k) const
{
    // Without the fixed order every input's edge starts a multi-detection cycle;
    // with it, input 1 starts one.
    if (mode() == 4 ? (!P().multi_io_flag || k == 0) : startsCycle(k))
        return true;
    for (int n = 0; n < std::min(gDNum, 8); ++n) {
        const int t = P().detect_trig_input[n];
        if (P().detect_enable[n] && (t == k || (t == 255 && k <= 3)))
            return true;
    }
    return false;
}

QString DetectionCycle::DetectionName(int d) const
{
    if (mode() != 4 && roleOf(d) == 0)
        return LanStr(1711);
    if (mode() != 4 && roleOf(d) == 1)
        return LanStr(1712);
    return LanStr(1713).arg(d + 1);
}

void DetectionCycle::dropTriggers(const bool edge[8], int soft)
{
    // Dropped, not queued; but a trigger the machine gave is never lost unseen.
    for (int k = 0; k < 8; ++k)
        if ((edge[k] || k == soft) && isTriggerInput(k)) {
            ++m_busyDropped;
            OperationRecord::instance().InsertRecord(LanStr(1714).arg(m_busyDropped));
            // What is still to be judged is judged on what came after this trigger;
            // and when the mould opened again unjudged, the last verdict no longer vouches.
            const bool opening = mode() == 4 ? (!P().multi_io_flag || k == 0 ||
                                                k == P().detect_trig_input[lastDetection()])
                                             : startsCycle(k);
            for (Await& a : m_await) {
                const int t = P().detect_trig_input[(mode() == 1 || mode() == 2) ? a.d % 2 : a.d];
                if (opening || t == k || t == 255)
                    a.floor = std::max(a.floor, seqNow());
            }
            // A countdown still running judges, when it ends, on pictures after this opening
            // (triggered cameras' pictures would otherwise count from the trigger before).
            if (opening) {
                m_trigFloor = std::max(m_trigFloor, seqNow());
                // A re-detection after it looks no further back either.
                for (quint64& f : m_judgedFloor)
                    f = std::max(f, seqNow());
            }
            if (opening && !P().enable_ok_ng_pulse) {
                prohibitClamping();
                publish();
            }
        }
}

bool DetectionCycle::takeTriggerSet(bool busy, quint64* floor)
{
    // A picture a judgement saw or could have used, or one from well before
    // the set's newest, is another trigger's (a camera missed one): never in this set.
    const quint64 judged = *std::max_element(std::begin(m_judgedFloor), std::end(m_judgedFloor));
    qint64 newest = -1, oldest = -1;
    for (int c = 0; c < 8; ++c)
        if (m_extMask & (1 << c))
            newest = std::max(newest, m_extMs[c]);
    for (int c = 0; c < 8; ++c) {
        if (!(m_extMask & (1 << c)))
            continue;
        if (m_extSeq[c] <= judged || m_extSeq[c] <= m_judgedSeq[c] || newest - m_extMs[c] > kTriggerSetMs)
            m_extMask &= ~(1 << c);
        else
            oldest = oldest < 0 ? m_extMs[c] : std::min(oldest, m_extMs[c]);
    }
    const int all = allCamerasMask();
    if (!all || !(m_extMask & all))
        return false;
    // Every camera delivered; or the set waited too long: the machine triggered
    // and some camera missed it, which is judged (and found wanting), never ignored.
    const bool complete = (m_extMask & all) == all;
    if (!complete && monoNow() - oldest <= kTriggerSetMs)
        return false;
    *floor = seqNow();
    for (int c = 0; c < 8; ++c)
        if (m_extMask & all & (1 << c))
            *floor = std::min(*floor, m_extSeq[c] - 1);
    m_extMask = 0;
    // While a cycle runs, its opening's pictures are the ones it waits for.
    return !busy;
}

void DetectionCycle::triggerHandling(const bool machineEdge[8])
{
    int& soft = m_in->softTrig;
    bool edge[8];
    std::copy(machineEdge, machineEdge + 8, edge);
    // Triggered cameras: the opening's edge shortly after the pictures that
    // started its cycle is the same opening, not a new one.
    if (P().use_external_trigger && m_extCycleMs >= 0 && monoNow() - m_extCycleMs <= kSameOpeningMs) {
        for (int k = 0; k < 8; ++k)
            if (edge[k] && (mode() == 4 ? k == 0 : startsCycle(k))) {
                edge[k] = false;
                m_extCycleMs = -1;
            }
    }
    // The software trigger of input 2 that forces the mould detection after a
    // cleared product alarm is not the safety door.
    const bool doorSoft = soft == 1 && m_forced < 0;
    // 1. The safety door.
    if (P().enable_trigger_safety && isDetecting() && (edge[1] || doorSoft) && !m_safeDoor.isActive()) {
        m_safeDoor.start(2000);
        m_trigFloor = seqNow();
        m_pendingCams[0] |= allCamerasMask();
        if (mode() == 2)
            sideFromInputs(false);
        m_doorCycle = true;
        const int last = lastDetection();
        m_delayLeft[last] = 0;
        TimerUp(last);
    }
    // 2.
    if (!isDetecting())
        return;
    // 3. Busy: a running countdown drops every trigger.
    bool busy = !m_await.isEmpty();
    for (int n = 0; n < gDNum && n < 8; ++n)
        busy = busy || m_up[n].isActive();
    // External trigger: the set of pictures of one machine trigger.
    quint64 extFloor = 0;
    const bool extTrigger = P().use_external_trigger && takeTriggerSet(busy, &extFloor);
    if (extTrigger)
        soft = 0;
    if (busy) {
        dropTriggers(edge, soft);
        soft = -1;
    } else if (P().continuous_timed_detect && m_resultState != Alarm) {
        soft = 0;
    }
    // 4. Manual snapshot: consumed in any case.
    if (m_manualTrig != gDNum) {
        const int m = m_manualTrig;
        m_manualTrig = gDNum;
        // A detection this cycle has still to judge is judged at its own moment
        // (after ejection, on its own trigger): a snapshot neither judges it
        // early nor cancels its countdown.
        const bool owedToCycle = isDetecting() && m_resultState != Alarm && (m_pendingCams[maskOf(m)] & allCamerasMask());
        if (owedToCycle && mayTrigger(m, busy)) {
            OperationRecord::instance().InsertRecord(LanStr(1727).arg(DetectionName(m)));
        } else if (mayTrigger(m, busy)) {
            m_trigNumber = -(m + 1);
            noteCycleTime();
            m_manualCycle = true;
            if (m == 0)
                std::fill(std::begin(m_cavityNg), std::end(m_cavityNg), false);
            std::fill(std::begin(m_redetectLeft), std::end(m_redetectLeft), 0);
            if (mode() == 2)
                sideFromInputs(false);
            for (int c = 0; c < cameraCount(); ++c)
                m_saveState[c][m] = SaveState::Pending;
            // The snapshot judges what the cameras saw after the button was pressed.
            beginJudgement(m, Origin::Manual, m_manualFloor);
            publish();
            // In the alarm nothing else runs this tick; otherwise this tick's
            // inputs are still the machine's: an opening must start its cycle.
            if (m_resultState == Alarm)
                return;
        }
    }
    // 6.
    if (busy)
        return;
    for (int k = 0; k < 8; ++k) {
        const bool atOnce = edge[k] && m_in->edgeSeen(k);
        const bool trig = m_in->trigConfirmed[k] || k == m_nextTrig || k == soft || atOnce;
        if (!trig)
            continue;
        // Only the expected next input of the multi-detection order, no edge of
        // its own: it schedules the next detection and never opens a cycle.
        const bool onlyNext = k == m_nextTrig && !m_in->trigConfirmed[k] && k != soft && !atOnce;
        const bool bySet = extTrigger && k == 0 && k == soft;
        m_trigFloor = bySet ? extFloor : seqNow();
        if (bySet)
            m_extCycleMs = monoNow();
        m_in->trigConfirmed[k] = false;
        soft = -1;
        m_trigNumber = k + 1;
        bool starts = startsCycle(k);
        if (mode() == 4)
            starts = !P().multi_io_flag || (k == 0 && m_nextTrig == -1 && m_pendingCams[std::max(0, gDNum - 1)] == 0);
        if (starts && !onlyNext)
            newCycle(k);
        const bool go = schedule(k);
        if (onlyNext)
            m_nextTrig = -1;
        if (!go)
            break;
    }
}

bool DetectionCycle::newCycle(int k)
{
    if (m_skipActive) {
        ++m_skipCount;
        OperationRecord::instance().InsertRecord(LanStr(577).arg(m_skipCount));
        if (m_skipCount >= P().skip_detect_times) {
            m_skipActive = false;
            emit skipChanged(false);
        }
        // The operator chose to let these cycles run unjudged; without the
        // permission the machine would stand with the mould open.
        apply(outputrules::skipped(P()));
        publish();
        return false;
    }
    noteCycleTime();
    if (m_noInputShown) {
        m_noInputShown = false;
        emit noInputSignal(false);
    } else if (P().input_timeout_len > 0) {
        m_inCheck.start(P().input_timeout_len * 1000);
    }
    std::fill(std::begin(m_pendingCams), std::end(m_pendingCams), 0);
    // A snapshot still waiting for its pictures belonged to the moment before this opening.
    m_await.erase(std::remove_if(m_await.begin(), m_await.end(), [](const Await& a) { return a.origin == Origin::Manual; }),
                  m_await.end());
    m_manualCycle = false;
    gisSafeDoorOpen = 0;
    std::fill(std::begin(m_cavityNg), std::end(m_cavityNg), false);
    std::fill(std::begin(m_redetectLeft), std::end(m_redetectLeft), 0);
    if (mode() != 4 && !(P().enable_ok_ng_pulse || P().enable_mold_stop_not_alarm))
        m_redetectLeft[1] = std::max(0, P().front_auto_check_time);
    // The separate signal's input 3 starts the clamp's cycle: the mould alone.
    const bool clampCycle = mode() == 0 && P().separate_detect_signal && k == 2;
    for (int c = 0; c < cameraCount(); ++c) {
        for (int d = 0; d < gDNum && d < 8; ++d) {
            if (P().detect_enable[d] && !(clampCycle && d == 0))
                m_pendingCams[maskOf(d)] |= 1 << c;
            m_judged[c][d] = false;
            m_saveState[c][d] = SaveState::Pending;
        }
        m_camCycleOk[c] = true;
        m_cameraOk[c] = true;
        m_firstNgThisCycle[c] = false;
    }
    if (mode() != 4 && !P().enable_ok_ng_pulse) {
        apply(outputrules::cycleStart(P(), k, m_pendingCams[0] != 0));
        publish();
    } else if (mode() == 4 && !P().enable_ok_ng_pulse && m_pendingCams[lastDetection()]) {
        // The last detection drives output 1: whatever its group's kind pre-sets,
        // a new cycle is not yet judged, so the mould may not close.
        prohibitClamping();
        publish();
    }
    if (mode() == 2)
        m_sideSelect = k == 0 ? 1 : 0;
    return true;
}

void DetectionCycle::rearmMould()
{
    m_pendingCams[1] = 0;
    for (int c = 0; c < cameraCount(); ++c) {
        m_judged[c][1] = false;
        if (mode() == 1 || mode() == 2)
            m_judged[c][3] = false;
    }
    if (P().detect_enable[1] || ((mode() == 1 || mode() == 2) && P().detect_enable[3]))
        m_pendingCams[1] = allCamerasMask();
    apply(outputrules::rearm(P()));
    publish();
}

void DetectionCycle::startDetection(int d, int, int delay)
{
    if (delay > 0) {
        m_delayLeft[d] = delay / 10.0;
        m_up[d].start(100);
        m_chainDelay = delay;
        emit countdown(d, m_delayLeft[d]);
    } else {
        m_chainDelay = 0;
        m_delayLeft[d] = 0;
        TimerUp(d);
    }
}

bool DetectionCycle::schedule(int k)
{
    if (mode() == 4)
        return scheduleMulti(k);
    bool rearm = false;
    if (mode() == 1) {
        if (k == 2 && P().mold_side != 1) {
            m_sideSelect = 1;
            rearm = true;
        }
        if (k == 3 && P().mold_side != 0) {
            m_sideSelect = 0;
            rearm = true;
        }
    } else if (mode() == 2) {
        rearm = k == 2;
    } else if (P().semi_auto) {
        rearm = k == 2;
    }
    if (rearm)
        rearmMould();
    if (m_pendingCams[1] == 0)
        return true;
    // The mould waits after the part only when both start on this trigger.
    m_chainDelay = 0;
    const bool paired = mode() == 1 || mode() == 2;
    const int count = paired ? 2 : std::min(gDNum, 8);
    for (int n = 0; n < count; ++n) {
        const int d = paired ? (m_sideSelect ? n : n + 2) : n;
        if (!P().detect_enable[d] || m_up[d].isActive())
            continue;
        const int trig = P().detect_trig_input[n];
        bool start;
        if (mode() == 1)
            start = trig == k || (trig == 255 && k <= 3);
        else if (mode() == 2)
            start = trig == k || (trig == 255 && (k == 0 || k == 3));
        else
            start = (trig == k && m_pendingCams[maskOf(d)]) || n == m_forced;
        if (!start)
            continue;
        int delay = delayOf(d);
        if (n == m_forced) {
            m_forced = -1;
            m_chainDelay = 0;
        } else if (!paired && n >= 1 && !P().semi_auto && P().enable_prod_detect) {
            delay += m_chainDelay;
        }
        startDetection(d, n, delay);
        if (!isDetecting())
            break;
    }
    return true;
}

bool DetectionCycle::scheduleMulti(int k)
{
    const int count = std::clamp(gDNum, 1, 8);
    auto trig = [&](int d) { return P().detect_trig_input[d]; };
    auto group = [&](int d) { return d >= 0 && d < 8 ? P().multi_detect_row_b[d] : -1; };
    if (m_nextTrig == -1) {
        if (!P().multi_io_flag) {
            int first = -1;
            for (int d = 0; d < count && first < 0; ++d)
                if (trig(d) == k)
                    first = d;
            if (first < 0)
                return false;
            m_curDetect = first;
        } else {
            int next = -1;
            for (int d = m_curDetect + 1; d < count && next < 0; ++d)
                if (trig(d) >= 0)
                    next = d;
            if (next > 0 && trig(next) != k)
                return false;
        }
    }
    // Outputs pre-set by the group's kind.
    if (m_pendingCams[count - 1] != 0 && k <= count) {
        int target = m_curDetect;
        bool preset = true;
        if (P().multi_io_flag) {
            int nx = -1;
            for (int j = m_curDetect + 1; j < count && nx < 0; ++j)
                if (group(j) != -1)
                    nx = j;
            if (nx < 0)
                nx = 0;
            if (group(nx) == group(m_curDetect) && !(k == 0 && m_curDetect == count - 1)) {
                m_curDetect = nx;
                preset = false;
            } else {
                target = nx;
            }
        }
        if (preset) {
            apply(outputrules::multiPreset(P(), target, count));
            m_curDetect = target;
        }
    }
    for (int d = 0; d < count; ++d) {
        if (!P().detect_enable[d] || m_up[d].isActive() || trig(d) != k || !m_pendingCams[maskOf(d)])
            continue;
        m_curDetect = d;
        startDetection(d, d, delayOf(d));
        break;  // only the first matching detection starts
    }
    return true;
}

// --- delay and judgement ----------------------------------------------------------------------
void DetectionCycle::TimerUp(int d)
{
    if (d < 0 || d >= 8)
        return;
    const int pre = P().pre_cut_time;
    // Compared in whole tenths: the float countdown carries rounding errors.
    if (isMould(d) && pre >= 1 && pre <= 99 && pre >= qRound(10 * m_delayLeft[d]) && !P().enable_ok_ng_pulse) {
        prohibitClamping();
        publish();
    }
    if (m_delayLeft[d] > 0.11) {
        m_delayLeft[d] -= 0.1;
        emit countdown(d, m_delayLeft[d]);
        return;
    }
    // The moment of the detection: the end of its delay, or the trigger when it had none.
    beginJudgement(d, Origin::Timer, m_up[d].isActive() && !P().use_external_trigger ? seqNow() : m_trigFloor);
}

void DetectionCycle::beginJudgement(int d, Origin origin, quint64 floor)
{
    m_up[d].stop();
    m_delayLeft[d] = 0;
    emit countdown(d, 0);
    awaitFrames(d, origin, floor, allCamerasMask());
}

void DetectionCycle::awaitFrames(int d, Origin origin, quint64 floor, int cams)
{
    // Never a picture from before the detection's last moment: a triggered
    // camera's leftover from an earlier cycle may pair with a new one.
    if (d >= 0 && d < 8)
        floor = std::max(floor, m_judgedFloor[d]);
    // Asked again while waiting: the newer request (its moment, its cameras) stands.
    for (Await& a : m_await)
        if (a.d == d && a.origin == origin) {
            a = {d, origin, std::max(a.floor, floor), monoNow(), cams};
            judgeAwaiting();
            return;
        }
    m_await.append({d, origin, floor, monoNow(), cams});
    judgeAwaiting();
}

quint64 DetectionCycle::floorNow(int d) const
{
    // Never a picture from before the moment the detection was last judged at.
    const quint64 judged = d >= 0 && d < 8 ? m_judgedFloor[d] : 0;
    return std::max(judged, externalFloor());
}

quint64 DetectionCycle::externalFloor() const
{
    // Triggered cameras deliver one picture per machine trigger: the newest
    // ones are the moment's own.
    if (!P().use_external_trigger)
        return seqNow();
    quint64 oldest = seqNow();
    for (int c = 0; c < cameraCount(); ++c)
        if (CammerView* v = m_cams->view(c); v && v->frameSeq > 0)
            oldest = std::min(oldest, v->frameSeq - 1);
    return oldest;
}

void DetectionCycle::judgeAwaiting()
{
    while (!m_await.isEmpty()) {
        const Await a = m_await.first();
        const bool late = monoNow() - a.since >= kFreshFrameMs;
        int stale = 0;
        for (int c = 0; c < cameraCount(); ++c) {
            if (!(a.cams & (1 << c)))
                continue;
            CammerView* v = m_cams->view(c);
            if (!v || v->frameSeq <= a.floor)
                stale |= 1 << c;
        }
        // Triggered cameras: pictures far apart are of different machine triggers,
        // and the older is from before the newer's opening: never one set.
        if (P().use_external_trigger) {
            qint64 newest = -1;
            for (int c = 0; c < cameraCount(); ++c)
                if ((a.cams & ~stale & (1 << c)) && m_cams->view(c))
                    newest = std::max(newest, m_cams->view(c)->frameArrivedMs);
            for (int c = 0; c < cameraCount(); ++c)
                if ((a.cams & ~stale & (1 << c)) && newest - m_cams->view(c)->frameArrivedMs > kTriggerSetMs)
                    stale |= 1 << c;
        }
        if (stale && !late && !gisLost)
            return;  // the next tick may bring them
        m_await.removeFirst();
        m_judgedFloor[a.d] = std::max(m_judgedFloor[a.d], a.floor);
        m_staleCams = stale;
        finishJudgement(a);
        m_staleCams = 0;
        if (m_triggerAfterJudge && m_await.isEmpty() && m_resultState != Alarm)
            backToMachineTrigger();
    }
}

int DetectionCycle::judgedDetection(int d) const
{
    const bool paired = mode() == 1 || mode() == 2;
    return paired ? (d % 2) + (m_sideSelect == 0 ? 2 : 0) : d;
}

bool DetectionCycle::anyRegions(int d) const
{
    const int judgedD = judgedDetection(d);
    for (int c = 0; c < cameraCount(); ++c)
        if (CammerView* v = m_cams->view(c); v && v->para.roi_count[judgedD] > 0)
            return true;
    return false;
}

void DetectionCycle::finishJudgement(const Await& a)
{
    const int d = a.d;
    const bool judging = m_runState != Resampling;
    m_nothingChecked = judging && P().detect_enable[d] && !anyRegions(d);
    if (m_nothingChecked) {
        if (!(m_nothingRecorded & (1 << d))) {
            m_nothingRecorded |= 1 << d;
            OperationRecord::instance().InsertRecord(LanStr(1716).arg(DetectionName(d)));
        }
        emit nothingChecked(d, true);
    } else if (m_nothingRecorded & (1 << d) && judging) {
        m_nothingRecorded &= ~(1 << d);
        emit nothingChecked(d, false);
    }
    switch (a.origin) {
    case Origin::Timer:
    case Origin::Manual:
        for (int c = 0; c < cameraCount(); ++c)
            RunAlgorithm(c, d);
        afterTimerJudgement(a.origin == Origin::Manual);
        break;
    case Origin::ReCheck:
    case Origin::Redetect:
        for (int c = 0; c < cameraCount(); ++c)
            if (a.cams & (1 << c))
                RunAlgorithm(c, d);
        CheckNG();
        if (a.origin == Origin::ReCheck && m_resultState == Alarm)
            recordAlarmText(true);
        break;
    }
    m_nothingChecked = false;
}

void DetectionCycle::afterTimerJudgement(bool manual)
{
    if (m_runState == Resampling && !anyTemplateNeeded() && m_resultState != Editing) {
        finishResampling();
        return;
    }
    CheckNG();
    if (m_resultState == Alarm) {
        recordAlarmText(true);
        if (manual) {
            apply(outputrules::manualAlarm(P(), OutputNo(m_curDetect, gDNum)));
            publish();
        }
    } else if (alarmCameras().isEmpty() && roleOf(m_curDetect) == roleOf(lastDetection()) && !m_recheck &&
               P().enable_template_auto_update) {
        for (int c = 0; c < cameraCount(); ++c) {
            CammerView* v = m_cams->view(c);
            if (v && v->store && !v->frame().empty())
                v->store->SaveReTrainImage(1, v->frame().clone());
        }
        m_retrainMould = true;
    }
}

void DetectionCycle::RunAlgorithm(int c, int d)
{
    if (c < 0 || c >= 8 || d < 0 || d >= 8)
        return;
    const bool paired = mode() == 1 || mode() == 2;
    const int judgedD = judgedDetection(d);
    const int role = roleOf(d);
    m_curDetect = judgedD;
    m_pendingCams[paired ? role : maskOf(judgedD)] &= ~(1 << c);
    m_judged[c][judgedD] = true;
    CammerView* v = m_cams->view(c);
    if (v)
        m_judgedSeq[c] = std::max(m_judgedSeq[c], v->frameSeq);
    if (m_saveTestImages && v && !v->frame().empty()) {
        WriteBmp(QStringLiteral("./originalimage/cammer%1%2/template%3.bmp").arg(c + 1).arg(judgedD + 1).arg(m_testImageNo),
                 v->frame());
        m_testImageNo = (m_testImageNo + 1) % 200;
    }
    if (m_runState == Resampling) {
        if (v && v->store && m_needTemplate[c][judgedD] && !v->frame().empty()) {
            v->store->SaveReTrainImage(judgedD, v->frame().clone());
            m_needTemplate[c][judgedD] = false;
        }
        m_cameraOk[c] = true;
        return;
    }
    bool ok = true;
    const int regions = v ? std::clamp(v->para.roi_count[judgedD], 0, kMaxRoi) : 0;
    if (regions > 0) {
        const cv::Mat frame = v ? v->frame() : cv::Mat();
        if (!v || !v->recong || frame.empty() || gisLost) {
            // Regions to judge and no picture, no engine, or a picture from
            // before the cameras were lost: in doubt, so NG.
            OperationRecord::instance().InsertRecord(LanStr(1707).arg(c + 1));
            ok = false;
        } else if (m_staleCams & (1 << c)) {
            // The newest picture is older than the detection's moment.
            OperationRecord::instance().InsertRecord(LanStr(1715).arg(c + 1).arg(kFreshFrameMs));
            ok = false;
        } else {
            cv::Mat corrected, valid;
            v->recong->ShapeMatch(judgedD, frame, corrected, &valid);
            v->recong->Run(judgedD, corrected, m_trigNumber != 0, valid);
            ok = v->recong->cameraVerdict != 0;
        }
    }
    m_cameraOk[c] = ok;
    if (!ok) {
        const bool budget = m_redetectLeft[role] > 0;
        apply(outputrules::cameraNg(P(), judgedD, role, budget));
        if (v && v->recong) {
            if (!m_firstNgThisCycle[c] && !budget) {
                m_firstNgThisCycle[c] = true;
                for (int r = 0; r < regions; ++r)
                    if (!v->recong->regionVerdict[judgedD][r])
                        ++v->para.roi_ng_count[judgedD][r];
            }
            if (role == 0 && (P().enable_stop_not_alarm || P().enable_prod_ok_ng_output))
                for (int r = 0; r < regions; ++r)
                    if (!v->recong->regionVerdict[judgedD][r])
                        m_cavityNg[std::clamp(v->para.roi[judgedD][r].output_point, 0, 3)] = true;
            if (m_saveState[c][judgedD] == SaveState::Pending && !budget && !v->frame().empty())
                gNgRing[c][judgedD].add(v->frame());
        }
    }
    publish();
    emit judged(c, judgedD, ok);
}

void DetectionCycle::CheckNG()
{
    if (m_resultState == Editing)
        return;
    const int d = m_curDetect;
    const int role = roleOf(d);
    const int last = lastDetection();
    const bool isLast = mode() == 4 ? d == last : role == 1;
    const bool pulse = P().enable_ok_ng_pulse != 0;
    const bool net = P().enable_cnt_net != 0;
    const QList<int> ngCams = alarmCameras();
    const bool ng = !ngCams.isEmpty();
    for (int c : ngCams)
        m_camCycleOk[c] = false;
    if (ng && m_manualCycle)
        m_manualAlarm = true;
    const bool budget = m_redetectLeft[role] > 0;

    // 2. The trigger's statistics.
    if (!budget && m_trigNumber != 0) {
        if (net) {
            m_reports.send(&CycleReports::sendStatisticsOnce, ng, m_trigNumber);
        }
        m_trigNumber = 0;
        g_listParamROI.clear();
    }
    // 3. An NG that stays.
    if (ng && !budget && net) {
        if (P().cnt_video_source && P().cnt_ng_video) {
            m_reports.send(&CycleReports::sendSaveNgVideo, 1, 1);
        }
        int ngRegions = 0;
        for (int c : ngCams) {
            CammerView* v = m_cams->view(c);
            if (!v || !v->recong)
                continue;
            for (int r = 0; r < std::clamp(v->para.roi_count[d], 0, kMaxRoi); ++r)
                if (!v->recong->regionVerdict[d][r]) {
                    ++ngRegions;
                    m_reports.send(&CycleReports::addStatisticsItem, c, d, r);
                }
        }
        if (P().cnt_tel_msg) {
            m_reports.send(&CycleReports::sendTelInfo, role, ngRegions);
        }
        m_reports.send(&CycleReports::sendStatistics, "null");
    }
    // 4. Outputs by verdict.
    const int group = P().multi_detect_row_b[d];
    const int groupKind = group >= 0 && group < 8 ? P().reserved_sys11_a[group] : 2;
    // A detection that judged no region vouches for nothing.
    if (pulse) {
        apply(outputrules::pulseVerdict(P(), ng));
        publish();
    } else if (!ng) {
        if (mode() == 4) {
            const int out = OutputNo(d, gDNum) - 1;
            apply(outputrules::multiVerdict(false, out + 1, groupKind, !m_nothingChecked));
            if ((groupKind == 3 || groupKind == 4) && P().mold_pulse > 0) {
                m_func4Output = out;
                m_outFunc4.start(P().mold_pulse * 100);
            }
            if (!m_manualCycle) {
                int next = -1;
                for (int j = d + 1; j < gDNum && next < 0; ++j)
                    if (P().detect_trig_input[j] >= 0)
                        next = j;
                m_nextTrig = next >= 0 && P().detect_trig_input[next] == P().detect_trig_input[d]
                                 ? P().detect_trig_input[d] : -1;
            }
        } else {
            apply(outputrules::verdict(P(), role, false, !m_nothingChecked && !m_resampledVerdict));
        }
        m_recheck = false;
        publish();
    } else if (mode() == 4) {
        apply(outputrules::multiVerdict(true, OutputNo(d, gDNum), groupKind, false));
    }
    // 5. Alarm decision.
    const bool stops = stopsOnNg(role);
    if (!pulse) {
        if (ng && stops && m_resultState != Alarm) {
            if (budget && mode() != 4)
                m_recheck = true;
            else
                enterAlarm();
            m_alarmSince = QDateTime::currentMSecsSinceEpoch();
        } else if (!ng && stops && m_resultState == Alarm) {
            clearAlarm(role);
        }
    }
    // 6. Result display.
    if (m_resultState != Alarm && m_resultState != Editing && !gisSettingsOpen && !(ng && stops)) {
        m_resultState = Shown;
        emit resultStateChanged(m_resultState);
        m_showDetect = d;
        m_show.start(2000);
        LEDOnOff(6, pulse && ng ? 0 : 1);
        LEDOnOff(7, pulse && ng ? 1 : 0);
    }
    // 7. Pulses after the verdict.
    if (mode() != 4 && !pulse) {
        apply(outputrules::afterVerdict(P(), role, ng, m_cavityNg));
        publish();
    }
    // 8. Image-save states of this detection.
    const bool nonStopping = !stops || pulse;
    for (int c = 0; c < cameraCount(); ++c) {
        int& st = m_saveState[c][d];
        CammerView* v = m_cams->view(c);
        const bool ok = m_cameraOk[c];
        auto render = [&](int slot) {
            if (v && v->recong && !v->frame().empty())
                SaveFailImage(c, d, slot, v->frame(), v->para, *v->recong, P(), m_doorCycle);
            if (gisUseStatistics) {
                m_reports.send(&CycleReports::statisticsAdd, QTime::currentTime().hour(), ok, c, d);
            }
        };
        if (st == SaveState::Pending) {
            if (ok) {
                if (gPicNumOK <= 0 || (d == 0 && !P().save_ok_record)) {
                    st = SaveState::None;
                } else {
                    st = SaveState::SaveOk;
                    render(1);
                }
            } else if (gPicNumNG <= 0) {
                st = SaveState::None;
            } else if (!budget) {
                st = nonStopping ? SaveState::SaveNg : SaveState::NgHeld;
                render(0);
            }
        } else if (st >= SaveState::NgDontDetect && st <= SaveState::NgSwitchedToMould) {
            st = UpdateFailImage(c, d, 0, st);
        } else if (st == SaveState::NgRedetecting) {
            if (ok) {
                UpdateFailImage(c, d, 0, SaveState::NgRedetecting);
                render(1);
                st = UpdateFailImage(c, d, 1, SaveState::NgRedetectedOk);
            } else {
                st = SaveState::NgHeld;
            }
        }
    }
    // 9. Save flags for the writer; the counters after a good last detection.
    if (!(ng && !pulse && !P().enable_stop_not_alarm && !P().enable_mold_stop_not_alarm && !P().enable_prod_ok_ng_output)) {
        for (int c = 0; c < cameraCount(); ++c)
            for (int dd = 0; dd < 8; ++dd) {
                int& st = m_saveState[c][dd];
                if (st == SaveState::SaveOk || st == SaveState::SaveNg || st == SaveState::SaveBoth) {
                    MarkForSaving(c, dd, st != SaveState::SaveOk, st != SaveState::SaveNg);
                    st = SaveState::None;
                }
            }
        if ((!ng || pulse) && isLast) {
            if (net) {
                m_reports.send(&CycleReports::sendStatistics, "null");
            }
        }
    }
    // 10. Production counters.
    if (isLast) {
        if (isDetecting() && !m_doorCycle && !m_manualCycle && !m_startCycle) {
            for (int c = 0; c < cameraCount(); ++c) {
                ++gAllNum[c];
                if (!m_camCycleOk[c])
                    ++gFailNum[c];
            }
            // Every cycle on disk, NG ones too: a power cut loses at most the cycle in flight.
            CountWrite();
            emit countersChanged();
        }
        if (isDetecting() || !ng) {
            m_doorCycle = false;
            m_manualCycle = false;
            m_startCycle = false;
        }
    }
    // 11.
    if (net)
        g_listParamROI.clear();
}

void DetectionCycle::TimerShow()
{
    if (m_resultState == Alarm) {
        for (int d = 0; d < 8; ++d)
            emit countdown(d, 0);
    } else {
        LEDOnOff(6, 1);
        LEDOnOff(7, 1);
        if (!m_recheck && m_showDetect == m_curDetect && gDNum > 0) {
            int next = (m_curDetect + 1) % gDNum;
            if (mode() != 4 && !P().enable_prod_detect && next % 2 == 0)
                next = (next + 1) % gDNum;
            m_curDetect = next;
        }
        if (m_resultState == Shown) {
            m_resultState = Idle;
            emit resultStateChanged(m_resultState);
        }
    }
    if (m_retrainMould) {
        m_retrainMould = false;
        for (int c = 0; c < cameraCount(); ++c)
            if (CammerView* v = m_cams->view(c); v && v->recong) {
                v->recong->CreateShape(1);
                v->recong->VarTrain(1);
            }
    }
}

// --- starting and stopping ---------------------------------------------------------------------
void DetectionCycle::StartDetect()
{
    // Starting anew ends a kept alarm, unless it still waits to be entered again.
    if (m_restoredAlarm.isEmpty())
        QFile::remove(alarmStateFile());
    if (paramdb::acknowledgeFactoryRestore())
        OperationRecord::instance().InsertRecord(LanStr(1720));
    // Nothing of the cycle before carries over into a start.
    m_manualTrig = gDNum;
    m_doorCycle = m_startCycle = m_manualCycle = false;
    enterDetecting(true);
}

void DetectionCycle::enterDetecting(bool judgeOpenMould, bool publishNow)
{
    // A start is not a verdict: the mould stays shut until it is judged.
    outputrules::Change c = outputrules::start(P());
    // A kept alarm about to come back: its outputs from the first word on, so that
    // neither the lamp goes out nor the ejector is given back for a moment.
    if (!m_restoredAlarm.isEmpty() && !P().enable_ok_ng_pulse) {
        bool ok = false;
        const int d = m_restoredAlarm.section(' ', 0, 0).toInt(&ok);
        c += outputrules::restoredAlarm(P(), ok && d >= 0 && d < 8 ? roleOf(d) : int(outputrules::Mould));
    }
    apply(c);
    if (publishNow)
        publish();
    m_resultState = Idle;
    m_recheck = false;
    m_await.clear();
    m_nextTrig = -1;
    m_forced = -1;
    m_extMask = 0;
    // A start ends the alarm: cameras free-running for it take the machine's trigger
    // again (once the mould standing open is judged on their picture: no trigger
    // would come for it), and no edge after it is taken for an opening already seen.
    m_extCycleMs = -1;
    if (judgeOpenMould && P().freeRunningForAlarm)
        m_triggerAfterJudge = true;
    else
        backToMachineTrigger();
    // A latched IO fault is the operator's to end, by starting anew.
    if (m_faultLatched) {
        m_faultLatched = false;
        m_outputFault = false;
        m_faultEndedMs = 0;
    }
    // A pulse of the last cycle must not end in a permission after a start.
    m_outClose.stop();
    m_outFunc4.stop();
    std::fill(std::begin(m_redetectLeft), std::end(m_redetectLeft), 0);
    ResetRun();
    m_runState = Detecting;
    emit resultStateChanged(m_resultState);
    emit runStateChanged(m_runState);
    // The mould may be open now: the first tick with the board's inputs looks.
    m_judgeIfOpen = judgeOpenMould && !P().enable_ok_ng_pulse;
}

// The mould is open at a start: it is judged at once, as after an opening (not counted).
void DetectionCycle::judgeOpenMouldNow()
{
    const int last = lastDetection();
    // The side standing open now, not the one of the last run.
    if (mode() == 1 || mode() == 2)
        sideFromInputs(mode() == 1);
    m_pendingCams[maskOf(last)] |= allCamerasMask();
    for (int c = 0; c < cameraCount(); ++c)
        m_saveState[c][last] = SaveState::Pending;
    m_startCycle = true;
    beginJudgement(last, Origin::Timer, seqNow());
}

void DetectionCycle::DetectionsChanged()
{
    m_await.clear();
    std::fill(std::begin(m_pendingCams), std::end(m_pendingCams), 0);
    m_curDetect = P().machine_mode == 4 ? std::max(0, gDNum - 1) : (P().enable_prod_detect ? 0 : 1);
    m_manualTrig = gDNum;
    m_nextTrig = -1;
    ResetRun();
}

void DetectionCycle::ResetRun()
{
    for (int c = 0; c < 8; ++c) {
        m_cameraOk[c] = true;
        if (CammerView* v = m_cams ? m_cams->view(c) : nullptr; v && v->recong) {
            v->recong->cameraVerdict = 1;
            for (int d = 0; d < 8; ++d)
                for (int r = 0; r < kMaxRoi; ++r)
                    v->recong->regionVerdict[d][r] = 1;
        }
    }
    for (int d = 0; d < 8; ++d)
        m_delayLeft[d] = 0;
    std::fill(std::begin(m_cavityNg), std::end(m_cavityNg), false);
}

void DetectionCycle::StopDetect()
{
    apply(outputrules::stop(P()));
    publish();
    stopCycle();
}

void DetectionCycle::stopCycle()
{
    if (mode() == 4) {
        std::fill(std::begin(m_pendingCams), std::end(m_pendingCams), 0);
        m_curDetect = std::max(0, gDNum - 1);
    }
    m_nextTrig = -1;
    SetStopDetect();
}

void DetectionCycle::SetStopDetect()
{
    if (mode() == 0 || mode() == 3)
        m_pendingCams[m_curDetect != 0 ? 1 : 0] = 0;
    else if (mode() == 1 || mode() == 2)
        m_pendingCams[m_curDetect % 2] = 0;
    for (int n = 0; n < gDNum && n < 8; ++n) {
        if (m_up[n].isActive())
            m_up[n].stop();
        m_delayLeft[n] = 0;
    }
    m_await.clear();
    m_recheck = false;
    m_runState = Stopped;
    emit runStateChanged(m_runState);
}

void DetectionCycle::InCheck()
{
    prohibitClamping();
    publish();
    m_inCheck.stop();
    OperationRecord::instance().InsertRecord(LanStr(335));
    m_noInputShown = true;
    emit noInputSignal(true);
}

// --- output timers ----------------------------------------------------------------------------
void DetectionCycle::OutTimerNotAllowClose()
{
    m_outClose.stop();
    apply(outputrules::clampPulseEnd(P(), m_runState == Stopped));
    publish();
}

void DetectionCycle::OutTimerNotAllowThimble()
{
    m_outThimble.stop();
    apply(outputrules::thimblePulseEnd(P(), m_runState == Stopped));
    publish();
}

void DetectionCycle::OutTimerOutNG()
{
    m_outNg.stop();
    apply(outputrules::ngPulseEnd(P()));
    publish();
}

void DetectionCycle::OutTimerSysFunc4Output()
{
    m_outFunc4.stop();
    if (mode() == 4 && m_func4Output >= 0) {
        apply(outputrules::Change().on(m_func4Output + 1));
        publish();
        m_func4Output = -1;
    }
}

void DetectionCycle::SlotTImerSafeDoor() { m_safeDoor.stop(); }

void DetectionCycle::SlotFPS()
{
    if (m_runState == Stopped) {
        LEDOnOff(5, 1);
    } else {
        m_led5 = !m_led5;
        LEDOnOff(5, m_led5 ? 1 : 0);
    }
    m_cams->SupervisionTick();
}

void DetectionCycle::IoConfigChanged()
{
    ProhibitNow();
    m_judgeIfOpen = !P().enable_ok_ng_pulse;
}

void DetectionCycle::ProhibitNow()
{
    prohibitClamping();
    publish();
}
