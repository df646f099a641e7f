// The operator's commands of the main window: the password level, the
// inactivity logout, ending the program and switching the computer off.
#include "Boxes.h"
#include "ControlPort.h"
#include "Counters.h"
#include "DetectionCycle.h"
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "Keypads.h"
#include "Messages.h"
#include "TestDir.h"
#include "Touch.h"
#include "WindowEnv.h"
#include "UserManager.h"
#include "WizardPara.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {
struct MainWindow : ::testing::Test {
    TestDir dir;
    std::optional<QString> typed;
    std::unique_ptr<touch::PanelOperator> op;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        prepareUnattendedWindow(dir);
    }
    // From the station's start on, an operator answers at the panel, typing `typed`
    // into the password box.
    void atPanel()
    {
        op = std::make_unique<touch::PanelOperator>();
        op->password = [this] { return typed; };
    }
    int typedCount() const { return op ? op->passwordsAsked : 0; }
    void TearDown() override
    {
        op.reset();
        qunsetenv("STATION_ANSWER");
        gPasswordLevel = 0;
    }
};
} // namespace

TEST_F(MainWindow, ThePasswordLevelComesFromThePasswordBox)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    atPanel();
    gpWPara->is_psw_used = 0;
    EXPECT_EQ(win.CheckPassword(), 2);  // no protection: everything is open
    EXPECT_EQ(typedCount(), 0);
    gpWPara->is_psw_used = 1;
    SetParaText(gpWPara->password, "4711");
    typed = "1234";
    EXPECT_EQ(win.CheckPassword(), 0);
    EXPECT_EQ(gpPasswordBox->placeholder(), "The password is wrong");
    typed = "4711";
    EXPECT_EQ(win.CheckPassword(), 1);
    EXPECT_EQ(win.levelLabel(), "Primary");
    EXPECT_EQ(win.CheckPassword(), 1);  // kept: not asked again
    EXPECT_EQ(typedCount(), 2);
    EXPECT_FALSE(win.CheckRoot());
    typed = "5260" + QDateTime::currentDateTime().toString("MMddhh");
    EXPECT_TRUE(win.CheckRoot());
    EXPECT_EQ(win.levelLabel(), "Advanced");
    win.TimerLogout();
    EXPECT_EQ(gPasswordLevel, 0);
    EXPECT_EQ(win.levelLabel(), "Unlogged");
}

TEST_F(MainWindow, InactivityLogsOutAfterTheConfiguredSeconds)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    atPanel();
    gpWPara->auto_cancel_timelen = 1;
    QString msg;
    ASSERT_TRUE(UserManager::instance().changeUser("admin", "5260", msg) ||
                UserManager::instance().changeUser("admin",
                                                   "5260" + QDateTime::currentDateTime().toString("MMddhh"), msg));
    gPasswordLevel = 2;
    win.restartActivityTimers();
    EXPECT_EQ(win.autoLogoutTimer().interval(), 1000);
    QTest::qWait(600);
    EXPECT_EQ(gPasswordLevel, 2);
    win.restartActivityTimers();  // a touch: the second starts again
    QTest::qWait(600);
    EXPECT_EQ(gPasswordLevel, 2);
    QTest::qWait(700);
    EXPECT_EQ(gPasswordLevel, 0);
    EXPECT_EQ(UserManager::instance().getUserType(), 0);
}

TEST_F(MainWindow, PowerOffIsRecordedAndGoesThroughTheHost)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    atPanel();
    gpWPara->is_psw_used = 1;
    typed = std::nullopt;  // cancelled: nothing happens
    EXPECT_FALSE(win.SlotPowerOff());
    EXPECT_FALSE(hostActions().contains("poweroff"));
    typed = "5260" + QDateTime::currentDateTime().toString("MMddhh");
    gAllNum[0] = 41;
    EXPECT_TRUE(win.SlotPowerOff());
    EXPECT_TRUE(hostActions().contains("poweroff"));
    EXPECT_TRUE(recordRemarks().contains("Turning the power off Manually"));
    EXPECT_EQ(readText("count.txt").section(' ', 0, 0), "41");
}

TEST_F(MainWindow, LoggedOutTheStopNeedsTheOperatorsRightAndTheSettingsAskForTheServiceLevelAgain)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    atPanel();
    gpWPara->is_psw_used = 1;
    SetParaText(gpWPara->password, "4711");
    gPasswordLevel = 1;  // the system password was typed; nobody is logged in
    ASSERT_TRUE(win.isDetecting());
    auto* stop = win.findChild<QPushButton*>("startStop");
    ASSERT_NE(stop, nullptr);
    stop->click();
    EXPECT_TRUE(win.isDetecting()) << "a logged-out person stopped detection without the operators' right";
    EXPECT_TRUE(recordRemarks().contains(LanStr(1731).arg(0).arg(UserManager::typeLabel(0), LanStr(1415))));
    // Granted to the operators, the logged-out person has it too.
    const int none[7] = {}, stopRight[7] = {1, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(UserManager::instance().RecordPermission(none, stopRight));
    stop->click();
    EXPECT_FALSE(win.isDetecting());

    // Entering the settings drops the service level to the system level and asks again.
    gPasswordLevel = 2;
    typed = std::nullopt;
    win.findChild<QPushButton*>("settings")->click();
    EXPECT_EQ(gPasswordLevel, 1);
    EXPECT_EQ(typedCount(), 0);  // the system level stands while protected: not asked
    gpWPara->is_psw_used = 0;
    gPasswordLevel = 2;
    win.findChild<QPushButton*>("settings")->click();
    EXPECT_EQ(gPasswordLevel, 0);
}

TEST_F(MainWindow, TheRunningStationHasItsKeypadsAndThePasswordIsTypedOnThem)
{
    const auto winStation = buildStation();
    ASSERT_TRUE(winStation);
    DiVeZoruzo& win = *winStation;
    atPanel();
    ASSERT_NE(gpNumPad, nullptr) << "no number can be entered in the running station";
    ASSERT_NE(gpNumCharPad, nullptr);
    gpWPara->is_psw_used = 0;
    // Without password protection "Log in" says why nothing is asked.
    win.findChild<QPushButton*>("login")->click();
    EXPECT_EQ(gpWarnBox->text(), LanStr(1745));
    EXPECT_TRUE(touch::typeNumber("7", [&] { win.findChild<QPushButton*>("ngWarnCount")->click(); }));
    EXPECT_EQ(gpWPara->roi_ng_warn_count, 7);
    // The password field takes no keyboard: a tap opens the text pad, masked.
    auto* field = gpPasswordBox->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isReadOnly());
    EXPECT_TRUE(touch::typeText("4711", [&] { QTest::mouseClick(field, Qt::LeftButton); }));
    EXPECT_EQ(field->text(), "4711");
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
}
