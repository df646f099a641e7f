#include "CycleRig.h"

#include "Counters.h"
#include "Detection.h"
#include "Globals.h"
#include "ImageArchive.h"
#include "LedDevice.h"
#include "Messages.h"
#include "Panel.h"
#include "ParamDb.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <opencv2/imgcodecs.hpp>

namespace {
// The operator at the panel: what they answer and which password they know.
struct Commands : CycleRig {
    int level = 0;              // what CheckPassword gives
    bool dialogAccepts = false;
    bool confirm = true;
    QStringList asked, warned;
    int passwordAsks = 0, dialogAsks = 0;
    void start(int cameras = 1)
    {
        CycleRig::start(cameras);
        OperatorHooks& h = cycle->hooks();
        h.checkPassword = [this] {
            ++passwordAsks;
            return level;
        };
        h.passwordDialog = [this] {
            ++dialogAsks;
            return dialogAccepts;
        };
        h.ask = [this](const QString& q) {
            asked << q;
            return confirm;
        };
        h.warn = [this](const QString& w) { warned << w; };
    }
};
} // namespace

TEST_F(Commands, StartAndStopWithTheirProtection)
{
    wp.enable_stop_mold = 1;
    start();
    platform::LedDevice::instance().open();
    // Stopping wants the password check...
    cycle->SlotStartStop();
    EXPECT_TRUE(cycle->isDetecting());
    EXPECT_EQ(passwordAsks, 1);
    EXPECT_TRUE(asked.isEmpty());
    // ...then the confirmation.
    level = 1;
    confirm = false;
    cycle->SlotStartStop();
    EXPECT_TRUE(cycle->isDetecting());
    EXPECT_EQ(asked.last(), LanStr(140));
    confirm = true;
    cycle->SlotStartStop();
    EXPECT_FALSE(cycle->isDetecting());
    EXPECT_TRUE(outputs(O1));  // stopped with "stop clamping when stopping detection"
    EXPECT_TRUE(recordRemarks().contains("Stop the detection manually "));
    // Starting needs nothing.
    const int asks = passwordAsks;
    cycle->SlotStartStop();
    EXPECT_TRUE(cycle->isDetecting());
    EXPECT_EQ(passwordAsks, asks);
    EXPECT_TRUE(recordRemarks().contains("Start the detection manually "));
    EXPECT_TRUE(outputs(O1));  // a start is not a verdict

    // With the stop protection and no password box, the password dialog decides.
    wp.enable_stop_pass_protect = 1;
    wp.is_psw_used = 0;
    cycle->SlotStartStop();
    EXPECT_EQ(dialogAsks, 1);
    EXPECT_TRUE(cycle->isDetecting());
    dialogAccepts = true;
    cycle->SlotStartStop();
    EXPECT_FALSE(cycle->isDetecting());

    // A logged-in account without the stop right cannot stop.
    cycle->SlotStartStop();
    cycle->hooks().permission = [](int right) { return right != 0; };
    cycle->SlotStartStop();
    EXPECT_TRUE(cycle->isDetecting());
    // Nor while the settings are open.
    cycle->hooks().permission = {};
    cycle->hooks().pagesOpen = [] { return true; };
    cycle->SlotStartStop();
    EXPECT_TRUE(cycle->isDetecting());
}

TEST_F(Commands, SnapshotsOfDetectionsThatMayNotRunAreConsumed)
{
    wp.enable_prod_detect = 0;
    start();
    cycle->SlotManualTrig0();
    tick();
    EXPECT_EQ(warned, QStringList{LanStr(145)});
    EXPECT_TRUE(verdicts.isEmpty());
    cycle->SlotManualTrig1();
    tick();
    EXPECT_EQ(judgedCount(1), 1);
    cycle->SlotMuliManualTrig(5);  // beyond the detections of this mode
    tick();
    EXPECT_EQ(verdicts.size(), 1);
}

TEST_F(Commands, WithoutCamerasASnapshotJudgesTheRollingTestPictures)
{
    wp.enable_prod_detect = 0;
    start();
    silence(0);  // no camera: only the snapshot's test pictures
    QDir().mkpath("cammer15");
    ASSERT_TRUE(cv::imwrite("cammer15/template0.bmp", blemishFor(1)));
    ASSERT_TRUE(cv::imwrite("cammer15/template1.bmp", scene));
    cycle->SlotManualTrig1();
    tick();
    ASSERT_EQ(judgedCount(1), 1);
    EXPECT_FALSE(std::get<2>(verdicts.last()));  // the marked picture
    cycle->AlarmDontDetect();
    cycle->SlotManualTrig1();
    tick();
    ASSERT_EQ(judgedCount(1), 2);
    EXPECT_TRUE(std::get<2>(verdicts.last()));
    EXPECT_EQ(cycle->testImageNumber(), 2);
}

TEST_F(Commands, SkipDetectAsksCountsAndDetectsAgain)
{
    wp.enable_skip_detect = 1;
    wp.skip_detect_times = 3;
    start();
    QSignalSpy skip(cycle.get(), &DetectionCycle::skipChanged);
    confirm = false;
    cycle->SlotStartSkipDetect();
    EXPECT_EQ(asked.last(), LanStr(574).arg(3));
    EXPECT_FALSE(cycle->skipActive());
    confirm = true;
    cycle->SlotStartSkipDetect();
    EXPECT_TRUE(cycle->skipActive());
    // The operator lets these cycles run unjudged: a skipped opening lets the
    // mould close, or the machine would stand open for ever.
    for (int i = 0; i < 3; ++i) {
        openMould();
        EXPECT_EQ(logicalOutputs() & O1, 0) << "skipped cycle " << i + 1;
    }
    EXPECT_TRUE(verdicts.isEmpty());
    EXPECT_TRUE(recordRemarks().contains("skip 3 Detect"));
    EXPECT_FALSE(cycle->skipActive());
    openMould();
    EXPECT_EQ(judgedCount(1), 1);
    // Stopping it by hand.
    cycle->SlotStartSkipDetect();
    ASSERT_TRUE(cycle->skipActive());
    cycle->SlotStartSkipDetect();
    EXPECT_EQ(asked.last(), LanStr(578));
    EXPECT_FALSE(cycle->skipActive());
    EXPECT_EQ(skip.count(), 4);
}

TEST_F(Commands, DontDetectWithItsProtectionClearsTheAlarmAndCaptionsThePicture)
{
    wp.enable_disarm_before_open = 1;
    wp.ng_max_num = 5;
    start();
    SaveFialImageThread writer(1, gPicNumNG, gPicNumOK);
    writer.pauseMs = 0;
    seeAll(blemishFor(1));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    cycle->SlotNoCheckCur();  // no password
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    level = 2;
    cycle->SlotNoCheckCur();  // the door was not opened
    EXPECT_EQ(warned.last(), LanStr(195));
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    edge(2);  // the door closes: a re-detection, still marked
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_FALSE(gisSafeDoorOpen);
    input(2, false);  // and opens
    tick();
    ASSERT_TRUE(gisSafeDoorOpen);
    confirm = false;
    cycle->SlotNoCheckCur();
    EXPECT_EQ(asked.last(), LanStr(102));
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    confirm = true;
    cycle->SlotNoCheckCur();
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(recordRemarks().contains("All cameras do not detect this mold"));
    writer.writePending();
    EXPECT_EQ(QDir(ArchiveFolder(0, 1, true)).entryList({"*.jpg"}).size(), 1);
}

TEST_F(Commands, DontDetectForOneCameraWantsAnAlarmedCamera)
{
    start(2);
    level = 1;
    cv::Mat b = blemishFor(1);
    see(0, scene);
    see(1, b);
    openMould();
    ASSERT_EQ(cycle->alarmCameras(), QList<int>{1});
    cycle->SlotNoCheckCur(0);
    EXPECT_EQ(warned.last(), LanStr(107));
    cycle->SlotNoCheckCur(1);
    EXPECT_EQ(asked.last(), LanStr(105).arg(2));
    EXPECT_EQ(cycle->awaitingFrames(), 1);  // camera 1 is judged again on its next picture
    tick();
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(recordRemarks().contains("Camera 2 do not detect the mold"));
}

TEST_F(Commands, ResamplingTakesEveryTemplateThenOpensTheEditor)
{
    start();
    QSignalSpy editor(cycle.get(), &DetectionCycle::editorRequested);
    level = 1;
    confirm = false;
    cycle->SlotReTrain();
    EXPECT_FALSE(cycle->resampling());
    confirm = true;
    cycle->SlotReTrain();
    ASSERT_TRUE(cycle->resampling());
    EXPECT_EQ(asked.last(), LanStr(137));
    EXPECT_TRUE(recordRemarks().contains("Resampling template"));
    // The next frames become the templates, whatever they show.
    cv::Mat changed = blemishFor(1);
    seeAll(changed);
    openMould();
    EXPECT_EQ(cycle->resultState(), int(DetectionCycle::Editing));
    EXPECT_EQ(editor.count(), 1);
    EXPECT_TRUE(outputs(O1));  // the mould stays shut while the regions are edited
    const cv::Mat stored = cv::imread("cammer12/template0.bmp", cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(cv::norm(stored, changed, cv::NORM_INF), 0);
    // Verdicts are ignored while editing; leaving the editor detects again and
    // judges the mould standing open at once, on the new templates.
    const int judged = judgedCount(1);
    cycle->BackTrain();
    EXPECT_EQ(cycle->runState(), int(DetectionCycle::Detecting));
    EXPECT_TRUE(outputs(O1));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        tick();
        return judgedCount(1) > judged;
    }, 10000));
    EXPECT_TRUE(std::get<2>(verdicts.last()));  // the marked picture is now the reference
    EXPECT_TRUE(outputs(0));
    seeAll(changed);
    openMould();
    EXPECT_TRUE(std::get<2>(verdicts.last()));

    // Refused in the alarm, and with a refused password the editor stays shut.
    seeAll(scene);
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    cycle->SlotReTrain();
    EXPECT_FALSE(cycle->resampling());
    cycle->AlarmDontDetect();
    cycle->SlotReTrain();
    ASSERT_TRUE(cycle->resampling());
    level = 0;
    seeAll(scene);
    openMould();
    EXPECT_EQ(cycle->runState(), int(DetectionCycle::Detecting));
    EXPECT_EQ(editor.count(), 1);
}

TEST_F(Commands, TheAcquisitionModeButtonSwitchesEveryCamera)
{
    start(2);
    QSignalSpy mode(cycle.get(), &DetectionCycle::triggerModeChanged);
    cycle->CameraChangeTrig();
    EXPECT_EQ(wp.use_external_trigger, 1);
    cycle->CameraChangeTrig();
    EXPECT_EQ(wp.use_external_trigger, 0);
    ASSERT_EQ(mode.count(), 2);
    EXPECT_TRUE(mode.first().first().toBool());
}

TEST_F(Commands, ResettingTheCountersZeroesAndRecordsThem)
{
    start();
    openMould();
    openMould();
    gLost = 3;
    ASSERT_EQ(gAllNum[0], 2u);
    EXPECT_TRUE(cycle->ResetCount());
    EXPECT_EQ(gAllNum[0], 0u);
    EXPECT_EQ(gLost, 0);
    EXPECT_EQ(readText("count.txt"), QString("0 0 ").repeated(8));
    EXPECT_TRUE(recordRemarks().contains("The count has been cleared"));
}

TEST(CountFile, ValuesAboveTheLimitReadAsZeroAndABrokenFileIsKeptAside)
{
    TestDir dir;
    ASSERT_TRUE(paramdb::openAll({}));
    writeText("count.txt", "150000000 3 7 1 0 0 0 0 0 0 0 0 0 0 0 0 ");
    EXPECT_TRUE(CountRead());
    EXPECT_EQ(gAllNum[0], 0u);
    EXPECT_EQ(gFailNum[0], 3u);
    EXPECT_EQ(gAllNum[1], 7u);
    writeText("count.txt", "12 x");
    EXPECT_FALSE(CountRead());
    EXPECT_EQ(gFailNum[0], 0u);
    EXPECT_FALSE(QFile::exists("count.txt"));
    EXPECT_EQ(QDir().entryList({"count.txt.broken-*"}).size(), 1);
    EXPECT_TRUE(recordRemarks().filter("count.txt.broken-").size() == 1);
    QFile::remove("count.txt");
    EXPECT_FALSE(CountRead());  // missing: zeros, nothing recorded
    gAllNum[2] = 5;
    ASSERT_TRUE(CountWrite());
    EXPECT_EQ(readText("count.txt"), "0 0 0 0 5 0 " + QString("0 0 ").repeated(5));
    dropConnections();
}
