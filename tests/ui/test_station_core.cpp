// The station without its screen, in-process: it comes up, prohibits
// clamping before anything is judged, detects, and where it would ask the
// operator and nobody is there, it takes the safe answer.
#include "ControlPort.h"
#include "Globals.h"
#include "Messages.h"
#include "Station.h"
#include "StationCore.h"
#include "TestDir.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include "DetectionCycle.h"
#include <gtest/gtest.h>

namespace {
struct Headless : ::testing::Test {
    TestDir dir;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        gRebootPending = false;
        gDatabaseFault = false;
        // No board here: the link keeps retrying a device that is not there.
        qputenv("STATION_IO_PORT", dir.file("no-board").toUtf8());
        prepareStation();
    }
    void TearDown() override
    {
        qunsetenv("STATION_IO_PORT");
        gPasswordLevel = 0;
    }
};
} // namespace

TEST_F(Headless, ComesUpProhibitingThenDetectsWithoutAnyWidget)
{
    StationCore core;
    core.bringUp();
    ASSERT_NE(core.io(), nullptr);
    ASSERT_NE(core.cycle(), nullptr);
    // Built, not yet run: the first word already prohibits clamping, nothing detects.
    EXPECT_EQ(core.io()->outputOn(0), 1);
    EXPECT_FALSE(core.isDetecting());
    core.run();
    EXPECT_TRUE(core.isDetecting());
    EXPECT_EQ(core.io()->outputOn(0), 1);  // a start is not a verdict
    EXPECT_TRUE(recordRemarks().contains("The system is ready, there is 2 cameras"));
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST_F(Headless, ASuspectClockIsSettledBeforeAnythingIsJudged)
{
    QFile::remove("realytime.txt");
    StationCore core;
    bool asked = false, detectingMeanwhile = true, tickingMeanwhile = true, prohibitedMeanwhile = false;
    core.side.chooseTime = [&](QDateTime*) {
        asked = true;
        detectingMeanwhile = core.isDetecting();
        tickingMeanwhile = core.cycle()->runTimer().isActive();
        prohibitedMeanwhile = core.io()->outputOn(0) == 1;
        return false;  // the operator declines
    };
    core.bringUp();
    core.run();
    ASSERT_TRUE(asked);
    EXPECT_FALSE(detectingMeanwhile);
    EXPECT_FALSE(tickingMeanwhile) << "no mould is judged while the clock is in question";
    EXPECT_TRUE(prohibitedMeanwhile);
    EXPECT_FALSE(core.isDetecting());
}

TEST_F(Headless, NobodyToSetASuspectClockLeavesDetectionStopped)
{
    QFile::remove("realytime.txt");
    StationCore core;
    core.bringUp();
    core.run();
    EXPECT_FALSE(core.isDetecting());
    EXPECT_EQ(core.io()->outputOn(0), 1);
    const QStringList r = recordRemarks();
    EXPECT_TRUE(r.contains(LanStr(1001)));
    EXPECT_TRUE(r.contains(LanStr(1002)));
    for (const QString& a : hostActions())
        EXPECT_FALSE(a.startsWith("set-time") || a == "reboot") << a.toStdString();
}

TEST_F(Headless, NobodyToConfirmTheEndKeepsTheStationRunning)
{
    StationCore core;
    core.bringUp();
    core.run();
    ASSERT_TRUE(core.isDetecting());
    EXPECT_FALSE(core.SlotExit());
    EXPECT_FALSE(core.SlotPowerOff());
    EXPECT_TRUE(core.isDetecting());
    EXPECT_FALSE(hostActions().contains("poweroff"));
}
