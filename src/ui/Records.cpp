// The main window's pages beside the cycle view: the cycle's boxes, the
// statistics and cycle-log pages, the alarm page and the USB disk commands.
#include "WholeScreen.h"
#include "AccountPage.h"
#include "AlarmPage.h"
#include "HelpPage.h"
#include "WizardParaWidget.h"
#include "CavityNames.h"
#include "IoNames.h"
#include "CycleView.h"
#include "DetectionCycle.h"
#include "DiVeZoruzo.h"
#include "DiskCommands.h"
#include "Globals.h"
#include "Host.h"
#include "StartupFiles.h"
#include "Messages.h"
#include "RecordsPages.h"
#include "RegionEditor.h"
#include "ResStatistics.h"
#include "Boxes.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QtDebug>

void DiVeZoruzo::buildPages()
{
    DetectionCycle* c = cycle();
    m_ioBox = new WarnBox(this);
    m_noInputBox = new WarnBox(this);
    connect(c, &DetectionCycle::ioLinkLost, this, &DiVeZoruzo::showIoLink);
    connect(c, &DetectionCycle::noInputSignal, this, [this](bool shown) {
        if (shown)
            m_noInputBox->showMessage(LanStr(335), false);
        else
            m_noInputBox->hideMessage();
    });
    connect(c, &DetectionCycle::runStateChanged, this, [this] { updateStatus(); });
    connect(c, &DetectionCycle::resultStateChanged, this, [this] { updateStatus(); });
    connect(c, &DetectionCycle::nothingChecked, this, [this] { updateStatus(); });
    c->hooks().openEditor = [this] { regionEditor()->open(0, cycle()->curDetect()); };

    m_disk = new DiskCommands(this);
    gpDiskCommands = m_disk;
    if (gisUseStatistics) {
        m_statisticsPage = new StatisticsWidget(gpResStatisticsParam, m_disk, this);
        m_statisticsPage->setWindowFlag(Qt::Window);
        m_statisticsPage->hide();
    }
    // The alarm page opens itself on the cycle's alarm and closes when it ends.
    m_alarmPage = new AlarmPage(c, cameras(), this);
    m_alarmPage->checkPassword = [this] { return CheckPassword(); };
    // The cavity names, shown on the views; their page opens from the main screen.
    m_cavity = new EditCavitywidget(this);
    m_cavity->hide();
    gpCavity = m_cavity;
}

void RestartStation()
{
    StopWTD();
    if (gpWin)
        gpWin->FLushAll();
    platform::Host::instance().reboot();
    gRebootPending = true;
}

void DiVeZoruzo::releasePages()
{
    if (gpDiskCommands == m_disk)
        gpDiskCommands = nullptr;
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
        m_editor = new DrawROIWidget(cameras(), cycle(), this);
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
