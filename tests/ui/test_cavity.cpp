// The cavity names: their file, the page's edit lifecycle, refused names,
// a broken file, and the names on the camera views in the three languages.
#include "CameraSet.h"
#include "CavityNames.h"
#include "CycleView.h"
#include "DetectionCycle.h"
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "ImageLib.h"
#include "Keypads.h"
#include "Messages.h"
#include "TestDir.h"
#include "WindowEnv.h"
#include "WizardPara.h"

#include <QDir>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <gtest/gtest.h>

namespace {
// Rows of a table as camera -> names.
QMap<QString, QString> rows(const QString& table)
{
    QMap<QString, QString> out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peekCavity");
        db.setDatabaseName("CavityDatabase.db");
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        q.exec("select Camera, CavityName from " + table);
        while (q.next())
            out.insert(q.value(0).toString(), q.value(1).toString());
    }
    QSqlDatabase::removeDatabase("peekCavity");
    return out;
}

struct Cavity : ::testing::Test {
    TestDir dir;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        LoadLanStr();
        gLan = 1;
        numCamera = 2;
    }
};
} // namespace

TEST_F(Cavity, AFreshFileHasEightRowsPerTableWithTheDefaultNames)
{
    EditCavitywidget page;
    for (const QString& table : {QString("CavityName_table"), QString("TempSave_table")}) {
        const auto r = rows(table);
        ASSERT_EQ(r.size(), 8) << table.toStdString();
        EXPECT_EQ(r.value("Camera7").split(' ').size(), 16);
        EXPECT_EQ(r.value("Camera0").section(' ', 0, 0), QString::fromUtf8("模腔1"));
        EXPECT_EQ(r.value("Camera0").section(' ', 15, 15), QString::fromUtf8("模腔16"));
    }
    EXPECT_EQ(page.getResult(1, 2), QString::fromUtf8("模腔3"));
    EXPECT_EQ(page.getResult(2, 0), QString()) << "only cameras in use";
    EXPECT_EQ(page.getResult(0, 16), QString());
}

TEST_F(Cavity, EditsStayInTheEditTableUntilAcceptedAndRefusedNamesShiftNothing)
{
    EditCavitywidget page;
    page.init();
    page.edit(0)->setText("left");
    ASSERT_TRUE(page.SlotChangeCam(1));
    page.edit(15)->setText("right");
    ASSERT_TRUE(page.SlotChangeCam(0));
    EXPECT_EQ(page.edit(0)->text(), "left") << "the unsaved edit of camera 1 is kept";
    EXPECT_EQ(page.getResult(0, 0), QString::fromUtf8("模腔1")) << "not in force before Accept";

    // A blank would split the name and shift the rest: refused, nothing stored.
    page.edit(3)->setText("a b");
    EXPECT_FALSE(page.Accept());
    EXPECT_TRUE(page.status().startsWith("4: ")) << page.status().toStdString();
    EXPECT_EQ(page.getResult(0, 4), QString::fromUtf8("模腔5"));
    page.edit(3)->setText("");
    EXPECT_FALSE(page.SlotChangeCam(1));
    EXPECT_EQ(page.camera(), 0);

    page.edit(3)->setText("d");
    ASSERT_TRUE(page.Accept());
    EXPECT_EQ(page.getResult(0, 0), "left");
    EXPECT_EQ(page.getResult(0, 3), "d");
    EXPECT_EQ(page.getResult(1, 15), "right");
    EXPECT_EQ(page.getResult(0, 4), QString::fromUtf8("模腔5"));
    EXPECT_EQ(recordRemarks().last(), "Cavity names updated");

    // Cancel: the next opening starts again from the names in force.
    page.init();
    page.edit(1)->setText("draft");
    page.Reject();
    page.init();
    EXPECT_EQ(page.edit(1)->text(), QString::fromUtf8("模腔2"));
}

TEST_F(Cavity, TheOperatorsNamesSurviveAMissingEditTableAndABrokenFileIsKeptAside)
{
    {
        EditCavitywidget page;
        page.init();
        page.edit(0)->setText("kept");
        ASSERT_TRUE(page.Accept());
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "dropEdit");
        db.setDatabaseName("CavityDatabase.db");
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec("drop table TempSave_table");
    }
    QSqlDatabase::removeDatabase("dropEdit");
    {
        EditCavitywidget page;
        EXPECT_EQ(page.getResult(0, 0), "kept");
        EXPECT_EQ(rows("TempSave_table").size(), 8);
    }
    writeText("CavityDatabase.db", "this is not a database");
    EditCavitywidget page;
    EXPECT_EQ(page.getResult(0, 0), QString::fromUtf8("模腔1"));
    const QStringList aside = QDir().entryList({"CavityDatabase.db.broken-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readText(aside.first()), "this is not a database");
}

TEST_F(Cavity, TheViewsShowTheNamesInAnyLanguage)
{
    prepareUnattendedWindow(dir);
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    ASSERT_NE(gpCavity, nullptr);
    CammerView* cam = win.cameras()->view(0);
    const int d = win.cycle()->curDetect();
    SetImageBounds(640, 480);
    while (cam->para.roi_count[d] < 3)
        ASSERT_GE(cam->para.AddRect(d, {10, 10}, {60, 60}, *gpWPara), 0);
    gpWPara->enable_show_mold_no = 1;
    gpCavity->init();
    const QStringList names{QString::fromUtf8("上盖"), "Lid", QString::fromUtf8("上蓋")};
    for (int i = 0; i < 3; ++i)
        gpCavity->edit(i)->setText(names[i]);
    ASSERT_TRUE(gpCavity->Accept());
    QTest::qWait(250);
    const QStringList shown = win.cycleView()->tile(0)->labelTexts();
    ASSERT_GE(shown.size(), 3);
    EXPECT_EQ(shown.mid(0, 3), names);
    qunsetenv("STATION_ANSWER");
}
