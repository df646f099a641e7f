#include "WizardParaWidget.h"

#include "Boxes.h"
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
#include <QVBoxLayout>

namespace {
int detectionsInUse() { return gpWPara ? std::clamp(gpWPara->multi_detect_num, 2, 8) : 2; }
} // namespace

WizardParaWidget::WizardParaWidget(DiVeZoruzo* win, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_win(win)
{
    setObjectName("settingsPage");
    setStyleSheet("#settingsPage{background:#20242c;} QLabel{color:white;} QComboBox{min-height:52px;}");
    QFont f;
    f.setPixelSize(20);
    auto* lay = new QVBoxLayout(this);
    auto* title = new QLabel(this);
    setLan(title, 1654);
    QFont big;
    big.setPixelSize(26);
    title->setFont(big);
    lay->addWidget(title);

    auto* grid = new QGridLayout;
    m_groups = new QComboBox(this);
    m_groups->setFont(f);
    m_name = new QLineEdit(this);
    m_name->setFont(f);
    m_name->setMinimumHeight(52);
    openTextPadOnTap(m_name, 1653, paragroups::kMaxName);
    auto* groupsLabel = new QLabel(this);
    setLan(groupsLabel, 1655);
    groupsLabel->setFont(f);
    grid->addWidget(groupsLabel, 0, 0);
    grid->addWidget(m_groups, 0, 1, 1, 2);
    grid->addWidget(m_name, 1, 1, 1, 2);
    int n = 6;
    auto add = [&](int text, const char* name, std::function<void()> action) {
        QPushButton* b = lanButton(this, text, name, 20, {220, 60});
        connect(b, &QPushButton::clicked, this, std::move(action));
        grid->addWidget(b, n / 3, n % 3);
        ++n;
    };
    add(1656, "groupBackup", [this] { SlotParaGroupBackup(); });
    add(1657, "groupRestore", [this] { SlotParaGroupRestore(); });
    add(1658, "groupDelete", [this] { SlotParaGroupDelete(); });
    add(1635, "cavityNames", [this] { m_win->showCavityPage(); });
    add(1646, "accounts", [this] { m_win->showAccountPage(); });
    add(1634, "record", [this] { m_win->showRecordPage(); });
    add(1540, "exportData", [this] { SlotExportData(); });
    add(1541, "update", [this] { SlotUpdateApp(); });
    add(1019, "back", [this] { hide(); });
    lay->addLayout(grid);
    m_status = new QLabel(this);
    m_status->setFont(f);
    m_status->setWordWrap(true);
    lay->addWidget(m_status);
    lay->addStretch(1);
    connect(m_groups, &QComboBox::activated, this, &WizardParaWidget::SlotParaGroupChange);

    ask = [](const QString& q) { return gpChooseBox && gpChooseBox->ask(q) == 1; };
    warn = [this](const QString& w) {
        m_status->setText(w);
        if (gpWarnBox)
            gpWarnBox->showMessage(w);
    };
    restartStation = RestartStation;
    QDir().mkpath("paraGroup");
    ParaGroupUpdateList();
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
    restartStation();
    return true;
}

bool WizardParaWidget::SlotParaGroupDelete()
{
    const QString name = m_groups->currentText();
    if (name.isEmpty() || !ask(LanStr(1650)))
        return false;
    if (!paragroups::remove(name)) {
        warn(LanStr(1651).arg(name));
        return false;
    }
    ParaGroupUpdateList();
    return true;
}

bool WizardParaWidget::SlotExportData() { return m_win->exportDataCommand(); }
bool WizardParaWidget::SlotUpdateApp() { return m_win->updateProgramCommand(); }
