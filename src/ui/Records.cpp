// The main window's pages beside the cycle view: statistics and cycle log
#include "WholeScreen.h"
// wired to the cycle, their pages, the alarm page and the USB disk commands.
#include "AccountPage.h"
#include "AlarmPage.h"
#include "HelpPage.h"
#include "WizardParaWidget.h"
#include "CavityNames.h"
#include "IoNames.h"
#include "CycleView.h"
#include "DetectCycleSQL.h"
#include "DetectionCycle.h"
#include "DiVeZoruzo.h"
#include "DiskCommands.h"
#include "Globals.h"
#include "Host.h"
#include "StartupFiles.h"
#include "Messages.h"
#include "Myxls.h"
#include "RecordsPages.h"
#include "RegionEditor.h"
#include "ResStatistics.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QtDebug>

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

void DiVeZoruzo::buildRecords()
{
    linkExporter();
    m_disk = new DiskCommands(this);
    gpDiskCommands = m_disk;
    if (gisUseStatistics) {
        if (!gpMyxls)
            gpMyxls = new Myxls;
        m_statisticsPage = new StatisticsWidget(gpResStatisticsParam, m_disk, this);
        m_statisticsPage->setWindowFlag(Qt::Window);
        m_statisticsPage->hide();
    }
    m_cycle->reports().cycleTime = [this](int tenths) {
        DetectCycleSQL* log = DetectCycleSQL::instance();
        if (!log->keptAside)
            log->keptAside = [this](const QString& aside) { InsertRecord(QStringLiteral("DetectCycle.db -> %1").arg(aside)); };
        log->insertDate({QDateTime::currentDateTime().toString("yyyy-MM-dd hh:mm:ss.zzz"),
                         DetectCycleSQL::periodSeconds(tenths)});
    };
    connect(&m_detectCycleTimer, &QTimer::timeout, this, &DiVeZoruzo::SlotDetectCycle);
    // The alarm page opens itself on the cycle's alarm and closes when it ends.
    m_alarmPage = new AlarmPage(m_cycle, m_cameras, this);
    m_alarmPage->checkPassword = [this] { return CheckPassword(); };
    // The cavity names, shown on the views; their page opens from the main screen.
    m_cavity = new EditCavitywidget(this);
    m_cavity->hide();
    gpCavity = m_cavity;
    m_detectCycleTimer.start(60000);
}

void RestartStation()
{
    StopWTD();
    if (gpWin)
        gpWin->FLushAll();
    platform::Host::instance().reboot();
    gRebootPending = true;
}

void DiVeZoruzo::releaseRecords()
{
    if (gpResStatisticsParam && gpResStatisticsParam->parent() == this)
        gpResStatisticsParam = nullptr;
    if (gpDiskCommands == m_disk)
        gpDiskCommands = nullptr;
    delete gpMyxls;
    gpMyxls = nullptr;
    // The log's files are relative to this working directory.
    DetectCycleSQL::reset();
}

void DiVeZoruzo::SlotDetectCycle()
{
    if (!gpWPara->enable_detect_cycle && !DetectCycleSQL::exists())
        return;
    DetectCycleSQL::instance()->checkDate();
}

RecordWidget* DiVeZoruzo::recordPage()
{
    if (!m_recordPage) {
        m_recordPage = new RecordWidget(this);
        m_recordPage->setWindowFlag(Qt::Window);
        m_recordPage->checkPassword = [this] { return CheckPassword(); };
        m_recordPage->hide();
    }
    return m_recordPage;
}

AccountWidget* DiVeZoruzo::accountPage()
{
    if (!m_accountPage) {
        m_accountPage = new AccountWidget(this);
        m_accountPage->hide();
    }
    return m_accountPage;
}

WizardParaWidget* DiVeZoruzo::settingsPage()
{
    if (!m_settingsPage) {
        m_settingsPage = new WizardParaWidget(this, this);
        m_settingsPage->hide();
    }
    return m_settingsPage;
}

void DiVeZoruzo::showSettingsPage()
{
    // The service level is asked for again at every entry; the system level stays while protected.
    if (gPasswordLevel == 2)
        gPasswordLevel = gpWPara && gpWPara->is_psw_used ? 1 : 0;
    const int level = CheckPassword();
    if (level < 1)
        return;
    settingsPage()->open(level);
    showOnWholeScreen(m_settingsPage);
}

HelpWidget* DiVeZoruzo::helpPage()
{
    if (!m_helpPage) {
        m_helpPage = new HelpWidget(this);
        m_helpPage->hide();
    }
    return m_helpPage;
}

void DiVeZoruzo::showHelpPage() { showOnWholeScreen(helpPage()); }

BeginnerGuide* DiVeZoruzo::guide()
{
    if (!m_guide) {
        m_guide = new BeginnerGuide(this, this);
        m_guide->hide();
    }
    return m_guide;
}

void DiVeZoruzo::showAccountPage()
{
    accountPage()->refresh();
    showOnWholeScreen(m_accountPage);
}

void DiVeZoruzo::showRecordPage()
{
    recordPage()->fillDays();
    showOnWholeScreen(m_recordPage);
}

IoNamesPage* DiVeZoruzo::ioNamesPage()
{
    if (!m_ioNames) {
        m_ioNames = new IoNamesPage(this);
        m_ioNames->hide();
        connect(m_ioNames, &IoNamesPage::namesChanged, m_view, &CycleView::refresh);
    }
    return m_ioNames;
}

void DiVeZoruzo::showIoNamesPage()
{
    if (CheckPassword() < 1)
        return;
    ioNamesPage()->init();
    showOnWholeScreen(m_ioNames);
}

void DiVeZoruzo::showCavityPage()
{
    if (CheckPassword() < 1)
        return;
    m_cavity->init();
    showOnWholeScreen(m_cavity);
}

DrawROIWidget* DiVeZoruzo::regionEditor()
{
    if (!m_editor) {
        m_editor = new DrawROIWidget(m_cameras, m_cycle, this);
        m_editor->hide();
    }
    return m_editor;
}

DetectCycleWidget* DiVeZoruzo::cycleLogPage()
{
    if (!m_cycleLogPage) {
        m_cycleLogPage = new DetectCycleWidget(m_disk, this);
        m_cycleLogPage->setWindowFlag(Qt::Window);
        m_cycleLogPage->hide();
    }
    return m_cycleLogPage;
}

void DiVeZoruzo::showStatisticsPage()
{
    if (!m_statisticsPage)
        return;
    gpResStatisticsParam->setFindCount();
    m_statisticsPage->showDay(m_statisticsPage->days()->currentRow());
    showOnWholeScreen(m_statisticsPage);
}

void DiVeZoruzo::showCycleLogPage()
{
    cycleLogPage()->fillDays();
    showOnWholeScreen(m_cycleLogPage);
}

bool DiVeZoruzo::exportDataCommand() { return CheckPassword() >= 1 && m_disk->SlotExportData(); }
bool DiVeZoruzo::updateProgramCommand() { return CheckPassword() >= 1 && m_disk->SlotUpdateApp(); }
