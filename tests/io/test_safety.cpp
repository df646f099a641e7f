// Clamping is allowed only on a verdict: each way the cycle could once allow
// it without one, driven through the board simulator.
#include "CycleRig.h"

#include "Counters.h"
#include "Globals.h"
#include "IOThread.h"
#include "Messages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {
struct Safety : CycleRig {
    // Ticks until cond holds or the bound passes; the bound is generous, the
    // loop ends on the event.
    bool tickUntil(const std::function<bool()>& cond, int boundMs = 10000)
    {
        return cond() || QTest::qWaitFor([&] {
                   tick();
                   return cond();
               }, boundMs);
    }
    // Multi-detection, no fixed order, two detections without a group (an NG
    // of theirs only switched the alarm on): the first on input 1, the second
    // on the input of table index secondInput (0: input 1, 1: input 3).
    void twoDetections(int secondInput)
    {
        wp.machine_mode = 4;
        wp.multi_detect_num = 2;
        wp.multi_io_flag = 0;
        for (int j = 0; j < 8; ++j) {
            wp.multi_detect_row[j] = j < 2 ? j : -1;
            wp.multi_row_input[j] = j == 1 ? secondInput : 0;
            wp.multi_detect_row_b[j] = -1;
            wp.reserved_sys11_a[j] = 2;
        }
    }
};
} // namespace

TEST_F(Safety, AStartIsNotAVerdictAndAnOpenMouldIsJudgedAtOnce)
{
    // Output 1 wired inverted and copied to output 4: prohibited is a physical 0 on both.
    wp.out_invert[0] = 1;
    wp.enable_mold_backup = 1;
    start();
    EXPECT_TRUE(outputs(O1));
    EXPECT_EQ(board->held() & 0x9, 0);
    EXPECT_TRUE(verdicts.isEmpty());

    // Started again (the operator's button) while the mould stands open with a part in it.
    input(1, true);
    tick();
    cycle->StopDetect();
    seeAll(blemishFor(1));
    cycle->StartDetect();
    EXPECT_TRUE(outputs(O1));
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 1; }));
    EXPECT_EQ(judgedCount(0), 0);  // only the mould: the part may be gone already
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(outputs(O1 | O3));

    // The same start with a clean mould allows clamping, and is no production cycle.
    seeAll(scene);
    cycle->StartDetect();
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 2; }));
    EXPECT_TRUE(outputs(O4));  // output 4 is the copy of output 1's wire
    EXPECT_EQ(board->held() & 0x9, 0x9);
    EXPECT_EQ(gAllNum[0], 0u);
}

TEST_F(Safety, AnAlarmOutlivesTheProcessAndEndsOnlyByAVerdictOrTheOperator)
{
    start();
    seeAll(blemishFor(1));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    ASSERT_TRUE(QFile::exists(DetectionCycle::alarmStateFile()));

    // The process dies; a new one starts as the station does: detection on, then its tick.
    cycle.reset();
    cycle = std::make_unique<DetectionCycle>(io.get(), in.get(), cams.get(), &wp);
    QSignalSpy alarm(cycle.get(), &DetectionCycle::alarmEntered);
    io->IOResetAllOut();  // whatever the last process left in the word
    cycle->StartDetect();
    cycle->begin();
    cycle->runTimer().stop();
    ASSERT_EQ(alarm.count(), 1);
    EXPECT_EQ(alarm.first().at(1).toInt(), 1);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_FALSE(cycle->isDetecting());
    EXPECT_TRUE(outputs(O1 | O3));
    EXPECT_TRUE(recordRemarks().contains(LanStr(1717).arg(LanStr(1712))));

    // The door presses re-detect: the still blemished mould keeps the alarm...
    edge(2);
    tick();
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    // ...the cleaned one ends it, and the kept state with it.
    seeAll(scene);
    edge(2);
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() != DetectionCycle::Alarm; }));
    EXPECT_TRUE(outputs(0));
    EXPECT_FALSE(QFile::exists(DetectionCycle::alarmStateFile()));
}

TEST_F(Safety, AKeptProductAlarmHoldsItsOutputsFromTheFirstWordOfTheRestart)
{
    start();
    seeAll(blemishFor(0));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    ASSERT_EQ(logicalOutputs() & (O1 | O2 | O3), O1 | O2 | O3);
    cycle.reset();
    cycle = std::make_unique<DetectionCycle>(io.get(), in.get(), cams.get(), &wp);
    io->IOResetAllOut();
    cycle->StartDetect();  // the start's word, before the tick restores the alarm
    EXPECT_EQ(logicalOutputs() & (O1 | O2 | O3), O1 | O2 | O3) << "the lamp or the ejector was given back for a moment";
}

TEST_F(Safety, AStalePictureIsNeverJudgedAndASilentCameraEndsNg)
{
    start(2);
    silence(1);  // camera 2's stream stops; its last picture shows a clean mould
    const qint64 before = verdicts.size();
    openMould();
    // Camera 1 is ready, camera 2 has nothing newer: nobody judges yet.
    EXPECT_EQ(verdicts.size(), before);
    EXPECT_EQ(cycle->awaitingFrames(), 2);
    EXPECT_TRUE(outputs(O1 | O2));
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() == DetectionCycle::Alarm; }));
    EXPECT_TRUE(recordRemarks().contains(LanStr(1715).arg(2).arg(DetectionCycle::kFreshFrameMs)));
    EXPECT_EQ(cycle->alarmCameras(), QList<int>{1});
    EXPECT_TRUE(outputs(O1 | O2 | O3));
}

TEST_F(Safety, EveryReDetectionWaitsForItsOwnPicture)
{
    wp.front_auto_check_time = 2;
    start();
    seeAll(blemishFor(1));
    openMould();
    ASSERT_TRUE(cycle->recheckMode());
    ASSERT_EQ(judgedCount(1), 1);
    silence(0);
    // However many ticks pass, no picture means no re-judgement...
    for (int i = 0; i < 20; ++i)
        tick();
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_EQ(cycle->awaitingFrames(), 1);
    // ...and each new picture buys exactly one.
    see(0, blemishFor(1));
    silence(0);
    tick();
    EXPECT_EQ(judgedCount(1), 2);
    tick();
    EXPECT_EQ(judgedCount(1), 2);
    see(0, blemishFor(1));
    silence(0);
    tick();
    EXPECT_EQ(judgedCount(1), 3);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
}

namespace {
struct AlarmRule {
    const char* name;
    std::function<void(WizardPara&)> setup;
};
void PrintTo(const AlarmRule& r, std::ostream* os) { *os << r.name; }
const AlarmRule kAlarmRules[] = {
    {"CutoffOntimeWithPreCut", [](WizardPara& w) { w.enable_cutoff_ontime = 1; w.pre_cut_time = 3; }},
    {"CutClampOnAlarm", [](WizardPara& w) { w.enable_cut_clamp_on_alarm = 1; }},
    {"SeparateSignal", [](WizardPara& w) { w.separate_detect_signal = 1; w.enable_cutoff_ontime = 1; }},
    {"TwoColorCutClamp", [](WizardPara& w) { w.machine_mode = 1; w.mold_side = 2; w.enable_cut_clamp_on_alarm = 1; }},
};
struct ProductAlarm : Safety, ::testing::WithParamInterface<AlarmRule> {};
} // namespace

TEST_P(ProductAlarm, ShutsTheMouldWhateverTheCycleStartLeft)
{
    GetParam().setup(wp);
    start();
    // A good cycle first, so that clamping is allowed when the next one starts
    // (with the separate signal the mould is judged when the ejector is back).
    openMould();
    if (wp.separate_detect_signal)
        edge(3);
    ASSERT_TRUE(tickUntil([&] { return (logicalOutputs() & O1) == 0; }));
    seeAll(blemishFor(0));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(logicalOutputs() & (O1 | O3), O1 | O3);
    // Not even a late verdict or pulse lets it close while the alarm is on.
    cycle->OutTimerNotAllowClose();
    cycle->CheckNG();
    EXPECT_EQ(logicalOutputs() & O1, O1);
}

INSTANTIATE_TEST_SUITE_P(Rules, ProductAlarm, ::testing::ValuesIn(kAlarmRules),
                         [](const ::testing::TestParamInfo<AlarmRule>& i) { return std::string(i.param.name); });

// With the separate signal, input 1 judges the part and input 3 (the ejector
// back) the mould: each opening prohibits clamping, and input 3's verdict
// gives it back, once per machine cycle, never a stall.
TEST_F(Safety, WithTheSeparateSignalInput3JudgesTheMouldOncePerCycle)
{
    wp.separate_detect_signal = 1;
    wp.finished_product_detect = 3;  // the part's delay never carries over to the mould
    start();
    const auto partJudged = [&] {
        const int parts = judgedCount(0);
        openMould();
        return tickUntil([&] {
            if (cycle->delayTimer(0).isActive())
                cycle->TimerUp(0);
            return judgedCount(0) > parts;
        });
    };
    for (int machineCycle = 0; machineCycle < 2; ++machineCycle) {
        const int moulds = judgedCount(1);
        const quint32 counted = gAllNum[0];
        ASSERT_TRUE(partJudged());
        EXPECT_EQ(judgedCount(1), moulds) << "the mould was judged before the ejector came back";
        EXPECT_EQ(logicalOutputs() & O1, O1);
        edge(3);
        ASSERT_TRUE(tickUntil([&] { return judgedCount(1) > moulds; })) << "input 3's cycle never judged the mould";
        EXPECT_FALSE(cycle->delayTimer(1).isActive());
        EXPECT_EQ(logicalOutputs() & O1, 0);
        EXPECT_EQ(gAllNum[0], counted + 1) << "one machine cycle, one count";
    }
    // A blemished mould at input 3 is the alarm with clamping prohibited.
    ASSERT_TRUE(partJudged());
    seeAll(blemishFor(1));
    edge(3);
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() == DetectionCycle::Alarm; }));
    EXPECT_EQ(logicalOutputs() & (O1 | O3), O1 | O3);
}

TEST_F(Safety, InMultiDetectionAnAlarmOfAnyGroupShutsTheMould)
{
    twoDetections(1);  // detection 1 on input 1, detection 2 on input 3, neither in a group
    start();
    ASSERT_EQ(gDNum, 2);
    openMould();
    edge(3);
    ASSERT_TRUE(outputs(0));
    seeAll(blemishFor(0));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(logicalOutputs() & (O1 | O3), O1 | O3);
}

TEST_F(Safety, PreCutAlsoGuardsTheSecondMouldSide)
{
    wp.machine_mode = 1;
    wp.mold_side = 2;
    wp.fourth_detect = 5;  // the mould detection of the second side
    wp.pre_cut_time = 3;
    start();
    openMould();  // side 1 first: a good cycle leaves clamping allowed
    ASSERT_TRUE(outputs(0));
    input(4, false);
    tick();
    input(4, true);
    tick();
    tick();  // side 0: detection 4 counts down
    ASSERT_TRUE(cycle->delayTimer(3).isActive());
    EXPECT_EQ(logicalOutputs() & O1, O1) << "the first side's permission carried into the second's opening";
    cycle->TimerUp(3);
    cycle->TimerUp(3);
    EXPECT_EQ(logicalOutputs() & O1, O1);
    cycle->TimerUp(3);
    EXPECT_EQ(logicalOutputs() & O1, O1);  // 0.3 s before it judges
    cycle->TimerUp(3);
    cycle->TimerUp(3);
    tick();
    EXPECT_EQ(judgedCount(3), 1);
    EXPECT_TRUE(outputs(0));
}

TEST_F(Safety, MultiDetectionNeitherLoopsOnItsNextInputNorKeepsItAcrossAStop)
{
    twoDetections(0);  // both detections on input 1
    start();
    openMould();
    for (int i = 0; i < 30; ++i)
        tick();
    // One opening: each detection once, one cycle, not a cycle per tick.
    EXPECT_EQ(judgedCount(0), 1);
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_EQ(gAllNum[0], 1u);
    EXPECT_TRUE(outputs(0));

    // Stopped between the two detections: the start begins at the first again.
    input(1, false);
    tick();
    cycle->StopDetect();
    cycle->StartDetect();
    openMould();
    for (int i = 0; i < 30; ++i)
        tick();
    EXPECT_EQ(judgedCount(0), 2);
    EXPECT_EQ(judgedCount(1), 2);
}

TEST_F(Safety, TheMouldDetectionForcedAfterAProductAlarmIsNoDoorCycle)
{
    wp.enable_trigger_safety = 1;
    start();
    seeAll(blemishFor(0));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    seeAll(scene);
    edge(2);  // in the alarm the door presses re-detect
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 1; }));
    EXPECT_FALSE(cycle->safeDoorTimer().isActive());
    EXPECT_EQ(gAllNum[0], 1u);  // a production cycle, counted
    EXPECT_TRUE(outputs(0));
}

TEST_F(Safety, ADetectionWithoutAnyRegionVouchesForNothing)
{
    start(2);
    QSignalSpy nothing(cycle.get(), &DetectionCycle::nothingChecked);
    for (int c = 0; c < 2; ++c)
        cams->view(c)->para.roi_count[1] = 0;
    openMould();
    openMould();
    EXPECT_EQ(judgedCount(1), 4);
    EXPECT_TRUE(outputs(O1));
    ASSERT_GE(nothing.count(), 1);
    EXPECT_TRUE(nothing.last().at(1).toBool());
    EXPECT_EQ(recordRemarks().count(LanStr(1716).arg(LanStr(1712))), 1);  // said once
    // One camera with a region is enough: the other keeps its rule.
    cams->view(0)->para.roi_count[1] = 4;
    openMould();
    EXPECT_TRUE(outputs(0));
    EXPECT_FALSE(nothing.last().at(1).toBool());
}

TEST_F(Safety, ABoardThatHoldsAnotherWordIsAnIoFault)
{
    start();
    openMould();
    ASSERT_TRUE(outputs(0));
    QSignalSpy box(cycle.get(), &DetectionCycle::ioLinkLost);
    // The ejector relay welds: the board holds "ejecting prohibited" whatever it is sent.
    board->send("stuck 002 002");
    ASSERT_TRUE(tickUntil([&] { return gisOutputFault != 0; }));
    tick();
    ASSERT_GE(box.count(), 1);
    EXPECT_TRUE(box.last().first().toBool());
    EXPECT_TRUE(recordRemarks().contains(LanStr(1718)));
    EXPECT_EQ(logicalOutputs() & (O1 | O3), O1 | O3);
    // Repaired: the board follows again and the fault ends; what the machine did
    // meanwhile is unknown, so the mould standing open is judged again before it may close.
    const int judged = judgedCount(1);
    board->send("stuck 000 000");
    ASSERT_TRUE(tickUntil([&] { return gisOutputFault == 0; }));
    EXPECT_EQ(logicalOutputs() & O1, O1);
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) > judged; }));
    EXPECT_FALSE(box.last().first().toBool());
    EXPECT_TRUE(outputs(0));
}

TEST_F(Safety, AnAlarmRelayWeldedOnHoldsTheIoFaultInsteadOfChattering)
{
    start();
    openMould();
    ASSERT_TRUE(outputs(0));
    // The alarm relay welds on: the fault's own alarm makes the board agree for a while.
    board->send("stuck 004 004");
    ASSERT_TRUE(tickUntil([&] { return recordRemarks().contains(LanStr(1718)); }));
    ASSERT_TRUE(tickUntil([&] { return recordRemarks().contains(LanStr(1743)); }));
    ASSERT_TRUE(tickUntil([&] { return recordRemarks().contains(LanStr(1742)); }));
    EXPECT_EQ(recordRemarks().count(LanStr(1718)), 1) << "the fault chattered";
    EXPECT_EQ(logicalOutputs() & (O1 | O3), O1 | O3);
    // Held while the board agrees again: only a new start ends it.
    board->send("stuck 000 000");
    const int polls = int(gInputReports);
    ASSERT_TRUE(tickUntil([&] { return int(gInputReports) > polls + 2 * DetectionCycle::kFaultFollowMs / IOThread::kPollMs; }, 20000));
    EXPECT_EQ(logicalOutputs() & O1, O1);
    EXPECT_EQ(recordRemarks().count(LanStr(1743)), 1);
    cycle->StopDetect();
    cycle->StartDetect();
    ASSERT_TRUE(tickUntil([&] { return outputs(0); }));
}

TEST_F(Safety, InMultiDetectionAClearedAlarmOfTheLastDetectionLetsTheMouldClose)
{
    twoDetections(1);
    start();
    openMould();
    edge(3);
    ASSERT_TRUE(outputs(0));
    seeAll(blemishFor(1));
    openMould();
    edge(3);
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(logicalOutputs() & O1, O1);
    // Cleaned and re-detected at the door: the machine may close again.
    seeAll(scene);
    edge(2);
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() != DetectionCycle::Alarm; }));
    EXPECT_EQ(logicalOutputs() & (O1 | O3), 0);
}

TEST_F(Safety, AClampPulseOfTheLastCycleNeverEndsInAPermissionAfterAStart)
{
    wp.enable_mold_stop_not_alarm = 1;  // a mould NG gives a clamp pulse, whose end allows clamping
    wp.mold_pulse = 4;
    start();
    seeAll(blemishFor(1));
    openMould();
    ASSERT_TRUE(cycle->pulseTimer(DetectionCycle::Pulse::Clamp).isActive());
    input(1, false);
    tick();
    cycle->StopDetect();
    cycle->StartDetect();
    EXPECT_FALSE(cycle->pulseTimer(DetectionCycle::Pulse::Clamp).isActive());
    EXPECT_EQ(logicalOutputs() & O1, O1);
    // Nor does the station stand still: the next good mould lets it close.
    seeAll(scene);
    openMould();
    EXPECT_EQ(logicalOutputs() & O1, 0);
}

TEST_F(Safety, AStoppedStationDoesNotGoOnReDetecting)
{
    wp.front_auto_check_time = 2;
    start();
    seeAll(blemishFor(1));
    openMould();
    ASSERT_TRUE(cycle->recheckMode());
    cycle->StopDetect();
    EXPECT_FALSE(cycle->recheckMode());
    const int judged = judgedCount(1);
    tick();
    tick();
    EXPECT_EQ(judgedCount(1), judged);
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
}

TEST_F(Safety, WithTheExternalTriggerAReDetectionJudgesTheTriggersPictures)
{
    wp.use_external_trigger = 1;
    wp.enable_prod_detect = 0;
    start();
    silence(0);
    see(0, blemishFor(1));  // the machine triggers the camera: one picture
    silence(0);
    tick();
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() == DetectionCycle::Alarm; }));
    EXPECT_TRUE(recordRemarks().filter(LanStr(1715).arg(1).arg(DetectionCycle::kFreshFrameMs)).isEmpty());
    // No new picture will come until the next machine trigger: the page's
    // re-detection judges the trigger's own picture at once.
    const int judged = judgedCount(1);
    cycle->SlotReCheck();
    EXPECT_EQ(judgedCount(1), judged + 1);
    EXPECT_EQ(cycle->awaitingFrames(), 0);
}

TEST_F(Safety, WithTheExternalTriggerAReDetectionNeverJudgesAPictureFromBeforeTheMoment)
{
    wp.use_external_trigger = 1;
    wp.enable_prod_detect = 0;
    start();
    silence(0);  // the camera delivers only when the machine triggers it
    // A start finds the mould open: judged on what comes after the start, and nothing comes.
    input(1, true);
    tick();
    cycle->StopDetect();
    cycle->StartDetect();
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 1; }));
    CameraDevice::moveClockOn(DetectionCycle::kFreshFrameMs);
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() == DetectionCycle::Alarm; }));
    // The re-detection has only the clean picture from before the start: it waits
    // for one of its own instead, and without one the alarm stays.
    const int judged = judgedCount(1);
    cycle->SlotReCheck();
    tick();
    EXPECT_EQ(judgedCount(1), judged) << "a picture from before the moment was judged";
    EXPECT_EQ(cycle->awaitingFrames(), 1);
    CameraDevice::moveClockOn(DetectionCycle::kFreshFrameMs);
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 0; }));
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(logicalOutputs() & O1, O1);
}

// Found by the oracle (shortened to three cycles): the operator's start from the
// alarm left the cameras free-running, and took the next opening for the one of
// the alarm's pictures.
namespace {
// Triggered cameras switched to free-running for the alarm, which a blemished
// mould raised on the machine's trigger (the mould standing open or not).
struct FreeRunningAlarm : Safety {
    void raise(bool mouldOpen)
    {
        wp.use_external_trigger = 1;
        wp.ng_switch_continuous = 1;
        wp.enable_prod_detect = 0;
        start();
        silence(0);
        input(1, mouldOpen);
        see(0, blemishFor(1));  // the machine's trigger: one picture, and its cycle
        silence(0);
        ASSERT_TRUE(tickUntil([&] { return cycle->resultState() == DetectionCycle::Alarm; }));
        ASSERT_EQ(wp.use_external_trigger, 0) << "free-running for the alarm page";
    }
};
} // namespace

TEST_F(FreeRunningAlarm, AStartPutsTheCamerasBackOnTheTriggerAndSeesTheNextOpening)
{
    raise(false);
    // Kept as the operator set it: a restart in the alarm finds the cameras on the trigger.
    ASSERT_TRUE(wp.SaveDatatoFile());
    WizardPara stored;
    stored.LoadDatafromFile();
    EXPECT_EQ(stored.use_external_trigger, 1);
    cycle->StartDetect();
    tick();
    EXPECT_EQ(wp.use_external_trigger, 1) << "the start left the cameras free-running";
    // The mould opens right after the start: an opening of its own, judged on its own picture.
    input(1, true);
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 1; })) << "the opening was not seen";
    EXPECT_EQ(logicalOutputs() & O1, O1);
    see(0, scene);
    silence(0);
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 0; }));
    EXPECT_EQ(logicalOutputs() & O1, 0) << "the opening's own clean picture allows clamping";
}

// A start from the alarm with the mould standing open: no machine trigger will
// come for it, so it is judged on the free-running cameras' picture first.
TEST_F(FreeRunningAlarm, AStartJudgesTheOpenMouldBeforeTheCamerasGoBackOnTheTrigger)
{
    raise(true);
    cycle->StartDetect();
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 1; }));
    EXPECT_EQ(wp.use_external_trigger, 0) << "back on the trigger before the open mould had a picture";
    see(0, scene);  // the cleaned mould, free-running
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 0; }));
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(logicalOutputs() & O1, 0);
    EXPECT_EQ(wp.use_external_trigger, 1) << "still free-running after the start's judgement";
    // The operator's own choice of free-running is not undone by a start.
    cycle->CameraChangeTrig();
    ASSERT_EQ(wp.use_external_trigger, 0);
    cycle->StartDetect();
    tick();
    EXPECT_EQ(wp.use_external_trigger, 0);
}

// Found by the oracle (shortened to six cycles): Two-color (and Turntable) with only
// the second side in use; a start with the mould open judged the first side, which has no
// regions, and its empty verdict allowed clamping over a blemished mould.
struct OneSide : Safety, ::testing::WithParamInterface<int> {};

TEST_P(OneSide, JudgesThatSideAtAStart)
{
    wp.machine_mode = GetParam();
    wp.mold_side = 1;
    wp.enable_prod_detect = 0;
    start();
    seeAll(blemishFor(3));
    input(1, true);
    tick();
    cycle->StopDetect();
    cycle->StartDetect();
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) + judgedCount(3) > 0 && cycle->awaitingFrames() == 0; }));
    EXPECT_EQ(judgedCount(1), 0) << "the side not in use was judged";
    EXPECT_EQ(logicalOutputs() & O1, O1) << "the blemished mould was vouched for";
}
INSTANTIATE_TEST_SUITE_P(TwoColorAndTurntable, OneSide, ::testing::Values(1, 2));

// Found by the oracle (shortened to three cycles): a re-detection paired one
// camera's picture of the alarm's trigger with the other's of a later trigger.
TEST_F(Safety, TriggeredPicturesFarApartAreNeverOneSet)
{
    wp.use_external_trigger = 1;
    wp.enable_prod_detect = 0;
    start(2);
    silence(0);
    silence(1);
    tick();
    see(1, scene);  // the machine's trigger: camera 1 misses it
    silence(1);
    tick();
    CameraDevice::moveClockOn(DetectionCycle::kFreshFrameMs);
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() == DetectionCycle::Alarm; }));
    cycle->SlotReCheck();
    tick();
    ASSERT_EQ(cycle->awaitingFrames(), 1) << "camera 1 has nothing of its own yet";
    // The next machine trigger, well after: only camera 1 takes it.
    CameraDevice::moveClockOn(DetectionCycle::kTriggerSetMs + 100);
    see(0, scene);
    silence(0);
    tick();
    tick();
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm) << "camera 2's picture of the trigger before vouched";
    EXPECT_EQ(logicalOutputs() & O1, O1);
    // Camera 2 has nothing of that trigger: judged, and found wanting, once the wait is over.
    const int judged = judgedCount(1);
    CameraDevice::moveClockOn(DetectionCycle::kFreshFrameMs);
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 0; }));
    EXPECT_GT(judgedCount(1), judged);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    // A whole set of one trigger clears it.
    cycle->SlotReCheck();
    tick();
    see(0, scene);
    see(1, scene);
    silence(0);
    silence(1);
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() != DetectionCycle::Alarm; }));
    EXPECT_EQ(logicalOutputs() & O1, 0);
}

// Found by the oracle (shortened to three cycles): an opening while an automatic
// re-detection waited for one camera was not seen, and the other camera's
// picture from before it vouched for the mould.
TEST_F(Safety, AnOpeningDuringAReDetectionIsSeenAndOnlyLaterPicturesCount)
{
    wp.front_auto_check_time = 2;
    start(2);
    seeAll(blemishFor(1));
    openMould();
    ASSERT_TRUE(cycle->recheckMode());
    silence(0);
    silence(1);
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 1; }));
    see(1, scene);  // a clean picture of camera 2 while camera 1 stays silent
    silence(1);
    tick();
    input(1, false);
    tick();
    input(1, true);  // the mould opens again: what camera 2 showed is history
    tick();
    EXPECT_TRUE(recordRemarks().filter(LanStr(1714).section('%', 0, 0)).size() >= 1);
    see(0, scene);
    silence(0);
    tick();
    EXPECT_EQ(logicalOutputs() & O1, O1) << "a picture from before the opening vouched for the mould";
    EXPECT_EQ(cycle->awaitingFrames(), 1);
}

// Found by the oracle with triggered cameras: a countdown that outlived a new
// opening judged the picture of the trigger before it.
TEST_F(Safety, ACountdownThatOutlivesAnOpeningJudgesOnlyPicturesAfterIt)
{
    wp.use_external_trigger = 1;
    wp.enable_prod_detect = 0;
    wp.cavity_detect = 5;
    start();
    silence(0);
    see(0, scene);  // the machine's trigger: one picture, and the cycle starts
    silence(0);
    ASSERT_TRUE(tickUntil([&] { return cycle->delayTimer(1).isActive(); }));
    // The mould opens again, a while later, as the countdown runs; the camera misses
    // this trigger. (An edge right after the pictures is their own opening.)
    CameraDevice::moveClockOn(DetectionCycle::kSameOpeningMs + 1);
    input(1, false);
    tick();
    input(1, true);
    tick();
    while (cycle->delayTimer(1).isActive())
        cycle->TimerUp(1);
    tick();
    EXPECT_EQ(logicalOutputs() & O1, O1) << "the picture from before the opening vouched for the mould";
    EXPECT_EQ(cycle->awaitingFrames(), 1);
}

namespace {
// Triggered cameras' pictures against the mould-open edge: ticks before (<0),
// with (0) or after (>0) it; and the mould's delay.
struct TriggerTiming {
    int offset, delay;
};
void PrintTo(const TriggerTiming& t, std::ostream* os) { *os << "offset " << t.offset << " delay " << t.delay; }
struct TriggeredOpening : Safety, ::testing::WithParamInterface<TriggerTiming> {
    // Every countdown run and every judgement done.
    bool settle()
    {
        return tickUntil([&] {
            for (int d = 0; d < 2; ++d)
                if (cycle->delayTimer(d).isActive())
                    cycle->TimerUp(d);
            return cycle->awaitingFrames() == 0 && !cycle->delayTimer(1).isActive();
        });
    }
};
} // namespace

// The machine triggers the cameras as the mould opens; the pictures and the
// input's edge reach the station a little apart, in either order. One opening
// is one judgement and one count, on its own pictures, and no false alarm.
TEST_P(TriggeredOpening, IsJudgedOnceOnItsOwnPictures)
{
    wp.use_external_trigger = 1;
    wp.enable_prod_detect = 0;
    wp.cavity_detect = GetParam().delay;
    start(2);
    silence(0);
    silence(1);
    ASSERT_TRUE(settle());
    const auto shoot = [&] {
        see(0, scene);
        see(1, scene);
        silence(0);
        silence(1);
    };
    for (int opening = 0; opening < 3; ++opening) {
        SCOPED_TRACE(opening);
        const int judged = judgedCount(1);
        const quint32 counted = gAllNum[0];
        // The mould has stood closed a while: this is a new opening.
        CameraDevice::moveClockOn(DetectionCycle::kSameOpeningMs + 1);
        input(1, false);
        tick();
        if (GetParam().offset < 0) {
            shoot();
            tick();
        }
        input(1, true);
        if (GetParam().offset == 0)
            shoot();
        for (int t = 0; t < GetParam().offset; ++t)
            tick();
        if (GetParam().offset > 0)
            shoot();
        tick();
        ASSERT_TRUE(settle());
        tick();
        tick();
        EXPECT_EQ(judgedCount(1), judged + 2);  // one verdict per camera
        EXPECT_EQ(gAllNum[0], counted + 1);
        EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm) << recordRemarks().join("\n").toStdString();
        EXPECT_EQ(logicalOutputs() & O1, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Timings, TriggeredOpening,
                         ::testing::Values(TriggerTiming{-1, 0}, TriggerTiming{0, 0}, TriggerTiming{1, 0},
                                           TriggerTiming{3, 0}, TriggerTiming{-1, 5}, TriggerTiming{1, 5},
                                           TriggerTiming{3, 5}));

// Without the mould-open input, a camera's lone picture (the other missed that
// trigger) never pairs with the other camera's picture of a later trigger: the
// lone picture prohibits at once, and the trigger is judged NG.
TEST_F(Safety, ATriggeredCamerasLonePictureNeverPairsWithALaterTrigger)
{
    wp.use_external_trigger = 1;
    wp.enable_prod_detect = 0;
    start(2);
    silence(0);
    silence(1);
    ASSERT_TRUE(tickUntil([&] { return cycle->awaitingFrames() == 0 && (logicalOutputs() & O1) == 0; }));
    see(0, scene);  // camera 2 misses this trigger
    silence(0);
    tick();
    EXPECT_EQ(logicalOutputs() & O1, O1) << "a new trigger's picture left the last permission standing";
    CameraDevice::moveClockOn(DetectionCycle::kTriggerSetMs + 1);
    see(1, scene);  // the next trigger; camera 1 misses it
    silence(1);
    tick();
    EXPECT_EQ(logicalOutputs() & O1, O1) << "camera 1's picture of one trigger paired with camera 2's of the next";
    CameraDevice::moveClockOn(DetectionCycle::kTriggerSetMs + 1);
    tick();
    CameraDevice::moveClockOn(DetectionCycle::kFreshFrameMs);
    ASSERT_TRUE(tickUntil([&] { return cycle->resultState() == DetectionCycle::Alarm; }));
    EXPECT_EQ(logicalOutputs() & (O1 | O3), O1 | O3);
}

TEST_F(Safety, ASnapshotNeitherSwallowsAnOpeningNorJudgesTheCyclesOwnDetectionEarly)
{
    wp.cavity_detect = 10;  // the mould is judged a second after the product
    start();
    openMould();
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 1; }));
    ASSERT_TRUE(outputs(0));

    // The operator's snapshot lands on the very tick that sees the next opening.
    input(1, false);
    tick();
    input(1, true);
    const quint32 counted = gAllNum[0];
    cycle->requestManualTrig(1);
    tick();
    EXPECT_EQ(logicalOutputs() & O1, O1) << "the opening was swallowed by the snapshot: clamping still allowed";

    // While the mould's own countdown runs, a snapshot of the mould is refused, not judged early.
    ASSERT_TRUE(tickUntil([&] { return cycle->delayTimer(1).isActive(); }));
    const int before = judgedCount(1);
    cycle->requestManualTrig(1);
    tick();
    tick();
    EXPECT_EQ(judgedCount(1), before);
    EXPECT_TRUE(cycle->delayTimer(1).isActive()) << "the snapshot cancelled the cycle's mould detection";
    EXPECT_TRUE(recordRemarks().contains(LanStr(1727).arg(LanStr(1712))));
    EXPECT_EQ(logicalOutputs() & O1, O1);
    // Its own moment judges it, and only then may the mould close; the cycle is the machine's, counted.
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == before + 1; }));
    EXPECT_TRUE(outputs(0));
    EXPECT_EQ(gAllNum[0], counted + 1);
}

TEST_F(Safety, AProductAlarmBroughtBackByARestartEndsWithTheMouldJudged)
{
    start();
    seeAll(blemishFor(0));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    // The process dies and starts again in the alarm.
    cycle.reset();
    cycle = std::make_unique<DetectionCycle>(io.get(), in.get(), cams.get(), &wp);
    QObject::connect(cycle.get(), &DetectionCycle::judged, cycle.get(),
                     [this](int c, int d, bool ok) { verdicts << std::make_tuple(c, d, ok); });
    cycle->StartDetect();
    cycle->begin();
    cycle->runTimer().stop();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    // The part removed, the door: the product is judged again, then the mould it still owes.
    seeAll(scene);
    const int mould = judgedCount(1);
    edge(2);
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) > mould; })) << "the mould was never judged: the machine stands";
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(outputs(0));
}

TEST_F(Safety, ABoardSilentForAMomentProhibitsAndTheOpenMouldIsJudgedAgain)
{
    start();
    openMould();
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 1; }));
    ASSERT_TRUE(outputs(0));
    // Far shorter than a lost link, long enough for a machine to open and close unseen.
    board->send("silent 1500");
    ASSERT_TRUE(tickUntil([&] { return (io->outputOn(0)) != 0; })) << "a silent board left clamping allowed";
    EXPECT_TRUE(recordRemarks().contains(LanStr(1728).arg(IOThread::kDoubtPolls * IOThread::kPollMs)));
    EXPECT_EQ(gisLostCom.load(), 0);
    // It answers again with the mould still open: judged at once, and only that allows clamping.
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 2; }));
    EXPECT_TRUE(outputs(0));
}

TEST_F(Safety, AWeldedRelayIsFoundWhileTheOtherOutputsKeepChanging)
{
    start();
    ASSERT_EQ(gisOutputFault.load(), 0);
    board->send("stuck 004 000");  // the alarm relay never closes
    io->IOSetOut(2, 1);
    io->IOFlashOut();
    const quint64 from = io->ioThread()->polls();
    quint64 flips = 0;
    // Another output changes every few polls, as in production: each new word must not hide the weld.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        if (io->ioThread()->polls() >= from + 4 * flips) {
            io->IOSetOut(5, int(flips & 1));
            io->IOFlashOut();
            ++flips;
        }
        return gisOutputFault != 0;
    }, 10000)) << "after " << flips << " changes of the word";
    board->send("stuck 000 000");
}

TEST_F(Safety, AMouldThatClosedAndOpenedWhileTheTickWasAwayIsJudgedAgain)
{
    start();
    openMould();
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 1; }));
    ASSERT_TRUE(outputs(0));
    // The tick is away (a hang, a long judgement) while the machine closes and opens again.
    QElapsedTimer away;
    away.start();
    input(1, false);
    input(1, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return away.elapsed() > 300; }, 1000));  // the hang itself
    tick();
    EXPECT_EQ(logicalOutputs() & O1, O1) << "an opening nobody judged kept the last cycle's permission";
    ASSERT_TRUE(tickUntil([&] { return judgedCount(1) == 2; }));
    EXPECT_TRUE(outputs(0));
}
