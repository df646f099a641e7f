// The settings page's parameter groups: a backup under a typed name, a
// hostile name refused, a restore that restarts, a delete.
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "Messages.h"
#include "ParaGroups.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WindowEnv.h"
#include "WizardPara.h"
#include "WizardParaWidget.h"
#include "Touch.h"

#include <QComboBox>
#include <QDir>
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

    // The factory group is never deleted.
    page->ParaGroupUpdateList();
    page->groups()->setCurrentIndex(int(paragroups::list().indexOf("default")));
    EXPECT_FALSE(page->SlotParaGroupDelete());
    EXPECT_EQ(last(op.warned), shown(1887));
    EXPECT_TRUE(paragroups::list().contains("default"));

    // Another group, deleted again.
    page->groupName()->setText("mould-8");
    ASSERT_TRUE(page->SlotParaGroupBackup());
    page->ParaGroupUpdateList();
    page->groups()->setCurrentIndex(int(paragroups::list().indexOf("mould-8")));
    const int index = gpWPara->para_group_index;
    ASSERT_TRUE(page->SlotParaGroupDelete());
    EXPECT_EQ(last(op.asked), shown(1650));
    EXPECT_FALSE(paragroups::list().contains("mould-8"));
    EXPECT_TRUE(recordRemarks().contains("Parameter group deleted: mould-8"));
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
    // The kept group sorts before it: the stored index still names the restored group.
    EXPECT_EQ(readText("sysadd.txt").trimmed().toInt(), groups.indexOf("mould-7"));
    qunsetenv("STATION_ANSWER");
}

TEST(SettingsPage, InTwoColorAGroupHoldsTheTemplatesOfAllFourDetections)
{
    TestDir dir;
    prepareUnattendedWindow(dir);
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.machine_mode = wp.pending_machine_mode = 1;
        wp.multi_detect_num = 2;  // the multi-detection count, not this mode's
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
    }
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    ASSERT_EQ(gDNum, 4);
    for (int d = 1; d <= 4; ++d) {
        QDir().mkpath(QStringLiteral("cammer1%1").arg(d));
        writeText(QStringLiteral("cammer1%1/template0.bmp").arg(d), QByteArray::number(d));
    }
    WizardParaWidget* page = winStation->settingsPage();
    touch::PanelOperator op;
    page->groupName()->setText("two-color");
    ASSERT_TRUE(page->SlotParaGroupBackup()) << op.warned.join("; ").toStdString();
    for (int d = 1; d <= 4; ++d)
        EXPECT_EQ(readText(QStringLiteral("paraGroup/two-color/cammer1%1/template0.bmp").arg(d)), QString::number(d))
            << "detection " << d;
    qunsetenv("STATION_ANSWER");
}
