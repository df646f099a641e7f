#include "DiVeZoruzo.h"
#include "StationBars.h"
#include "WholeScreen.h"

#include "Boxes.h"
#include "HelpPage.h"
#include "Language.h"
#include "ParaGroups.h"
#include "RegionEditor.h"
#include "ResStatistics.h"
#include "ServiceNotify.h"
#include "Termination.h"
#include "CameraSet.h"
#include "Detection.h"
#include "ControlPort.h"
#include "Counters.h"
#include "Keypads.h"
#include "CycleView.h"
#include "DetectionCycle.h"
#include "ImageArchive.h"
#include "InputSampler.h"
#include "Globals.h"
#include "Host.h"
#include "Logs.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "Panel.h"
#include "ParamDb.h"
#include "SimCamera.h"
#include "StartupFiles.h"
#include "ImageLib.h"
#include "MindCamera.h"
#include "WizardPara.h"
#include "Access.h"
#include "UserManager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QPixmap>
#include <QScreen>
#include <QSoundEffect>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>
#include <memory>
#include <QtDebug>

DiVeZoruzo* gpWin = nullptr;

namespace {
QHash<QString, QPixmap> gPixmaps;
const char* kPixmaps[] = {"logo.bmp", "background.png", "title.png", "line.png", "edit.png", "slideru.png",
                          "sliderd.png", "slidert.png", "buttonu.png", "buttond.png", "OUT1.png", "OUT0.png",
                          "Origin.png", "MoveUp.png", "MoveDown.png", "MoveLeft.png", "MoveRight.png",
                          "EnlargeScale.png", "ReductionScale.png"};
} // namespace

void LoadPixmaps()
{
    for (const char* name : kPixmaps) {
        QPixmap p(QStringLiteral("./images/") + name);
        if (p.isNull())
            qWarning() << "pixmap missing or unreadable: ./images/" << name;
        gPixmaps.insert(name, p);
    }
}

QPixmap StationPixmap(const QString& name) { return gPixmaps.value(name); }


DiVeZoruzo::DiVeZoruzo(QWidget* parent) : QWidget(parent)
{
    gpWin = this;
    setObjectName("mainWindow");
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        gShowW = s->geometry().width();
        gShowH = s->geometry().height();
        setFixedSize(gShowW, gShowH);
    }
}

void DiVeZoruzo::startUp()
{
    const startup::UpdateOutcome update = startup::runUpdateOnce();

    // Activity timers and the boxes.
    m_screenOff.setSingleShot(true);
    connect(&m_screenOff, &QTimer::timeout, this, [] { LCDOnOff(0); });
    m_autoLogout.setSingleShot(true);
    connect(&m_autoLogout, &QTimer::timeout, this, &DiVeZoruzo::TimerLogout);
    if (!gpWarnBox)
        gpWarnBox = new WarnBox(this);

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
    gpWarnBox->showProgress(LanStr(133), LanStr(121));

    if (!gpChooseBox)
        gpChooseBox = new ChooseBox(this);
    if (!gpPasswordBox)
        gpPasswordBox = new PasswordBox(this);
    // Every number and text of the pages is entered through these.
    if (!gpNumPad)
        gpNumPad = new NumPad(this);
    if (!gpNumCharPad)
        gpNumCharPad = new NumCharPad(this);
    // The IO board link: all outputs off and published, then clamping prohibited.
    m_io = new ControlPort(ControlPort::configFrom(*gpWPara), ControlPort::portName(gpWPara->serial_port), this);
    gpControlIO = m_io;
    // Its first word prohibits clamping already, in the mode's own lines.
    // An alarm the last run died in sounds from the first word on, not only once the cycle restores it.
    if (QFile::exists(DetectionCycle::alarmStateFile()))
        m_io->IOSetOut(2, 1);
    m_io->IOFlashOut();
    m_inputs = new InputSampler(m_io, this);
    m_inputs->setShakeEraseTime(gpWPara->shake_erase_time);

    // The eight camera widgets' camera side: devices, regions, templates.
    m_cameras = new CameraManager(this);
    m_cameras->detecting = [this] { return isDetecting(); };
    m_cameras->prohibitClamping = [this] { prohibitClamping(); };
    m_cameras->flushAll = [this] { FLushAll(); };
    connect(m_cameras, &CameraManager::cameraLost, this, &DiVeZoruzo::showCameraLost);
    connect(m_cameras, &CameraManager::camerasRecovered, this, &DiVeZoruzo::showCameraRecovered);
    connect(m_cameras, &CameraManager::serialsNotSaved, this, [] { gpWarnBox->showMessage(LanStr(1700)); });
    m_cameras->BuildViews(*gpWPara);
    // Detections derived anew in mode 4 (the IO table confirmed) get their templates retrained.
    WizardPara::retrainHook = [cams = m_cameras](int c, int d) {
        if (CammerView* v = cams->view(c); v && v->recong) {
            v->recong->CreateShape(d);
            v->recong->VarTrain(d);
        }
    };

    checkCameraCount();

    m_alarmSource = QUrl::fromLocalFile(QDir::current().absoluteFilePath("alarm.wav"));
    QFile wav("alarm.wav");
    if (!wav.open(QIODevice::ReadOnly) || wav.read(4) != "RIFF")
        qWarning() << "alarm.wav is missing or not a WAV file; alarms will be silent";

    createFolders();
    buildCycle();
    buildServiceLink();
    buildRecords();
    buildScreen();
    ChangeCammer(0);

    OperationRecord::instance().loadRecordDate();
    m_startMs = QDateTime::currentMSecsSinceEpoch();
    connect(&m_dateCheck, &QTimer::timeout, this, &DiVeZoruzo::SlotCheckDate);
    SlotCheckDate();

    if (gDatabaseFault)
        qCritical() << "a database cannot be used; detection stays stopped and clamping prohibited";
    else if (gRebootPending)
        qWarning() << "a database was restored; detection stays stopped until the station restarts";
    else if (paramdb::factoryRestored()) {
        // No regions and factory values: nothing guards the mould until the operator has seen it.
        InsertRecord(LanStr(1719));
        gpWarnBox->showMessage(LanStr(1719), false);
    } else if (!stationTerminating())
        StartDetect();
    if (gpWPara->is_cut_ontime && gpWPara->mold_pulse > 0)
        prohibitClamping();

    gpWarnBox->hideMessage();
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
    // A station's first start walks the operator through its set-up (not in unattended runs).
    if (BeginnerGuide::wanted() && !autoAnswer() && !stationTerminating())
        QTimer::singleShot(0, this, [this] { showOnWholeScreen(guide()); });
    if (gpWPara->location_level > 0)
        m_screenOff.start(gpWPara->location_level * 1000);

    checkSystemTime();
    updateStatus();
}

DiVeZoruzo::~DiVeZoruzo()
{
    if (gpWin == this)
        gpWin = nullptr;
    WizardPara::retrainHook = nullptr;
    if (m_archive)
        m_archive->stop();
    // The boxes are children of this window and go with it.
    if (gpWarnBox && gpWarnBox->parent() == this)
        gpWarnBox = nullptr;
    if (gpChooseBox && gpChooseBox->parent() == this)
        gpChooseBox = nullptr;
    if (gpPasswordBox && gpPasswordBox->parent() == this)
        gpPasswordBox = nullptr;
    if (gpNumPad && gpNumPad->parent() == this)
        gpNumPad = nullptr;
    if (gpNumCharPad && gpNumCharPad->parent() == this)
        gpNumCharPad = nullptr;
    releaseRecords();
}

void DiVeZoruzo::openDatabases()
{
    paramdb::openAll(
        [](int message) {
            if (gpWarnBox)
                gpWarnBox->showMessage(LanStrEn(message));
        },
        &m_unusableDatabases);
    // No factory copy to restore: a reboot would only come back here, so the
    // operator is told and the station stays stopped instead.
    if (!m_unusableDatabases.isEmpty() && gpWarnBox)
        gpWarnBox->showMessage(LanStrEn(1701).arg(m_unusableDatabases.join(", ")));
}

void DiVeZoruzo::loadParameters()
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

void DiVeZoruzo::findCameras()
{
    CheckCameraID();
    gShowAW = gImageW ? float(gShowW) / gImageW : 1.0f;
    gShowAH = gImageH ? float(gShowH) / gImageH : 1.0f;
    SetImageBounds(gImageW, gImageH);
    m_replay = !SimCamera::replaySource().isEmpty();
}

void DiVeZoruzo::checkCameraCount()
{
    // Replayed pictures are cameras the operator asked for: no question.
    m_cameras->CheckCameraCount(m_replay, [](const QString& q) { return gpChooseBox->ask(q); });
}

void DiVeZoruzo::showCameraLost(int, bool alarmBox)
{
    if (!alarmBox) {
        gpWarnBox->showMessage(LanStr(1602), false);
        return;
    }
    if (!m_lostBox) {
        m_lostBox = new CameraLostBox(this);
        connect(m_lostBox, &CameraLostBox::shutDown, m_cameras, &CameraManager::ShutDownAfterLoss);
    }
    m_lostBox->showLost();
}

void DiVeZoruzo::showCameraRecovered()
{
    gpWarnBox->hideMessage();
    if (m_lostBox)
        m_lostBox->hide();
    gpWarnBox->showMessage(LanStr(1180), false);
}

void DiVeZoruzo::createFolders() { startup::ensureFolders(numCamera); }

void DiVeZoruzo::checkSystemTime()
{
    const qint64 stored = startup::readRealyTime();
    if (!startup::systemTimeSuspect(QDateTime::currentMSecsSinceEpoch(), stored))
        return;
    gpWarnBox->showMessage(LanStr(1000));
    InsertRecord(LanStr(1001));
    StopDetect();
    prohibitClamping();
    InsertRecord(LanStr(141));
    LEDOnOff(4, 0);
    DateTimeDialog dialog(this);
    QDateTime chosen;
    if (dialog.choose(&chosen)) {
        platform::Host& host = platform::Host::instance();
        // A clock that was not set is not a known-good time: nothing is
        // stored, nothing recorded as changed, and detection stays stopped.
        if (!host.setTime(chosen) || !host.hwclockSysToHc()) {
            gpWarnBox->showMessage(LanStr(1703));
            InsertRecord(LanStr(1704));
            return;
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
}

void DiVeZoruzo::FLushAll()
{
    if (countsKnown())
        CountWrite();
    paramdb::closeAll();
    QThread::msleep(500);
}

void DiVeZoruzo::endForRestart()
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

bool DiVeZoruzo::InsertRecord(const QString& text) { return OperationRecord::instance().InsertRecord(text); }
bool DiVeZoruzo::ClearRecord() { return OperationRecord::instance().ClearRecord(); }
void DiVeZoruzo::SlotCheckDate() { OperationRecord::instance().SlotCheckDate(); }

void DiVeZoruzo::buildCycle()
{
    // Pictures of an earlier run keep their numbers; the writer never runs on this thread.
    std::memset(gisSaveFail, 0, sizeof gisSaveFail);
    std::memset(gFailIndex, 0, sizeof gFailIndex);
    m_archive = new SaveFialImageThread(numCamera, gPicNumNG, gPicNumOK, this);
    m_archive->start(QThread::InheritPriority);

    m_cycle = new DetectionCycle(m_io, m_inputs, m_cameras, gpWPara, this);
    m_cycle->setArchive(m_archive);
    m_ioBox = new WarnBox(this);
    m_noInputBox = new WarnBox(this);
    connect(m_cycle, &DetectionCycle::ioLinkLost, this, &DiVeZoruzo::showIoLink);
    connect(m_cycle, &DetectionCycle::noInputSignal, this, [this](bool shown) {
        if (shown)
            m_noInputBox->showMessage(LanStr(335), false);
        else
            m_noInputBox->hideMessage();
    });
    // Queued: the box waits for the operator, the verdict that raised it has ended.
    connect(m_cycle, &DetectionCycle::sigROINGWarm, this, &DiVeZoruzo::SlotROINGWarm, Qt::QueuedConnection);
    connect(m_cycle, &DetectionCycle::alarmEntered, this, [this] { SoundAlarm(true); });
    connect(m_cycle, &DetectionCycle::alarmCleared, this, [this] { SoundAlarm(false); });
    connect(m_cycle, &DetectionCycle::runStateChanged, this, [this] { updateStatus(); });
    connect(m_cycle, &DetectionCycle::resultStateChanged, this, [this] { updateStatus(); });
    connect(m_cycle, &DetectionCycle::nothingChecked, this, [this] { updateStatus(); });
    installOperatorHooks();

    // The result statistics exist only when switched on at start-up.
    if (gisUseStatistics) {
        auto* stats = new ResStatisticsParam({}, this);
        gpResStatisticsParam = stats;
        if (!stats->usable())
            InsertRecord(QStringLiteral("Result statistics unusable: %1").arg(stats->error()));
        m_cycle->reports().statisticsAdd = [stats](int hour, bool ok, int camera, int detection) {
            stats->Add(hour, ok, camera, detection);
        };
    }
}

void DiVeZoruzo::installOperatorHooks()
{
    UserManager& users = UserManager::instance();
    // The accounts of this working directory, logged out.
    users.closeDatabase();
    users.connectDatabase();
    users.showMessage = [](const QString&, const QString& text) { gpWarnBox->showMessage(text); };
    OperatorHooks& h = m_cycle->hooks();
    h.checkPassword = [this] { return CheckPassword(); };
    h.passwordDialog = [] { return gpPasswordBox->run(true) == 2; };
    h.ask = [](const QString& text) { return gpChooseBox->ask(text) == 1; };
    h.warn = [](const QString& text) { gpWarnBox->showMessage(text); };
    h.openEditor = [this] { regionEditor()->open(0, m_cycle->curDetect()); };
    // An account that is logged in must hold the right; without accounts the passwords decide.
    // Rights follow the logged-in account; logged out holds the operators' (the least).
    h.permission = [](int right) { return UserManager::instance().CheckPermission(right); };
    h.pagesOpen = [] { return gisSettingsOpen.load(); };
    h.shownCamera = [] { return numCamera == 1 ? 0 : -1; };
}

int DiVeZoruzo::CheckPassword()
{
    if (!gpWPara || !gpWPara->is_psw_used)
        return 2;
    if (gPasswordLevel != 0)
        return gPasswordLevel;
    return gpPasswordBox ? gpPasswordBox->run() : 0;
}

bool DiVeZoruzo::CheckRoot()
{
    if (gPasswordLevel == 2)
        return true;
    return gpPasswordBox && gpPasswordBox->run() == 2;
}

void DiVeZoruzo::TimerLogout()
{
    m_autoLogout.stop();
    gPasswordLevel = 0;
    UserManager::instance().LogOut();
    updateStatus();
}

QString DiVeZoruzo::levelLabel() const { return passwords::levelLabel(gPasswordLevel); }

bool DiVeZoruzo::endRun(int recordMessage)
{
    if (CheckPassword() == 0)
        return false;
    if (gpChooseBox->ask(LanStr(recordMessage == 1006 ? 1430 : 1017)) != 1)
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

bool DiVeZoruzo::SlotExit()
{
    if (!endRun(1006))
        return false;
    if (exitProcess)
        exitProcess(exitstatus::kForGood);
    else
        QCoreApplication::exit(exitstatus::kForGood);
    return true;
}

bool DiVeZoruzo::SlotPowerOff()
{
    if (!endRun(1007))
        return false;
    platform::Host::instance().powerOff();
    gRebootPending = true;
    return true;
}

void DiVeZoruzo::showIoLink(bool lost)
{
    if (lost)
        m_ioBox->showMessage(LanStr(589), false);
    else if (m_ioBox->isVisible() || m_ioBox->text() == LanStr(589))
        m_ioBox->showMessage(LanStr(590), false);
}

void DiVeZoruzo::prohibitClamping()
{
    // Through the cycle's rules once it exists: in pulse mode output 1 may be the OK line.
    if (m_cycle)
        m_cycle->ProhibitNow();
    else
        m_io->prohibitClamping();
}

void DiVeZoruzo::SlotROINGWarm()
{
    prohibitClamping();
    const QStringList lines = m_cycle->GetROINGInfo();
    if (!lines.isEmpty())
        gpWarnBox->showMessage(lines.join(QString()));
    m_cycle->ClearWarnNGINfo();
}

void DiVeZoruzo::applyIoSettings()
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

bool DiVeZoruzo::isDetecting() const { return m_cycle && m_cycle->isDetecting(); }

void DiVeZoruzo::StartDetect()
{
    if (m_cycle)
        m_cycle->StartDetect();
    updateStatus();
}

void DiVeZoruzo::StopDetect()
{
    if (m_cycle)
        m_cycle->StopDetect();
    updateStatus();
}

void DiVeZoruzo::SoundAlarm(bool on)
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

void DiVeZoruzo::restartActivityTimers()
{
    if (!gpWPara)
        return;
    if (gpWPara->auto_cancel_timelen >= 1)
        m_autoLogout.start(gpWPara->auto_cancel_timelen * 1000);
    if (gpWPara->location_level > 0)
        m_screenOff.start(gpWPara->location_level * 1000);
}

void DiVeZoruzo::buildScreen()
{
    stylePage(this, "mainWindow");
    auto* lay = new QVBoxLayout(this);
    m_titleBar = new TitleBar(this);
    m_status = new QLabel(this);
    QFont f;
    f.setPixelSize(20);
    m_status->setFont(f);
    m_cameraArea = new QLabel(this);
    m_cameraArea->setAlignment(Qt::AlignCenter);
    m_cameraArea->setStyleSheet("background:#101216;color:#8090a0;");
    m_cameraArea->setFont(f);
    m_view = new CycleView(m_cycle, m_cameras, m_io, this);
    lay->addWidget(m_titleBar);
    lay->addWidget(m_status);
    lay->addWidget(m_cameraArea);
    lay->addWidget(m_view, 1);
    lay->addWidget(buildButtons());
}

void DiVeZoruzo::ChangeCammer(int index)
{
    if (!m_cameraArea)
        return;
    // The views say which camera they show; this line only speaks when there is none.
    m_cameraArea->setText(numCamera == 0 ? LanStr(1602).replace("\r\n", "\n") : QString());
    m_cameraArea->setVisible(numCamera == 0);
    Q_UNUSED(index);
}

