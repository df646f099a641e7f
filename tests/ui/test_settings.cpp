// The settings page's parameter groups: a backup under a typed name, a
// hostile name refused, a restore that restarts, a delete.
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "Messages.h"
#include "ParaGroups.h"
#include "TestDir.h"
#include "WindowEnv.h"
#include "WizardPara.h"
#include "WizardParaWidget.h"
#include "Touch.h"

#include <QComboBox>
#include <QLineEdit>
#include <gtest/gtest.h>

TEST(SettingsPage, GroupsAreBackedUpRestoredAndDeletedWithTheirQuestions)
{
    TestDir dir;
    prepareUnattendedWindow(dir);
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    gLan = 1;
    WizardParaWidget* page = win.settingsPage();
    touch::PanelOperator op;
    const auto shown = [](int message) { return touch::PanelOperator::shown(LanStr(message)); };
    const auto last = [](const QStringList& l) { return l.isEmpty() ? QString() : l.last(); };
    page->ParaGroupUpdateList();
    EXPECT_EQ(page->groups()->itemText(0), "default") << "the factory group";

    page->groupName()->setText("../outside");
    EXPECT_FALSE(page->SlotParaGroupBackup());
    EXPECT_EQ(last(op.warned), shown(1647));
    EXPECT_TRUE(op.asked.isEmpty()) << "refused before any question";

    page->groupName()->setText("mould-7");
    ASSERT_TRUE(page->SlotParaGroupBackup()) << op.warned.join("; ").toStdString();
    EXPECT_EQ(last(op.asked), shown(1503));
    EXPECT_EQ(page->groups()->currentText(), "mould-7");
    EXPECT_EQ(gpWPara->para_group_index, page->groups()->currentIndex());
    EXPECT_TRUE(QFile::exists("paraGroup/mould-7/PARAM.db"));
    EXPECT_EQ(recordRemarks().last(), "Parameter group backed up: mould-7");
    // Again under the same name: asked whether to cover it.
    ASSERT_TRUE(page->SlotParaGroupBackup());
    EXPECT_EQ(last(op.asked), shown(1505));

    // Another group, deleted again.
    page->groupName()->setText("mould-8");
    ASSERT_TRUE(page->SlotParaGroupBackup());
    page->ParaGroupUpdateList();
    page->groups()->setCurrentIndex(int(paragroups::list().indexOf("mould-8")));
    const int index = gpWPara->para_group_index;
    ASSERT_TRUE(page->SlotParaGroupDelete());
    EXPECT_EQ(last(op.asked), shown(1650));
    EXPECT_FALSE(paragroups::list().contains("mould-8"));
    EXPECT_EQ(gpWPara->para_group_index, index) << "deleting leaves the stored index";

    // A restore takes effect at the next start: the station restarts.
    page->groups()->setCurrentIndex(int(paragroups::list().indexOf("mould-7")));
    ASSERT_TRUE(page->SlotParaGroupRestore()) << op.warned.join("; ").toStdString();
    EXPECT_EQ(last(op.asked), shown(1504));
    EXPECT_EQ(hostActions().count("reboot"), 1);
    EXPECT_TRUE(gRebootPending);
    EXPECT_TRUE(recordRemarks().contains("Parameter group restored: mould-7"));
    const QStringList groups = paragroups::list();
    EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [](const QString& g) { return g.startsWith("kept-"); }));
    qunsetenv("STATION_ANSWER");
}
