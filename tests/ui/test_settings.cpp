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
    QStringList asked, warned;
    int restarts = 0;
    page->ask = [&](const QString& q) {
        asked << q;
        return true;
    };
    page->warn = [&](const QString& w) { warned << w; };
    page->restartStation = [&] { ++restarts; };
    page->ParaGroupUpdateList();
    EXPECT_EQ(page->groups()->itemText(0), "default") << "the factory group";

    page->groupName()->setText("../outside");
    EXPECT_FALSE(page->SlotParaGroupBackup());
    EXPECT_EQ(warned.last(), LanStr(1647));
    EXPECT_TRUE(asked.isEmpty()) << "refused before any question";

    page->groupName()->setText("mould-7");
    ASSERT_TRUE(page->SlotParaGroupBackup()) << warned.join("; ").toStdString();
    EXPECT_EQ(asked.last(), LanStr(1503));
    EXPECT_EQ(page->groups()->currentText(), "mould-7");
    EXPECT_EQ(gpWPara->para_group_index, page->groups()->currentIndex());
    EXPECT_TRUE(QFile::exists("paraGroup/mould-7/PARAM.db"));
    EXPECT_EQ(recordRemarks().last(), "Parameter group backed up: mould-7");
    // Again under the same name: asked whether to cover it.
    ASSERT_TRUE(page->SlotParaGroupBackup());
    EXPECT_EQ(asked.last(), LanStr(1505));

    ASSERT_TRUE(page->SlotParaGroupRestore()) << warned.join("; ").toStdString();
    EXPECT_EQ(asked.last(), LanStr(1504));
    EXPECT_EQ(restarts, 1);
    EXPECT_TRUE(recordRemarks().contains("Parameter group restored: mould-7"));
    const QStringList groups = paragroups::list();
    EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [](const QString& g) { return g.startsWith("kept-"); }));

    page->ParaGroupUpdateList();
    page->groups()->setCurrentIndex(int(paragroups::list().indexOf("mould-7")));
    const int index = gpWPara->para_group_index;
    ASSERT_TRUE(page->SlotParaGroupDelete());
    EXPECT_EQ(asked.last(), LanStr(1650));
    EXPECT_FALSE(paragroups::list().contains("mould-7"));
    EXPECT_EQ(gpWPara->para_group_index, index) << "deleting leaves the stored index";
    qunsetenv("STATION_ANSWER");
}
