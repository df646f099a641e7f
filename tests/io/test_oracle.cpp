// A safety monitor that knows nothing of the cycle's code watches the word the
// station publishes while random machines, switches, pictures and operators
// drive the real cycle. It knows only the world: when the mould opened, what
// each camera showed since, which camera or link is away, what the operator
// chose. Clamping allowed while detecting is a violation when
// - since the mould last opened (or detection was last started) some camera
//   has delivered no clean picture of the mould;
// - the alarm output is on;
// - a camera is lost or the IO link is silent.
//
// Allowed exceptions, each the operator's explicit choice:
// - detection stopped with "Stop clamping when stopping detection" off;
// - "Don't Detect" on the alarm page, until the mould opens again;
// - "mould NG: clamp pulse, no alarm", where output 1 is a stop pulse that
//   idles clear (only the alarm, lost camera and silent link rules are
//   checked with it);
// - OK/NG pulse mode, where output 1 is a verdict pulse (not drawn here);
// - skipping a number of cycles (not drawn here);
// - resampling, where the operator takes the mould's pictures as its
//   templates (not drawn here; leaving the region editor after it judges the
//   open mould again).
//
// The board is the IO words themselves (no serial round trip), so a run is
// fast enough for long sequences: STATION_ORACLE_CYCLES sets the cycles per
// seed (default 400), STATION_ORACLE_SEED replays one seed. A million cycles:
//   STATION_ORACLE_CYCLES=125000 ./build/tests/test_cycle --gtest_filter='Oracle/*'
// Each cycle draws from its own seed, so cycles can be left out: a failing run
// is shortened in fresh processes to a sequence none of whose cycles can go,
// printed with its STATION_ORACLE_REPLAY line.
#include "CycleRig.h"
#include "Shrink.h"

#include "Detection.h"
#include "Globals.h"
#include "IOThread.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <random>
#include <sstream>

namespace {

// A run: the seed of the set-up, then one seed per cycle.
struct Plan {
    unsigned setup = 0;
    std::vector<unsigned> cycles;

    static Plan fromSeed(unsigned seed, int count)
    {
        Plan p{seed, {}};
        std::mt19937 master(seed);
        for (int i = 0; i < count; ++i)
            p.cycles.push_back(unsigned(master()));
        return p;
    }
    // "setup:cycle,cycle,..."
    QString text() const
    {
        QStringList c;
        for (unsigned s : cycles)
            c << QString::number(s);
        return QString::number(setup) + ':' + c.join(',');
    }
    static bool parse(const QString& t, Plan& p)
    {
        bool ok = false;
        p.setup = t.section(':', 0, 0).toUInt(&ok);
        p.cycles.clear();
        for (const QString& c : t.section(':', 1).split(',', Qt::SkipEmptyParts)) {
            bool cycleOk = false;
            p.cycles.push_back(c.toUInt(&cycleOk));
            ok = ok && cycleOk;
        }
        return ok;
    }
};

constexpr char kFreshSeedTest[] = "Oracle.NoClampingWithoutAVerdictOnAFreshSeed";

struct Oracle : CycleRig {
    std::mt19937 rng;
    std::ostringstream log;  // the sequence, for a replay
    bool relaxed = false;    // output 1 is a stop pulse
    bool stoppedFree = false, waived = false;
    bool cleanSince[8] = {};
    bool streaming[8] = {};
    bool dead[8] = {};  // takes no picture at the next trigger
    cv::Mat showing[8];
    const unsigned char* mouldNgData = nullptr;
    int camsN = 1;
    int secondInput = 1;     // mode 4: the input of the second detection
    int violations = 0;
    int cycles = 0;

    int pick(int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); }
    bool chance(int percent) { return pick(100) < percent; }

    void drawSetUp()
    {
        wp.machine_mode = std::array{0, 0, 1, 2, 3, 4}[pick(6)];
        wp.enable_correct = -1;  // the cycle's decisions are under test, not the position search
        // Two-color and Turntable: one mould side or both.
        wp.mold_side = wp.machine_mode == 1 || wp.machine_mode == 2 ? pick(3) : 2;
        wp.enable_prod_detect = chance(80);
        wp.semi_auto = (wp.machine_mode == 0 || wp.machine_mode == 3) && chance(15);
        wp.front_auto_check_time = pick(3);
        wp.pre_cut_time = chance(15) ? 3 : 0;
        wp.cavity_detect = chance(30) ? 4 : 0;
        wp.finished_product_detect = chance(20) ? 2 : 0;
        wp.enable_cut_clamp_on_alarm = chance(15);
        wp.enable_cut_thimble_on_alarm = chance(15);
        wp.enable_cutoff_ontime = chance(20);
        wp.enable_stop_not_alarm = chance(15);
        wp.enable_prod_ok_ng_output = chance(10);
        wp.enable_mold_stop_not_alarm = chance(10);
        wp.separate_detect_signal = wp.machine_mode == 0 && chance(15);
        wp.enable_trigger_safety = chance(20);
        wp.enable_stop_mold = chance(50);
        wp.mold_cutoff = chance(20);
        wp.is_cut_ontime = chance(15);
        wp.mold_pulse = wp.is_cut_ontime || wp.enable_mold_stop_not_alarm ? 3 : 0;
        wp.thimble_pulse = chance(30) ? 2 : 0;
        // Cameras triggered by the machine, switched to continuous in the alarm or not.
        wp.use_external_trigger = chance(15);
        // Not in multi-detection: its later detections' moments are inputs the
        // monitor's one machine trigger per opening does not model.
        if (wp.machine_mode == 4)
            wp.use_external_trigger = 0;
        wp.ng_switch_continuous = wp.use_external_trigger && chance(50);
        // The wiring: inverted outputs and the copy of output 1 onto output 4.
        for (int k = 0; k < 4; ++k)
            wp.out_invert[k] = chance(15);
        wp.enable_mold_backup = chance(20);
        if (wp.machine_mode == 4) {
            // Two detections: the first on input 1, the second on input 1 or 3.
            secondInput = chance(50) ? 1 : 3;
            wp.multi_detect_num = 2;
            wp.multi_io_flag = chance(50);
            for (int j = 0; j < 8; ++j) {
                wp.multi_detect_row[j] = j < 2 ? j : -1;
                wp.multi_row_input[j] = j == 1 && secondInput == 3 ? 1 : 0;
                wp.multi_detect_row_b[j] = chance(50) ? -1 : 0;
                wp.reserved_sys11_a[j] = pick(6);
            }
        }
        relaxed = wp.enable_mold_stop_not_alarm;
        log << "mode " << wp.machine_mode << " prod " << wp.enable_prod_detect << " semi " << wp.semi_auto
            << " recheck " << wp.front_auto_check_time << " precut " << wp.pre_cut_time << " delays "
            << wp.finished_product_detect << "/" << wp.cavity_detect << " cutclamp " << wp.enable_cut_clamp_on_alarm
            << " cutoff " << wp.enable_cutoff_ontime << " stopnotalarm " << wp.enable_stop_not_alarm << " okng "
            << wp.enable_prod_ok_ng_output << " mouldnotalarm " << wp.enable_mold_stop_not_alarm << " separate "
            << wp.separate_detect_signal << " door " << wp.enable_trigger_safety << " stopmold "
            << wp.enable_stop_mold << " cutontime " << wp.is_cut_ontime << " inverted " << wp.out_invert[0]
            << wp.out_invert[1] << wp.out_invert[2] << wp.out_invert[3] << " backup " << wp.enable_mold_backup
            << " side " << wp.mold_side << " triggered " << wp.use_external_trigger << " continuous in the alarm "
            << wp.ng_switch_continuous;
        if (wp.machine_mode == 4)
            log << " second on input " << secondInput << " fixed order " << wp.multi_io_flag;
        log << "\n";
    }

    // The moment after which the mould must be shown clean again.
    void mouldMayHaveChanged()
    {
        waived = false;
        for (bool& c : cleanSince)
            c = false;
    }
    // The mould half of a picture: a blemished part leaves the mould clean.
    bool mouldClean(int c) const { return showing[c].data != mouldNgData; }
    // Triggered cameras take a picture only at the machine's trigger (the
    // station may switch them to continuous in the alarm).
    bool triggered() const { return wp.use_external_trigger != 0; }
    // The camera delivers img at once and keeps streaming it; a triggered one
    // shows it at the next trigger.
    void show(int c, const cv::Mat& img)
    {
        showing[c] = img;
        dead[c] = false;
        if (triggered())
            return;
        streaming[c] = true;
        see(c, img);
        if (mouldClean(c))
            cleanSince[c] = true;
    }
    // The machine's trigger: every triggered camera that works takes one picture.
    void trigger()
    {
        for (int k = 0; k < camsN; ++k)
            if (!dead[k] && !showing[k].empty()) {
                see(k, showing[k]);
                silence(k);
                if (mouldClean(k))
                    cleanSince[k] = true;
            }
    }
    void check(const char* after)
    {
        int word;
        {
            QMutexLocker lock(pMutexIO);
            word = gDataOut;
        }
        const auto on = [&](int k) { return ((word >> k) & 1) ^ (wp.out_invert[k] ? 1 : 0); };
        if (on(0) || stoppedFree)
            return;
        std::string why;
        if (on(2))
            why = "the alarm is on";
        else if (gisLost)
            why = "a camera is lost";
        else if (gisLostCom)
            why = "the IO link is silent";
        else if (gisOutputFault)
            why = "the board holds another word than the one sent";
        else if (gSilentPolls > IOThread::kDoubtPolls)
            why = "the board has been silent for a moment";
        else if (!relaxed && !waived)
            for (int c = 0; c < camsN; ++c)
                if (!cleanSince[c])
                    why = "camera " + std::to_string(c + 1) + " showed no clean mould since it opened";
        if (!why.empty()) {
            ++violations;
            ADD_FAILURE() << "clamping allowed after " << after << " in cycle " << cycles << ": " << why
                          << "\nsequence:\n"
                          << log.str();
        }
    }
    void step(const char* what)
    {
        if (triggered())
            for (int k = 0; k < camsN; ++k)
                if (streaming[k]) {
                    silence(k);
                    streaming[k] = false;
                }
        // Each streaming camera delivers a new frame at the start of the tick.
        for (int k = 0; k < camsN; ++k)
            if (streaming[k] && mouldClean(k))
                cleanSince[k] = true;
        // A second without the pictures a judgement waits for.
        if (cycle->awaitingFrames() > 0 && chance(10)) {
            CameraDevice::moveClockOn(DetectionCycle::kFreshFrameMs);
            log << "a second passes\n";
        }
        tick();
        for (int d = 0; d < 8; ++d)
            if (cycle->delayTimer(d).isActive() && chance(60))
                cycle->TimerUp(d);
        // The pulse timers end at random moments too.
        if (cycle->pulseTimer(DetectionCycle::Pulse::Clamp).isActive() && chance(20))
            cycle->OutTimerNotAllowClose();
        if (cycle->pulseTimer(DetectionCycle::Pulse::Thimble).isActive() && chance(20))
            cycle->OutTimerNotAllowThimble();
        if (cycle->pulseTimer(DetectionCycle::Pulse::Ng).isActive() && chance(20))
            cycle->OutTimerOutNG();
        if (cycle->showTimer().isActive() && chance(20))
            cycle->TimerShow();
        check(what);
    }
    // An input edge seen by the cycle, checked after each tick.
    void pulse(int k, const char* what)
    {
        log << what << "\n";
        input(k, false);
        step(what);
        input(k, true);
        // In multi-detection without the product detection, the second
        // detection's input is the only trigger the station has: its opening.
        if (k == 3 && wp.machine_mode == 4 && !wp.enable_prod_detect && secondInput == 3)
            mouldMayHaveChanged();
        step(what);
    }
    // The process dies and starts again as the station does.
    void restart()
    {
        cycle.reset();
        cycle = std::make_unique<DetectionCycle>(io.get(), in.get(), cams.get(), &wp);
        followVerdicts();
        io->IOResetAllOut();
        io->IOSetOut(0, 1);
        io->IOFlashOut();
        mouldMayHaveChanged();
        cycle->StartDetect();
        cycle->begin();
        cycle->runTimer().stop();
        check("a restart");
    }

    void run(const Plan& plan)
    {
        rng.seed(plan.setup);
        log << "seed " << plan.setup << "\n";
        drawSetUp();
        camsN = 1 + pick(2);
        directBoard = true;
        start(camsN);
        const cv::Mat mouldNg = blemishFor(1), productNg = blemishFor(0);
        mouldNgData = mouldNg.data;
        for (int c = 0; c < camsN; ++c)
            show(c, scene);
        mouldMayHaveChanged();
        // The rig's own start delivered a picture of every camera: for triggered
        // cameras, a machine trigger the station may judge.
        if (triggered())
            trigger();
        check("start");
        for (cycles = 0; cycles < int(plan.cycles.size()) && violations == 0; ++cycles) {
            rng.seed(plan.cycles[cycles]);
            log << "cycle " << cycles << "\n";
            // What the mould holds this time.
            const int r = pick(100);
            const int c = pick(camsN);
            for (int k = 0; k < camsN; ++k)
                if (streaming[k] || chance(40)) {
                    if (!streaming[k])
                        log << "camera " << k + 1 << " streams again\n";
                    show(k, scene);
                }
            if (r < 12) {
                show(c, mouldNg);
                log << "camera " << c + 1 << " shows a blemished mould\n";
            } else if (r < 22) {
                show(c, productNg);
                log << "camera " << c + 1 << " shows a blemished part\n";
            } else if (r < 26) {
                silence(c);
                streaming[c] = false;
                dead[c] = true;
                log << "camera " << c + 1 << " stops streaming\n";
            }
            const bool lostCamera = chance(2), silentLink = chance(2), faultyBoard = chance(2), doubt = chance(2);
            // Turntable: the first side opens on input 1, the second on input 4.
            const int opening = wp.machine_mode == 2 && (wp.mold_side == 1 || (wp.mold_side == 2 && chance(50))) ? 4 : 1;
            // Triggered cameras' pictures reach the station a tick before the
            // opening's edge, with it, or a tick or three after it (drawn apart,
            // so that the other draws, and the kept replays, stay as they were).
            const int picturesAt = triggered() ? int(std::mt19937(plan.cycles[cycles] ^ 0x9e3779b9u)() % 4) - 1 : 0;
            const int picturesAfter = picturesAt == 2 ? 3 : picturesAt;
            input(opening, false);
            step("the mould closed");
            // A moulding cycle takes seconds: the next opening is no echo of the last pictures.
            if (triggered())
                CameraDevice::moveClockOn(DetectionCycle::kSameOpeningMs + 1);
            // The mould opens at the machine's trigger; the station learns it from
            // the first picture, or else from the edge.
            bool opened = false;
            if (triggered() && picturesAfter < 0) {
                log << "the cameras are triggered a tick before the edge\n";
                for (int k = 0; k < camsN && !opened; ++k)
                    opened = !dead[k] && !showing[k].empty();
                if (opened)
                    mouldMayHaveChanged();
                trigger();
                step("the pictures before the edge");
            }
            input(opening, true);
            if (!opened)
                mouldMayHaveChanged();
            log << "mould opens (input " << opening << ")\n";
            if (triggered() && picturesAfter == 0)
                trigger();
            if (triggered() && picturesAfter > 0) {
                for (int t = 0; t < picturesAfter; ++t)
                    step("the edge before the pictures");
                log << "the cameras are triggered " << picturesAfter << " ticks after the edge\n";
                trigger();
            }
            if (lostCamera) {
                gisLost = 1;
                log << "a camera is lost\n";
            }
            if (silentLink) {
                gisLostCom = 1;
                log << "the IO link goes silent\n";
            }
            if (faultyBoard) {
                gisOutputFault = 1;
                log << "the board holds another word\n";
            }
            if (doubt) {
                gSilentPolls = IOThread::kDoubtPolls + 1;
                log << "the board is silent for a moment\n";
            }
            const int ticks = 2 + pick(8);
            for (int t = 0; t < ticks; ++t) {
                step("a tick of the open mould");
                if (t == 1 && (wp.semi_auto || (wp.machine_mode == 4 && secondInput == 3)))
                    pulse(3, "input 3");
                // The separate signal: the ejector comes back and input 3 starts the clamp's cycle.
                else if (t == 1 && wp.separate_detect_signal && chance(70))
                    pulse(3, "the ejector back (input 3)");
                // Two-color with one side: that side's mould detection has an input of its own.
                if (t == 1 && wp.machine_mode == 1 && wp.mold_side < 2)
                    pulse(wp.mold_side == 0 ? 3 : 4, "the side's mould input");
            }
            // Mostly the mould stays open until the countdowns have run; sometimes it
            // closes and opens again before (the trigger is dropped).
            auto counting = [&] {
                for (int d = 0; d < 8; ++d)
                    if (cycle->delayTimer(d).isActive())
                        return true;
                return false;
            };
            for (int extra = 0; extra < 30 && counting() && chance(90); ++extra)
                step("the countdown");
            if (lostCamera || silentLink || faultyBoard || doubt) {
                log << "camera, link and board are back\n";
                gisLost = 0;
                gisLostCom = 0;
                gisOutputFault = 0;
                gSilentPolls = 0;
                step("the return");
                step("the tick after the return");
                if (chance(70)) {
                    log << "two seconds pass\n";
                    CameraDevice::moveClockOn(DetectionCycle::kFaultFollowMs);
                    step("two seconds after the return");
                }
            }
            if (wp.enable_trigger_safety && chance(5)) {
                pulse(2, "the door opens");
            }
            // The operator, or the process.
            const int op = pick(100);
            if (chance(1)) {
                log << "the station process restarts\n";
                restart();
            } else if (cycle->ioFaultHeld()) {
                log << "the operator sees the IO fault held and starts detection anew\n";
                mouldMayHaveChanged();
                cycle->StartDetect();
                step("a start after the IO fault");
            } else if (cycle->resultState() == DetectionCycle::Alarm) {
                if (op < 50) {
                    for (int k = 0; k < camsN; ++k)
                        show(k, scene);
                    pulse(2, "cleaned; the door presses re-detect");
                    for (int t = 0; t < 4; ++t)
                        step("the re-detection");
                } else if (op < 80) {
                    log << "Don't Detect\n";
                    waived = true;
                    cycle->AlarmDontDetect();
                    step("Don't Detect");
                } else {
                    log << "the operator starts detection anew\n";
                    for (int k = 0; k < camsN; ++k)
                        show(k, scene);
                    mouldMayHaveChanged();
                    cycle->StartDetect();
                    step("a start");
                }
            } else if (op >= 3 && op < 6 && !triggered()) {
                // (Not with triggered cameras: this camera-less station's snapshot
                // delivers a stored test picture, which no machine trigger took.)
                const int d = pick(2);
                log << "the operator takes a snapshot of detection " << d << "\n";
                cycle->SlotManualTrig(d);
                step("a snapshot");
                step("the snapshot's picture");
            } else if (op >= 6 && op < 8) {
                log << "no cycle for the input timeout\n";
                cycle->InCheck();
                step("the input timeout");
            } else if (op < 3) {
                log << "the operator stops detection\n";
                cycle->StopDetect();
                stoppedFree = !wp.enable_stop_mold;
                step("a stop");
                log << "and starts it again\n";
                stoppedFree = false;
                mouldMayHaveChanged();
                cycle->StartDetect();
                step("a start");
            }
        }
        EXPECT_EQ(violations, 0);
        // What the run exercised: a monitor that never saw a judgement proves nothing.
        int allowed = 0;
        for (const auto& v : verdicts)
            allowed += std::get<2>(v) ? 1 : 0;
        const std::string setUp = log.str().substr(0, log.str().find("\ncycle 0"));
        std::printf("%s\n  %d cycles, %d judgements (%d OK)\n", setUp.c_str(), cycles, int(verdicts.size()), allowed);
    }

    // Runs the plan, or the one STATION_ORACLE_REPLAY names; a failure of a
    // plan of its own is shortened and printed for the replay.
    void runOrReplay(const Plan& plan)
    {
        Plan replay;
        if (qEnvironmentVariableIsSet("STATION_ORACLE_REPLAY")) {
            ASSERT_TRUE(Plan::parse(qEnvironmentVariable("STATION_ORACLE_REPLAY"), replay));
            run(replay);
            return;
        }
        run(plan);
        if (violations == 0)
            return;
        Plan failing = plan;
        failing.cycles.resize(std::min(plan.cycles.size(), std::size_t(cycles)));
        const std::function<bool(const std::vector<unsigned>&)> fails = [&](const std::vector<unsigned>& c) {
            return replayFails({plan.setup, c}, nullptr);
        };
        failing.cycles = shrinkFailing(failing.cycles, fails);
        QString output;
        replayFails(failing, &output);
        ADD_FAILURE() << "shortest failing sequence found: " << failing.cycles.size() << " of " << cycles
                      << " cycles; replay with\n  STATION_ORACLE_REPLAY='" << failing.text().toStdString()
                      << "' " << QCoreApplication::applicationFilePath().toStdString() << " --gtest_filter="
                      << kFreshSeedTest << "\n"
                      << output.toStdString();
    }

    // The plan in a fresh process: a station of its own, nothing carried over.
    static bool replayFails(const Plan& plan, QString* output)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("STATION_ORACLE_REPLAY", plan.text());
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QCoreApplication::applicationFilePath(), {QString("--gtest_filter=") + kFreshSeedTest});
        if (!p.waitForFinished(600000))
            p.kill();
        const QString out = QString::fromLocal8Bit(p.readAll());
        if (output)
            *output = out;
        return out.contains("clamping allowed after");
    }
};

int oracleCycles()
{
    const int n = qEnvironmentVariableIntValue("STATION_ORACLE_CYCLES");
    return n > 0 ? n : 400;
}

struct Seeded : Oracle, ::testing::WithParamInterface<unsigned> {};

} // namespace

// Fixed seeds: the same sequences on every run.
TEST_P(Seeded, NoClampingWithoutAVerdict)
{
    bool ok = false;
    const unsigned seed = unsigned(qEnvironmentVariableIntValue("STATION_ORACLE_SEED", &ok));
    runOrReplay(Plan::fromSeed(ok ? seed : GetParam(), oracleCycles()));
}

INSTANTIATE_TEST_SUITE_P(Oracle, Seeded, ::testing::Range(1u, 9u));

// A new seed each run, printed for the replay; also the replay of a shortened run.
TEST_F(Oracle, NoClampingWithoutAVerdictOnAFreshSeed)
{
    const unsigned seed = std::random_device{}();
    if (!qEnvironmentVariableIsSet("STATION_ORACLE_REPLAY"))
        std::printf("oracle seed %u (replay with STATION_ORACLE_SEED=%u)\n", seed, seed);
    runOrReplay(Plan::fromSeed(seed, oracleCycles()));
}

// Shortened sequences the oracle found, kept as they were printed; each
// allowed clamping once.
struct Found : Oracle, ::testing::WithParamInterface<const char*> {};

TEST_P(Found, StaysMended)
{
    Plan plan;
    ASSERT_TRUE(Plan::parse(GetParam(), plan));
    run(plan);
    EXPECT_EQ(cycles, int(plan.cycles.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Oracle, Found,
    ::testing::Values(
        // Triggered cameras: camera 1's leftover picture of an opening during
        // the alarm paired with camera 2's picture of the next opening.
        "36:318236827,326658254,700272509,2902872702",
        // Triggered, continuous in the alarm: a picture from before the alarm
        // paired with one after it.
        "3058:2416897580,2557026838,1104128692,3509607967,3193279939,1046693258",
        // Multi-detection without the fixed order: an opening while a re-detection
        // waited was no trigger, and the last permission stood.
        "8057:965546691,4036710264,2264423339",
        // ... and with the fixed order, input 1's opening.
        "8219:3013284840,37073005,266897727,104216864,3693545204,4127814059",
        // Triggered cameras free-running in the alarm: the operator's start left them so,
        // and the next opening was taken for the alarm's own.
        "100042:4251003742,2856392537,2875146304",
        // A re-detection in the alarm paired a camera's picture with another's of a later trigger.
        "200090:4155483501,3894548484,2284544115",
        // Two-color with one side: a start with the mould open judged the side not in use.
        "600137:3000340387,3728248842,4275329287,3818704134,2244266860,3021187594"));

TEST(OracleShrink, LeavesOnlyTheStepsTheFailureNeeds)
{
    std::vector<int> steps(300);
    for (int i = 0; i < 300; ++i)
        steps[i] = i;
    int runs = 0;
    const std::function<bool(const std::vector<int>&)> fails = [&](const std::vector<int>& s) {
        ++runs;
        // Fails when 17 comes before 211 and 250 is there too.
        const auto a = std::find(s.begin(), s.end(), 17), b = std::find(s.begin(), s.end(), 211);
        return a != s.end() && b != s.end() && a < b && std::find(s.begin(), s.end(), 250) != s.end();
    };
    EXPECT_EQ(shrinkFailing(steps, fails), (std::vector<int>{17, 211, 250}));
    EXPECT_LT(runs, 300);  // far fewer replays than one per step
    // Nothing to drop: the sequence stays.
    EXPECT_EQ(shrinkFailing(std::vector<int>{4, 5}, std::function<bool(const std::vector<int>&)>(
                                                         [](const std::vector<int>& s) { return s.size() == 2; })),
              (std::vector<int>{4, 5}));
}
