#include "StationCore.h"

#include "CNT_Net.h"
#include "CameraSet.h"
#include "CammerSingleton.h"
#include "CameraDevice.h"
#include "ControlPort.h"
#include "Counters.h"
#include "DetectCycleSQL.h"
#include "Detection.h"
#include "DetectionCycle.h"
#include "Globals.h"
#include "Host.h"
#include "ImageArchive.h"
#include "ImageLib.h"
#include "InputSampler.h"
#include "Logs.h"
#include "Messages.h"
#include "MindCamera.h"
#include "Myxls.h"
#include "OperationRecord.h"
#include "Panel.h"
#include "ParaFields.h"
#include "ParaGroups.h"
#include "ParamDb.h"
#include "Access.h"
#include "ResStatistics.h"
#include "ServiceNotify.h"
#include "SimCamera.h"
#include "StartupFiles.h"
#include "Termination.h"
#include "UserManager.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSoundEffect>
#include <QThread>
#include <QtDebug>
#include <climits>
#include <cstring>
#include <memory>

namespace {
// ./cnt_net/xls is the exporter installed beside the station program.
void linkExporter()
{
    const QString exporter = QCoreApplication::applicationDirPath() + "/station-cycle-xls";
    const QFileInfo link("cnt_net/xls");
    if (!QFileInfo::exists(exporter) || (link.isSymLink() && link.symLinkTarget() == exporter))
        return;
    if (link.exists() && !link.isSymLink())
        return;  // an exporter of this station's own
    QDir().mkpath("cnt_net");
    QFile::remove("cnt_net/xls");
    if (!QFile::link(exporter, "cnt_net/xls"))
        qWarning() << "the cycle-log exporter cannot be linked as ./cnt_net/xls";
}
} // namespace

StationCore::StationCore(QObject* parent) : QObject(parent) {}

StationCore::~StationCore()
{
    WizardPara::retrainHook = nullptr;
    UserManager::instance().showMessage = nullptr;
    OperationRecord::instance().setAccount({});
    if (m_archive)
        m_archive->stop();
    releaseRecords();
}

void StationCore::tell(const QString& text, bool waitForOk)
{
    // The start-up's progress box is the same box: a note given meanwhile
    // would vanish with it, so it waits until the start is done.
    if (!waitForOk && m_holdNotes) {
        m_heldNotes << text;
        return;
    }
    if (side.tell)
        side.tell(text, waitForOk);
    else
        qWarning().noquote() << "operator message:" << text;
}

void StationCore::bringUp()
{
    forgetCounts();
    const startup::UpdateOutcome update = startup::runUpdateOnce();

    // A question may wait for the operator from here on, as long as it takes:
    // the supervisor hears we are up, and the watchdog is fed from the event
    // loop the question runs until the cycle's tick does it.
    servicenotify::ready(QStringLiteral("starting"));
    if (const qint64 ping = servicenotify::watchdogIntervalMs(); ping > 0) {
        m_startPing.setInterval(int(ping));
        connect(&m_startPing, &QTimer::timeout, this, [] { servicenotify::watchdogTick(); });
        m_startPing.start();
    }
    // A parameter-group restore cut short by a power loss is finished before anything is read.
    paragroups::finishPendingRestore();
    // So is a record day change: the record must be whole before it is checked.
    OperationRecord::instance().finishDayChange();
    openDatabases();
    loadParameters();
    // The record is open from here: what happened before it can be written.
    if (update.ran && !update.ok)
        InsertRecord(LanStr(1702).arg(update.keptAs));
    if (!m_unusableDatabases.isEmpty()) {
        const QString files = m_unusableDatabases.join(", ");
        InsertRecord(LanStrEn(1701).arg(files));
        qCritical() << "databases unusable with no usable factory copy:" << files;
    }

    // Language is known from here on.
    static std::unique_ptr<LogManager> log;
    log.reset();
    log.reset(new LogManager(gAppDirPath));
    LogManager::enabled = gpWPara->enable_log != 0;
    qDebug() << "application start";

    if (gpWPara->machine_mode == 4)
        m_expectDetect = gDNum - 1;
    else
        m_expectDetect = gpWPara->enable_prod_detect ? 0 : 1;

    findCameras();
    if (side.progress) {
        side.progress(LanStr(133), LanStr(121));
        m_holdNotes = true;
    }

    // The IO board link: its first word, published before anything else,
    // prohibits clamping in the mode's own lines.
    m_io = new ControlPort(ControlPort::configFrom(*gpWPara), ControlPort::portName(gpWPara->serial_port), this);
    gpControlIO = m_io;
    // An alarm the last run died in sounds from the first word on, not only
    // once the cycle restores it; and the ejector the alarm may have held
    // stays held until the cycle has restored it and decided.
    if (QFile::exists(DetectionCycle::alarmStateFile())) {
        m_io->IOSetOut(2, 1);
        m_io->IOSetOut(1, 1);
    }
    m_io->IOFlashOut();
    m_inputs = new InputSampler(m_io, this);
    m_inputs->setShakeEraseTime(gpWPara->shake_erase_time);

    // The eight camera widgets' camera side: devices, regions, templates.
    m_cameras = new CameraManager(this);
    m_cameras->detecting = [this] { return isDetecting(); };
    m_cameras->prohibitClamping = [this] { prohibitClamping(); };
    m_cameras->flushAll = [this] { FLushAll(); };
    connect(m_cameras, &CameraManager::cameraLost, this, &StationCore::cameraLost);
    connect(m_cameras, &CameraManager::camerasRecovered, this, &StationCore::camerasRecovered);
    connect(m_cameras, &CameraManager::serialsNotSaved, this, [this] { tell(LanStr(1700)); });
    m_cameras->BuildViews(*gpWPara);
    // Detections derived anew in mode 4 (the IO table confirmed) get their templates retrained.
    WizardPara::retrainHook = [cams = m_cameras](int c, int d) {
        if (CammerView* v = cams->view(c); v && v->recong) {
            v->recong->CreateShape(d);
            v->recong->VarTrain(d);
        }
    };
    // Replayed pictures are cameras the operator asked for: no question.
    m_cameras->CheckCameraCount(m_replay, [this](const QString& q) { return side.ask ? side.ask(q) : 0; });

    m_alarmSource = QUrl::fromLocalFile(QDir::current().absoluteFilePath("alarm.wav"));
    QFile wav("alarm.wav");
    if (!wav.open(QIODevice::ReadOnly) || wav.read(4) != "RIFF")
        qWarning() << "alarm.wav is missing or not a WAV file; alarms will be silent";

    startup::ensureFolders(numCamera);
    buildCycle();
    buildServiceLink();
    buildRecords();
}

void StationCore::run()
{
    OperationRecord::instance().loadRecordDate();
    m_startMs = QDateTime::currentMSecsSinceEpoch();
    connect(&m_dateCheck, &QTimer::timeout, this, &StationCore::SlotCheckDate);
    SlotCheckDate();

    // The clock before any judgement: while the operator is asked, nothing runs.
    const bool clockKnownGood = checkSystemTime();
    if (gDatabaseFault)
        qCritical() << "a database cannot be used; detection stays stopped and clamping prohibited";
    else if (gRebootPending)
        qWarning() << "a database was restored or the clock set; detection stays stopped until the station restarts";
    else if (!clockKnownGood)
        qWarning() << "the clock is not known to be good; detection stays stopped";
    else if (paramdb::factoryRestored()) {
        // No regions and factory values: nothing guards the mould until the operator has seen it.
        InsertRecord(LanStr(1719));
        tell(LanStr(1719), false);
    } else if (!stationTerminating())
        StartDetect();
    if (gpWPara->is_cut_ontime && gpWPara->mold_pulse > 0)
        prohibitClamping();

    m_dateCheck.start(60000);
    InsertRecord(LanStr(150).arg(numCamera));
    const QString installed = startup::takeUpdateResult();
    if (!installed.isEmpty())
        InsertRecord(LanStr(1431).arg(installed));
    // The launcher ran the packaged program because the update could not run.
    QFile fallback("launch-fallback.txt");
    if (fallback.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QStringList reasons = QString::fromLocal8Bit(fallback.readAll()).split('\n', Qt::SkipEmptyParts);
        for (const QString& why : reasons)
            InsertRecord(LanStr(1725).arg(why.trimmed()));
        fallback.close();
        fallback.remove();
    }
    if (isDetecting() && startup::confirmUpdate())
        InsertRecord(LanStr(1432));
    // Up, whether detecting or held stopped with clamping prohibited: the
    // supervisor must not restart a station that shows a fault.
    servicenotify::status(isDetecting() ? QStringLiteral("detecting") : QStringLiteral("stopped, clamping prohibited"));
    if (gCameraID == kKindMind) {
        char version[64] = {};
        MindSdkVersion(version, sizeof version);
        InsertRecord(QString::fromLatin1(version));
    }
    CountRead();
    m_startPing.stop();
    // The polling tick after 5 ms, the supervision (frame rate, stall check) every second.
    m_cycle->begin();
    m_cameras->ApplySpeed();
    startServiceLink();
    if (side.progressDone)
        side.progressDone();
    m_holdNotes = false;
    if (!m_heldNotes.isEmpty())
        tell(m_heldNotes.join(QStringLiteral("\n\n")), false);
    m_heldNotes.clear();
}

void StationCore::openDatabases()
{
    paramdb::openAll([this](int message) { tell(LanStrEn(message)); }, &m_unusableDatabases);
    // No factory copy to restore: a reboot would only come back here, so the
    // operator is told and the station stays stopped instead.
    if (!m_unusableDatabases.isEmpty())
        tell(LanStrEn(1701).arg(m_unusableDatabases.join(", ")));
}

void StationCore::loadParameters()
{
    if (!gpWPara)
        gpWPara = new WizardPara;
    gpWPara->LoadDatafromFile();
    if (!gpWParaBak)
        gpWParaBak = new WizardPara;
    gpWPara->save_ok_record = 1;
    gisUseStatistics = gpWPara->enable_statistics;
    gTempNum = gpWPara->max_mold_num;
    gPicNumNG = gpWPara->ng_max_num;
    gPicNumOK = gpWPara->ok_record_max_num;
    gisCOM = gpWPara->serial_port;
    gisGrayHue = gpWPara->enable_gray_channel;
    gisCut = 1 - gpWPara->prohibit_optimize;
    gisColor = gpWPara->enable_color_camera;
    gUseExternalTrigger = gpWPara->use_external_trigger;
}

void StationCore::findCameras()
{
    CheckCameraID();
    gShowAW = gImageW ? float(gShowW) / gImageW : 1.0f;
    gShowAH = gImageH ? float(gShowH) / gImageH : 1.0f;
    SetImageBounds(gImageW, gImageH);
    m_replay = !SimCamera::replaySource().isEmpty();
}

bool StationCore::checkSystemTime()
{
    const qint64 stored = startup::readRealyTime();
    if (!startup::systemTimeSuspect(QDateTime::currentMSecsSinceEpoch(), stored))
        return true;
    tell(LanStr(1000));
    InsertRecord(LanStr(1001));
    StopDetect();
    prohibitClamping();
    InsertRecord(LanStr(141));
    LEDOnOff(4, 0);
    QDateTime chosen;
    if (side.chooseTime && side.chooseTime(&chosen)) {
        platform::Host& host = platform::Host::instance();
        // A clock that was not set is not a known-good time: nothing is
        // stored, nothing recorded as changed, and detection stays stopped.
        if (!host.setTime(chosen) || !host.hwclockSysToHc()) {
            tell(LanStr(1703));
            InsertRecord(LanStr(1704));
            return false;
        }
        if (stored == 0)
            startup::writeRealyTime(chosen.toMSecsSinceEpoch());
        InsertRecord(LanStr(401));
        gpWPara->SaveDatatoFile();
        StopWTD();
        FLushAll();
        QThread::sleep(1);
        host.reboot();
        gRebootPending = true;
    } else {
        InsertRecord(LanStr(1002));
    }
    return false;
}

void StationCore::FLushAll()
{
    if (countsKnown())
        CountWrite();
    paramdb::closeAll();
    QThread::msleep(500);
}

void StationCore::endForRestart()
{
    if (m_cycle)
        m_cycle->haltForExit();
    ControlPort::unwatchTick();
    if (m_io && !m_io->publishLastWord(150))
        qWarning() << "the board did not report the prohibiting word before the end";
    servicenotify::stopping();
    InsertRecord(LanStr(1724));
    if (gpWPara && !gDatabaseFault)
        gpWPara->SaveDatatoFile();
    if (m_archive)
        m_archive->stop();
    StopWTD();
    FLushAll();
}

bool StationCore::InsertRecord(const QString& text) { return OperationRecord::instance().InsertRecord(text); }
void StationCore::SlotCheckDate() { OperationRecord::instance().SlotCheckDate(); }

void StationCore::buildCycle()
{
    // Pictures of an earlier run keep their numbers; the writer never runs on this thread.
    std::memset(gisSaveFail, 0, sizeof gisSaveFail);
    std::memset(gFailIndex, 0, sizeof gFailIndex);
    m_archive = new SaveFialImageThread(numCamera, gPicNumNG, gPicNumOK, this);
    m_archive->start(QThread::InheritPriority);

    m_cycle = new DetectionCycle(m_io, m_inputs, m_cameras, gpWPara, this);
    m_cycle->setArchive(m_archive);
    // Queued: the box waits for the operator, the verdict that raised it has ended.
    connect(m_cycle, &DetectionCycle::sigROINGWarm, this, &StationCore::SlotROINGWarm, Qt::QueuedConnection);
    connect(m_cycle, &DetectionCycle::alarmEntered, this, [this] { SoundAlarm(true); });
    connect(m_cycle, &DetectionCycle::alarmCleared, this, [this] { SoundAlarm(false); });
    installOperatorHooks();

    // The result statistics exist only when switched on at start-up.
    if (gisUseStatistics) {
        auto* stats = new ResStatisticsParam({}, this);
        gpResStatisticsParam = stats;
        if (!stats->usable()) {
            InsertRecord(LanStr(1890).arg(stats->error()));
            tell(LanStr(1890).arg(stats->error()), false);
        }
        const auto archiveFailed = [this](const QString& day, const QString& target) {
            InsertRecord(LanStr(1891).arg(day, target));
            tell(LanStr(1891).arg(day, target), false);
        };
        connect(stats, &ResStatisticsParam::archiveFailed, this, archiveFailed);
        // The start's own day change may have failed already.
        if (!stats->archiveProblem().isEmpty())
            archiveFailed(stats->dayName(), stats->archiveProblem());
        m_cycle->reports().statisticsAdd = [stats](int hour, bool ok, int camera, int detection) {
            stats->Add(hour, ok, camera, detection);
        };
    }
}

void StationCore::installOperatorHooks()
{
    UserManager& users = UserManager::instance();
    // The accounts of this working directory, logged out.
    users.closeDatabase();
    users.connectDatabase();
    users.showMessage = [this](const QString&, const QString& text) { tell(text); };
    // Who did it: the account after the password level.
    OperationRecord::instance().setAccount([] { return UserManager::instance().currentName(); });
    OperatorHooks& h = m_cycle->hooks();
    h.checkPassword = [this] { return CheckPassword(); };
    h.passwordDialog = [this] { return side.password && side.password(true) == 2; };
    h.ask = [this](const QString& text) { return side.ask && side.ask(text) == 1; };
    h.warn = [this](const QString& text) { tell(text); };
    // Rights follow the logged-in account; logged out holds the operators' (the least).
    h.permission = [](int right) { return UserManager::instance().CheckPermission(right); };
    h.pagesOpen = [] { return gisSettingsOpen.load(); };
    h.shownCamera = [] { return numCamera == 1 ? 0 : -1; };
}

void StationCore::buildServiceLink()
{
    m_net = new CNT_Net(this);
    if (!m_net->initialised())
        return;
    CNT_Net* net = m_net;
    NetSources& s = net->sources;
    s.state = [this] {
        const int r = m_cycle->runState();
        return r == DetectionCycle::Detecting ? 0 : r == DetectionCycle::Stopped ? 1 : 2;
    };
    s.stateText = [state = s.state] { return CNT_Net::stateText(state()); };
    s.cycleTenths = [this] { return m_cycle->cycleTenths(); };
    s.cameras = [] { return numCamera; };
    s.allNum = [](int c) { return c >= 0 && c < 8 ? gAllNum[c] : 0u; };
    s.failNum = [](int c) { return c >= 0 && c < 8 ? gFailNum[c] : 0u; };
    s.serial = [](int c) { return c >= 0 && c < kMaxCameras ? QString::fromLatin1(gSerialNB[c]) : QString(); };
    s.regions = [this](int c) -> const CammerSingleton* {
        CammerView* v = m_cameras->view(c);
        return v ? &v->para : nullptr;
    };
    s.frame = [this](int c) {
        CammerView* v = m_cameras->view(c);
        return v && v->opened() ? v->frame() : cv::Mat();
    };
    s.screen = [this] { return side.screen ? side.screen() : QImage(); };

    // Hooks of objects that outlive this station hold the link weakly.
    const QPointer<CNT_Net> weak(net);
    OperationRecord::instance().setForwarder([weak](const QString&, const QString& level, const QString& text) {
        if (weak)
            weak->CNT_SendRecord(QDateTime::currentDateTime(), level, text);
    });
    WizardPara::savedHook = [weak] {
        if (weak)
            weak->CNT_SendParam();
    };
    CammerSingleton::savedHook = [weak](const CammerSingleton& saved) {
        for (int d = 0; weak && d < 8; ++d)
            if (saved.roi_count[d] > 0)
                weak->CNT_SendROIParam(saved, d);
    };

    CycleReports& r = m_cycle->reports();
    r.sendStatisticsOnce = [net](bool ng, int trigger) { net->CNT_SendStatistics_Once(g_listParamROI, ng, trigger); };
    r.sendSaveNgVideo = [net](int camera, int ng) { net->CNT_SendSaveNgVideo(camera, ng); };
    r.sendTelInfo = [net](int role, int regions) { net->CNT_SendTelInfo(role, regions); };
    r.addStatisticsItem = [net](int c, int d, int region) { net->ChkandAddStaticticsItem(c, d, region); };
    r.sendStatistics = [net](const QString& what) { net->CNT_SendStatistics(what); };
    r.addNgTimes = [net](qint64 ms) { net->CNT_AddNgTimes(int(std::min<qint64>(ms, INT_MAX))); };
    r.sendCancel = [net] {
        net->cancelMethod = 0;
        net->CNT_SendCancle();
    };
    r.sendManualStop = [net] { net->CNT_SendManualStop(); };

    // The archive writes on its own thread; the report is built on ours.
    m_archive->written = [net](const QString& path) {
        if (QFileInfo(path).dir().dirName() != QLatin1String("NG"))
            return;
        QMetaObject::invokeMethod(net, [net, path] {
            net->CNT_SendAlarmPic(path);
            net->CNT_SendStatistics("./" + QDir::current().relativeFilePath(path));
        }, Qt::QueuedConnection);
    };
    for (int c = 0; c < m_cameras->viewCount(); ++c) {
        CammerView* v = m_cameras->view(c);
        if (!v || !v->store)
            continue;
        v->store->announceSaved = [net](const QString& path) { net->CNT_SendTempPic(path); };
        v->store->announceDeleted = [net](int camera, int d, const QString& name) {
            net->CNT_SendDelTempPic(camera, d, name);
        };
    }
}

void StationCore::startServiceLink()
{
    if (!m_net || !m_net->initialised() || !gpWPara->enable_cnt_net)
        return;
    if (gpWPara->cnt_video_source == 2)
        for (int c = 0; c < m_cameras->viewCount(); ++c)
            if (m_cameras->view(c) && m_cameras->view(c)->opened())
                m_net->CNT_AddUseMemory(c, gImageW, gImageH, true);
    m_net->CNT_FirstInit();
    m_net->restartClient("(start init) 'NetClinet' will restart...");
}

void StationCore::buildRecords()
{
    linkExporter();
    if (gisUseStatistics && !gpMyxls)
        gpMyxls = new Myxls;
    m_cycle->reports().cycleTime = [this](int tenths) {
        cycleLog()->insertDate({QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz"),
                                DetectCycleSQL::periodSeconds(tenths)});
    };
    connect(&m_detectCycleTimer, &QTimer::timeout, this, &StationCore::SlotDetectCycle);
    m_detectCycleTimer.start(60000);
}

void StationCore::releaseRecords()
{
    if (gpResStatisticsParam && gpResStatisticsParam->parent() == this)
        gpResStatisticsParam = nullptr;
    delete gpMyxls;
    gpMyxls = nullptr;
    // The log's files are relative to this working directory.
    DetectCycleSQL::reset();
}

DetectCycleSQL* StationCore::cycleLog()
{
    DetectCycleSQL* log = DetectCycleSQL::instance();
    if (!log->keptAside)
        log->keptAside = [this](const QString& aside) { InsertRecord(QStringLiteral("DetectCycle.db -> %1").arg(aside)); };
    if (!log->archiveFailed)
        log->archiveFailed = [this](const QString& day, const QString& target) {
            InsertRecord(LanStr(1892).arg(day, target));
            tell(LanStr(1892).arg(day, target), false);
        };
    return log;
}

void StationCore::SlotDetectCycle()
{
    if (!gpWPara->enable_detect_cycle && !DetectCycleSQL::exists())
        return;
    cycleLog()->checkDate();
}

int StationCore::CheckPassword()
{
    if (!gpWPara || !gpWPara->is_psw_used)
        return 2;
    if (gPasswordLevel != 0)
        return gPasswordLevel;
    return side.password ? side.password(false) : 0;
}

bool StationCore::CheckRoot()
{
    if (gPasswordLevel == 2)
        return true;
    return side.password && side.password(false) == 2;
}

bool StationCore::endRun(int recordMessage)
{
    if (CheckPassword() == 0)
        return false;
    if (!side.ask || side.ask(LanStr(recordMessage == 1006 ? 1430 : 1017)) != 1)
        return false;
    InsertRecord(LanStr(recordMessage));
    servicenotify::stopping();
    gpWPara->SaveDatatoFile();
    CountWrite();
    if (m_cycle)
        m_cycle->StopDetect();
    if (m_archive)
        m_archive->stop();
    StopWTD();
    ControlPort::unwatchTick();
    // Nothing watches the mould from here on.
    if (m_io && !m_io->publishLastWord(150))
        qWarning() << "the board did not report the prohibiting word before the end";
    FLushAll();
    return true;
}

bool StationCore::SlotExit()
{
    if (!endRun(1006))
        return false;
    QCoreApplication::exit(exitstatus::kForGood);
    return true;
}

bool StationCore::SlotPowerOff()
{
    if (!endRun(1007))
        return false;
    platform::Host::instance().powerOff();
    gRebootPending = true;
    return true;
}

void StationCore::prohibitClamping()
{
    // Through the cycle's rules once it exists: in pulse mode output 1 may be the OK line.
    if (m_cycle)
        m_cycle->ProhibitNow();
    else if (m_io)
        m_io->prohibitClamping();
}

void StationCore::SlotROINGWarm()
{
    prohibitClamping();
    const QStringList lines = m_cycle->GetROINGInfo();
    if (!lines.isEmpty())
        tell(lines.join(QString()));
    m_cycle->ClearWarnNGINfo();
}

void StationCore::applyIoSettings()
{
    if (!m_io || !gpWPara)
        return;
    if (m_io->applyConfig(ControlPort::configFrom(*gpWPara))) {
        InsertRecord(LanStr(1721));
        if (m_cycle)
            m_cycle->IoConfigChanged();
    }
    if (m_inputs)
        m_inputs->setShakeEraseTime(gpWPara->shake_erase_time);
}

bool StationCore::SetNgWarnCount(int count)
{
    if (!gpWPara || count == gpWPara->roi_ng_warn_count)
        return true;
    WizardPara before = *gpWPara;
    gpWPara->roi_ng_warn_count = count;
    for (const parafields::Change& c : parafields::changes(before, *gpWPara))
        InsertRecord(c.line);
    emit ngWarnCountChanged();
    if (!gpWPara->SaveDatatoFile()) {
        tell(LanStr(160));
        return false;
    }
    return true;
}

bool StationCore::isDetecting() const { return m_cycle && m_cycle->isDetecting(); }

void StationCore::StartDetect()
{
    if (m_cycle)
        m_cycle->StartDetect();
}

void StationCore::StopDetect()
{
    if (m_cycle)
        m_cycle->StopDetect();
}

void StationCore::SoundAlarm(bool on)
{
    // The sound device is opened at the first alarm, not at start: a station
    // that never alarms keeps no audio threads.
    if (on && !m_alarm) {
        m_alarm = new QSoundEffect(this);
        m_alarm->setSource(m_alarmSource);
        m_alarm->setLoopCount(QSoundEffect::Infinite);
    }
    if (!m_alarm)
        return;
    if (on)
        m_alarm->play();
    else
        m_alarm->stop();
}
