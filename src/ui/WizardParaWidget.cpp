#include "WizardParaWidget.h"

#include "Boxes.h"
#include "CNT_Net.h"
#include "CameraDevice.h"
#include "DetectionCycle.h"
#include "ParaPages.h"
#include "DiVeZoruzo.h"
#include "DiskCommands.h"
#include "Globals.h"
#include "Host.h"
#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "ParaGroups.h"
#include "ParamDb.h"
#include "StartupFiles.h"
#include "WizardPara.h"

#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QFile>
#include <QVBoxLayout>

namespace {
// The detections of the machine mode in force (4 in Two-color and Turntable).
int detectionsInUse() { return std::clamp(gDNum, 1, 8); }
} // namespace

bool WizardParaWidget::ask(const QString& question) { return gpChooseBox && gpChooseBox->ask(question) == 1; }

void WizardParaWidget::warn(const QString& text)
{
    m_status->setText(text);
    if (gpWarnBox)
        gpWarnBox->showMessage(text);
}

WizardParaWidget::WizardParaWidget(DiVeZoruzo* win, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_win(win)
{
    stylePage(this, "settingsPage", "QCheckBox{color:white;} QComboBox{min-height:52px;} QScrollArea, #fieldsBody{background:#20242c;}"
                              // The fields below the screen's edge are reached by a finger on the bar.
                              " QScrollBar:vertical{width:48px;} QScrollBar::handle:vertical{min-height:64px;}");
    QFont f;
    f.setPixelSize(20);
    auto* lay = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    QLabel* title = lanTitle(this, 1654);
    top->addWidget(title);
    // One button per page; the level decides which may be opened.
    const int tabs[] = {1850, 1212, 1851, 1852, 1213, 1853};
    const char* tabNames[] = {"tabCommon", "tabCamera", "tabNetwork", "tabIo", "tabAdvanced", "tabMaintenance"};
    for (int i = 0; i < 6; ++i) {
        QPushButton* b = lanButton(this, tabs[i], tabNames[i], 18, {120, 52});
        connect(b, &QPushButton::clicked, this, [this, i] {
            // The advanced page asks for the service password instead of silently showing another.
            if (i == parafields::Advanced && m_level < 2) {
                if (!m_win || !m_win->CheckRoot()) {
                    m_status->setText(LanStr(1899));
                    return;
                }
                m_level = 2;
                for (ParaPage* p : m_pages)
                    p->refresh(m_level);
            }
            showPage(i);
        });
        top->addWidget(b);
    }
    top->addStretch(1);
    lay->addLayout(top);

    m_stack = new QStackedWidget(this);
    auto* cameraPage = new CameraParaPage(win, m_stack);
    auto* networkPage = new NetworkParaPage(win, m_stack);
    m_pages[parafields::Common] = new ParaPage(parafields::Common, m_stack);
    m_pages[parafields::Camera] = cameraPage;
    m_pages[parafields::Network] = networkPage;
    m_pages[parafields::Io] = new ParaPage(parafields::Io, m_stack);
    m_pages[parafields::Advanced] = new ParaPage(parafields::Advanced, m_stack);
    const char* pageNames[] = {"commonPage", "cameraPage", "networkPage", "ioPage", "advancedPage"};
    for (int i = 0; i < parafields::PageCount; ++i) {
        m_pages[i]->setObjectName(pageNames[i]);
        m_pages[i]->warn = [this](const QString& w) { warn(w); };
        // A switch or mode on one page decides what the others show.
        m_pages[i]->edited = [this, i](const parafields::Field&) {
            for (int k = 0; k < parafields::PageCount; ++k)
                if (k != i)
                    m_pages[k]->refresh(m_level);
        };
        m_stack->addWidget(m_pages[i]);
    }
    cameraPage->ask = [this](const QString& q) { return ask(q); };
    networkPage->ask = [this](const QString& q) { return ask(q); };

    auto* maintenance = new QWidget(m_stack);
    maintenance->setObjectName("maintenancePage");
    auto* grid = new QGridLayout(maintenance);
    m_groups = new QComboBox(maintenance);
    m_groups->setObjectName("groupList");
    m_groups->setFont(f);
    m_name = new QLineEdit(maintenance);
    m_name->setObjectName("groupName");
    m_name->setFont(f);
    m_name->setMinimumHeight(52);
    openTextPadOnTap(m_name, 1653, paragroups::kMaxName, false, true);
    auto* groupsLabel = new QLabel(maintenance);
    setLan(groupsLabel, 1655);
    groupsLabel->setFont(f);
    grid->addWidget(groupsLabel, 0, 0);
    grid->addWidget(m_groups, 0, 1, 1, 2);
    grid->addWidget(m_name, 1, 1, 1, 2);
    int n = 6;
    auto add = [&](int text, const char* name, std::function<void()> action) {
        QPushButton* b = lanButton(maintenance, text, name, 20, {220, 60});
        connect(b, &QPushButton::clicked, this, std::move(action));
        grid->addWidget(b, n / 3, n % 3);
        ++n;
    };
    add(1656, "groupBackup", [this] { SlotParaGroupBackup(); });
    add(1657, "groupRestore", [this] { SlotParaGroupRestore(); });
    add(1658, "groupDelete", [this] { SlotParaGroupDelete(); });
    add(1635, "cavityNames", [this] { m_win->showCavityPage(); });
    add(1734, "ioNames", [this] { m_win->showIoNamesPage(); });
    add(1646, "accounts", [this] { m_win->showAccountPage(); });
    add(1634, "record", [this] { m_win->showRecordPage(); });
    add(1540, "exportData", [this] { SlotExportData(); });
    add(1541, "update", [this] { SlotUpdateApp(); });
    add(1876, "factoryReset", [this] { SlotRestoreFactorySet(); });
    add(172, "resetCount", [this] {
        if (m_win->cycle() && m_win->cycle()->ResetCount())
            m_status->setText(LanStr(255));
    });
    // Both are asked and protected by the window and record why the station stopped.
    add(1885, "exitProgram", [this] { m_win->SlotExit(); });
    add(1018, "powerOff", [this] { m_win->SlotPowerOff(); });
    grid->setRowStretch(n / 3 + 1, 1);
    m_stack->addWidget(maintenance);
    lay->addWidget(m_stack, 1);

    m_status = new QLabel(this);
    m_status->setFont(f);
    m_status->setWordWrap(true);
    lay->addWidget(m_status);
    auto* bottom = new QHBoxLayout;
    QPushButton* ok = lanButton(this, 121, "confirm", 20, {200, 60});
    QPushButton* cancel = lanButton(this, 1854, "cancel", 20, {200, 60});
    bottom->addStretch(1);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    lay->addLayout(bottom);
    connect(ok, &QPushButton::clicked, this, [this] { SlotOK(); });
    connect(cancel, &QPushButton::clicked, this, &WizardParaWidget::SlotCancel);
    connect(m_groups, &QComboBox::activated, this, &WizardParaWidget::SlotParaGroupChange);

    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, [this] {
        if (m_editing)
            for (ParaPage* p : m_pages)
                p->refresh(m_level);
    });
    QDir().mkpath("paraGroup");
    ParaGroupUpdateList();
}

WizardParaWidget::~WizardParaWidget()
{
    if (m_editing)
        gisSettingsOpen = false;
}

CameraParaPage* WizardParaWidget::cameraPage() const { return static_cast<CameraParaPage*>(m_pages[parafields::Camera]); }
NetworkParaPage* WizardParaWidget::networkPage() const { return static_cast<NetworkParaPage*>(m_pages[parafields::Network]); }

void WizardParaWidget::open(int level)
{
    m_level = std::clamp(level, 1, 2);
    if (!gpWPara || !gpWParaBak)
        return;
    gisSettingsOpen = false;  // no camera reads the copy while it is overwritten
    *gpWParaBak = *gpWPara;
    m_editing = true;
    // From here the camera setters read the edit copy, so the pictures follow the edit.
    gisSettingsOpen = true;
    for (ParaPage* p : m_pages)
        p->refresh(m_level);
    m_status->clear();
    ParaGroupUpdateList();
    showPage(m_stack->currentIndex());
}

void WizardParaWidget::showPage(int index)
{
    // The advanced page needs the advanced level.
    if (index == parafields::Advanced && m_level < 2)
        index = parafields::Common;
    m_stack->setCurrentIndex(std::clamp(index, 0, m_stack->count() - 1));
}

QList<int> WizardParaWidget::applyEdits()
{
    QList<int> notes;
    // Without an open dialog the edit copy holds nothing of the operator's.
    if (!m_editing || !gpWPara || !gpWParaBak)
        return notes;
    bool derive = false;
    for (const parafields::Change& c : parafields::changes(*gpWPara, *gpWParaBak)) {
        OperationRecord::instance().InsertRecord(c.line);
        if (c.field->note && !notes.contains(c.field->note))
            notes << c.field->note;
        derive = derive || parafields::derivesDetections(*c.field);
    }
    parafields::copyFields(*gpWPara, *gpWParaBak);
    // The mode in force now, unless it crosses mode 4 (that waits for the next
    // start); the detections follow any change of what they are derived from.
    gpWPara->ApplyPendingMode();
    if (derive && gpWPara->machine_mode == gpWPara->pending_machine_mode) {
        gpWPara->DeriveDetections();
        gpWPara->LoadSignalNames();
        startup::ensureFolders(numCamera);  // the template folders of detections now in use
        if (m_win && m_win->cycle())
            m_win->cycle()->DetectionsChanged();
    }
    gisUseStatistics = gpWPara->enable_statistics;
    if (gUseExternalTrigger != gpWPara->use_external_trigger) {
        gUseExternalTrigger = gpWPara->use_external_trigger;
        for (CameraDevice* d : gCameraDevices)
            if (d)
                d->CameraChangeTrig(true);
    }
    return notes;
}

bool WizardParaWidget::SlotOK()
{
    const QList<int> notes = applyEdits();
    m_editing = false;
    gisSettingsOpen = false;
    const bool saved = gpWPara && gpWPara->SaveDatatoFile();
    if (!saved) {
        OperationRecord::instance().InsertRecord(LanStrEn(160));
        warn(LanStr(160));
    }
    if (m_win) {
        m_win->applyIoSettings();
        m_win->restartActivityTimers();
        if (CNT_Net* net = m_win->net(); net && (net->restartWanted || networkPage()->serverChanged())) {
            net->restartWanted = false;
            networkPage()->clearServerChanged();
            net->restartClient("(change serverinfo) 'NetClinet' will restart...");
        }
    }
    if (!saved)
        return false;
    for (int n : notes)
        warn(LanStr(n));
    if (notes.isEmpty())
        m_status->setText(LanStr(1874));
    hide();
    return true;
}

void WizardParaWidget::SlotCancel()
{
    const bool speedEdited = m_editing && gpWPara && gpWParaBak && gpWPara->capture_speed != gpWParaBak->capture_speed;
    m_editing = false;
    gisSettingsOpen = false;
    // The cameras were following the edit: back to the live settings.
    std::vector<CameraDevice*> devices;
    for (CameraDevice* d : gCameraDevices)
        if (d) {
            devices.push_back(d);
            d->SetExposeTime();
            d->SetAdjustPlus();
            d->SetSharp();
            d->SetContrast();
            d->SetGamma();
            d->SetHMirror();
            d->SetVMirror();
        }
    if (speedEdited)
        CameraSetSpeed(devices);
    hide();
}

bool WizardParaWidget::SlotRestoreFactorySet()
{
    if (!ask(LanStr(1023) + "?"))
        return false;
    const QString package = QStringLiteral("paraGroup/default/20clearsh.tar.gz");
    // Without the package a restart would restore nothing: refuse instead of pretending.
    if (!QFile::exists(package)) {
        warn(LanStr(1877).arg(package));
        return false;
    }
    const QString target = QStringLiteral("newupdate.tar.gz");
    const QString part = target + ".part";
    QFile::remove(part);
    if (!QFile::copy(package, part) || (QFile::exists(target) && !QFile::remove(target)) || !QFile::rename(part, target)) {
        QFile::remove(part);
        warn(LanStr(1651).arg(target));
        return false;
    }
    platform::Host::instance().sync();
    OperationRecord::instance().InsertRecord(LanStr(1878));
    RestartStation();
    return true;
}

QString WizardParaWidget::status() const { return m_status->text(); }

void WizardParaWidget::ParaGroupUpdateList()
{
    const QSignalBlocker block(m_groups);
    m_groups->clear();
    const QStringList names = paragroups::list();
    for (int i = 0; i < names.size(); ++i)
        m_groups->addItem(names[i], i);
    if (gpWPara && gpWPara->para_group_index >= 0 && gpWPara->para_group_index < names.size())
        m_groups->setCurrentIndex(gpWPara->para_group_index);
}

void WizardParaWidget::SlotParaGroupChange(int index) { m_name->setText(m_groups->itemText(index)); }

bool WizardParaWidget::SlotParaGroupBackup()
{
    const QString name = m_name->text();
    const QString why = paragroups::refusal(name);
    if (!why.isEmpty()) {
        warn(why);
        return false;
    }
    if (!ask(LanStr(1503)))
        return false;
    // The dialog's values are applied and saved first, so the group holds what is shown.
    applyEdits();
    if (gpWPara && !gpWPara->SaveDatatoFile()) {
        warn(LanStr(160));
        return false;
    }
    if (paragroups::exists(name) && !ask(LanStr(1505)))
        return false;
    const paragroups::Result r = paragroups::backup(name, detectionsInUse());
    if (!r.ok) {
        warn(r.message);
        return false;
    }
    ParaGroupUpdateList();
    const int index = int(paragroups::list().indexOf(name));
    m_groups->setCurrentIndex(index);
    if (gpWPara) {
        gpWPara->para_group_index = index;
        gpWPara->SaveAddFile();
    }
    OperationRecord::instance().InsertRecord(LanStr(1659).arg(name));
    m_status->setText(LanStr(1659).arg(name));
    return true;
}

bool WizardParaWidget::SlotParaGroupRestore()
{
    const QString name = m_groups->currentText();
    if (name.isEmpty() || !ask(LanStr(1504)))
        return false;
    if (gpWPara) {
        gpWPara->para_group_index = m_groups->currentIndex();
        gpWPara->SaveAddFile();
    }
    // The files are replaced under closed databases; the restart reads them anew.
    paramdb::closeAll();
    const paragroups::Result r = paragroups::restore(name, detectionsInUse());
    if (!r.ok) {
        paramdb::openAll({});  // nothing was replaced: go on with the files in force
        warn(r.message);
        return false;
    }
    OperationRecord::instance().InsertRecord(LanStr(1649).arg(r.group));
    // The kept group may sort before it: the index names the restored group again.
    if (gpWPara) {
        gpWPara->para_group_index = int(paragroups::list().indexOf(name));
        gpWPara->SaveAddFile();
    }
    RestartStation();
    return true;
}

bool WizardParaWidget::SlotParaGroupDelete()
{
    const QString name = m_groups->currentText();
    if (name == QLatin1String(paragroups::kFactory)) {
        warn(LanStr(1887));
        return false;
    }
    if (name.isEmpty() || !ask(LanStr(1650)))
        return false;
    if (!paragroups::remove(name)) {
        warn(LanStr(1651).arg(name));
        return false;
    }
    OperationRecord::instance().InsertRecord(LanStr(1889).arg(name));
    ParaGroupUpdateList();
    return true;
}

bool WizardParaWidget::SlotExportData() { return m_win->exportDataCommand(); }
bool WizardParaWidget::SlotUpdateApp() { return m_win->updateProgramCommand(); }
