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
#include "StationCore.h"
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

void DiVeZoruzo::installBoxes()
{
    if (!gpWarnBox)
        gpWarnBox = new WarnBox(this);
    if (!gpChooseBox)
        gpChooseBox = new ChooseBox(this);
    if (!gpPasswordBox)
        gpPasswordBox = new PasswordBox(this);
    // Every number and text of the pages is entered through these.
    if (!gpNumPad)
        gpNumPad = new NumPad(this);
    if (!gpNumCharPad)
        gpNumCharPad = new NumCharPad(this);

    OperatorSide& side = m_core->side;
    side.ask = [](const QString& q) { return gpChooseBox->ask(q); };
    side.tell = [](const QString& text, bool waitForOk) { gpWarnBox->showMessage(text, waitForOk); };
    side.progress = [](const QString& title, const QString& text) { gpWarnBox->showProgress(title, text); };
    side.progressDone = [] { gpWarnBox->hideMessage(); };
    side.password = [](bool accountsToo) { return gpPasswordBox->run(accountsToo); };
    side.chooseTime = [this](QDateTime* chosen) {
        DateTimeDialog dialog(this);
        return dialog.choose(chosen);
    };
    side.screen = [this] { return grab().toImage(); };
}

void DiVeZoruzo::startUp()
{
    m_screenOff.setSingleShot(true);
    connect(&m_screenOff, &QTimer::timeout, this, [] { LCDOnOff(0); });
    m_autoLogout.setSingleShot(true);
    connect(&m_autoLogout, &QTimer::timeout, this, &DiVeZoruzo::TimerLogout);

    m_core = new StationCore(this);
    installBoxes();
    connect(m_core, &StationCore::cameraLost, this, &DiVeZoruzo::showCameraLost);
    connect(m_core, &StationCore::camerasRecovered, this, &DiVeZoruzo::showCameraRecovered);
    connect(m_core, &StationCore::ngWarnCountChanged, this, &DiVeZoruzo::ngWarnCountChanged);

    m_core->bringUp();
    // The boxes and pads came before the parameters: they speak the station's language now.
    retranslate(this);
    // The screen is built on a cycle that has not run: nothing it shows is missed.
    buildPages();
    buildScreen();
    ChangeCammer(0);
    m_core->run();

    // A station's first start walks the operator through its set-up (not in unattended runs).
    if (BeginnerGuide::wanted() && !autoAnswer() && !stationTerminating())
        QTimer::singleShot(0, this, [this] { showOnWholeScreen(guide()); });
    if (gpWPara->location_level > 0)
        m_screenOff.start(gpWPara->location_level * 1000);
    updateStatus();
}

DiVeZoruzo::~DiVeZoruzo()
{
    if (gpWin == this)
        gpWin = nullptr;
    // The station first: its archive thread and records end before the pages go.
    delete m_core;
    m_core = nullptr;
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
    releasePages();
}

void DiVeZoruzo::showCameraLost(int, bool alarmBox)
{
    if (!alarmBox) {
        gpWarnBox->showMessage(LanStr(1602), false);
        return;
    }
    if (!m_lostBox) {
        m_lostBox = new CameraLostBox(this);
        connect(m_lostBox, &CameraLostBox::shutDown, cameras(), &CameraManager::ShutDownAfterLoss);
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

void DiVeZoruzo::FLushAll()
{
    if (m_core)
        m_core->FLushAll();
    else
        paramdb::closeAll();
}

void DiVeZoruzo::endForRestart()
{
    if (m_core)
        m_core->endForRestart();
    else
        paramdb::closeAll();
}

bool DiVeZoruzo::InsertRecord(const QString& text) { return OperationRecord::instance().InsertRecord(text); }
DetectionCycle* DiVeZoruzo::cycle() const { return m_core ? m_core->cycle() : nullptr; }
SaveFialImageThread* DiVeZoruzo::archive() const { return m_core ? m_core->archive() : nullptr; }
CNT_Net* DiVeZoruzo::net() const { return m_core ? m_core->net() : nullptr; }
ControlPort* DiVeZoruzo::io() const { return m_core ? m_core->io() : nullptr; }
CameraManager* DiVeZoruzo::cameras() const { return m_core ? m_core->cameras() : nullptr; }
InputSampler* DiVeZoruzo::inputs() const { return m_core ? m_core->inputs() : nullptr; }
int DiVeZoruzo::expectedDetection() const { return m_core ? m_core->expectedDetection() : 1; }
qint64 DiVeZoruzo::startTimeMs() const { return m_core ? m_core->startTimeMs() : 0; }
void DiVeZoruzo::applyIoSettings() { m_core->applyIoSettings(); }
int DiVeZoruzo::CheckPassword() { return m_core->CheckPassword(); }
bool DiVeZoruzo::CheckRoot() { return m_core->CheckRoot(); }
bool DiVeZoruzo::SlotExit() { return m_core->SlotExit(); }
bool DiVeZoruzo::SlotPowerOff() { return m_core->SlotPowerOff(); }
void DiVeZoruzo::SoundAlarm(bool on) { m_core->SoundAlarm(on); }
bool DiVeZoruzo::SetNgWarnCount(int count) { return m_core->SetNgWarnCount(count); }

void DiVeZoruzo::TimerLogout()
{
    m_autoLogout.stop();
    gPasswordLevel = 0;
    UserManager::instance().LogOut();
    updateStatus();
}

QString DiVeZoruzo::levelLabel() const { return passwords::levelLabel(gPasswordLevel); }

void DiVeZoruzo::showIoLink(bool lost)
{
    if (lost)
        m_ioBox->showMessage(LanStr(589), false);
    else if (m_ioBox->isVisible() || m_ioBox->text() == LanStr(589))
        m_ioBox->showMessage(LanStr(590), false);
}

bool DiVeZoruzo::isDetecting() const { return m_core && m_core->isDetecting(); }

void DiVeZoruzo::StartDetect()
{
    m_core->StartDetect();
    updateStatus();
}

void DiVeZoruzo::StopDetect()
{
    m_core->StopDetect();
    updateStatus();
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
    m_view = new CycleView(cycle(), cameras(), io(), this);
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

