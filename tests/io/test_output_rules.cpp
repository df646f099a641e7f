// The output rules over every combination of the switches they read: which
// rule may clear output 1 (clamp permission) at all, and that the alarm and
// the cycle start shut the mould where they must.
#include "OutputRules.h"
#include "WizardPara.h"

#include <gtest/gtest.h>
#include <string>

using namespace outputrules;

namespace {
// Every switch an output rule reads, one bit each.
constexpr int kSwitches = 14;
void setSwitches(WizardPara& p, int bits, int mode)
{
    auto b = [bits](int i) { return (bits >> i) & 1; };
    p.machine_mode = mode;
    p.enable_ok_ng_pulse = b(0);
    p.pre_cut_time = b(1) ? 3 : 0;
    p.enable_cut_clamp_on_alarm = b(2);
    p.enable_mold_stop_not_alarm = b(3);
    p.separate_detect_signal = b(4);
    p.enable_stop_not_alarm = b(5);
    p.enable_prod_ok_ng_output = b(6);
    p.enable_cutoff_ontime = b(7);
    p.enable_cut_thimble_on_alarm = b(8);
    p.mold_cutoff = b(9);
    p.is_cut_ontime = b(10);
    p.is_cut_ontime_thimble = b(11);
    p.enable_stop_mold = b(12);
    p.enable_prod_detect = b(13);
    p.mold_pulse = 3;
    p.thimble_pulse = 2;
}
std::string what(int bits, int mode) { return "mode " + std::to_string(mode) + " switches " + std::to_string(bits); }
} // namespace

TEST(OutputRules, OnlyAGoodMouldVerdictOrAnOperatorsChoiceClearsTheClampPermission)
{
    const bool cav[4] = {true, false, true, false};
    WizardPara p;
    for (int mode = 0; mode <= 4; ++mode)
        for (int bits = 0; bits < (1 << kSwitches); ++bits) {
            setSwitches(p, bits, mode);
            const bool pulse = p.enable_ok_ng_pulse != 0;
            const std::string w = what(bits, mode);
            auto clears1 = [](const Change& c) { return (c.clear & out(1)) != 0; };
            for (int role : {Product, Mould})
                for (bool budget : {false, true}) {
                    const Change ng = cameraNg(p, role, role, budget);
                    EXPECT_EQ(ng.clear, 0) << w;  // an NG only ever withdraws
                    EXPECT_FALSE(clears1(recheck(p, role == Mould, role == Product, budget))) << w;
                }
            for (int role : {Product, Mould})
                for (bool ng : {false, true}) {
                    for (bool vouches : {false, true}) {
                        const bool mayClear = role == Mould && !ng && vouches;
                        EXPECT_EQ(clears1(verdict(p, role, ng, vouches)), mayClear) << w;
                    }
                    EXPECT_FALSE(clears1(afterVerdict(p, role, ng, cav))) << w;
                    // Only the operator's "mould NG: clamp pulse, no alarm" sets it after an NG.
                    EXPECT_EQ((afterVerdict(p, role, ng, cav).set & out(1)) != 0,
                              role == Mould && ng && p.enable_mold_stop_not_alarm)
                        << w;
                }
            for (bool ng : {false, true})
                for (bool vouches : {false, true})
                    for (int kind = 0; kind < 6; ++kind)
                        EXPECT_EQ(clears1(multiVerdict(ng, 1, kind, vouches)), !ng && vouches) << w;
            EXPECT_FALSE(clears1(rearm(p))) << w;
            EXPECT_FALSE(clears1(redetect(p, true, true))) << w;
            for (int k = 0; k < 8; ++k)
                EXPECT_FALSE(clears1(cycleStart(p, k, true))) << w;
            EXPECT_FALSE(clears1(alarmCleared(mode, Product))) << w;
            EXPECT_FALSE(clears1(alarmCleared(mode, Mould))) << w;
            // The alarm's other ways in, the wear warning and a faulty board shut the mould.
            for (const Change& c : {restoredAlarm(p, Product), restoredAlarm(p, Mould), outputFault(true, false),
                                    outputFault(false, false), outputFault(false, true), wearWarning(true, false),
                                    wearWarning(false, false), wearWarning(false, true)})
                EXPECT_EQ(c.set & out(1), out(1)) << w;
            EXPECT_NE(restoredAlarm(p, Mould).set & out(3), 0) << w;
            EXPECT_EQ(outputFault(false, true).clear & out(3), 0) << "the alarm lamp stays while in the alarm, " << w;
            EXPECT_EQ(wearWarning(false, true).clear & out(3), 0) << "the alarm lamp stays while in the alarm, " << w;
            EXPECT_EQ(manualAlarm(p, 1).set & out(1), mode == 4 || !pulse ? out(1) : 0) << w;
            EXPECT_FALSE(clears1(manualAlarm(p, 1))) << w;
            // A group's advance prohibitions and the ejector's pulse end never allow clamping.
            for (int target = 0; target < 3; ++target)
                EXPECT_EQ(multiPreset(p, target, 3).clear, 0) << w;
            EXPECT_FALSE(clears1(ngPulseEnd(p))) << w;
            EXPECT_EQ(clears1(thimblePulseEnd(p, false)), pulse) << w;
            // The clamp pulse ends in a prohibition, except where output 1 is itself the
            // pulse: the verdict pulse mode and "mould NG: clamp pulse, no alarm".
            const bool ownPulse = pulse || p.enable_mold_stop_not_alarm;
            EXPECT_EQ(clears1(clampPulseEnd(p, false)), ownPulse) << w;
            EXPECT_EQ((clampPulseEnd(p, false).set & out(1)) != 0, !ownPulse) << w;
            // Leaving the editor after resampling is no verdict: the open mould is judged again.
            EXPECT_FALSE(clears1(backFromEditor(p))) << w;
            // Every prohibition is one: in pulse mode the NG's lines, never the OK's.
            const Change no = prohibit(p);
            if (pulse) {
                EXPECT_EQ(no.set & (out(1) | out(2)), p.enable_ok_ng_pulse_mold ? out(2) : out(1)) << w;
                EXPECT_EQ((no.set | no.clear) & out(3), 0) << "the alarm is its cause's, " << w;
            } else {
                EXPECT_EQ(no.set, out(1)) << w;
                EXPECT_EQ(no.clear, 0) << w;
            }
            // A skipped cycle runs as the operator chose: the mould may close.
            EXPECT_EQ(clears1(skipped(p)), !pulse) << w;
            // A start is not a verdict; output 1 idles cleared only as the pulse mode's verdict output.
            EXPECT_EQ(clears1(start(p)), pulse) << w;
            // A stop allows clamping only when the operator's switch says so.
            EXPECT_EQ(clears1(stop(p)), !p.enable_stop_mold) << w;
        }
}

TEST(OutputRules, TheAlarmAndTheCycleStartShutTheMould)
{
    WizardPara p;
    for (int bits = 0; bits < (1 << kSwitches); ++bits) {
        setSwitches(p, bits, 0);
        EXPECT_EQ(alarmEntry().set & out(1), out(1));
        // An opening ends the last verdict's permission; only where output 1 is a
        // stop pulse ("mould NG: clamp pulse, no alarm") does it idle clear.
        const bool stopPulse = p.enable_mold_stop_not_alarm;
        EXPECT_EQ((cycleStart(p, 0, true).set & out(1)) != 0, !stopPulse) << bits;
        EXPECT_EQ((cycleStart(p, 2, true).set & out(1)) != 0, !stopPulse) << bits;
        EXPECT_EQ((rearm(p).set & out(1)) != 0, !stopPulse && !p.enable_ok_ng_pulse) << bits;
        // A mould NG without re-detections left withdraws the clamp unless it only pulses.
        EXPECT_EQ((cameraNg(p, 1, Mould, false).set & out(1)) != 0,
                  !p.enable_ok_ng_pulse && !p.enable_mold_stop_not_alarm)
            << bits;
    }
}

TEST(OutputRules, TheLastWordKeepsEveryProhibitionAndInPulseModeIsAnNg)
{
    WizardPara p;
    for (int bits = 0; bits < (1 << kSwitches); bits += 7) {
        setSwitches(p, bits, bits % 5);
        for (int held : {0, out(2), out(2) | out(5), out(1) | out(3)}) {
            const int w = lastWord(p, held);
            if (p.enable_ok_ng_pulse) {
                // The verdict lines as an NG sets them, never an OK's; the alarm on.
                const bool mp = p.enable_ok_ng_pulse_mold != 0;
                EXPECT_EQ((w & out(1)) != 0, !mp) << what(bits, p.machine_mode);
                EXPECT_EQ((w & out(2)) != 0, mp) << what(bits, p.machine_mode);
            } else {
                EXPECT_EQ(w & held, held) << "a prohibition held now was lifted, " << what(bits, p.machine_mode);
                EXPECT_NE(w & out(1), 0) << what(bits, p.machine_mode);
            }
            EXPECT_NE(w & out(3), 0) << what(bits, p.machine_mode);
        }
    }
}

TEST(OutputRules, TheOtherOutputsOfEachRule)
{
    WizardPara p;
    setSwitches(p, 0, 0);  // Standard mode, no switch on
    const int cavities = out(5) | out(6) | out(7) | out(8);
    EXPECT_EQ(rearm(p), Change().on(1));
    // The NG pulse's end: the ejector back unless it is cut on time, and the cavity lines off.
    EXPECT_EQ(ngPulseEnd(p).clear, out(2) | cavities);
    p.enable_cutoff_ontime = 1;
    EXPECT_EQ(ngPulseEnd(p).clear, cavities);
    p.enable_cutoff_ontime = 0;
    // The ejector pulse's end prohibits ejecting again while detecting, not when stopped.
    EXPECT_EQ(thimblePulseEnd(p, false), Change().on(2));
    EXPECT_EQ(thimblePulseEnd(p, true), Change());
    // A cleared product alarm gives the ejector back in modes 0 to 3; in mode 4 output 2
    // is detection 0's and stays.
    EXPECT_EQ(alarmCleared(0, Product), Change().off(3).off(2));
    EXPECT_EQ(alarmCleared(4, Product), Change().off(3));
    // Multi-detection presets by the group's kind: three detections, the first two in group 0.
    p.machine_mode = 4;
    p.enable_prod_detect = 1;
    for (int j = 0; j < 8; ++j)
        p.multi_detect_row_b[j] = j < 2 ? 0 : -1;
    for (int kind : {0, 1, 3, 4}) {
        p.reserved_sys11_a[0] = kind;
        EXPECT_EQ(multiPreset(p, 0, 3), Change().on(2).on(4)) << "kind " << kind;
        EXPECT_EQ(multiPreset(p, 1, 3), Change().on(4)) << "kind " << kind;
    }
    for (int kind : {2, 5}) {
        p.reserved_sys11_a[0] = kind;
        EXPECT_EQ(multiPreset(p, 0, 3), Change()) << "kind " << kind;
    }
    p.reserved_sys11_a[0] = 1;
    p.enable_prod_detect = 0;  // detection 0 is the product's: not in use
    EXPECT_EQ(multiPreset(p, 0, 3), Change().on(4));
    // A restored product alarm keeps the ejector prohibited and the lamp on.
    setSwitches(p, 0, 0);
    EXPECT_EQ(restoredAlarm(p, Product), Change().on(1).on(2).on(3));
    EXPECT_EQ(restoredAlarm(p, Mould), Change().on(1).on(3));
}
