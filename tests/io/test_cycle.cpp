#include "CycleRig.h"

#include "Counters.h"
#include "Detection.h"
#include "Globals.h"
#include "Messages.h"

#include <QSignalSpy>
#include <QTest>
#include <functional>

namespace {

// What the camera shows when the mould opens.
enum Blemish { Clean, OnProduct, OnMould };

// One row: a station set-up, what the camera shows, and the outputs at the
// board after the verdicts of the cycle and after the pulse timer of the row
// has run out.
struct Row {
    const char* name;
    std::function<void(WizardPara&)> setup;
    Blemish shown;
    int afterVerdicts;
    bool alarm;
    DetectionCycle::Pulse pulse = DetectionCycle::Pulse::Clamp;
    int pulseMs = 0;        // 0: no pulse timer runs
    int afterPulse = 0;
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

const Row kRows[] = {
    {"StandardAllOk", {}, Clean, 0, false},
    {"StandardProductNgStops", {}, OnProduct, O1 | O2 | O3, true},
    {"StandardMouldNgStops", {}, OnMould, O1 | O3, true},
    {"AutoPartsProductNgStops", [](WizardPara& w) { w.machine_mode = 3; }, OnProduct, O1 | O2 | O3, true},
    {"TwoColorBothSidesOk", [](WizardPara& w) { w.machine_mode = 1; w.mold_side = 2; }, Clean, 0, false},
    {"TwoColorProductNgStops", [](WizardPara& w) { w.machine_mode = 1; w.mold_side = 2; }, OnProduct,
     O1 | O2 | O3, true},
    {"TurntableMouldNgStops", [](WizardPara& w) { w.machine_mode = 2; w.mold_side = 2; }, OnMould, O1 | O3, true},
    {"CutoffOntimeLeavesTheEjector", [](WizardPara& w) { w.enable_cutoff_ontime = 1; }, OnProduct, O1 | O3, true},
    {"StopNotAlarmPulsesTheEjectorAndTheCavity",
     [](WizardPara& w) { w.enable_stop_not_alarm = 1; w.thimble_pulse = 5; }, OnProduct, O2 | O5, false,
     DetectionCycle::Pulse::Ng, 500, 0},
    {"ProdOkNgOutputOkShowsTheOkCavities",
     [](WizardPara& w) { w.enable_prod_ok_ng_output = 1; w.thimble_pulse = 3; }, Clean, O6 | O8, false,
     DetectionCycle::Pulse::Ng, 300, 0},
    {"ProdOkNgOutputNgShowsTheNgCavity",
     [](WizardPara& w) { w.enable_prod_ok_ng_output = 1; w.thimble_pulse = 3; }, OnProduct, O2 | O5 | O8, false,
     DetectionCycle::Pulse::Ng, 300, 0},
    {"MouldStopNotAlarmGivesAClampPulse",
     [](WizardPara& w) { w.enable_mold_stop_not_alarm = 1; w.mold_pulse = 4; }, OnMould, O1, false,
     DetectionCycle::Pulse::Clamp, 400, 0},
    // The clamp is left alone at the cycle's start, never in the alarm.
    {"CutClampOnAlarmStillShutsTheMouldInTheAlarm", [](WizardPara& w) { w.enable_cut_clamp_on_alarm = 1; }, OnProduct,
     O1 | O2 | O3, true},
    {"CutClampOnAlarmWithStopMoldStillShutsTheMould",
     [](WizardPara& w) { w.enable_cut_clamp_on_alarm = 1; w.enable_stop_mold = 1; }, OnProduct, O1 | O2 | O3, true},
    {"SeparateSignalProductAlarmStillShutsTheMould", [](WizardPara& w) { w.separate_detect_signal = 1; }, OnProduct,
     O1 | O2 | O3, true},
    {"OkNgPulseMouldNg", [](WizardPara& w) { w.enable_ok_ng_pulse = 1; w.mold_pulse = 5; }, OnMould, O1 | O3,
     false, DetectionCycle::Pulse::Clamp, 500, 0},
    {"OkNgPulseMouldNgReversed",
     [](WizardPara& w) { w.enable_ok_ng_pulse = 1; w.enable_ok_ng_pulse_mold = 1; w.mold_pulse = 5; }, OnMould,
     O2 | O3, false, DetectionCycle::Pulse::Clamp, 500, 0},
    {"OkNgPulseOk", [](WizardPara& w) { w.enable_ok_ng_pulse = 1; w.mold_pulse = 5; }, Clean, O2, false,
     DetectionCycle::Pulse::Clamp, 500, 0},
    {"CutOntimeWithdrawsTheClampAfterMouldOk", [](WizardPara& w) { w.is_cut_ontime = 1; w.mold_pulse = 6; }, Clean,
     0, false, DetectionCycle::Pulse::Clamp, 600, O1},
    {"CutOntimeThimbleWithdrawsTheEjectorAfterProductOk",
     [](WizardPara& w) { w.is_cut_ontime_thimble = 1; w.thimble_pulse = 2; }, Clean, 0, false,
     DetectionCycle::Pulse::Thimble, 200, O2},
    {"MoldCutoffCutsTheEjectorWhenClamping", [](WizardPara& w) { w.mold_cutoff = 1; }, Clean, O2, false},
};

struct OutputWord : CycleRig, ::testing::WithParamInterface<Row> {};
} // namespace

TEST_P(OutputWord, AtTheBoard)
{
    const Row& row = GetParam();
    if (row.setup)
        row.setup(wp);
    start();
    // A start is not a verdict: the mould stays shut until it is judged (in
    // OK/NG pulse mode output 1 is a verdict pulse and idles cleared).
    ASSERT_TRUE(outputs((wp.enable_ok_ng_pulse ? 0 : O1) | (wp.is_cut_ontime_thimble || wp.mold_cutoff ? O2 : 0)));
    seeAll(row.shown == Clean ? scene : blemishFor(row.shown == OnProduct ? 0 : 1));
    openMould();
    // Delays of 0: every detection the trigger starts is judged within this tick.
    EXPECT_GE(verdicts.size(), 1);
    EXPECT_TRUE(outputs(row.afterVerdicts));
    EXPECT_EQ(cycle->resultState() == DetectionCycle::Alarm, row.alarm);
    EXPECT_EQ(cycle->isDetecting(), !row.alarm);
    const QTimer& t = cycle->pulseTimer(row.pulse);
    EXPECT_EQ(t.isActive(), row.pulseMs > 0);
    if (row.pulseMs > 0) {
        EXPECT_EQ(t.interval(), row.pulseMs);
        switch (row.pulse) {
        case DetectionCycle::Pulse::Clamp: cycle->OutTimerNotAllowClose(); break;
        case DetectionCycle::Pulse::Thimble: cycle->OutTimerNotAllowThimble(); break;
        case DetectionCycle::Pulse::Ng: cycle->OutTimerOutNG(); break;
        case DetectionCycle::Pulse::Func4: cycle->OutTimerSysFunc4Output(); break;
        }
        EXPECT_TRUE(outputs(row.afterPulse));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, OutputWord, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& i) { return std::string(i.param.name); });

namespace {
struct Cycle : CycleRig {};
} // namespace

TEST_F(Cycle, MouldNgIsJudgedAgainTwiceBeforeTheAlarmAndTheProductNever)
{
    wp.front_auto_check_time = 2;
    start();
    seeAll(blemishFor(1));
    openMould();
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_TRUE(cycle->recheckMode());
    EXPECT_TRUE(outputs(O1));  // clamping prohibited, no alarm yet
    tick();
    EXPECT_EQ(judgedCount(1), 2);
    EXPECT_TRUE(outputs(O1));
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    tick();
    EXPECT_EQ(judgedCount(1), 3);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(outputs(O1 | O3));
    tick();
    EXPECT_EQ(judgedCount(1), 3);  // the alarm waits for the operator

    // A re-detection that finds the mould clean ends it without an alarm.
    input(1, false);  // the mould closed: a start with it open would judge it at once
    cycle->StartDetect();
    seeAll(blemishFor(1));
    openMould();
    seeAll(scene);
    tick();
    EXPECT_FALSE(cycle->recheckMode());
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(outputs(0));

    // The product has no budget: its NG alarms at once.
    input(1, false);
    cycle->StartDetect();
    seeAll(blemishFor(0));
    const int before = judgedCount(0);
    openMould();
    EXPECT_EQ(judgedCount(0), before + 1);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
}

TEST_F(Cycle, AClearedProductAlarmRunsTheMouldDetectionWithoutANewSignal)
{
    start();
    seeAll(blemishFor(0));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(judgedCount(1), 0);
    seeAll(scene);
    edge(2);  // the safety door presses the alarm page's re-detect
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(cycle->isDetecting());
    tick();
    EXPECT_EQ(judgedCount(1), 1);  // the mould detection ran; input 1 never rose again
    EXPECT_TRUE(outputs(0));
}

TEST_F(Cycle, WithSemiAutoAClearedProductAlarmWaitsForTheEjectorSignal)
{
    wp.semi_auto = 1;
    start();
    seeAll(blemishFor(0));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    seeAll(scene);
    edge(2);
    ASSERT_NE(cycle->resultState(), DetectionCycle::Alarm);
    tick();
    tick();
    EXPECT_EQ(judgedCount(1), 0);
    edge(3);  // ejector back: the mould detection of semi-automatic mode
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_TRUE(outputs(0));
}

TEST_F(Cycle, TriggersDuringACountdownAreDroppedAndRecorded)
{
    wp.cavity_detect = 5;
    start();
    openMould();
    EXPECT_EQ(judgedCount(0), 1);  // the product at once
    EXPECT_EQ(judgedCount(1), 0);
    EXPECT_TRUE(cycle->delayTimer(1).isActive());
    EXPECT_TRUE(outputs(O1));

    openMould();  // a second opening while the mould detection counts
    cycle->requestSoftTrig(0);
    tick();
    EXPECT_EQ(judgedCount(0), 1);
    EXPECT_EQ(cycle->droppedBusyTriggers(), 2u);
    EXPECT_TRUE(recordRemarks().contains(LanStr(1714).arg(2)));

    // A delay of 5 tenths judges on the fifth tick of its timer.
    for (int i = 0; i < 4; ++i)
        cycle->TimerUp(1);
    EXPECT_EQ(judgedCount(1), 0);
    cycle->TimerUp(1);
    EXPECT_FALSE(cycle->delayTimer(1).isActive());
    // The delay's end is the detection's moment: it judges the next picture.
    EXPECT_EQ(judgedCount(1), 0);
    EXPECT_EQ(cycle->awaitingFrames(), 1);
    tick();
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_TRUE(outputs(0));
}

TEST_F(Cycle, AnEdgeThatCameAndWentWhileTheTickWasBusyIsCountedAndRecorded)
{
    start();
    const int before = judgedCount(0);
    board->send("pulse 1 30");
    // The GUI thread is busy for a while: the pulse comes and goes between ticks.
    QTest::qWait(150);
    tick();
    EXPECT_EQ(cycle->missedTriggers(), 1u);
    EXPECT_TRUE(recordRemarks().contains(LanStr(1706).arg(1).arg(1)));
    EXPECT_EQ(judgedCount(0), before);
}

TEST_F(Cycle, NgCyclesEndingInAnAlarmAreCountedWhenTheAlarmIsCleared)
{
    start();
    openMould();
    EXPECT_EQ(gAllNum[0], 1u);
    EXPECT_EQ(gFailNum[0], 0u);
    seeAll(blemishFor(1));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(gAllNum[0], 1u);  // nothing counted while in the alarm
    seeAll(scene);
    edge(2);
    EXPECT_EQ(gAllNum[0], 2u);
    EXPECT_EQ(gFailNum[0], 1u);
    // count.txt holds every judged cycle, the NG one too.
    EXPECT_EQ(readText("count.txt").section(' ', 0, 1), "2 1");
    openMould();
    EXPECT_EQ(gAllNum[0], 3u);
    EXPECT_EQ(readText("count.txt").section(' ', 0, 1), "3 1");
}

TEST_F(Cycle, MultiDetectionKeepsItsOrderAndPresetsTheGroupsOutputs)
{
    // Detection 1 on input 1, 2 on input 3, 3 on input 4; 2 and 3 form a
    // group of kind 1 whose outputs are set together when the group begins.
    wp.machine_mode = 4;
    wp.multi_detect_num = 3;
    wp.multi_io_flag = 1;
    for (int j = 0; j < 8; ++j) {
        wp.multi_detect_row[j] = j < 3 ? j : -1;
        wp.multi_row_input[j] = j;
        wp.multi_detect_row_b[j] = -1;
        wp.reserved_sys11_a[j] = 2;
    }
    wp.multi_detect_row_b[1] = wp.multi_detect_row_b[2] = 0;
    wp.reserved_sys11_a[0] = 1;
    start();
    ASSERT_EQ(gDNum, 3);
    EXPECT_EQ(DetectionCycle::OutputNo(0, 3), 2);
    EXPECT_EQ(DetectionCycle::OutputNo(1, 3), 4);
    EXPECT_EQ(DetectionCycle::OutputNo(2, 3), 1);  // the last detection drives the clamp

    edge(4);  // out of order: ignored
    EXPECT_TRUE(verdicts.isEmpty());
    openMould();
    EXPECT_EQ(judgedCount(0), 1);
    EXPECT_EQ(cycle->curDetect(), 0);
    EXPECT_TRUE(outputs(O1));  // the last detection, not the first, vouches for the mould
    edge(4);  // still out of order
    EXPECT_EQ(judgedCount(2), 0);
    edge(3);
    EXPECT_EQ(judgedCount(1), 1);
    // The group's outputs were set at its start; detection 2's OK cleared its own.
    EXPECT_TRUE(outputs(O1));
    edge(4);
    EXPECT_EQ(judgedCount(2), 1);
    EXPECT_TRUE(outputs(0));
    EXPECT_EQ(gAllNum[0], 1u);

    // An NG of the last detection alarms and keeps the mould shut.
    openMould();
    edge(3);
    seeAll(blemishFor(2));
    edge(4);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(outputs(O1 | O3));
}

TEST_F(Cycle, TwoColorInput4SelectsTheSecondSide)
{
    wp.machine_mode = 1;
    wp.mold_side = 2;
    start();
    ASSERT_EQ(gDNum, 4);
    openMould();
    EXPECT_EQ(judgedCount(0), 1);
    EXPECT_EQ(judgedCount(1), 1);
    seeAll(blemishFor(3));
    edge(4);  // side 0: the mould detection of the second side is judged
    EXPECT_EQ(judgedCount(3), 1);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(outputs(O1 | O3));
}

TEST_F(Cycle, PreCutProhibitsClampingShortlyBeforeTheMouldDetection)
{
    wp.cavity_detect = 5;
    wp.pre_cut_time = 3;
    start();
    for (int cycleNo = 0; cycleNo < 2; ++cycleNo) {
        openMould();
        // Pre-cut or not, an opening ends the last cycle's permission: the mould
        // may hold a part until it is judged.
        EXPECT_TRUE(outputs(O1));
        cycle->TimerUp(1);
        cycle->TimerUp(1);
        EXPECT_TRUE(outputs(O1));
        cycle->TimerUp(1);  // 0.3 s left
        EXPECT_TRUE(outputs(O1));
        cycle->TimerUp(1);
        cycle->TimerUp(1);
        tick();
        EXPECT_EQ(judgedCount(1), cycleNo + 1);
        EXPECT_TRUE(outputs(0));
    }
}

TEST_F(Cycle, ALostCameraInTheMiddleOfACycleKeepsTheMouldShut)
{
    wp.cavity_detect = 3;
    start();
    openMould();
    ASSERT_TRUE(cycle->delayTimer(1).isActive());
    gisLost = 1;
    tick();
    EXPECT_TRUE(outputs(O1));
    EXPECT_EQ(cycle->runTimer().interval(), 3000);
    // The countdown that was running ends: the old picture is not a verdict.
    for (int i = 0; i < 3; ++i)
        cycle->TimerUp(1);
    ASSERT_EQ(judgedCount(1), 1);
    EXPECT_FALSE(std::get<2>(verdicts.last()));
    EXPECT_TRUE(recordRemarks().contains(LanStr(1707).arg(1)));
    EXPECT_EQ(logicalOutputs() & O1, O1);
    // Even a clean verdict is refused the permission while the camera is away.
    input(1, false);
    cycle->StartDetect();
    EXPECT_TRUE(outputs(O1));
}

TEST_F(Cycle, ALostIoLinkInTheMiddleOfACycleKeepsTheMouldShut)
{
    wp.cavity_detect = 150;  // still counting when the link is declared lost
    wp.enable_io_lost_tip = 1;
    start();
    QSignalSpy lost(cycle.get(), &DetectionCycle::ioLinkLost);
    openMould();
    board->send("silent 7000");
    QElapsedTimer t;
    t.start();
    while (!gisLostCom && t.elapsed() < 10000)
        QTest::qWait(20);
    ASSERT_TRUE(gisLostCom);
    tick();
    ASSERT_EQ(lost.count(), 1);
    EXPECT_TRUE(lost.first().first().toBool());
    EXPECT_TRUE(recordRemarks().contains(LanStr(1010)));
    ASSERT_EQ(judgedCount(1), 0);
    for (int i = 0; i < 200 && cycle->delayTimer(1).isActive(); ++i)
        cycle->TimerUp(1);
    tick();
    ASSERT_EQ(judgedCount(1), 1);
    EXPECT_TRUE(std::get<2>(verdicts.last()));  // the mould is clean...
    EXPECT_EQ(logicalOutputs() & O1, O1);        // ...but the board cannot be told otherwise
    // When the board answers again it holds clamping prohibited.
    t.restart();
    while (gisLostCom && t.elapsed() < 10000) {
        QTest::qWait(20);
        tick();
    }
    ASSERT_FALSE(gisLostCom);
    tick();
    EXPECT_FALSE(lost.last().first().toBool());
    // What the machine did meanwhile is unknown: the mould standing open is judged again,
    // and only that verdict lets it close.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        tick();
        return judgedCount(1) >= 2;
    }, 10000));
    ASSERT_EQ(judgedCount(1), 2);
    EXPECT_TRUE(outputs(0));
}

TEST_F(Cycle, StoppedWithStopMoldNoTimerOrVerdictAllowsClamping)
{
    wp.enable_stop_mold = 1;
    wp.enable_ok_ng_pulse = 1;
    wp.mold_pulse = 5;
    start();
    openMould();
    EXPECT_TRUE(outputs(O2));  // pulse mode: the OK pulse
    cycle->StopDetect();
    EXPECT_TRUE(outputs(O1));
    cycle->OutTimerNotAllowClose();  // the pulse ends while stopped
    EXPECT_TRUE(outputs(O1));
    cycle->CheckNG();  // a verdict arriving late
    EXPECT_TRUE(outputs(O1 | O2));
}

TEST_F(Cycle, TheSafetyDoorJudgesTheMouldAtOnceAndIsNotCounted)
{
    wp.enable_trigger_safety = 1;
    start();
    edge(2);
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_TRUE(cycle->safeDoorTimer().isActive());
    EXPECT_EQ(cycle->safeDoorTimer().interval(), 2000);
    edge(2);  // within the hold-off
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_EQ(gAllNum[0], 0u);
    // An alarm from the door prohibits clamping.
    cycle->SlotTImerSafeDoor();
    seeAll(blemishFor(1));
    edge(2);
    EXPECT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(outputs(O1 | O3));
    EXPECT_EQ(gAllNum[0], 0u);
}

TEST_F(Cycle, SkipDetectSkipsExactlyTheConfiguredTriggers)
{
    wp.skip_detect_times = 2;
    start();
    QSignalSpy skip(cycle.get(), &DetectionCycle::skipChanged);
    cycle->setSkip(true);
    openMould();
    openMould();
    EXPECT_TRUE(verdicts.isEmpty());
    EXPECT_FALSE(cycle->skipActive());
    EXPECT_FALSE(skip.last().first().toBool());
    const QStringList r = recordRemarks();
    EXPECT_TRUE(r.contains("skip 1 Detect"));
    EXPECT_TRUE(r.contains("skip 2 Detect"));
    openMould();
    EXPECT_EQ(judgedCount(0), 1);
}

TEST_F(Cycle, ManualSnapshotsJudgeAtOnceAndAreNotCounted)
{
    wp.enable_prod_detect = 0;
    start();
    cycle->requestManualTrig(0);  // product detection is off: consumed without effect
    tick();
    EXPECT_TRUE(verdicts.isEmpty());
    cycle->requestManualTrig(1);
    tick();
    EXPECT_EQ(judgedCount(1), 1);
    EXPECT_EQ(gAllNum[0], 0u);
    cycle->StopDetect();
    cycle->requestManualTrig(1);  // ignored while stopped
    tick();
    EXPECT_EQ(judgedCount(1), 1);
}

TEST_F(Cycle, WithTheExternalTriggerEveryCameraMustDeliverFirst)
{
    wp.use_external_trigger = 1;
    wp.enable_prod_detect = 0;
    start(2);
    // Triggered cameras deliver one frame per machine trigger, no stream.
    silence(0);
    silence(1);
    tick();
    EXPECT_TRUE(verdicts.isEmpty() || judgedCount(1) == 2);
    const int before = judgedCount(1);
    see(0, scene);
    silence(0);
    tick();
    tick();
    EXPECT_EQ(judgedCount(1), before);  // one camera is not enough
    see(1, scene);
    silence(1);
    tick();
    // The frames that made the trigger are the trigger's own pictures.
    EXPECT_EQ(judgedCount(1), before + 2);
}

TEST_F(Cycle, NoCycleForTheInputTimeoutProhibitsClampingAndWarns)
{
    wp.input_timeout_len = 4;
    start();
    QSignalSpy warn(cycle.get(), &DetectionCycle::noInputSignal);
    openMould();
    EXPECT_TRUE(cycle->inputTimeoutTimer().isActive());
    EXPECT_EQ(cycle->inputTimeoutTimer().interval(), 4000);
    cycle->InCheck();
    EXPECT_TRUE(outputs(O1));
    EXPECT_TRUE(recordRemarks().contains("Warnning: No Input Signal"));
    ASSERT_EQ(warn.count(), 1);
    openMould();
    ASSERT_EQ(warn.count(), 2);
    EXPECT_FALSE(warn.last().first().toBool());
}

TEST_F(Cycle, InsertWearPausesTheCycleUntilTheBoxIsClosed)
{
    wp.roi_ng_warn_count = 2;
    start();
    QSignalSpy warm(cycle.get(), &DetectionCycle::sigROINGWarm);
    for (int i = 0; i < 2; ++i) {
        seeAll(blemishFor(1));
        openMould();
        ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
        seeAll(scene);
        edge(2);
    }
    ASSERT_EQ(warm.count(), 1);
    EXPECT_TRUE(outputs(O1 | O3));
    const QStringList lines = cycle->GetROINGInfo();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.first(), LanStr(1326));
    const int judged = int(verdicts.size());
    openMould();
    EXPECT_EQ(verdicts.size(), judged);  // paused
    cycle->ClearWarnNGINfo();
    EXPECT_FALSE(cycle->CheckROING());
    EXPECT_TRUE(outputs(O1));  // the lamp goes out, the mould stays shut
    openMould();
    EXPECT_GT(verdicts.size(), judged);
    EXPECT_TRUE(outputs(0));
}

TEST_F(Cycle, TheViewsLearnEverythingFromSignals)
{
    wp.cavity_detect = 2;
    start();
    QSignalSpy frames(cycle.get(), &DetectionCycle::frameTaken);
    QSignalSpy countdown(cycle.get(), &DetectionCycle::countdown);
    QSignalSpy alarm(cycle.get(), &DetectionCycle::alarmEntered);
    QSignalSpy counters(cycle.get(), &DetectionCycle::countersChanged);
    QSignalSpy result(cycle.get(), &DetectionCycle::resultStateChanged);
    seeAll(blemishFor(1));
    tick();
    ASSERT_EQ(frames.count(), 1);
    EXPECT_EQ(frames.first().first().toInt(), 0);
    openMould();
    ASSERT_GE(countdown.count(), 1);
    EXPECT_EQ(countdown.last().at(0).toInt(), 1);
    EXPECT_DOUBLE_EQ(countdown.last().at(1).toDouble(), 0.2);
    cycle->TimerUp(1);
    cycle->TimerUp(1);
    tick();
    ASSERT_EQ(alarm.count(), 1);
    EXPECT_EQ(alarm.first().at(0).value<QList<int>>(), QList<int>{0});
    EXPECT_EQ(alarm.first().at(1).toInt(), 1);
    EXPECT_EQ(result.last().first().toInt(), int(DetectionCycle::Alarm));
    EXPECT_EQ(cycle->alarmCameras(), QList<int>{0});
    EXPECT_EQ(counters.count(), 0);
    seeAll(scene);
    edge(2);
    EXPECT_EQ(counters.count(), 1);
    EXPECT_TRUE(cycle->alarmCameras().isEmpty());
}

TEST_F(Cycle, UnreportedCallsAreStillCounted)
{
    wp.enable_cnt_net = 1;
    wp.enable_detect_cycle = 1;
    start();
    QList<int> cycleTimes;
    cycle->reports().cycleTime = [&](int tenths) { cycleTimes << tenths; };
    openMould();
    seeAll(blemishFor(1));
    openMould();
    seeAll(scene);
    edge(2);
    const CycleReports& reports = cycle->reports();
    EXPECT_EQ(cycleTimes.size(), 2);
    EXPECT_EQ(reports.count(&CycleReports::cycleTime), 2);
    EXPECT_EQ(reports.count(&CycleReports::sendStatisticsOnce), 2);
    EXPECT_EQ(reports.count(&CycleReports::addStatisticsItem), 1);  // one NG region
    EXPECT_EQ(reports.count(&CycleReports::addNgTimes), 1);
    EXPECT_EQ(reports.count(&CycleReports::sendCancel), 1);
    EXPECT_GE(reports.count(&CycleReports::sendStatistics), 3);
}
